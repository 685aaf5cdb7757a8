// The Windows views: the progress dialog rendering the engine's state
// during a real download, and the login dialog. Windows need a display
// driver: under Wine the ctest fixture chooses X11 or the null driver
// (outside it, without a display, the tests skip, saying so).
// Pictures go to <build>/artifacts/.
#include <gtest/gtest.h>

#include "platform/NativeUi.h"
#include "support/EventLog.h"
#include "support/TestSupport.h"
#include "support/ViewRuns.h"
#include "webcopy/WcLoginWin.h"
#include "webcopy/WcProgressWin.h"
#include "webcopy/Webcopy.h"

// After the project's headers; only for the keys a user presses.
// clang-format off
#include <windows.h>
#undef MessageBox
#undef SendMessage
// clang-format on

using namespace kivo;
using namespace kivo::webcopy;
using kivo::test::Server;

namespace {

std::string Artifact(const std::string& Name) {
    std::string Dir = std::string(KIVO_BINARY_DIR) + "/artifacts";
    CreateDirectoryA(Dir.c_str(), nullptr);
    return Dir + "/" + Name;
}

// A key as the keyboard delivers it to the focused control.
void PostKey(UINT Key) {
    HWND Focus = GetFocus();
    PostMessageW(Focus, WM_KEYDOWN, Key, 1);
    PostMessageW(Focus, WM_KEYUP, Key, 0xC0000001);
}

// Lets the views catch up with the state (their timers run).
void Settle(int Milliseconds = 120) {
    for (int T = 0; T < Milliseconds; T += 10) {
        ui::PumpMessages();
        ::Sleep(10);
    }
    ui::PumpMessages();
}

ui::TNativeControl& Ctl(const TForm& F, const char* Name) {
    ui::TNativeControl* C = Win32ControlOf(F, Name);
    if (C == nullptr) throw std::runtime_error(std::string("no control ") + Name);
    return *C;
}

class WinViews : public ::testing::Test {
protected:
    void SetUp() override {
        std::string Reason;
        if (!ui::WindowsAvailable(&Reason)) GTEST_SKIP() << Reason;
        static const bool Installed = [] {
            InstallWin32Views();
            return true;
        }();
        (void)Installed;
        Server().ClearLog();
    }
    void TearDown() override { SetLoginShownHook(nullptr); }
    test::TTempDir Dir;
};

TEST_F(WinViews, ProgressDialogShowsTheEngineState) {
    TWebCopy W(nullptr);
    TWebCopyItem* It = test::AddFullDialogDownload(W, Dir);
    bool Checked = false;
    W.OnCopyProgress = [&](TWebCopy* S, int32_t, uint32_t Size, uint32_t) {
        if (Checked || Size < 60000) return;
        Checked = true;
        Settle();
        TForm& F = *S->ProgressForm();
        ui::TNativeWindow* Win = Win32WindowOf(F);
        ASSERT_NE(Win, nullptr);
        EXPECT_TRUE(Win->Visible());
        EXPECT_TRUE(Win->TopMost());
        EXPECT_FALSE(GetWindowLongW(static_cast<HWND>(Win->Handle()), GWL_STYLE) & WS_SYSMENU);
        EXPECT_EQ(Win->ClientWidth(), F.ClientWidth());
        EXPECT_EQ(Win->ClientHeight(), F.ClientHeight());
        EXPECT_EQ(Win->Caption(), F.Caption());
        EXPECT_NE(Win->Caption().find("% completed"), std::string::npos);
        ui::TNativeControl& Bar = Ctl(F, "ProgressBar");
        EXPECT_EQ(Bar.Bounds(), (ui::TRect{10, 60, F.ClientWidth() - 20, 12}));
        EXPECT_EQ(Bar.Position(), S->ProgressBar()->Position());
        ui::TNativeControl& SizeLbl = Ctl(F, "SizeLabel");
        EXPECT_EQ(SizeLbl.Text(), S->ProgressSizeLabel()->Caption());
        EXPECT_EQ(SizeLbl.Bounds().Left, 10);
        EXPECT_EQ(SizeLbl.Bounds().Top, 100);
        // The file line: its fixed box, the text shortened to fit it.
        ui::TNativeControl& File = Ctl(F, "FileLabel");
        EXPECT_EQ(File.Bounds(), (ui::TRect{10, 80, F.ClientWidth() - 20, 20}));
        const std::string Shown = File.Text();
        EXPECT_LE(File.TextWidth(Shown), F.ClientWidth() - 20);
        EXPECT_NE(Shown.find("..."), std::string::npos);
        EXPECT_FALSE(Ctl(F, "OpenFileButton").Enabled());
        EXPECT_TRUE(Ctl(F, "TimeLabel").Visible());
        // The file-copy clip: the system's where it has one, else ours.
        ui::TNativeControl* Clip = Win32ControlOf(F, "AnimateClip");
        EXPECT_NE(Ctl(F, "Animate").Visible(), Clip != nullptr && Clip->Visible());
        EXPECT_TRUE(Win->SavePicture(Artifact("webcopy-progress-win.png")));
    };
    W.Execute();
    EXPECT_TRUE(Checked);
    EXPECT_TRUE(It->Success());

    // The end of the run: the dialog stays with Close and the Open buttons.
    Settle();
    TForm& F = *W.ProgressForm();
    ui::TNativeWindow* Win = Win32WindowOf(F);
    ASSERT_NE(Win, nullptr);
    ui::TNativeControl& Close = Ctl(F, "CancelButton");
    EXPECT_EQ(Close.Text(), "Close");
    EXPECT_TRUE(Ctl(F, "OpenFileButton").Enabled());
    EXPECT_TRUE(Ctl(F, "OpenFolderButton").Enabled());
    EXPECT_TRUE(Win->SavePicture(Artifact("webcopy-progress-done-win.png")));
    Close.Click();
    EXPECT_FALSE(F.Visible());
    EXPECT_FALSE(Win->Visible());
}

// The ways a user cancels a running transfer; the close box is refused
// while it runs.
class WinCancel : public WinViews, public ::testing::WithParamInterface<const char*> {};

TEST_P(WinCancel, CancelsTheTransfer) {
    const std::string Way = GetParam();
    TWebCopy W(nullptr);
    test::TEventLog Log(W);
    TWebCopyItem* It = test::AddSlowDownload(W, Dir);
    bool Done = false;
    W.OnCopyProgress = [&](TWebCopy* S, int32_t, uint32_t Size, uint32_t) {
        if (Done || Size == 0) return;
        Done = true;
        Settle(60);
        TForm& F = *S->ProgressForm();
        ui::TNativeWindow* Win = Win32WindowOf(F);
        ASSERT_NE(Win, nullptr);
        PostMessageW(static_cast<HWND>(Win->Handle()), WM_CLOSE, 0, 0);
        Settle(20);
        EXPECT_TRUE(F.Visible());
        EXPECT_TRUE(Win->Visible());
        if (Way == "CancelButton") {
            Ctl(F, "CancelButton").Click();
        } else {
            Win->Activate();
            Ctl(F, "CancelButton").SetFocus();
            PostKey(VK_ESCAPE);
            Settle(20);
        }
    };
    W.Execute();
    EXPECT_TRUE(It->Cancelled());
    EXPECT_TRUE(Log.Has("CopyCancel"));
    EXPECT_FALSE(test::Exists(Dir / "c.bin"));
}

std::string WayName(const ::testing::TestParamInfo<const char*>& Info) {
    return Info.param;
}

INSTANTIATE_TEST_SUITE_P(Ways, WinCancel, ::testing::Values("CancelButton", "Escape"), WayName);

TEST_F(WinViews, LoginDialogLayoutAndConfirmation) {
    // Confirmed with Enter in the password field.
    SetLoginShownHook([](TWcLoginForm& F) {
        EXPECT_EQ(F.Window.ClientWidth(), 312);
        EXPECT_EQ(F.Window.ClientHeight(), 184);
        EXPECT_EQ(F.Edit1->Bounds(), (ui::TRect{104, 80, 193, 21}));
        EXPECT_EQ(F.Edit2->Bounds(), (ui::TRect{104, 112, 193, 21}));
        EXPECT_EQ(F.Button1->Bounds(), (ui::TRect{144, 152, 75, 25}));
        EXPECT_EQ(F.Button2->Bounds(), (ui::TRect{224, 152, 75, 25}));
        EXPECT_EQ(SendMessageW(static_cast<HWND>(F.Edit2->Handle()), EM_GETPASSWORDCHAR, 0, 0),
                  '*');
        EXPECT_EQ(F.Label1->Text(), "&User name: ");
        EXPECT_EQ(F.Label2->Text(), "&Password:");
        EXPECT_TRUE(F.Edit1->Text().empty()); // the incoming values are not shown
        EXPECT_TRUE(F.Edit1->Focused());
        const LONG Style = GetWindowLongW(static_cast<HWND>(F.Window.Handle()), GWL_STYLE);
        EXPECT_TRUE(Style & WS_SYSMENU);
        EXPECT_FALSE(Style & WS_MINIMIZEBOX);
        EXPECT_EQ(F.Image1->Image().Width, 320);
        EXPECT_EQ(F.Image1->Image().Format, ui::TPixelFormat::Indexed8);
        EXPECT_EQ(F.Window.Caption(), "Connect to example.org");
        F.Edit1->SetText("alice");
        F.Edit2->SetText("s3cret");
        EXPECT_TRUE(F.Window.SavePicture(Artifact("webcopy-login-win.png")));
        F.Edit2->SetFocus();
        PostKey(VK_RETURN);
    });
    std::string User = "old", Password = "old";
    EXPECT_TRUE(Login("Connect to example.org", User, Password));
    EXPECT_EQ(User, "alice");
    EXPECT_EQ(Password, "s3cret");
}

// Escape, the Cancel button and the close box leave the values alone.
class WinLoginCancel : public WinViews, public ::testing::WithParamInterface<const char*> {};

TEST_P(WinLoginCancel, LeavesTheValues) {
    const std::string Way = GetParam();
    SetLoginShownHook([Way](TWcLoginForm& F) {
        F.Edit1->SetText("bob");
        if (Way == "Escape")
            PostKey(VK_ESCAPE);
        else if (Way == "CancelButton")
            F.Button2->Click();
        else
            PostMessageW(static_cast<HWND>(F.Window.Handle()), WM_CLOSE, 0, 0);
    });
    std::string User = "keep", Password = "same";
    EXPECT_FALSE(Login("c", User, Password));
    EXPECT_EQ(User, "keep");
    EXPECT_EQ(Password, "same");
}

INSTANTIATE_TEST_SUITE_P(Ways, WinLoginCancel,
                         ::testing::Values("Escape", "CancelButton", "CloseBox"), WayName);

TEST_F(WinViews, EngineAsksThroughTheLoginDialog) {
    SetLoginShownHook([](TWcLoginForm& F) {
        F.Edit1->SetText("user");
        F.Edit2->SetText("secret");
        F.Button1->Click();
    });
    TWebCopy W(nullptr);
    TWebCopyItem* It = test::AddLoginDownload(W, Dir);
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(test::ReadFile(Dir / "l.bin"), test::Pattern(100));
}

} // namespace
