// Folders below a base folder reached without following links: what the walk
// opens or refuses, and what exists afterwards inside and outside the base.
#include "platform/FolderHandle.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/common/TestFileStatus.h"
#include "tests/common/TestFiles.h"
#include "tests/common/TestSystem.h"

using namespace kivo;
using kivo::test::TTempDir;
using kivo::test::WriteFile;

namespace {

struct TWalkCase {
    const char* Name;
    const char* Relative;
    bool Create;
    bool CrossesLink;
    int Error;           // 0: the folder opens; -1: refused, whatever the errno value
    const char* Created; // a folder below the base that exists afterwards, or ""
};

void PrintTo(const TWalkCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class FolderWalk : public ::testing::TestWithParam<TWalkCase> {
protected:
    // base/ holds: link -> ../outside, dangling -> ../nowhere, file, real/;
    // based -> base (the base reached through a link). Without links (Wine
    // makes none) only base/ with its file and folder.
    void SetUp() override {
        ASSERT_TRUE(ForceDirectories(Dir / "base/real") && ForceDirectories(Dir / "outside"));
        ASSERT_TRUE(WriteFile(Dir / "base/file", "x"));
        Links = test::MakeSymbolicLink("../outside", Dir / "base/link");
        if (!Links) return;
        ASSERT_TRUE(test::MakeSymbolicLink("../nowhere", Dir / "base/dangling"));
        ASSERT_TRUE(test::MakeSymbolicLink("base", Dir / "based"));
    }
    TTempDir Dir;
    bool Links = false;
};

TEST_P(FolderWalk, OpensOnlyFoldersReachedWithoutLinks) {
    const TWalkCase& C = GetParam();
    if (!Links && C.CrossesLink) GTEST_SKIP() << "this system makes no symbolic links";
    std::vector<const char*> Bases{"base"};
    if (Links) Bases.push_back("based");
    for (const char* Base : Bases) {
        TFolderWalk Walk = OpenFolderBelow(Dir / Base, C.Relative, C.Create);
        EXPECT_EQ(Walk.Folder.Valid(), C.Error == 0) << Base;
        EXPECT_EQ(Walk.CrossesLink, C.CrossesLink) << Base;
        if (C.Error >= 0) {
            EXPECT_EQ(Walk.Error, C.Error) << Base;
        }
        if (Walk.Folder.Valid()) {
            EXPECT_EQ(Walk.Folder.Path(),
                      *C.Relative ? JoinPath(Dir / Base, C.Relative) : Dir / Base);
            EXPECT_EQ(Walk.Folder.KindOf("nothing"), ekNone);
        }
    }
    if (*C.Created != '\0') {
        EXPECT_TRUE(DirectoryExists(Dir / C.Created));
    }
    EXPECT_FALSE(PathExists(Dir / "nowhere")) << "made through a dangling link";
    EXPECT_TRUE(RemoveDir(Dir / "outside")) << "something was made through a link";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderWalk,
    ::testing::Values(TWalkCase{"TheBaseItself", "", false, false, 0, ""},
                      TWalkCase{"ExistingFolder", "real", false, false, 0, ""},
                      TWalkCase{"MissingFoldersAreMade", "real/a/b", true, false, 0,
                                "base/real/a/b"},
                      TWalkCase{"MissingWithoutCreate", "real/none", false, false, ENOENT, ""},
                      TWalkCase{"LinkOnTheWay", "link/x", true, true, -1, ""},
                      TWalkCase{"LinkAtTheEnd", "link", false, true, -1, ""},
                      TWalkCase{"DanglingLinkIsNoMissingFolder", "dangling/x", true, true, -1, ""},
                      TWalkCase{"FileOnTheWay", "file/x", true, false, ENOTDIR, ""},
                      TWalkCase{"ParentComponent", "real/../real", false, false, EINVAL, ""}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
