// Code pages through the system's own converters.
#include <windows.h>

#include "runtime/OsCodePages.h"
#include "runtime/win32/WideText.h"

namespace kivo::os {

namespace {

// Pages whose converters take no flags and no default character.
bool IsFlaglessPage(uint16_t CodePage) {
    return CodePage == CP_UTF7 || CodePage == CP_UTF8 || CodePage == 50220 ||
           (CodePage >= 50221 && CodePage <= 50229) || CodePage == 52936 || CodePage == 54936 ||
           (CodePage >= 57002 && CodePage <= 57011);
}

std::wstring ToWide(std::string_view Bytes, uint16_t CodePage, bool& Lossy) {
    if (Bytes.empty()) return std::wstring();
    const int Size = static_cast<int>(Bytes.size());
    DWORD Flags = IsFlaglessPage(CodePage) && CodePage != CP_UTF8 ? 0 : MB_ERR_INVALID_CHARS;
    int N = ::MultiByteToWideChar(CodePage, Flags, Bytes.data(), Size, nullptr, 0);
    if (N <= 0) {
        // Bytes the page does not define: convert anyway, they become U+FFFD.
        Lossy = true;
        Flags = 0;
        N = ::MultiByteToWideChar(CodePage, 0, Bytes.data(), Size, nullptr, 0);
        if (N <= 0) return std::wstring();
    }
    std::wstring Wide(static_cast<size_t>(N), L'\0');
    ::MultiByteToWideChar(CodePage, Flags, Bytes.data(), Size, Wide.data(), N);
    return Wide;
}

} // namespace

bool CodePageAvailable(uint16_t CodePage) {
    return ::IsValidCodePage(CodePage) != FALSE;
}

bool SingleByteCodePoints(uint16_t CodePage, std::array<char32_t, 256>& Map) {
    if (!CodePageAvailable(CodePage)) return false;
    for (int B = 0x80; B < 256; ++B) {
        const char In = static_cast<char>(B);
        wchar_t Out[2] = {};
        if (::MultiByteToWideChar(CodePage, MB_ERR_INVALID_CHARS, &In, 1, Out, 2) == 1)
            Map[static_cast<size_t>(B)] = static_cast<char32_t>(Out[0]);
    }
    return true;
}

std::string MultiByteToUtf8(std::string_view Bytes, uint16_t CodePage, bool* Lossy) {
    bool Replaced = false;
    if (!CodePageAvailable(CodePage)) {
        if (Lossy != nullptr) *Lossy = true;
        return std::string(Bytes);
    }
    std::string Text = WideToUtf8(ToWide(Bytes, CodePage, Replaced));
    if (Lossy != nullptr) *Lossy = Replaced;
    return Text;
}

std::string Utf8ToMultiByte(std::string_view Text, uint16_t CodePage, bool* Lossy) {
    if (!CodePageAvailable(CodePage)) {
        if (Lossy != nullptr) *Lossy = true;
        return std::string(Text);
    }
    bool Replaced = false;
    const std::wstring Wide = ToWide(Text, CP_UTF8, Replaced);
    std::string Bytes;
    if (!Wide.empty()) {
        const int Size = static_cast<int>(Wide.size());
        const bool Flagless = IsFlaglessPage(CodePage);
        BOOL UsedDefault = FALSE;
        const int N = ::WideCharToMultiByte(CodePage, Flagless ? 0 : WC_NO_BEST_FIT_CHARS,
                                            Wide.data(), Size, nullptr, 0, Flagless ? nullptr : "?",
                                            Flagless ? nullptr : &UsedDefault);
        if (N > 0) {
            Bytes.resize(static_cast<size_t>(N));
            ::WideCharToMultiByte(CodePage, Flagless ? 0 : WC_NO_BEST_FIT_CHARS, Wide.data(), Size,
                                  Bytes.data(), N, Flagless ? nullptr : "?",
                                  Flagless ? nullptr : &UsedDefault);
        }
        Replaced = Replaced || UsedDefault != FALSE;
    }
    if (Lossy != nullptr) *Lossy = Replaced;
    return Bytes;
}

} // namespace kivo::os
