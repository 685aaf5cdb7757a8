// Native windows for the views of the Windows build: a top-level window (or
// modal dialog) with the few kinds of controls the program's windows use,
// timers, the message pump and pictures of a window saved to a file. The
// header names no system type; the Win32 implementation is
// platform/win32/NativeUi.cpp (other systems have none: their views use Qt).
//
// Usage:
//
//   using namespace kivo::ui;
//   TWindowOptions Options;
//   Options.Caption = "Connect";
//   Options.ClientWidth = 312;
//   Options.ClientHeight = 184;
//   TNativeWindow W(Options);
//   TNativeControl& Name = W.AddEdit({104, 80, 193, 21});
//   TNativeControl& Ok = W.AddButton({144, 152, 75, 25}, "OK", {.Default = true, .Cancel = false});
//   Ok.OnClick = [&W] { W.EndModal(1); };
//   W.SetTabOrder({&Name, &Ok});
//   int Result = W.RunModal();            // 2 when closed by Escape or the close box
//   std::string Text = Name.Text();
//
// A modeless window is shown with Show() and kept alive by PumpMessages(),
// which the program's message pump calls (ProcessMessages). Every call
// belongs to the thread that created the window. Texts are UTF-8.
//
// Sizes: views give every position, size and font height in pixels of a
// 96 dots-per-inch screen. The layer multiplies them by the window's dots
// per inch / 96 on their way to the system and divides what it reads back
// (Bounds, ClientWidth, TextWidth), so views and their tests see the same
// numbers on every screen. When the window moves to a screen of another
// density, the layer lays it out again: its size, the controls, their
// fonts and pictures; OnDpiChanged then lets the view renew what only it
// knows (icons from resources).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace kivo::ui {

// A colour 0x00RRGGBB, or the system's colour for the place it is used.
using TColor = uint32_t;
constexpr TColor clDefault = 0xFF000000u;
constexpr TColor clWhite = 0x00FFFFFFu;
constexpr TColor clBlack = 0x00000000u;

struct TRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    bool operator==(const TRect&) const = default;
};

// A font by face name and character height in pixels at 96 dots per inch
// (the em height, as a negative LOGFONT height gives it; 8 points is 11).
struct TFont {
    std::string Face = "Tahoma";
    int Height = 11;
    bool Bold = false;
};

// A picture as pixels, top row first.
enum class TPixelFormat : uint8_t {
    Rgb,     // Pixels 0x00RRGGBB (alpha ignored)
    Argb,    // Pixels 0xAARRGGBB, not premultiplied; blended over the background
    Indexed8 // Indexes into Palette (0x00RRGGBB entries)
};
struct TPixelImage {
    int Width = 0, Height = 0;
    TPixelFormat Format = TPixelFormat::Argb;
    std::vector<uint32_t> Pixels;  // Rgb, Argb: Width * Height
    std::vector<uint8_t> Indexes;  // Indexed8: Width * Height
    std::vector<uint32_t> Palette; // Indexed8: up to 256 entries
    // The colour at X, Y as 0xAARRGGBB (Indexed8 and Rgb opaque).
    uint32_t At(int X, int Y) const;
    bool Empty() const { return Width <= 0 || Height <= 0; }
};

enum class TControlKind : uint8_t { Label, CheckBox, Button, Edit, ProgressBar, Image, Animation };

struct TLabelStyle {
    TFont Font;
    TColor TextColor = clDefault;
    TColor Background = clDefault; // clDefault: the window's background
    bool WordWrap = false;
    bool PathEllipsis = false; // the system shortens the middle of a path
    bool AutoSize = true; // sized to the text (single line) when added and when the text changes
};

struct TButtonStyle {
    bool Default = false; // Enter clicks it
    bool Cancel = false;  // Escape clicks it
};

class TNativeWindow;

// A child control, owned by its window.
class TNativeControl {
public:
    TNativeControl(const TNativeControl&) = delete;
    TNativeControl& operator=(const TNativeControl&) = delete;

    TControlKind Kind() const { return FKind; }
    TNativeWindow& Window() const { return *FWindow; }
    // The system's window handle of the control (HWND on Windows), for
    // messages sent through IUserInterface::SendMessage (BCM_SETSHIELD).
    void* Handle() const { return FHandle; }

    std::string Text() const;
    void SetText(const std::string& Text); // an auto-sized label resizes to it
    TRect Bounds() const;
    void SetBounds(const TRect& Bounds);
    bool Visible() const;
    void SetVisible(bool Visible);
    bool Enabled() const;
    void SetEnabled(bool Enabled);
    void SetFocus();
    // True for the control with the keyboard focus, or, while its window is
    // not active, for the one that gets the focus back when it is activated.
    bool Focused() const;
    void SetFont(const TFont& Font);
    // Width in pixels of Text in the control's font.
    int TextWidth(const std::string& Text) const;

    // Check box.
    bool Checked() const;
    void SetChecked(bool Checked);
    // Button: the elevation shield (BCM_SETSHIELD), the default-button look.
    void SetShield(bool Shield);
    void SetDefault(bool Default);
    // Button: a picture shown beside the caption, centred when there is none
    // (a small icon, alpha kept, enlarged with the screen's density; an
    // empty picture removes it).
    void SetButtonImage(const TPixelImage& Image);
    // Edit: each character shown as '*'.
    void SetPassword(bool Password);
    // Progress bar: range, position, marquee (moving, no position).
    void SetRange(int Min, int Max);
    void SetPosition(int Position);
    int Position() const;
    void SetMarquee(bool Marquee);
    // Image: the picture, centred in the control when smaller, else cut at
    // the right and bottom. The control keeps a copy; on a denser screen
    // it is shown enlarged (smoothly) as the control is.
    void SetImage(const TPixelImage& Image);
    const TPixelImage& Image() const;
    // Animation: plays a clip resource of the system's shell library (the
    // file-copy clip is 161); false when the system has no such clip (Wine
    // has none: its shell library holds one placeholder for every clip).
    // The clip keeps its own size, centred in the control.
    bool OpenSystemClip(int ResId);
    void SetPlaying(bool Playing);

    // Clicks of buttons and check boxes (also by keyboard).
    std::function<void()> OnClick;
    // Simulates a user's click: the check box toggles, OnClick runs. Does
    // nothing when the control is hidden or disabled.
    void Click();

private:
    friend class TNativeWindow;
    TNativeControl(TNativeWindow& Window, TControlKind Kind, int Id);
    struct TState;
    // An auto-sized label takes its text's size in its font.
    void FitToText();
    // Bounds, font and button picture at the window's present density.
    void Relayout();

    TNativeWindow* FWindow;
    TControlKind FKind;
    int FId;
    void* FHandle = nullptr;
    std::unique_ptr<TState> FState;
};

struct TWindowOptions {
    std::string Caption;
    int ClientWidth = 0, ClientHeight = 0;
    bool SystemMenu = true;   // system menu and close box in the title bar
    bool MinimizeBox = false; // a main window's minimize box
    bool TopMost = false;
    bool Centered = true; // centred on the screen, else where the system puts it
    TColor Background = clDefault;
    TFont Font;                // default font of the controls
    bool ShowInTaskbar = true; // false: a tool window owned by nothing
};

class TNativeWindow {
public:
    explicit TNativeWindow(const TWindowOptions& Options);
    ~TNativeWindow();
    TNativeWindow(const TNativeWindow&) = delete;
    TNativeWindow& operator=(const TNativeWindow&) = delete;

    // The system's window handle (HWND on Windows).
    void* Handle() const { return FHandle; }

    // Controls, in tab order as added until SetTabOrder changes it. Labels
    // put before a control in that order lend it their access key ("&User").
    TNativeControl& AddLabel(const TRect& Bounds, const std::string& Text,
                             const TLabelStyle& Style = {});
    TNativeControl& AddCheckBox(const TRect& Bounds, const std::string& Text,
                                const TFont* Font = nullptr);
    TNativeControl& AddButton(const TRect& Bounds, const std::string& Text,
                              const TButtonStyle& Style = {});
    TNativeControl& AddEdit(const TRect& Bounds, bool Password = false);
    TNativeControl& AddProgressBar(const TRect& Bounds);
    TNativeControl& AddImage(const TRect& Bounds, const TPixelImage& Image = {});
    TNativeControl& AddAnimation(const TRect& Bounds);
    int ControlCount() const { return static_cast<int>(FControls.size()); }
    TNativeControl& Control(int Index) const { return *FControls[Index]; }

    // Tab order of the focusable controls (the rest keep their places).
    void SetTabOrder(std::initializer_list<TNativeControl*> Order);

    std::string Caption() const;
    void SetCaption(const std::string& Caption);
    void SetClientSize(int Width, int Height);
    int ClientWidth() const;
    int ClientHeight() const;
    void SetIcon(const TPixelImage& Icon);
    void SetTopMost(bool TopMost);
    bool TopMost() const;
    void SetSystemMenu(bool SystemMenu);
    void SetBusyCursor(bool Busy); // hourglass over the window

    // The window's dots per inch (96 on a screen at 100 %).
    int Dpi() const;
    // Runs after the window was laid out again for a screen of another
    // density (Dpi() tells the new one).
    std::function<void()> OnDpiChanged;

    // Shows without modality; focus goes to the first enabled control in
    // tab order the first time.
    void Show();
    void Hide();
    bool Visible() const;
    // Brings the window to the front and gives it the focus.
    void Activate();

    // Shows the window and runs messages until EndModal; other windows of
    // the thread are disabled meanwhile. Returns the result given to
    // EndModal. Escape clicks the visible, enabled Cancel button, else it
    // acts as the close box does.
    int RunModal();
    void EndModal(int Result);
    bool Modal() const { return FModal; }

    // The close box, Alt+F4 or Escape without a Cancel button: OnCloseQuery
    // may refuse (false); then OnClose runs, the window hides and a modal
    // run ends with 2 (cancel).
    std::function<bool()> OnCloseQuery;
    std::function<void()> OnClose;
    // Asks to close as the close box does; returns whether it closed.
    bool Close();

    // Calls Handler every Milliseconds while the window exists; returns an
    // id for KillTimer.
    int SetTimer(unsigned Milliseconds, std::function<void()> Handler);
    void KillTimer(int Id);

    // Saves the window's client area as it is shown to Path: PNG when the
    // name ends in ".png", else BMP. Returns false when it cannot. (The
    // frame is left out: without a window manager, as under Xvfb or Wine's
    // null display driver, nobody draws it.)
    bool SavePicture(const std::string& Path) const;
    // Repaints now (before a picture or a test's look at the screen).
    void Update();

    struct TImpl;
    TImpl* Impl() const { return FImpl.get(); }

private:
    friend class TNativeControl;
    TNativeControl& Add(TControlKind Kind, const TRect& Bounds);

    std::unique_ptr<TImpl> FImpl;
    void* FHandle = nullptr;
    std::vector<std::unique_ptr<TNativeControl>> FControls;
    bool FModal = false;
};

// Writes Image to Path: PNG when the name ends in ".png", else a 24-bit BMP
// (alpha dropped). Returns false when it cannot. Serves every system.
bool SavePixelImage(const TPixelImage& Image, const std::string& Path);

// Writes Text onto Image (made Rgb) in Font and Color, vertically centred
// in Box and left-aligned, as the system renders it (for pictures that carry
// words, such as a banner).
void DrawTextOnImage(TPixelImage& Image, const TRect& Box, const std::string& Text,
                     const TFont& Font, TColor Color);

// Whether windows can be made here (under Wine: a display or the null
// display driver); when
// not, Reason says why.
bool WindowsAvailable(std::string* Reason = nullptr);

// Processes the thread's pending window messages and returns (the program's
// message pump step).
void PumpMessages();

// Runs Handler once the thread next processes messages (as a queued call).
void PostToMessageLoop(std::function<void()> Handler);

} // namespace kivo::ui
