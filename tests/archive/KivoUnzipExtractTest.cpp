// kivo-unzip x, e and t, run as users and scripts run them: what is on disk
// afterwards, masks, exit statuses and failure lines, passwords from the
// command line and from a terminal prompt, overwrite choices, the progress
// display, and Ctrl-C.
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/FileSystem.h"
#include "support/UnzipFixtures.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

const std::string Tool = KivoUnzipTool();

using TResult = TToolResult;

TResult RunTool(const std::string& Args, const std::string& Input = "/dev/null") {
    return RunKivoUnzip(Args, "C.UTF-8", Input);
}

// Windows has no pseudo-terminals; its console cannot be driven from a
// test under Wine.
const char* const NoPty = "no pseudo-terminal here";

bool Has(const std::string& Text, const std::string& Part) {
    return Text.find(Part) != std::string::npos;
}

class KivoUnzipExtract : public ::testing::Test {
protected:
    void SetUp() override {
        Out = Dir / "out";
        TZipEntryDef D;
        D.RawName = "docs/";
        D.ExternalAttributes = 0x10;
        std::vector<TZipEntryDef> Entries = {D};
        for (auto [Name, Data] :
             std::vector<std::pair<std::string, std::string>>{{"docs/readme.txt", "read me\n"},
                                                              {"docs/notes.log", "log\n"},
                                                              {"top.txt", "top\n"},
                                                              {"bin/tool", "#!/bin/sh\n"}}) {
            TZipEntryDef E;
            E.RawName = Name;
            E.Data = Data;
            Entries.push_back(E);
        }
        Package = Dir / "package.zip";
        WriteBytes(Package, BuildZip(Entries));
        TZipEntryDef Enc;
        Enc.RawName = "secret.txt";
        Enc.Data = ZipCryptoEncrypt("classified\n", "letmein",
                                    static_cast<uint8_t>(Crc32Of("classified\n") >> 24));
        Enc.Flags = 1;
        Enc.CentralCrc = Crc32Of("classified\n");
        Enc.CentralUncompressedSize = 11;
        TZipEntryDef Plain;
        Plain.RawName = "public.txt";
        Plain.Data = "public\n";
        Encrypted = Dir / "encrypted.zip";
        WriteBytes(Encrypted, BuildZip({Enc, Plain}));
    }

    TTempDir Dir;
    std::string Out;
    std::string Package;
    std::string Encrypted;
};

TEST_F(KivoUnzipExtract, XRestoresFoldersAndEFlattens) {
    TResult X = RunTool("x " + Quote(Package) + " -d " + Quote(Out + "/made/on/demand"));
    EXPECT_EQ(X.Status, 0) << X.Err;
    // Not a terminal: no progress, one summary line.
    EXPECT_EQ(X.Err, "kivo-unzip: 5 items extracted from " + Package + " (26 B)\n");
    EXPECT_EQ(X.Out, "");
    EXPECT_EQ(Entries(Out + "/made/on/demand"),
              (std::vector<std::string>{"bin", "bin/tool", "docs", "docs/notes.log",
                                        "docs/readme.txt", "top.txt"}));
    EXPECT_EQ(ReadBytes(Out + "/made/on/demand/docs/readme.txt"), "read me\n");

    TResult E = RunTool("e " + Quote(Package) + " -d " + Quote(Out + "/flat"));
    EXPECT_EQ(E.Status, 0) << E.Err;
    EXPECT_EQ(Entries(Out + "/flat"),
              (std::vector<std::string>{"notes.log", "readme.txt", "tool", "top.txt"}));
}

TEST_F(KivoUnzipExtract, WithoutDExtractsIntoTheCurrentFolder) {
    ForceDirectories(Out);
    const TResult R = RunKivoUnzip("x " + Quote(Package), "C.UTF-8", "/dev/null", Out);
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(ReadBytes(Out + "/top.txt"), "top\n");
}

// Windows users type folders with backslashes; missing ones are made.
TEST_F(KivoUnzipExtract, BackslashesInTheTargetFolderOnWindows) {
#ifndef _WIN32
    GTEST_SKIP() << "the backslash separates folders on Windows only";
#endif
    std::string Typed = Out + "/new/deep";
    std::replace(Typed.begin(), Typed.end(), '/', '\\');
    const TResult R = RunTool("x " + Quote(Package) + " -d '" + Typed + "'");
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(ReadBytes(Out + "/new/deep/docs/readme.txt"), "read me\n");
}

TEST_F(KivoUnzipExtract, MasksAndExclusions) {
    TResult R =
        RunTool("x " + Quote(Package) + " -d " + Quote(Out) + " '*.txt' '*.log' -x 'docs/*.log'");
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Entries(Out), (std::vector<std::string>{"docs", "docs/readme.txt", "top.txt"}));
    TResult None = RunTool("x " + Quote(Package) + " -d " + Quote(Out) + " '*.pdf'");
    EXPECT_EQ(None.Status, 1);
    EXPECT_TRUE(Has(None.Err, "no item matches *.pdf")) << None.Err;
}

TEST_F(KivoUnzipExtract, FailedItemsAreOneLineEachAndStatusOne) {
    TResult R = RunTool("x " + Quote(TestData("bad_entries.zip")) + " -d " + Quote(Out));
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(R.Err,
              "kivo-unzip: version_6_4.txt: Cannot extract file - newer version required\n"
              "kivo-unzip: method_99.bin: Cannot extract file - unsupported compression method\n"
              "kivo-unzip: bad_crc.txt: Failed CRC Check\n"
              "kivo-unzip: 3 of 5 items failed\n");
    EXPECT_EQ(Entries(Out),
              (std::vector<std::string>{"bad_crc.txt", "control_ok.txt", "version_6_3.txt"}));

    TResult Unsafe =
        RunTool("x " + Quote(TestData("path_traversal.zip")) + " -d " + Quote(Out + "/p"));
    EXPECT_EQ(Unsafe.Status, 1);
    EXPECT_TRUE(
        Has(Unsafe.Err,
            "kivo-unzip: ../evil_parent.txt: Cannot extract file - stored name leads outside "
            "the base directory\n"));
    EXPECT_EQ(Entries(Out + "/p"), (std::vector<std::string>{"safe", "safe/inside.txt"}));
    EXPECT_FALSE(FileExists(Out + "/evil_parent.txt"));
}

TEST_F(KivoUnzipExtract, ArchivesThatCannotBeOpenedGiveStatusTwo) {
    TResult Missing = RunTool("x " + Quote(Dir / "missing.zip") + " -d " + Quote(Out));
    EXPECT_EQ(Missing.Status, 2);
    EXPECT_EQ(Missing.Err, "kivo-unzip: " + (Dir / "missing.zip") + ": no such file\n");
    EXPECT_FALSE(PathExists(Out)); // no folder for an archive that is not there
    TResult Garbage = RunTool("t " + Quote(TestData("garbage.zip")));
    EXPECT_EQ(Garbage.Status, 2);
    EXPECT_TRUE(Has(Garbage.Err, "garbage.zip: not a ZIP, tar, gzip or bzip2 archive"))
        << Garbage.Err;
    TResult Empty = RunTool("x " + Quote(TestData("empty.zip")));
    EXPECT_EQ(Empty.Status, 2);
    EXPECT_TRUE(Has(Empty.Err, "empty.zip: is empty, not an archive")) << Empty.Err;
    for (const char* Args :
         {"x", "t a.zip -d x", "x a.zip -o -n", "x a.zip -z", "x a.zip -x", "e a.zip -p"}) {
        TResult Usage = RunTool(Args);
        EXPECT_EQ(Usage.Status, 1) << Args;
        EXPECT_TRUE(Has(Usage.Err, "Try 'kivo-unzip --help'")) << Args;
    }
    TResult Help = RunTool("--help");
    EXPECT_TRUE(Has(Help.Out, "kivo-unzip x ARCHIVE [-d DIR]"));
}

TEST_F(KivoUnzipExtract, TestReportsEveryItem) {
    TResult Good = RunTool("t " + Quote(TestData("zip_deflate64.zip")));
    EXPECT_EQ(Good.Status, 0) << Good.Err;
    EXPECT_EQ(Good.Out, "No errors: 11 items tested in " + TestData("zip_deflate64.zip") + "\n");
    TResult Bad = RunTool("t " + Quote(TestData("bad_entries.zip")));
    EXPECT_EQ(Bad.Status, 1);
    EXPECT_EQ(Bad.Out, "");
    EXPECT_TRUE(
        Has(Bad.Err,
            "kivo-unzip: method_99.bin: Cannot extract file - unsupported compression method\n"));
    EXPECT_TRUE(Has(Bad.Err, "kivo-unzip: bad_crc.txt: Failed CRC Check\n"));
    EXPECT_TRUE(Has(Bad.Err, "kivo-unzip: 3 of 5 items failed\n"));
    TResult Masked =
        RunTool("t " + Quote(TestData("bad_entries.zip")) + " 'control*' 'version_6_3*'");
    EXPECT_EQ(Masked.Status, 0);
    EXPECT_TRUE(Has(Masked.Out, "No errors: 2 items tested"));
}

TEST_F(KivoUnzipExtract, PasswordFromTheCommandLine) {
    TResult None = RunTool("x " + Quote(Encrypted) + " -d " + Quote(Out));
    EXPECT_EQ(None.Status, 1);
    EXPECT_EQ(None.Err, "kivo-unzip: secret.txt: Cannot extract file - invalid password\n"
                        "kivo-unzip: 1 of 2 items failed\n");
    EXPECT_EQ(Entries(Out), std::vector<std::string>{"public.txt"});
    TResult Wrong = RunTool("x " + Quote(Encrypted) + " -p nope -d " + Quote(Out));
    EXPECT_EQ(Wrong.Status, 1);
    TResult Right = RunTool("x " + Quote(Encrypted) + " -p letmein -o -d " + Quote(Out));
    EXPECT_EQ(Right.Status, 0) << Right.Err;
    EXPECT_EQ(ReadBytes(Out + "/secret.txt"), "classified\n");
    EXPECT_EQ(RunTool("t " + Quote(TestData("enc_zipcrypto.zip")) + " -p secret").Status, 0);
}

TEST_F(KivoUnzipExtract, PasswordPromptOnATerminal) {
    if (!test::PtyAvailable()) GTEST_SKIP() << NoPty;
    const std::string Cmd = Quote(Tool) + " x " + Quote(Encrypted) + " -d " + Quote(Out);
    TPtyResult R = RunOnPty(Cmd, {{"secret.txt is encrypted; password: ", "wrong\n"},
                                  {"Wrong password for secret.txt; password: ", "letmein\n"}});
    EXPECT_EQ(R.Status, 0) << R.Output;
    EXPECT_FALSE(Has(R.Output, "letmein")); // not echoed
    EXPECT_FALSE(Has(R.Output, "wrong\r"));
    EXPECT_EQ(ReadBytes(Out + "/secret.txt"), "classified\n");

    // An empty answer gives the item up: without any password it is an
    // invalid one, after a wrong one the user's abort.
    TTempDir Other;
    TPtyResult Declined =
        RunOnPty(Quote(Tool) + " x " + Quote(Encrypted) + " -d " + Quote(Other.Path()),
                 {{"password: ", "\n"}});
    EXPECT_EQ(Declined.Status, 1);
    EXPECT_TRUE(Has(Declined.Output, "secret.txt: Cannot extract file - invalid password"))
        << Declined.Output;
    EXPECT_EQ(Entries(Other.Path()), std::vector<std::string>{"public.txt"});
    TPtyResult Aborted =
        RunOnPty(Quote(Tool) + " x -p wrong -o " + Quote(Encrypted) + " -d " + Quote(Other.Path()),
                 {{"Wrong password for secret.txt; password: ", "\n"}});
    EXPECT_EQ(Aborted.Status, 1);
    EXPECT_TRUE(Has(Aborted.Output, "secret.txt: Process aborted by user")) << Aborted.Output;
}

TEST_F(KivoUnzipExtract, OverwriteChoices) {
    ForceDirectories(Out + "/docs");
    WriteBytes(Out + "/top.txt", "mine\n");
    WriteBytes(Out + "/docs/readme.txt", "my readme\n");
    // Not a terminal and no option: existing files stay, with a note, and the
    // status says that not everything was extracted.
    TResult Keep = RunTool("x " + Quote(Package) + " -d " + Quote(Out));
    EXPECT_EQ(Keep.Status, 1);
    EXPECT_TRUE(Has(Keep.Err, "kivo-unzip: 2 existing files kept; -o replaces")) << Keep.Err;
    EXPECT_TRUE(Has(Keep.Err, Out + "/top.txt exists; not replaced (-o replaces existing files)"))
        << Keep.Err;
    EXPECT_EQ(ReadBytes(Out + "/top.txt"), "mine\n");
    TResult Never = RunTool("x " + Quote(Package) + " -n -d " + Quote(Out));
    EXPECT_EQ(Never.Status, 0);
    EXPECT_TRUE(Has(Never.Err, "kivo-unzip: 1 item extracted from " + Package)) << Never.Err;
    EXPECT_TRUE(Has(Never.Err, ", 4 existing kept)\n")) << Never.Err;
    EXPECT_EQ(ReadBytes(Out + "/top.txt"), "mine\n");
    TResult Always = RunTool("x " + Quote(Package) + " -o -d " + Quote(Out));
    EXPECT_EQ(Always.Status, 0);
    EXPECT_EQ(ReadBytes(Out + "/top.txt"), "top\n");
    EXPECT_EQ(ReadBytes(Out + "/docs/readme.txt"), "read me\n");
}

TEST_F(KivoUnzipExtract, OverwriteQuestionsOnATerminal) {
    if (!test::PtyAvailable()) GTEST_SKIP() << NoPty;
    ForceDirectories(Out + "/docs");
    WriteBytes(Out + "/docs/readme.txt", "my readme\n");
    WriteBytes(Out + "/docs/notes.log", "my log\n");
    WriteBytes(Out + "/top.txt", "mine\n");
    const std::string Cmd = Quote(Tool) + " x " + Quote(Package) + " -d " + Quote(Out);
    TPtyResult R = RunOnPty(
        Cmd,
        {{"replace " + Out + "/docs/readme.txt? [y]es, [n]o, [A]ll, [N]one, [r]ename: ", "n\n"},
         {"notes.log? ", "r\n"},
         {"new name: ", "notes-new.log\n"},
         {"top.txt? ", "y\n"}});
    EXPECT_EQ(R.Status, 0) << R.Output;
    EXPECT_EQ(ReadBytes(Out + "/docs/readme.txt"), "my readme\n");
    EXPECT_EQ(ReadBytes(Out + "/docs/notes.log"), "my log\n");
    EXPECT_EQ(ReadBytes(Out + "/docs/notes-new.log"), "log\n");
    EXPECT_EQ(ReadBytes(Out + "/top.txt"), "top\n");

    // [N]one answers the rest.
    WriteBytes(Out + "/top.txt", "mine again\n");
    TPtyResult None = RunOnPty(Cmd, {{"readme.txt? ", "N\n"}});
    EXPECT_EQ(None.Status, 0) << None.Output;
    EXPECT_FALSE(Has(None.Output, "top.txt?"));
    EXPECT_EQ(ReadBytes(Out + "/top.txt"), "mine again\n");
}

TEST_F(KivoUnzipExtract, FailedItemLeavesTheExistingFileOnDisk) {
    ForceDirectories(Out);
    WriteBytes(Out + "/method_99.bin", "keep");
    TResult R = RunTool("x " + Quote(TestData("bad_entries.zip")) + " -o -d " + Quote(Out) +
                        " method_99.bin");
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(ReadBytes(Out + "/method_99.bin"), "keep");
    EXPECT_EQ(Entries(Out), std::vector<std::string>{"method_99.bin"});
}

TEST_F(KivoUnzipExtract, ProgressOnlyOnATerminal) {
    if (!test::PtyAvailable()) GTEST_SKIP() << NoPty;
    TPtyResult R = RunOnPty(
        Quote(Tool) + " x " + Quote(TestData("zip_deflate_6.zip")) + " -d " + Quote(Out), {});
    EXPECT_EQ(R.Status, 0) << R.Output;
    EXPECT_TRUE(Has(R.Output, "\r\x1b[K[")) << R.Output;
    EXPECT_TRUE(Has(R.Output, "/9  ")) << R.Output;                // items
    EXPECT_TRUE(Has(R.Output, "kivo-unzip: 9 items")) << R.Output; // the summary
    TResult Piped = RunTool("x " + Quote(TestData("zip_deflate_6.zip")) + " -o -d " + Quote(Out));
    EXPECT_FALSE(Has(Piped.Err, "\r"));
    TPtyResult Quiet = RunOnPty(
        Quote(Tool) + " x -q -o " + Quote(TestData("zip_deflate_6.zip")) + " -d " + Quote(Out), {});
    EXPECT_EQ(Quiet.Output, "");
}

TEST_F(KivoUnzipExtract, CtrlCStopsAndLeavesNoPartialFile) {
    if (!test::PtyAvailable()) GTEST_SKIP() << NoPty;
    if (const std::string Missing = MissingTool({"zip"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    // Enough data that the extraction is still running when Ctrl-C arrives.
    ForceDirectories(Dir / "big");
    const std::string Block = RandomBytes(8 << 20, 9);
    for (int I = 0; I < 8; ++I)
        WriteBytes(Dir / ("big/part" + std::to_string(I)), Block);
    ASSERT_EQ(Shell("cd " + Quote(Dir.Path()) + " && zip -q -0 -r big.zip big"), 0);
    ForceDirectories(Out + "/big");
    WriteBytes(Out + "/big/part0", "older part0");
    TPtyResult R =
        RunOnPty("exec " + Quote(Tool) + " x -o " + Quote(Dir / "big.zip") + " -d " + Quote(Out),
                 {{"[", "\x03"}});
    EXPECT_EQ(R.Status, 130) << R.Output;
    EXPECT_TRUE(Has(R.Output, "kivo-unzip: interrupted")) << R.Output;
    EXPECT_FALSE(Has(R.Output, "aborted")) << R.Output;
    EXPECT_LT(Entries(Out + "/big").size(), 8u);
    for (const std::string& Name : Entries(Out + "/big")) {
        EXPECT_FALSE(Name.ends_with(".part")) << Name;
        if (Name != "part0") {
            EXPECT_EQ(ReadBytes(Out + "/big/" + Name), Block);
        }
    }
    const std::string Part0 = ReadBytes(Out + "/big/part0");
    EXPECT_TRUE(Part0 == "older part0" || Part0 == Block);
}

} // namespace
