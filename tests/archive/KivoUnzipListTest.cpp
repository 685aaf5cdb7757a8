// kivo-unzip list, run as users and scripts run it: every shared ZIP archive
// (one test case each) listed in the tab-separated form against the manifest,
// the readable listing, exit statuses and messages.
#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "support/CorpusArchives.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

using TResult = TToolResult;

TResult RunTool(const std::string& Args) {
    return RunKivoUnzip(Args, "en_US.UTF-8");
}

std::vector<std::vector<std::string>> TsvRows(const std::string& Text) {
    std::vector<std::vector<std::string>> Rows;
    std::istringstream In(Text);
    std::string Line;
    while (std::getline(In, Line)) {
        Rows.push_back(SplitTabs(Line));
    }
    return Rows;
}

// What kivo-unzip says about an archive it cannot open.
std::string CannotOpenMessage(TArchiveFault Fault) {
    // The unzipper refuses a 0-byte file before it looks for ZIP records.
    return Fault == TArchiveFault::EmptyFile ? "is empty, not an archive"
                                             : "not a ZIP, tar, gzip or bzip2 archive";
}

class KivoUnzipListCorpus : public ::testing::TestWithParam<TCorpusArchive> {};

TEST_P(KivoUnzipListCorpus, TsvListingMatchesTheManifest) {
    const TCorpusArchive& Archive = GetParam();
    const std::vector<TManifestLine>& Lines = Archive.Lines;
    TResult R = RunTool("list --tsv " + Quote(TestData(Archive.Name)));
    // The tool reads an archive behind a stub whose offsets were not adjusted
    // with the shift, as other unzip programs do.
    if (Archive.Fault != TArchiveFault::None && Archive.Fault != TArchiveFault::UnadjustedStub) {
        EXPECT_EQ(R.Status, 2);
        EXPECT_TRUE(R.Out.empty());
        EXPECT_NE(R.Err.find(CannotOpenMessage(Archive.Fault)), std::string::npos) << R.Err;
        return;
    }
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_TRUE(R.Err.empty());
    auto Rows = TsvRows(R.Out);
    for (const auto& Row : Rows) {
        ASSERT_EQ(Row.size(), 9u);
        EXPECT_EQ(Row[4].size(), 8u);
        EXPECT_EQ(Row[4].find_first_not_of("0123456789abcdef"), std::string::npos);
        EXPECT_EQ(Row[5].size(), 19u);
        EXPECT_EQ(Row[6].size(), 2u);
    }
    if (Lines[0].Kind == "count") {
        EXPECT_EQ(std::to_string(Rows.size()), Lines[0].Size);
        return;
    }
    ASSERT_EQ(Rows.size(), Lines.size());
    for (size_t I = 0; I < Rows.size(); ++I) {
        EXPECT_EQ(Rows[I][0], Lines[I].Entry);
        if (Lines[I].Kind == "file") {
            EXPECT_EQ(Rows[I][1], Lines[I].Size);
        }
        EXPECT_EQ(Rows[I][3], Lines[I].Method.substr(0, Lines[I].Method.find(' ')));
        EXPECT_EQ(Rows[I][7], Lines[I].Kind == "dir" ? "d" : "-");
        bool Encrypted = Lines[I].Notes.find("encrypted(") != std::string::npos;
        EXPECT_EQ(Rows[I][8], Encrypted ? "e" : "-") << Lines[I].Entry;
    }
}

INSTANTIATE_TEST_SUITE_P(SharedArchives, KivoUnzipListCorpus,
                         ::testing::ValuesIn(SharedZipArchives()), CorpusCaseName);

// Enough of the corpus is listed: a manifest that cannot be read, or a table
// that marks too many archives as failing, would leave little checked.
TEST(KivoUnzipList, CorpusHoldsEnoughArchivesToList) {
    ASSERT_FALSE(ReadManifest().empty());
    const std::vector<TCorpusArchive> Archives = SharedZipArchives();
    EXPECT_GE(std::count_if(Archives.begin(), Archives.end(),
                            [](const TCorpusArchive& A) { return A.Fault == TArchiveFault::None; }),
              45);
}

TEST(KivoUnzipList, TsvColumnsOfOneKnownEntry) {
    TResult R = RunTool("list --tsv " + Quote(TestData("path_traversal.zip")));
    ASSERT_EQ(R.Status, 0);
    auto Rows = TsvRows(R.Out);
    ASSERT_FALSE(Rows.empty());
    EXPECT_EQ(Rows[0], (std::vector<std::string>{"safe/inside.txt", "32", "34", "8", "cf6a42f8",
                                                 "2021-06-15 12:34:56", "01", "-", "-"}));
    TResult Dirs = RunTool("list --tsv " + Quote(TestData("zip_store.zip")));
    EXPECT_EQ(TsvRows(Dirs.Out)[0],
              (std::vector<std::string>{"m/", "0", "0", "0", "00000000", "2020-09-13 12:26:40",
                                        "10", "d", "-"}));
}

TEST(KivoUnzipList, ReadableListing) {
    TResult R = RunTool("list " + Quote(TestData("enc_zipcrypto.zip")));
    ASSERT_EQ(R.Status, 0);
    EXPECT_NE(R.Out.find("m/docs/readme.txt"), std::string::npos);
    EXPECT_NE(R.Out.find("deflated*"), std::string::npos);
    EXPECT_NE(R.Out.find("8 items\n"), std::string::npos);
    EXPECT_NE(R.Out.find("(* encrypted)"), std::string::npos);
    TResult C = RunTool("list " + Quote(TestData("comment_1000.zip")));
    EXPECT_NE(C.Out.find("Comment: "), std::string::npos);
    EXPECT_NE(C.Out.find("1 item\n"), std::string::npos);
}

TEST(KivoUnzipList, ControlCharactersInNamesAreMasked) {
    TTempDir Dir;
    TZipEntryDef E;
    E.RawName = "evil\x1b[2Jname\tx.txt";
    E.Data = "x";
    WriteBytes(Dir / "ctl.zip", BuildZip({E}));
    TResult R = RunTool("list --tsv " + Quote(Dir / "ctl.zip"));
    ASSERT_EQ(R.Status, 0);
    EXPECT_EQ(TsvRows(R.Out)[0][0], "evil?[2Jname?x.txt");
}

TEST(KivoUnzipList, ExitStatusesAndMessages) {
    TResult Missing = RunTool("list /nonexistent/a.zip");
    EXPECT_EQ(Missing.Status, 2);
    EXPECT_EQ(Missing.Err, "kivo-unzip: /nonexistent/a.zip: no such file\n");
    TResult Dir = RunTool("list /tmp");
    EXPECT_EQ(Dir.Status, 2);
    TResult Bad = RunTool("list --tsv " + Quote(TestData("garbage.zip")));
    EXPECT_EQ(Bad.Status, 2);
    EXPECT_EQ(Bad.Err,
              "kivo-unzip: " + TestData("garbage.zip") +
                  ": not a ZIP, tar, gzip or bzip2 archive, or its ZIP directory is damaged\n");

    TResult Help = RunTool("--help");
    EXPECT_EQ(Help.Status, 0);
    EXPECT_NE(Help.Out.find("Usage: kivo-unzip list [--tsv|--json] ARCHIVE"), std::string::npos);
    TResult Version = RunTool("--version");
    EXPECT_EQ(Version.Status, 0);
    EXPECT_EQ(Version.Out.rfind("kivo-unzip ", 0), 0u);
    for (const char* Args :
         {"", "list", "frobnicate x.zip", "list --bogus x.zip", "list a.zip b.zip"}) {
        TResult Usage = RunTool(Args);
        EXPECT_EQ(Usage.Status, 1) << Args;
        EXPECT_NE(Usage.Err.find("Try 'kivo-unzip --help'"), std::string::npos) << Args;
    }
}

} // namespace
