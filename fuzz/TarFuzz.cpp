// Opens arbitrary bytes as a tar archive from memory and does what a user
// does with one: lists every item, tests every item, and extracts everything
// into a throw-away folder. The engine's own errors are expected outcomes;
// anything else (a crash, a sanitizer report, another exception, a link on
// disk, a file written beside the folder instead of in it) is a finding.
//   cmake --preset fuzz && cmake --build --preset fuzz --target TarFuzz
//   build/fuzz/fuzz/TarFuzz -max_total_time=600 corpus-folder
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "archive/AbTarTyp.h"
#include "runtime/Classes.h"

using namespace kivo;

namespace {

const fuzz::TJail& Jail() {
    static const fuzz::TJail J("kivo-tarfuzz-");
    return J;
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TReadOnlyMemoryStream Stream(Data, static_cast<int64_t>(Size));
    TAbTarArchive Archive(&Stream, "fuzz.tar");
    Archive.SetBaseDirectory(Jail().Out().string());
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
    Jail().CheckNothingOutside(true);
    Jail().Clear();
    return 0;
}
