#include "webcopy/WcLoginWin.h"

#include "webcopy/WcArt.h"

namespace kivo::webcopy {

namespace {

std::function<void(TWcLoginForm&)>& ShownHook() {
    static std::function<void(TWcLoginForm&)> Hook;
    return Hook;
}

ui::TWindowOptions LoginWindowOptions() {
    ui::TWindowOptions O;
    O.ClientWidth = 312;
    O.ClientHeight = 184;
    O.Font = {"MS Sans Serif", 11, false}; // 8 points
    return O;
}

ui::TLabelStyle LabelStyle() {
    ui::TLabelStyle S;
    S.Font = LoginWindowOptions().Font;
    return S;
}

} // namespace

void SetLoginShownHook(std::function<void(TWcLoginForm&)> Hook) {
    ShownHook() = std::move(Hook);
}

ui::TPixelImage LoginBanner() {
    ui::TPixelImage Art = DrawLoginBannerArt();
    ui::DrawTextOnImage(Art, {96, 0, 220, 60}, "Login", {"Tahoma", 20, true}, ui::clWhite);
    return ToIndexed8(Art);
}

TWcLoginForm::TWcLoginForm() : Window(LoginWindowOptions()) {
    // Added in tab order; each label right before the field its access key
    // leads to.
    Image1 = &Window.AddImage({0, 0, LoginBannerWidth, LoginBannerHeight}, LoginBanner());
    Label1 = &Window.AddLabel({16, 80, 57, 13}, "&User name: ", LabelStyle());
    Edit1 = &Window.AddEdit({104, 80, 193, 21});
    Label2 = &Window.AddLabel({16, 112, 49, 13}, "&Password:", LabelStyle());
    Edit2 = &Window.AddEdit({104, 112, 193, 21}, true);
    Button1 = &Window.AddButton({144, 152, 75, 25}, "OK", {.Default = true, .Cancel = false});
    Button2 = &Window.AddButton({224, 152, 75, 25}, "Cancel", {.Default = false, .Cancel = true});
    Button1->OnClick = [this] { Window.EndModal(1); };
    Button2->OnClick = [this] { Window.EndModal(2); };
}

bool Login(const std::string& Caption, std::string& UserName, std::string& Password) {
    if (!ui::WindowsAvailable()) return false;
    TWcLoginForm Form;
    Form.Window.SetCaption(Caption);
    // The hook runs inside the dialog's loop, never after it.
    static TWcLoginForm* Running = nullptr;
    Running = &Form;
    if (ShownHook())
        ui::PostToMessageLoop([&Form] {
            if (Running == &Form && ShownHook()) ShownHook()(Form);
        });
    const int Result = Form.Window.RunModal();
    Running = nullptr;
    if (Result != 1) return false;
    UserName = Form.Edit1->Text();
    Password = Form.Edit2->Text();
    return true;
}

} // namespace kivo::webcopy
