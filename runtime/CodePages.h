// The system's single-byte code page pair. Windows gives every installation an
// "ANSI" code page (file names and texts of older programs) and an "OEM" code
// page (MS-DOS); here the pair is chosen from the user's locale the way
// Windows chooses it for that language, and can be set for tests.
//
// Conversions go through 256-entry tables built once per code page with
// iconv, so decoding names of large archives costs a table lookup per byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kivo {

struct TCodePagePair {
    uint16_t Ansi = 1252;
    uint16_t Oem = 437;
};

// The pair for a POSIX locale name such as "de_DE.UTF-8" (western default
// 1252/437 for unknown languages).
TCodePagePair CodePagesForLocale(std::string_view LocaleName);

// The current pair: from the user's locale (LC_ALL, LC_CTYPE, LANG) at first
// use, or what SetSystemCodePages set.
TCodePagePair SystemCodePages();
void SetSystemCodePages(TCodePagePair Pair);
inline uint16_t AnsiCodePage() {
    return SystemCodePages().Ansi;
}
inline uint16_t OemCodePage() {
    return SystemCodePages().Oem;
}

// True when the code page is a single-byte page this runtime can convert.
bool IsSupportedCodePage(uint16_t CodePage);

// Bytes in a single-byte code page -> UTF-8. Bytes the code page leaves
// undefined map to the code point of the same value (as Windows does).
std::string CodePageToUtf8(std::string_view Bytes, uint16_t CodePage);

// UTF-8 -> bytes in a single-byte code page, lossy as Windows is: characters
// the page lacks take a best-fit look-alike when one exists, else '?'.
// UsedDefault, when given, reports whether any character was not exact.
std::string Utf8ToCodePage(std::string_view Text, uint16_t CodePage, bool* UsedDefault = nullptr);

inline std::string AnsiToUtf8(std::string_view Bytes) {
    return CodePageToUtf8(Bytes, AnsiCodePage());
}
inline std::string OemToUtf8(std::string_view Bytes) {
    return CodePageToUtf8(Bytes, OemCodePage());
}
inline std::string Utf8ToAnsi(std::string_view Text, bool* UsedDefault = nullptr) {
    return Utf8ToCodePage(Text, AnsiCodePage(), UsedDefault);
}
inline std::string Utf8ToOem(std::string_view Text, bool* UsedDefault = nullptr) {
    return Utf8ToCodePage(Text, OemCodePage(), UsedDefault);
}

} // namespace kivo
