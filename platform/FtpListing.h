// Directory listings of FTP servers read into one entry record: the fact
// lines of MLSD, and the LIST formats of Unix servers ("ls -l" lines) and of
// DOS-style servers ("MM-DD-YY  hh:mmAM  <DIR> name"). Lines that are no
// entry (totals, the folder itself and its parent, anything unreadable) are
// skipped; no input makes the parser fail.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kivo {

struct TFtpListEntry {
    std::string Name;
    bool IsDirectory = false;
    uint64_t Size = 0;
    // The last-write time as the server writes it (no time-zone change), in
    // 100-nanosecond steps since 1601-01-01; 0 when the line gives none.
    uint64_t FileTime = 0;
};

// The day a listing is read on: Unix lines give no year for dates of the
// last six months, and it is taken from here.
struct TFtpToday {
    int Year = 1970;
    int Month = 1;
    int Day = 1;
};

// 100-nanosecond steps since 1601-01-01 of a date and time; 0 when a field
// is out of range.
uint64_t FtpFileTime(int Year, int Month, int Day, int Hour, int Minute, int Second);

// One MLSD line: "fact=value;fact=value; name". False for the folder itself,
// its parent and lines that are no entry.
bool ParseMlsdLine(std::string_view Line, TFtpListEntry& Entry);
// One LIST line in the Unix or the DOS form. False for "total" lines, "."
// and "..", and lines in neither form.
bool ParseListLine(std::string_view Line, const TFtpToday& Today, TFtpListEntry& Entry);
// Every entry of a whole listing (lines end with LF or CR LF).
std::vector<TFtpListEntry> ParseFtpListing(std::string_view Text, bool Mlsd,
                                           const TFtpToday& Today);

// Whether Name matches Pattern: "*" any run of characters, "?" any one
// character, the rest as written. An empty pattern, "*" and "*.*" match
// every name.
bool FtpNameMatches(std::string_view Pattern, std::string_view Name);

} // namespace kivo
