// Masks that select archive items by their stored names.
//
//   *        any run of characters, '/' included
//   ?        exactly one character
//   [a-z]    one character of the set: single characters and ranges; [!...]
//            or [^...] one character not in it
//
// ASCII letters are compared without regard to case. A mask without '/'
// is compared with the last part of each name ("*.txt" selects every text
// file in any folder); a mask with '/' is compared with the whole name
// (its folder part with the name's folder part). A mask that names a folder
// ("src/bash", "src/bash/", or a top folder such as "src") selects the
// folder and everything under it. "*" and "*.*" select every item.
#pragma once

#include <string_view>

namespace kivo::tools {

bool MaskSelects(std::string_view Mask, std::string_view Name);

} // namespace kivo::tools
