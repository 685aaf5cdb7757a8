// The download button of the Qt window end to end against a local HTTP
// server: the click reaches the shared download road, the engine's progress
// dialog shows and can cancel. The road's outcomes for each kind of package
// are checked once, through the window's state (DownloadRoadTest).
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <cstdlib>

#include "app/QtRunElevatedForm.h"
#include "app/QtUserInterface.h"
#include "platform/FileSystem.h"
#include "runtime/Application.h"
#include "support/AppFixture.h"
#include "support/PackageServer.h"
#include "tests/common/TestFiles.h"
#include "tests/elevation/support/StandIns.h"

using namespace kivo;
using namespace kivo::test;

namespace {

class Download : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        ASSERT_NE(PackageServer().Port, 0) << "the package server did not start";
        ::setenv("KIVO_DOWNLOAD_BASE_URL", PackageServer().BaseUrl().c_str(), 1);
        PackageServer().SetMode("ok");
        Stage = Root + "/stage";
        ForceDirectories(Stage);
    }
    void TearDown() override {
        ::unsetenv("KIVO_DOWNLOAD_BASE_URL");
        SetMessagePump([] { QCoreApplication::processEvents(); });
        AppFixture::TearDown();
    }

    // Zelbrix.zip with the stand-in server program and a second file.
    std::string MakePackage() {
        PlaceServer(Stage);
        EXPECT_TRUE(WriteFile(Stage + "/README.txt", "server package\n"));
        std::string Zip = Stage + "/Zelbrix.zip";
        EXPECT_EQ(
            std::system(
                ("cd '" + Stage + "' && zip -q -X Zelbrix.zip Zelbrix.exe README.txt").c_str()),
            0);
        return ReadFile(Zip);
    }
    void Publish(const std::string& Package) { PackageServer().Publish(Package); }

    std::string Stage;
};

void ExpectUnchanged(TRunElevatedForm& F) {
    EXPECT_FALSE(F.Button1->isEnabled());
    EXPECT_FALSE(F.Button2->isEnabled());
    EXPECT_TRUE(F.Button3->isEnabled());
    EXPECT_TRUE(F.Button4->isHidden());
}

} // namespace

TEST_F(Download, PackageArrivesInAFolderThatDidNotExistAndIsUnpacked) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    std::string Package = MakePackage();
    Publish(Package);
    TRunElevatedForm Form;
    Form.show();
    ASSERT_FALSE(DirectoryExists(LocalFolder()));
    std::string Caption = Form.Button3->text().toStdString();

    Form.Button3->click();

    EXPECT_EQ(ReadFile(LocalFolder() + "/Zelbrix.zip"), Package);
    EXPECT_TRUE(FileExists(LocalFolder() + "/Zelbrix.exe"));
    EXPECT_EQ(ReadFile(LocalFolder() + "/README.txt"), "server package\n");
    EXPECT_TRUE(Form.Button1->isEnabled());
    EXPECT_TRUE(Form.Button2->isEnabled());
    EXPECT_FALSE(Form.Button3->isEnabled());
    EXPECT_FALSE(Form.Button4->isHidden());
    EXPECT_EQ(Form.Button3->text().toStdString(), Caption); // the caption is left as it is
    Screenshot(Form, "11-after-download-server-present");
}

TEST_F(Download, CancelledDownloadLeavesNoPackageAndChangesNothing) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    // Large enough that the slow server is still sending when we cancel.
    Publish(std::string(256 * 1024, 'x'));
    PackageServer().SetMode("slow");
    TRunElevatedForm Form;
    bool Cancelled = false;
    int Seen = 0;
    SetMessagePump([&] {
        QCoreApplication::processEvents();
        if (Cancelled) return;
        for (QWidget* W : QApplication::topLevelWidgets()) {
            auto* Dialog = qobject_cast<QDialog*>(W);
            if (Dialog == nullptr || !Dialog->isVisible()) continue;
            for (QPushButton* B : Dialog->findChildren<QPushButton*>()) {
                if (B->text() != QStringLiteral("Cancel") || !B->isVisible()) continue;
                if (++Seen < 8) return; // a few blocks into the transfer
                Screenshot(*Dialog, "10-download-progress");
                Cancelled = true;
                B->click();
                return;
            }
        }
    });
    Form.Button3->click();
    EXPECT_TRUE(Cancelled) << "no progress dialog with a Cancel button was seen";
    EXPECT_FALSE(FileExists(LocalFolder() + "/Zelbrix.zip"));
    ExpectUnchanged(Form);
}
