// The installer window and its workflow: status lines, the install-folder
// choice, download and unpacking of the server package, register and
// unregister through the elevation support, and deleting the server program.
//
// The window's state and behaviour live here, without any GUI library or
// system header: the texts, enabled and visible state, check mark and shield
// of each control, the busy state, and every handler. A view (Qt on Linux,
// native Win32 on Windows) renders that state, forwards clicks to the
// handlers and is told when a control changed.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "platform/UserInterface.h"

namespace kivo {

// The chosen install folder, without trailing delimiter; empty at start.
extern std::string InstallFolder;
// File name of the COM server program inside InstallFolder.
extern const char* const ServerExeName; // "Zelbrix.exe"
// File name of the server package.
extern const char* const ServerZipName; // "Zelbrix.zip"
// The maker's downloads folder (ends in "/"); KIVO_DOWNLOAD_BASE_URL, an
// http:// or https:// URL, overrides it for mirrors and tests (read at each
// call).
std::string DownloadBaseUrl();
extern const char* const DefaultDownloadBaseUrl;

// The action of the elevated copy: starts the server program with the
// switch in field 2 of Parameters, in the folder of field 1, and reports the
// start in a message box. Always 0.
uint32_t ElevatedServerAction(const std::string& Parameters);

// Start-up of the module, before any window exists: clears InstallFolder,
// registers ElevatedServerAction and, when the command line carries the
// elevation switch, runs it and ends the process.
void InitializeRunElevatedMain();
// End of the module: clears InstallFolder.
void FinalizeRunElevatedMain();

// The application's title: the program's file name without extension.
std::string ApplicationTitle();
// The text of the application's error box: a final "." is added unless the
// message ends in a character at or below ".".
std::string ErrorBoxText(const std::string& Message);
// The application's top-level error box: stop icon, OK, titled with the
// application title, owned by Owner. EAbort is silent.
void ShowExceptionBox(const std::exception& E, TWindowHandle Owner);

// ---- the window as designed ----

enum TFormControl : uint8_t {
    fcLabel1,
    fcLabel2,
    fcLabel3,
    fcLabel4,
    fcCheckBox1,
    fcButton1,
    fcButton2,
    fcButton3,
    fcButton4
};
constexpr int FormControlCount = 9;

enum TControlKind : uint8_t { ckLabel, ckCheckBox, ckButton };

// Position and size in pixels of the client area (labels size themselves
// to their text: Width and Height 0), the place in the tab order (-1: not
// a tab stop), and the font's character height in pixels (0: the form's).
struct TControlLayout {
    TFormControl Control;
    const char* Name;
    TControlKind Kind;
    int Left, Top, Width, Height;
    int TabOrder;
    int FontPixels;
    bool Bold;
};

struct TFormDesign {
    const char* Name;    // "RunElevatedForm"
    const char* Caption; // "Register 64bit MAPI Proxy"
    int ClientWidth, ClientHeight;
    uint32_t Color;         // background, 0xRRGGBB
    const char* FontFamily; // "Tahoma"
    int FontPixels;
    std::array<TControlLayout, FormControlCount> Controls; // in TFormControl order
    // The waste bin on Button4: 16 x 16, white on red.
    uint32_t WasteBinColor; // 0xRRGGBB
};
const TFormDesign& RunElevatedFormDesign();

// The controls in tab order: Button2, Button1, Button3, Button4, CheckBox1.
std::array<TFormControl, 5> TabOrder();

// What a control shows.
struct TControlState {
    std::string Caption;
    bool Enabled = true;
    bool Visible = true;
    bool Checked = false; // check box
    bool Shield = false;  // the elevation shield was put on the button
};

// The view's side: the state tells it what changed and asks it for the
// handles the platform services take.
class IRunElevatedFormView {
public:
    virtual ~IRunElevatedFormView() = default;
    // Control's state changed; the view shows it.
    virtual void ControlChanged(TFormControl Control) = 0;
    // The window's and a control's handle (for the shield message and as
    // the owner of the elevation prompt and of boxes).
    virtual TWindowHandle WindowHandle() = 0;
    virtual TWindowHandle ControlHandle(TFormControl Control) = 0;
    // Hourglass on the window and the screen, or back to the default.
    virtual void SetBusyCursor(bool Busy) = 0;
    // Shows an error that escaped a handler in the application's error box.
    virtual void ShowError(const std::exception& E) = 0;
};

// TRunElevatedForm's state and behaviour.
class TRunElevatedFormState {
public:
    explicit TRunElevatedFormState(IRunElevatedFormView* View = nullptr);
    ~TRunElevatedFormState();
    TRunElevatedFormState(const TRunElevatedFormState&) = delete;
    TRunElevatedFormState& operator=(const TRunElevatedFormState&) = delete;

    const TControlState& Control(TFormControl C) const { return FControls[C]; }
    bool Busy() const { return FBusy; }
    // The control that takes the focus when the window opens: the first
    // enabled, visible one in tab order.
    TFormControl FirstFocus() const;

    // Runs FormCreate as the window is created: an error is shown in the
    // application's error box and the window still opens.
    void Create();

    // Handlers, public so that views, tests and the demo tour drive them.
    void FormCreate();
    void CheckBox1Click();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void SelectInstallFolder();
    void UpdateServerState();
    void BeginBusy();
    void EndBusy();
    bool DownloadAndExtractServer();

    // The check box's mark as the user set it (before CheckBox1Click).
    void SetCheckBox1Checked(bool Checked);

    // Runs a handler the way the application runs event handlers: an error
    // that escapes it goes to the application's error box.
    void Guarded(const std::function<void()>& Handler);
    // Runs the handler of a clicked control, guarded.
    void Click(TFormControl Control);

    // The two install folders (the profile folders unless a test sets them).
    std::function<std::string()> PublicFolder;
    std::function<std::string()> LocalFolder;

private:
    TControlState& Edit(TFormControl C) { return FControls[C]; }
    void SetCaption(TFormControl C, const std::string& Caption);
    void SetEnabled(TFormControl C, bool Enabled);
    void SetVisible(TFormControl C, bool Visible);
    void Changed(TFormControl C);
    void RegisterOrUnregister(const char* Switch);
    TWindowHandle Handle(TFormControl C) const;

    IRunElevatedFormView* FView;
    std::array<TControlState, FormControlCount> FControls;
    bool FBusy = false;
};

} // namespace kivo
