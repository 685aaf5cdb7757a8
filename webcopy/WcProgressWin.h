// The Windows views of the web copy engine's dialogs: native windows (the
// native window layer, platform/NativeUi.h) for the progress dialog state
// (WcForms.h), drawn from that state at a bounded rate, and the wiring
// that lets the engine reach them (views, login dialog, message pump,
// main-thread wake-up). Built only for Windows; the Qt views
// (WcProgressView.h) serve the other systems.
#pragma once

#include <string>

#include "platform/NativeUi.h"

namespace kivo::webcopy {

class TForm;

// Installs the progress dialog view, the login dialog (WcLoginWin), a
// message pump over the native layer (at most every 10 ms, so per-block
// pumping stays cheap) and the wake-up for calls handed to the main thread.
// Call on the thread that shows the windows.
void InstallWin32Views();

// The window that currently shows Form, or null.
ui::TNativeWindow* Win32WindowOf(const TForm& Form);
// The control that shows the form's control named Name (as WcForms names
// them: "SizeLabel", "CancelButton", ...), or null. The animation shows as
// "Animate" (the drawn frames) or, for the system's clip when the system
// has it, "AnimateClip".
ui::TNativeControl* Win32ControlOf(const TForm& Form, const std::string& Name);

} // namespace kivo::webcopy
