// The program's own pictures on native windows, fonts of its own, and
// pictures of windows the program did not make itself (the system's message
// boxes). Windows build
// only (platform/win32/NativeResources.cpp), beside the native window layer
// (NativeUi.h).
#pragma once

#include <string>

#include "platform/NativeUi.h"

namespace kivo::ui {

// Shows the icon resource ResId of the running program, Size x Size pixels
// at 96 dots per inch (more on a denser screen), centred on Button instead
// of a text. False when the program has no such resource. The icons of
// this and SetWindowIconResource suit the window's density when set: a
// view sets them again in the window's OnDpiChanged.
bool SetButtonIconResource(TNativeControl& Button, int ResId, int Size);
// Whether Button shows an icon (SetButtonIconResource).
bool ButtonHasIcon(const TNativeControl& Button);

// The icon resource ResId of the running program as Window's icon in its
// title bar and the task bar, in the sizes of the window's density. False
// when the program has no such resource.
bool SetWindowIconResource(TNativeWindow& Window, int ResId);

// Whether the system has a font of the face Face ("Tahoma").
bool FontFaceAvailable(const std::string& Face);
// Makes the fonts in the file Path usable by this process only. False when
// the file holds none.
bool AddPrivateFontFile(const std::string& Path);

// Saves what the window with the system handle Window (HWND on Windows)
// shows in its client area to Path (PNG for ".png", else BMP).
bool SaveWindowPicture(void* Window, const std::string& Path);

} // namespace kivo::ui
