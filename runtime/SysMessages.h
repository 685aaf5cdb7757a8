// System message texts: what the operating system would say for a Windows
// error code, and the text of an errno value. The language follows the
// user's locale (German for "de", English otherwise) and can be set for tests.
#pragma once

#include <cstdint>
#include <string>

namespace kivo {

enum TMessageLanguage : uint8_t { mlEnglish, mlGerman };

TMessageLanguage MessageLanguage();
void SetMessageLanguage(TMessageLanguage Value);

// The system's text for a Windows error code, as the system returns it
// (with its final period); empty when the code has no text.
std::string SysErrorMessage(uint32_t Code);

// The text of an errno value.
std::string ErrnoMessage(int Err);

// Removes trailing blanks, control characters and periods.
std::string TrimSystemText(const std::string& Text);

} // namespace kivo
