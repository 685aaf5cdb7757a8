// User-interface services the non-visual modules call: message boxes, message
// dialogs and window messages. The installer supplies a Qt implementation;
// without one, boxes go to standard error and answer with their default
// button. Tests install stand-ins that record what would have been shown.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace kivo {

// A window or control, as the GUI knows it (for the Qt view: a QWidget*).
using TWindowHandle = void*;

// MessageBox styles and results.
constexpr uint32_t MB_OK = 0x00000000;
constexpr uint32_t MB_OKCANCEL = 0x00000001;
constexpr uint32_t MB_YESNO = 0x00000004;
constexpr uint32_t MB_ICONSTOP = 0x00000010;
constexpr uint32_t MB_ICONQUESTION = 0x00000020;
constexpr uint32_t MB_ICONWARNING = 0x00000030;
constexpr uint32_t MB_ICONINFORMATION = 0x00000040;
constexpr int32_t IDOK = 1;
constexpr int32_t IDCANCEL = 2;
constexpr int32_t IDYES = 6;
constexpr int32_t IDNO = 7;

// Message dialogs of the user-interface library.
enum TMsgDlgType : uint8_t { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn : uint8_t { mbYes, mbNo, mbOK, mbCancel };
using TMsgDlgButtons = uint32_t; // bit set of TMsgDlgBtn
constexpr TMsgDlgButtons MsgDlgButtons(std::initializer_list<TMsgDlgBtn> Buttons) {
    TMsgDlgButtons Set = 0;
    for (TMsgDlgBtn B : Buttons)
        Set |= 1u << B;
    return Set;
}
constexpr int32_t mrOk = 1;
constexpr int32_t mrCancel = 2;
constexpr int32_t mrYes = 6;
constexpr int32_t mrNo = 7;

// The dialog title of each type and the button captions, as the library's
// German resources write them.
const char* MsgDlgCaption(TMsgDlgType Type);        // "Bestätigen", "Informationen", ...
const char* MsgDlgButtonCaption(TMsgDlgBtn Button); // "&Ja", "&Nein", "OK", "Abbrechen"

// Button message that shows the elevation shield (lParam non-zero).
constexpr uint32_t BCM_SETSHIELD = 0x160C;

class IUserInterface {
public:
    virtual ~IUserInterface() = default;
    virtual int32_t MessageBox(TWindowHandle Owner, const std::string& Text,
                               const std::string& Caption, uint32_t Style) = 0;
    virtual int32_t MessageDlg(const std::string& Msg, TMsgDlgType Type,
                               TMsgDlgButtons Buttons) = 0;
    virtual intptr_t SendMessage(TWindowHandle Window, uint32_t Msg, uintptr_t WParam,
                                 intptr_t LParam) = 0;
};

IUserInterface& UserInterface();
// Installs an implementation (nullptr restores the text fallback); returns the previous one.
IUserInterface* SetUserInterface(IUserInterface* Ui);

} // namespace kivo
