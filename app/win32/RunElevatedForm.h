// The native view of the installer window on Windows: a window of the
// native window layer (platform/NativeUi.h) with the designed controls,
// drawn from the window's state (app/RunElevatedMain.h), whose clicks go to
// the state's handlers. The program's resources (app/win32/Resources.h)
// give the waste bin and the window's icon.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "app/RunElevatedMain.h"
#include "platform/NativeUi.h"

namespace kivo {

class TRunElevatedForm final : private IRunElevatedFormView {
public:
    // Prepare, when given, sees the state before the window's creation
    // handler runs (tests choose the install folders there).
    explicit TRunElevatedForm(const std::function<void(TRunElevatedFormState&)>& Prepare = nullptr);
    ~TRunElevatedForm() override;
    TRunElevatedForm(const TRunElevatedForm&) = delete;
    TRunElevatedForm& operator=(const TRunElevatedForm&) = delete;

    TRunElevatedFormState& State() { return FState; }
    ui::TNativeWindow& Window() { return *FWindow; }
    ui::TNativeControl& Control(TFormControl C) { return *FControls[C]; }

    // Shows the window; the first enabled control in tab order takes the
    // focus.
    void Show();
    // Shows the window and runs the message loop until it is closed.
    void Run();
    // Whether the shield was put on a button of this view.
    bool ShieldShown(TFormControl C) const { return FShieldShown[C]; }

private:
    void ControlChanged(TFormControl Control) override;
    TWindowHandle WindowHandle() override { return FWindow->Handle(); }
    TWindowHandle ControlHandle(TFormControl C) override { return FControls[C]->Handle(); }
    void SetBusyCursor(bool Busy) override { FWindow->SetBusyCursor(Busy); }
    void ShowError(const std::exception& E) override;

    std::unique_ptr<ui::TNativeWindow> FWindow;
    std::array<ui::TNativeControl*, FormControlCount> FControls{};
    std::array<bool, FormControlCount> FShieldShown{};
    TRunElevatedFormState FState;
};

// Installs what the native views need: the native user interface (message
// boxes and dialogs), the web copy engine's native dialogs and the message
// pump that keeps windows alive while the program waits.
void InstallWindowsViews();

} // namespace kivo
