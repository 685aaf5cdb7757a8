// Icons from the program's resources on buttons and windows, private fonts,
// and pictures of any window (the system's message boxes), through USER32
// and GDI32.
#include "platform/NativeResources.h"

#include <utility>

// clang-format off
#include <windows.h>
// clang-format on

#include "platform/win32/Density.h"
#include "runtime/win32/WideText.h"

namespace kivo::ui {

namespace {

HICON LoadProgramIcon(int ResId, int Size) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ResId),
                                         IMAGE_ICON, Size, Size, LR_DEFAULTCOLOR));
}

// A system metric at the window's density, where the system tells one per
// density (Windows 10 1607 on); else the system's own.
int MetricForDpi(int Index, int Dpi) {
    using TGetMetric = int(WINAPI*)(int, UINT);
    static const auto GetMetric =
        SystemFunction<TGetMetric>(L"user32.dll", "GetSystemMetricsForDpi");
    return GetMetric != nullptr ? GetMetric(Index, static_cast<UINT>(Dpi))
                                : GetSystemMetrics(Index);
}

} // namespace

bool SetButtonIconResource(TNativeControl& Button, int ResId, int Size) {
    // The resource's nearest size, scaled by the system to the window's
    // density.
    HICON Icon = LoadProgramIcon(ResId, Scaled(Size, Button.Window().Dpi()));
    if (Icon == nullptr) return false;
    HWND H = static_cast<HWND>(Button.Handle());
    SetWindowLongW(H, GWL_STYLE, GetWindowLongW(H, GWL_STYLE) | BS_ICON);
    // The button does not own the icon it shows: the one it had goes, and
    // the new one lives as long as the program (a button per window).
    HANDLE Old = reinterpret_cast<HANDLE>(
        SendMessageW(H, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(Icon)));
    if (Old != nullptr) DestroyIcon(static_cast<HICON>(Old));
    InvalidateRect(H, nullptr, TRUE);
    return true;
}

bool ButtonHasIcon(const TNativeControl& Button) {
    return SendMessageW(static_cast<HWND>(Button.Handle()), BM_GETIMAGE, IMAGE_ICON, 0) != 0;
}

bool SetWindowIconResource(TNativeWindow& Window, int ResId) {
    HICON Big = LoadProgramIcon(ResId, MetricForDpi(SM_CXICON, Window.Dpi()));
    HICON Small = LoadProgramIcon(ResId, MetricForDpi(SM_CXSMICON, Window.Dpi()));
    if (Big == nullptr || Small == nullptr) {
        if (Big != nullptr) DestroyIcon(Big);
        if (Small != nullptr) DestroyIcon(Small);
        return false;
    }
    HWND H = static_cast<HWND>(Window.Handle());
    for (auto [Kind, Icon] : {std::pair<WPARAM, HICON>{ICON_BIG, Big}, {ICON_SMALL, Small}}) {
        HANDLE Old = reinterpret_cast<HANDLE>(
            SendMessageW(H, WM_SETICON, Kind, reinterpret_cast<LPARAM>(Icon)));
        if (Old != nullptr) DestroyIcon(static_cast<HICON>(Old));
    }
    return true;
}

bool FontFaceAvailable(const std::string& Face) {
    LOGFONTW Wanted{};
    Wanted.lfCharSet = DEFAULT_CHARSET;
    const std::wstring Wide = os::Utf8ToWide(Face);
    if (Wide.size() >= LF_FACESIZE) return false;
    Wide.copy(Wanted.lfFaceName, Wide.size());
    bool Found = false;
    HDC Dc = GetDC(nullptr);
    EnumFontFamiliesExW(
        Dc, &Wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM Data) -> int {
            *reinterpret_cast<bool*>(Data) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&Found), 0);
    ReleaseDC(nullptr, Dc);
    return Found;
}

bool AddPrivateFontFile(const std::string& Path) {
    std::wstring Wide = os::Utf8ToWide(Path);
    for (wchar_t& C : Wide)
        if (C == L'/') C = L'\\';
    return AddFontResourceExW(Wide.c_str(), FR_PRIVATE, nullptr) > 0;
}

bool SaveWindowPicture(void* Window, const std::string& Path) {
    HWND H = static_cast<HWND>(Window);
    RECT Client{};
    if (H == nullptr || !GetClientRect(H, &Client)) return false;
    const int W = Client.right, Ht = Client.bottom;
    if (W <= 0 || Ht <= 0) return false;
    BITMAPINFO Info{};
    Info.bmiHeader.biSize = sizeof(Info.bmiHeader);
    Info.bmiHeader.biWidth = W;
    Info.bmiHeader.biHeight = -Ht;
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 32;
    Info.bmiHeader.biCompression = BI_RGB;
    void* Bits = nullptr;
    HDC Screen = GetDC(H);
    HDC Mem = CreateCompatibleDC(Screen);
    HBITMAP Bmp = CreateDIBSection(Screen, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
    bool Ok = false;
    if (Mem != nullptr && Bmp != nullptr) {
        HGDIOBJ Old = SelectObject(Mem, Bmp);
        // What the screen shows when the window is on it, else what the
        // window and its controls paint into the bitmap.
        if (IsWindowVisible(H)) {
            RedrawWindow(H, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            Ok = BitBlt(Mem, 0, 0, W, Ht, Screen, 0, 0, SRCCOPY) != FALSE;
        } else {
            Ok = PrintWindow(H, Mem, PW_CLIENTONLY) != FALSE;
        }
        GdiFlush();
        SelectObject(Mem, Old);
    }
    TPixelImage Image;
    if (Ok) {
        Image.Width = W;
        Image.Height = Ht;
        Image.Format = TPixelFormat::Rgb;
        const auto* P = static_cast<const uint32_t*>(Bits);
        Image.Pixels.assign(P, P + static_cast<size_t>(W) * Ht);
    }
    if (Bmp != nullptr) DeleteObject(Bmp);
    if (Mem != nullptr) DeleteDC(Mem);
    ReleaseDC(H, Screen);
    return Ok && SavePixelImage(Image, Path);
}

} // namespace kivo::ui
