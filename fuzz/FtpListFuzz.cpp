// Reads arbitrary bytes as an FTP directory listing, both as LIST output and
// as MLSD output, and matches every name against a pattern taken from the
// input. Every entry must keep its promises: a name that is neither empty,
// "." nor ".." and holds no "/" or NUL, no size for a folder. Anything else
// (a crash, a sanitizer report, a broken promise) is a finding.
//   cmake --preset fuzz && cmake --build --preset fuzz --target FtpListFuzz
//   build/fuzz/fuzz/FtpListFuzz -max_total_time=600 corpus-folder
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/FtpListing.h"

using namespace kivo;

namespace {

void Check(const TFtpListEntry& Entry) {
    const std::string& Name = Entry.Name;
    if (Name.empty() || Name == "." || Name == ".." ||
        Name.find_first_of(std::string_view("/\0", 2)) != std::string::npos ||
        (Entry.IsDirectory && Entry.Size != 0))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const std::string_view Text(reinterpret_cast<const char*>(Data), Size);
    // The first line doubles as the name pattern.
    const std::string_view Pattern = Text.substr(0, Text.find('\n'));
    const TFtpToday Today{2024, 2, 29};
    volatile size_t Matches = 0;
    for (bool Mlsd : {false, true}) {
        for (const TFtpListEntry& Entry : ParseFtpListing(Text, Mlsd, Today)) {
            Check(Entry);
            if (FtpNameMatches(Pattern, Entry.Name)) Matches = Matches + 1;
        }
    }
    return 0;
}
