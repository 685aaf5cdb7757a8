// The registration action of the elevated copy: the server program started
// with its switch, and the two dialogs when it cannot be started.
#include <QApplication>
#include <QMessageBox>

#include "app/QtRunElevatedForm.h"
#include "app/QtUserInterface.h"
#include "elevation/QxUtilRunElevated.h"
#include "platform/FileSystem.h"
#include "support/AppFixture.h"
#include "tests/elevation/support/StandIns.h"

using namespace kivo;
using namespace kivo::test;

namespace {
class ElevatedAction : public AppFixture {};
} // namespace

TEST_F(ElevatedAction, StartsTheServerWithItsSwitchAndReportsSuccess) {
    PlaceServer(LocalFolder());
    TStandInUserInterface Ui;
    EXPECT_EQ(ElevatedServerAction(LocalFolder() + ";/regserver"), 0u);
    EXPECT_EQ(InstallFolder, LocalFolder());
    EXPECT_EQ(AwaitRecord(LocalFolder()), "/regserver");
    EXPECT_TRUE(Ui.Dialogs.empty());
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, "Success");
    EXPECT_EQ(Ui.Boxes[0].Caption, "MAPI 64 COM Server");
    EXPECT_EQ(Ui.Boxes[0].Style, MB_OK | MB_ICONINFORMATION);
}

TEST_F(ElevatedAction, WithoutSeparatorTheServerStartsWithoutSwitch) {
    PlaceServer(LocalFolder());
    TStandInUserInterface Ui;
    EXPECT_EQ(ElevatedServerAction(LocalFolder()), 0u);
    EXPECT_EQ(AwaitRecord(LocalFolder()), "");
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, "Success");
}

TEST_F(ElevatedAction, QuotedFolderIsUsedWithoutItsQuotes) {
    PlaceServer(PublicFolder());
    TStandInUserInterface Ui;
    EXPECT_EQ(ElevatedServerAction("\"" + PublicFolder() + "\";/unregserver"), 0u);
    EXPECT_EQ(InstallFolder, PublicFolder());
    EXPECT_EQ(AwaitRecord(PublicFolder()), "/unregserver");
}

TEST_F(ElevatedAction, MissingServerShowsTheDetailsThenTheError) {
    ForceDirectories(LocalFolder());
    TStandInUserInterface Ui;
    EXPECT_EQ(ElevatedServerAction(LocalFolder() + ";/regserver"), 0u);
    ASSERT_EQ(Ui.Order.size(), 2u);
    EXPECT_EQ(Ui.Order[0], "dlg:Informationen");
    EXPECT_EQ(Ui.Order[1], "box:MAPI 64 COM Server");
    EXPECT_EQ(Ui.Dialogs[0].Msg, "AppDir: " + LocalFolder() + "; Ausführen: " + LocalFolder() +
                                     "/Zelbrix.exe; Parameter: /regserver");
    EXPECT_EQ(Ui.Dialogs[0].Type, mtInformation);
    EXPECT_EQ(Ui.Dialogs[0].Buttons, MsgDlgButtons({mbOK}));
    EXPECT_EQ(Ui.Boxes[0].Text, "Error (2) registering COM server");
}

TEST_F(ElevatedAction, MissingFolderReportsPathNotFound) {
    TStandInUserInterface Ui;
    ElevatedServerAction(Root + "/nowhere/KIVO Profile;/unregserver");
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text,
              "Error (3) registering COM server"); // same wording for unregistering
}

TEST_F(ElevatedAction, TheRealDialogsShowTheGermanCaptions) {
    ForceDirectories(LocalFolder());
    std::vector<std::string> Seen;
    int Shot = 0;
    QtUserInterface().Responder = [&](QMessageBox& Box) -> QAbstractButton* {
        Seen.push_back(Box.windowTitle().toStdString() + "|" + Box.text().toStdString() + "|" +
                       ButtonTexts(Box));
        Screenshot(Box, Shot++ == 0 ? "07-elevated-missing-details" : "08-elevated-missing-error");
        return nullptr;
    };
    ElevatedServerAction(LocalFolder() + ";/regserver");
    PlaceServer(LocalFolder());
    QtUserInterface().Responder = [&](QMessageBox& Box) -> QAbstractButton* {
        Seen.push_back(Box.windowTitle().toStdString() + "|" + Box.text().toStdString() + "|" +
                       ButtonTexts(Box));
        EXPECT_EQ(Box.icon(), QMessageBox::Information);
        Screenshot(Box, "09-elevated-success");
        return nullptr;
    };
    ElevatedServerAction(LocalFolder() + ";/regserver");
    EXPECT_EQ(AwaitRecord(LocalFolder()), "/regserver");
    QtUserInterface().Responder = nullptr;
    ASSERT_EQ(Seen.size(), 3u);
    EXPECT_EQ(Seen[0], "Informationen|AppDir: " + LocalFolder() + "; Ausführen: " + LocalFolder() +
                           "/Zelbrix.exe; Parameter: /regserver|OK");
    EXPECT_EQ(Seen[1], "MAPI 64 COM Server|Error (2) registering COM server|OK");
    EXPECT_EQ(Seen[2], "MAPI 64 COM Server|Success|OK");
}
