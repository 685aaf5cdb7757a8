#include "util/QxUtilPath.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/ShellFolders.h"
#include "tests/common/TestEnv.h"
#include "tests/common/TestFiles.h"
#include "util/QxBasicStringProcs.h"

namespace kivo {
namespace {

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* AName, const char* Value) : FName(AName) {
        if (const char* Old = std::getenv(AName)) FOld = Old;
        test::SetEnvVar(AName, Value ? std::optional<std::string>(Value) : std::nullopt);
    }
    ~ScopedEnv() { test::SetEnvVar(FName, FOld); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string FName;
    std::optional<std::string> FOld;
};

class ProfileFolders : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "the profile folders come from the shell on Windows, not from XDG settings";
#endif
        FHome = test::MakeTempDir("kivo-home-");
        ASSERT_TRUE(CreateDir(FHome + "/.config"));
    }
    void TearDown() override {
        if (!FHome.empty()) test::RemoveTree(FHome);
    }
    std::string FHome;
};

TEST_F(ProfileFolders, DefaultsBelowHome) {
    ScopedEnv Home("HOME", FHome.c_str());
    ScopedEnv Config("XDG_CONFIG_HOME", nullptr);
    ScopedEnv Data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(GetCommonDocumentsFolder(), FHome + "/Public");
    EXPECT_EQ(GetLocalAppDataFolder(), FHome + "/.local/share");
    EXPECT_EQ(GetShellFolderPath(CSIDL_COMMON_DOCUMENTS), FHome + "/Public");
    EXPECT_EQ(GetPublicProfileFolder(), FHome + "/Public/KIVO Profile");
    EXPECT_EQ(GetLocalProfileFolder(), FHome + "/.local/share/KIVO/KIVO Profile");
}

TEST_F(ProfileFolders, FollowsXdgSettings) {
    ScopedEnv Home("HOME", FHome.c_str());
    ScopedEnv Config("XDG_CONFIG_HOME", (FHome + "/.config").c_str());
    ScopedEnv Data("XDG_DATA_HOME", "/srv/data/");
    std::ofstream(FHome + "/.config/user-dirs.dirs")
        << "XDG_PUBLICSHARE_DIR=\"$HOME/Öffentlich\"\n";
    EXPECT_EQ(GetPublicProfileFolder(), FHome + "/Öffentlich/KIVO Profile");
    EXPECT_EQ(GetLocalProfileFolder(), "/srv/data/KIVO/KIVO Profile");
}

TEST_F(ProfileFolders, InstallerFilePathsKeepTheBlank) {
    ScopedEnv Home("HOME", FHome.c_str());
    ScopedEnv Config("XDG_CONFIG_HOME", nullptr);
    ScopedEnv Data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(AddTrailingBackslash(GetPublicProfileFolder()) + "Zelbrix.exe",
              FHome + "/Public/KIVO Profile/Zelbrix.exe");
}

TEST(ShellFolderQuery, UnknownFolderIsEmpty) {
    EXPECT_EQ(GetShellFolderPath(5), "");
}

TEST(AddTrailingBackslash, AppendsThePlatformDelimiterOnce) {
    EXPECT_EQ(AddTrailingBackslash("/opt/kivo"), "/opt/kivo/");
    EXPECT_EQ(AddTrailingBackslash("/opt/kivo/"), "/opt/kivo/");
    EXPECT_EQ(AddTrailingBackslash(""), "/");
    EXPECT_EQ(AddTrailingBackslash("/"), "/");
    EXPECT_EQ(AddTrailingBackslash("KIVO Profile"), "KIVO Profile/");
}

} // namespace
} // namespace kivo
