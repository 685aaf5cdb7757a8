// The user-interface services over USER32: MessageBoxW for message boxes, a
// dialog of the native window layer for message dialogs (the system's boxes
// would carry the system's button texts, the library's dialog carries its
// German ones), SendMessageW for window messages.
#include "platform/NativeUserInterface.h"

#include <algorithm>
#include <map>
#include <windows.h>

#include "platform/NativeUi.h"
#include "platform/win32/Density.h"
#include "runtime/win32/WideText.h"

// The class's members carry the plain names.
#undef MessageBox
#undef SendMessage

namespace kivo::ui {

namespace {

std::function<void(void*)>& ShownHook() {
    static std::function<void(void*)> Hook;
    return Hook;
}

// The message dialogs now open, with the button of each result.
std::map<void*, std::map<int32_t, TNativeControl*>>& OpenDialogs() {
    static std::map<void*, std::map<int32_t, TNativeControl*>> Map;
    return Map;
}

void AnnounceShown(void* Box) {
    if (!ShownHook()) return;
    // After the box has been shown and its modal loop runs.
    PostToMessageLoop([Box] {
        if (ShownHook()) ShownHook()(Box);
    });
}

// Catches the system box as it is activated, to announce it.
thread_local HHOOK BoxHook = nullptr;
LRESULT CALLBACK CbtProc(int Code, WPARAM W, LPARAM L) {
    if (Code == HCBT_ACTIVATE) {
        HWND H = reinterpret_cast<HWND>(W);
        wchar_t Name[16];
        if (GetClassNameW(H, Name, 16) > 0 && wcscmp(Name, L"#32770") == 0) {
            UnhookWindowsHookEx(BoxHook);
            BoxHook = nullptr;
            AnnounceShown(H);
        }
    }
    return CallNextHookEx(nullptr, Code, W, L);
}

// The system's icon Id at Size pixels, drawn for that size where the common
// controls can (a copy the caller destroys).
HICON SystemIcon(LPCWSTR Id, int Size) {
    using TLoad = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    const auto Load = SystemFunction<TLoad>(L"comctl32.dll", "LoadIconWithScaleDown");
    HICON Icon = nullptr;
    if (Load != nullptr && SUCCEEDED(Load(nullptr, Id, Size, Size, &Icon))) return Icon;
    return static_cast<HICON>(CopyImage(LoadIconW(nullptr, Id), IMAGE_ICON, Size, Size, 0));
}

LPCWSTR IconOfType(TMsgDlgType Type) {
    switch (Type) {
    case mtWarning: return IDI_WARNING;
    case mtError: return IDI_ERROR;
    case mtInformation: return IDI_INFORMATION;
    case mtConfirmation: return IDI_QUESTION;
    case mtCustom: break;
    }
    return nullptr;
}

class TNativeUserInterface final : public IUserInterface {
public:
    int32_t MessageBox(TWindowHandle Owner, const std::string& Text, const std::string& Caption,
                       uint32_t Style) override {
        if (ShownHook() && BoxHook == nullptr)
            BoxHook = SetWindowsHookExW(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
        int R = MessageBoxW(static_cast<HWND>(Owner), os::Utf8ToWide(Text).c_str(),
                            os::Utf8ToWide(Caption).c_str(), Style);
        if (BoxHook != nullptr) {
            UnhookWindowsHookEx(BoxHook);
            BoxHook = nullptr;
        }
        return R;
    }

    int32_t MessageDlg(const std::string& Msg, TMsgDlgType Type, TMsgDlgButtons Buttons) override {
        // The layout of the library's message dialog: the icon top left, the
        // message beside it, the buttons centred in a row below.
        constexpr int Margin = 12, IconSize = 32, ButtonWidth = 75, ButtonHeight = 25, Gap = 6;
        TWindowOptions Options;
        Options.Caption = MsgDlgCaption(Type);
        Options.ClientWidth = 200;
        Options.ClientHeight = 100;
        Options.Font = {"Tahoma", 11, false};
        TNativeWindow Box(Options);
        HWND H = static_cast<HWND>(Box.Handle());
        if (H == nullptr) return mrCancel;
        if (HWND Active = GetActiveWindow())
            SetWindowLongPtrW(H, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(Active));
        const LPCWSTR Icon = IconOfType(Type);
        const int TextLeft = Icon != nullptr ? 2 * Margin + IconSize : Margin;
        TNativeControl& Text = Box.AddLabel({TextLeft, Margin, 0, 0}, Msg, {.Font = Options.Font});
        // The icon in the size of the window's density, again when that
        // changes (the layer lays out its own controls).
        HWND Static = nullptr;
        HICON IconShown = nullptr;
        auto PlaceIcon = [&] {
            const int At = Scaled(Margin, Box.Dpi()), Size = Scaled(IconSize, Box.Dpi());
            HICON Old = IconShown;
            IconShown = SystemIcon(Icon, Size);
            SendMessageW(Static, STM_SETICON, reinterpret_cast<WPARAM>(IconShown), 0);
            MoveWindow(Static, At, At, Size, Size, TRUE);
            if (Old != nullptr) DestroyIcon(Old);
        };
        if (Icon != nullptr) {
            Static = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_ICON, 0, 0, 0, 0,
                                     H, nullptr, GetModuleHandleW(nullptr), nullptr);
            PlaceIcon();
            Box.OnDpiChanged = PlaceIcon;
        }
        struct TBtn {
            TMsgDlgBtn Btn;
            int32_t Result;
        };
        const TBtn All[] = {{mbYes, mrYes}, {mbNo, mrNo}, {mbOK, mrOk}, {mbCancel, mrCancel}};
        std::vector<const TBtn*> Shown;
        for (const TBtn& B : All)
            if ((Buttons & (1u << B.Btn)) != 0) Shown.push_back(&B);
        const TRect TextBox = Text.Bounds();
        const int RowWidth = static_cast<int>(Shown.size()) * (ButtonWidth + Gap) - Gap;
        const int Width =
            std::max({TextBox.Left + TextBox.Width + Margin, RowWidth + 2 * Margin, 200});
        const int Top =
            std::max(TextBox.Top + TextBox.Height, Margin + (Icon ? IconSize : 0)) + 2 * Margin;
        Box.SetClientSize(Width, Top + ButtonHeight + Margin);
        // Escape: Cancel, else No when there is no Cancel (as the library does).
        const bool HasCancel = (Buttons & (1u << mbCancel)) != 0;
        std::map<int32_t, TNativeControl*>& Map = OpenDialogs()[H];
        int Left = (Width - RowWidth) / 2;
        for (const TBtn* B : Shown) {
            TButtonStyle Style;
            Style.Default = B == Shown.front();
            Style.Cancel = B->Btn == mbCancel || (B->Btn == mbNo && !HasCancel);
            TNativeControl& Button = Box.AddButton({Left, Top, ButtonWidth, ButtonHeight},
                                                   MsgDlgButtonCaption(B->Btn), Style);
            const int32_t Result = B->Result;
            Button.OnClick = [&Box, Result] { Box.EndModal(Result); };
            Map[Result] = &Button;
            Left += ButtonWidth + Gap;
        }
        AnnounceShown(H);
        const int32_t Result = Box.RunModal();
        OpenDialogs().erase(H);
        if (Static != nullptr) SendMessageW(Static, STM_SETICON, 0, 0);
        if (IconShown != nullptr) DestroyIcon(IconShown);
        return Result;
    }

    intptr_t SendMessage(TWindowHandle Window, uint32_t Msg, uintptr_t WParam,
                         intptr_t LParam) override {
        if (Window == nullptr) return 0;
        return SendMessageW(static_cast<HWND>(Window), Msg, WParam, LParam);
    }
};

} // namespace

IUserInterface& NativeUserInterface() {
    static TNativeUserInterface Ui;
    return Ui;
}

void InstallNativeUserInterface() {
    SetUserInterface(&NativeUserInterface());
}

void SetBoxShownHook(std::function<void(void*)> Hook) {
    ShownHook() = std::move(Hook);
}

bool PressBoxButton(void* Box, int32_t Result) {
    auto It = OpenDialogs().find(Box);
    if (It != OpenDialogs().end()) {
        auto B = It->second.find(Result);
        if (B == It->second.end()) return false;
        B->second->Click();
        return true;
    }
    // The system's box: its buttons' ids are the results.
    HWND Button = GetDlgItem(static_cast<HWND>(Box), Result);
    if (Button == nullptr) return false;
    PostMessageW(static_cast<HWND>(Box), WM_COMMAND, MAKEWPARAM(Result, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Button));
    return true;
}

TBoxContents BoxContents(void* Box) {
    TBoxContents Contents;
    auto TextOf = [](HWND H) {
        wchar_t Buf[1024];
        int N = GetWindowTextW(H, Buf, 1024);
        return os::WideToUtf8(std::wstring_view(Buf, static_cast<size_t>(std::max(N, 0))));
    };
    Contents.Caption = TextOf(static_cast<HWND>(Box));
    // Children in z-order: the message first, then the buttons in their row.
    for (HWND C = GetWindow(static_cast<HWND>(Box), GW_CHILD); C != nullptr;
         C = GetWindow(C, GW_HWNDNEXT)) {
        wchar_t Name[16];
        if (GetClassNameW(C, Name, 16) == 0) continue;
        std::string Text = TextOf(C);
        if (_wcsicmp(Name, L"Button") == 0)
            Contents.Buttons.push_back(Text);
        else if (_wcsicmp(Name, L"Static") == 0 && !Text.empty())
            Contents.Text += Text;
    }
    return Contents;
}

} // namespace kivo::ui
