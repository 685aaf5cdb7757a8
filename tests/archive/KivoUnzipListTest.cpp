// kivo-unzip list, run as users and scripts run it: every shared ZIP archive
// listed in the tab-separated form against the manifest, the readable
// listing, exit statuses and messages.
#include "platform/FileSystem.h"
#include "runtime/Text.h"
#include "support/ZipFixtures.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

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

TEST(KivoUnzipList, TsvListingOfEverySharedZipMatchesTheManifest) {
    std::map<std::string, std::vector<TManifestLine>> ByArchive;
    for (const TManifestLine& L : ReadManifest())
        ByArchive[L.Archive].push_back(L);
    int Listed = 0;
    for (const auto& [Archive, Lines] : ByArchive) {
        if (!EndsStr(".zip", Archive) && !EndsStr(".exe", Archive)) continue;
        SCOPED_TRACE(Archive);
        TResult R = RunTool("list --tsv " + Quote(TestData(Archive)));
        if (Lines[0].Kind == "none") {
            // The manifest expects a failure (or, for the empty file, the
            // unzipper's refusal of a 0-byte file).
            EXPECT_EQ(R.Status, 2);
            EXPECT_TRUE(R.Out.empty());
            EXPECT_NE(R.Err.find(Archive == "empty.zip" ? "Invalid Stream"
                                                        : "Invalid file - not a PKZip file"),
                      std::string::npos)
                << R.Err;
            continue;
        }
        if (Archive == "sfx_mz_nofix.exe") {
            EXPECT_EQ(R.Status, 2);
            continue;
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
            ++Listed;
            continue;
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
        ++Listed;
    }
    EXPECT_GE(Listed, 45);
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
    EXPECT_EQ(Missing.Err, "kivo-unzip: /nonexistent/a.zip: File not found\n");
    TResult Dir = RunTool("list /tmp");
    EXPECT_EQ(Dir.Status, 2);
    TResult Bad = RunTool("list --tsv " + Quote(TestData("garbage.zip")));
    EXPECT_EQ(Bad.Status, 2);
    EXPECT_EQ(Bad.Err,
              "kivo-unzip: " + TestData("garbage.zip") + ": Invalid file - not a PKZip file\n");

    TResult Help = RunTool("--help");
    EXPECT_EQ(Help.Status, 0);
    EXPECT_NE(Help.Out.find("Usage: kivo-unzip list [--tsv] ARCHIVE"), std::string::npos);
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
