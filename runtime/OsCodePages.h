// The operating system's code-page converters, one implementation per system
// (runtime/posix/CodePages.cpp). Internal to the runtime: other modules use
// CodePages.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kivo::os {

// Whether the system converts CodePage.
bool CodePageAvailable(uint16_t CodePage);

// The code points of the bytes 0x80-0xFF of a single-byte page. Bytes the
// page leaves undefined keep what Map held. False when the system does not
// have the page.
bool SingleByteCodePoints(uint16_t CodePage, std::array<char32_t, 256>& Map);

// Text of a multi-byte page to UTF-8 and back. A character that cannot be
// converted becomes U+FFFD (towards UTF-8) or '?' and sets Lossy; without the
// page the text stays as it is and Lossy is set.
std::string MultiByteToUtf8(std::string_view Bytes, uint16_t CodePage, bool* Lossy);
std::string Utf8ToMultiByte(std::string_view Text, uint16_t CodePage, bool* Lossy);

} // namespace kivo::os
