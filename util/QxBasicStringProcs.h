// Field extraction from delimited parameter strings, and the path-joining rule.
//
// A field is separated by one delimiter character, except where the delimiter
// stands inside a double-quoted value or inside a <format>...</format> or
// <pa>...</pa> element. Positions count UTF-16 code units; every intermediate
// text (blanked markup, delimiter mask) has exactly the length of the input,
// so a position in a mask is the same position in the input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kivo {

// Source with markup hidden: the whole of a <format>/<pa> element (written in
// lower case) is blanked, and the letters of every other tag name are
// blanked. The result has the length of Source.
std::u16string BlankMarkupTags(std::u16string_view Source);
std::string BlankMarkupTags(std::string_view Source); // UTF-8 in and out

// A text as long as Source that holds Delimiter where Source's delimiter
// separates two fields and a blank everywhere else.
std::u16string BuildDelimiterMask(std::u16string_view Source, char16_t Delimiter);
std::string BuildDelimiterMask(std::string_view Source, char16_t Delimiter); // UTF-8

// Field number Index (1 for the first; values below 1 act as 1) of Source, or
// Default when there is no such field. With DeQuote, a field that begins and
// ends with a double quote loses those two quotes (inner doubled quotes stay).
// The three-argument form de-quotes and splits at ';'.
std::string GetDelimitedField(std::string_view Source, int32_t Index, const std::string& Default,
                              bool DeQuote = true, char16_t Delimiter = u';');

// Text followed by the platform's path delimiter unless it already ends with
// one; an empty text gives the delimiter alone.
std::string AddTrailingBackslash(std::string_view Text);

} // namespace kivo
