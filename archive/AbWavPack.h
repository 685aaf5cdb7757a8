// WavPack: decodes the data of a ZIP item compressed with method 97, a
// complete WavPack file whose wrapper holds the source file's RIFF header
// and trailer, back into that WAV file.
#pragma once

#include "runtime/Classes.h"

namespace kivo {

// Decodes the WavPack file that starts at Source's position and appends the
// WAV file to Dest: the stored header, the samples (1 byte: value + 128; 2,
// 3 or 4 bytes: the low bits, little-endian), the stored trailer.
// Raises Exception "WavPack decompression failed: <reason>" when the library
// cannot open the data or its format does not fit the output buffer (more
// than 4096 channels, bytes per sample outside 1..4). Samples missing from
// the end of the data end the output early. Errors of the streams pass
// through.
void WavPackDecodeStream(TStream* Source, TStream* Dest);

} // namespace kivo
