// The native window layer and the native user interface, on real windows.
// Windows need a display driver: under Wine the ctest fixture chooses X11 or
// the null driver (outside it, without a display, the tests skip, saying
// so). Pictures go to <build>/artifacts/.
#include "platform/NativeUi.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iterator>

#include "platform/NativeUserInterface.h"
#include "tests/common/TestFiles.h"

// After the project's headers, whose constants windows.h would turn into
// macros; the interface's members keep their plain names.
// clang-format off
#include <windows.h>
#undef MessageBox
#undef SendMessage
// clang-format on

using namespace kivo;
using namespace kivo::ui;

namespace {

TWindowOptions Options(const char* Caption, int Width, int Height, TColor Background = clDefault) {
    TWindowOptions O;
    O.Caption = Caption;
    O.ClientWidth = Width;
    O.ClientHeight = Height;
    O.Background = Background;
    return O;
}

TLabelStyle LabelStyle(int FontHeight, bool AutoSize) {
    TLabelStyle S;
    S.Font.Height = FontHeight;
    S.AutoSize = AutoSize;
    return S;
}

std::string Artifact(const std::string& Name) {
    std::string Dir = std::string(KIVO_BINARY_DIR) + "/artifacts";
    CreateDirectoryA(Dir.c_str(), nullptr);
    return Dir + "/" + Name;
}

class NativeUi : public ::testing::Test {
protected:
    void SetUp() override {
        std::string Reason;
        if (!WindowsAvailable(&Reason)) GTEST_SKIP() << Reason;
    }
    void TearDown() override { SetBoxShownHook(nullptr); }
};

// A key as the keyboard delivers it to the focused control.
void PostKey(UINT Key) {
    HWND Focus = GetFocus();
    PostMessageW(Focus, WM_KEYDOWN, Key, 1);
    PostMessageW(Focus, WM_KEYUP, Key, 0xC0000001);
}

TEST_F(NativeUi, ControlsKeepWhatTheyAreGiven) {
    TNativeWindow W(Options("Größe", 320, 200));
    EXPECT_EQ(W.Caption(), "Größe");
    EXPECT_EQ(W.ClientWidth(), 320);
    EXPECT_EQ(W.ClientHeight(), 200);
    TNativeControl& Label = W.AddLabel({10, 10, 0, 0}, "Administrator: True", LabelStyle(16, true));
    TNativeControl& Fixed =
        W.AddLabel({10, 40, 100, 20}, "C:\\a\\long\\path\\file.zip", LabelStyle(11, false));
    TNativeControl& Check = W.AddCheckBox({10, 70, 200, 17}, "install to user public documents");
    TNativeControl& Button = W.AddButton({10, 100, 75, 25}, "&Ja");
    TNativeControl& Edit = W.AddEdit({100, 100, 100, 21}, true);
    TNativeControl& Bar = W.AddProgressBar({10, 140, 300, 12});
    W.Show();
    PumpMessages();

    // An auto-sized label takes its text's size; a fixed one keeps its box.
    TRect L = Label.Bounds();
    EXPECT_EQ(L.Left, 10);
    EXPECT_GT(L.Width, 100);
    EXPECT_GE(L.Height, 16);
    EXPECT_EQ(L.Width, Label.TextWidth("Administrator: True"));
    EXPECT_EQ(Fixed.Bounds(), (TRect{10, 40, 100, 20}));
    Label.SetText("Administrator: False");
    EXPECT_EQ(Label.Bounds().Width, Label.TextWidth("Administrator: False"));

    Edit.SetText("geheim");
    EXPECT_EQ(Edit.Text(), "geheim");
    EXPECT_EQ(SendMessageW(static_cast<HWND>(Edit.Handle()), EM_GETPASSWORDCHAR, 0, 0), '*');
    Bar.SetPosition(42);
    EXPECT_EQ(Bar.Position(), 42);
    Bar.SetPosition(420); // kept in the range
    EXPECT_EQ(Bar.Position(), 100);

    // Clicks: the check box toggles, hidden or disabled controls ignore them.
    int Clicks = 0;
    Check.OnClick = [&] { ++Clicks; };
    Button.OnClick = [&] { ++Clicks; };
    Check.Click();
    EXPECT_TRUE(Check.Checked());
    Button.SetEnabled(false);
    Button.Click();
    Button.SetEnabled(true);
    Button.SetVisible(false);
    Button.Click();
    EXPECT_EQ(Clicks, 1);
    EXPECT_FALSE(Button.Visible());

    // The focus goes to the first control in tab order when shown.
    EXPECT_TRUE(Check.Focused());
    W.SetTabOrder({&Edit, &Check});
    EXPECT_EQ(GetNextDlgTabItem(static_cast<HWND>(W.Handle()), nullptr, FALSE), Edit.Handle());
    // Another window taking the foreground does not lose the focused control.
    Edit.SetFocus();
    {
        TNativeWindow Other(Options("Other", 100, 50));
        Other.Show();
        Other.Activate();
        PumpMessages();
    }
    W.Activate();
    PumpMessages();
    EXPECT_TRUE(Edit.Focused());

    // Messages through the user interface reach the real controls.
    EXPECT_EQ(NativeUserInterface().SendMessage(Edit.Handle(), WM_GETTEXTLENGTH, 0, 0), 6);
    NativeUserInterface().SendMessage(Button.Handle(), BCM_SETSHIELD, 0, 1);
    // A picture on a button (the installer's waste bin).
    TPixelImage Bin;
    Bin.Width = Bin.Height = 16;
    Bin.Pixels.assign(256, 0xFFD01C1C);
    Button.SetButtonImage(Bin);
    EXPECT_NE(SendMessageW(static_cast<HWND>(Button.Handle()), BM_GETIMAGE, IMAGE_ICON, 0), 0);

    std::string Png = Artifact("nativeui-controls.png");
    EXPECT_TRUE(W.SavePicture(Png));
    std::string Data = test::ReadFile(Png);
    ASSERT_GT(Data.size(), 24u);
    // The picture has the window's client size (IHDR width and height).
    EXPECT_EQ(uint8_t(Data[18]) * 256 + uint8_t(Data[19]), 320);
    EXPECT_EQ(uint8_t(Data[22]) * 256 + uint8_t(Data[23]), 200);
}

TEST_F(NativeUi, ImageShowsItsPixels) {
    TNativeWindow W(Options("Bild", 100, 60, clWhite));
    TPixelImage Red;
    Red.Width = 20;
    Red.Height = 10;
    Red.Format = TPixelFormat::Indexed8;
    Red.Indexes.assign(200, 1);
    Red.Palette = {0x000000, 0xFF0000};
    TNativeControl& Image = W.AddImage({0, 0, 40, 30}, Red);
    W.Show();
    W.Update();
    PumpMessages();
    HDC Dc = GetDC(static_cast<HWND>(Image.Handle()));
    // Centred: the picture at 10..29 x 10..19, the background around it.
    EXPECT_EQ(GetPixel(Dc, 20, 15), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(Dc, 2, 2), RGB(255, 255, 255));
    ReleaseDC(static_cast<HWND>(Image.Handle()), Dc);
}

TEST_F(NativeUi, TimerAndQueuedCallsRunWhilePumping) {
    TNativeWindow W(Options("t", 50, 50));
    int Ticks = 0, Calls = 0;
    int Id = W.SetTimer(10, [&] { ++Ticks; });
    PostToMessageLoop([&] { ++Calls; });
    for (int I = 0; I < 100 && Ticks < 3; ++I) {
        Sleep(10);
        PumpMessages();
    }
    EXPECT_GE(Ticks, 3);
    EXPECT_EQ(Calls, 1);
    W.KillTimer(Id);
    int Before = Ticks;
    Sleep(50);
    PumpMessages();
    EXPECT_EQ(Ticks, Before);
}

// How a modal window ends, and with what result.
struct TModalCase {
    const char* Name;
    std::function<void(TNativeWindow&, TNativeControl& Ok)> Act;
    int Result;
};

class NativeModal : public NativeUi, public ::testing::WithParamInterface<TModalCase> {};

TEST_P(NativeModal, EndsWithTheResult) {
    TNativeWindow W(Options("Modal", 200, 100));
    TNativeControl& Edit = W.AddEdit({10, 10, 100, 21});
    TNativeControl& Ok = W.AddButton({10, 60, 75, 25}, "OK", {.Default = true, .Cancel = false});
    TNativeControl& Cancel =
        W.AddButton({100, 60, 75, 25}, "&Abbrechen", {.Default = false, .Cancel = true});
    Ok.OnClick = [&W] { W.EndModal(1); };
    Cancel.OnClick = [&W] { W.EndModal(2); };
    PostToMessageLoop([&] {
        EXPECT_TRUE(W.Visible());
        EXPECT_TRUE(Edit.Focused());
        GetParam().Act(W, Ok);
    });
    EXPECT_EQ(W.RunModal(), GetParam().Result);
    EXPECT_FALSE(W.Visible());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, NativeModal,
    ::testing::Values(
        TModalCase{"OkButton", [](TNativeWindow&, TNativeControl& Ok) { Ok.Click(); }, 1},
        TModalCase{"EnterInTheEdit", [](TNativeWindow&, TNativeControl&) { PostKey(VK_RETURN); },
                   1},
        TModalCase{"Escape", [](TNativeWindow&, TNativeControl&) { PostKey(VK_ESCAPE); }, 2},
        TModalCase{"AccessKey", // Alt+A presses "&Abbrechen"
                   [](TNativeWindow&, TNativeControl&) {
                       PostMessageW(GetFocus(), WM_SYSCHAR, 'a', 1 << 29);
                   },
                   2},
        TModalCase{"CloseBox",
                   [](TNativeWindow& W, TNativeControl&) {
                       PostMessageW(static_cast<HWND>(W.Handle()), WM_CLOSE, 0, 0);
                   },
                   2},
        TModalCase{"CloseRefused",
                   [](TNativeWindow& W, TNativeControl& Ok) {
                       W.OnCloseQuery = [] { return false; };
                       EXPECT_FALSE(W.Close());
                       EXPECT_TRUE(W.Visible());
                       Ok.Click();
                   },
                   1}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// The message dialog: German caption and buttons, the result of the button
// pressed, Escape on Cancel or else No.
struct TDlgCase {
    const char* Name;
    TMsgDlgType Type;
    TMsgDlgButtons Buttons;
    int32_t Press; // 0: Escape
    const char* Caption;
    std::vector<std::string> Captions;
    int32_t Result;
};

class NativeMessageDlg : public NativeUi, public ::testing::WithParamInterface<TDlgCase> {};

TEST_P(NativeMessageDlg, ShowsTheTextsAndAnswers) {
    const TDlgCase& C = GetParam();
    TBoxContents Seen;
    SetBoxShownHook([&](void* Box) {
        Seen = BoxContents(Box);
        if (C.Press == 0)
            PostKey(VK_ESCAPE);
        else
            EXPECT_TRUE(PressBoxButton(Box, C.Press));
    });
    EXPECT_EQ(NativeUserInterface().MessageDlg("Zelbrix.exe löschen?", C.Type, C.Buttons),
              C.Result);
    EXPECT_EQ(Seen.Caption, C.Caption);
    EXPECT_EQ(Seen.Text, "Zelbrix.exe löschen?");
    EXPECT_EQ(Seen.Buttons, C.Captions);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NativeMessageDlg,
    ::testing::Values(
        TDlgCase{"Yes",
                 mtConfirmation,
                 MsgDlgButtons({mbYes, mbNo}),
                 mrYes,
                 "Bestätigen",
                 {"&Ja", "&Nein"},
                 mrYes},
        TDlgCase{"No",
                 mtConfirmation,
                 MsgDlgButtons({mbYes, mbNo}),
                 mrNo,
                 "Bestätigen",
                 {"&Ja", "&Nein"},
                 mrNo},
        TDlgCase{"EscapeIsNo",
                 mtConfirmation,
                 MsgDlgButtons({mbYes, mbNo}),
                 0,
                 "Bestätigen",
                 {"&Ja", "&Nein"},
                 mrNo},
        TDlgCase{"EscapeIsCancel",
                 mtWarning,
                 MsgDlgButtons({mbYes, mbNo, mbCancel}),
                 0,
                 "Warnung",
                 {"&Ja", "&Nein", "Abbrechen"},
                 mrCancel},
        TDlgCase{"Ok", mtInformation, MsgDlgButtons({mbOK}), mrOk, "Informationen", {"OK"}, mrOk},
        TDlgCase{"ErrorOkCancel",
                 mtError,
                 MsgDlgButtons({mbOK, mbCancel}),
                 mrCancel,
                 "Fehler",
                 {"OK", "Abbrechen"},
                 mrCancel}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// The layer on screens at 100, 125, 150 and 200 %: the system gets scaled
// pixels and fonts, the view reads back the numbers it gave.
struct TDpiCase {
    const char* Name;
    int Dpi;
    RECT Button; // {100, 100, 75, 25} as the system has it
    int FontHeight, IconSize;
};

const TDpiCase DpiRows[] = {{"dpi96", 96, {100, 100, 75, 25}, 11, 32},
                            {"dpi120", 120, {125, 125, 94, 31}, 14, 40},
                            {"dpi144", 144, {150, 150, 113, 38}, 17, 48},
                            {"dpi192", 192, {200, 200, 150, 50}, 22, 64}};

// Tells a window that it is now on a screen of Dpi, into the rectangle At.
void MoveToDpi(void* Window, int Dpi, RECT At) {
    SendMessageW(static_cast<HWND>(Window), WM_DPICHANGED, MAKEWPARAM(Dpi, Dpi),
                 reinterpret_cast<LPARAM>(&At));
}

RECT SystemRect(void* Window) { // left, top, width, height in the parent
    RECT R;
    GetWindowRect(static_cast<HWND>(Window), &R);
    MapWindowPoints(HWND_DESKTOP, GetParent(static_cast<HWND>(Window)),
                    reinterpret_cast<POINT*>(&R), 2);
    return {R.left, R.top, R.right - R.left, R.bottom - R.top};
}

int FontHeightOf(const TNativeControl& C) {
    LOGFONTW Log{};
    GetObjectW(
        reinterpret_cast<HFONT>(SendMessageW(static_cast<HWND>(C.Handle()), WM_GETFONT, 0, 0)),
        sizeof Log, &Log);
    return -Log.lfHeight;
}

// A window of 320 x 200 with Button at {100, 100, 75, 25}, at Row's density.
void ExpectScaled(const TNativeWindow& W, const TNativeControl& Button, const TDpiCase& Row) {
    RECT Client, B = SystemRect(Button.Handle());
    GetClientRect(static_cast<HWND>(W.Handle()), &Client);
    EXPECT_EQ(W.Dpi(), Row.Dpi);
    EXPECT_EQ(Client.right, 320 * Row.Dpi / 96);
    EXPECT_EQ(W.ClientWidth(), 320);
    EXPECT_TRUE(EqualRect(&B, &Row.Button))
        << B.left << " " << B.top << " " << B.right << " " << B.bottom;
    EXPECT_EQ(Button.Bounds(), (TRect{100, 100, 75, 25}));
    EXPECT_EQ(FontHeightOf(Button), Row.FontHeight);
}

class NativeDpi : public NativeUi, public ::testing::WithParamInterface<TDpiCase> {};

TEST_P(NativeDpi, SystemGetsScaledPixelsViewsTheirOwn) {
    const TDpiCase& C = GetParam();
    TNativeWindow W(Options("DPI", 320, 200, clWhite));
    TNativeControl& Button = W.AddButton({100, 100, 75, 25}, "&Ja"); // laid out again
    TPixelImage Red;
    Red.Width = 20;
    Red.Height = 10;
    Red.Pixels.assign(200, 0xFFFF0000);
    TNativeControl& Image = W.AddImage({200, 10, 40, 30}, Red);
    MoveToDpi(W.Handle(), C.Dpi, {40, 30, 50, 40});
    TNativeControl& Label = W.AddLabel({10, 10, 0, 0}, "Administrator: True");
    W.Show();
    W.Update();
    PumpMessages();

    ExpectScaled(W, Button, C);
    RECT Frame;
    GetWindowRect(static_cast<HWND>(W.Handle()), &Frame);
    EXPECT_EQ(Frame.left, 40); // where the system asked
    EXPECT_EQ(FontHeightOf(Label), C.FontHeight);
    EXPECT_EQ(Label.Bounds().Width, Label.TextWidth("Administrator: True"));
    // The picture grows with its control: red in the middle, white around.
    HDC Dc = GetDC(static_cast<HWND>(Image.Handle()));
    EXPECT_EQ(GetPixel(Dc, 20 * C.Dpi / 96, 15 * C.Dpi / 96), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(Dc, 9 * C.Dpi / 96, 15 * C.Dpi / 96), RGB(255, 255, 255));
    ReleaseDC(static_cast<HWND>(Image.Handle()), Dc);
    EXPECT_TRUE(W.SavePicture(Artifact("nativeui-" + std::string(C.Name) + ".png")));

    // The message dialog scales its buttons and its icon.
    RECT First{}, Icon{};
    SetBoxShownHook([&](void* Box) {
        MoveToDpi(Box, C.Dpi, {0, 0, 10, 10});
        for (HWND Child = GetWindow(static_cast<HWND>(Box), GW_CHILD); Child != nullptr;
             Child = GetWindow(Child, GW_HWNDNEXT)) {
            wchar_t Class[16];
            GetClassNameW(Child, Class, 16);
            if ((GetWindowLongW(Child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                Icon = SystemRect(Child);
            else if (_wcsicmp(Class, L"Button") == 0 && First.right == 0)
                First = SystemRect(Child);
        }
        EXPECT_TRUE(PressBoxButton(Box, mrYes));
    });
    EXPECT_EQ(NativeUserInterface().MessageDlg("Zelbrix.exe löschen?", mtConfirmation,
                                               MsgDlgButtons({mbYes, mbNo})),
              mrYes);
    EXPECT_EQ(First.right, C.Button.right);
    EXPECT_EQ(First.bottom, C.Button.bottom);
    EXPECT_EQ(Icon.left, 12 * C.Dpi / 96);
    EXPECT_EQ(Icon.right, C.IconSize);
}

INSTANTIATE_TEST_SUITE_P(Screens, NativeDpi, ::testing::ValuesIn(DpiRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// A window takes its screen's density as the system tells it: 96 here,
// 144 when ctest runs this as NativeUi.ScreenAt144Dpi.
TEST_F(NativeUi, WindowsTakeTheScreenDensity) {
    const char* Want = std::getenv("KIVO_TEST_DPI");
    const int Dpi = Want != nullptr ? std::atoi(Want) : 96;
    const auto* Row = std::find_if(std::begin(DpiRows), std::end(DpiRows),
                                   [Dpi](const TDpiCase& R) { return R.Dpi == Dpi; });
    ASSERT_NE(Row, std::end(DpiRows));
    TNativeWindow W(Options("DPI", 320, 200));
    ExpectScaled(W, W.AddButton({100, 100, 75, 25}, "OK"), *Row);
}

TEST_F(NativeUi, MessageBoxIsTheSystemBox) {
    struct TRow {
        uint32_t Style;
        int32_t Press;
    };
    for (TRow Row :
         {TRow{MB_YESNO | MB_ICONQUESTION, IDNO}, TRow{MB_YESNO, IDYES},
          TRow{MB_OKCANCEL | MB_ICONWARNING, IDCANCEL}, TRow{MB_OK | MB_ICONSTOP, IDOK}}) {
        TBoxContents Seen;
        SetBoxShownHook([&](void* Box) {
            Seen = BoxContents(Box);
            EXPECT_TRUE(PressBoxButton(Box, Row.Press));
        });
        EXPECT_EQ(
            NativeUserInterface().MessageBox(nullptr, "Success", "kivo-mapi-setup", Row.Style),
            Row.Press);
        EXPECT_EQ(Seen.Caption, "kivo-mapi-setup");
        EXPECT_NE(Seen.Text.find("Success"), std::string::npos);
    }
}

} // namespace
