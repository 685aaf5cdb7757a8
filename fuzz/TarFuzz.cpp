// Opens arbitrary bytes as a tar archive from memory and does what a user
// does with one: lists every item, tests every item, and extracts everything
// into a throw-away folder. The engine's own errors are expected outcomes;
// anything else (a crash, a sanitizer report, another exception, a link on
// disk, a file written beside the folder instead of in it) is a finding.
//   cmake --preset fuzz && cmake --build --preset fuzz --target TarFuzz
//   build/fuzz/fuzz/TarFuzz -max_total_time=600 corpus-folder
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "archive/AbTarTyp.h"
#include "runtime/Classes.h"

using namespace kivo;
namespace fs = std::filesystem;

namespace {

// A private folder per process; extraction goes to its "out" folder, so any
// other entry in it was written outside the folder the caller chose.
const fs::path& Jail() {
    static const fs::path Path = [] {
        const std::string Tag = std::to_string(std::random_device{}());
        fs::path P = fs::temp_directory_path() / ("kivo-tarfuzz-" + Tag);
        fs::create_directories(P / "out");
        return P;
    }();
    return Path;
}

void ListItems(TAbTarArchive& Archive) {
    volatile int64_t Sink = 0;
    for (int32_t I = 0; I < Archive.Count(); ++I) {
        TAbTarItem* Item = Archive.TarItems(I);
        Sink = Sink + Item->UncompressedSize() + static_cast<int64_t>(Item->FileName().size()) +
               static_cast<int64_t>(Item->LinkName().size()) + Item->IsDirectory() +
               Item->LastModFileDate() + Item->NativeFileAttributes();
    }
}

void CheckNothingOutside() {
    for (const fs::directory_entry& Entry : fs::directory_iterator(Jail())) {
        if (Entry.path().filename() != "out") std::abort();
    }
    for (const fs::directory_entry& Entry : fs::recursive_directory_iterator(Jail() / "out")) {
        if (Entry.is_symlink()) std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TReadOnlyMemoryStream Stream(Data, static_cast<int64_t>(Size));
    TAbTarArchive Archive(&Stream, "fuzz.tar");
    Archive.SetBaseDirectory((Jail() / "out").string());
    Archive.SetExtractOptions({eoCreateDirs, eoRestorePath});
    // Item failures are reported and the next item goes on.
    Archive.OnProcessItemFailure = [](TAbArchive*, TAbArchiveItem*, TAbProcessType, TAbErrorClass,
                                      int32_t) {};
    try {
        Archive.Load();
        ListItems(Archive);
        for (int32_t I = 0; I < Archive.Count(); ++I) {
            try {
                Archive.VerifyItem(I);
            } catch (const Exception&) {
            }
        }
        Archive.ExtractFiles("*");
    } catch (const Exception&) {
        // The engine's own error: an expected outcome for most inputs.
    }
    CheckNothingOutside();
    std::error_code Ignored;
    for (const fs::directory_entry& Entry : fs::directory_iterator(Jail() / "out"))
        fs::remove_all(Entry.path(), Ignored);
    return 0;
}
