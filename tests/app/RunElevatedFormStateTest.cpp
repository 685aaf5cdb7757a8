// The installer window's logic, once, through its state: the start states
// with their status lines and shields, the two folders, delete with its
// confirmation, register and unregister with the busy state and the error
// box, and the error box's text. The views (Qt, Win32) are tested for what
// they show of this state; these tests run in both builds.
#include <gtest/gtest.h>

#include "elevation/QxUtilRunElevated.h"
#include "platform/FileSystem.h"
#include "runtime/Application.h"
#include "runtime/Classes.h"
#include "support/FormFixture.h"
#include "tests/common/TestAccount.h"
#include "tests/elevation/support/StandIns.h"

using namespace kivo;
using namespace kivo::test;

namespace {

const char* const DownloadCaption = "Download MAPI COM Server from KIVO Didazive Web Site";

enum TWhere : uint8_t { wNowhere, wLocal, wPublic };

// What the buttons show: server present or missing in Folder.
void ExpectServerState(const TRunElevatedFormState& F, bool Present, const std::string& Folder) {
    EXPECT_EQ(F.Control(fcButton1).Enabled, Present);
    EXPECT_EQ(F.Control(fcButton2).Enabled, Present);
    EXPECT_EQ(F.Control(fcButton3).Enabled, !Present);
    EXPECT_EQ(F.Control(fcButton4).Visible, Present);
    EXPECT_EQ(F.Control(fcButton3).Caption, Present ? SystemPathText(Folder + "/" + ServerExeName)
                                                    : std::string(DownloadCaption));
}

// ---- the window as it opens ----

struct TStartRow {
    const char* Name;
    TStandInFacts Facts;
    TWhere Server;
    const char* Labels; // Label1|Label2|Label3
    bool Shields;
    TFormControl Focus;
};

TStandInFacts WithoutElevationSupport() {
    TStandInFacts F = TStandInFacts::ElevatedAdministrator();
    F.Supported = false;
    return F;
}

TStandInFacts PromptOff() {
    TStandInFacts F = TStandInFacts::StandardUser();
    F.Prompt = false;
    return F;
}

const TStartRow StartRows[] = {
    {"StandardUserServerMissing", TStandInFacts::StandardUser(), wNowhere,
     "Administrator: False|AdministratorAccount: False|UAC Enabled: True", true, fcButton3},
    {"AdminAccountNotElevated", TStandInFacts::AdministratorAccountNotElevated(), wNowhere,
     "Administrator: False|AdministratorAccount: True|UAC Enabled: True", true, fcButton3},
    {"ElevatedServerPresent", TStandInFacts::ElevatedAdministrator(), wLocal,
     "Administrator: True|AdministratorAccount: True|UAC Enabled: True", false, fcButton2},
    {"WithoutElevationSupport", WithoutElevationSupport(), wLocal,
     "Administrator: True|AdministratorAccount: True|UAC Enabled: False", false, fcButton2},
    {"PromptOffStillShields", PromptOff(), wNowhere,
     "Administrator: False|AdministratorAccount: False|UAC Enabled: False", true, fcButton3},
    // Only the local folder counts at start.
    {"ServerOnlyInThePublicFolder", TStandInFacts::StandardUser(), wPublic,
     "Administrator: False|AdministratorAccount: False|UAC Enabled: True", true, fcButton3},
};

class FormStart : public FormFixture, public ::testing::WithParamInterface<TStartRow> {};

TEST_P(FormStart, ShowsStatusShieldsAndServerState) {
    const TStartRow& Row = GetParam();
    TUseFacts Facts(Row.Facts);
    if (Row.Server == wLocal) PlaceServer(LocalFolder());
    if (Row.Server == wPublic) PlaceServer(PublicFolder());
    TStandInUserInterface Ui;
    TRecordingView View;
    auto Form = MakeForm(&View);

    EXPECT_EQ(Form->Control(fcLabel1).Caption + "|" + Form->Control(fcLabel2).Caption + "|" +
                  Form->Control(fcLabel3).Caption,
              Row.Labels);
    EXPECT_EQ(Form->Control(fcLabel4).Caption, "KIVO Profile - MAPI 64bit Subsystem Installer");
    EXPECT_EQ(Form->Control(fcButton1).Caption, "Install / Register MAPI Server");
    EXPECT_EQ(Form->Control(fcButton2).Caption, "UnInstall / Unregister MAPI Server");
    EXPECT_EQ(Form->Control(fcCheckBox1).Caption, "install to user public documents");
    EXPECT_FALSE(Form->Control(fcCheckBox1).Checked);
    EXPECT_TRUE(Form->Control(fcCheckBox1).Enabled);
    EXPECT_TRUE(Form->Control(fcButton4).Caption.empty());
    EXPECT_EQ(InstallFolder, LocalFolder());
    ExpectServerState(*Form, Row.Server == wLocal, LocalFolder());
    EXPECT_EQ(Form->FirstFocus(), Row.Focus);
    EXPECT_FALSE(Form->Busy());

    // The shield: the button message to Button1, then to Button2, and the
    // flags the views draw.
    EXPECT_EQ(Form->Control(fcButton1).Shield, Row.Shields);
    EXPECT_EQ(Form->Control(fcButton2).Shield, Row.Shields);
    ASSERT_EQ(Ui.Messages.size(), Row.Shields ? 2u : 0u);
    if (Row.Shields) {
        EXPECT_EQ(Ui.Messages[0].Window, View.ControlHandle(fcButton1));
        EXPECT_EQ(Ui.Messages[1].Window, View.ControlHandle(fcButton2));
        EXPECT_EQ(Ui.Messages[0].Msg, BCM_SETSHIELD);
        EXPECT_NE(Ui.Messages[0].LParam, 0);
    }
    EXPECT_TRUE(Ui.Boxes.empty());
    // The view heard of every control the state set.
    for (TFormControl C :
         {fcLabel1, fcLabel2, fcLabel3, fcLabel4, fcButton1, fcButton2, fcButton3, fcButton4})
        EXPECT_GT(View.Changes[C], 0) << RunElevatedFormDesign().Controls[C].Name;
}

INSTANTIATE_TEST_SUITE_P(Rows, FormStart, ::testing::ValuesIn(StartRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(FormFixture, ErrorWhileTheWindowIsCreatedIsShownAndTheStateIsUsable) {
    struct TFailingFacts : TStandInFacts {
        bool TokenHasAdministratorsGroup() override { throw EOSError(5); }
    } Failing;
    IAccountFacts* Previous = SetAccountFacts(&Failing);
    TStandInUserInterface Ui;
    TRecordingView View;
    auto Form = MakeForm(&View);
    SetAccountFacts(Previous);
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, ErrorBoxText(EOSError(5).Message()));
    EXPECT_EQ(Ui.Boxes[0].Style, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(Ui.Boxes[0].Caption, ApplicationTitle());
    // FormCreate stopped after Label1: the buttons keep their first state.
    EXPECT_EQ(Form->Control(fcLabel1).Caption, "Administrator: False");
    EXPECT_TRUE(Form->Control(fcLabel2).Caption.empty());
    EXPECT_TRUE(Form->Control(fcButton4).Visible);
}

// ---- the two folders ----

struct TFolderRow {
    const char* Name;
    TWhere Server;
    bool Checked;
    bool Present;
};

const TFolderRow FolderRows[] = {
    {"PublicCheckedFindsThePublicServer", wPublic, true, true},
    {"PublicCheckedMissesTheLocalServer", wLocal, true, false},
    {"BackToLocalFindsTheLocalServer", wLocal, false, true},
    {"BackToLocalMissesThePublicServer", wPublic, false, false},
};

class FormFolders : public FormFixture, public ::testing::WithParamInterface<TFolderRow> {};

TEST_P(FormFolders, CheckBoxChoosesTheFolderAndReevaluates) {
    const TFolderRow& Row = GetParam();
    TUseFacts Facts(TStandInFacts::StandardUser());
    PlaceServer(Row.Server == wPublic ? PublicFolder() : LocalFolder());
    TStandInUserInterface Ui;
    TRecordingView View;
    auto Form = MakeForm(&View);
    // Always through a checked state first, so that unchecking goes back.
    Form->SetCheckBox1Checked(true);
    Form->Click(fcCheckBox1);
    Form->SetCheckBox1Checked(Row.Checked);
    Form->Click(fcCheckBox1);
    const std::string Folder = Row.Checked ? PublicFolder() : LocalFolder();
    EXPECT_EQ(InstallFolder, Folder);
    ExpectServerState(*Form, Row.Present, Folder);
    EXPECT_TRUE(Ui.Boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, FormFolders, ::testing::ValuesIn(FolderRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ---- delete ----

enum TFileCase : uint8_t { fcPresent, fcAlreadyGone, fcLocked };

struct TDeleteRow {
    const char* Name;
    int32_t Answer;
    TFileCase File;
    bool Deleted;
};

const TDeleteRow DeleteRows[] = {
    {"ConfirmedRemovesTheServer", mrYes, fcPresent, true},
    {"DeclinedLeavesTheFile", mrNo, fcPresent, false},
    {"AlreadyGoneChangesNothing", mrYes, fcAlreadyGone, false},
    {"LockedChangesNothing", mrYes, fcLocked, false},
};

// Keeps a file from being deleted while it lives: an open handle that
// shares no deletion on Windows, the immutable flag on Linux (root only).
class TDeleteLock {
public:
    explicit TDeleteLock(const std::string& Path) : FPath(Path) {
        if (OnWindows) {
            FStream = std::make_unique<TFileStream>(Path, fmOpenRead | fmShareExclusive);
            FLocked = true;
        } else {
            FLocked = std::system(("chattr +i '" + Path + "' 2>/dev/null").c_str()) == 0;
        }
    }
    ~TDeleteLock() {
        if (!OnWindows && FLocked) std::system(("chattr -i '" + FPath + "'").c_str());
    }
    TDeleteLock(const TDeleteLock&) = delete;
    TDeleteLock& operator=(const TDeleteLock&) = delete;
    bool Locked() const { return FLocked; }

private:
    std::string FPath;
    std::unique_ptr<TFileStream> FStream;
    bool FLocked = false;
};

class FormDelete : public FormFixture, public ::testing::WithParamInterface<TDeleteRow> {};

TEST_P(FormDelete, AsksInGermanAndDeletesOnlyOnYes) {
    const TDeleteRow& Row = GetParam();
    TUseFacts Facts(TStandInFacts::StandardUser());
    const std::string Exe = PlaceServer(LocalFolder());
    TStandInUserInterface Ui;
    Ui.DlgAnswer = Row.Answer;
    TRecordingView View;
    auto Form = MakeForm(&View);
    std::unique_ptr<TDeleteLock> Lock;
    if (Row.File == fcAlreadyGone) DeleteFile(Exe);
    if (Row.File == fcLocked) {
        Lock = std::make_unique<TDeleteLock>(Exe);
        if (!Lock->Locked()) GTEST_SKIP() << "this file system cannot lock a file against deletion";
    }

    Form->Click(fcButton4);
    Lock.reset();

    ASSERT_EQ(Ui.Dialogs.size(), 1u);
    EXPECT_EQ(Ui.Dialogs[0].Msg, "Zelbrix.exe löschen?");
    EXPECT_EQ(Ui.Dialogs[0].Type, mtConfirmation);
    EXPECT_EQ(Ui.Dialogs[0].Buttons, MsgDlgButtons({mbYes, mbNo}));
    EXPECT_STREQ(MsgDlgCaption(mtConfirmation), "Bestätigen");
    EXPECT_TRUE(Ui.Boxes.empty()); // failures are silent
    EXPECT_EQ(FileExists(Exe), Row.File != fcAlreadyGone && !Row.Deleted);
    // Deleted: back to the download; otherwise the state of before.
    ExpectServerState(*Form, !Row.Deleted, LocalFolder());
}

INSTANTIATE_TEST_SUITE_P(Rows, FormDelete, ::testing::ValuesIn(DeleteRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ---- register and unregister ----

enum TElevation : uint8_t {
    elCopyEnds,  // the elevated copy ends with ExitCode
    elRefused,   // the prompt is refused: the start fails with 1223
    elInProcess, // the caller is elevated: the action runs here
};

struct TRegisterRow {
    const char* Name;
    TFormControl Button;
    TElevation Elevation;
    uint32_t ExitCode;
    uint32_t ErrorCode; // the OS error the box shows; 0: no box
};

const TRegisterRow RegisterRows[] = {
    {"RegisterSucceeds", fcButton1, elCopyEnds, 0, 0},
    {"UnregisterSucceeds", fcButton2, elCopyEnds, 0, 0},
    {"CopyNotElevated", fcButton1, elCopyEnds, 5, 5},
    {"CopyFailed", fcButton2, elCopyEnds, 31, 31},
    {"CopyReportsAnHresult", fcButton1, elCopyEnds, 0x80070005u, 0x80070005u},
    {"PromptRefused", fcButton1, elRefused, 0, 1223},
    {"ElevatedCallerRegistersInProcess", fcButton1, elInProcess, 0, 0},
    {"ElevatedCallerUnregistersInProcess", fcButton2, elInProcess, 0, 0},
};

class FormRegister : public FormFixture, public ::testing::WithParamInterface<TRegisterRow> {
protected:
    void TearDown() override {
        SetMessagePump(nullptr);
        FormFixture::TearDown();
    }
};

TEST_P(FormRegister, WaitsBusyAndShowsANonZeroCodeInTheErrorBox) {
    const TRegisterRow& Row = GetParam();
    const bool Elevated = Row.Elevation == elInProcess;
    TUseFacts Facts(Elevated ? TStandInFacts::ElevatedAdministrator()
                             : TStandInFacts::AdministratorAccountNotElevated());
    // The public folder: its name holds a blank, which must travel unquoted.
    PlaceServer(PublicFolder());
    TStandInUserInterface Ui;
    TRecordingView View;
    auto Form = MakeForm(&View);
    Form->SetCheckBox1Checked(true);
    Form->Click(fcCheckBox1);
    TStandInElevator Elevator;
    Elevator.Prefix = {StandInServerProgram(), "--exit", std::to_string(Row.ExitCode)};
    if (Row.Elevation == elRefused) Elevator.RefuseWith = ERROR_CANCELLED;

    // What the window looks like while the copy runs.
    bool Seen = false;
    TControlState B1, B2, B3, B4, Box;
    bool BusyDuring = false;
    SetMessagePump([&] {
        if (Seen) return;
        Seen = true;
        B1 = Form->Control(fcButton1);
        B2 = Form->Control(fcButton2);
        B3 = Form->Control(fcButton3);
        B4 = Form->Control(fcButton4);
        Box = Form->Control(fcCheckBox1);
        BusyDuring = Form->Busy();
    });
    Form->Click(Row.Button);

    const char* Switch = Row.Button == fcButton1 ? "/regserver" : "/unregserver";
    ASSERT_TRUE(Seen);
    EXPECT_TRUE(BusyDuring);
    EXPECT_FALSE(B1.Enabled);
    EXPECT_FALSE(B2.Enabled);
    // Only the two buttons: download, delete and the check box stay as they were.
    EXPECT_FALSE(B3.Enabled);
    EXPECT_TRUE(B4.Visible && B4.Enabled);
    EXPECT_TRUE(Box.Enabled);
    // Afterwards, also after an error: the busy state is over.
    EXPECT_FALSE(Form->Busy());
    EXPECT_TRUE(Form->Control(fcButton1).Enabled);
    EXPECT_TRUE(Form->Control(fcButton2).Enabled);
    EXPECT_EQ(View.BusyCursor, (std::vector<bool>{true, false}));

    if (Elevated) {
        EXPECT_EQ(Elevator.Calls, 0);
        EXPECT_EQ(AwaitRecord(PublicFolder()), Switch);
        ASSERT_EQ(Ui.Boxes.size(), 1u);
        EXPECT_EQ(Ui.Boxes[0].Text, "Success");
        return;
    }
    EXPECT_EQ(Elevator.Calls, 1);
    EXPECT_EQ(Elevator.LastFile, ExecutablePath());
    EXPECT_EQ(Elevator.LastParameters,
              std::string("/") + ElevateSwitch + " " + PublicFolder() + ";" + Switch);
    if (Row.ErrorCode == 0) {
        EXPECT_TRUE(Ui.Boxes.empty());
        return;
    }
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, ErrorBoxText(EOSError(Row.ErrorCode).Message()));
    EXPECT_EQ(
        Ui.Boxes[0].Text.rfind(
            "Systemfehler.  Code: " + std::to_string(static_cast<int32_t>(Row.ErrorCode)) + ".\r\n",
            0),
        0u)
        << Ui.Boxes[0].Text;
    EXPECT_EQ(Ui.Boxes[0].Style, MB_OK | MB_ICONSTOP);
}

INSTANTIATE_TEST_SUITE_P(Rows, FormRegister, ::testing::ValuesIn(RegisterRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ---- the error box ----

struct TErrorTextRow {
    const char* Name;
    const char* Message;
    const char* Shown;
};

const TErrorTextRow ErrorTextRows[] = {
    {"Letter", "Zugriff verweigert", "Zugriff verweigert."},
    {"Period", "Fertig.", "Fertig."},
    {"QuestionMarkIsAbovePeriod", "Wirklich?", "Wirklich?."},
    {"ExclamationMarkIsBelowPeriod", "Achtung!", "Achtung!"},
    {"Slash", "Pfad /", "Pfad /."},
    {"LineEnd", "Zeile\r\n", "Zeile\r\n"},
    {"NonAsciiLetter", "Größe ä", "Größe ä."},
    {"Empty", "", ""},
};

class ErrorBox : public ::testing::TestWithParam<TErrorTextRow> {};

TEST_P(ErrorBox, FinalPeriodRule) {
    EXPECT_EQ(ErrorBoxText(GetParam().Message), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(Rows, ErrorBox, ::testing::ValuesIn(ErrorTextRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ErrorBoxOwner, AbortIsSilentOthersShowWithTheStopIcon) {
    TStandInUserInterface Ui;
    ShowExceptionBox(EAbort(), nullptr);
    EXPECT_TRUE(Ui.Boxes.empty());
    ShowExceptionBox(Exception("Fehler"), nullptr);
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, "Fehler.");
    EXPECT_EQ(Ui.Boxes[0].Caption, ApplicationTitle());
    EXPECT_EQ(Ui.Boxes[0].Style, MB_OK | MB_ICONSTOP);
}

} // namespace
