#include "platform/win32/FtpNames.h"

#include <windows.h>

#include "runtime/Text.h"

namespace kivo {

namespace {

// Bytes in the ANSI code page as UTF-16.
std::u16string AnsiToWide(const std::string& Bytes) {
    if (Bytes.empty()) return std::u16string();
    const int Size = static_cast<int>(Bytes.size());
    const int Count = ::MultiByteToWideChar(CP_ACP, 0, Bytes.data(), Size, nullptr, 0);
    std::u16string Wide(static_cast<size_t>(Count), u'\0');
    ::MultiByteToWideChar(CP_ACP, 0, Bytes.data(), Size, reinterpret_cast<wchar_t*>(Wide.data()),
                          Count);
    return Wide;
}

// UTF-16 in the ANSI code page; false when a character has no byte of its own.
bool WideToAnsi(const std::u16string& Wide, std::string& Bytes) {
    Bytes.clear();
    if (Wide.empty()) return true;
    const auto* Text = reinterpret_cast<const wchar_t*>(Wide.data());
    const int Size = static_cast<int>(Wide.size());
    BOOL Lossy = FALSE;
    const int Count = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Text, Size, nullptr, 0,
                                            nullptr, &Lossy);
    if (Count <= 0 || Lossy) return false;
    Bytes.resize(static_cast<size_t>(Count));
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Text, Size, Bytes.data(), Count, nullptr,
                          &Lossy);
    return !Lossy;
}

} // namespace

std::u16string FtpWireName(const std::string& Name) {
    const std::u16string Wire = AnsiToWide(Name);
    std::string Back;
    if (WideToAnsi(Wire, Back) && Back == Name) return Wire;
    return Utf8ToUtf16(Name);
}

std::string FtpNameFromWire(const std::u16string& Wide) {
    std::string Bytes;
    if (WideToAnsi(Wide, Bytes) && IsValidUtf8(Bytes)) return Bytes;
    return Utf16ToUtf8(Wide);
}

} // namespace kivo
