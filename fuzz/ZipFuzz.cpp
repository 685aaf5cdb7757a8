// Opens arbitrary bytes as a ZIP archive from memory and does what a user does
// with one: lists every item, tests every item, and extracts everything into a
// throw-away folder with the options kivo-unzip uses (Unix modes, links,
// shifted offsets). The engine's own errors are expected outcomes; anything
// else (a crash, a sanitizer report, another exception, a file written beside
// the folder instead of in it, a link made that leads out of it) is a finding.
//   cmake --preset fuzz && cmake --build --preset fuzz --target ZipFuzz
//   build/fuzz/fuzz/ZipFuzz -max_total_time=900 ../shared/testdata
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "archive/AbUnzper.h"
#include "runtime/Classes.h"

using namespace kivo;

namespace {

const fuzz::TJail& Jail() {
    static const fuzz::TJail J("kivo-zipfuzz-");
    return J;
}

void ListItems(TAbUnZipper& Unzipper) {
    volatile int64_t Sink = 0;
    for (int32_t I = 0; I < Unzipper.Count(); ++I) {
        TAbZipItem* Item = Unzipper.Items(I);
        Sink = Sink + Item->UncompressedSize() + Item->CompressedSize() + Item->CRC32() +
               static_cast<int64_t>(Item->FileName().size()) + Item->IsDirectory() +
               Item->IsEncrypted() + static_cast<int64_t>(Item->LastModTimeAsDateTime());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TReadOnlyMemoryStream Stream(Data, static_cast<int64_t>(Size));
    TAbUnZipper Unzipper(nullptr);
    Unzipper.SetPassword("password"); // encrypted items are decoded too
    Unzipper.OnNeedPassword = [](TAbBaseBrowser*, std::string& NewPassword) {
        NewPassword.clear(); // no second try
    };
    Unzipper.SetBaseDirectory(Jail().Out().string());
    Unzipper.SetFindsShiftedOffsets(true);
    Unzipper.SetExtractOptions({eoCreateDirs, eoRestorePath, eoRestoreModes, eoMakeLinks});
    try {
        Unzipper.SetStream(&Stream);
        ListItems(Unzipper);
        Unzipper.TagItems("*");
        Unzipper.TestTaggedItems();
        Unzipper.ExtractFiles("*");
    } catch (const Exception&) {
        // The engine's own error: an expected outcome for most inputs.
    }
    try {
        Unzipper.SetStream(nullptr);
    } catch (const Exception&) {
    }
    Jail().CheckNothingOutside();
    Jail().CheckLinksInside();
    Jail().Clear();
    return 0;
}
