// The decoder's output: a sliding window that keeps the history matches
// refer to, checksums what leaves it and writes it to the destination.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/AbDfBase.h"
#include "archive/AbDfInW.h"
#include "runtime/Classes.h"

namespace kivo {

class TAbDfDecoder;

// Adler-32 (RFC 1950) register update; the CRC-32 is AbUtils' CrcUpdate.
uint32_t AbDfAdler32Update(uint32_t aAdler, const uint8_t* aBuffer, size_t aCount);

inline void AbDfStore64(uint8_t* P, uint64_t V) {
    std::memcpy(P, &V, sizeof V);
}

// Room the window keeps past the longest match for AbDfCopyMatch's overshoot.
constexpr uint32_t AbDfCopyOvershoot = 32;

// Copies a match of aLen (3..65538) bytes from aDist (>= 1) bytes back to
// aOut; an overlapping match repeats its pattern. Copies in words and may
// write up to AbDfCopyOvershoot bytes past aOut + aLen. Every byte it loads has
// been written before (earlier output or this copy), never one past the end.
[[gnu::always_inline]] inline void AbDfCopyMatch(uint8_t* aOut, uint32_t aDist, uint32_t aLen) {
    uint8_t* const End = aOut + aLen;
    const uint8_t* Src = aOut - aDist;
    if (aDist >= 16) {
        // Most matches are short: two unconditional 16-byte moves cover up to
        // 32 bytes without a data-dependent branch (measured faster than an
        // eight-byte loop, which mispredicts on the varying lengths). Each
        // load ends at or before the store position, so overlapping long
        // runs come out right.
        std::memcpy(aOut, Src, 16);
        std::memcpy(aOut + 16, Src + 16, 16);
        if (aLen > 32) {
            aOut += 32;
            Src += 32;
            do {
                std::memcpy(aOut, Src, 16);
                aOut += 16;
                Src += 16;
            } while (aOut < End);
        }
    } else if (aDist >= 8) {
        do {
            AbDfStore64(aOut, AbDfLoad64(Src));
            aOut += 8;
            Src += 8;
        } while (aOut < End);
    } else if (aDist == 1) {
        uint64_t V = 0x0101010101010101ull * *Src;
        do {
            AbDfStore64(aOut, V);
            aOut += 8;
        } while (aOut < End);
    } else {
        // A short period: write the first Step bytes one at a time, where Step
        // is the smallest multiple of the period that is at least 8; from then
        // on the output repeats itself Step bytes back, far enough for words.
        uint32_t Step = aDist;
        while (Step < 8)
            Step += aDist;
        uint32_t First = aLen < Step ? aLen : Step;
        for (uint32_t i = 0; i < First; ++i)
            aOut[i] = Src[i];
        aOut += First;
        Src = aOut - Step;
        while (aOut < End) {
            AbDfStore64(aOut, AbDfLoad64(Src));
            aOut += 8;
            Src += 8;
        }
    }
}

// Geometry: the buffer holds the history (32 KiB, or 64 KiB in Deflate64)
// followed by the slide unit; once the write position reaches that write
// point the new bytes are checksummed and written out and the last history's
// worth moves to the front. Past the write point there is room for the
// longest match (258, or 65538 in Deflate64), so anything smaller than a
// match can be added without a bounds check.
//
// The plain constructor uses a 32 KiB slide unit. Inflate uses a larger one:
// each slide moves a whole history down, so a larger unit means fewer moves
// (measured: 256 KiB is 1-4% faster than 32 KiB when decoding into memory;
// 1 MiB gains nothing more).
//
// In place: when asked to and the destination is a plain TMemoryStream
// positioned at its end, the output is built directly in the stream's memory
// and the buffer above is not used. The history is then the output itself
// (everything produced lies just before the write position), a "slide" only
// checksums and commits the new bytes and asks for room for the next unit,
// and no byte is copied a second time. Subclasses of TMemoryStream are
// written through Write as before: they may watch or refuse writes.
class TAbDfOutputWindow {
public:
    TAbDfOutputWindow(TStream* aStream, bool aUseDeflate64, bool aUseCRC32, int64_t aPartSize,
                      bool aTestOnly, TAbLogger* aLog, int32_t aSlideUnit = 32768,
                      bool aInPlace = false);
    // Writes out pending output; errors are dropped here (call Flush first to see them).
    ~TAbDfOutputWindow();
    TAbDfOutputWindow(const TAbDfOutputWindow&) = delete;
    TAbDfOutputWindow& operator=(const TAbDfOutputWindow&) = delete;

    void AddLiteral(uint8_t aCh);
    // aDist must lie within the bytes produced so far, aLen within the longest match.
    void AddLenDist(int32_t aLen, int32_t aDist);
    // Copies a buffer; no partial-size test.
    void AddBuffer(const void* aBuffer, int64_t aCount);

    // Bytes produced: written (or counted in test-only mode) plus pending.
    int64_t Position();
    // Writes out pending output, then returns the final CRC-32 or the Adler-32 value.
    uint32_t Checksum();
    TAbLogger* Log() const { return FLog; }

    // Checksums and writes out (or counts) every pending byte.
    void Flush();

private:
    friend class TAbDfDecoder;

    // Flush, then move the last history's worth of bytes to the front (in
    // place: take room for the next unit after the committed bytes).
    void Slide();
    // In place: the room after the stream's end becomes the write area.
    void MapInPlace();
    void CheckPartSize();
    int64_t Produced() const { return FFlushed + (FCurrent - FPending); }

    std::unique_ptr<uint8_t[]> FBuffer;
    TMemoryStream* FInPlace = nullptr; // the destination written in place, if any
    uint8_t* FBase;                    // first byte matches may reach (history start)
    uint8_t* FCurrent;                 // next write position
    uint8_t* FPending;                 // first byte not yet written out
    uint8_t* FWritePoint;              // slide once FCurrent reaches this
    int32_t FHistory;                  // bytes kept after a slide
    int32_t FMaxMatch;                 // longest match
    int32_t FSlideCount;               // slide unit
    uint32_t FChecksum;
    bool FUseCRC32;
    bool FTestOnly;
    int64_t FStreamPos = 0; // test-only: bytes counted as written
    int64_t FFlushed = 0;   // bytes checksummed and written out (or counted)
    int64_t FPartSize;      // 0 = none
    TStream* FStream;
    TAbLogger* FLog;
};

} // namespace kivo
