#include "archive/AbUnzipHelper.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/AbExcept.h"
#include "archive/AbSlidingWindowStream.h"

namespace kivo {

namespace {

// Shrinking: codes of 9 to 13 bits naming up to 8192 strings.
constexpr int32_t ShrinkTableSize = 8192;
constexpr int32_t ShrinkControl = 256;
constexpr int32_t ShrinkFirstFree = 257;
constexpr int32_t ShrinkMaxCodeSize = 13;
constexpr int16_t ShrinkFree = -1;

// The farthest a copy reaches back: 8191 + 1 in an 8K imploded item, 4096
// in a reduced one.
constexpr int64_t MaxDistance = 8192;

// Index bits of a follower set of Count (1..32) bytes.
uint8_t FollowerIndexBits(int32_t Count) {
    uint8_t Bits = 1;
    while ((1 << Bits) < Count)
        ++Bits;
    return Bits;
}

uint16_t Reverse16(uint16_t Value) {
    uint16_t Result = 0;
    for (int32_t I = 0; I < 16; ++I) {
        Result = static_cast<uint16_t>((Result << 1) | (Value & 1));
        Value = static_cast<uint16_t>(Value >> 1);
    }
    return Result;
}

} // namespace

// The string table of shrinking: codes 0-255 are the bytes, 256 is the
// control code, 257-8191 are strings (a prefix code plus a suffix byte)
// defined as decoding goes and freed by partial clearing.
class TAbUnzipHelper::TShrinkTable {
public:
    TShrinkTable() {
        for (int32_t Code = 0; Code < ShrinkFirstFree; ++Code) {
            FPrefix[static_cast<size_t>(Code)] = 0;
            FSuffix[static_cast<size_t>(Code)] = static_cast<uint8_t>(Code);
        }
    }

    bool IsFree(int32_t Code) const {
        return Code >= ShrinkFirstFree && FPrefix[static_cast<size_t>(Code)] == ShrinkFree;
    }

    // Collects the string of Code backwards (Depth bytes, read with
    // Stacked) and returns its first byte. A free code stands for the
    // previous string plus its first byte; a chain longer than the stack
    // can only come from a cycle.
    uint8_t Expand(int32_t Code, int32_t Previous, uint8_t LastFirst, size_t& Depth) {
        Depth = 0;
        auto Push = [&](uint8_t Byte) {
            if (Depth == FStack.size()) throw EAbZipInvalid();
            FStack[Depth++] = Byte;
        };
        while (Code >= ShrinkFirstFree) {
            if (IsFree(Code)) {
                Push(LastFirst);
                Code = Previous;
            } else {
                Push(FSuffix[static_cast<size_t>(Code)]);
                Code = FPrefix[static_cast<size_t>(Code)];
            }
        }
        return static_cast<uint8_t>(Code);
    }
    uint8_t Stacked(size_t Index) const { return FStack[Index]; }

    // Defines the next free code, while there is one.
    void Define(int32_t Prefix, uint8_t Suffix) {
        if (FNextFree >= ShrinkTableSize) return;
        FPrefix[static_cast<size_t>(FNextFree)] = static_cast<int16_t>(Prefix);
        FSuffix[static_cast<size_t>(FNextFree)] = Suffix;
        do {
            ++FNextFree;
        } while (FNextFree < ShrinkTableSize && !IsFree(FNextFree));
    }

    // Frees every string code that is no other code's prefix; the lowest
    // free code is the next one defined. All of the table is looked at, not
    // only the codes below the next free one: after an earlier clear, codes
    // above it are still in use and keep their prefixes alive.
    void PartialClear() {
        std::vector<bool> IsPrefix(ShrinkTableSize, false);
        for (int32_t Code = ShrinkFirstFree; Code < ShrinkTableSize; ++Code) {
            const int16_t Prefix = FPrefix[static_cast<size_t>(Code)];
            if (Prefix >= ShrinkFirstFree) IsPrefix[static_cast<size_t>(Prefix)] = true;
        }
        FNextFree = ShrinkTableSize;
        for (int32_t Code = ShrinkTableSize - 1; Code >= ShrinkFirstFree; --Code) {
            if (!IsPrefix[static_cast<size_t>(Code)])
                FPrefix[static_cast<size_t>(Code)] = ShrinkFree;
            if (IsFree(Code)) FNextFree = Code;
        }
    }

private:
    std::array<int16_t, ShrinkTableSize> FPrefix = MakeFreeTable();
    std::array<uint8_t, ShrinkTableSize> FSuffix{};
    std::array<uint8_t, ShrinkTableSize + 1> FStack{};
    int32_t FNextFree = ShrinkFirstFree;

    static std::array<int16_t, ShrinkTableSize> MakeFreeTable() {
        std::array<int16_t, ShrinkTableSize> Table;
        Table.fill(ShrinkFree);
        return Table;
    }
};

// A Shannon-Fano tree: a lookup table indexed by the next RootWidth input
// bits gives a symbol and the length of its code (length 0: no code of at
// most RootWidth bits matches); codes longer than that, which are the rare
// symbols, are compared one by one. A sequence no code matches decodes as
// symbol 0 and takes Width bits, the longest code's length. The table is
// kept small (8 KiB) because it is built for every item: a 16-bit table
// cost more to fill than a 12 KiB item took to decode.
struct TAbUnzipHelper::TSFTree {
    static constexpr int32_t MaxRootWidth = 12;
    struct TEntry {
        uint8_t Symbol = 0;
        uint8_t Length = 0;
    };
    struct TLongCode {
        uint16_t Bits;
        uint8_t Symbol;
        uint8_t Length;
    };
    int32_t Width = 0;
    uint32_t RootMask = 0;
    std::vector<TEntry> Table = std::vector<TEntry>(1);
    std::vector<TLongCode> Long; // in the order they are compared

    void Build(const uint8_t* Lengths, int32_t Count);
};

// Codes as imploded data defines them: entries sorted by bit length (then
// symbol), codes counted up from the last entry to the first and
// left-aligned in 16 bits, then bit-reversed because input bits arrive
// least significant first. Table and list answer what comparing one more
// bit at a time against the sorted list answers: the first entry whose code
// equals the bits read so far.
void TAbUnzipHelper::TSFTree::Build(const uint8_t* Lengths, int32_t Count) {
    std::vector<uint16_t> Order(static_cast<size_t>(Count));
    for (int32_t I = 0; I < Count; ++I)
        Order[static_cast<size_t>(I)] = static_cast<uint16_t>(I);
    std::stable_sort(Order.begin(), Order.end(),
                     [&](uint16_t A, uint16_t B) { return Lengths[A] < Lengths[B]; });
    std::vector<uint16_t> Codes(static_cast<size_t>(Count));
    uint16_t Code = 0, Increment = 0;
    uint8_t LastLength = 0;
    for (int32_t I = Count - 1; I >= 0; --I) {
        Code = static_cast<uint16_t>(Code + Increment);
        const uint8_t Length = Lengths[Order[static_cast<size_t>(I)]];
        if (Length != LastLength) {
            LastLength = Length;
            Increment = static_cast<uint16_t>(1u << (16 - Length));
        }
        Codes[static_cast<size_t>(I)] = Reverse16(Code);
    }
    Width = Lengths[Order.back()];
    const int32_t RootWidth = std::min(Width, MaxRootWidth);
    RootMask = (1u << RootWidth) - 1;
    Table.assign(size_t{1} << RootWidth, TEntry{});
    Long.clear();
    for (int32_t I = 0; I < Count; ++I) {
        const uint8_t Length = Lengths[Order[static_cast<size_t>(I)]];
        const uint16_t Bits = Codes[static_cast<size_t>(I)];
        const auto Symbol = static_cast<uint8_t>(Order[static_cast<size_t>(I)]);
        // A code with bits beyond its length never equals the bits read.
        if (Bits >= (1u << Length)) continue;
        // A slot taken by an earlier (shorter or equal) code: that code
        // matches first wherever this one would.
        if (Table[Bits & RootMask].Length != 0) continue;
        if (Length > RootWidth) {
            Long.push_back({Bits, Symbol, Length});
            continue;
        }
        for (size_t Slot = Bits; Slot < Table.size(); Slot += size_t{1} << Length)
            Table[Slot] = {Symbol, Length};
    }
}

TAbUnzipHelper::TAbUnzipHelper(TStream* InputStream, TStream* OutputStream)
    : FZStream(InputStream), FOutStream(OutputStream) {}

TAbUnzipHelper::~TAbUnzipHelper() = default;

// ---------------------------------------------------------------------------
// Bit input

void TAbUnzipHelper::FillBits(int32_t Count) {
    while (FBitCount < Count) {
        if (FInPos == FInCnt) {
            if (FInExhausted) return;
            FInCnt =
                static_cast<int32_t>(std::max<int64_t>(FZStream->Read(FInBuf.data(), InBlock), 0));
            FInPos = 0;
            if (FInCnt == 0) {
                FInExhausted = true;
                return;
            }
        }
        FBitBuf |= static_cast<uint64_t>(FInBuf[static_cast<size_t>(FInPos++)]) << FBitCount;
        FBitCount += 8;
    }
}

// The next Count (0..24) bits without taking them; bits beyond the end of
// the input are zeros.
uint32_t TAbUnzipHelper::PeekBits(int32_t Count) {
    if (FBitCount < Count) FillBits(Count);
    return static_cast<uint32_t>(FBitBuf & ((uint64_t{1} << Count) - 1));
}

// Takes Count bits; taking bits the input does not have sets FInEof, after
// which the decoders stop without using them.
void TAbUnzipHelper::DropBits(int32_t Count) {
    if (Count > FBitCount) {
        FInEof = true;
        FBitBuf = 0;
        FBitCount = 0;
        return;
    }
    FBitBuf >>= Count;
    FBitCount -= Count;
}

// ---------------------------------------------------------------------------
// Output

// Hands the decoded bytes not sent yet to FOutWriter (they always lie in one
// block of the ring) and sets the next point to do so: the end of the
// current block, or the uncompressed size when that comes first.
void TAbUnzipHelper::SendOutput() {
    if (FOutPos > FOutSent) {
        FOutWriter->WriteBuffer(FHistory.get() + (FOutSent & HistoryMask), FOutPos - FOutSent);
        FOutSent = FOutPos;
    }
    FSendAt = (FOutPos / OutBlock + 1) * OutBlock;
    if (FUnCompressedSize > FOutPos && FUnCompressedSize < FSendAt) FSendAt = FUnCompressedSize;
}

// Copies Length bytes from Distance back, byte after byte, so an overlapping
// copy repeats what it has just written; positions before the first byte of
// output give zeros. The ring still holds every byte a copy can reach.
void TAbUnzipHelper::CopyMatch(int64_t Distance, int32_t Length) {
    static_assert(MaxDistance <= HistoryMask + 1 - OutBlock,
                  "bytes a copy reaches are never overwritten before it reads them");
    for (; Length > 0; --Length) {
        const int64_t From = FOutPos - Distance;
        PutByte(From >= 0 ? FHistory[static_cast<size_t>(From & HistoryMask)] : 0);
    }
}

// ---------------------------------------------------------------------------
// Execute

void TAbUnzipHelper::Execute() {
    FInPos = FInCnt = 0;
    FInExhausted = FInEof = false;
    FBitBuf = 0;
    FBitCount = 0;
    FHistory = std::make_unique<uint8_t[]>(static_cast<size_t>(HistoryMask + 1));
    FOutPos = FOutSent = 0;
    FOutWriter = FOutStream;
    if (FCompressionMethod >= 2 && FCompressionMethod <= 6) {
        FWindow = std::make_unique<TabSlidingWindowStream>(FOutStream);
        FOutWriter = FWindow.get();
    }
    SendOutput();

    auto Finish = [this] {
        SendOutput();
        if (FWindow) FWindow->Flush();
        FWindow.reset();
    };
    try {
        switch (FCompressionMethod) {
        case 1: Unshrink(); break;
        case 2:
        case 3:
        case 4:
        case 5: Unreduce(FCompressionMethod - 1); break;
        case 6: Explode(); break;
        default: throw EAbZipInvalidMethod();
        }
    } catch (...) {
        // What was decoded still reaches the destination; the first error
        // is the one reported.
        try {
            Finish();
        } catch (...) {
        }
        throw;
    }
    Finish();
}

// ---------------------------------------------------------------------------
// Unshrink (method 1)

void TAbUnzipHelper::Unshrink() {
    auto Table = std::make_unique<TShrinkTable>();
    int32_t CodeSize = 9;
    auto Previous = static_cast<int32_t>(ReadBits(CodeSize));
    if (FInEof) return;
    auto LastFirst = static_cast<uint8_t>(Previous);
    PutByte(LastFirst);
    for (;;) {
        const int32_t Code = ReadShrinkCode(*Table, CodeSize);
        if (FInEof) return;
        size_t Depth = 0;
        const uint8_t First = Table->Expand(Code, Previous, LastFirst, Depth);
        PutByte(First);
        while (Depth > 0)
            PutByte(Table->Stacked(--Depth));
        Table->Define(Previous, First);
        Previous = Code;
        LastFirst = First;
    }
}

// The next code that is not a control sequence. 256 followed by 1 widens
// the codes by one bit (13 at most), followed by 2 clears the table
// partially; other values after 256 mean nothing.
int32_t TAbUnzipHelper::ReadShrinkCode(TShrinkTable& Table, int32_t& CodeSize) {
    auto Code = static_cast<int32_t>(ReadBits(CodeSize));
    while (Code == ShrinkControl && !FInEof) {
        const uint32_t Control = ReadBits(CodeSize);
        if (FInEof) break;
        if (Control == 1) {
            if (++CodeSize > ShrinkMaxCodeSize) throw EAbZipInvalid();
        } else if (Control == 2) {
            Table.PartialClear();
        }
        Code = static_cast<int32_t>(ReadBits(CodeSize));
    }
    return Code;
}

// ---------------------------------------------------------------------------
// Unreduce (methods 2-5)

void TAbUnzipHelper::Unreduce(int32_t Factor) {
    if (Factor < 1 || Factor > 4) throw EAbZipInvalidFactor();
    struct TFollowers {
        uint8_t Count = 0;
        uint8_t IndexBits = 0;
        std::array<uint8_t, 32> Bytes{};
    };
    std::vector<TFollowers> Sets(256);
    for (int32_t Byte = 255; Byte >= 0; --Byte) {
        TFollowers& Set = Sets[static_cast<size_t>(Byte)];
        const uint32_t Count = ReadBits(6);
        if (Count > Set.Bytes.size()) throw EAbZipInvalid();
        Set.Count = static_cast<uint8_t>(Count);
        Set.IndexBits = FollowerIndexBits(static_cast<int32_t>(Count));
        for (uint32_t I = 0; I < Count; ++I)
            Set.Bytes[I] = static_cast<uint8_t>(ReadBits(8));
    }

    constexpr uint8_t DLE = 144;
    const uint8_t LengthMask = static_cast<uint8_t>(0xFF >> Factor);
    int32_t State = 0;
    int32_t Length = 0;
    uint8_t V = 0;
    uint8_t Last = 0;
    while (!FInEof && FOutPos < FUnCompressedSize) {
        const TFollowers& Set = Sets[Last];
        uint8_t C = 0;
        if (Set.Count == 0 || ReadBits(1) == 1)
            C = static_cast<uint8_t>(ReadBits(8));
        else
            C = Set.Bytes[ReadBits(Set.IndexBits)];
        Last = C;
        if (FInEof) break;

        switch (State) {
        case 0:
            if (C == DLE)
                State = 1;
            else
                PutByte(C);
            break;
        case 1:
            if (C == 0) {
                PutByte(DLE);
                State = 0;
            } else {
                V = C;
                Length = V & LengthMask;
                State = Length == LengthMask ? 2 : 3;
            }
            break;
        case 2:
            Length += C;
            State = 3;
            break;
        default:
            CopyMatch(static_cast<int64_t>(V >> (8 - Factor)) * 256 + C + 1, Length + 3);
            State = 0;
            break;
        }
    }
}

// ---------------------------------------------------------------------------
// Explode (method 6)

// A tree description: a byte giving the number of bytes that follow, minus
// one; each of them gives a run of symbols (high nibble + 1) sharing a bit
// length (low nibble + 1). Symbols beyond the tree's are refused.
void TAbUnzipHelper::LoadTree(TSFTree& Tree, int32_t Symbols) {
    std::array<uint8_t, 256> Lengths{};
    int32_t Count = 0;
    const uint32_t Bytes = ReadBits(8) + 1;
    for (uint32_t I = 0; I < Bytes; ++I) {
        const uint32_t Byte = ReadBits(8);
        if (FInEof) return;
        const auto Run = static_cast<int32_t>(Byte >> 4) + 1;
        if (Count + Run > Symbols) throw EAbZipInvalid();
        std::fill_n(Lengths.begin() + Count, Run, static_cast<uint8_t>((Byte & 0x0F) + 1));
        Count += Run;
    }
    Tree.Build(Lengths.data(), Count);
}

uint8_t TAbUnzipHelper::DecodeSymbol(const TSFTree& Tree) {
    const uint32_t Bits = PeekBits(Tree.Width);
    const TSFTree::TEntry Entry = Tree.Table[Bits & Tree.RootMask];
    if (Entry.Length != 0) {
        DropBits(Entry.Length);
        return Entry.Symbol;
    }
    for (const TSFTree::TLongCode& Code : Tree.Long) {
        if ((Bits & ((1u << Code.Length) - 1)) == Code.Bits) {
            DropBits(Code.Length);
            return Code.Symbol;
        }
    }
    DropBits(Tree.Width);
    return 0;
}

void TAbUnzipHelper::Explode() {
    const int32_t DistanceBits = FDictionarySize == ds8K ? 7 : 6;
    const bool ThreeTrees = FShannonFanoTreeCount == 3;
    const int32_t MinMatch = ThreeTrees ? 3 : 2;
    TSFTree Literals, Lengths, Distances;
    if (ThreeTrees) LoadTree(Literals, 256);
    LoadTree(Lengths, 64);
    LoadTree(Distances, 64);

    while (!FInEof && FOutPos < FUnCompressedSize) {
        if (ReadBits(1) == 1) {
            const uint8_t C =
                ThreeTrees ? DecodeSymbol(Literals) : static_cast<uint8_t>(ReadBits(8));
            if (FInEof) break;
            PutByte(C);
            continue;
        }
        int64_t Distance = ReadBits(DistanceBits);
        Distance |= static_cast<int64_t>(DecodeSymbol(Distances)) << DistanceBits;
        int32_t Length = DecodeSymbol(Lengths);
        if (Length == 63) Length += static_cast<int32_t>(ReadBits(8));
        if (FInEof) break;
        CopyMatch(Distance + 1, Length + MinMatch);
    }
}

} // namespace kivo
