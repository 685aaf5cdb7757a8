// Listing lines of FTP servers as the listing parser reads them: one row per
// form a server writes, and lines that are no entry.
#include "platform/FtpListing.h"

#include <gtest/gtest.h>

using namespace kivo;

namespace {

const TFtpToday Today{2024, 3, 10};

struct TLineRow {
    const char* Name;
    bool Mlsd;
    const char* Line;
    bool IsEntry;
    const char* EntryName;
    bool IsDirectory;
    uint64_t Size;
    int Year, Month, Day, Hour, Minute, Second; // Year 0: no time
};

class ListingLine : public ::testing::TestWithParam<TLineRow> {};

TEST_P(ListingLine, IsReadAsTheServerMeantIt) {
    const TLineRow& R = GetParam();
    TFtpListEntry Entry;
    const bool Got = R.Mlsd ? ParseMlsdLine(R.Line, Entry) : ParseListLine(R.Line, Today, Entry);
    ASSERT_EQ(Got, R.IsEntry);
    if (!R.IsEntry) return;
    EXPECT_EQ(Entry.Name, R.EntryName);
    EXPECT_EQ(Entry.IsDirectory, R.IsDirectory);
    EXPECT_EQ(Entry.Size, R.Size);
    EXPECT_EQ(Entry.FileTime,
              R.Year == 0 ? 0 : FtpFileTime(R.Year, R.Month, R.Day, R.Hour, R.Minute, R.Second));
}

const TLineRow Lines[] = {
    // Unix "ls -l" lines.
    {"UnixFileWithYear", false, "-rw-r--r--    1 0        0            1234 Jan 02  2020 a.zip",
     true, "a.zip", false, 1234, 2020, 1, 2, 0, 0, 0},
    {"UnixRecentThisYear", false, "-rw-r--r--    1 ftp      ftp             5 Mar 05 12:30 b.txt",
     true, "b.txt", false, 5, 2024, 3, 5, 12, 30, 0},
    {"UnixRecentLastYear", false, "-rw-r--r--    1 ftp      ftp             5 Nov 20 08:15 c.txt",
     true, "c.txt", false, 5, 2023, 11, 20, 8, 15, 0},
    {"UnixDirectory", false, "drwxr-xr-x    2 1001     1001         4096 Dec 31  2019 sub", true,
     "sub", true, 0, 2019, 12, 31, 0, 0, 0},
    {"UnixNameWithSpaces", false, "-rw-r--r--    1 ftp ftp 7 Jan 02  2020 two  spaces .bin", true,
     "two  spaces .bin", false, 7, 2020, 1, 2, 0, 0, 0},
    {"UnixSymlink", false, "lrwxrwxrwx    1 0 0 7 Jan 02  2020 latest -> a.zip", true, "latest",
     false, 7, 2020, 1, 2, 0, 0, 0},
    {"UnixWithoutGroup", false, "-rw-r--r--   1 owner   99 Feb 29 23:59 leap", true, "leap", false,
     99, 2024, 2, 29, 23, 59, 0},
    {"UnixLargeFile", false, "-rw-r--r-- 1 a b 6442450944 Jan 02  2020 big.iso", true, "big.iso",
     false, 6442450944ull, 2020, 1, 2, 0, 0, 0},
    {"UnixTotal", false, "total 24", false, "", false, 0, 0, 0, 0, 0, 0, 0},
    {"UnixDot", false, "drwxr-xr-x 2 0 0 4096 Jan 02  2020 .", false, "", false, 0, 0, 0, 0, 0, 0,
     0},
    {"UnixDotDot", false, "drwxr-xr-x 2 0 0 4096 Jan 02  2020 ..", false, "", false, 0, 0, 0, 0, 0,
     0, 0},
    {"UnixNameWithSlash", false, "-rw-r--r-- 1 0 0 1 Jan 02  2020 ../../etc/passwd", false, "",
     false, 0, 0, 0, 0, 0, 0, 0},
    {"UnixBadMonth", false, "-rw-r--r-- 1 0 0 1 Foo 02  2020 x", false, "", false, 0, 0, 0, 0, 0, 0,
     0},
    {"UnixBadClock", false, "-rw-r--r-- 1 0 0 1 Jan 02 25:61 x", false, "", false, 0, 0, 0, 0, 0, 0,
     0},
    {"UnixNoName", false, "-rw-r--r-- 1 0 0 1 Jan 02  2020", false, "", false, 0, 0, 0, 0, 0, 0, 0},
    // DOS / IIS lines.
    {"DosDirectory", false, "03-05-24  12:30PM       <DIR>          My Folder", true, "My Folder",
     true, 0, 2024, 3, 5, 12, 30, 0},
    {"DosFile", false, "12-31-99  01:05AM                 1024 old.dat", true, "old.dat", false,
     1024, 1999, 12, 31, 1, 5, 0},
    {"DosFourDigitYear", false, "01-02-2020  11:59PM  77 new.dat", true, "new.dat", false, 77, 2020,
     1, 2, 23, 59, 0},
    {"DosMidnight", false, "01-02-20  12:00AM  1 midnight", true, "midnight", false, 1, 2020, 1, 2,
     0, 0, 0},
    {"DosBadHalf", false, "01-02-20  11:00XM  1 x", false, "", false, 0, 0, 0, 0, 0, 0, 0},
    // MLSD fact lines.
    {"MlsdFile", true, "type=file;size=42;modify=20200102030405; data file.bin", true,
     "data file.bin", false, 42, 2020, 1, 2, 3, 4, 5},
    {"MlsdDirectory", true, "Type=dir;Modify=20231231235959.123;perm=el; sub", true, "sub", true, 0,
     2023, 12, 31, 23, 59, 59},
    {"MlsdNoTime", true, "type=file;size=1; t", true, "t", false, 1, 0, 0, 0, 0, 0, 0},
    {"MlsdCurrentDir", true, "type=cdir;modify=20200102030405; .", false, "", false, 0, 0, 0, 0, 0,
     0, 0},
    {"MlsdParentDir", true, "type=pdir;modify=20200102030405; ..", false, "", false, 0, 0, 0, 0, 0,
     0, 0},
    {"MlsdNoType", true, "size=1;modify=20200102030405; t", false, "", false, 0, 0, 0, 0, 0, 0, 0},
    // Garbage.
    {"Empty", false, "", false, "", false, 0, 0, 0, 0, 0, 0, 0},
    {"Words", false, "Hello there, this is no listing", false, "", false, 0, 0, 0, 0, 0, 0, 0},
    {"MlsdWords", true, "nothing here", false, "", false, 0, 0, 0, 0, 0, 0, 0},
    {"ShortPerms", false, "-rw", false, "", false, 0, 0, 0, 0, 0, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Ftp, ListingLine, ::testing::ValuesIn(Lines),
                         [](const auto& I) { return std::string(I.param.Name); });

struct TPatternRow {
    const char* Pattern;
    const char* Name;
    bool Matches;
};

class NamePattern : public ::testing::TestWithParam<TPatternRow> {};

TEST_P(NamePattern, MatchesLikeTheServerListsIt) {
    EXPECT_EQ(FtpNameMatches(GetParam().Pattern, GetParam().Name), GetParam().Matches)
        << GetParam().Pattern << " / " << GetParam().Name;
}

INSTANTIATE_TEST_SUITE_P(
    Ftp, NamePattern,
    ::testing::Values(TPatternRow{"*.zip", "a.zip", true}, TPatternRow{"*.zip", "a.zip.txt", false},
                      TPatternRow{"*.zip", "A.ZIP", false}, TPatternRow{"a?c", "abc", true},
                      TPatternRow{"a?c", "ac", false}, TPatternRow{"*", "anything", true},
                      TPatternRow{"*.*", "noext", true}, TPatternRow{"", "x", true},
                      TPatternRow{"a*b*c", "aXbYbZc", true}, TPatternRow{"a*b*c", "aXbYbZ", false},
                      TPatternRow{"exact", "exact", true}, TPatternRow{"exact", "exactly", false}));

TEST(FtpListing, WholeListingKeepsEveryEntryAndSkipsTheRest) {
    const std::string Text = "total 8\r\n"
                             "drwxr-xr-x 2 0 0 4096 Jan 02  2020 .\r\n"
                             "-rw-r--r-- 1 0 0 3 Jan 02  2020 one\r\n"
                             "\x01\x02garbage\r\n"
                             "-rw-r--r-- 1 0 0 4 Jan 02  2020 two";
    const std::vector<TFtpListEntry> Entries = ParseFtpListing(Text, false, Today);
    ASSERT_EQ(Entries.size(), 2u);
    EXPECT_EQ(Entries[0].Name, "one");
    EXPECT_EQ(Entries[1].Name, "two");
    EXPECT_EQ(Entries[1].Size, 4u);
}

} // namespace
