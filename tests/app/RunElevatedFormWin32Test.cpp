// The native view of the installer window on real windows (Windows build;
// under Wine with xvfb-run, else skipped with the reason): what each window
// state shows on the screen, the design's sizes, fonts, colour and tab order,
// the waste bin, and the boxes of the native user interface. The logic
// behind the states is tested once, through the state
// (RunElevatedFormStateTest). Pictures go to <build>/artifacts/app/.
#include <gtest/gtest.h>

#include "app/win32/RunElevatedForm.h"
#include "elevation/QxUtilRunElevated.h"
#include "platform/NativeResources.h"
#include "platform/NativeUserInterface.h"
#include "runtime/Application.h"
#include "support/FormFixture.h"
#include "tests/elevation/support/StandIns.h"

// After the project's headers, whose constants windows.h would turn into
// macros.
// clang-format off
#include <windows.h>
#undef MessageBox
#undef SendMessage
#undef DeleteFile
// clang-format on

using namespace kivo;
using namespace kivo::test;

namespace {

class Win32Form : public FormFixture {
protected:
    void SetUp() override {
        std::string Reason;
        if (!ui::WindowsAvailable(&Reason)) GTEST_SKIP() << Reason;
        FormFixture::SetUp();
        InstallWindowsViews();
        SetUserInterface(nullptr);
        SetMessagePump([] { ui::PumpMessages(); });
    }
    void TearDown() override {
        ui::SetBoxShownHook(nullptr);
        SetMessagePump(nullptr);
        FormFixture::TearDown();
    }

    std::unique_ptr<TRunElevatedForm> OpenForm() {
        auto Form = std::make_unique<TRunElevatedForm>([this](TRunElevatedFormState& S) {
            S.PublicFolder = [this] { return PublicFolder(); };
            S.LocalFolder = [this] { return LocalFolder(); };
        });
        Form->Show();
        ui::PumpMessages();
        return Form;
    }

    static void Picture(TRunElevatedForm& Form, const std::string& Name) {
        const std::string Dir = std::string(KIVO_BINARY_DIR) + "/artifacts/app";
        ForceDirectories(Dir);
        Form.Window().Update();
        EXPECT_TRUE(Form.Window().SavePicture(Dir + "/" + Name + ".png"));
    }
    static std::string BoxPicture(void* Box, const std::string& Name) {
        const std::string Dir = std::string(KIVO_BINARY_DIR) + "/artifacts/app";
        ForceDirectories(Dir);
        EXPECT_TRUE(ui::SaveWindowPicture(Box, Dir + "/" + Name + ".png"));
        return Name;
    }
};

// What the screen shows of the four buttons.
struct TShown {
    bool B1, B2, B3, B4Visible;
    bool Shield1, Shield2;
};

TShown ShownOf(TRunElevatedForm& F) {
    return {F.Control(fcButton1).Enabled(), F.Control(fcButton2).Enabled(),
            F.Control(fcButton3).Enabled(), F.Control(fcButton4).Visible(),
            F.ShieldShown(fcButton1),       F.ShieldShown(fcButton2)};
}

// ---- the window states ----

enum TStep : uint8_t { stNone, stCheckPublic, stRegisterBusy, stDelete };

struct TStateRow {
    const char* Name;
    TStandInFacts Facts;
    bool ServerLocal, ServerPublic;
    TStep Step;
    TShown Expected; // after the step (during it for stRegisterBusy)
    TFormControl Focus;
};

const TStateRow StateRows[] = {
    {"StartServerMissingWithShields",
     TStandInFacts::AdministratorAccountNotElevated(),
     false,
     false,
     stNone,
     {false, false, true, false, true, true},
     fcButton3},
    {"ElevatedServerPresentWithoutShields",
     TStandInFacts::ElevatedAdministrator(),
     true,
     false,
     stNone,
     {true, true, false, true, false, false},
     fcButton2},
    {"PublicFolderServerPresent",
     TStandInFacts::StandardUser(),
     false,
     true,
     stCheckPublic,
     {true, true, false, true, true, true},
     fcButton3},
    {"BusyWhileRegistering",
     TStandInFacts::AdministratorAccountNotElevated(),
     true,
     false,
     stRegisterBusy,
     {false, false, false, true, true, true},
     fcButton2},
    {"AfterDeleteServerMissing",
     TStandInFacts::StandardUser(),
     true,
     false,
     stDelete,
     {false, false, true, false, true, true},
     fcButton2},
};

class Win32FormStates : public Win32Form, public ::testing::WithParamInterface<TStateRow> {};

TEST_P(Win32FormStates, ScreenShowsTheState) {
    const TStateRow& Row = GetParam();
    TUseFacts Facts(Row.Facts);
    if (Row.ServerLocal) PlaceServer(LocalFolder());
    if (Row.ServerPublic) PlaceServer(PublicFolder());
    TStandInUserInterface Ui; // answers the delete question with Ja
    auto Form = OpenForm();
    TRunElevatedForm& F = *Form;
    EXPECT_TRUE(F.Control(Row.Focus).Focused());

    TShown Shown = ShownOf(F);
    switch (Row.Step) {
    case stNone: break;
    case stCheckPublic: F.Control(fcCheckBox1).Click(); break;
    case stDelete: F.Control(fcButton4).Click(); break;
    case stRegisterBusy: {
        TStandInElevator Elevator;
        Elevator.Prefix = {StandInServerProgram(), "--exit", "0"};
        bool Seen = false;
        SetMessagePump([&] {
            ui::PumpMessages();
            if (Seen) return;
            Seen = true;
            Shown = ShownOf(F);
            Picture(F, "win32-" + std::string(Row.Name));
        });
        F.Control(fcButton1).Click();
        EXPECT_TRUE(Seen);
        EXPECT_TRUE(F.Control(fcButton1).Enabled()); // over afterwards
        break;
    }
    }
    ui::PumpMessages();
    if (Row.Step != stRegisterBusy) {
        Shown = ShownOf(F);
        Picture(F, "win32-" + std::string(Row.Name));
    }
    EXPECT_EQ(Shown.B1, Row.Expected.B1);
    EXPECT_EQ(Shown.B2, Row.Expected.B2);
    EXPECT_EQ(Shown.B3, Row.Expected.B3);
    EXPECT_EQ(Shown.B4Visible, Row.Expected.B4Visible);
    EXPECT_EQ(Shown.Shield1, Row.Expected.Shield1);
    EXPECT_EQ(Shown.Shield2, Row.Expected.Shield2);
    // The screen shows the state's texts.
    for (TFormControl C :
         {fcLabel1, fcLabel2, fcLabel3, fcLabel4, fcButton1, fcButton2, fcButton3, fcCheckBox1})
        EXPECT_EQ(F.Control(C).Text(), F.State().Control(C).Caption);
    EXPECT_EQ(F.Control(fcCheckBox1).Checked(), Row.Step == stCheckPublic);
    EXPECT_TRUE(Ui.Boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, Win32FormStates, ::testing::ValuesIn(StateRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ---- the design ----

// The character height of the control's font, whether it is bold, and the
// face the system found for it.
int FontHeightOf(const ui::TNativeControl& C, bool& Bold, std::wstring& Face) {
    HWND H = static_cast<HWND>(C.Handle());
    HFONT Font = reinterpret_cast<HFONT>(SendMessageW(H, WM_GETFONT, 0, 0));
    LOGFONTW Log{};
    if (Font == nullptr || GetObjectW(Font, sizeof Log, &Log) == 0) return 0;
    Bold = Log.lfWeight >= FW_BOLD;
    HDC Dc = GetDC(H);
    HGDIOBJ Old = SelectObject(Dc, Font);
    wchar_t Name[LF_FACESIZE] = {};
    GetTextFaceW(Dc, LF_FACESIZE, Name);
    SelectObject(Dc, Old);
    ReleaseDC(H, Dc);
    Face = Name;
    return Log.lfHeight < 0 ? -Log.lfHeight : Log.lfHeight;
}

TEST_F(Win32Form, SizesFontsColourTabOrderAndWasteBinAreAsDesigned) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    PlaceServer(LocalFolder());
    TStandInUserInterface Ui;
    auto Form = OpenForm();
    TRunElevatedForm& F = *Form;
    const TFormDesign& Design = RunElevatedFormDesign();
    EXPECT_EQ(F.Window().Caption(), "Register 64bit MAPI Proxy");
    EXPECT_EQ(F.Window().ClientWidth(), 635);
    EXPECT_EQ(F.Window().ClientHeight(), 337);

    for (const TControlLayout& L : Design.Controls) {
        const ui::TRect B = F.Control(L.Control).Bounds();
        EXPECT_EQ(B.Left, L.Left) << L.Name;
        EXPECT_EQ(B.Top, L.Top) << L.Name;
        if (L.Kind != ckLabel) {
            EXPECT_EQ(B.Width, L.Width) << L.Name;
            EXPECT_EQ(B.Height, L.Height) << L.Name;
        } else {
            EXPECT_GT(B.Width, 0) << L.Name << " sizes itself to its text";
        }
        bool Bold = false;
        std::wstring Face;
        EXPECT_EQ(FontHeightOf(F.Control(L.Control), Bold, Face),
                  L.FontPixels != 0 ? L.FontPixels : Design.FontPixels)
            << L.Name;
        EXPECT_EQ(Bold, L.Bold) << L.Name;
        EXPECT_TRUE(Face == L"Tahoma") << L.Name << ": " << std::string(Face.begin(), Face.end());
    }

    // Tab order: the tab stops among the window's children, in order.
    std::vector<void*> Stops;
    for (HWND C = GetWindow(static_cast<HWND>(F.Window().Handle()), GW_CHILD); C != nullptr;
         C = GetWindow(C, GW_HWNDNEXT))
        if ((GetWindowLongW(C, GWL_STYLE) & WS_TABSTOP) != 0) Stops.push_back(C);
    std::vector<void*> Expected;
    for (TFormControl C : TabOrder())
        Expected.push_back(F.Control(C).Handle());
    EXPECT_EQ(Stops, Expected);

    // White behind the controls; the waste bin on Button4, without a text.
    HDC Dc = GetDC(static_cast<HWND>(F.Window().Handle()));
    EXPECT_EQ(GetPixel(Dc, 5, 5), RGB(255, 255, 255));
    ReleaseDC(static_cast<HWND>(F.Window().Handle()), Dc);
    EXPECT_TRUE(ui::ButtonHasIcon(F.Control(fcButton4)));
    EXPECT_TRUE(F.Control(fcButton4).Text().empty());

    // Moved to a screen at 150 %: the design in half as many pixels again,
    // the same numbers for the view, the waste bin at 24 pixels.
    RECT At{0, 0, 0, 0}, Client;
    HWND H = static_cast<HWND>(F.Window().Handle());
    SendMessageW(H, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&At));
    GetClientRect(H, &Client);
    EXPECT_EQ(Client.right, 953);
    EXPECT_EQ(F.Window().ClientWidth(), 635);
    const TControlLayout& Bin = Design.Controls[fcButton4];
    EXPECT_EQ(F.Control(fcButton4).Bounds(), (ui::TRect{Bin.Left, Bin.Top, Bin.Width, Bin.Height}));
    ICONINFO Icon{};
    BITMAP Bits{};
    GetIconInfo(reinterpret_cast<HICON>(SendMessageW(
                    static_cast<HWND>(F.Control(fcButton4).Handle()), BM_GETIMAGE, IMAGE_ICON, 0)),
                &Icon);
    GetObjectW(Icon.hbmColor, sizeof Bits, &Bits);
    EXPECT_EQ(Bits.bmWidth, 24);
    DeleteObject(Icon.hbmColor);
    DeleteObject(Icon.hbmMask);
    Picture(F, "win32-dpi144");
}

// ---- the boxes of the native user interface ----

struct TBoxRow {
    const char* Name;
    TFormControl Button;
    const char* Caption; // nullptr: the application's title
    const char* Text;    // nullptr: the OS error 5's message with its final "."
    const char* Buttons;
    bool FileRemains;
};

const TBoxRow BoxRows[] = {
    {"DeleteConfirmation", fcButton4, "Bestätigen", "Zelbrix.exe löschen?", "&Ja|&Nein", false},
    {"ErrorBoxOfExitCode5", fcButton2, nullptr, nullptr, "OK", true},
};

class Win32FormBoxes : public Win32Form, public ::testing::WithParamInterface<TBoxRow> {};

TEST_P(Win32FormBoxes, ShowTheGermanTextsAndAnswer) {
    const TBoxRow& Row = GetParam();
    TUseFacts Facts(TStandInFacts::AdministratorAccountNotElevated());
    const std::string Exe = PlaceServer(LocalFolder());
    ui::InstallNativeUserInterface();
    TStandInElevator Elevator;
    Elevator.Prefix = {StandInServerProgram(), "--exit", "5"};
    auto Form = OpenForm();
    ui::TBoxContents Seen;
    int Boxes = 0;
    ui::SetBoxShownHook([&](void* Box) {
        if (Box == nullptr) return;
        ++Boxes;
        Seen = ui::BoxContents(Box);
        BoxPicture(Box, "win32-box-" + std::string(Row.Name));
        ui::PressBoxButton(Box, Row.Button == fcButton4 ? mrYes : IDOK);
    });
    Form->Control(Row.Button).Click();
    ui::PumpMessages();
    SetUserInterface(nullptr);

    ASSERT_EQ(Boxes, 1);
    EXPECT_EQ(Seen.Caption, Row.Caption != nullptr ? Row.Caption : ApplicationTitle());
    EXPECT_EQ(Seen.Text, Row.Text != nullptr ? Row.Text : ErrorBoxText(EOSError(5).Message()));
    std::string Buttons;
    for (const std::string& B : Seen.Buttons)
        Buttons += (Buttons.empty() ? "" : "|") + B;
    EXPECT_EQ(Buttons, Row.Buttons);
    EXPECT_EQ(FileExists(Exe), Row.FileRemains);
    EXPECT_EQ(Form->Control(fcButton4).Visible(), Row.FileRemains);
    Picture(*Form, "win32-after-" + std::string(Row.Name));
}

INSTANTIATE_TEST_SUITE_P(Rows, Win32FormBoxes, ::testing::ValuesIn(BoxRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
