// Inflate: decodes one raw DEFLATE (RFC 1951) or Deflate64 stream.
#pragma once

#include <cstdint>

#include "archive/AbDfBase.h"
#include "runtime/Classes.h"

namespace kivo {

// Decodes the stream that starts at aSource's position and appends the output
// to aDest. Returns the checksum of the output (the final CRC-32, or Adler-32
// with OptionAdler32), or 0 when decoding stopped at PartialSize or through
// EAbAbortProgress. Afterwards aSource stands just after the last byte any bit
// was taken from, so data that follows (a gzip trailer) can be read next.
// With a helper: Options select Deflate64, Adler-32 and test-only mode (decode
// and checksum, write nothing); NormalSize and CompressedSize receive the bytes
// produced and consumed unless an error leaves. Corrupt data raises
// EAbInflateError; errors of the streams and the progress callback pass through.
uint32_t Inflate(TStream* aSource, TStream* aDest, TAbDeflateHelper* aHelper);

// Whether the fast loop may use the processor's BMI2 bit extracts when it has
// them (the default), or always takes the portable loop, which processors
// without them run. Tests set it to check both loops on one machine.
void SetInflateBmi2Allowed(bool Allowed);

} // namespace kivo
