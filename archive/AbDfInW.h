// The decoder's input: a bit stream over a byte stream, read least
// significant bit first as DEFLATE packs it.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/AbDfBase.h"
#include "runtime/Classes.h"

namespace kivo {

class TAbDfDecoder;

// Reads the source in 16 KiB blocks into a byte buffer (a plain memory source
// in place, see MapDirect) and takes bits from a 64-bit bit buffer that is
// topped up eight bytes at a time. Bits in the bit buffer above BitsLeft are
// either zero or the true next bits of the stream (a wide load may pick up
// bytes before they are counted); past the end of the data they are zero, so
// a peek near the end sees zeros for missing bits while only real bits can
// ever be consumed.
class TAbDfInBitStream {
public:
    // The progress callback is kept only when it is set and aStreamSize is positive.
    TAbDfInBitStream(TStream* aStream, TAbProgressStep aOnProgress, int64_t aStreamSize);
    // Repositions the source (see Reposition); errors of that seek are dropped here.
    ~TAbDfInBitStream();
    TAbDfInBitStream(const TAbDfInBitStream&) = delete;
    TAbDfInBitStream& operator=(const TAbDfInBitStream&) = delete;

    bool ReadBit();
    uint32_t ReadBits(int32_t aCount); // 1..16 bits
    uint32_t PeekBits(int32_t aCount); // 0..32 bits, zeros past the end of the data
    void DiscardBits(int32_t aCount);  // 1..32 bits, at most the last peek
    void AlignToByte();
    void ReadBuffer(void* aBuffer, int64_t aCount); // byte-aligned only

    uint64_t BitBuffer() const {
        return FBitsLeft == 0 ? 0 : FBitBuffer & (~0ull >> (64 - FBitsLeft));
    }
    int32_t BitsLeft() const { return static_cast<int32_t>(FBitsLeft); }

    // Seeks the source to just after the last byte from which any bit was
    // consumed, giving back what was read ahead. Done once; later calls do nothing.
    void Reposition();

private:
    friend class TAbDfDecoder;

    // Source blocks are requested as 16 KiB reads, as if the buffer were
    // consumed in whole 32-bit words: the request is 16384 minus the bytes such
    // a buffer would still hold. The progress percentages therefore follow the
    // source's block reads and not the decoder's look-ahead.
    static constexpr int32_t BlockSize = 16384;
    // A refill keeps at most this many unread bytes (the decoder refills
    // before its fast loop runs dry).
    static constexpr int32_t MaxKeep = 64;
    // Zero bytes kept after the data, so that an eight-byte load near the end
    // stays inside the buffer.
    static constexpr int32_t Pad = 8;
    // Ensure() can promise at most this many bits: a refill leaves 56..63.
    static constexpr uint32_t MaxEnsureBits = 56;

    // Makes at least aBits (<= MaxEnsureBits) real bits available; false when
    // the data ends first (the bits that exist are then all in the bit buffer).
    bool Ensure(uint32_t aBits) { return FBitsLeft >= aBits || EnsureSlow(aBits); }
    bool EnsureSlow(uint32_t aBits);
    void Consume(uint32_t aBits) {
        FBitBuffer >>= aBits;
        FBitsLeft -= aBits;
    }
    // Reads the next block from the source; false when it gave nothing.
    bool Refill();
    // Copies up to aCount bytes (byte-aligned); 0 only at the end of the data.
    int64_t ReadAvailable(uint8_t* aBuffer, int64_t aCount);
    int64_t Unread() const { return FBufEnd - FBufPos; }

    // Reads a plain memory source in place: its bytes up to DirectTail before
    // its end become the buffer (no copy, and the fast loop runs through them
    // without stopping every block); the tail is read into the own buffer as
    // before. False when the source is not such a stream.
    bool MapDirect();
    // Bytes of a source read in place that are left to the own buffer (more
    // than the longest load past the buffer's end, and its zero padding).
    static constexpr int32_t DirectTail = 64;

    uint64_t FBitBuffer = 0;
    uint32_t FBitsLeft = 0;
    std::unique_ptr<uint8_t[]> FBuffer;
    const uint8_t* FBufPos = nullptr;
    const uint8_t* FBufEnd = nullptr;
    int64_t FByteCount = 0;   // bytes read from the source, for progress
    uint32_t FBlockCarry = 0; // bytes a word-consuming buffer would keep at the next refill
    bool FEndOfData = false;
    bool FDirect = false; // the source may be read in place (not yet done)
    bool FRepositioned = false;
    TAbProgressStep FOnProgress;
    int32_t FPeekCount = 0;
    TStream* FStream;
    int64_t FStreamSize;
};

// Unaligned little-endian 64-bit load (x86-64 and other little-endian hosts).
inline uint64_t AbDfLoad64(const uint8_t* P) {
    uint64_t V;
    std::memcpy(&V, P, sizeof V);
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
                  "the bit reader assumes a little-endian host");
    return V;
}

} // namespace kivo
