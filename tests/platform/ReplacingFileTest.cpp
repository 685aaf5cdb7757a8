// Files written beside their target and moved over it when complete: what the
// target holds afterwards, its permissions, and what is left in the folder.
#include "platform/ReplacingFile.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/FileSystem.h"
#include "tests/common/TestFiles.h"

using namespace kivo;
using kivo::test::ReadFile;
using kivo::test::TTempDir;
using kivo::test::WriteFile;

namespace {

mode_t ModeOf(const std::string& Name) {
    struct stat St {};
    return ::stat(Name.c_str(), &St) == 0 ? St.st_mode & 07777 : 0;
}

mode_t NewFileMode() {
    const mode_t Mask = ::umask(0);
    ::umask(Mask);
    return 0666 & ~Mask;
}

struct TReplaceCase {
    const char* Name;
    mode_t Existing; // 0: no file there
    TReplacingFileAccess Access;
    size_t BufferSize;
    bool Commit;
    mode_t Expected; // 0: a new file's permissions
};

class ReplacingFile : public ::testing::TestWithParam<TReplaceCase> {};

TEST_P(ReplacingFile, TargetHoldsOldOrNewContentsWithTheirPermissions) {
    const TReplaceCase& C = GetParam();
    TTempDir Dir;
    const std::string Target = Dir / "target.bin";
    if (C.Existing != 0) {
        ASSERT_TRUE(WriteFile(Target, "old contents"));
        ASSERT_EQ(::chmod(Target.c_str(), C.Existing), 0);
    }
    std::string Written;
    {
        TReplacingFile File(Target, C.Access, C.BufferSize);
        EXPECT_EQ(ModeOf(File.TempName()), C.Expected != 0 ? C.Expected : NewFileMode())
            << "permissions are final before any data is written";
        for (size_t Size : {1, 7, 64, 3, 200}) {
            const std::string Block(Size, static_cast<char>('a' + Size % 26));
            File.WriteBuffer(Block.data(), static_cast<int64_t>(Block.size()));
            Written += Block;
        }
        EXPECT_EQ(File.Position(), static_cast<int64_t>(Written.size()));
        if (C.Commit) File.Commit();
    }
    EXPECT_EQ(Dir.List().size(), C.Existing != 0 || C.Commit ? 1u : 0u)
        << "no temporary file is left";
    if (C.Commit) {
        EXPECT_EQ(ReadFile(Target), Written);
        EXPECT_EQ(ModeOf(Target), C.Expected != 0 ? C.Expected : NewFileMode());
    } else if (C.Existing != 0) {
        EXPECT_EQ(ReadFile(Target), "old contents");
        EXPECT_EQ(ModeOf(Target), C.Existing);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplacingFile,
    ::testing::Values(TReplaceCase{"NewFileUnbuffered", 0, rfaKeep, 0, true, 0},
                      TReplaceCase{"NewFileBuffered", 0, rfaKeep, 16, true, 0},
                      TReplaceCase{"KeepsTheReplacedPermissions", 0640, rfaKeep, 16, true, 0640},
                      TReplaceCase{"ReadOnlyItem", 0644, rfaReadOnly, 0, true, 0444},
                      TReplaceCase{"WritableItem", 0444, rfaWritable, 0, true, 0644},
                      TReplaceCase{"NoSetUserIdForNewContents", 04755, rfaKeep, 0, true, 0755},
                      TReplaceCase{"UncommittedLeavesTheTarget", 0600, rfaKeep, 16, false, 0600},
                      TReplaceCase{"UncommittedNewFileLeavesNothing", 0, rfaKeep, 0, false, 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ReplacingFiles, FailuresKeepTheTargetAndLeaveNoTemporaryFile) {
    TTempDir Dir;
    EXPECT_THROW(TReplacingFile(Dir / "missing/target.bin"), EFCreateError);

    // A folder in the target's place (with something in it) cannot be replaced.
    const std::string Folder = Dir / "folder";
    ASSERT_TRUE(ForceDirectories(Folder + "/inner"));
    TReplacingFile File(Folder);
    File.WriteBuffer("data", 4);
    try {
        File.Commit();
        ADD_FAILURE() << "a folder was replaced";
    } catch (const EFCreateError& E) {
        EXPECT_EQ(E.FileName, Folder);
    }
    EXPECT_EQ(Dir.List(), std::vector<std::string>{"folder"});
    EXPECT_TRUE(DirectoryExists(Folder + "/inner"));
}

TEST(ReplacingFiles, CommitAppliesTheLastWriteTime) {
    TTempDir Dir;
    TReplacingFile File(Dir / "dated.txt");
    File.SetLastWriteTime(EncodeDateTime(2020, 2, 29, 23, 58, 0, 0));
    File.Commit();
    TDateTime Got = 0;
    ASSERT_TRUE(FileGetLastWriteTime(Dir / "dated.txt", Got));
    EXPECT_EQ(FormatDateTimeIso(Got), "2020-02-29 23:58:00");
}

TEST(ReplacingFiles, RefusalSaysWhyATargetCannotBeReplaced) {
    TTempDir Dir;
    ASSERT_TRUE(WriteFile(Dir / "plain", "x"));
    ASSERT_TRUE(WriteFile(Dir / "readonly", "x"));
    ASSERT_EQ(::chmod((Dir / "readonly").c_str(), 0444), 0);
    ASSERT_EQ(::mkfifo((Dir / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((Dir / "readonly").c_str(), (Dir / "link").c_str()), 0);
    EXPECT_EQ(ReplaceRefusal(Dir / "none"), 0);
    EXPECT_EQ(ReplaceRefusal(Dir / "plain"), 0);
    EXPECT_EQ(ReplaceRefusal(Dir.Path()), EISDIR);
    EXPECT_EQ(ReplaceRefusal(Dir / "readonly"), EACCES)
        << "read-only even for a user who may write it";
    EXPECT_EQ(ReplaceRefusal(Dir / "pipe"), EINVAL);
    EXPECT_EQ(ReplaceRefusal(Dir / "link"), 0) << "a link is replaced, never followed";
    EXPECT_EQ(ReplaceRefusal(Dir / std::string(300, 'n')), ENAMETOOLONG);

    // Made and renamed inside the folder handle: the link goes, its target stays.
    TReplacingFile File(TFolderHandle::Open(Dir.Path()), "link");
    File.WriteBuffer("new", 3);
    File.Commit();
    EXPECT_EQ(File.TargetName(), Dir / "link");
    EXPECT_EQ(ReadFile(Dir / "link"), "new");
    EXPECT_EQ(ReadFile(Dir / "readonly"), "x");
}

} // namespace
