// Base64 for the HTTP Basic authorization header.
#pragma once

#include <string>
#include <string_view>

namespace kivo::webcopy {

// Encodes one group of 1 to 3 bytes into 4 characters ('=' pads a short group).
void EncodeGroup(const unsigned char* Bytes, size_t Count, char* Out);

// Base64 of a text, one byte per UTF-16 code unit: the low 8 bits of each
// code unit (so characters up to U+00FF are their Latin-1 byte and higher
// characters lose their high byte). Standard alphabet, '=' padding, no line
// breaks. Text is UTF-8; the result is ASCII.
std::string Base64Encode(std::string_view Text);

} // namespace kivo::webcopy
