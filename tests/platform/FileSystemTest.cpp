// File-system services: names, attributes, times, temporary names, folders.
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

#include "platform/ShellFolders.h"
#include "tests/common/TestEnv.h"
#include "tests/common/TestFileStatus.h"
#include "tests/common/TestFiles.h"
#include "tests/common/TestSystem.h"

using namespace kivo;

namespace {

using TempDir = test::TTempDir;

void Touch(const std::string& Name) {
    std::ofstream(Name) << "x";
}

// Sets an environment variable for the lifetime of the guard.
class EnvGuard {
public:
    EnvGuard(const char* AName, const char* Value) : FName(AName) {
        if (const char* Old = std::getenv(AName)) FOld = Old;
        test::SetEnvVar(FName, Value != nullptr ? std::optional<std::string>(Value) : std::nullopt);
    }
    ~EnvGuard() { test::SetEnvVar(FName, FOld); }

private:
    std::string FName;
    std::optional<std::string> FOld;
};

// The drive a rooted path like "/a" lands on: none on POSIX, the current
// one on Windows ("C:").
std::string CurrentDrive() {
    const std::string Dir = GetCurrentDir();
    return Dir.substr(0, Dir.find('/'));
}

} // namespace

TEST(FileNames, PartsOfAPath) {
    EXPECT_EQ(ExtractFilePath("/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(ExtractFileDir("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(ExtractFileDir("/c.txt"), "/");
    EXPECT_EQ(ExtractFileName("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(ExtractFileExt("/a/b.d/c"), "") << "a dot in a folder is no extension";
    EXPECT_EQ(ExtractFileExt("c.tar.gz"), ".gz");
    EXPECT_EQ(ChangeFileExt("/x/set.zip", ".z01"), "/x/set.z01");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/x"), "/x/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/x/"), "/x/");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/x//"), "/x");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
    EXPECT_EQ(JoinPath("", "a.zip"), "a.zip");
    EXPECT_EQ(JoinPath("/dl/", "a.zip"), "/dl/a.zip");
    EXPECT_EQ(JoinPath("/dl", "a.zip"), "/dl/a.zip");
}

TEST(FileNames, ExpandResolvesDotsWithoutLeavingTheRoot) {
    const std::string Drive = CurrentDrive();
    EXPECT_EQ(ExpandFileName("/a/./b/../c"), Drive + "/a/c");
    EXPECT_EQ(ExpandFileName("/../../x"), Drive + "/x");
    EXPECT_EQ(ExpandFileName("/a/b/"), Drive + "/a/b/");
    EXPECT_EQ(ExpandFileName("rel"), IncludeTrailingPathDelimiter(GetCurrentDir()) + "rel");
}

TEST(Files, ExistenceAndDirectories) {
    TempDir Dir;
    std::string Deep = Dir.File("a/b/c");
    EXPECT_TRUE(ForceDirectories(Deep + "/"));
    EXPECT_TRUE(DirectoryExists(Deep));
    EXPECT_FALSE(FileExists(Deep)) << "a directory is not a file";
    Touch(Deep + "/f");
    EXPECT_TRUE(FileExists(Deep + "/f"));
    EXPECT_EQ(GetFileSize(Deep + "/f"), 1);
    EXPECT_EQ(GetFileSize(Deep + "/none"), -1);
    EXPECT_FALSE(DeleteFile(Deep)) << "DeleteFile does not remove directories";
    EXPECT_TRUE(RenameFile(Deep + "/f", Deep + "/g"));
    EXPECT_TRUE(DeleteFile(Deep + "/g"));
    EXPECT_TRUE(RemoveDir(Deep));
    Touch(Dir.File("blocker"));
    EXPECT_FALSE(ForceDirectories(Dir.File("blocker/sub")));
    EXPECT_EQ(errno, ENOTDIR) << "a file stands where the folder should be";
}

TEST(Files, ReadOnlyAttributeIsTheOwnerWriteBit) {
    TempDir Dir;
    std::string F = Dir.File("ro.txt");
    Touch(F);
    EXPECT_EQ(FileGetAttr(F) & faReadOnly, 0u);
    EXPECT_TRUE(FileSetAttr(F, faReadOnly | faArchive));
    EXPECT_NE(FileGetAttr(F) & faReadOnly, 0u);
    if (const auto Mode = test::PermissionBits(F)) {
        EXPECT_EQ(*Mode & 0222, 0u) << "no one may write a read-only file";
    }
    EXPECT_TRUE(FileSetAttr(F, 0));
    EXPECT_EQ(FileGetAttr(F) & faReadOnly, 0u);
    EXPECT_TRUE(FileIsWritable(F));
    EXPECT_NE(FileGetAttr(Dir.Path()) & faDirectory, 0u);
    Touch(Dir.File(".hidden"));
    test::MarkHidden(Dir.File(".hidden"));
    EXPECT_NE(FileGetAttr(Dir.File(".hidden")) & faHidden, 0u);
    EXPECT_EQ(FileGetAttr(Dir.File("none")), faInvalid);
}

TEST(Files, LastWriteTimeRoundTripsInLocalTime) {
    TempDir Dir;
    std::string F = Dir.File("t.txt");
    Touch(F);
    TDateTime Want = EncodeDateTime(2021, 6, 15, 12, 34, 56, 0);
    ASSERT_TRUE(FileSetLastWriteTime(F, Want));
    TDateTime Got = 0;
    ASSERT_TRUE(FileGetLastWriteTime(F, Got));
    EXPECT_EQ(FormatDateTimeIso(Got), "2021-06-15 12:34:56");
    EXPECT_FALSE(FileSetLastWriteTime(Dir.File("none"), Want));
}

TEST(Files, AppendToFileCreatesAppendsAndTellsOpenFailuresFromWriteFailures) {
    TempDir Dir;
    ForceDirectories(Dir.File("folder"));
    test::WriteFile(Dir.File("old.log"), "old\n");
    struct TRow {
        std::string Name;
        bool Opened;
        int Error;
        std::string After; // the file's contents afterwards, for files that could be opened
    };
    std::vector<TRow> Rows = {
        {Dir.File("new.log"), true, 0, "line\r\n"},
        {Dir.File("old.log"), true, 0, "old\nline\r\n"},
        {Dir.File("folder"), false, EISDIR, ""},
        {Dir.File("missing/new.log"), false, ENOENT, ""},
    };
    if (!test::FullDevice().empty())
        Rows.push_back({test::FullDevice(), true, ENOSPC, ""}); // opens, but no byte fits
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        const TAppendResult R = AppendToFile(Row.Name, "line\r\n");
        EXPECT_EQ(R.Opened, Row.Opened);
        EXPECT_EQ(R.Error, Row.Error);
        if (Row.Opened && Row.Error == 0) {
            EXPECT_EQ(test::ReadFile(Row.Name), Row.After);
        }
    }
    EXPECT_FALSE(PathExists(Dir.File("missing")));
}

TEST(TempNames, CreatedFilesArePrivateAndUnique) {
    TempDir Dir;
    std::set<std::string> Names;
    for (int i = 0; i < 20; ++i) {
        std::string Name = CreateTempFileName(Dir.Path(), "VMS", true);
        ASSERT_FALSE(Name.empty());
        EXPECT_EQ(ExtractFileName(Name).substr(0, 3), "VMS");
        EXPECT_EQ(GetFileSize(Name), 0);
        if (const auto Mode = test::PermissionBits(Name)) {
            EXPECT_EQ(*Mode & 0777, 0600u);
        }
        Names.insert(Name);
    }
    EXPECT_EQ(Names.size(), 20u);
    std::string Free = CreateTempFileName(Dir.Path(), "VMS", false);
    EXPECT_FALSE(PathExists(Free)) << "without CreateIt no file is left behind";
    EXPECT_TRUE(CreateTempFileName(Dir.File("missing"), "VMS", true).empty());
}

TEST(Drives, RemovableAndFreeSpaceQueriesAnswerForAnyPath) {
    TempDir Dir;
    EXPECT_FALSE(IsRemovablePath(Dir / "does/not/exist/yet"));
    EXPECT_GT(DiskFree(Dir.Path()), 0);
    EXPECT_EQ(DiskFree(Dir / "does/not/exist"), -1);
}

TEST(ShellFolders, AreTheSystemsFoldersInTheProgramsForm) {
    for (int Csidl : {CSIDL_COMMON_DOCUMENTS, CSIDL_LOCAL_APPDATA}) {
        const std::string Path = ShellFolderPath(Csidl);
        SCOPED_TRACE(Path);
        EXPECT_TRUE(IsAbsolutePath(Path));
        EXPECT_EQ(Path.find('\\'), std::string::npos);
        EXPECT_NE(Path.back(), '/');
    }
    EXPECT_EQ(ShellFolderPath(5), "") << "only the two folders the installer uses";
}

TEST(ShellFolders, MapToTheXdgFolders) {
    if (test::OnWindows) GTEST_SKIP() << "Windows keeps its folders in the shell, not in XDG";
    TempDir Home;
    EnvGuard H("HOME", Home.Path().c_str());
    EnvGuard C("XDG_CONFIG_HOME", nullptr);
    EnvGuard D("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(ShellFolderPath(CSIDL_COMMON_DOCUMENTS), Home.Path() + "/Public");
    EXPECT_EQ(ShellFolderPath(CSIDL_LOCAL_APPDATA), Home.Path() + "/.local/share");
    EXPECT_EQ(ShellFolderPath(5), "");

    ForceDirectories(Home.File(".config"));
    std::ofstream(Home.File(".config/user-dirs.dirs"))
        << "# written by xdg-user-dirs-update\nXDG_PUBLICSHARE_DIR=\"$HOME/Öffentlich\"\n";
    EXPECT_EQ(ShellFolderPath(CSIDL_COMMON_DOCUMENTS), Home.Path() + "/Öffentlich");

    EnvGuard D2("XDG_DATA_HOME", "/srv/data/");
    EXPECT_EQ(ShellFolderPath(CSIDL_LOCAL_APPDATA), "/srv/data");
    EnvGuard D3("XDG_DATA_HOME", "relative/ignored");
    EXPECT_EQ(ShellFolderPath(CSIDL_LOCAL_APPDATA), Home.Path() + "/.local/share");
}
