// The user-interface services (UserInterface.h) over native windows, for
// the Windows build: the system's message box, the message dialog with the
// library's German caption and button texts, and window messages sent to
// real window handles (BCM_SETSHIELD reaches the button). Implemented in
// platform/win32/NativeUserInterface.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/UserInterface.h"

namespace kivo::ui {

// The native user interface; Install makes it the one in force.
IUserInterface& NativeUserInterface();
void InstallNativeUserInterface();

// Without a person at the keyboard (tests, a demo tour): Hook is called with
// the window handle of each message box or message dialog once it is on
// the screen (nullptr: none). PressBoxButton answers such a box as a click
// on the button with that result (IDYES, mrNo, ...) does.
void SetBoxShownHook(std::function<void(void* Box)> Hook);
bool PressBoxButton(void* Box, int32_t Result);

// What a box shows: its caption, its message and its buttons' captions in
// order.
struct TBoxContents {
    std::string Caption;
    std::string Text;
    std::vector<std::string> Buttons;
};
TBoxContents BoxContents(void* Box);

} // namespace kivo::ui
