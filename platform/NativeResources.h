// The program's own pictures on native windows, and pictures of windows the
// program did not make itself (the system's message boxes). Windows build
// only (platform/win32/NativeResources.cpp), beside the native window layer
// (NativeUi.h).
#pragma once

#include <string>

#include "platform/NativeUi.h"

namespace kivo::ui {

// Shows the icon resource ResId of the running program, Size x Size pixels,
// centred on Button instead of a text. False when the program has no such
// resource.
bool SetButtonIconResource(TNativeControl& Button, int ResId, int Size);
// Whether Button shows an icon (SetButtonIconResource).
bool ButtonHasIcon(const TNativeControl& Button);

// The icon resource ResId of the running program as Window's icon in its
// title bar and the task bar. False when the program has no such resource.
bool SetWindowIconResource(TNativeWindow& Window, int ResId);

// Saves what the window with the system handle Window (HWND on Windows)
// shows in its client area to Path (PNG for ".png", else BMP).
bool SaveWindowPicture(void* Window, const std::string& Path);

} // namespace kivo::ui
