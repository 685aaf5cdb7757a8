// The native window layer over USER32, GDI32 and the common controls
// (version 6, through an activation context made at the first window, so
// that marquee bars, the shield and the themed look work without a
// manifest in every program that shows a window).
#include "platform/NativeUi.h"

#include "platform/NativeResources.h"

// The common controls need windows.h first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/win32/Density.h"
#include "runtime/win32/WideText.h"

namespace kivo::ui {

using os::Utf8ToWide;
using os::WideToUtf8;

int Scaled(int Value, int Dpi) {
    return MulDiv(Value, Dpi, BaseDpi);
}

int Unscaled(int Value, int Dpi) {
    return MulDiv(Value, BaseDpi, Dpi);
}

TSystemProc SystemProc(const wchar_t* Module, const char* Name) {
    HMODULE H = GetModuleHandleW(Module);
    return H == nullptr ? nullptr : reinterpret_cast<TSystemProc>(GetProcAddress(H, Name));
}

namespace {

constexpr wchar_t WindowClass[] = L"KivoNativeWindow";
constexpr wchar_t ImageClass[] = L"KivoNativeImage";
constexpr wchar_t CallClass[] = L"KivoNativeCalls";
constexpr UINT WM_KIVO_CALL = WM_APP + 1;
constexpr int FirstControlId = 100;
constexpr int CancelResult = 2;

COLORREF ToColorRef(TColor C) {
    return RGB((C >> 16) & 0xFF, (C >> 8) & 0xFF, C & 0xFF);
}

// A view's rectangle at Dpi (beside the Scaled of one value).
using ui::Scaled;
TRect Scaled(const TRect& R, int Dpi) {
    return {Scaled(R.Left, Dpi), Scaled(R.Top, Dpi), Scaled(R.Width, Dpi), Scaled(R.Height, Dpi)};
}

// The dots per inch of the screen as the whole system sees it.
int ScreenDpi() {
    HDC Dc = GetDC(nullptr);
    const int Dpi = Dc != nullptr ? GetDeviceCaps(Dc, LOGPIXELSY) : BaseDpi;
    if (Dc != nullptr) ReleaseDC(nullptr, Dc);
    return Dpi > 0 ? Dpi : BaseDpi;
}

// The dots per inch of the window's screen where the system knows one per
// window (Windows 10 1607 on), else the system's.
int WindowDpi(HWND H) {
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto GetDpi = SystemFunction<TGetDpiForWindow>(L"user32.dll", "GetDpiForWindow");
    const int Dpi = GetDpi != nullptr ? static_cast<int>(GetDpi(H)) : 0;
    return Dpi > 0 ? Dpi : ScreenDpi();
}

// The window size around a client area, with the frame of that density.
void AdjustForDpi(RECT& R, DWORD Style, DWORD ExStyle, int Dpi) {
    using TAdjust = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto Adjust = SystemFunction<TAdjust>(L"user32.dll", "AdjustWindowRectExForDpi");
    if (Adjust == nullptr || !Adjust(&R, Style, FALSE, ExStyle, static_cast<UINT>(Dpi)))
        AdjustWindowRectEx(&R, Style, FALSE, ExStyle);
}

// Image resampled to Width x Height (bilinear over premultiplied colours,
// so that transparent pixels lend no colour to their neighbours), as Argb.
TPixelImage Resized(const TPixelImage& Image, int Width, int Height) {
    TPixelImage Out;
    if (Image.Empty() || Width <= 0 || Height <= 0) return Out;
    Out.Width = Width;
    Out.Height = Height;
    Out.Pixels.resize(static_cast<size_t>(Width) * static_cast<size_t>(Height));
    // Where a pixel's centre falls in the source, in 1/256 pixels.
    auto Source = [](int D, int To, int From) {
        const long long P = (2LL * D + 1) * From * 256 / (2LL * To) - 128;
        return std::clamp<long long>(P, 0, (From - 1) * 256LL);
    };
    for (int Y = 0; Y < Height; ++Y) {
        const long long Sy = Source(Y, Height, Image.Height);
        const int Y0 = static_cast<int>(Sy >> 8), Y1 = std::min(Y0 + 1, Image.Height - 1);
        const uint64_t Fy = static_cast<uint64_t>(Sy & 255);
        for (int X = 0; X < Width; ++X) {
            const long long Sx = Source(X, Width, Image.Width);
            const int X0 = static_cast<int>(Sx >> 8), X1 = std::min(X0 + 1, Image.Width - 1);
            const uint64_t Fx = static_cast<uint64_t>(Sx & 255);
            const uint32_t P[4] = {Image.At(X0, Y0), Image.At(X1, Y0), Image.At(X0, Y1),
                                   Image.At(X1, Y1)};
            const uint64_t W[4] = {(256 - Fx) * (256 - Fy), Fx * (256 - Fy), (256 - Fx) * Fy,
                                   Fx * Fy}; // together 65536
            uint64_t A = 0, C[3] = {0, 0, 0};
            for (int I = 0; I < 4; ++I) {
                const uint64_t Alpha = W[I] * (P[I] >> 24);
                A += Alpha;
                for (int K = 0; K < 3; ++K)
                    C[K] += Alpha * ((P[I] >> (8 * K)) & 0xFF);
            }
            uint32_t R = static_cast<uint32_t>((A + 32768) >> 16) << 24;
            for (int K = 0; A != 0 && K < 3; ++K)
                R |= static_cast<uint32_t>(std::min<uint64_t>((C[K] + A / 2) / A, 255)) << (8 * K);
            Out.Pixels[static_cast<size_t>(Y) * static_cast<size_t>(Width) + X] = R;
        }
    }
    return Out;
}

// The top left corner of a window of Width x Height centred in the work
// area (the screen without the task bar).
POINT CentredInWorkArea(int Width, int Height) {
    RECT Work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &Work, 0);
    return {Work.left + (Work.right - Work.left - Width) / 2,
            Work.top + (Work.bottom - Work.top - Height) / 2};
}

// Image as shown at Dpi: itself at 96 dots per inch, else enlarged into
// Buffer.
const TPixelImage& AtDpi(const TPixelImage& Image, int Dpi, TPixelImage& Buffer) {
    if (Dpi == BaseDpi || Image.Empty()) return Image;
    Buffer = Resized(Image, Scaled(Image.Width, Dpi), Scaled(Image.Height, Dpi));
    return Buffer;
}

// The common controls of version 6: an activation context from a manifest
// file beside the temporary files, activated for the thread for good.
void ActivateCommonControls6() {
    static constexpr char Manifest[] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" "
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
        "processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
        "</dependentAssembly></dependency></assembly>\r\n";
    wchar_t Dir[MAX_PATH + 1], File[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH, Dir) == 0 || GetTempFileNameW(Dir, L"kui", 0, File) == 0) return;
    HANDLE H = CreateFileW(File, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                           nullptr);
    if (H == INVALID_HANDLE_VALUE) return;
    DWORD Written = 0;
    WriteFile(H, Manifest, sizeof(Manifest) - 1, &Written, nullptr);
    CloseHandle(H);
    ACTCTXW Ctx{};
    Ctx.cbSize = sizeof(Ctx);
    Ctx.lpSource = File;
    HANDLE Act = CreateActCtxW(&Ctx);
    DeleteFileW(File);
    if (Act == INVALID_HANDLE_VALUE) return;
    ULONG_PTR Cookie = 0;
    ActivateActCtx(Act, &Cookie); // kept for the life of the thread
}

LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ImageProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK CallProc(HWND, UINT, WPARAM, LPARAM);

// Queued calls of PostToMessageLoop.
std::mutex CallsLock;
std::deque<std::function<void()>> Calls;

HWND CallWindow() {
    static HWND Window = CreateWindowExW(0, CallClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         GetModuleHandleW(nullptr), nullptr);
    return Window;
}

bool Initialize() {
    static const bool Done = [] {
        ActivateCommonControls6();
        INITCOMMONCONTROLSEX Icc{sizeof(Icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS |
                                                  ICC_ANIMATE_CLASS | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&Icc);
        HINSTANCE Inst = GetModuleHandleW(nullptr);
        WNDCLASSEXW C{};
        C.cbSize = sizeof(C);
        C.lpfnWndProc = WindowProc;
        C.hInstance = Inst;
        C.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        C.lpszClassName = WindowClass;
        RegisterClassExW(&C);
        C.lpfnWndProc = ImageProc;
        C.lpszClassName = ImageClass;
        RegisterClassExW(&C);
        C.lpfnWndProc = CallProc;
        C.lpszClassName = CallClass;
        RegisterClassExW(&C);
        CallWindow(); // belongs to the thread that first uses the layer
        return true;
    }();
    return Done;
}

// A hidden owner keeps windows that are not to appear on the task bar off it.
HWND HiddenOwner() {
    static HWND Owner = CreateWindowExW(WS_EX_TOOLWINDOW, WindowClass, L"", WS_POPUP, 0, 0, 0, 0,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    return Owner;
}

std::wstring WindowTextOf(HWND H) {
    int N = GetWindowTextLengthW(H);
    std::wstring Text(static_cast<size_t>(N) + 1, L'\0');
    N = GetWindowTextW(H, Text.data(), N + 1);
    Text.resize(static_cast<size_t>(std::max(N, 0)));
    return Text;
}

// Blends an image over Background into a top-down BGRA buffer of W x H,
// centred when smaller, cut at the right and bottom when larger.
void Compose(const TPixelImage& Image, COLORREF Background, int W, int H,
             std::vector<uint32_t>& Out) {
    const uint32_t Bg =
        (GetRValue(Background) << 16) | (GetGValue(Background) << 8) | GetBValue(Background);
    Out.assign(static_cast<size_t>(W) * static_cast<size_t>(H), Bg);
    if (Image.Empty()) return;
    const int OffX = Image.Width < W ? (W - Image.Width) / 2 : 0;
    const int OffY = Image.Height < H ? (H - Image.Height) / 2 : 0;
    for (int Y = 0; Y < std::min(H - OffY, Image.Height); ++Y)
        for (int X = 0; X < std::min(W - OffX, Image.Width); ++X) {
            uint32_t P = Image.At(X, Y);
            uint32_t A = P >> 24;
            uint32_t& D = Out[static_cast<size_t>(Y + OffY) * W + (X + OffX)];
            uint32_t R = 0;
            for (int Shift = 0; Shift <= 16; Shift += 8) {
                uint32_t S = (P >> Shift) & 0xFF, B = (D >> Shift) & 0xFF;
                R |= ((S * A + B * (255 - A) + 127) / 255) << Shift;
            }
            D = R;
        }
}

void PaintPixels(HDC Dc, int X, int Y, int W, int H, const std::vector<uint32_t>& Pixels) {
    BITMAPINFO Info{};
    Info.bmiHeader.biSize = sizeof(Info.bmiHeader);
    Info.bmiHeader.biWidth = W;
    Info.bmiHeader.biHeight = -H; // top-down
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 32;
    Info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(Dc, X, Y, static_cast<DWORD>(W), static_cast<DWORD>(H), 0, 0, 0,
                      static_cast<UINT>(H), Pixels.data(), &Info, DIB_RGB_COLORS);
}

// An icon with alpha from a picture (nullptr when it cannot be made).
HICON IconOf(const TPixelImage& Image) {
    if (Image.Empty()) return nullptr;
    BITMAPV5HEADER Hdr{};
    Hdr.bV5Size = sizeof(Hdr);
    Hdr.bV5Width = Image.Width;
    Hdr.bV5Height = -Image.Height;
    Hdr.bV5Planes = 1;
    Hdr.bV5BitCount = 32;
    Hdr.bV5Compression = BI_BITFIELDS;
    Hdr.bV5RedMask = 0x00FF0000;
    Hdr.bV5GreenMask = 0x0000FF00;
    Hdr.bV5BlueMask = 0x000000FF;
    Hdr.bV5AlphaMask = 0xFF000000;
    void* Bits = nullptr;
    HDC Dc = GetDC(nullptr);
    HBITMAP Color = CreateDIBSection(Dc, reinterpret_cast<BITMAPINFO*>(&Hdr), DIB_RGB_COLORS, &Bits,
                                     nullptr, 0);
    ReleaseDC(nullptr, Dc);
    if (Color == nullptr) return nullptr;
    auto* P = static_cast<uint32_t*>(Bits);
    for (int Y = 0; Y < Image.Height; ++Y)
        for (int X = 0; X < Image.Width; ++X)
            P[static_cast<size_t>(Y) * Image.Width + X] = Image.At(X, Y);
    HBITMAP Mask = CreateBitmap(Image.Width, Image.Height, 1, 1, nullptr);
    ICONINFO Info{TRUE, 0, 0, Mask, Color};
    HICON Icon = CreateIconIndirect(&Info);
    DeleteObject(Mask);
    DeleteObject(Color);
    return Icon;
}

} // namespace

// ---------------------------------------------------------------------------

struct TNativeControl::TState {
    TRect Bounds;   // as the view gave them, at 96 dots per inch
    TFont ViewFont; // likewise
    HFONT Font = nullptr;
    TLabelStyle Label;
    TButtonStyle Button;
    TPixelImage Image;
    TPixelImage ButtonImage;
    HBRUSH Background = nullptr; // a label's own background
    HICON ButtonIcon = nullptr;
};

struct TNativeWindow::TImpl {
    TNativeWindow* Self = nullptr;
    TWindowOptions Options;
    HBRUSH Background = nullptr;
    COLORREF BackgroundColor = 0;
    int Dpi = BaseDpi;
    int ClientWidth = 0, ClientHeight = 0;                     // at 96 dots per inch
    std::map<std::tuple<std::string, int, bool>, HFONT> Fonts; // of this density
    std::map<UINT_PTR, std::function<void()>> Timers;
    UINT_PTR NextTimer = 1;
    HICON BigIcon = nullptr, SmallIcon = nullptr;
    bool FocusPlaced = false;
    // The control that has the focus while the window is active, and gets it
    // back when the window is activated again (as a dialog does).
    HWND KeptFocus = nullptr;
    bool ModalDone = false;
    int ModalResult = 0;
    bool Busy = false;

    HFONT FontOf(const TFont& F) {
        auto Key = std::make_tuple(F.Face, F.Height, F.Bold);
        auto It = Fonts.find(Key);
        if (It != Fonts.end()) return It->second;
        HFONT H =
            CreateFontW(-Scaled(F.Height, Dpi), 0, 0, 0, F.Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                        FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Utf8ToWide(F.Face).c_str());
        Fonts[Key] = H;
        return H;
    }

    // Sizes the window's client area to the view's size at this density,
    // keeping the frame the window has.
    void FitClient(HWND H) const {
        if (IsIconic(H)) return; // a minimized window has no client area to measure
        RECT Outer, Inner;
        GetWindowRect(H, &Outer);
        GetClientRect(H, &Inner);
        const int W = Scaled(ClientWidth, Dpi) + (Outer.right - Outer.left) - Inner.right;
        const int Ht = Scaled(ClientHeight, Dpi) + (Outer.bottom - Outer.top) - Inner.bottom;
        if (W != Outer.right - Outer.left || Ht != Outer.bottom - Outer.top)
            SetWindowPos(H, nullptr, 0, 0, W, Ht, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // Lays the window out again at NewDpi, in Suggested (the system's
    // rectangle for the new screen) when given.
    void ChangeDpi(HWND H, int NewDpi, const RECT* Suggested) {
        if (NewDpi <= 0) return;
        Dpi = NewDpi;
        std::map<std::tuple<std::string, int, bool>, HFONT> Old;
        Old.swap(Fonts);
        if (Suggested != nullptr)
            SetWindowPos(H, nullptr, Suggested->left, Suggested->top,
                         Suggested->right - Suggested->left, Suggested->bottom - Suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        FitClient(H);
        for (auto& C : Self->FControls)
            C->Relayout();
        for (auto& [Key, Font] : Old) // no control uses them any more
            DeleteObject(Font);
        if (Self->OnDpiChanged) Self->OnDpiChanged();
        RedrawWindow(H, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }

    TNativeControl* ControlOf(HWND H) const {
        for (auto& C : Self->FControls)
            if (C->FHandle == H) return C.get();
        return nullptr;
    }
    TNativeControl* ControlOfId(int Id) const {
        int Index = Id - FirstControlId;
        if (Index < 0 || Index >= static_cast<int>(Self->FControls.size())) return nullptr;
        return Self->FControls[static_cast<size_t>(Index)].get();
    }
    TNativeControl* Usable(bool (*Pick)(const TNativeControl&)) const {
        for (auto& C : Self->FControls)
            if (Pick(*C) && C->Visible() && C->Enabled()) return C.get();
        return nullptr;
    }
    TNativeControl* DefaultButton() const {
        return Usable([](const TNativeControl& C) {
            return C.FKind == TControlKind::Button && C.FState->Button.Default;
        });
    }
    TNativeControl* CancelButton() const {
        return Usable([](const TNativeControl& C) {
            return C.FKind == TControlKind::Button && C.FState->Button.Cancel;
        });
    }

    LRESULT Handle(HWND H, UINT Msg, WPARAM W, LPARAM L) {
        switch (Msg) {
        case WM_COMMAND: {
            const int Id = LOWORD(W);
            if (Id == IDCANCEL && L == 0) { // Escape
                if (TNativeControl* C = CancelButton())
                    C->Click();
                else
                    Self->Close();
                return 0;
            }
            if (Id == IDOK && L == 0) { // Enter without a focused button
                if (TNativeControl* C = DefaultButton()) C->Click();
                return 0;
            }
            TNativeControl* C = ControlOfId(Id);
            if (C != nullptr && HIWORD(W) == BN_CLICKED &&
                (C->FKind == TControlKind::Button || C->FKind == TControlKind::CheckBox)) {
                std::function<void()> Handler = C->OnClick; // may free the window
                if (Handler) Handler();
                return 0;
            }
            break;
        }
        case DM_GETDEFID:
            if (TNativeControl* C = DefaultButton()) return MAKELRESULT(C->FId, DC_HASDEFID);
            return 0;
        case WM_CLOSE: Self->Close(); return 0;
        case WM_ERASEBKGND: {
            RECT R;
            GetClientRect(H, &R);
            FillRect(reinterpret_cast<HDC>(W), &R, Background);
            return 1;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC Dc = reinterpret_cast<HDC>(W);
            TNativeControl* C = ControlOf(reinterpret_cast<HWND>(L));
            HBRUSH Brush = Background;
            COLORREF Back = BackgroundColor;
            if (C != nullptr && C->FKind == TControlKind::Label) {
                if (C->FState->Label.TextColor != clDefault)
                    SetTextColor(Dc, ToColorRef(C->FState->Label.TextColor));
                if (C->FState->Background != nullptr) {
                    Brush = C->FState->Background;
                    Back = ToColorRef(C->FState->Label.Background);
                }
            }
            SetBkColor(Dc, Back);
            return reinterpret_cast<LRESULT>(Brush);
        }
        case WM_TIMER: {
            auto It = Timers.find(W);
            if (It != Timers.end()) {
                std::function<void()> Handler = It->second;
                Handler();
            }
            return 0;
        }
        case WM_ACTIVATE:
            if (LOWORD(W) == WA_INACTIVE) {
                HWND F = GetFocus();
                if (F != nullptr && IsChild(H, F)) KeptFocus = F;
            } else if (KeptFocus != nullptr && IsWindow(KeptFocus) && IsWindowVisible(KeptFocus) &&
                       IsWindowEnabled(KeptFocus)) {
                ::SetFocus(KeptFocus);
                return 0;
            }
            break;
        case WM_DPICHANGED: ChangeDpi(H, LOWORD(W), reinterpret_cast<const RECT*>(L)); return 0;
        case WM_SETCURSOR:
            if (Busy) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        default: break;
        }
        return DefWindowProcW(H, Msg, W, L);
    }
};

namespace {

LRESULT CALLBACK WindowProc(HWND H, UINT Msg, WPARAM W, LPARAM L) {
    auto* Impl = reinterpret_cast<TNativeWindow::TImpl*>(GetWindowLongPtrW(H, GWLP_USERDATA));
    if (Impl == nullptr) return DefWindowProcW(H, Msg, W, L);
    return Impl->Handle(H, Msg, W, L);
}

LRESULT CALLBACK ImageProc(HWND H, UINT Msg, WPARAM W, LPARAM L) {
    auto* C = reinterpret_cast<TNativeControl*>(GetWindowLongPtrW(H, GWLP_USERDATA));
    if (Msg == WM_ERASEBKGND) return 1;
    if (Msg == WM_PAINT && C != nullptr) {
        PAINTSTRUCT Ps;
        HDC Dc = BeginPaint(H, &Ps);
        RECT R;
        GetClientRect(H, &R);
        std::vector<uint32_t> Pixels;
        const TNativeWindow::TImpl& Impl = *C->Window().Impl();
        TPixelImage Enlarged; // as the control is
        Compose(AtDpi(C->Image(), Impl.Dpi, Enlarged), Impl.BackgroundColor, R.right, R.bottom,
                Pixels);
        if (!Pixels.empty()) PaintPixels(Dc, 0, 0, R.right, R.bottom, Pixels);
        EndPaint(H, &Ps);
        return 0;
    }
    return DefWindowProcW(H, Msg, W, L);
}

LRESULT CALLBACK CallProc(HWND H, UINT Msg, WPARAM W, LPARAM L) {
    if (Msg != WM_KIVO_CALL) return DefWindowProcW(H, Msg, W, L);
    for (;;) {
        std::function<void()> Call;
        {
            std::lock_guard<std::mutex> Guard(CallsLock);
            if (Calls.empty()) break;
            Call = std::move(Calls.front());
            Calls.pop_front();
        }
        Call();
    }
    return 0;
}

// Our top-level windows get the dialog keys (Tab, Enter, Escape, access keys).
bool IsOurWindow(HWND H) {
    wchar_t Name[32];
    return GetClassNameW(H, Name, 32) > 0 && wcscmp(Name, WindowClass) == 0;
}

void Dispatch(MSG& M) {
    HWND Root = M.hwnd != nullptr ? GetAncestor(M.hwnd, GA_ROOT) : nullptr;
    if (Root != nullptr && IsOurWindow(Root) && IsDialogMessageW(Root, &M)) return;
    TranslateMessage(&M);
    DispatchMessageW(&M);
}

} // namespace

// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------

TNativeControl::TNativeControl(TNativeWindow& Window, TControlKind Kind, int Id)
    : FWindow(&Window), FKind(Kind), FId(Id), FState(std::make_unique<TState>()) {}

std::string TNativeControl::Text() const {
    return WideToUtf8(WindowTextOf(static_cast<HWND>(FHandle)));
}

void TNativeControl::SetText(const std::string& Text) {
    std::wstring W = Utf8ToWide(Text);
    if (WindowTextOf(static_cast<HWND>(FHandle)) == W) return;
    SetWindowTextW(static_cast<HWND>(FHandle), W.c_str());
    FitToText();
    InvalidateRect(static_cast<HWND>(FHandle), nullptr, TRUE);
}

void TNativeControl::FitToText() {
    if (FKind != TControlKind::Label || !FState->Label.AutoSize) return;
    HWND H = static_cast<HWND>(FHandle);
    const std::wstring W = WindowTextOf(H);
    const int Dpi = FWindow->FImpl->Dpi;
    TRect& B = FState->Bounds;
    HDC Dc = GetDC(H);
    HGDIOBJ Old = SelectObject(Dc, FState->Font);
    // Line breaks in the text count; only a word-wrapping label wraps.
    RECT R{0, 0, FState->Label.WordWrap ? Scaled(B.Width, Dpi) : 0, 0};
    UINT Flags = DT_CALCRECT | DT_EXPANDTABS | (FState->Label.WordWrap ? DT_WORDBREAK : 0);
    DrawTextW(Dc, W.c_str(), static_cast<int>(W.size()), &R, Flags);
    SelectObject(Dc, Old);
    ReleaseDC(H, Dc);
    // The label gets the text's own size in pixels, the view its size at
    // 96 dots per inch.
    int Width = Scaled(B.Width, Dpi);
    if (!FState->Label.WordWrap) {
        B.Width = Unscaled(R.right, Dpi);
        Width = std::max<int>(R.right, Scaled(B.Width, Dpi));
    }
    B.Height = Unscaled(R.bottom, Dpi);
    const int Height = std::max<int>(R.bottom, Scaled(B.Height, Dpi));
    MoveWindow(H, Scaled(B.Left, Dpi), Scaled(B.Top, Dpi), Width, Height, TRUE);
}

void TNativeControl::Relayout() {
    SetFont(FState->ViewFont);
    SetBounds(FState->Bounds);
    FitToText();
    if (!FState->ButtonImage.Empty()) SetButtonImage(FState->ButtonImage);
}

TRect TNativeControl::Bounds() const {
    RECT R;
    GetWindowRect(static_cast<HWND>(FHandle), &R);
    MapWindowPoints(HWND_DESKTOP, static_cast<HWND>(FWindow->FHandle), reinterpret_cast<POINT*>(&R),
                    2);
    const int Dpi = FWindow->FImpl->Dpi;
    const TRect Shown{R.left, R.top, R.right - R.left, R.bottom - R.top};
    // What the view gave, unless the control was laid out otherwise (an
    // auto-sized label by its text, a rounding below 96 dots per inch).
    const TRect& B = FState->Bounds;
    if (Scaled(B, Dpi) == Shown) return B;
    return {Unscaled(Shown.Left, Dpi), Unscaled(Shown.Top, Dpi), Unscaled(Shown.Width, Dpi),
            Unscaled(Shown.Height, Dpi)};
}

void TNativeControl::SetBounds(const TRect& B) {
    FState->Bounds = B;
    const TRect S = Scaled(B, FWindow->FImpl->Dpi);
    MoveWindow(static_cast<HWND>(FHandle), S.Left, S.Top, S.Width, S.Height, TRUE);
}

bool TNativeControl::Visible() const {
    return (GetWindowLongW(static_cast<HWND>(FHandle), GWL_STYLE) & WS_VISIBLE) != 0;
}

void TNativeControl::SetVisible(bool V) {
    if (V == Visible()) return;
    ShowWindow(static_cast<HWND>(FHandle), V ? SW_SHOWNA : SW_HIDE);
}

bool TNativeControl::Enabled() const {
    return IsWindowEnabled(static_cast<HWND>(FHandle)) != FALSE;
}

void TNativeControl::SetEnabled(bool E) {
    if (E == Enabled()) return;
    EnableWindow(static_cast<HWND>(FHandle), E ? TRUE : FALSE);
}

void TNativeControl::SetFocus() {
    FWindow->FImpl->KeptFocus = static_cast<HWND>(FHandle);
    ::SetFocus(static_cast<HWND>(FHandle));
}

// While its window is not the active one (another program has the
// foreground), the control that will get the focus back counts as focused.
bool TNativeControl::Focused() const {
    HWND H = static_cast<HWND>(FHandle);
    if (GetFocus() == H) return true;
    HWND Top = static_cast<HWND>(FWindow->FHandle);
    return GetActiveWindow() != Top && FWindow->FImpl->KeptFocus == H;
}

void TNativeControl::SetFont(const TFont& Font) {
    FState->ViewFont = Font;
    FState->Font = FWindow->FImpl->FontOf(Font);
    SendMessageW(static_cast<HWND>(FHandle), WM_SETFONT, reinterpret_cast<WPARAM>(FState->Font),
                 TRUE);
}

int TNativeControl::TextWidth(const std::string& Text) const {
    std::wstring W = Utf8ToWide(Text);
    HDC Dc = GetDC(static_cast<HWND>(FHandle));
    HGDIOBJ Old = SelectObject(Dc, FState->Font);
    SIZE S{};
    GetTextExtentPoint32W(Dc, W.c_str(), static_cast<int>(W.size()), &S);
    SelectObject(Dc, Old);
    ReleaseDC(static_cast<HWND>(FHandle), Dc);
    return Unscaled(S.cx, FWindow->FImpl->Dpi);
}

bool TNativeControl::Checked() const {
    return SendMessageW(static_cast<HWND>(FHandle), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TNativeControl::SetChecked(bool C) {
    SendMessageW(static_cast<HWND>(FHandle), BM_SETCHECK, C ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TNativeControl::SetShield(bool Shield) {
    SendMessageW(static_cast<HWND>(FHandle), BCM_SETSHIELD, 0, Shield ? 1 : 0);
}

void TNativeControl::SetButtonImage(const TPixelImage& Image) {
    FState->ButtonImage = Image;
    TPixelImage Enlarged;
    HICON Icon = IconOf(AtDpi(Image, FWindow->FImpl->Dpi, Enlarged));
    SendMessageW(static_cast<HWND>(FHandle), BM_SETIMAGE, IMAGE_ICON,
                 reinterpret_cast<LPARAM>(Icon));
    if (FState->ButtonIcon != nullptr) DestroyIcon(FState->ButtonIcon);
    FState->ButtonIcon = Icon;
    InvalidateRect(static_cast<HWND>(FHandle), nullptr, TRUE);
}

void TNativeControl::SetDefault(bool Default) {
    FState->Button.Default = Default;
    SendMessageW(static_cast<HWND>(FHandle), BM_SETSTYLE,
                 Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TNativeControl::SetPassword(bool Password) {
    SendMessageW(static_cast<HWND>(FHandle), EM_SETPASSWORDCHAR, Password ? L'*' : 0, 0);
    InvalidateRect(static_cast<HWND>(FHandle), nullptr, TRUE);
}

void TNativeControl::SetRange(int Min, int Max) {
    SendMessageW(static_cast<HWND>(FHandle), PBM_SETRANGE32, static_cast<WPARAM>(Min), Max);
}

void TNativeControl::SetPosition(int Position) {
    SendMessageW(static_cast<HWND>(FHandle), PBM_SETPOS, static_cast<WPARAM>(Position), 0);
}

int TNativeControl::Position() const {
    return static_cast<int>(SendMessageW(static_cast<HWND>(FHandle), PBM_GETPOS, 0, 0));
}

void TNativeControl::SetMarquee(bool Marquee) {
    HWND H = static_cast<HWND>(FHandle);
    LONG Style = GetWindowLongW(H, GWL_STYLE);
    if (((Style & PBS_MARQUEE) != 0) == Marquee) return;
    SetWindowLongW(H, GWL_STYLE, Marquee ? (Style | PBS_MARQUEE) : (Style & ~PBS_MARQUEE));
    SendMessageW(H, PBM_SETMARQUEE, Marquee ? TRUE : FALSE, 30);
}

void TNativeControl::SetImage(const TPixelImage& Image) {
    FState->Image = Image;
    InvalidateRect(static_cast<HWND>(FHandle), nullptr, FALSE);
}

const TPixelImage& TNativeControl::Image() const {
    return FState->Image;
}

bool TNativeControl::OpenSystemClip(int ResId) {
    // Wine's shell library has one two-frame stand-in, reading "Searching",
    // under every clip id: no clip worth showing.
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) return false;
    HMODULE Shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (Shell == nullptr) return false;
    // The control reads the clip from the module while it plays: the module
    // stays loaded for the process.
    return SendMessageW(static_cast<HWND>(FHandle), ACM_OPENW, reinterpret_cast<WPARAM>(Shell),
                        static_cast<LPARAM>(ResId)) != 0;
}

void TNativeControl::SetPlaying(bool Playing) {
    HWND H = static_cast<HWND>(FHandle);
    if (Playing)
        SendMessageW(H, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
    else
        SendMessageW(H, ACM_STOP, 0, 0);
}

void TNativeControl::Click() {
    if (!Visible() || !Enabled()) return;
    if (FKind == TControlKind::CheckBox) SetChecked(!Checked());
    SendMessageW(static_cast<HWND>(FWindow->FHandle), WM_COMMAND, MAKEWPARAM(FId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(FHandle));
}

// ---------------------------------------------------------------------------

TNativeWindow::TNativeWindow(const TWindowOptions& Options) : FImpl(std::make_unique<TImpl>()) {
    Initialize();
    FImpl->Self = this;
    FImpl->Options = Options;
    FImpl->BackgroundColor = Options.Background == clDefault ? GetSysColor(COLOR_BTNFACE)
                                                             : ToColorRef(Options.Background);
    FImpl->Background = CreateSolidBrush(FImpl->BackgroundColor);
    DWORD Style = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN;
    if (Options.SystemMenu) Style |= WS_SYSMENU;
    if (Options.MinimizeBox) Style |= WS_MINIMIZEBOX | WS_SYSMENU;
    DWORD ExStyle = WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME;
    if (Options.TopMost) ExStyle |= WS_EX_TOPMOST;
    // Sized for the system's density first, for its screen's once it has one.
    FImpl->Dpi = ScreenDpi();
    FImpl->ClientWidth = Options.ClientWidth;
    FImpl->ClientHeight = Options.ClientHeight;
    RECT R{0, 0, Scaled(Options.ClientWidth, FImpl->Dpi), Scaled(Options.ClientHeight, FImpl->Dpi)};
    AdjustForDpi(R, Style, ExStyle, FImpl->Dpi);
    const int W = R.right - R.left, H = R.bottom - R.top;
    POINT At{CW_USEDEFAULT, CW_USEDEFAULT};
    if (Options.Centered) At = CentredInWorkArea(W, H);
    HWND Owner = Options.ShowInTaskbar ? nullptr : HiddenOwner();
    HWND Hwnd =
        CreateWindowExW(ExStyle, WindowClass, Utf8ToWide(Options.Caption).c_str(), Style, At.x,
                        At.y, W, H, Owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    FHandle = Hwnd;
    if (Hwnd == nullptr) return;
    SetWindowLongPtrW(Hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(FImpl.get()));
    const int Dpi = WindowDpi(Hwnd);
    if (Dpi != FImpl->Dpi) {
        FImpl->Dpi = Dpi;
        FImpl->FitClient(Hwnd);
        if (Options.Centered) {
            RECT Now;
            GetWindowRect(Hwnd, &Now);
            At = CentredInWorkArea(Now.right - Now.left, Now.bottom - Now.top);
            SetWindowPos(Hwnd, nullptr, At.x, At.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

TNativeWindow::~TNativeWindow() {
    HWND H = static_cast<HWND>(FHandle);
    if (H != nullptr) {
        for (auto& [Id, Handler] : FImpl->Timers)
            ::KillTimer(H, Id);
        SetWindowLongPtrW(H, GWLP_USERDATA, 0);
        for (auto& C : FControls)
            SetWindowLongPtrW(static_cast<HWND>(C->FHandle), GWLP_USERDATA, 0);
        DestroyWindow(H);
    }
    for (auto& C : FControls) {
        if (C->FState->Background != nullptr) DeleteObject(C->FState->Background);
        if (C->FState->ButtonIcon != nullptr) DestroyIcon(C->FState->ButtonIcon);
    }
    for (auto& [Key, Font] : FImpl->Fonts)
        DeleteObject(Font);
    if (FImpl->Background != nullptr) DeleteObject(FImpl->Background);
    if (FImpl->BigIcon != nullptr) DestroyIcon(FImpl->BigIcon);
    if (FImpl->SmallIcon != nullptr) DestroyIcon(FImpl->SmallIcon);
}

TNativeControl& TNativeWindow::Add(TControlKind Kind, const TRect& B) {
    const int Id = FirstControlId + static_cast<int>(FControls.size());
    FControls.push_back(std::unique_ptr<TNativeControl>(new TNativeControl(*this, Kind, Id)));
    TNativeControl& C = *FControls.back();
    const wchar_t* Class = L"STATIC";
    DWORD Style = WS_CHILD | WS_VISIBLE;
    DWORD ExStyle = 0;
    switch (Kind) {
    case TControlKind::Label: break;
    case TControlKind::CheckBox:
        Class = L"BUTTON";
        Style |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
    case TControlKind::Button:
        Class = L"BUTTON";
        Style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
    case TControlKind::Edit:
        Class = L"EDIT";
        Style |= ES_AUTOHSCROLL | WS_TABSTOP;
        ExStyle |= WS_EX_CLIENTEDGE;
        break;
    case TControlKind::ProgressBar: Class = PROGRESS_CLASSW; break;
    case TControlKind::Image: Class = ImageClass; break;
    case TControlKind::Animation:
        Class = ANIMATE_CLASSW;
        Style |= ACS_TRANSPARENT | ACS_CENTER;
        break;
    }
    C.FState->Bounds = B;
    const TRect S = Scaled(B, FImpl->Dpi);
    HWND H = CreateWindowExW(
        ExStyle, Class, L"", Style, S.Left, S.Top, S.Width, S.Height, static_cast<HWND>(FHandle),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), GetModuleHandleW(nullptr), nullptr);
    C.FHandle = H;
    if (Kind == TControlKind::Image)
        SetWindowLongPtrW(H, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&C));
    C.SetFont(FImpl->Options.Font);
    return C;
}

TNativeControl& TNativeWindow::AddLabel(const TRect& B, const std::string& Text,
                                        const TLabelStyle& Style) {
    TNativeControl& C = Add(TControlKind::Label, B);
    C.FState->Label = Style;
    HWND H = static_cast<HWND>(C.FHandle);
    LONG S = GetWindowLongW(H, GWL_STYLE);
    if (Style.PathEllipsis)
        S |= SS_LEFTNOWORDWRAP | SS_PATHELLIPSIS | SS_NOPREFIX;
    else if (!Style.WordWrap)
        S |= SS_LEFTNOWORDWRAP;
    SetWindowLongW(H, GWL_STYLE, S);
    if (Style.Background != clDefault)
        C.FState->Background = CreateSolidBrush(ToColorRef(Style.Background));
    C.SetFont(Style.Font);
    C.SetText(Text);
    return C;
}

TNativeControl& TNativeWindow::AddCheckBox(const TRect& B, const std::string& Text,
                                           const TFont* Font) {
    TNativeControl& C = Add(TControlKind::CheckBox, B);
    if (Font != nullptr) C.SetFont(*Font);
    C.SetText(Text);
    return C;
}

TNativeControl& TNativeWindow::AddButton(const TRect& B, const std::string& Text,
                                         const TButtonStyle& Style) {
    TNativeControl& C = Add(TControlKind::Button, B);
    C.FState->Button = Style;
    if (Style.Default) C.SetDefault(true);
    C.SetText(Text);
    return C;
}

TNativeControl& TNativeWindow::AddEdit(const TRect& B, bool Password) {
    TNativeControl& C = Add(TControlKind::Edit, B);
    if (Password) C.SetPassword(true);
    return C;
}

TNativeControl& TNativeWindow::AddProgressBar(const TRect& B) {
    TNativeControl& C = Add(TControlKind::ProgressBar, B);
    C.SetRange(0, 100);
    return C;
}

TNativeControl& TNativeWindow::AddImage(const TRect& B, const TPixelImage& Image) {
    TNativeControl& C = Add(TControlKind::Image, B);
    C.SetImage(Image);
    return C;
}

TNativeControl& TNativeWindow::AddAnimation(const TRect& B) {
    return Add(TControlKind::Animation, B);
}

void TNativeWindow::SetTabOrder(std::initializer_list<TNativeControl*> Order) {
    HWND After = HWND_TOP;
    auto Place = [&After](TNativeControl* C) {
        SetWindowPos(static_cast<HWND>(C->FHandle), After, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        After = static_cast<HWND>(C->FHandle);
    };
    for (TNativeControl* C : Order) {
        // The labels added right before a control travel with it, so that
        // their access keys still lead to it.
        auto It = std::find_if(FControls.begin(), FControls.end(),
                               [C](const auto& P) { return P.get() == C; });
        auto First = It;
        while (First != FControls.begin() && (*(First - 1))->FKind == TControlKind::Label)
            --First;
        for (auto L = First; L != It; ++L)
            Place(L->get());
        Place(C);
    }
}

std::string TNativeWindow::Caption() const {
    return WideToUtf8(WindowTextOf(static_cast<HWND>(FHandle)));
}

void TNativeWindow::SetCaption(const std::string& Caption) {
    std::wstring W = Utf8ToWide(Caption);
    if (WindowTextOf(static_cast<HWND>(FHandle)) != W)
        SetWindowTextW(static_cast<HWND>(FHandle), W.c_str());
}

void TNativeWindow::SetClientSize(int Width, int Height) {
    FImpl->ClientWidth = Width;
    FImpl->ClientHeight = Height;
    FImpl->FitClient(static_cast<HWND>(FHandle));
}

int TNativeWindow::ClientWidth() const {
    RECT R;
    GetClientRect(static_cast<HWND>(FHandle), &R);
    return R.right == Scaled(FImpl->ClientWidth, FImpl->Dpi) ? FImpl->ClientWidth
                                                             : Unscaled(R.right, FImpl->Dpi);
}

int TNativeWindow::ClientHeight() const {
    RECT R;
    GetClientRect(static_cast<HWND>(FHandle), &R);
    return R.bottom == Scaled(FImpl->ClientHeight, FImpl->Dpi) ? FImpl->ClientHeight
                                                               : Unscaled(R.bottom, FImpl->Dpi);
}

int TNativeWindow::Dpi() const {
    return FImpl->Dpi;
}

void TNativeWindow::SetIcon(const TPixelImage& Icon) {
    HICON Big = IconOf(Icon), Small = IconOf(Icon);
    if (Big == nullptr || Small == nullptr) {
        if (Big != nullptr) DestroyIcon(Big);
        if (Small != nullptr) DestroyIcon(Small);
        return;
    }
    HWND H = static_cast<HWND>(FHandle);
    SendMessageW(H, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Big));
    SendMessageW(H, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(Small));
    if (FImpl->BigIcon != nullptr) DestroyIcon(FImpl->BigIcon);
    if (FImpl->SmallIcon != nullptr) DestroyIcon(FImpl->SmallIcon);
    FImpl->BigIcon = Big;
    FImpl->SmallIcon = Small;
}

void TNativeWindow::SetTopMost(bool TopMost) {
    SetWindowPos(static_cast<HWND>(FHandle), TopMost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool TNativeWindow::TopMost() const {
    return (GetWindowLongW(static_cast<HWND>(FHandle), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

void TNativeWindow::SetSystemMenu(bool SystemMenu) {
    HWND H = static_cast<HWND>(FHandle);
    LONG Style = GetWindowLongW(H, GWL_STYLE);
    if (((Style & WS_SYSMENU) != 0) == SystemMenu) return;
    SetWindowLongW(H, GWL_STYLE, SystemMenu ? (Style | WS_SYSMENU) : (Style & ~WS_SYSMENU));
    SetWindowPos(H, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    FImpl->FitClient(H);
}

void TNativeWindow::SetBusyCursor(bool Busy) {
    FImpl->Busy = Busy;
    POINT P;
    GetCursorPos(&P);
    SetCursorPos(P.x, P.y); // makes the system ask for the cursor again
}

void TNativeWindow::Show() {
    HWND H = static_cast<HWND>(FHandle);
    ShowWindow(H, SW_SHOWNORMAL);
    if (!FImpl->FocusPlaced) {
        FImpl->FocusPlaced = true;
        HWND First = GetNextDlgTabItem(H, nullptr, FALSE);
        FImpl->KeptFocus = First;
        if (First != nullptr) ::SetFocus(First);
    }
    UpdateWindow(H);
}

void TNativeWindow::Hide() {
    ShowWindow(static_cast<HWND>(FHandle), SW_HIDE);
}

bool TNativeWindow::Visible() const {
    return IsWindowVisible(static_cast<HWND>(FHandle)) != FALSE;
}

void TNativeWindow::Activate() {
    HWND H = static_cast<HWND>(FHandle);
    SetForegroundWindow(H);
    SetActiveWindow(H);
}

int TNativeWindow::RunModal() {
    HWND H = static_cast<HWND>(FHandle);
    // The thread's other windows are disabled while the dialog runs.
    std::vector<HWND> Disabled;
    std::pair<HWND, std::vector<HWND>*> Walk(H, &Disabled);
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND W, LPARAM L) -> BOOL {
            auto* List = reinterpret_cast<std::pair<HWND, std::vector<HWND>*>*>(L);
            if (W != List->first && IsWindowVisible(W) && IsWindowEnabled(W)) {
                EnableWindow(W, FALSE);
                List->second->push_back(W);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&Walk));
    FModal = true;
    FImpl->ModalDone = false;
    FImpl->ModalResult = 0;
    Show();
    Activate();
    MSG M;
    while (!FImpl->ModalDone) {
        BOOL R = GetMessageW(&M, nullptr, 0, 0);
        if (R == 0) { // WM_QUIT: ends the dialog, and the loop above it
            PostQuitMessage(static_cast<int>(M.wParam));
            FImpl->ModalResult = CancelResult;
            break;
        }
        if (R < 0) break;
        Dispatch(M);
    }
    FModal = false;
    for (HWND W : Disabled)
        EnableWindow(W, TRUE);
    Hide();
    return FImpl->ModalResult;
}

void TNativeWindow::EndModal(int Result) {
    if (!FModal || FImpl->ModalDone) return;
    FImpl->ModalResult = Result;
    FImpl->ModalDone = true;
    PostMessageW(static_cast<HWND>(FHandle), WM_NULL, 0, 0); // wakes GetMessage
}

bool TNativeWindow::Close() {
    if (OnCloseQuery && !OnCloseQuery()) return false;
    if (OnClose) OnClose();
    Hide();
    EndModal(CancelResult);
    return true;
}

int TNativeWindow::SetTimer(unsigned Milliseconds, std::function<void()> Handler) {
    UINT_PTR Id = FImpl->NextTimer++;
    FImpl->Timers[Id] = std::move(Handler);
    ::SetTimer(static_cast<HWND>(FHandle), Id, Milliseconds, nullptr);
    return static_cast<int>(Id);
}

void TNativeWindow::KillTimer(int Id) {
    ::KillTimer(static_cast<HWND>(FHandle), static_cast<UINT_PTR>(Id));
    FImpl->Timers.erase(static_cast<UINT_PTR>(Id));
}

void TNativeWindow::Update() {
    RedrawWindow(static_cast<HWND>(FHandle), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
}

bool TNativeWindow::SavePicture(const std::string& Path) const {
    return SaveWindowPicture(FHandle, Path);
}

// ---------------------------------------------------------------------------

void DrawTextOnImage(TPixelImage& Image, const TRect& Box, const std::string& Text,
                     const TFont& Font, TColor Color) {
    if (Image.Empty()) return;
    BITMAPINFO Info{};
    Info.bmiHeader.biSize = sizeof(Info.bmiHeader);
    Info.bmiHeader.biWidth = Image.Width;
    Info.bmiHeader.biHeight = -Image.Height;
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 32;
    Info.bmiHeader.biCompression = BI_RGB;
    void* Bits = nullptr;
    HDC Mem = CreateCompatibleDC(nullptr);
    HBITMAP Bmp = CreateDIBSection(Mem, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
    if (Mem == nullptr || Bmp == nullptr) {
        if (Bmp != nullptr) DeleteObject(Bmp);
        if (Mem != nullptr) DeleteDC(Mem);
        return;
    }
    const size_t Count = static_cast<size_t>(Image.Width) * static_cast<size_t>(Image.Height);
    auto* P = static_cast<uint32_t*>(Bits);
    for (int Y = 0; Y < Image.Height; ++Y)
        for (int X = 0; X < Image.Width; ++X)
            P[static_cast<size_t>(Y) * Image.Width + X] = Image.At(X, Y) & 0xFFFFFF;
    HGDIOBJ OldBmp = SelectObject(Mem, Bmp);
    HFONT F =
        CreateFontW(-Font.Height, 0, 0, 0, Font.Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                    DEFAULT_PITCH | FF_DONTCARE, Utf8ToWide(Font.Face).c_str());
    HGDIOBJ OldFont = SelectObject(Mem, F);
    SetBkMode(Mem, TRANSPARENT);
    SetTextColor(Mem, ToColorRef(Color));
    RECT R{Box.Left, Box.Top, Box.Left + Box.Width, Box.Top + Box.Height};
    std::wstring W = Utf8ToWide(Text);
    DrawTextW(Mem, W.c_str(), static_cast<int>(W.size()), &R,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    GdiFlush();
    Image.Format = TPixelFormat::Rgb;
    Image.Indexes.clear();
    Image.Palette.clear();
    Image.Pixels.assign(P, P + Count);
    SelectObject(Mem, OldFont);
    SelectObject(Mem, OldBmp);
    DeleteObject(F);
    DeleteObject(Bmp);
    DeleteDC(Mem);
}

bool WindowsAvailable(std::string* Reason) {
    static const bool Available = [] {
        if (!Initialize()) return false;
        HWND H = CreateWindowExW(0, WindowClass, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        if (H == nullptr) return false;
        DestroyWindow(H);
        return true;
    }();
    if (!Available && Reason != nullptr)
        *Reason = "no windows can be made here: no display (under Wine, ctest's fixture chooses "
                  "the null display driver when DISPLAY is unset; or run with xvfb-run -a)";
    return Available;
}

void PumpMessages() {
    Initialize();
    MSG M;
    while (PeekMessageW(&M, nullptr, 0, 0, PM_REMOVE)) {
        if (M.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(M.wParam));
            return;
        }
        Dispatch(M);
    }
}

void PostToMessageLoop(std::function<void()> Handler) {
    Initialize();
    {
        std::lock_guard<std::mutex> Guard(CallsLock);
        Calls.push_back(std::move(Handler));
    }
    PostMessageW(CallWindow(), WM_KIVO_CALL, 0, 0);
}

} // namespace kivo::ui
