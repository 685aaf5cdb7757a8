// kivo-unzip -j: several workers give what one gives. For every shared
// archive, for archives whose items fail in between good ones, and for
// 20,000 small files (4,000 under Wine): the same tree (names, kinds, contents, permission
// bits), the same exit status and the same lines on both outputs, in the
// same order, with -j 1 and -j 4.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "support/UnzipFixtures.h"
#include "support/ZipFixtures.h"
#include "tests/common/TestAccount.h"
#include "tests/common/TestFiles.h"
#include "tests/common/TestPty.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

// Every entry below Dir: name, kind and permission bits, file contents.
std::vector<std::string> Tree(const std::string& Dir) {
    std::vector<std::string> Result;
    const auto Files = Snapshot(Dir);
    for (const std::string& Name : Entries(Dir)) {
        std::error_code Error;
        const auto Status = std::filesystem::symlink_status(Dir + "/" + Name, Error);
        std::string Line = Name + " " + std::to_string(static_cast<int>(Status.type())) + " " +
                           std::to_string(static_cast<unsigned>(Status.permissions()));
        if (const auto It = Files.find(Name); It != Files.end())
            Line += " " + Sha256Hex(It->second);
        Result.push_back(Line);
    }
    return Result;
}

struct TRun {
    TToolResult Result;
    std::vector<std::string> Tree;
};

// Runs "COMMAND ARCHIVE -j JOBS [Extra]" in a folder of its own; x and e
// extract into "out" there, so that the lines name the same paths.
TRun RunWith(const std::string& Command, const std::string& Archive, unsigned Jobs,
             const std::string& Extra = "") {
    TTempDir Work;
    const std::string Target = Command == "t" ? "" : " -d out";
    TRun Run{RunKivoUnzip(Command + " " + Quote(Archive) + Target + " -j " + std::to_string(Jobs) +
                              Extra,
                          "C.UTF-8", "/dev/null", Work.Path()),
             {}};
    if (Command != "t") Run.Tree = Tree(Work / "out");
    return Run;
}

void ExpectSameRuns(const std::string& Command, const std::string& Archive,
                    const std::string& Extra = "") {
    const TRun One = RunWith(Command, Archive, 1, Extra);
    const TRun Four = RunWith(Command, Archive, 4, Extra);
    EXPECT_EQ(Four.Result.Status, One.Result.Status) << Four.Result.Err;
    EXPECT_EQ(Four.Result.Err, One.Result.Err);
    EXPECT_EQ(Four.Result.Out, One.Result.Out);
    EXPECT_EQ(Four.Tree, One.Tree);
}

// Every archive of the shared test data (split parts and all).
std::vector<std::string> SharedArchives() {
    std::vector<std::string> Names;
    for (const std::string& Name : test::ListFolder(TestData("")))
        if (!Name.ends_with(".tsv") && !Name.ends_with(".md")) Names.push_back(Name);
    std::sort(Names.begin(), Names.end());
    return Names;
}

class KivoUnzipParallelShared : public ::testing::TestWithParam<std::string> {};

// e (every file into one folder) is compared on the archive with failures
// below, whose names collide when flattened.
TEST_P(KivoUnzipParallelShared, FourWorkersGiveWhatOneGives) {
    for (const char* Command : {"t", "x"}) {
        SCOPED_TRACE(Command);
        if (std::string(Command) == "x" && test::RunsUnderWine() &&
            GetParam() == "zip64_65537_entries.zip") {
            // Wine looks for a name not yet there by reading the whole folder
            // (its names are case-blind), so every new file costs a pass over
            // the folder: 65,537 files in one take hours there.
            GTEST_SKIP() << "x: 65,537 files in one folder are too slow under Wine (t was run)";
        }
        ExpectSameRuns(Command, TestData(GetParam()));
    }
}

INSTANTIATE_TEST_SUITE_P(Shared, KivoUnzipParallelShared, ::testing::ValuesIn(SharedArchives()),
                         [](const auto& Info) {
                             std::string Name = Info.param;
                             for (char& C : Name)
                                 if (!std::isalnum(static_cast<unsigned char>(C))) C = '_';
                             return Name;
                         });

// 240 items in six folders; every 7th fails its CRC check, every 11th has
// a method nobody decodes, every 13th leaves the base folder, every 17th
// names a folder that is a file, every 19th is named "d1/same" (the same
// file again and again), every 20th item is a read-only folder with a
// file inside, and every 23rd is named "d2/" with a capital A umlaut, or by
// turns "d2/" with a small one and "/inside" (a file where a folder is
// needed on file systems that ignore case beyond ASCII).
std::string ArchiveWithFailures() {
    std::vector<TZipEntryDef> Entries;
    for (int I = 0; I < 240; ++I) {
        const std::string Folder = "d" + std::to_string(I % 6) + "/";
        const std::string Data = RandomBytes(static_cast<size_t>(I) * 37 + 1, I);
        TZipEntryDef E = I % 2 == 0 ? Deflated(Folder + "f" + std::to_string(I), Data)
                                    : Stored(Folder + "f" + std::to_string(I), Data);
        E.VersionMadeBy = 0x0314; // Unix, so that modes are restored
        E.ExternalAttributes = 0100640u << 16;
        if (I % 7 == 3) E.CentralCrc = Crc32Of(Data) ^ 1;
        if (I % 11 == 5) E.Method = 77;
        if (I % 13 == 6) E.RawName = "../up" + std::to_string(I);
        if (I % 17 == 8) E.RawName = "d0/f0/inside" + std::to_string(I);
        if (I % 19 == 9) E.RawName = "d1/same";
        if (I % 23 == 11) {
            E.RawName = I % 2 != 0 ? "d2/\xC3\x84" : "d2/\xC3\xA4/inside";
            E.Flags |= 0x0800; // UTF-8 names
        }
        if (I % 20 == 10) {
            E = TZipEntryDef{};
            E.RawName = "ro" + std::to_string(I) + "/";
            E.VersionMadeBy = 0x0314;
            E.ExternalAttributes = (040555u << 16) | 0x10;
            Entries.push_back(E);
            E = Stored("ro" + std::to_string(I) + "/in", Data);
        }
        Entries.push_back(E);
    }
    return BuildZip(Entries);
}

TEST(KivoUnzipParallel, FailingItemsAreReportedInItemOrder) {
    TTempDir Dir;
    const std::string Archive = Dir / "failing.zip";
    WriteBytes(Archive, ArchiveWithFailures());
    for (const char* Command : {"x", "e", "t"}) {
        SCOPED_TRACE(Command);
        ExpectSameRuns(Command, Archive);
        ExpectSameRuns(Command, Archive, " -v");
    }
    ExpectSameRuns("x", Archive, " -o");
    // Over an existing tree: kept without a terminal to ask, noted in order.
    TTempDir Work;
    const std::string Args = "x " + Quote(Archive) + " -d out -j ";
    const TToolResult First = RunKivoUnzip(Args + "4", "C.UTF-8", "/dev/null", Work.Path());
    EXPECT_EQ(First.Status, 1);
    const TToolResult One = RunKivoUnzip(Args + "1", "C.UTF-8", "/dev/null", Work.Path());
    const TToolResult Four = RunKivoUnzip(Args + "4", "C.UTF-8", "/dev/null", Work.Path());
    EXPECT_EQ(Four.Status, One.Status);
    EXPECT_EQ(Four.Err, One.Err);
    EXPECT_NE(One.Err.find("exists; not replaced"), std::string::npos) << One.Err;
}

TEST(KivoUnzipParallel, TwentyThousandSmallFiles) {
    TTempDir Dir;
    std::vector<TZipEntryDef> Entries;
    // Under Wine every new file costs several server round trips and a pass
    // over its folder: a fifth of the files keeps the case within the time
    // limit on a busy machine and still gives each of four workers 1,000.
    const int Files = test::RunsUnderWine() ? 4000 : 20000;
    for (int I = 0; I < Files; ++I) {
        const std::string Name = "s" + std::to_string(I % 10) + "/t" + std::to_string(I % 7) +
                                 "/f" + std::to_string(I) + ".txt";
        const std::string Data = "file " + std::to_string(I) + "\n" + RandomBytes(I % 300, I);
        Entries.push_back(I % 3 == 0 ? Deflated(Name, Data) : Stored(Name, Data));
    }
    const std::string Archive = Dir / "many.zip";
    WriteBytes(Archive, BuildZip(Entries));
    const TRun One = RunWith("x", Archive, 1);
    const TRun Four = RunWith("x", Archive, 4);
    EXPECT_EQ(One.Result.Status, 0) << One.Result.Err;
    EXPECT_EQ(Four.Result.Status, 0) << Four.Result.Err;
    EXPECT_EQ(Four.Result.Err, One.Result.Err);
    EXPECT_EQ(Four.Tree.size(), static_cast<size_t>(Files) + 10u + 70u);
    EXPECT_EQ(Four.Tree, One.Tree);
    ExpectSameRuns("t", Archive);
}

size_t Count(const std::string& Text, const std::string& Part) {
    size_t N = 0;
    for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1))
        ++N;
    return N;
}

// Four workers, one terminal: the questions come in item order, and their
// answers hold for the items after them as with one worker.
TEST(KivoUnzipParallel, QuestionsComeInItemOrder) {
    if (!test::PtyAvailable()) GTEST_SKIP() << "no pseudo-terminal here";
    TTempDir Dir;
    std::vector<TZipEntryDef> Entries;
    for (int I = 0; I < 40; ++I) {
        const std::string Data = "new " + std::to_string(I) + "\n";
        TZipEntryDef E = Stored("f" + std::to_string(I / 10) + std::to_string(I % 10), Data);
        if (I % 8 == 4) { // encrypted, all with one password
            E.Data = ZipCryptoEncrypt(Data, "letmein", static_cast<uint8_t>(Crc32Of(Data) >> 24));
            E.Flags = 1;
            E.CentralCrc = Crc32Of(Data);
            E.CentralUncompressedSize = static_cast<int64_t>(Data.size());
        }
        Entries.push_back(E);
    }
    const std::string Archive = Dir / "asks.zip";
    WriteBytes(Archive, BuildZip(Entries));
    const std::string Out = Dir / "out";
    ForceDirectories(Out);
    for (const char* Name : {"f00", "f01", "f02", "f03"})
        WriteBytes(Out + "/" + Name, "mine\n");
    const TPtyResult R =
        RunOnPty(Quote(KivoUnzipTool()) + " x -j 4 " + Quote(Archive) + " -d " + Quote(Out),
                 {{"f00? ", "y\n"},
                  {"f01? ", "n\n"},
                  {"f02? ", "A\n"},
                  {"f04 is encrypted; password: ", "letmein\n"}});
    EXPECT_EQ(R.Status, 0) << R.Output;
    EXPECT_EQ(Count(R.Output, "? [y]es"), 3u) << R.Output; // "All" answered f03
    EXPECT_EQ(Count(R.Output, "password: "), 1u) << R.Output;
    EXPECT_EQ(ReadBytes(Out + "/f00"), "new 0\n");
    EXPECT_EQ(ReadBytes(Out + "/f01"), "mine\n");
    EXPECT_EQ(ReadBytes(Out + "/f03"), "new 3\n");
    for (int I = 4; I < 40; I += 8)
        EXPECT_EQ(ReadBytes(Out + "/f" + std::to_string(I / 10) + std::to_string(I % 10)),
                  "new " + std::to_string(I) + "\n");
}

TEST(KivoUnzipParallel, JobsMustBeAPositiveNumber) {
    for (const char* Args : {"x a.zip -j 0", "t a.zip -j x", "t a.zip -j 2x", "x a.zip --jobs=300",
                             "p a.zip -j 2", "list a.zip -j 2"}) {
        SCOPED_TRACE(Args);
        const TToolResult R = RunKivoUnzip(Args, "C.UTF-8");
        EXPECT_EQ(R.Status, 1);
        EXPECT_NE(R.Err.find("Try 'kivo-unzip --help'"), std::string::npos) << R.Err;
    }
}

} // namespace
