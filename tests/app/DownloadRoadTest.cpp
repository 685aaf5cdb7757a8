// The download button's road through the window's state, against the local
// package server: the web copy engine fetches Zelbrix.zip into the install
// folder (HTTP through libcurl on Linux, WinINet on Windows) and the
// unzipper unpacks it; the buttons move on only when the package could be
// opened and its extraction ran.
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "support/FormFixture.h"
#include "support/PackageServer.h"
#include "tests/common/TestEnv.h"
#include "tests/elevation/support/StandIns.h"

using namespace kivo;
using namespace kivo::test;

namespace {

enum TPackage : uint8_t { pkServer, pkEmpty, pkText };

struct TRoadRow {
    const char* Name;
    TPackage Published;
    const char* Mode;       // of the package server
    bool OlderPackageThere; // an earlier Zelbrix.zip lies in the folder
    bool Done;              // the buttons move on
    bool ServerArrives;     // Zelbrix.exe is in the folder afterwards
};

const TRoadRow RoadRows[] = {
    // The folder did not exist yet: the download makes it.
    {"PackageArrivesAndIsUnpacked", pkServer, "ok", false, true, true},
    // Nothing to extract, the archive closes: done, although no server came.
    {"EmptyPackageCountsAsDone", pkEmpty, "ok", false, true, false},
    {"PackageThatIsNotAZipChangesNothing", pkText, "ok", false, false, false},
    {"HttpErrorWithoutPackageChangesNothing", pkServer, "status 404", false, false, false},
    {"HttpErrorWithAnOlderPackageUnpacksTheOlderOne", pkServer, "status 404", true, true, true},
};

std::string Package(TPackage Kind) {
    switch (Kind) {
    case pkServer:
        return StoredZip(
            {{"Zelbrix.exe", "stand-in server program\n"}, {"README.txt", "server package\n"}});
    case pkEmpty: return StoredZip({});
    case pkText: return "this is a text file, not an archive\n";
    }
    return {};
}

class DownloadRoad : public FormFixture, public ::testing::WithParamInterface<TRoadRow> {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        ASSERT_NE(PackageServer().Port, 0) << "the package server did not start";
        SetEnvVar("KIVO_DOWNLOAD_BASE_URL", PackageServer().BaseUrl());
    }
    void TearDown() override {
        SetEnvVar("KIVO_DOWNLOAD_BASE_URL", std::nullopt);
        FormFixture::TearDown();
    }
};

TEST_P(DownloadRoad, ButtonsMoveOnOnlyWhenThePackageWasUnpacked) {
    const TRoadRow& Row = GetParam();
    TUseFacts Facts(TStandInFacts::StandardUser());
    TStandInUserInterface Ui;
    PackageServer().SetMode(Row.Mode);
    PackageServer().Publish(Package(Row.Published));
    const std::string Older = StoredZip({{"Zelbrix.exe", "older server program\n"}});
    if (Row.OlderPackageThere) {
        ForceDirectories(LocalFolder());
        ASSERT_TRUE(WriteFile(LocalFolder() + "/Zelbrix.zip", Older));
    }
    TRecordingView View;
    auto Form = MakeForm(&View);
    ASSERT_EQ(DirectoryExists(LocalFolder()), Row.OlderPackageThere);
    const std::string Caption = Form->Control(fcButton3).Caption;

    Form->Click(fcButton3);

    const bool Served = std::string(Row.Mode) == "ok";
    EXPECT_EQ(ReadFile(LocalFolder() + "/Zelbrix.zip"), Served ? Package(Row.Published)
                                                        : Row.OlderPackageThere ? Older
                                                                                : "");
    EXPECT_EQ(FileExists(LocalFolder() + "/Zelbrix.exe"), Row.ServerArrives);
    if (Row.ServerArrives && Served) {
        EXPECT_EQ(ReadFile(LocalFolder() + "/README.txt"), "server package\n");
    }
    EXPECT_EQ(Form->Control(fcButton1).Enabled, Row.Done);
    EXPECT_EQ(Form->Control(fcButton2).Enabled, Row.Done);
    EXPECT_EQ(Form->Control(fcButton3).Enabled, !Row.Done);
    EXPECT_EQ(Form->Control(fcButton4).Visible, Row.Done);
    EXPECT_EQ(Form->Control(fcButton3).Caption, Caption); // the caption is left as it is
    EXPECT_TRUE(Ui.Boxes.empty());                        // failures are silent
    EXPECT_TRUE(Ui.Dialogs.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, DownloadRoad, ::testing::ValuesIn(RoadRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

struct TUrlRow {
    const char* Name;
    const char* Override; // nullptr: not set
    const char* Base;     // nullptr: the maker's folder
};

const TUrlRow UrlRows[] = {
    {"NotSet", nullptr, nullptr},
    {"HttpFolderGainsItsSlash", "http://mirror.example/kivo", "http://mirror.example/kivo/"},
    {"Https", "https://m.example/d/", "https://m.example/d/"},
    {"FileUrlIsRefused", "file:///etc/", nullptr},
    {"BlankIsRefused", "http://a b/", nullptr},
};

class DownloadUrl : public ::testing::TestWithParam<TUrlRow> {};

TEST_P(DownloadUrl, OverrideMustBeAnHttpFolder) {
    const TUrlRow& Row = GetParam();
    SetEnvVar("KIVO_DOWNLOAD_BASE_URL",
              Row.Override != nullptr ? std::optional<std::string>(Row.Override) : std::nullopt);
    const std::string Url = DownloadBaseUrl();
    SetEnvVar("KIVO_DOWNLOAD_BASE_URL", std::nullopt);
    EXPECT_EQ(Url, Row.Base != nullptr ? Row.Base : DefaultDownloadBaseUrl);
    const std::string Default = DefaultDownloadBaseUrl;
    EXPECT_EQ(Default.rfind("http://", 0), 0u);
    EXPECT_EQ(Default.substr(Default.size() - 11), "/downloads/");
}

INSTANTIATE_TEST_SUITE_P(Rows, DownloadUrl, ::testing::ValuesIn(UrlRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
