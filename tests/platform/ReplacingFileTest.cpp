// Files written beside their target and moved over it when complete: what the
// target holds afterwards, its permissions, and what is left in the folder.
#include "platform/ReplacingFile.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <optional>

#include "platform/FileSystem.h"
#include "tests/common/TestFileStatus.h"
#include "tests/common/TestFiles.h"
#include "tests/common/TestSystem.h"

using namespace kivo;
using kivo::test::ReadFile;
using kivo::test::TTempDir;
using kivo::test::WriteFile;

namespace {

using test::NewFileMode;

// Name has the permissions Mode: the bits where the system has them, and
// on every system the read-only attribute where the owner may not write.
void ExpectMode(const std::string& Name, unsigned Mode, const char* Why = "") {
    if (const auto Bits = test::PermissionBits(Name)) {
        EXPECT_EQ(*Bits, Mode) << Why;
    }
    EXPECT_EQ((FileGetAttr(Name) & faReadOnly) != 0, (Mode & 0200) == 0) << Why;
}

struct TReplaceCase {
    const char* Name;
    unsigned Existing; // 0: no file there
    TReplacingFileAccess Access;
    size_t BufferSize;
    bool Commit;
    unsigned Expected; // 0: a new file's permissions
};

class ReplacingFile : public ::testing::TestWithParam<TReplaceCase> {};

TEST_P(ReplacingFile, TargetHoldsOldOrNewContentsWithTheirPermissions) {
    const TReplaceCase& C = GetParam();
    TTempDir Dir;
    const std::string Target = Dir / "target.bin";
    if (C.Existing != 0) {
        ASSERT_TRUE(WriteFile(Target, "old contents"));
        ASSERT_TRUE(test::SetMode(Target, C.Existing));
    }
    std::string Written;
    {
        TReplacingFile File(Target, C.Access, C.BufferSize);
        ExpectMode(File.TempName(), C.Expected != 0 ? C.Expected : NewFileMode(),
                   "permissions are final before any data is written");
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
        ExpectMode(Target, C.Expected != 0 ? C.Expected : NewFileMode());
    } else if (C.Existing != 0) {
        EXPECT_EQ(ReadFile(Target), "old contents");
        ExpectMode(Target, C.Existing);
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
    ASSERT_TRUE(test::SetMode(Dir / "readonly", 0444));
    EXPECT_EQ(ReplaceRefusal(Dir / "none"), 0);
    EXPECT_EQ(ReplaceRefusal(Dir / "plain"), 0);
    EXPECT_EQ(ReplaceRefusal(Dir.Path()), EISDIR);
    EXPECT_EQ(ReplaceRefusal(Dir / "readonly"), EACCES)
        << "read-only even for a user who may write it";
    if (test::MakeFifo(Dir / "pipe")) {
        EXPECT_EQ(ReplaceRefusal(Dir / "pipe"), EINVAL);
    }
    EXPECT_EQ(ReplaceRefusal(Dir / std::string(300, 'n')), ENAMETOOLONG);
}

TEST(ReplacingFiles, LinkAtTheTargetIsReplacedNeverFollowed) {
    TTempDir Dir;
    ASSERT_TRUE(WriteFile(Dir / "readonly", "x"));
    ASSERT_TRUE(test::SetMode(Dir / "readonly", 0444));
    if (!test::MakeSymbolicLink(Dir / "readonly", Dir / "link"))
        GTEST_SKIP() << "this system makes no symbolic links";
    EXPECT_EQ(ReplaceRefusal(Dir / "link"), 0);

    // Made and renamed inside the folder handle: the link goes, its target stays.
    TReplacingFile File(TFolderHandle::Open(Dir.Path()), "link");
    File.WriteBuffer("new", 3);
    File.Commit();
    EXPECT_EQ(File.TargetName(), Dir / "link");
    EXPECT_EQ(ReadFile(Dir / "link"), "new");
    EXPECT_EQ(ReadFile(Dir / "readonly"), "x");
}

// The roads a new file takes: made without a name and named at Commit, made
// under a hidden name where the system refuses that, or moved to a hidden
// name where the system will not name it; an entry that appears at the
// target meanwhile is replaced as a file there from the start would be, a
// folder is not.
struct TRoadCase {
    const char* Name;
    TUnnamedFiles Unnamed;
    bool Existing;       // "old contents" at the target from the start
    const char* Appears; // put at the target while the file is written: "file", "folder" or null
    bool Commit;
    bool Fails; // Commit fails (EFCreateError)
    const char*
        Expected; // the target afterwards: "new", "old", "appeared", "folder" or null (none)
};

class ReplacingFileRoad : public ::testing::TestWithParam<TRoadCase> {
protected:
    void TearDown() override { SetUnnamedFiles(ufAllowed); }
};

TEST_P(ReplacingFileRoad, TargetGetsTheWholeFileOrStaysAsItWas) {
    const TRoadCase& C = GetParam();
    SetUnnamedFiles(C.Unnamed);
    TTempDir Dir;
    const std::string Target = Dir / "target.bin";
    if (C.Existing) {
        ASSERT_TRUE(WriteFile(Target, "old contents"));
    }
    std::string Data;
    for (int I = 0; I < 15000; ++I)
        Data += "block " + std::to_string(I) + "\n";
    const TDateTime When = EncodeDateTime(2019, 5, 17, 8, 30, 0, 0);
    {
        TReplacingFile File(TFolderHandle::Open(Dir.Path()), "target.bin", rfaWritable);
        EXPECT_EQ(File.Replaces(), C.Existing);
        ExpectMode(File.TempName(), NewFileMode(), "the new file is reachable while written");
        File.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
#ifdef __linux__
        if (C.Unnamed == ufAllowed && !C.Existing) {
            EXPECT_TRUE(Dir.List().empty())
                << "nothing is left in the folder should the process die";
        }
#endif
        const std::string Appears = C.Appears != nullptr ? C.Appears : "";
        if (Appears == "file") {
            ASSERT_TRUE(WriteFile(Target, "appeared"));
        }
        if (Appears == "folder") {
            ASSERT_TRUE(ForceDirectories(Target + "/inner"));
        }
        File.SetLastWriteTime(When);
        if (C.Commit) {
            if (C.Fails)
                EXPECT_THROW(File.Commit(), EFCreateError);
            else
                EXPECT_NO_THROW(File.Commit());
        }
    }
    const std::string Expected = C.Expected != nullptr ? C.Expected : "";
    EXPECT_EQ(Dir.List(), Expected.empty() ? std::vector<std::string>{}
                                           : std::vector<std::string>{"target.bin"})
        << "no hidden file is left";
    if (Expected == "new") {
        EXPECT_EQ(ReadFile(Target), Data);
        ExpectMode(Target, NewFileMode());
        TDateTime Got = 0;
        ASSERT_TRUE(FileGetLastWriteTime(Target, Got));
        EXPECT_EQ(FormatDateTimeIso(Got), "2019-05-17 08:30:00");
    } else if (Expected == "old") {
        EXPECT_EQ(ReadFile(Target), "old contents");
    } else if (Expected == "appeared") {
        EXPECT_EQ(ReadFile(Target), "appeared");
    } else if (Expected == "folder") {
        EXPECT_TRUE(DirectoryExists(Target + "/inner"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplacingFileRoad,
    ::testing::Values(
        TRoadCase{"NewTarget", ufAllowed, false, nullptr, true, false, "new"},
        TRoadCase{"NewTargetUncommitted", ufAllowed, false, nullptr, false, false, nullptr},
        TRoadCase{"ExistingTargetReplaced", ufAllowed, true, nullptr, true, false, "new"},
        TRoadCase{"ExistingTargetKeptUncommitted", ufAllowed, true, nullptr, false, false, "old"},
        TRoadCase{"FileAppearsMeanwhile", ufAllowed, false, "file", true, false, "new"},
        TRoadCase{"FolderAppearsMeanwhile", ufAllowed, false, "folder", true, true, "folder"},
        TRoadCase{"FileAppearsUncommitted", ufAllowed, false, "file", false, false, "appeared"},
        TRoadCase{"RefusedUnnamed", ufNotCreated, false, nullptr, true, false, "new"},
        TRoadCase{"RefusedUnnamedUncommitted", ufNotCreated, false, nullptr, false, false, nullptr},
        TRoadCase{"RefusedNaming", ufNotNameable, false, nullptr, true, false, "new"},
        TRoadCase{"RefusedNamingUncommitted", ufNotNameable, false, nullptr, false, false, nullptr},
        TRoadCase{"RefusedNamingFileAppears", ufNotNameable, false, "file", true, false, "new"},
        TRoadCase{"RefusedNamingFolderAppears", ufNotNameable, false, "folder", true, true,
                  "folder"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// With rcRefusal the constructor refuses what ReplaceRefusal refuses, from
// its own look at the target, and says whether something is there; with
// rcSeenAbsent (the caller found nothing a moment ago) Commit refuses what
// has taken the name by then.
struct TCheckCase {
    const char* Name;
    TReplaceCheck Check;
    const char* Existing; // "file", "readonly", "folder" or null
    int Refusal;
};

class ReplacingFileCheck : public ::testing::TestWithParam<TCheckCase> {
protected:
    void TearDown() override { SetUnnamedFiles(ufAllowed); }
};

TEST_P(ReplacingFileCheck, RefusesWhatCannotBeReplaced) {
    const TCheckCase& C = GetParam();
    TTempDir Dir;
    const std::string Target = Dir / "t";
    const std::string Existing = C.Existing != nullptr ? C.Existing : "";
    auto Make = [&] {
        if (Existing == "folder") {
            ASSERT_TRUE(ForceDirectories(Target));
        }
        if (Existing == "file" || Existing == "readonly") {
            ASSERT_TRUE(WriteFile(Target, "x"));
        }
        if (Existing == "readonly") {
            ASSERT_TRUE(test::SetMode(Target, 0444));
        }
    };
    const TFolderHandle Folder = TFolderHandle::Open(Dir.Path());
    for (const TUnnamedFiles Unnamed : {ufAllowed, ufNotCreated}) {
        SetUnnamedFiles(Unnamed);
        if (C.Check == rcRefusal) Make();
        std::optional<TReplacingFile> File;
        try {
            File.emplace(Folder, "t", rfaWritable, 0, C.Check);
            EXPECT_EQ(File->Replaces(), C.Check == rcRefusal && !Existing.empty());
            if (C.Check == rcSeenAbsent) Make();
            EXPECT_EQ(ReplaceRefusal(Folder, "t"), C.Refusal);
            File->WriteBuffer("new", 3);
            File->Commit();
            EXPECT_EQ(C.Refusal, 0) << "the target was not refused";
            EXPECT_EQ(ReadFile(Target), "new");
        } catch (const EFCreateError& E) {
            EXPECT_NE(C.Refusal, 0) << E.Message();
            EXPECT_EQ(E.FileName, Target);
        }
        File.reset();
        EXPECT_EQ(Dir.List(), Existing.empty() && C.Refusal != 0 ? std::vector<std::string>{}
                                                                 : std::vector<std::string>{"t"})
            << "nothing else is left";
        test::RemoveTree(Target);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplacingFileCheck,
    ::testing::Values(TCheckCase{"Nothing", rcRefusal, nullptr, 0},
                      TCheckCase{"File", rcRefusal, "file", 0},
                      TCheckCase{"ReadOnlyFile", rcRefusal, "readonly", EACCES},
                      TCheckCase{"Folder", rcRefusal, "folder", EISDIR},
                      TCheckCase{"SeenAbsentStillAbsent", rcSeenAbsent, nullptr, 0},
                      TCheckCase{"SeenAbsentFileAppears", rcSeenAbsent, "file", 0},
                      TCheckCase{"SeenAbsentReadOnlyFileAppears", rcSeenAbsent, "readonly", EACCES},
                      TCheckCase{"SeenAbsentFolderAppears", rcSeenAbsent, "folder", EISDIR}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
