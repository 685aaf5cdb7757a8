// The Qt view of the installer window offscreen: its look, the clicks that
// reach the state's handlers, the boxes and cursors it shows. The logic
// behind it is tested once, through the state (RunElevatedFormStateTest).
#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

#include "app/QtRunElevatedForm.h"
#include "app/QtUserInterface.h"
#include "elevation/QxUtilRunElevated.h"
#include "platform/FileSystem.h"
#include "runtime/SysUtils.h"
#include "support/AppFixture.h"
#include "tests/elevation/support/StandIns.h"

using namespace kivo;
using namespace kivo::test;

namespace {

const char* DownloadCaption = "Download MAPI COM Server from KIVO Didazive Web Site";

struct TState {
    bool B1, B2, B3, B4Visible;
    std::string B3Text;
};

TState StateOf(TRunElevatedForm& F) {
    return {F.Button1->isEnabled(), F.Button2->isEnabled(), F.Button3->isEnabled(),
            !F.Button4->isHidden(), F.Button3->text().toStdString()};
}

void ExpectServerMissing(TRunElevatedForm& F) {
    TState S = StateOf(F);
    EXPECT_FALSE(S.B1);
    EXPECT_FALSE(S.B2);
    EXPECT_TRUE(S.B3);
    EXPECT_FALSE(S.B4Visible);
    EXPECT_EQ(S.B3Text, DownloadCaption);
}

void ExpectServerPresent(TRunElevatedForm& F, const std::string& Folder) {
    TState S = StateOf(F);
    EXPECT_TRUE(S.B1);
    EXPECT_TRUE(S.B2);
    EXPECT_FALSE(S.B3);
    EXPECT_TRUE(S.B4Visible);
    EXPECT_EQ(S.B3Text, Folder + "/Zelbrix.exe");
}

class FormTest : public AppFixture {};

} // namespace

// ---- look and start-up ----

TEST_F(FormTest, OpensInTheLocalFolderWithTheServerMissing) {
    TUseFacts Facts(TStandInFacts::AdministratorAccountNotElevated());
    TStandInUserInterface Ui;
    TRunElevatedForm Form;
    Form.show();
    QApplication::processEvents();

    EXPECT_EQ(InstallFolder, LocalFolder());
    ExpectServerMissing(Form);
    EXPECT_FALSE(Form.CheckBox1->isChecked());
    EXPECT_TRUE(Form.CheckBox1->isEnabled());
    // Button2 and Button1 are disabled: the download button takes the focus.
    EXPECT_EQ(Form.focusWidget(), Form.Button3);

    EXPECT_EQ(Form.Label1->text().toStdString(), "Administrator: False");
    EXPECT_EQ(Form.Label2->text().toStdString(), "AdministratorAccount: True");
    EXPECT_EQ(Form.Label3->text().toStdString(), "UAC Enabled: True");
    EXPECT_EQ(Form.Label4->text().toStdString(), "KIVO Profile - MAPI 64bit Subsystem Installer");
    EXPECT_EQ(Form.Button1->text().toStdString(), "Install / Register MAPI Server");
    EXPECT_EQ(Form.Button2->text().toStdString(), "UnInstall / Unregister MAPI Server");
    EXPECT_EQ(Form.windowTitle().toStdString(), "Register 64bit MAPI Proxy");

    // Not elevated: both privileged buttons get the shield message.
    ASSERT_EQ(Ui.Messages.size(), 2u);
    EXPECT_EQ(Ui.Messages[0].Window, static_cast<TWindowHandle>(Form.Button1));
    EXPECT_EQ(Ui.Messages[1].Window, static_cast<TWindowHandle>(Form.Button2));
    EXPECT_EQ(Ui.Messages[0].Msg, BCM_SETSHIELD);
    EXPECT_TRUE(Ui.Boxes.empty());
}

TEST_F(FormTest, GeometryFontsAndTabOrderAreAsDesigned) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    TRunElevatedForm Form;
    EXPECT_EQ(Form.size(), QSize(635, 337));
    EXPECT_EQ(Form.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(Form.font().pixelSize(), 11);
    EXPECT_EQ(Form.Label4->pos(), QPoint(112, 27));
    EXPECT_EQ(Form.Label4->font().pixelSize(), 19);
    EXPECT_TRUE(Form.Label4->font().bold());
    EXPECT_EQ(Form.Label1->pos(), QPoint(112, 80));
    EXPECT_EQ(Form.Label2->pos(), QPoint(112, 102));
    EXPECT_EQ(Form.Label3->pos(), QPoint(112, 124));
    EXPECT_EQ(Form.Label1->font().pixelSize(), 16);
    EXPECT_EQ(Form.CheckBox1->geometry(), QRect(112, 149, 457, 17));
    EXPECT_EQ(Form.CheckBox1->font().pixelSize(), 16);
    EXPECT_EQ(Form.Button3->geometry(), QRect(88, 180, 481, 25));
    EXPECT_EQ(Form.Button4->geometry(), QRect(575, 180, 26, 25));
    EXPECT_EQ(Form.Button1->geometry(), QRect(88, 230, 481, 25));
    EXPECT_EQ(Form.Button2->geometry(), QRect(176, 288, 297, 25));
    EXPECT_EQ(Form.Button3->font().pixelSize(), 11);
    EXPECT_TRUE(Form.Button4->text().isEmpty());
    EXPECT_FALSE(Form.Button4->icon().isNull());

    // The waste bin: 16 x 16, 32-bit, red square with white inside.
    ASSERT_EQ(Form.ImageList1.size(), 1);
    QImage Bin = Form.ImageList1.at(0).toImage();
    EXPECT_EQ(Bin.size(), QSize(16, 16));
    EXPECT_TRUE(Bin.hasAlphaChannel() || Bin.depth() == 32);
    EXPECT_EQ(QColor(Bin.pixel(0, 0)).red(), 0xD0);
    EXPECT_EQ(QColor(Bin.pixel(5, 8)), QColor(Qt::white));

    // Tab order: the focusable controls along the focus chain.
    std::vector<QWidget*> Chain;
    for (QWidget* W = Form.nextInFocusChain(); W != &Form && Chain.size() < 20;
         W = W->nextInFocusChain())
        if (W->focusPolicy() & Qt::TabFocus) Chain.push_back(W);
    std::vector<QWidget*> Expected{Form.Button2, Form.Button1, Form.Button3, Form.Button4,
                                   Form.CheckBox1};
    EXPECT_EQ(Chain, Expected);
    EXPECT_EQ(InstallerFontFamily().toStdString(),
              FileExists("/usr/share/wine/fonts/tahoma.ttf") ? "Tahoma" : "DejaVu Sans");
}

TEST_F(FormTest, ElevatedStartShowsNoShieldAndFocusesButton2) {
    TUseFacts Facts(TStandInFacts::ElevatedAdministrator());
    PlaceServer(LocalFolder());
    TRunElevatedForm Form;
    Form.show();
    QApplication::processEvents();
    EXPECT_FALSE(Form.Button1->property("kivoShield").toBool());
    EXPECT_FALSE(Form.Button2->property("kivoShield").toBool());
    EXPECT_EQ(Form.Label1->text().toStdString(), "Administrator: True");
    ExpectServerPresent(Form, LocalFolder());
    EXPECT_EQ(Form.focusWidget(), Form.Button2);
    Screenshot(Form, "02-elevated-server-present");
}

TEST_F(FormTest, ScreenshotOfTheStartWithShields) {
    TUseFacts Facts(TStandInFacts::AdministratorAccountNotElevated());
    TRunElevatedForm Form;
    Form.show();
    EXPECT_TRUE(Form.Button1->property("kivoShield").toBool());
    EXPECT_TRUE(Form.Button2->property("kivoShield").toBool());
    Screenshot(Form, "01-start-server-missing");
}

TEST_F(FormTest, ErrorWhileTheWindowIsCreatedIsShownAndTheWindowOpens) {
    struct TFailingFacts : TStandInFacts {
        bool TokenHasAdministratorsGroup() override { throw EOSError(5); }
    } Failing;
    IAccountFacts* Previous = SetAccountFacts(&Failing);
    TStandInUserInterface Ui;
    TRunElevatedForm Form;
    SetAccountFacts(Previous);
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, ErrorBoxText(EOSError(5).Message()));
    EXPECT_EQ(Ui.Boxes[0].Style, MB_OK | MB_ICONSTOP);
    Form.show();
    EXPECT_TRUE(Form.isVisible());
}

// ---- the two folders ----

TEST_F(FormTest, CheckBoxSwitchesToThePublicFolderAndBack) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    PlaceServer(PublicFolder());
    TRunElevatedForm Form;
    Form.show();
    ExpectServerMissing(Form);

    QTest::mouseClick(Form.CheckBox1, Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_TRUE(Form.CheckBox1->isChecked());
    EXPECT_EQ(InstallFolder, PublicFolder());
    ExpectServerPresent(Form, PublicFolder());
    Screenshot(Form, "03-public-folder-server-present");

    QTest::mouseClick(Form.CheckBox1, Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_EQ(InstallFolder, LocalFolder());
    ExpectServerMissing(Form);
}

TEST_F(FormTest, DeleteConfirmedRemovesTheServerWithTheGermanDialog) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    std::string Exe = PlaceServer(LocalFolder());
    TRunElevatedForm Form;
    Form.show();
    std::string Title, Text, Buttons;
    QtUserInterface().Responder = [&](QMessageBox& Box) -> QAbstractButton* {
        Title = Box.windowTitle().toStdString();
        Text = Box.text().toStdString();
        Buttons = ButtonTexts(Box);
        EXPECT_EQ(Box.icon(), QMessageBox::Question);
        Screenshot(Box, "04-delete-confirmation");
        return ButtonNamed(Box, "&Ja");
    };
    QTest::mouseClick(Form.Button4, Qt::LeftButton);
    QtUserInterface().Responder = nullptr;

    EXPECT_EQ(Title, "Bestätigen");
    EXPECT_EQ(Text, "Zelbrix.exe löschen?");
    EXPECT_NE(Buttons.find("&Ja"), std::string::npos);
    EXPECT_NE(Buttons.find("&Nein"), std::string::npos);
    EXPECT_FALSE(FileExists(Exe));
    ExpectServerMissing(Form);
    Screenshot(Form, "05-after-delete-server-missing");
}

TEST_F(FormTest, RegisterClickIsBusyWhileTheElevatedCopyRuns) {
    TUseFacts Facts(TStandInFacts::AdministratorAccountNotElevated());
    PlaceServer(LocalFolder());
    TRunElevatedForm Form;
    Form.show();
    TStandInUserInterface Ui;
    TStandInElevator Runner;
    Runner.Prefix = {"/bin/sh", "-c", "exit 0"};
    bool Seen = false;
    TState During{};
    Qt::CursorShape Cursor = Qt::ArrowCursor;
    bool Override = false;
    SetMessagePump([&] {
        QCoreApplication::processEvents();
        if (Seen) return;
        Seen = true;
        During = StateOf(Form);
        Cursor = Form.cursor().shape();
        Override = QApplication::overrideCursor() != nullptr &&
                   QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });
    QTest::mouseClick(Form.Button1, Qt::LeftButton);
    SetMessagePump([] { QCoreApplication::processEvents(); });

    ASSERT_TRUE(Seen);
    EXPECT_FALSE(During.B1);
    EXPECT_FALSE(During.B2);
    EXPECT_TRUE(During.B4Visible);
    EXPECT_TRUE(Form.CheckBox1->isEnabled());
    EXPECT_EQ(Cursor, Qt::WaitCursor);
    EXPECT_TRUE(Override);
    // Afterwards: no error, busy state over.
    EXPECT_TRUE(Ui.Boxes.empty());
    EXPECT_TRUE(Form.Button1->isEnabled());
    EXPECT_TRUE(Form.Button2->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // The folder travels unquoted, blank included.
    EXPECT_EQ(Runner.LastParameters,
              std::string("/") + ElevateSwitch + " " + LocalFolder() + ";/regserver");
}

TEST_F(FormTest, NonZeroExitCodeGoesToTheApplicationErrorBox) {
    TUseFacts Facts(TStandInFacts::AdministratorAccountNotElevated());
    PlaceServer(LocalFolder());
    TRunElevatedForm Form;
    Form.show();
    TStandInElevator Runner;
    Runner.Prefix = {"/bin/sh", "-c", "exit 5"};
    std::string Title, Text, Buttons;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QtUserInterface().Responder = [&](QMessageBox& Box) -> QAbstractButton* {
        Title = Box.windowTitle().toStdString();
        Text = Box.text().toStdString();
        Buttons = ButtonTexts(Box);
        Icon = Box.icon();
        Screenshot(Box, "06-error-box-exit-code-5");
        return nullptr;
    };
    QTest::mouseClick(Form.Button2, Qt::LeftButton);
    QtUserInterface().Responder = nullptr;

    EXPECT_EQ(Title, ApplicationTitle());
    EXPECT_EQ(Title, "app_RunElevatedFormTest");
    EXPECT_EQ(Text, EOSError(5).Message() + ".");
    EXPECT_EQ(Text.rfind("Systemfehler.  Code: 5.\r\n", 0), 0u);
    EXPECT_EQ(Buttons, "OK");
    EXPECT_EQ(Icon, QMessageBox::Critical);
    EXPECT_TRUE(Form.isVisible());
    EXPECT_TRUE(Form.Button1->isEnabled()); // busy state ended first
    EXPECT_EQ(Runner.LastParameters,
              std::string("/") + ElevateSwitch + " " + LocalFolder() + ";/unregserver");
}

// ---- the elevated action's boxes, as the Qt user interface shows them ----

TEST_F(FormTest, ElevatedActionsRealDialogsShowTheGermanCaptions) {
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
