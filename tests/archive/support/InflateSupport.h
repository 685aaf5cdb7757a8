// Test helpers for the DEFLATE decoder: zlib as the trusted encoder and
// decoder, sources that misbehave the way real ones do, a bit writer for
// hand-built streams, and a reference decoder that follows the documented
// algorithm step by step on the public pieces (bit stream, direct Huffman
// tables, output window) to check the fast decoder's results and causes.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/Classes.h"

namespace kivo::test {

// Raw DEFLATE (no zlib header) of Data.
std::string ZlibDeflateRaw(const std::string& Data, int Level, int Strategy = 0,
                           int WindowBits = 15, int MemLevel = 8);
// zlib's raw inflate; true when it reached the end of the stream. Consumed
// receives the bytes of Data the stream occupies.
bool ZlibInflateRaw(const std::string& Data, std::string& Output, size_t* Consumed = nullptr);
uint32_t ZlibCrc32(const std::string& Data);
uint32_t ZlibAdler32(const std::string& Data);

// Pseudo-English text and bytes of this test program (a real binary).
std::string MakeText(size_t Size, uint32_t Seed = 1);
std::string MakeBinary(size_t Size);
std::string MakeRandom(size_t Size, uint32_t Seed = 1);

// A source that hands out 1 to MaxStep bytes per Read, varying from call to call.
class TTrickleStream : public TStream {
public:
    TTrickleStream(std::string Data, int MaxStep, uint32_t Seed = 7);
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    int64_t ReadCalls() const { return FReadCalls; }

private:
    std::string FData;
    int FMaxStep;
    uint32_t FState;
    int64_t FPos = 0;
    int64_t FReadCalls = 0;
};

// Writes bits least significant first, as DEFLATE packs them.
class TBitWriter {
public:
    void Bits(uint32_t Value, int Count);
    // A Huffman code given most significant bit first.
    void Code(uint32_t Code, int Length);
    // Fixed-Huffman literal/length symbol and distance symbol.
    void FixedLitLen(int Symbol);
    void FixedDist(int Symbol) { Code(static_cast<uint32_t>(Symbol), 5); }
    void AlignToByte();
    std::string Bytes() const;

private:
    std::string FBytes;
    uint32_t FAcc = 0;
    int FCount = 0;
};

// Outcome of a decode: the output, the checksum, and the cause on failure.
struct TDecodeResult {
    bool Ok = false;
    std::string Output;
    uint32_t Checksum = 0;
    std::string Cause; // the internal cause of EAbInflateError
    int64_t Consumed = 0;
};

// Where Inflate's output goes: a plain memory stream, which it builds in
// place, or a memory stream it writes through Write from its output window
// (as it writes any other stream).
enum class TInflateDest { InPlace, Written };

// Inflate from a memory source (or a trickle source with MaxStep > 0).
TDecodeResult RunInflate(const std::string& Data, bool Deflate64 = false, int MaxStep = 0,
                         int32_t ExtraOptions = 0, TInflateDest Dest = TInflateDest::InPlace);
// The documented algorithm on the public pieces.
TDecodeResult ReferenceInflate(const std::string& Data, bool Deflate64);
// The cause inside an EAbInflateError message.
std::string CauseOf(const std::string& Message);

} // namespace kivo::test
