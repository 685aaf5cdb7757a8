#include "platform/UserInterface.h"

#include <cstdio>

namespace kivo {

namespace {

// Without a GUI: the text goes to standard error; questions are answered
// with the choice that changes nothing.
class TTextUserInterface final : public IUserInterface {
public:
    int32_t MessageBox(TWindowHandle, const std::string& Text, const std::string& Caption,
                       uint32_t Style) override {
        std::fprintf(stderr, "[%s] %s\n", Caption.c_str(), Text.c_str());
        switch (Style & 0x0F) {
        case MB_YESNO: return IDNO;
        case MB_OKCANCEL: return IDCANCEL;
        default: return IDOK;
        }
    }
    int32_t MessageDlg(const std::string& Msg, TMsgDlgType Type, TMsgDlgButtons Buttons) override {
        std::fprintf(stderr, "[%s] %s\n", MsgDlgCaption(Type), Msg.c_str());
        if (Buttons & (1u << mbCancel)) return mrCancel;
        if (Buttons & (1u << mbNo)) return mrNo;
        return mrOk;
    }
    intptr_t SendMessage(TWindowHandle, uint32_t, uintptr_t, intptr_t) override { return 0; }
};

IUserInterface*& UiSlot() {
    static IUserInterface* Ui = nullptr;
    return Ui;
}

} // namespace

const char* MsgDlgCaption(TMsgDlgType Type) {
    switch (Type) {
    case mtWarning: return "Warnung";
    case mtError: return "Fehler";
    case mtInformation: return "Informationen";
    case mtConfirmation: return "Bestätigen";
    case mtCustom: break;
    }
    return "";
}

const char* MsgDlgButtonCaption(TMsgDlgBtn Button) {
    switch (Button) {
    case mbYes: return "&Ja";
    case mbNo: return "&Nein";
    case mbOK: return "OK";
    case mbCancel: return "Abbrechen";
    }
    return "";
}

IUserInterface& UserInterface() {
    static TTextUserInterface Fallback;
    IUserInterface* Ui = UiSlot();
    return Ui != nullptr ? *Ui : Fallback;
}

IUserInterface* SetUserInterface(IUserInterface* Ui) {
    IUserInterface* Previous = UiSlot();
    UiSlot() = Ui;
    return Previous;
}

} // namespace kivo
