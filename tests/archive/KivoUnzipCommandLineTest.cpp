// kivo-unzip's command line as users type it: getopt-style options, masks
// with sets and folders, p to standard output, list --json, and the English
// lines and exit statuses for archives and folders that cannot be used.
#include <gtest/gtest.h>
#include <string>

#include "platform/FileSystem.h"
#include "support/UnzipFixtures.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

struct TCommandRow {
    const char* Name;
    // {A} the archive, {S} it behind an unadjusted stub, {T} the test's
    // folder, {D} a new folder in it.
    const char* Args;
    int Status;
    const char* Out;     // all of standard output ({A} replaced); null: not checked
    const char* Err;     // part of standard error; "" none at all
    const char* Created; // a file below {D} with its contents "name=data"; null: none
};

std::ostream& operator<<(std::ostream& Out, const TCommandRow& Row) {
    return Out << Row.Name;
}

std::string Replaced(std::string Text, const std::string& Key, const std::string& Value) {
    for (size_t At = Text.find(Key); At != std::string::npos;
         At = Text.find(Key, At + Value.size()))
        Text.replace(At, Key.size(), Value);
    return Text;
}

class KivoUnzipCommandLine : public ::testing::TestWithParam<TCommandRow> {
protected:
    std::string Fill(const std::string& Text) const {
        std::string R = Replaced(Text, "{A}", Dir / "a.zip");
        R = Replaced(R, "{S}", Dir / "shifted.zip");
        R = Replaced(R, "{D}", Dir / "out");
        return Replaced(R, "{T}", Dir.Path());
    }
    TTempDir Dir;
};

TEST_P(KivoUnzipCommandLine, DoesWhatTheUserTyped) {
    const TCommandRow& Row = GetParam();
    std::vector<TZipEntryDef> Entries;
    for (auto [Name, Data] : std::vector<std::pair<std::string, std::string>>{
             {"src/bash/a.sh", "a\n"},
             {"src/bash/lib/b.sh", "b\n"},
             {"src/bashful.txt", "full\n"},
             {"Docs/Readme.TXT", "readme\n"},
             {"x1.log", "x1\n"},
             {"y2.log", "y2\n"},
             {"-dash.txt", "dash\n"},
             {std::string("we\"ird\x01name.txt"), "odd\n"},
             {"top.txt", "top\n"}})
        Entries.push_back(Stored(Name, Data));
    const std::string Zip = BuildZip(Entries);
    WriteBytes(Dir / "a.zip", Zip);
    WriteBytes(Dir / "shifted.zip", RandomBytes(4096, 2) + Zip);
    WriteBytes(Dir / "notes.txt", "just some text, no archive at all\n");

    TToolResult R = RunKivoUnzip(Fill(Row.Args), "C.UTF-8");
    EXPECT_EQ(R.Status, Row.Status) << R.Err;
    if (Row.Out != nullptr) {
        EXPECT_EQ(R.Out, Fill(Row.Out));
    }
    if (std::string(Row.Err).empty()) {
        EXPECT_EQ(R.Err, "");
    } else {
        EXPECT_NE(R.Err.find(Fill(Row.Err)), std::string::npos) << R.Err;
    }
    if (Row.Created != nullptr) {
        const std::string Created = Row.Created;
        const size_t Equals = Created.find('=');
        EXPECT_EQ(ReadBytes(Dir / ("out/" + Created.substr(0, Equals))),
                  Created.substr(Equals + 1));
    }
}

const char* const TestedBashFolder = "testing: src/bash/a.sh\n"
                                     "testing: src/bash/lib/b.sh\n"
                                     "No errors: 2 items tested in {A}\n";

INSTANTIATE_TEST_SUITE_P(
    Masks, KivoUnzipCommandLine,
    ::testing::Values(
        TCommandRow{"FolderWithoutSlash", "t -v {A} src/bash", 0, TestedBashFolder, "", nullptr},
        TCommandRow{"FolderWithSlash", "t -v {A} src/bash/", 0, TestedBashFolder, "", nullptr},
        TCommandRow{"TopFolder", "t -qv {A} src", 0,
                    "testing: src/bash/a.sh\ntesting: src/bash/lib/b.sh\n"
                    "testing: src/bashful.txt\nNo errors: 3 items tested in {A}\n",
                    "", nullptr},
        TCommandRow{"Range", "t -v {A} '[w-y]?.log'", 0,
                    "testing: x1.log\ntesting: y2.log\nNo errors: 2 items tested in {A}\n", "",
                    nullptr},
        TCommandRow{"NegatedSet", "t -v {A} '[!x]*.log'", 0,
                    "testing: y2.log\nNo errors: 1 item tested in {A}\n", "", nullptr},
        TCommandRow{"AnyCase", "t --verbose {A} 'docs/*.txt'", 0,
                    "testing: Docs/Readme.TXT\nNo errors: 1 item tested in {A}\n", "", nullptr},
        TCommandRow{"Exclusion", "t -v {A} '*.txt' -x 'src/*' '*name*'", 0,
                    "testing: Docs/Readme.TXT\ntesting: -dash.txt\ntesting: top.txt\n"
                    "No errors: 3 items tested in {A}\n",
                    "", nullptr},
        TCommandRow{"NothingMatches", "t {A} '*.pdf'", 1, "", "no item matches *.pdf", nullptr}),
    [](const auto& Info) { return std::string(Info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Options, KivoUnzipCommandLine,
    ::testing::Values(
        TCommandRow{"CombinedWithAttachedValue", "x -qod{D} {A} top.txt", 0, "", "",
                    "top.txt=top\n"},
        TCommandRow{"LongWithEquals", "x --directory={D} --quiet {A} x1.log", 0, "", "",
                    "x1.log=x1\n"},
        TCommandRow{"LongWithValueApart", "x --directory {D} -q {A} y2.log", 0, "", "",
                    "y2.log=y2\n"},
        TCommandRow{"OperandsBetweenOptions", "x {A} -d {D} top.txt -q", 0, "", "",
                    "top.txt=top\n"},
        TCommandRow{"DoubleDashEndsOptions", "t -v {A} -- -dash.txt", 0,
                    "testing: -dash.txt\nNo errors: 1 item tested in {A}\n", "", nullptr},
        TCommandRow{"UnknownShort", "t -qz {A}", 1, "", "unknown option '-z'", nullptr},
        TCommandRow{"UnknownLong", "t --fast {A}", 1, "", "unknown option '--fast'", nullptr},
        TCommandRow{"MissingValue", "x {A} -d", 1, "", "option '-d' needs a value", nullptr},
        TCommandRow{"ValueForAFlag", "t --quiet=yes {A}", 1, "", "option '--quiet' takes no value",
                    nullptr},
        TCommandRow{"NotForThisCommand", "t -d {D} {A}", 1, "", "option -d does not apply to 't'",
                    nullptr},
        TCommandRow{"SummaryWithoutTerminal", "x -d {D} {A} top.txt", 0, "",
                    "kivo-unzip: 1 item extracted from {A} (4 B)\n", "top.txt=top\n"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Output, KivoUnzipCommandLine,
    ::testing::Values(TCommandRow{"PrintOne", "p {A} top.txt", 0, "top\n", "", nullptr},
                      TCommandRow{"PrintInArchiveOrder", "p {A} '*.log' src/bash", 0,
                                  "a\nb\nx1\ny2\n", "", nullptr},
                      TCommandRow{"PrintNothingMatches", "p {A} nothing", 1, "",
                                  "no item matches nothing", nullptr},
                      TCommandRow{"ListTakesOneArchive", "list --json {A} {S}", 1, "",
                                  "more than one archive given", nullptr},
                      TCommandRow{"ListBehindAStub", "list --tsv {S}", 0, nullptr, "", nullptr}),
    [](const auto& Info) { return std::string(Info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    CannotUse, KivoUnzipCommandLine,
    ::testing::Values(
        TCommandRow{"FolderAsArchive", "t {T}", 2, "", "{T}: is a folder, not an archive", nullptr},
        TCommandRow{"TextAsArchive", "x {T}/notes.txt -d {D}", 2, "",
                    "notes.txt: not a ZIP, tar, gzip or bzip2 archive", nullptr},
        TCommandRow{"MissingArchive", "p {T}/none.zip", 2, "", "none.zip: no such file", nullptr},
        TCommandRow{"FolderBelowAFile", "x {A} -d {T}/notes.txt/sub", 2, "",
                    "notes.txt/sub: cannot create the folder: a file is in the way of a folder",
                    nullptr}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// The JSON listing is valid JSON whatever the names hold.
TEST(KivoUnzipJson, IsValidJsonWithEveryName) {
    if (const std::string Missing = MissingTool({"python3"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    TTempDir Dir;
    WriteBytes(Dir / "a.zip", BuildZip({Stored(std::string("we\"ird\x01\\name.txt"), "odd\n"),
                                        Stored("caf\xc3\xa9.txt", "x")}));
    TToolResult R = RunKivoUnzip("list --json " + Quote(Dir / "a.zip"), "C.UTF-8");
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Out.find("{\"name\":\"we\\\"ird\\u0001\\\\name.txt\",\"size\":4,"),
              std::string::npos)
        << R.Out;
    WriteBytes(Dir / "list.json", R.Out);
    std::string Names;
    EXPECT_EQ(Shell("python3 -c 'import json,sys; print(\"|\".join(i[\"name\"] for i in "
                    "json.load(open(sys.argv[1]))))' " +
                        Quote(Dir / "list.json"),
                    &Names),
              0);
    EXPECT_EQ(Names, "we\"ird\x01\\name.txt|caf\xc3\xa9.txt\n");
}

// A split archive with a missing part: one line naming the part.
TEST(KivoUnzipSplit, MissingPartIsOneLine) {
    if (const std::string Missing = MissingTool({"zip"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    TTempDir Dir;
    WriteBytes(Dir / "r.bin", RandomBytes(300000, 4));
    for (int I = 0; I < 30; ++I)
        WriteBytes(Dir / ("f" + std::to_string(I) + ".txt"), "file " + std::to_string(I));
    ASSERT_EQ(Shell("cd " + Quote(Dir.Path()) + " && zip -q -s 64k s.zip r.bin f*.txt"), 0);
    ASSERT_TRUE(DeleteFile(Dir / "s.z03"));
    for (const char* Command : {"t", "x -d out", "p"}) {
        TToolResult R = RunKivoUnzip(std::string(Command) + " " + Quote(Dir / "s.zip"), "C.UTF-8",
                                     "/dev/null", Dir.Path());
        EXPECT_EQ(R.Status, 2) << Command;
        EXPECT_EQ(R.Err, "kivo-unzip: " + (Dir / "s.zip") + ": part " + (Dir / "s.z03") +
                             " of the split archive is missing or unreadable\n")
            << Command;
    }
}

// The manual page renders without warnings and names every long option the
// help shows.
TEST(KivoUnzipManual, RendersAndNamesEveryOption) {
    if (const std::string Missing = MissingTool({"man"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    const std::string Page = std::string(KIVO_SOURCE_DIR) + "/docs/man/kivo-unzip.1";
    std::string Text;
    ASSERT_EQ(Shell("MANWIDTH=200 man --warnings -l " + Quote(Page) + " 2>&1 >/dev/null", &Text),
              0);
    EXPECT_EQ(Text, "");
    ASSERT_EQ(Shell("MANWIDTH=200 man -l " + Quote(Page) + " 2>/dev/null | col -b", &Text), 0);
    const std::string Help = RunKivoUnzip("--help", "C.UTF-8").Out;
    for (size_t At = Help.find("--"); At != std::string::npos; At = Help.find("--", At + 2)) {
        const size_t End = Help.find_first_of(" =,\n'", At);
        const std::string Option = Help.substr(At, End - At);
        if (Option.size() > 2) {
            EXPECT_NE(Text.find(Option), std::string::npos) << Option;
        }
    }
}

} // namespace
