// Text helpers. Strings are std::string holding UTF-8; where a count of UTF-16
// code units matters, convert with the helpers here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kivo {

// UTF-8 <-> UTF-16. Invalid UTF-8 sequences become U+FFFD; lone surrogates in
// UTF-16 are encoded as U+FFFD too, so the result is always valid UTF-8.
std::u16string Utf8ToUtf16(std::string_view Text);
std::string Utf16ToUtf8(std::u16string_view Text);

// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& Out, char32_t CodePoint);

// Decodes the code point at Pos and advances Pos; invalid bytes give U+FFFD
// and advance by one.
char32_t NextCodePoint(std::string_view Text, size_t& Pos);

// True when Text is well-formed UTF-8.
bool IsValidUtf8(std::string_view Text);

// ASCII-only case folding ('a'..'z' <-> 'A'..'Z'); other bytes are unchanged.
inline char AsciiUpper(char C) {
    return (C >= 'a' && C <= 'z') ? char(C - 32) : C;
}
inline char AsciiLower(char C) {
    return (C >= 'A' && C <= 'Z') ? char(C + 32) : C;
}
std::string AsciiUpperCase(std::string_view Text);
std::string AsciiLowerCase(std::string_view Text);
bool SameTextAscii(std::string_view A, std::string_view B);

// Locale-aware case folding of every letter (not only ASCII), per code point.
std::string AnsiUpperCase(std::string_view Text);
std::string AnsiLowerCase(std::string_view Text);
bool AnsiSameText(std::string_view A, std::string_view B);

// Removes leading and trailing characters at or below ' ' (blanks and
// control characters).
std::string Trim(std::string_view Text);
std::string TrimLeft(std::string_view Text);
std::string TrimRight(std::string_view Text);

bool StartsText(std::string_view Prefix, std::string_view Text); // ASCII case-insensitive
bool EndsStr(std::string_view Suffix, std::string_view Text);

std::string IntToStr(int64_t Value);

// Replaces every occurrence of From by To.
std::string StringReplaceAll(std::string_view Text, std::string_view From, std::string_view To);

} // namespace kivo
