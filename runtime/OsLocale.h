// The user's locale as the operating system keeps it: separators, case
// mapping of letters beyond ASCII and the texts of system error numbers. One
// implementation per system (runtime/posix/Locale.cpp). Internal to the
// runtime: other modules use SysUtils, Text and SysMessages.
#pragma once

#include <string>

namespace kivo::os {

// The separators of the user's number, date and time formats; Fallback when
// the locale gives none.
char LocaleDecimalSeparator(char Fallback);
char LocaleDateSeparator(char Fallback);
char LocaleTimeSeparator(char Fallback);

// Upper and lower case of a code point from the system's Unicode tables; the
// code point itself where there is no other case.
char32_t UpperCaseOf(char32_t CodePoint);
char32_t LowerCaseOf(char32_t CodePoint);

// The system's text for an error number, in German or in English.
std::string ErrorNumberText(int Err, bool German);

} // namespace kivo::os
