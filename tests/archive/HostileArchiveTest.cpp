// Archives made by an attacker, run through kivo-unzip as a user runs it:
// links already in the target folder, data that fails its check over a file
// the user has, sizes that lie, entries that share their data, names the
// file system refuses, Zip64 values no archive can hold, and what the tool
// says. Every case checks what the run prints, what the target folder holds
// afterwards, that the user's own file there is intact, and that nothing
// outside the target folder was made or changed.
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "support/InflateSupport.h"
#include "support/UnzipFixtures.h"
#include "support/ZipFixtures.h"
#include "tests/common/TestFileStatus.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

const std::string UsersFile = "the user's own file\n";
const std::string OutsideFile = "outside the target\n";

// Deflated Data, its local header agreeing with the central directory.
TZipEntryDef DeflatedAlike(const std::string& Name, const std::string& Data) {
    TZipEntryDef E = Deflated(Name, Data, 9);
    E.LocalLikeCentral = true;
    return E;
}

// Inflates to 32 MiB while both headers declare Declared bytes.
TZipEntryDef SizeBomb(const std::string& Name, int64_t Declared) {
    TZipEntryDef E = DeflatedAlike(Name, std::string(32 << 20, '\0'));
    E.CentralUncompressedSize = Declared;
    return E;
}

// An entry whose Zip64 field holds Uncompressed, and Offset when given,
// where its header holds the maximum.
TZipEntryDef Zip64Entry(uint64_t Uncompressed, std::optional<uint64_t> Offset = {}) {
    TZipEntryDef E = Stored("big.bin", "tiny");
    E.CentralUncompressedSize = 0xFFFFFFFF;
    std::string Field = Le64(Uncompressed);
    if (Offset) {
        E.CentralOffset = 0xFFFFFFFF;
        Field += Le64(*Offset);
    }
    E.CentralExtra = ExtraSubfield(1, Field);
    return E;
}

// One sound entry and Count - 1 central entries that point at its local header.
std::string SharedHeader(int Count) {
    std::vector<TZipEntryDef> Entries = {DeflatedAlike("f000.bin", std::string(1 << 20, 'z'))};
    for (int I = 1; I < Count; ++I) {
        TZipEntryDef E = Entries[0];
        E.RawName = "f" +
                    std::string(I < 10    ? "00"
                                : I < 100 ? "0"
                                          : "") +
                    std::to_string(I) + ".bin";
        E.CentralOnly = true;
        E.CentralOffset = 0;
        Entries.push_back(E);
    }
    return BuildZip(Entries);
}

// Entries c0..c3 whose local headers lie one after the other, each entry's
// data running over the headers after it into one deflated block shared by
// all: every header agrees with its central entry.
std::string NestedHeaders() {
    const std::string Plain(1 << 20, 'n');
    const std::string Kernel = test::ZlibDeflateRaw(Plain, 9);
    const int Count = 4;
    const size_t HeaderSize = 30 + 6; // names "c0.bin" ...
    std::string Locals, Central;
    for (int I = 0; I < Count; ++I) {
        const std::string Name = "c" + std::to_string(I) + ".bin";
        const auto Compressed = static_cast<uint32_t>((Count - I - 1) * HeaderSize + Kernel.size());
        const std::string Fields = Le16(20) + Le16(0) + Le16(8) + Le16(0x6458) + Le16(0x52CF) +
                                   Le32(Crc32Of(Plain)) + Le32(Compressed) +
                                   Le32(static_cast<uint32_t>(Plain.size())) + Le16(6);
        Central += Le32(0x02014B50) + Le16(20) + Fields + Le16(0) + Le16(0) + Le16(0) + Le16(0) +
                   Le32(0) + Le32(static_cast<uint32_t>(I * HeaderSize)) + Name;
        Locals += Le32(0x04034B50) + Fields + Le16(0) + Name;
    }
    Locals += Kernel;
    return Locals + Central + Le32(0x06054B50) + Le16(0) + Le16(0) + Le16(Count) + Le16(Count) +
           Le32(static_cast<uint32_t>(Central.size())) +
           Le32(static_cast<uint32_t>(Locals.size())) + Le16(0);
}

// The folders a case starts from, below the test's folder: t (the target,
// holding keep.bin, the user's file) and outside (holding keep.txt).
struct THostileCase {
    const char* Name;
    std::function<std::string()> Archive;
    // The command and its options; "-d t" is added to x and e unless the
    // options name a folder.
    std::string Command;
    int Status;
    std::vector<std::string> Err; // parts of what is printed on stderr
    // Below t afterwards: the contents of a file, or "->X" for a link to X,
    // "<none>" for nothing. keep.bin is the user's file unless listed.
    std::map<std::string, std::string> Files;
    // Links and the like, made below the test's folder before the run.
    std::function<void(const std::string& Dir)> Prepare = nullptr;
};

void PrintTo(const THostileCase& C, std::ostream* Os) {
    *Os << C.Name;
}

void Link(const std::string& Target, const std::string& Name) {
    if (!test::MakeSymbolicLink(Target, Name)) GTEST_SKIP() << "symbolic links cannot be made here";
}

// The entries of Dir that lie outside t, with the contents of its files.
std::map<std::string, std::string> OutsideTheTarget(const std::string& Dir) {
    std::map<std::string, std::string> Result;
    for (const std::string& Name : Entries(Dir)) {
        if (Name == "t" || Name.starts_with("t/") || Name == "err") continue;
        Result[Name] = FileExists(Dir + "/" + Name) ? ReadBytes(Dir + "/" + Name) : "";
    }
    return Result;
}

class HostileArchive : public ::testing::TestWithParam<THostileCase> {
protected:
    void TearDown() override {
        // A case may have made a folder immutable.
        Shell("chattr -R -i " + Quote(Dir.Path()) + " 2>/dev/null");
    }
    TTempDir Dir;
};

TEST_P(HostileArchive, LeavesOnlySoundFilesInTheTarget) {
    const THostileCase& C = GetParam();
    ASSERT_TRUE(ForceDirectories(Dir / "t") && ForceDirectories(Dir / "outside"));
    WriteBytes(Dir / "t/keep.bin", UsersFile);
    WriteBytes(Dir / "outside/keep.txt", OutsideFile);
    WriteBytes(Dir / "a.zip", C.Archive());
    if (C.Prepare) C.Prepare(Dir.Path());
    if (HasFatalFailure() || IsSkipped()) return;
    const std::map<std::string, std::string> Before = OutsideTheTarget(Dir.Path());

    std::string Args = C.Command.substr(0, C.Command.find(' ')) + " a.zip";
    if ((Args[0] == 'x' || Args[0] == 'e') && C.Command.find("-d ") == std::string::npos)
        Args += " -d t";
    if (C.Command.find(' ') != std::string::npos) Args += C.Command.substr(C.Command.find(' '));
    const TToolResult R = RunKivoUnzip(Args, "C.UTF-8", "/dev/null", Dir.Path());

    EXPECT_EQ(R.Status, C.Status) << R.Err;
    for (const std::string& Part : C.Err)
        EXPECT_NE(R.Err.find(Part), std::string::npos) << "missing: " << Part << "\nin:\n" << R.Err;
    std::map<std::string, std::string> Files = C.Files;
    Files.emplace("keep.bin", UsersFile);
    for (const auto& [Name, Expected] : Files) {
        const std::string Path = Dir / ("t/" + Name);
        if (Expected == "<none>") {
            EXPECT_FALSE(PathExists(Path)) << Name;
        } else if (Expected.starts_with("->")) {
            EXPECT_EQ(test::LinkTarget(Path), Expected.substr(2)) << Name;
        } else {
            ASSERT_TRUE(FileExists(Path)) << Name;
            EXPECT_EQ(ReadBytes(Path), Expected) << Name;
        }
    }
    for (const std::string& Name : Entries(Dir / "t"))
        EXPECT_FALSE(Name.ends_with(".part")) << Name;
    EXPECT_EQ(OutsideTheTarget(Dir.Path()), Before) << "something outside t was made or changed";
}

const std::string Unsafe = ": Cannot extract file - stored name leads outside the base directory";

INSTANTIATE_TEST_SUITE_P(
    LinksInTheTarget, HostileArchive,
    ::testing::Values(
        THostileCase{"FolderLinkLeadingOutside",
                     [] {
                         return BuildZip({Stored("sub/keep.txt", "evil"),
                                          Stored("sub/new/x.txt", "x"), Stored("ok.txt", "ok")});
                     },
                     "x -o",
                     1,
                     {"sub/keep.txt" + Unsafe, "sub/new/x.txt" + Unsafe, "2 of 3 items failed"},
                     {{"ok.txt", "ok"}, {"sub", "->../outside"}},
                     [](const std::string& D) { Link("../outside", D + "/t/sub"); }},
        THostileCase{"DanglingFolderLink",
                     [] { return BuildZip({Stored("sub/x.txt", "x")}); },
                     "x",
                     1,
                     {"sub/x.txt" + Unsafe},
                     {{"sub", "->../nowhere"}},
                     [](const std::string& D) { Link("../nowhere", D + "/t/sub"); }},
        THostileCase{"FolderEntryThatIsALink",
                     [] {
                         return BuildZip({Stored("sub/", ""), Stored("sub/a/", "")});
                     },
                     "x",
                     1,
                     {"sub/" + Unsafe, "sub/a/" + Unsafe},
                     {{"sub", "->../outside"}},
                     [](const std::string& D) { Link("../outside", D + "/t/sub"); }},
        THostileCase{"TargetFolderReachedThroughALinkIsFine",
                     [] { return BuildZip({Stored("a/b.txt", "b")}); },
                     "x -d linked",
                     0,
                     {},
                     {{"a/b.txt", "b"}},
                     [](const std::string& D) { Link("t", D + "/linked"); }}),
    [](const auto& Info) { return std::string(Info.param.Name); });

INSTANTIATE_TEST_SUITE_P(FailedChecks, HostileArchive,
                         ::testing::Values(THostileCase{
                             "StoredOverTheUsersFile",
                             [] {
                                 TZipEntryDef E = Stored("keep.bin", "bad data");
                                 E.CentralCrc = 0x12345678;
                                 return BuildZip({E});
                             },
                             "x -o",
                             1,
                             {"keep.bin: Failed CRC Check", "1 of 1 items failed"},
                             {}}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

const std::string TooLong = ": Cannot extract file - data longer than declared";

INSTANTIATE_TEST_SUITE_P(
    DeclaredSizes, HostileArchive,
    ::testing::Values(THostileCase{"DeclaresAThousand",
                                   [] { return BuildZip({SizeBomb("k.bin", 1000)}); },
                                   "x -o",
                                   1,
                                   {"k.bin" + TooLong},
                                   {{"k.bin", "<none>"}}},
                      THostileCase{"TestDeclaresZero",
                                   [] { return BuildZip({SizeBomb("zero.bin", 0)}); },
                                   "t",
                                   1,
                                   {"zero.bin" + TooLong, "1 of 1 items failed"},
                                   {}},
                      THostileCase{"StoredDataLongerThanDeclared",
                                   [] {
                                       TZipEntryDef E = Stored("s.bin", "ten bytes!");
                                       E.CentralUncompressedSize = 0;
                                       E.LocalLikeCentral = true;
                                       return BuildZip({E});
                                   },
                                   "t",
                                   1,
                                   {"s.bin" + TooLong},
                                   {}},
                      THostileCase{"EmptyEntryWithAWrongCrc",
                                   [] {
                                       TZipEntryDef E = Stored("keep.bin", "");
                                       E.CentralCrc = 0x12345678;
                                       E.LocalLikeCentral = true;
                                       return BuildZip({E});
                                   },
                                   "x -o",
                                   1,
                                   {"keep.bin: Failed CRC Check"},
                                   {}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

const std::string Overlaps = ": Cannot extract file - data overlaps another entry";

INSTANTIATE_TEST_SUITE_P(
    OverlappingEntries, HostileArchive,
    ::testing::Values(
        THostileCase{"ManyEntriesShareOneHeader",
                     [] { return SharedHeader(300); },
                     "x",
                     1,
                     {"f001.bin" + Overlaps, "f299.bin" + Overlaps, "299 of 300 items failed"},
                     {{"f000.bin", std::string(1 << 20, 'z')}, {"f001.bin", "<none>"}}},
        THostileCase{"TestManyEntriesShareOneHeader",
                     [] { return SharedHeader(300); },
                     "t",
                     1,
                     {"f299.bin" + Overlaps, "299 of 300 items failed"},
                     {}},
        THostileCase{"HeadersInsideEachOthersData",
                     [] { return NestedHeaders(); },
                     "x",
                     1,
                     {"c0.bin" + Overlaps, "c2.bin" + Overlaps, "3 of 4 items failed"},
                     {{"c3.bin", std::string(1 << 20, 'n')}, {"c0.bin", "<none>"}}},
        THostileCase{"DataPastTheDirectory",
                     [] {
                         TZipEntryDef E = Stored("d.bin", "data");
                         E.CentralCompressedSize = E.CentralUncompressedSize = 50;
                         return BuildZip({E});
                     },
                     "x",
                     1,
                     {"d.bin" + Overlaps},
                     {{"d.bin", "<none>"}}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    ItemsThatFailAlone, HostileArchive,
    ::testing::Values(
        THostileCase{"FileThenFolderOfTheSameName",
                     [] {
                         return BuildZip(
                             {Stored("f", "file"), Stored("f/child", "c"), Stored("ok.txt", "ok")});
                     },
                     "x",
                     1,
                     {"f/child: a file is in the way of a folder", "1 of 3 items failed"},
                     {{"f", "file"}, {"ok.txt", "ok"}}},
        THostileCase{"ComponentsOver255Bytes",
                     [] {
                         const std::string Long(300, 'n');
                         return BuildZip({Stored(Long + "/x.txt", "x"), Stored(Long, "y"),
                                          Stored("ok.txt", "ok")});
                     },
                     "x",
                     1,
                     {"the name is too long for the file system", "2 of 3 items failed"},
                     {{"ok.txt", "ok"}}},
        THostileCase{"NulAndEscInNames",
                     [] {
                         return BuildZip({Stored(std::string("a\0b.txt", 7), "a"),
                                          Stored("\x1b[2Jc.txt", "c"), Stored("ok.txt", "ok")});
                     },
                     "x",
                     1,
                     {"a?b.txt: Ungültige Zeichen im Pfad", "?[2Jc.txt: Ungültige Zeichen im Pfad",
                      "2 of 3 items failed"},
                     {{"ok.txt", "ok"}}},
        THostileCase{"ReadOnlyTargetFolder",
                     [] {
                         return BuildZip({Stored("sub/x.txt", "x"), Stored("y.txt", "y")});
                     },
                     "x -d t/ro",
                     2,
                     {"kivo-unzip: t/ro: cannot write in the folder: permission denied"},
                     {{"ro/y.txt", "<none>"}, {"ro/sub", "<none>"}},
                     [](const std::string& D) {
                         ASSERT_TRUE(ForceDirectories(D + "/t/ro"));
                         if (!test::DenyWriting(D + "/t/ro"))
                             GTEST_SKIP() << "no folder here that cannot be written in";
                     }}),
    [](const auto& Info) { return std::string(Info.param.Name); });

const std::string NotAZip = "a.zip: not a ZIP, tar, gzip or bzip2 archive, or its ZIP "
                            "directory is damaged";

INSTANTIATE_TEST_SUITE_P(
    Zip64ValuesNoArchiveHolds, HostileArchive,
    ::testing::Values(THostileCase{"UncompressedSizeOf2To63",
                                   [] { return BuildZip({Zip64Entry(1ull << 63)}); },
                                   "x",
                                   2,
                                   {NotAZip},
                                   {{"big.bin", "<none>"}}},
                      THostileCase{"OffsetBeyondTheArchive",
                                   [] { return BuildZip({Zip64Entry(4, 1ull << 40)}); },
                                   "list",
                                   2,
                                   {NotAZip},
                                   {}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

INSTANTIATE_TEST_SUITE_P(LinksAtTheTargetName, HostileArchive,
                         ::testing::Values(THostileCase{
                             "DanglingLinkKeptWithN",
                             [] { return BuildZip({Stored("l.txt", "new")}); },
                             "x -n",
                             0,
                             {},
                             {{"l.txt", "->../nowhere"}},
                             [](const std::string& D) { Link("../nowhere", D + "/t/l.txt"); }}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Messages, HostileArchive,
    ::testing::Values(
        THostileCase{
            "FolderThatCannotBeMadeIsNamed",
            [] { return BuildZip({Stored("a.txt", "a")}); },
            "x -d t/keep.bin/sub",
            2,
            {"kivo-unzip: t/keep.bin/sub: cannot create the folder: a file is in the way of a "
             "folder"},
            {}},
        THostileCase{"EmptyNameIsAFailedItem",
                     [] {
                         return BuildZip({Stored("", "data"), Stored("ok.txt", "ok")});
                     },
                     "x",
                     1,
                     {"(no name)" + Unsafe, "1 of 2 items failed"},
                     {{"ok.txt", "ok"}}},
        THostileCase{"TestCountsTheEmptyName",
                     [] {
                         return BuildZip({Stored("", "data"), Stored("ok.txt", "ok")});
                     },
                     "t",
                     1,
                     {"(no name)" + Unsafe, "1 of 2 items failed"},
                     {}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
