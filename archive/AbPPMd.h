// PPMd: decodes the data of a ZIP item compressed with method 98 (PPMd
// variant I, revision 1).
#pragma once

#include "runtime/Classes.h"

namespace kivo {

// Decodes the item data that starts at Source's position and appends the
// output to Dest. The data opens with a 16-bit little-endian parameter word:
// bits 0-3 hold the model order - 1, bits 4-11 the model memory in MiB - 1,
// bits 12-15 the model restoration method.
// Raises EReadError when the parameter word is cut short, EAbZipInvalidMethod
// for an order below 2 or a restoration method other than restart (0) and
// cut-off (1), and EAbReadError when the data ends before the decoder does.
// Decoding stops at the first end or error symbol: damaged data shows as
// output of the wrong size or CRC. Errors of the streams pass through.
void PpmdDecodeStream(TStream* Source, TStream* Dest);

} // namespace kivo
