// File services through their portable interfaces, as both systems must
// give them: absolute names, replacing files with their read-only attribute,
// and the walk to a folder below a base.
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/ReplacingFile.h"
#include "tests/common/TestFiles.h"

using namespace kivo;
using kivo::test::ReadFile;
using kivo::test::TTempDir;
using kivo::test::WriteFile;

namespace {

#ifdef _WIN32
constexpr bool OnWindows = true;
#else
constexpr bool OnWindows = false;
#endif

struct TAbsoluteCase {
    const char* Name;
    bool Posix;   // absolute on POSIX systems
    bool Windows; // absolute on Windows
};

class AbsolutePath : public ::testing::TestWithParam<TAbsoluteCase> {};

TEST_P(AbsolutePath, FollowsThePlatformsRule) {
    const TAbsoluteCase& C = GetParam();
    EXPECT_EQ(IsAbsolutePath(C.Name), OnWindows ? C.Windows : C.Posix) << C.Name;
}

INSTANTIATE_TEST_SUITE_P(Names, AbsolutePath,
                         ::testing::Values(TAbsoluteCase{"/work/a.txt", true, true},
                                           TAbsoluteCase{"a/b.txt", false, false},
                                           TAbsoluteCase{"", false, false},
                                           TAbsoluteCase{"C:/a.txt", false, true},
                                           TAbsoluteCase{"c:\\a.txt", false, true},
                                           TAbsoluteCase{"C:a.txt", false, false},
                                           TAbsoluteCase{"\\\\server\\share", false, true},
                                           TAbsoluteCase{"1:/a.txt", false, false}));

TEST(ExpandedName, IsAbsoluteAndResolvesDots) {
    const std::string Full = ExpandFileName("a/./b/../c.txt");
    EXPECT_TRUE(IsAbsolutePath(Full)) << Full;
    EXPECT_EQ(ExtractFileName(Full), "c.txt");
    EXPECT_EQ(ExtractFileName(ExtractFileDir(Full)), "a");
    EXPECT_EQ(Full.find('\\'), std::string::npos) << "names inside use '/'";
}

struct TReplaceCase {
    const char* Label;
    bool Existing;               // an old file stands at the target
    TReplacingFileAccess Access; // the new file's write permission
    bool Commit;                 // committed, else discarded
    size_t BufferSize;
};

class ReplacingTarget : public ::testing::TestWithParam<TReplaceCase> {};

TEST_P(ReplacingTarget, HoldsTheOldOrTheWholeNewFileAndNothingElse) {
    const TReplaceCase& C = GetParam();
    TTempDir Dir;
    const std::string Target = Dir / "target.txt";
    if (C.Existing) {
        ASSERT_TRUE(WriteFile(Target, "old"));
    }
    {
        TReplacingFile File(Target, C.Access, C.BufferSize);
        File.WriteBuffer("new ", 4);
        File.WriteBuffer("contents", 8);
        if (C.Commit) File.Commit();
    }
    const std::vector<std::string> Expected{"target.txt"};
    if (!C.Commit) {
        EXPECT_EQ(Dir.List(), C.Existing ? Expected : std::vector<std::string>{});
        if (C.Existing) {
            EXPECT_EQ(ReadFile(Target), "old");
        }
        return;
    }
    EXPECT_EQ(Dir.List(), Expected) << "no temporary file stays behind";
    EXPECT_EQ(ReadFile(Target), "new contents");
    EXPECT_EQ((FileGetAttr(Target) & faReadOnly) != 0, C.Access == rfaReadOnly);
    if (C.Access == rfaReadOnly) {
        EXPECT_TRUE(FileSetAttr(Target, 0)); // for the clean-up
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplacingTarget,
    ::testing::Values(TReplaceCase{"new_file", false, rfaKeep, true, 0},
                      TReplaceCase{"over_old", true, rfaKeep, true, 0},
                      TReplaceCase{"buffered", true, rfaWritable, true, 3},
                      TReplaceCase{"read_only", false, rfaReadOnly, true, 0},
                      TReplaceCase{"read_only_over_old", true, rfaReadOnly, true, 64},
                      TReplaceCase{"discarded", true, rfaKeep, false, 0},
                      TReplaceCase{"discarded_read_only", false, rfaReadOnly, false, 0}),
    [](const auto& Info) { return std::string(Info.param.Label); });

struct TWalkCase {
    const char* Relative;
    bool Reached; // the walk ends in the folder
};

class FolderWalk : public ::testing::TestWithParam<TWalkCase> {};

TEST_P(FolderWalk, MakesFoldersBelowTheBaseOnly) {
    const TWalkCase& C = GetParam();
    TTempDir Dir;
    ASSERT_TRUE(CreateDir(Dir / "base"));
    const TFolderWalk Walk = OpenFolderBelow(Dir / "base", C.Relative, true);
    EXPECT_EQ(Walk.Folder.Valid(), C.Reached) << C.Relative;
    EXPECT_FALSE(Walk.CrossesLink);
    if (C.Reached) {
        EXPECT_TRUE(DirectoryExists(Dir / "base/" + C.Relative));
        EXPECT_EQ(Walk.Error, 0);
    } else {
        EXPECT_NE(Walk.Error, 0);
        EXPECT_EQ(Dir.List(), std::vector<std::string>{"base"}) << "nothing made outside";
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, FolderWalk,
                         ::testing::Values(TWalkCase{"a", true}, TWalkCase{"a/b/c", true},
                                           TWalkCase{"../out", false},
                                           TWalkCase{"a/../../out", false},
                                           TWalkCase{"a//b", false}));

} // namespace
