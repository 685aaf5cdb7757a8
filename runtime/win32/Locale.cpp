// The user's locale through the system's locale information.
#include <cstring>
#include <windows.h>

#include "runtime/OsLocale.h"
#include "runtime/win32/WideText.h"

namespace kivo::os {

namespace {

// A one-character locale value (separators), Fallback when it is longer,
// empty or beyond ASCII.
char LocaleChar(LCTYPE Item, char Fallback) {
    wchar_t Buffer[8] = {};
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, Item, Buffer, 8) != 2) return Fallback;
    return Buffer[0] > 0 && Buffer[0] < 0x80 ? static_cast<char>(Buffer[0]) : Fallback;
}

// The first character of a date or time pattern that separates two fields:
// not a letter, not a blank, not quoted text.
char PatternSeparator(LCTYPE Item, char Fallback) {
    wchar_t Buffer[80] = {};
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, Item, Buffer, 80) == 0) return Fallback;
    for (const wchar_t* P = Buffer; *P != L'\0'; ++P) {
        if (*P == L'\'') return Fallback;
        if (*P != L' ' && !(*P >= L'a' && *P <= L'z') && !(*P >= L'A' && *P <= L'Z'))
            return *P < 0x80 ? static_cast<char>(*P) : Fallback;
    }
    return Fallback;
}

// The case mapping of one code point through LCMapStringEx; the code point
// itself when the mapping changes its length.
char32_t MapCase(char32_t CodePoint, DWORD Flags) {
    wchar_t In[2];
    int Length = 1;
    if (CodePoint >= 0x10000) {
        In[0] = static_cast<wchar_t>(0xD800 + ((CodePoint - 0x10000) >> 10));
        In[1] = static_cast<wchar_t>(0xDC00 + ((CodePoint - 0x10000) & 0x3FF));
        Length = 2;
    } else {
        In[0] = static_cast<wchar_t>(CodePoint);
    }
    wchar_t Out[4] = {};
    const int N =
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, Flags, In, Length, Out, 4, nullptr, nullptr, 0);
    if (N != Length) return CodePoint;
    if (N == 2)
        return 0x10000 + ((static_cast<char32_t>(Out[0]) - 0xD800) << 10) +
               (static_cast<char32_t>(Out[1]) - 0xDC00);
    return static_cast<char32_t>(Out[0]);
}

} // namespace

char LocaleDecimalSeparator(char Fallback) {
    return LocaleChar(LOCALE_SDECIMAL, Fallback);
}

char LocaleDateSeparator(char Fallback) {
    return PatternSeparator(LOCALE_SSHORTDATE, Fallback);
}

char LocaleTimeSeparator(char Fallback) {
    return PatternSeparator(LOCALE_STIMEFORMAT, Fallback);
}

char32_t UpperCaseOf(char32_t CodePoint) {
    return CodePoint < 0x80 ? (CodePoint >= 'a' && CodePoint <= 'z' ? CodePoint - 32 : CodePoint)
                            : MapCase(CodePoint, LCMAP_UPPERCASE);
}

char32_t LowerCaseOf(char32_t CodePoint) {
    return CodePoint < 0x80 ? (CodePoint >= 'A' && CodePoint <= 'Z' ? CodePoint + 32 : CodePoint)
                            : MapCase(CodePoint, LCMAP_LOWERCASE);
}

std::string ErrorNumberText(int Err, bool German) {
    // The C library's texts of errno values (the same in every language here).
    (void)German;
    char Buffer[128] = {};
    if (::strerror_s(Buffer, sizeof Buffer, Err) != 0)
        return "Unknown error " + std::to_string(Err);
    return Buffer;
}

} // namespace kivo::os
