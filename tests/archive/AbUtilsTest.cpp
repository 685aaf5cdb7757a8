#include "archive/AbUtils.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>
#include <zlib.h>

#include "archive/AbExcept.h"
#include "platform/FileSystem.h"
#include "runtime/Classes.h"
#include "runtime/SysUtils.h"
#include "tests/common/TestEnv.h"
#include "tests/common/TestFileStatus.h"
#include "tests/common/TestFiles.h"

namespace kivo {
namespace {

using TempDir = test::TTempDir;

void WriteFile(const std::string& Name, size_t Size) {
    std::ofstream Out(Name, std::ios::binary);
    Out << std::string(Size, 'x');
}

using test::TScopedTimeZone;
const char* const NoZoneChoice = "the local time zone is a system setting here";

// Central European time with its daylight saving rules, without tzdata.
constexpr const char* CentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

// ---------------------------------------------------------------------------
// Masks

TEST(WildcardMatch, StarAndQuestionMark) {
    EXPECT_TRUE(WildcardMatch("abc", "a*b*c"));
    EXPECT_TRUE(WildcardMatch("aXbYc", "a*b*c"));
    EXPECT_TRUE(WildcardMatch("abbbc", "a*b*c"));
    EXPECT_FALSE(WildcardMatch("acb", "a*b*c"));
    EXPECT_FALSE(WildcardMatch("abcd", "a*b*c"));
    EXPECT_TRUE(WildcardMatch("abc", "a?c"));
    EXPECT_FALSE(WildcardMatch("ac", "a?c"));
    EXPECT_TRUE(WildcardMatch("a", "?"));
    EXPECT_FALSE(WildcardMatch("ab", "?"));
    EXPECT_FALSE(WildcardMatch("", "?"));
    EXPECT_TRUE(WildcardMatch("a", "a**"));
    EXPECT_TRUE(WildcardMatch("report.txt", "*.txt"));
    EXPECT_FALSE(WildcardMatch("report.txt.bak", "*.txt"));
    EXPECT_TRUE(WildcardMatch("x.tar.gz", "*.*.gz"));
}

TEST(WildcardMatch, StarDotStarMatchesEveryNonEmptyName) {
    EXPECT_TRUE(WildcardMatch("README", "*.*"));
    EXPECT_TRUE(WildcardMatch("a.b", "*.*"));
    EXPECT_TRUE(WildcardMatch(".", "*.*"));
    EXPECT_TRUE(WildcardMatch("x", "*"));
    EXPECT_FALSE(WildcardMatch("", "*.*"));
    EXPECT_FALSE(WildcardMatch("", "*"));
    // The rule holds for the whole pattern only; inside a longer one a dot is needed.
    EXPECT_FALSE(WildcardMatch("README", "R*.*"));
}

TEST(WildcardMatch, EmptyTextsAndStartIndexes) {
    EXPECT_TRUE(WildcardMatch("", ""));
    EXPECT_FALSE(WildcardMatch("a", ""));
    EXPECT_TRUE(WildcardMatch(u"abc", 3, u"", 0));
    EXPECT_FALSE(WildcardMatch(u"abc", 1, u"", 0));
    EXPECT_TRUE(WildcardMatch(u"xxabc", 2, u"abc", 0));
    EXPECT_TRUE(WildcardMatch(u"abc", 0, u"zzab?", 2));
    EXPECT_FALSE(WildcardMatch(u"abc", 0, u"z*.*", 1))
        << "the *.* rule applies from the pattern's start only";
    // Indexes past the end act as exhausted texts.
    EXPECT_TRUE(WildcardMatch(u"abc", 99, u"x*", 1));
    EXPECT_FALSE(WildcardMatch(u"abc", 99, u"x?", 1));
}

TEST(WildcardMatch, QuestionMarkIsOneCharacterNotOneByte) {
    EXPECT_TRUE(WildcardMatch("\xC3\xA4.txt", "?.txt")); // "ä.txt"
    EXPECT_FALSE(WildcardMatch("\xC3\xA4.txt", "??.txt"));
}

TEST(WildcardMatch, ManyStarsAgainstALongNameFinish) {
    const std::string Name(20000, 'a');
    EXPECT_FALSE(WildcardMatch(Name, "*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(WildcardMatch(Name + "b", "*a*a*a*a*a*a*a*a*b"));
}

TEST(NameMatchesMask, CaseAndDirectories) {
    EXPECT_TRUE(NameMatchesMask("readme.TXT", "*.txt"));
    EXPECT_TRUE(NameMatchesMask("Zelbrix.exe", "ZELBRIX.EXE"));
    // Only ASCII letters fold.
    EXPECT_FALSE(NameMatchesMask("\xC3\xA4.txt", "\xC3\x84.txt"));
    // A mask without a directory part looks at the name part only.
    EXPECT_TRUE(NameMatchesMask("docs\\a.txt", "*.txt"));
    EXPECT_TRUE(NameMatchesMask("docs\\a.txt", "a.txt"));
    // A mask with one needs a matching directory part.
    EXPECT_TRUE(NameMatchesMask("DOCS\\a.txt", "docs\\*.txt"));
    EXPECT_FALSE(NameMatchesMask("src\\a.txt", "docs\\*.txt"));
    EXPECT_FALSE(NameMatchesMask("a.txt", "docs\\*.txt"));
    EXPECT_TRUE(NameMatchesMask("a\\b\\c.txt", "*\\*.txt"));
    EXPECT_TRUE(NameMatchesMask("a\\b\\c.txt", "a\\*\\c.*"));
    EXPECT_FALSE(NameMatchesMask("a\\b\\c.txt", "a\\?\\d.*"));
}

TEST(NameMatchesMask, StarDotStarMatchesEveryItem) {
    EXPECT_TRUE(NameMatchesMask("Zelbrix.exe", "*.*"));
    EXPECT_TRUE(NameMatchesMask("LICENSE", "*.*"));
    EXPECT_TRUE(NameMatchesMask("dir\\sub\\file", "*.*"));
    // A directory item whose name ends in '\' has an empty name part.
    EXPECT_FALSE(NameMatchesMask("dir\\", "*.*"));
}

// ---------------------------------------------------------------------------
// Stored paths

TEST(ClassifyPath, DrivesUncAndLocalPaths) {
    EXPECT_EQ(ClassifyPath("C:\\dir\\f.txt"), pkAbsolute);
    EXPECT_EQ(ClassifyPath("c:f.txt"), pkAbsolute);
    EXPECT_EQ(ClassifyPath("\\\\server\\share\\f"), pkAbsolute);
    EXPECT_EQ(ClassifyPath("/home/user/f"), pkAbsolute);
    EXPECT_EQ(ClassifyPath("/x"), pkAbsolute);
    EXPECT_EQ(ClassifyPath("dir\\f"), pkRelative);
    EXPECT_EQ(ClassifyPath("dir/f"), pkRelative);
    EXPECT_EQ(ClassifyPath("\\f"), pkRelative);
    EXPECT_EQ(ClassifyPath("f.txt"), pkNone);
    EXPECT_EQ(ClassifyPath(""), pkNone);
}

TEST(SplitFileSpec, DriveUncAndPlainForms) {
    struct Case {
        const char* Spec;
        const char* Drive;
        const char* Path;
        const char* Name;
    };
    const Case Cases[] = {
        {"C:\\dir\\file.txt", "C:", "dir\\", "file.txt"},
        {"C:/dir/file.txt", "C:", "dir\\", "file.txt"},
        {"\\\\server\\share\\dir\\f.txt", "\\\\server\\share", "dir\\", "f.txt"},
        {"//server/share/f.txt", "\\\\server\\share", "", "f.txt"},
        {"\\\\server\\f", "\\\\server\\", "", "f"},
        {"dir\\sub\\f", "", "dir\\sub\\", "f"},
        {"/home/u/f", "", "\\home\\u\\", "f"},
        {"f", "", "", "f"},
        {"dir\\", "", "dir\\", ""},
    };
    for (const Case& C : Cases) {
        std::string Drive = "?", Path = "?", Name = "?";
        SplitFileSpec(C.Spec, Drive, Path, Name);
        EXPECT_EQ(Drive, C.Drive) << C.Spec;
        EXPECT_EQ(Path, C.Path) << C.Spec;
        EXPECT_EQ(Name, C.Name) << C.Spec;
    }
}

TEST(StripDrive, KeepsPathAndName) {
    std::string Name = "C:\\dir\\f.txt";
    StripDrive(Name);
    EXPECT_EQ(Name, "dir\\f.txt");
    Name = "\\\\server\\share\\d\\f";
    StripDrive(Name);
    EXPECT_EQ(Name, "d\\f");
    Name = "dir/f";
    StripDrive(Name);
    EXPECT_EQ(Name, "dir\\f");
}

TEST(StripLeadingParentRefs, OnlyLeadingGroups) {
    std::string Name = "..\\..\\a\\..\\b";
    StripLeadingParentRefs(Name);
    EXPECT_EQ(Name, "a\\..\\b");
    Name = "..a\\b";
    StripLeadingParentRefs(Name);
    EXPECT_EQ(Name, "..a\\b");
    Name = "..\\";
    StripLeadingParentRefs(Name);
    EXPECT_EQ(Name, "");
}

TEST(NthBackslashEnd, CountsCharactersBeforeTheNthSeparator) {
    EXPECT_EQ(NthBackslashEnd("a\\bc\\d", 1), 1u);
    EXPECT_EQ(NthBackslashEnd("a\\bc\\d", 2), 4u);
    EXPECT_EQ(NthBackslashEnd("a\\bc\\d", 3), 6u);
    EXPECT_EQ(NthBackslashEnd("\\\\srv\\share\\x", 4), 11u);
    EXPECT_EQ(NthBackslashEnd("", 1), 0u);
}

// ---------------------------------------------------------------------------
// Directory chains

TEST(CreateDirectoryChain, CreatesEveryMissingLevel) {
    TempDir Dir;
    CreateDirectoryChain(Dir / "a/b/c");
    EXPECT_TRUE(DirectoryExists(Dir / "a/b/c"));
    CreateDirectoryChain(Dir / "a/b/c"); // already there: nothing happens
    CreateDirectoryChain(Dir / "t/u/");
    EXPECT_TRUE(DirectoryExists(Dir / "t/u"));
    CreateDirectoryChain(Dir / "d//e");
    EXPECT_TRUE(DirectoryExists(Dir / "d/e"));
}

TEST(CreateDirectoryChain, BackslashesSeparateToo) {
    TempDir Dir;
    CreateDirectoryChain(Dir.Path() + "\\x\\y");
    EXPECT_TRUE(DirectoryExists(Dir / "x/y"));
#ifndef _WIN32 // where the backslash is a separator of the system, the name is the folder
    EXPECT_FALSE(PathExists(Dir.Path() + "\\x"));
#endif
}

TEST(CreateDirectoryChain, FailureRaisesTheOperatingSystemCode) {
    TempDir Dir;
    WriteFile(Dir / "file", 1);
    try {
        CreateDirectoryChain(Dir / "file/sub");
        FAIL() << "no error for a file in the way";
    } catch (const EInOutError& E) {
        EXPECT_EQ(E.ErrorCode, EEXIST);
    }
    try {
        CreateDirectoryChain(Dir / "file");
        FAIL() << "no error for a file of the same name";
    } catch (const EInOutError& E) {
        EXPECT_EQ(E.ErrorCode, EEXIST);
    }
    EXPECT_THROW(CreateDirectoryChain(""), EInOutError);
}

TEST(CreateDirectoryChain, NeverCreatesServerAndShareOfAUncName) {
    const std::string Server = "/kivo-no-such-server-" + std::to_string(::getpid());
    try {
        CreateDirectoryChain("\\" + Server + "\\share\\dir");
        FAIL() << "a missing share was not reported";
    } catch (const EInOutError& E) {
        EXPECT_EQ(E.ErrorCode, ENOENT);
    }
    EXPECT_FALSE(PathExists(Server));
}

// ---------------------------------------------------------------------------
// CRC-32

TEST(CrcUpdate, KnownValues) {
    EXPECT_EQ(AbCrc32("abc", 3), 0x352441C2u);
    EXPECT_EQ(AbCrc32("", 0), 0u);
    EXPECT_EQ(AbCrc32("123456789", 9), 0xCBF43926u);
    uint32_t Crc = 0xFFFFFFFFu;
    CrcUpdate(Crc, "a", 1);
    CrcUpdate(Crc, "bc", 2);
    EXPECT_EQ(~Crc, 0x352441C2u);
}

uint32_t ZlibCrc(const uint8_t* Data, size_t Count) {
    uLong Crc = crc32(0L, Z_NULL, 0);
    while (Count > 0) {
        const uInt Part = static_cast<uInt>(Count > (1u << 30) ? (1u << 30) : Count);
        Crc = crc32(Crc, Data, Part);
        Data += Part;
        Count -= Part;
    }
    return static_cast<uint32_t>(Crc);
}

TEST(CrcUpdate, EveryImplementationAgreesWithZlib) {
    std::mt19937_64 Rng(20240601);
    std::vector<uint8_t> Buffer((1u << 20) + 64);
    for (auto& B : Buffer)
        B = static_cast<uint8_t>(Rng());

    std::vector<size_t> Sizes;
    for (size_t S = 0; S <= 1100; ++S)
        Sizes.push_back(S);
    for (size_t S : {4095u, 4096u, 65535u, 65536u, 65537u, 100003u, 1u << 20})
        Sizes.push_back(S);

    const bool Clmul = CrcImpl::HaveClmul();
    const bool VClmul256 = CrcImpl::HaveVClmul256();
    const bool VClmul = CrcImpl::HaveVClmul512();
    if (!Clmul)
        std::printf("note: no carry-less multiply on this CPU; folding paths not exercised\n");
    for (size_t Size : Sizes) {
        for (size_t Offset : {0u, 1u, 3u, 7u, 13u, 63u}) {
            const uint8_t* Data = Buffer.data() + Offset;
            if (Offset + Size > Buffer.size()) continue;
            const uint32_t Want = ZlibCrc(Data, Size);
            ASSERT_EQ(AbCrc32(Data, Size), Want) << "size " << Size << " offset " << Offset;
            ASSERT_EQ(~CrcImpl::Bytewise(~0u, Data, Size), Want) << "bytewise, size " << Size;
            ASSERT_EQ(~CrcImpl::Sliced(~0u, Data, Size), Want) << "sliced, size " << Size;
            if (Clmul) {
                ASSERT_EQ(~CrcImpl::Clmul(~0u, Data, Size), Want) << "clmul, size " << Size;
            }
            if (VClmul256) {
                ASSERT_EQ(~CrcImpl::VClmul256(~0u, Data, Size), Want) << "vclmul256, size " << Size;
            }
            if (VClmul) {
                ASSERT_EQ(~CrcImpl::VClmul512(~0u, Data, Size), Want) << "vclmul, size " << Size;
            }
        }
    }
}

TEST(CrcUpdate, ChunkedUpdatesEqualOneUpdate) {
    std::mt19937_64 Rng(7);
    std::vector<uint8_t> Buffer(3u << 20);
    for (auto& B : Buffer)
        B = static_cast<uint8_t>(Rng());
    const uint32_t Want = ZlibCrc(Buffer.data(), Buffer.size());
    for (int Round = 0; Round < 20; ++Round) {
        uint32_t Crc = 0xFFFFFFFFu;
        size_t Pos = 0;
        while (Pos < Buffer.size()) {
            // Chunk sizes spread over every dispatch threshold.
            size_t Chunk = static_cast<size_t>(Rng() % (Round < 10 ? 2000 : 200000));
            if (Chunk > Buffer.size() - Pos) Chunk = Buffer.size() - Pos;
            CrcUpdate(Crc, Buffer.data() + Pos, Chunk);
            Pos += Chunk;
        }
        ASSERT_EQ(~Crc, Want) << "round " << Round;
    }
}

TEST(CrcUpdate, SpecialPatterns) {
    for (uint8_t Fill : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x80}}) {
        const std::vector<uint8_t> Buffer(70000, Fill);
        EXPECT_EQ(AbCrc32(Buffer.data(), Buffer.size()), ZlibCrc(Buffer.data(), Buffer.size()));
        // A register of zero over zero bytes stays zero in every path.
        uint32_t Crc = 0;
        if (Fill == 0) {
            CrcUpdate(Crc, Buffer.data(), Buffer.size());
            EXPECT_EQ(Crc, 0u);
        }
    }
}

// ---------------------------------------------------------------------------
// Percentage

TEST(Percentage, BoundsAndRounding) {
    EXPECT_EQ(Percentage(0, 5), 0);
    EXPECT_EQ(Percentage(-1, 5), 0);
    EXPECT_EQ(Percentage(10, 10), 100);
    EXPECT_EQ(Percentage(10, 20), 100);
    EXPECT_EQ(Percentage(3, 1), 33);
    EXPECT_EQ(Percentage(3, 2), 66);
    EXPECT_EQ(Percentage(200, 1), 0);
    EXPECT_EQ(Percentage(10, -4), 0);
    const int64_t Max = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(Percentage(Max, Max - 1), 99);
    EXPECT_EQ(Percentage(Max, Max / 2), 49);
}

// ---------------------------------------------------------------------------
// DOS date and time

uint16_t DosDate(int Y, int M, int D) {
    return static_cast<uint16_t>(((Y - 1980) << 9) | (M << 5) | D);
}
uint16_t DosTime(int H, int Mi, int S) {
    return static_cast<uint16_t>((H << 11) | (Mi << 5) | (S / 2));
}

TEST(DosToDateTime, ValidAndInvalidValues) {
    EXPECT_DOUBLE_EQ(DosToDateTime(DosDate(2023, 6, 15), DosTime(13, 45, 30)),
                     EncodeDateTime(2023, 6, 15, 13, 45, 30, 0));
    EXPECT_DOUBLE_EQ(DosToDateTime(DosDate(1980, 1, 1), 0), EncodeDate(1980, 1, 1));
    EXPECT_DOUBLE_EQ(DosToDateTime(DosDate(2107, 12, 31), DosTime(23, 59, 58)),
                     EncodeDateTime(2107, 12, 31, 23, 59, 58, 0));
    // Not a date and time: the zero date-time, no error.
    EXPECT_EQ(DosToDateTime(0, 0), 0.0);
    EXPECT_EQ(DosToDateTime(DosDate(2020, 13, 1), 0), 0.0);
    EXPECT_EQ(DosToDateTime(DosDate(2021, 2, 29), 0), 0.0);
    EXPECT_EQ(DosToDateTime(DosDate(2020, 1, 1), static_cast<uint16_t>(31)), 0.0); // 62 seconds
    EXPECT_EQ(DosToDateTime(DosDate(2020, 1, 1), DosTime(24, 0, 0)), 0.0);
    EXPECT_EQ(DosToDateTime(DosDate(2020, 1, 1), DosTime(0, 60, 0)), 0.0);
    EXPECT_DOUBLE_EQ(DosToDateTime(DosDate(2020, 2, 29), 0), EncodeDate(2020, 2, 29));
}

TEST(DateTimeToDos, PacksHalvedSecondsAndRejectsOtherYears) {
    EXPECT_EQ(DateTimeToDos(EncodeDate(1980, 1, 1)), 0x00210000u);
    EXPECT_EQ(DateTimeToDos(EncodeDateTime(2023, 6, 15, 13, 45, 31, 900)),
              (uint32_t{DosDate(2023, 6, 15)} << 16) | DosTime(13, 45, 30));
    EXPECT_EQ(DateTimeToDos(EncodeDateTime(2107, 12, 31, 23, 59, 59, 0)),
              (uint32_t{DosDate(2107, 12, 31)} << 16) | DosTime(23, 59, 58));
    EXPECT_EQ(DateTimeToDos(EncodeDateTime(1979, 12, 31, 23, 59, 59, 0)), 0u);
    EXPECT_EQ(DateTimeToDos(EncodeDate(2108, 1, 1)), 0u);
    EXPECT_EQ(DateTimeToDos(0.0), 0u);
    EXPECT_EQ(DateTimeToDos(-1e300), 0u);
    EXPECT_EQ(DateTimeToDos(1e300), 0u);
    EXPECT_EQ(DateTimeToDos(std::numeric_limits<double>::quiet_NaN()), 0u);
}

TEST(DateTimeToDos, RoundTripsEveryEvenSecond) {
    std::mt19937 Rng(3);
    for (int K = 0; K < 2000; ++K) {
        const int Y = 1980 + static_cast<int>(Rng() % 128), M = 1 + static_cast<int>(Rng() % 12);
        const int D = 1 + static_cast<int>(Rng() % DaysInMonth(Y, M));
        const int H = static_cast<int>(Rng() % 24), Mi = static_cast<int>(Rng() % 60),
                  S = 2 * static_cast<int>(Rng() % 30);
        const uint32_t Dos = DateTimeToDos(EncodeDateTime(Y, M, D, H, Mi, S, 0));
        ASSERT_EQ(Dos, (uint32_t{DosDate(Y, M, D)} << 16) | DosTime(H, Mi, S));
        ASSERT_DOUBLE_EQ(
            DosToDateTime(static_cast<uint16_t>(Dos >> 16), static_cast<uint16_t>(Dos)),
            EncodeDateTime(Y, M, D, H, Mi, S, 0));
    }
}

TEST(SetFileModifiedTime, SetsDosPrecisionAndRejectsInvalidTimes) {
    TempDir Dir;
    const std::string Name = Dir / "f.bin";
    WriteFile(Name, 10);
    ASSERT_TRUE(SetFileModifiedTime(Name, EncodeDateTime(2020, 2, 29, 10, 11, 13, 500)));
    TDateTime Got = 0;
    ASSERT_TRUE(FileGetLastWriteTime(Name, Got));
    EXPECT_EQ(FormatDateTimeIso(Got), "2020-02-29 10:11:12");

    // The zero date-time (from a DOS date of 0) and years without a DOS
    // form leave the time alone.
    EXPECT_FALSE(SetFileModifiedTime(Name, DosToDateTime(0, 0)));
    EXPECT_FALSE(SetFileModifiedTime(Name, EncodeDate(2200, 1, 1)));
    ASSERT_TRUE(FileGetLastWriteTime(Name, Got));
    EXPECT_EQ(FormatDateTimeIso(Got), "2020-02-29 10:11:12");

    EXPECT_FALSE(SetFileModifiedTime(Dir / "missing", EncodeDate(2020, 1, 1)));
}

TEST(SetFileModifiedTime, LeavesTheAccessTime) {
    TempDir Dir;
    const std::string Name = Dir / "f.bin";
    WriteFile(Name, 1);
    ASSERT_TRUE(test::SetFileTimes(Name, 1000000000, 1000000000));
    ASSERT_TRUE(SetFileModifiedTime(Name, EncodeDate(2010, 5, 5)));
    EXPECT_EQ(test::FileAccessTime(Name), 1000000000);
    EXPECT_NE(test::FileWriteTime(Name), 1000000000);
}

// ---------------------------------------------------------------------------
// Unix time and the local bias

TEST(UnixTime, BiasFollowsTheZoneAtThatMoment) {
    TScopedTimeZone Zone(CentralEurope);
    if (!Zone.Applied()) GTEST_SKIP() << NoZoneChoice;
    const int64_t Winter = 1705320000; // 2024-01-15 12:00 UTC
    const int64_t Summer = 1721044800; // 2024-07-15 12:00 UTC
    EXPECT_EQ(LocalTimeBiasSeconds(Winter), -3600);
    EXPECT_EQ(LocalTimeBiasSeconds(Summer), -7200);
    const int64_t Now = LocalTimeBiasSeconds();
    EXPECT_TRUE(Now == -3600 || Now == -7200);
    EXPECT_EQ(FormatDateTimeIso(UnixTimeToLocalDateTime(Winter)), "2024-01-15 13:00:00");
    EXPECT_EQ(FormatDateTimeIso(UnixTimeToLocalDateTime(Summer)), "2024-07-15 14:00:00");
    EXPECT_EQ(LocalDateTimeToUnixTime(EncodeDateTime(2024, 1, 15, 13, 0, 0, 0)), Winter);
    EXPECT_EQ(LocalDateTimeToUnixTime(EncodeDateTime(2024, 7, 15, 14, 0, 0, 0)), Summer);
}

TEST(UnixTime, UtcAndEpoch) {
    TScopedTimeZone Zone("UTC0");
    if (!Zone.Applied()) GTEST_SKIP() << NoZoneChoice;
    EXPECT_EQ(LocalTimeBiasSeconds(), 0);
    EXPECT_DOUBLE_EQ(UnixTimeToLocalDateTime(0), 25569.0);
    EXPECT_DOUBLE_EQ(UnixTimeToLocalDateTime(86400 + 43200), 25570.5);
    EXPECT_EQ(FormatDateTimeIso(UnixTimeToLocalDateTime(-1)), "1969-12-31 23:59:59");
    EXPECT_EQ(LocalDateTimeToUnixTime(25569.0), 0);
}

TEST(UnixTime, RoundTripAndAgreementWithFileTimes) {
    // The system's zone where a process cannot choose one: the agreement
    // holds in every zone.
    TScopedTimeZone Zone(CentralEurope);
    TempDir Dir;
    const std::string Name = Dir / "t";
    WriteFile(Name, 1);
    std::mt19937 Rng(11);
    for (int K = 0; K < 200; ++K) {
        const int64_t T = 315532800 + static_cast<int64_t>(Rng() % 2000000000u); // 1980..2043
        const TDateTime Local = UnixTimeToLocalDateTime(T);
        ASSERT_EQ(LocalDateTimeToUnixTime(Local), T) << FormatDateTimeIso(Local);
        // A time converted here and written through the file-time service
        // must come back as the same moment.
        ASSERT_TRUE(test::SetFileTimes(Name, std::nullopt, T));
        TDateTime FromFile = 0;
        ASSERT_TRUE(FileGetLastWriteTime(Name, FromFile));
        ASSERT_EQ(FormatDateTimeIso(FromFile), FormatDateTimeIso(Local));
    }
}

// ---------------------------------------------------------------------------
// Attributes

TEST(UnixToDosAttributes, FileTypesAndOwnerWrite) {
    EXPECT_EQ(UnixToDosAttributes(0100644), 0x00u);
    EXPECT_EQ(UnixToDosAttributes(0100444), 0x01u);
    EXPECT_EQ(UnixToDosAttributes(040755), 0x10u);
    EXPECT_EQ(UnixToDosAttributes(040555), 0x11u);
    EXPECT_EQ(UnixToDosAttributes(0120777), 0x04u);
    EXPECT_EQ(UnixToDosAttributes(010644), 0x04u);  // FIFO
    EXPECT_EQ(UnixToDosAttributes(020644), 0x04u);  // character device
    EXPECT_EQ(UnixToDosAttributes(060644), 0x04u);  // block device
    EXPECT_EQ(UnixToDosAttributes(0140755), 0x04u); // socket
    EXPECT_EQ(UnixToDosAttributes(0644), 0x00u);    // no type bits
    EXPECT_EQ(UnixToDosAttributes(0170644), 0x00u); // unknown type
}

TEST(DosToUnixAttributes, ReadOnlyAndDirectory) {
    EXPECT_EQ(DosToUnixAttributes(0x00), 0644u);
    EXPECT_EQ(DosToUnixAttributes(0x01), 0444u);
    EXPECT_EQ(DosToUnixAttributes(0x10), 040755u);
    EXPECT_EQ(DosToUnixAttributes(0x11), 040555u);
    EXPECT_EQ(DosToUnixAttributes(0x20 | 0x02 | 0x04), 0644u);
    // Both directions agree on read-only and directory.
    for (uint32_t Attr : {0x00u, 0x01u, 0x10u, 0x11u})
        EXPECT_EQ(UnixToDosAttributes(DosToUnixAttributes(Attr)), Attr);
}

TEST(ApplyFileAttributes, ReadOnlyIsTheOwnerWriteBit) {
    TempDir Dir;
    const std::string Name = Dir / "f";
    WriteFile(Name, 1);
    test::SetPermissionBits(Name, 0664);
    ASSERT_TRUE(ApplyFileAttributes(Name, 0x01 | 0x20));
    EXPECT_TRUE(test::IsReadOnly(Name));
    // Read-only takes every write bit, not the owner's only.
    if (const auto Bits = test::PermissionBits(Name)) {
        EXPECT_EQ(*Bits & 0777, 0444u);
    }
    ASSERT_TRUE(ApplyFileAttributes(Name, 0x20));
    EXPECT_FALSE(test::IsReadOnly(Name));
    EXPECT_FALSE(ApplyFileAttributes(Dir / "missing", 0x01));
}

TEST(ApplyFileAttributes, FollowsLinks) {
    TempDir Dir;
    WriteFile(Dir / "target", 1);
    if (!test::MakeSymbolicLink("target", Dir / "link"))
        GTEST_SKIP() << "symbolic links cannot be made here";
    ASSERT_TRUE(ApplyFileAttributes(Dir / "link", 0x01));
    EXPECT_TRUE(test::IsReadOnly(Dir / "target"));
}

// ---------------------------------------------------------------------------
// Error classification

struct Classified {
    TAbErrorClass Class;
    int32_t Code;
};

Classified Classify(const std::exception& E) {
    Classified C{ecMorvanta, -1};
    ClassifyException(E, C.Class, C.Code);
    return C;
}

TEST(ClassifyException, EveryErrorFamily) {
    auto Check = [](const std::exception& E, TAbErrorClass Class, int32_t Code) {
        const Classified C = Classify(E);
        EXPECT_EQ(C.Class, Class) << E.what();
        EXPECT_EQ(C.Code, Code) << E.what();
    };
    Check(EAbZipBadCRC(), ecMorvanta, 19);
    Check(EAbTarBadOp(), ecMorvanta, 223);
    Check(EAbException("literal"), ecMorvanta, 0);
    Check(EInOutError(ENOSPC), ecInOutError, ENOSPC);
    Check(EFCreateError("/x/y", EACCES), ecFileCreateError, 0);
    Check(EFOpenError("/x/y", ENOENT), ecFileOpenError, 0);
    Check(EFilerError("filer"), ecFilerError, 0);
    Check(EReadError(), ecFilerError, 0);
    Check(EWriteError(), ecFilerError, 0);
    Check(EOSError(5, "denied"), ecOther, 0);
    Check(std::runtime_error("other"), ecOther, 0);
}

TEST(ClassifyException, CapturedExceptions) {
    TAbErrorClass Class = ecMorvanta;
    int32_t Code = -1;
    ClassifyException(std::make_exception_ptr(EAbZipInvalidPassword()), Class, Code);
    EXPECT_EQ(Class, ecMorvanta);
    EXPECT_EQ(Code, 4);
    ClassifyException(std::make_exception_ptr(42), Class, Code);
    EXPECT_EQ(Class, ecOther);
    EXPECT_EQ(Code, 0);
    ClassifyException(std::exception_ptr(), Class, Code);
    EXPECT_EQ(Class, ecOther);
}

// ---------------------------------------------------------------------------
// File-system queries

TEST(FileSizeOf, FilesDirectoriesAndMissingNames) {
    TempDir Dir;
    WriteFile(Dir / "f", 12345);
    EXPECT_EQ(FileSizeOf(Dir / "f"), 12345);
    WriteFile(Dir / "empty", 0);
    EXPECT_EQ(FileSizeOf(Dir / "empty"), 0);
    EXPECT_EQ(FileSizeOf(Dir.Path()), 0);
    EXPECT_EQ(FileSizeOf(Dir / "missing"), -1);
    EXPECT_EQ(FileSizeOf(""), -1);
}

TEST(MakeTempFileName, CreatesPrivateUniqueFiles) {
    TempDir Dir;
    std::set<std::string> Names;
    for (int K = 0; K < 50; ++K) {
        const std::string Name = MakeTempFileName(Dir.Path(), true);
        EXPECT_EQ(Name.rfind(Dir.Path() + "/VMS", 0), 0u) << Name;
        EXPECT_TRUE(FileExists(Name));
        EXPECT_EQ(FileSizeOf(Name), 0);
        // Private where the system has permission bits.
        if (const auto Bits = test::PermissionBits(Name)) {
            EXPECT_EQ(*Bits & 0777, 0600u);
        }
        EXPECT_TRUE(Names.insert(Name).second) << "name handed out twice: " << Name;
    }
}

TEST(MakeTempFileName, NameOnlyAndMissingDirectory) {
    TempDir Dir;
    const std::string Name = MakeTempFileName(Dir.Path(), false);
    EXPECT_EQ(Name.rfind(Dir.Path() + "/VMS", 0), 0u) << Name;
    EXPECT_FALSE(PathExists(Name));

    const std::string Elsewhere = MakeTempFileName(Dir / "no/such/dir", true);
    EXPECT_EQ(Elsewhere.rfind(GetTempDirectory() + "VMS", 0), 0u) << Elsewhere;
    EXPECT_TRUE(FileExists(Elsewhere));
    DeleteFile(Elsewhere);
}

TEST(IsRemovableDrive, LongNamePrefixesAreIgnored) {
    TempDir Dir;
    const bool Plain = IsRemovableDrive(Dir.Path());
    EXPECT_EQ(IsRemovableDrive("\\\\?\\" + Dir.Path()), Plain);
    EXPECT_EQ(IsRemovableDrive("\\\\?\\UNC\\" + Dir.Path()), Plain);
    // A name that does not exist yet is judged by the folder that holds it.
    EXPECT_EQ(IsRemovableDrive(Dir / "not/yet/there.zip"), Plain);
}

} // namespace
} // namespace kivo
