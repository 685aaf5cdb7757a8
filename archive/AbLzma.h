// LZMA data of ZIP method 14, decoded with liblzma's raw LZMA1 decoder. The
// item's data is a 4-byte header (2 bytes of encoder version, ignored; the
// 16-bit little-endian size of the properties), the properties (for LZMA 5
// bytes: the lc/lp/pb byte and the 32-bit dictionary size) and the LZMA data.
#pragma once

#include <cstdint>

#include "runtime/Classes.h"
#include "runtime/SysUtils.h"

namespace kivo {

// Result codes of the LZMA layer; their texts are those of EAbLZMAException.
constexpr int32_t LzmaErrData = 1, LzmaErrMem = 2, LzmaErrCrc = 3, LzmaErrUnsupported = 4,
                  LzmaErrParam = 5, LzmaErrInputEof = 6, LzmaErrOutputEof = 7, LzmaErrRead = 8,
                  LzmaErrWrite = 9, LzmaErrProgress = 10, LzmaErrFail = 11, LzmaErrThread = 12,
                  LzmaErrArchive = 16, LzmaErrNoArchive = 17;

// A failure of the LZMA decoder: "LZMA Data Error." and so on by code,
// "Unknown LZMA error (%d)" for codes without a text.
class EAbLZMAException : public Exception {
public:
    explicit EAbLZMAException(int32_t Code);
    int32_t ErrorCode;
};

// Decodes the LZMA data at Source's position into Dest: OutSize bytes (the
// stream may or may not carry an end marker after them), or up to the end
// marker when OutSize is negative (unknown). Props are the PropsSize
// property bytes; fewer than 5, a first byte above 224 or lc + lp above 4
// raise code 4 ("Unsupported") before anything is read. Data that ends
// before OutSize bytes stops the decoding without an error of its own (the
// caller compares size and checksum); damaged data raises code 1, memory
// that cannot be had code 2, a write that Dest takes only in part code 9.
// Errors of Source and Dest pass through.
void LzmaDecodeStream(const uint8_t* Props, int32_t PropsSize, TStream* Source, int64_t OutSize,
                      TStream* Dest);

// Reads the 4-byte header and the properties from Source (a short read
// raises the stream read error), then LzmaDecodeStream.
void LzmaDecodeItemData(TStream* Source, int64_t OutSize, TStream* Dest);

} // namespace kivo
