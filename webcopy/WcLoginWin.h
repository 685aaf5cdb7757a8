// The login dialog of the Windows build: the layout of the Qt dialog
// (WcLogin.h) as a native window. Built only for Windows.
#pragma once

#include <functional>
#include <string>

#include "platform/NativeUi.h"

namespace kivo::webcopy {

class TWcLoginForm {
public:
    TWcLoginForm();

    ui::TNativeWindow Window;
    ui::TNativeControl* Image1 = nullptr;
    ui::TNativeControl* Label1 = nullptr;
    ui::TNativeControl* Label2 = nullptr;
    ui::TNativeControl* Edit1 = nullptr;
    ui::TNativeControl* Edit2 = nullptr;
    ui::TNativeControl* Button1 = nullptr; // OK, default button, modal result 1
    ui::TNativeControl* Button2 = nullptr; // Cancel, cancel button, modal result 2
};

// The banner above the fields: 320 x 60 pixels, 8 bits per pixel.
ui::TPixelImage LoginBanner();

// Shows the dialog modally with Caption. OK: the user name and password
// become the entered texts and the result is true; otherwise both stay as
// they were. The fields start empty. False when no window can be made.
bool Login(const std::string& Caption, std::string& UserName, std::string& Password);

// Called with the open dialog once it runs (tests answer it through this).
void SetLoginShownHook(std::function<void(TWcLoginForm&)> Hook);

} // namespace kivo::webcopy
