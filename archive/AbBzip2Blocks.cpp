#include "archive/AbBzip2Blocks.h"

#include <algorithm>
#include <bzlib.h>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <vector>

#include "archive/AbBzip2.h"

namespace kivo {

namespace {

constexpr uint64_t BlockMagic = 0x314159265359;
constexpr uint64_t EndMagic = 0x177245385090;
constexpr uint64_t Mask48 = (uint64_t{1} << 48) - 1;
// A compressed block is at most about 1 MiB; a magic number not found
// within this many bytes after a block's start means data the finder does
// not follow.
constexpr int64_t MaxBlockBytes = 4 << 20;
constexpr int64_t ReadPiece = 1 << 20;
// A block decodes to at most 900,000 bytes times 51 (runs of equal bytes).
constexpr size_t MaxBlockOutput = size_t{48} << 20;

// The compressed data, read piece by piece and addressed by bit position
// from where it started; bytes before the current block are dropped.
class TBitSource {
public:
    explicit TBitSource(TStream* Source) : FSource(Source) {}

    // Makes the bytes up to (not including) End present where the data
    // has them; false when it ends first.
    bool Have(int64_t End) {
        while (FStart + static_cast<int64_t>(FBytes.size()) < End && !FEnded) {
            const size_t Old = FBytes.size();
            FBytes.resize(Old + ReadPiece);
            const int64_t Got = FSource->Read(FBytes.data() + Old, ReadPiece);
            FBytes.resize(Old + static_cast<size_t>(std::max<int64_t>(Got, 0)));
            FEnded = Got <= 0;
        }
        return FStart + static_cast<int64_t>(FBytes.size()) >= End;
    }
    // Drops the bytes before Byte.
    void DropBefore(int64_t Byte) {
        const int64_t Drop = Byte - FStart;
        if (Drop < ReadPiece) return; // drop in large steps only
        FBytes.erase(FBytes.begin(), FBytes.begin() + Drop);
        FStart = Byte;
    }
    uint8_t At(int64_t Byte) const { return FBytes[static_cast<size_t>(Byte - FStart)]; }
    // Count (1 to 57) bits from bit position Bit, the first one highest;
    // the bytes they lie in must be present.
    uint64_t Bits(int64_t Bit, int Count) const {
        const int64_t First = Bit / 8, Last = (Bit + Count - 1) / 8;
        uint64_t Word = 0;
        for (int64_t Byte = First; Byte <= Last; ++Byte)
            Word = Word << 8 | At(Byte);
        const auto Below = static_cast<int>((Last - First + 1) * 8 - Bit % 8 - Count);
        return Word >> Below & ((uint64_t{1} << Count) - 1);
    }
    // The byte position after the last byte present.
    int64_t End() const { return FStart + static_cast<int64_t>(FBytes.size()); }
    bool EndsAt(int64_t Byte) { return !Have(Byte + 1); }

private:
    TStream* FSource;
    std::vector<uint8_t> FBytes;
    int64_t FStart = 0; // byte position of FBytes[0]
    bool FEnded = false;
};

enum class TMagic { None, Block, End };

struct TFound {
    TMagic Kind = TMagic::None;
    int64_t Bit = 0; // where the magic number starts
};

// The first block or end magic number starting at or after bit From and
// within MaxBlockBytes of it.
TFound FindMagic(TBitSource& Data, int64_t From) {
    const int64_t Limit = From / 8 + MaxBlockBytes;
    uint64_t Word = 0;
    for (int64_t Byte = From / 8, Present = Data.End(); Byte < Limit; ++Byte) {
        if (Byte >= Present) {
            if (!Data.Have(Byte + 1)) break;
            Present = Data.End();
        }
        Word = Word << 8 | Data.At(Byte);
        // The magic number ending Shift bits before this byte's end.
        for (int Shift = 7; Shift >= 0; --Shift) {
            const int64_t Start = (Byte + 1) * 8 - Shift - 48;
            if (Start < From) continue;
            const uint64_t Value = Word >> Shift & Mask48;
            if (Value == BlockMagic) return {TMagic::Block, Start};
            if (Value == EndMagic) return {TMagic::End, Start};
        }
    }
    return {};
}

// One block as a stream of its own: the stream header, the block's bits
// and an end whose stream CRC is the block's CRC (the CRC of a one-block
// stream), so that libbz2 checks both.
struct TBlockJob {
    std::vector<uint8_t> Input;
    std::vector<uint8_t> Output;
    bool Decoded = false;
};

class TBitWriter {
public:
    explicit TBitWriter(std::vector<uint8_t>& Out) : FOut(Out) {}
    void Put(uint64_t Value, int Count) {
        for (int I = Count - 1; I >= 0; --I) {
            if (FUsed == 0) FOut.push_back(0);
            FOut.back() |= static_cast<uint8_t>((Value >> I & 1) << (7 - FUsed));
            FUsed = (FUsed + 1) % 8;
        }
    }
    // The bits from Begin to End of Data, whole bytes at a time where the
    // writer is at a byte boundary.
    void Copy(const TBitSource& Data, int64_t Begin, int64_t End) {
        for (; Begin + 8 <= End; Begin += 8) {
            FOut.push_back(static_cast<uint8_t>(Data.Bits(Begin, 8)));
        }
        if (End > Begin)
            Put(Data.Bits(Begin, static_cast<int>(End - Begin)), static_cast<int>(End - Begin));
    }

private:
    std::vector<uint8_t>& FOut;
    int FUsed = 0; // bits used of the last byte
};

TBlockJob MakeJob(const TBitSource& Data, char Level, int64_t Begin, int64_t End,
                  uint32_t BlockCrc) {
    TBlockJob Job;
    Job.Input.reserve(static_cast<size_t>((End - Begin) / 8 + 16));
    Job.Input.insert(Job.Input.end(), {'B', 'Z', 'h', static_cast<uint8_t>(Level)});
    TBitWriter Writer(Job.Input);
    Writer.Copy(Data, Begin, End);
    Writer.Put(EndMagic, 48);
    Writer.Put(BlockCrc, 32);
    return Job;
}

void Decode(TBlockJob& Job) {
    bz_stream S{};
    if (BZ2_bzDecompressInit(&S, 0, 0) != BZ_OK) return;
    S.next_in = reinterpret_cast<char*>(Job.Input.data());
    S.avail_in = static_cast<unsigned>(Job.Input.size());
    Job.Output.resize(std::max<size_t>(Job.Input.size() * 4, 1 << 20));
    size_t Produced = 0;
    for (;;) {
        S.next_out = reinterpret_cast<char*>(Job.Output.data() + Produced);
        S.avail_out = static_cast<unsigned>(Job.Output.size() - Produced);
        const unsigned Room = S.avail_out;
        const int Rc = BZ2_bzDecompress(&S);
        Produced += Room - S.avail_out;
        if (Rc == BZ_STREAM_END) {
            Job.Decoded = true;
            break;
        }
        if (Rc != BZ_OK || Job.Output.size() >= MaxBlockOutput) break;
        if (S.avail_out == 0)
            Job.Output.resize(Job.Output.size() * 2);
        else if (S.avail_in == 0)
            break; // the block ended early: not a block after all
    }
    BZ2_bzDecompressEnd(&S);
    Job.Output.resize(Produced);
    Job.Input = {};
}

uint32_t CombineCrc(uint32_t Stream, uint32_t Block) {
    return (Stream << 1 | Stream >> 31) ^ Block;
}

// Walks the streams block by block, hands each block to a thread and
// writes the results in order; stops where the data leaves the shape it
// follows. Returns whether the whole data was written.
class TParallelDecoder {
public:
    TParallelDecoder(TStream* Source, TStream* Dest, unsigned Threads)
        : FData(Source), FDest(Dest), FThreads(std::max(Threads, 1u)) {}

    bool Run() {
        int64_t Byte = 0;
        for (bool First = true;; First = false) {
            if (!First && FData.EndsAt(Byte)) return Drain();
            if (!First && FData.At(Byte) != 'B') return Drain(); // not another stream
            const int64_t Next = Stream(Byte);
            if (Next < 0) {
                Drain(); // the blocks before are sound
                return false;
            }
            Byte = Next;
        }
    }
    int64_t Written() const { return FWritten; }

private:
    // The byte after a magic number and the CRC behind it.
    static int64_t HeadEnd(const TFound& At) { return (At.Bit + 80 + 7) / 8; }

    // The stream at byte Byte; the byte after it, or -1 where the shape
    // ends.
    int64_t Stream(int64_t Byte) {
        if (!FData.Have(Byte + 4) || FData.At(Byte) != 'B' || FData.At(Byte + 1) != 'Z' ||
            FData.At(Byte + 2) != 'h' || FData.At(Byte + 3) < '1' || FData.At(Byte + 3) > '9')
            return -1;
        const auto Level = static_cast<char>(FData.At(Byte + 3));
        int64_t Bit = (Byte + 4) * 8;
        TFound At = FindMagic(FData, Bit);
        if (At.Bit != Bit) return -1;
        uint32_t Combined = 0;
        while (At.Kind == TMagic::Block) {
            if (!FData.Have(HeadEnd(At))) return -1;
            const auto BlockCrc = static_cast<uint32_t>(FData.Bits(At.Bit + 48, 32));
            const TFound Next = FindMagic(FData, At.Bit + 80);
            if (Next.Kind == TMagic::None) return -1;
            if (!Submit(MakeJob(FData, Level, At.Bit, Next.Bit, BlockCrc))) return -1;
            Combined = CombineCrc(Combined, BlockCrc);
            FData.DropBefore(Next.Bit / 8);
            At = Next;
        }
        if (!FData.Have(HeadEnd(At))) return -1;
        if (static_cast<uint32_t>(FData.Bits(At.Bit + 48, 32)) != Combined) return -1;
        return (At.Bit + 80 + 7) / 8;
    }

    bool Submit(TBlockJob Job) {
        if (FInFlight.size() >= FThreads && !WriteOldest()) return false;
        FInFlight.push_back(std::async(std::launch::async, [Job = std::move(Job)]() mutable {
            Decode(Job);
            return std::move(Job);
        }));
        return true;
    }

    // Writes the oldest block; after one that did not decode, none.
    bool WriteOldest() {
        if (FFailed) return false;
        TBlockJob Job = FInFlight.front().get();
        FInFlight.pop_front();
        FFailed = !Job.Decoded;
        if (FFailed) return false;
        FDest->WriteBuffer(Job.Output.data(), static_cast<int64_t>(Job.Output.size()));
        FWritten += static_cast<int64_t>(Job.Output.size());
        return true;
    }

    bool Drain() {
        while (!FInFlight.empty() || FFailed)
            if (!WriteOldest()) return false;
        return true;
    }

    TBitSource FData;
    TStream* FDest;
    unsigned FThreads;
    std::deque<std::future<TBlockJob>> FInFlight;
    int64_t FWritten = 0;
    bool FFailed = false;
};

} // namespace

void DecodeBzip2OnThreads(TStream* Source, TStream* Dest, unsigned Threads) {
    const int64_t Start = Source->Position();
    int64_t Written = 0;
    {
        TParallelDecoder Decoder(Source, Dest, Threads);
        const bool Whole = Decoder.Run();
        // Blocks still decoding are written where they follow on.
        if (Whole) return;
        Written = Decoder.Written();
    }
    // The rest in one thread, as the stream decodes it, errors and all.
    Source->Seek(Start, soBeginning);
    TBZDecompressionStream Decoded(Source);
    Decoded.Seek(Written, soBeginning);
    std::unique_ptr<uint8_t[]> Buffer(new uint8_t[1 << 20]);
    for (;;) {
        const int64_t N = Decoded.ReadUpTo(Buffer.get(), 1 << 20);
        if (N <= 0) return;
        Dest->WriteBuffer(Buffer.get(), N);
    }
}

} // namespace kivo
