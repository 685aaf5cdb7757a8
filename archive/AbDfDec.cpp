// The decoder proper. A block is decoded by two loops over the same state:
//
// - the fast loop runs while at least FastInputMin bytes of input are buffered
//   and the output is below the window's write point. Its input loads and its
//   output stores then cannot leave their buffers, so it needs no bounds
//   checks; it refills the 64-bit bit buffer without branches, off the chain
//   of dependent table lookups, and decodes up to three literals per pass;
// - the careful loop decodes one symbol at a time with every check: it runs
//   near the end of the input (where missing bits read as zeros and consuming
//   one is an error), at the write point, and when a partial size is set.
//
// Both loops validate in the same order, so a corrupt stream fails with the
// same cause whichever loop meets the fault.
#include "archive/AbDfDec.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <vector>

#include "archive/AbDfHufD.h"
#include "archive/AbDfInW.h"
#include "archive/AbDfOutW.h"

namespace kivo {

namespace {

// ---------------------------------------------------------------------------
// Decode tables
//
// A two-level table replaces the direct table of 2^(longest code) entries: the
// main table is indexed by the next MainBits bits, and codes longer than that
// continue in a subtable. Literal/length entries are 32 bits, distance
// entries 64 (see MakeEntry). Layout:
//   bits 0-7    bits to consume: code length plus extra bits
//   bits 8-15   literal and distance: the literal/length main width; length:
//               the distance main width. Bits 0-15 of these entries are thus
//               the control word of a bit-field extract (bextr) that takes the
//               index of the next lookup straight from the bits before this
//               code is consumed, one step shorter than shifting and masking.
//               End of block, subtable pointers and invalid codes: bits 8-11
//               the code length (a subtable pointer's index width), then:
//   bit 12      end of block
//   bit 13      subtable pointer: bits 16-30 hold the subtable's start,
//               counted from the end of the main table
//   bit 14      exceptional: end of block, subtable pointer or invalid code
//   bits 16-31  literal: bits 16-23 the byte, bit 31 set (only literals have
//               it); length: bits 16-24 the base length, bits 25-28 the code
//               length; distance: bits 16-19 the code length
//   bits 32-47  distance: the base distance
// Main-table widths: 11 bits for literal/length codes, so that nearly every
// literal of text is one lookup (10 and 12 bits measured no different), and 8
// bits for distances.
constexpr uint32_t EntryEob = 1u << 12;
constexpr uint32_t EntrySub = 1u << 13;
constexpr uint32_t EntryExc = 1u << 14;
constexpr uint32_t EntryLit = 1u << 31;
constexpr uint32_t EntryInvalid = EntryExc;
constexpr unsigned LitLenMainBits = 11;
constexpr unsigned DistMainBits = 8;
constexpr uint32_t LitLenMainMask = (1u << LitLenMainBits) - 1;
constexpr uint32_t DistMainMask = (1u << DistMainBits) - 1;
constexpr unsigned MaxCodeLen = 15;
// The widths in bits 8-15 must not look like flags.
static_assert(LitLenMainBits < 16 && DistMainBits < 16);

// Symbol information: an entry without its code length (the payload and
// flags, the extra-bit count in bits 0-7; InfoLength in bits 8-15 marks a
// length). MakeEntry adds the code length.
constexpr uint32_t InfoLength = 1u << 8;
template <typename TEntry> constexpr TEntry MakeEntry(uint32_t Info, uint32_t Len) {
    if constexpr (sizeof(TEntry) == 8) {
        // Distance entries are 64 bits wide: the base distance in bits 32-47,
        // the code length in bits 16-19, and the literal/length main width in
        // bits 8-15 (the control word of the extract for the next lookup).
        if (!(Info & EntryExc))
            return (static_cast<uint64_t>(Info >> 16) << 32) | (Len << 16) | (LitLenMainBits << 8) |
                   (Len + (Info & 0xFF));
    } else {
        if (Info & EntryLit) return (Info & ~0xFFFFu) | (LitLenMainBits << 8) | Len;
        if (Info & InfoLength)
            return (Info & ~0xFFFFu) | (Len << 25) | (DistMainBits << 8) | (Len + (Info & 0xFF));
    }
    return (Info & ~0xFFFFu) | (Info & 0xF000) | (Len << 8) | (Len + (Info & 0xFF));
}

using TSymbolInfo = std::array<uint32_t, 288>;

TSymbolInfo MakeLitLenInfo(bool aDeflate64) {
    TSymbolInfo I{};
    for (uint32_t s = 0; s < 256; ++s)
        I[s] = EntryLit | (s << 16);
    I[256] = EntryExc | EntryEob;
    for (uint32_t s = 257; s <= 285; ++s)
        I[s] = (static_cast<uint32_t>(AbDfLengthBase[s - 257]) << 16) | InfoLength |
               AbDfLengthExtraBits[s - 257];
    // Code 285 is length 258 in Deflate, 3 + 16 extra bits in Deflate64.
    if (!aDeflate64) I[285] = (258u << 16) | InfoLength;
    I[286] = I[287] = EntryInvalid;
    return I;
}

TSymbolInfo MakeDistInfo(bool aDeflate64) {
    TSymbolInfo I{};
    I.fill(EntryInvalid);
    for (uint32_t s = 0; s < (aDeflate64 ? 32u : 30u); ++s)
        I[s] = (AbDfDistanceBase[s] << 16) | AbDfDistanceExtraBits[s];
    return I;
}

const TSymbolInfo& LitLenInfo(bool aDeflate64) {
    static const TSymbolInfo Deflate = MakeLitLenInfo(false), Deflate64 = MakeLitLenInfo(true);
    return aDeflate64 ? Deflate64 : Deflate;
}

const TSymbolInfo& DistInfo(bool aDeflate64) {
    static const TSymbolInfo Deflate = MakeDistInfo(false), Deflate64 = MakeDistInfo(true);
    return aDeflate64 ? Deflate64 : Deflate;
}

// Reverses the low aLen bits of aCode (DEFLATE sends codes first bit first).
uint32_t Reverse(uint32_t aCode, uint32_t aLen) {
    static const std::array<uint8_t, 256> Byte = [] {
        std::array<uint8_t, 256> T{};
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t R = 0;
            for (int i = 0; i < 8; ++i)
                R |= ((b >> i) & 1) << (7 - i);
            T[b] = static_cast<uint8_t>(R);
        }
        return T;
    }();
    uint32_t R16 = (static_cast<uint32_t>(Byte[aCode & 0xFF]) << 8) | Byte[(aCode >> 8) & 0xFF];
    return R16 >> (16 - aLen);
}

// TEntry: uint32_t for literal/length tables, uint64_t for distance tables.
template <typename TEntry> class TDecodeTable {
public:
    // Builds the table of a code with aCount lengths (symbol i has aLens[i]).
    void Build(const uint8_t* aLens, uint32_t aCount, const TSymbolInfo& aInfo, unsigned aMainBits);
    const TEntry* Data() const { return FEntries.data(); }

private:
    void BuildOverSubscribed(const uint8_t* aLens, uint32_t aCount, const TSymbolInfo& aInfo,
                             unsigned aMainBits);
    std::vector<TEntry> FEntries;
};
using TLitLenTable = TDecodeTable<uint32_t>;
using TDistTable = TDecodeTable<uint64_t>;

template <typename TEntry>
void TDecodeTable<TEntry>::Build(const uint8_t* aLens, uint32_t aCount, const TSymbolInfo& aInfo,
                                 unsigned aMainBits) {
    // The symbols in four quarters (the last takes the remainder), counted
    // and later placed each with its own counters, so that runs of equal
    // lengths do not wait for each other's increments of one counter.
    const uint32_t Quarter = aCount / 4;
    uint32_t Counts4[4][MaxCodeLen + 1] = {};
    for (uint32_t s = 0; s < Quarter; ++s)
        for (uint32_t k = 0; k < 4; ++k)
            ++Counts4[k][aLens[s + k * Quarter]];
    for (uint32_t s = 4 * Quarter; s < aCount; ++s)
        ++Counts4[3][aLens[s]];
    uint32_t Counts[MaxCodeLen + 1];
    for (uint32_t L = 0; L <= MaxCodeLen; ++L)
        Counts[L] = Counts4[0][L] + Counts4[1][L] + Counts4[2][L] + Counts4[3][L];
    // Kraft sum in units of 2^-15: above 2^15 the code is over-subscribed.
    uint32_t Kraft = 0;
    for (uint32_t L = 1; L <= MaxCodeLen; ++L)
        Kraft += Counts[L] << (MaxCodeLen - L);
    if (Kraft > (1u << MaxCodeLen)) {
        BuildOverSubscribed(aLens, aCount, aInfo, aMainBits);
        return;
    }
    // Complete or incomplete: canonical codes are prefix-free, so a main
    // entry is either a whole short code or a pointer to one subtable whose
    // width fits the longest code behind it. Unreached entries stay invalid.
    uint32_t NextCode[MaxCodeLen + 2] = {};
    const uint32_t Unused = Counts[0];
    Counts[0] = 0;
    for (uint32_t L = 1, Code = 0; L <= MaxCodeLen; ++L) {
        Code = (Code + Counts[L - 1]) << 1;
        NextCode[L] = Code;
    }
    // The main table by doubling: after the codes of length L are placed in
    // the first 2^L entries, those are copied to the next 2^L, which repeats
    // every shorter code for the index bits above it (a block's table costs
    // a few hundred stores and copies instead of one store per entry).
    const uint32_t MainSize = 1u << aMainBits;
    FEntries.resize(MainSize);
    TEntry* const Main = FEntries.data();
    // The symbols sorted by code length, the unused ones first (sorted too:
    // a branch on them would mispredict); each length's in symbol order.
    uint16_t ByLength[288];
    uint32_t Offset[4][MaxCodeLen + 1];
    Offset[0][0] = 0;
    Offset[0][1] = Unused;
    for (uint32_t L = 2; L <= MaxCodeLen; ++L)
        Offset[0][L] = Offset[0][L - 1] + Counts[L - 1];
    for (uint32_t k = 1; k < 4; ++k)
        for (uint32_t L = 0; L <= MaxCodeLen; ++L)
            Offset[k][L] = Offset[k - 1][L] + Counts4[k - 1][L];
    for (uint32_t s = 0; s < Quarter; ++s)
        for (uint32_t k = 0; k < 4; ++k) {
            const uint32_t Sym = s + k * Quarter;
            ByLength[Offset[k][aLens[Sym]]++] = static_cast<uint16_t>(Sym);
        }
    for (uint32_t s = 4 * Quarter; s < aCount; ++s)
        ByLength[Offset[3][aLens[s]]++] = static_cast<uint16_t>(s);
    Main[0] = Main[1] = EntryInvalid;
    uint32_t i = Unused;
    for (uint32_t L = 1; L <= aMainBits; ++L) {
        for (uint32_t End = i + Counts[L]; i < End; ++i)
            Main[Reverse(NextCode[L]++, L)] = MakeEntry<TEntry>(aInfo[ByLength[i]], L);
        if (L < aMainBits) std::memcpy(Main + (1u << L), Main, sizeof(TEntry) << L);
    }
    // Longer codes, ByLength[i] on: one subtable per main index, as wide as
    // its longest code.
    const uint32_t FirstLong = i;
    uint8_t SubBits[1u << LitLenMainBits] = {};
    uint16_t Prefixes[288];
    uint32_t PrefixCount = 0;
    uint16_t Rev[288];
    for (; i < aCount; ++i) {
        const uint32_t L = aLens[ByLength[i]];
        const uint32_t R = Reverse(NextCode[L]++, L);
        Rev[i] = static_cast<uint16_t>(R);
        uint8_t& SB = SubBits[R & (MainSize - 1)];
        if (SB == 0) Prefixes[PrefixCount++] = static_cast<uint16_t>(R & (MainSize - 1));
        SB = std::max<uint8_t>(SB, static_cast<uint8_t>(L - aMainBits));
    }
    for (uint32_t k = 0; k < PrefixCount; ++k) {
        const uint32_t p = Prefixes[k];
        uint32_t Start = static_cast<uint32_t>(FEntries.size());
        FEntries.resize(Start + (1u << SubBits[p]), EntryInvalid);
        FEntries[p] = EntryExc | EntrySub | ((Start - MainSize) << 16) |
                      (static_cast<uint32_t>(SubBits[p]) << 8);
    }
    for (i = FirstLong; i < aCount; ++i) {
        const uint32_t Sym = ByLength[i], L = aLens[Sym];
        const uint32_t P = static_cast<uint32_t>(FEntries[Rev[i] & (MainSize - 1)]);
        uint32_t Start = MainSize + (P >> 16), Width = (P >> 8) & 0xF;
        const TEntry E = MakeEntry<TEntry>(aInfo[Sym], L);
        for (uint32_t j = static_cast<uint32_t>(Rev[i]) >> aMainBits; j < (1u << Width);
             j += 1u << (L - aMainBits))
            FEntries[Start + j] = E;
    }
}

// An over-subscribed code is corrupt, but its decoding is defined: later
// symbols overwrite the entries of earlier ones in the direct table. Build
// that table and copy it into two levels; only corrupt streams come here.
template <typename TEntry>
void TDecodeTable<TEntry>::BuildOverSubscribed(const uint8_t* aLens, uint32_t aCount,
                                               const TSymbolInfo& aInfo, unsigned aMainBits) {
    TAbDfDecodeHuffmanTree Tree(std::max<int32_t>(static_cast<int32_t>(aCount), 2), MaxCodeLen,
                                huDecoding);
    Tree.Build(aLens, 0, static_cast<int32_t>(aCount), nullptr, 0);
    const std::vector<uint32_t>& Direct = Tree.Decodes();
    const uint32_t Width = static_cast<uint32_t>(Tree.LookupBitLength());
    auto Convert = [&](uint32_t D) -> TEntry {
        return D == AbDfUnusedEntry ? EntryInvalid
                                    : MakeEntry<TEntry>(aInfo[D & 0xFFFF], (D >> 16) & 0xFF);
    };
    const uint32_t MainSize = 1u << aMainBits;
    FEntries.assign(MainSize, EntryInvalid);
    for (uint32_t p = 0; p < MainSize; ++p) {
        if (Width <= aMainBits) {
            FEntries[p] = Convert(Direct[p & ((1u << Width) - 1)]);
            continue;
        }
        const uint32_t SubWidth = Width - aMainBits;
        bool Same = true;
        for (uint32_t j = 1; j < (1u << SubWidth) && Same; ++j)
            Same = Direct[p + (j << aMainBits)] == Direct[p];
        if (Same) {
            FEntries[p] = Convert(Direct[p]);
            continue;
        }
        uint32_t Start = static_cast<uint32_t>(FEntries.size());
        FEntries.resize(Start + (1u << SubWidth));
        for (uint32_t j = 0; j < (1u << SubWidth); ++j)
            FEntries[Start + j] = Convert(Direct[p + (j << aMainBits)]);
        FEntries[p] = EntryExc | EntrySub | ((Start - MainSize) << 16) | (SubWidth << 8);
    }
}

// Looks up the entry for the next bits of aBits.
template <typename TEntry>
[[gnu::always_inline]] inline TEntry Lookup(const TEntry* aTable, uint64_t aBits,
                                            unsigned aMainBits) {
    TEntry E = aTable[aBits & ((1u << aMainBits) - 1)];
    if (E & EntrySub)
        E = aTable[(1u << aMainBits) + ((E >> 16) & 0xFFFF) +
                   ((aBits >> aMainBits) & ((1u << ((E >> 8) & 0xF)) - 1))];
    return E;
}

// The extra-bits value of entry aE: the bits below its consume count
// (bits 0-7), above its code length (at bit LenShift; the bits above that
// field are clear). A 64-bit shift takes its count modulo 64, so the masks
// by 63 cost nothing.
template <unsigned LenShift>
[[gnu::always_inline]] inline uint32_t ExtraBits(uint64_t aBits, uint64_t aE) {
    return static_cast<uint32_t>((aBits & ((1ull << (aE & 63)) - 1)) >> ((aE >> LenShift) & 63));
}

// A distance entry's extra bits (code length in bits 16-19) and base.
[[gnu::always_inline]] inline uint32_t ExtraValue(uint64_t aBits, uint64_t aE) {
    return ExtraBits<16>(aBits, aE);
}
[[gnu::always_inline]] inline uint32_t DistanceBase(uint64_t aE) {
    return static_cast<uint32_t>(aE >> 32);
}

// A length entry's extra bits (code length in bits 25-28) and base.
[[gnu::always_inline]] inline uint32_t LengthExtra(uint64_t aBits, uint32_t aE) {
    return ExtraBits<25>(aBits, aE);
}
[[gnu::always_inline]] inline uint32_t LengthBase(uint32_t aE) {
    return (aE >> 16) & 0x1FF;
}

// ExtraBits in the fast loop: with BMI2, bzhi keeps the entry's low byte's
// worth of bits in one instruction (the compiler does not find it for the
// mask above). Only the BMI2 instance of the loop uses it.
template <bool Bmi2, unsigned LenShift>
[[gnu::always_inline]] inline uint32_t FastExtra(uint64_t aBits, uint64_t aE) {
    if constexpr (Bmi2) {
        uint64_t Kept;
        asm("bzhi %2, %1, %0" : "=r"(Kept) : "r"(aBits), "r"(aE));
        return static_cast<uint32_t>(Kept >> ((aE >> LenShift) & 63));
    } else {
        return ExtraBits<LenShift>(aBits, aE);
    }
}

// The index of the lookup after a literal or a length entry aE: the aMask
// bits of aBits above the entry's code (and extra bits). With BMI2 (whose
// processors have BMI1) one bextr takes them, controlled by the entry's low
// 16 bits, while the shift that consumes the code runs beside it.
template <bool Bmi2>
[[gnu::always_inline]] inline uint64_t NextIndex(uint64_t aBits, uint64_t aE, uint32_t aMask) {
    if constexpr (Bmi2) {
        uint64_t Index;
        asm("bextr %2, %1, %0" : "=r"(Index) : "r"(aBits), "r"(aE));
        return Index;
    } else {
        return (aBits >> (aE & 63)) & aMask;
    }
}

const TLitLenTable& FixedLitLenTable(bool aDeflate64) {
    static const TLitLenTable Deflate = [] {
        TLitLenTable T;
        T.Build(AbDfFixedLiteralLengths.data(), 288, LitLenInfo(false), LitLenMainBits);
        return T;
    }();
    static const TLitLenTable Deflate64 = [] {
        TLitLenTable T;
        T.Build(AbDfFixedLiteralLengths.data(), 288, LitLenInfo(true), LitLenMainBits);
        return T;
    }();
    return aDeflate64 ? Deflate64 : Deflate;
}

const TDistTable& FixedDistTable(bool aDeflate64) {
    static const TDistTable Deflate = [] {
        TDistTable T;
        T.Build(AbDfFixedDistanceLengths.data(), 32, DistInfo(false), DistMainBits);
        return T;
    }();
    static const TDistTable Deflate64 = [] {
        TDistTable T;
        T.Build(AbDfFixedDistanceLengths.data(), 32, DistInfo(true), DistMainBits);
        return T;
    }();
    return aDeflate64 ? Deflate64 : Deflate;
}

// Bit budgets. After a branch-free refill the bit buffer holds at least 56 bits.
constexpr uint32_t RefillBits = 56;
constexpr uint32_t MaxLitLenBits = MaxCodeLen + 5;    // code + length extra bits (Deflate)
constexpr uint32_t MaxLitLenBits64 = MaxCodeLen + 16; // Deflate64: code 285 has 16 extra bits
constexpr uint32_t MaxDistBits = MaxCodeLen + 14;     // code + distance extra bits (13 in Deflate)
constexpr uint32_t MaxDistBitsDeflate = MaxCodeLen + 13;
// The fast loop's bits at the top of each iteration: what is left after a
// refill and the longest distance (Deflate64's is one bit longer; see below).
constexpr uint32_t FastTopBits = RefillBits - MaxDistBitsDeflate;
// Deflate: the longest length and the distance's main index fit in them;
// the refill that follows covers the distance.
static_assert(MaxLitLenBits + DistMainBits <= FastTopBits);
// A main-table literal and the next main index fit in them; after the
// refill that follows, two more literals leave FastTopBits.
static_assert(2 * LitLenMainBits <= FastTopBits - 1);
static_assert(RefillBits - 2 * LitLenMainBits >= FastTopBits);
// A subtable lookup fits in them (also with Deflate64's one bit less).
static_assert(MaxCodeLen <= FastTopBits - 1);
// Deflate64 refills before a length when fewer than MaxLitLenBits64 +
// DistMainBits bits are left; after a distance, one bit less than
// FastTopBits remains, which the literal and subtable budgets above allow.
static_assert(MaxLitLenBits64 + DistMainBits <= RefillBits && MaxDistBits <= RefillBits);
static_assert(RefillBits - MaxDistBits == FastTopBits - 1);
static_assert(MaxLitLenBits64 <= 56 && MaxDistBits <= 56, "the careful loop's Ensure limit");

std::atomic<bool> Bmi2Allowed{true};

bool HaveBmi2() {
    static const bool Have = __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    return Have && Bmi2Allowed.load(std::memory_order_relaxed);
}

// The fast loop's input margin: at most two refills per iteration (after the
// first literal; before a Deflate64 length and between a length and its
// distance) and the one before the loop, each advancing at most 7 bytes, and
// an eight-byte load after the last.
constexpr int64_t FastInputMin = 32;
static_assert(3 * 7 + 8 <= FastInputMin);

} // namespace

void SetInflateBmi2Allowed(bool Allowed) {
    Bmi2Allowed.store(Allowed, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------

class TAbDfDecoder {
public:
    TAbDfDecoder(TAbDfInBitStream& aIn, TAbDfOutputWindow& aOut, bool aDeflate64)
        : In(aIn), Out(aOut), FDeflate64(aDeflate64), FPreTree(19, 7, huDecoding) {}
    // Decodes blocks until the last one.
    void Run();

private:
    void StoredBlock();
    void DynamicBlock();
    void ReadLitDistCodeLengths(uint32_t aCount);
    void DecodeData(const TLitLenTable& aLitLen, const TDistTable& aDist);
    // One symbol with every check; true at the end of the block.
    bool CarefulSymbol(const uint32_t* aLitLen, const uint64_t* aDist);
    // Symbols while input and output room last; true at the end of the block.
    template <bool Deflate64, bool Bmi2>
    bool FastLoopBody(const uint32_t* aLitLen, const uint64_t* aDist);
    template <bool Deflate64> bool FastLoop(const uint32_t* aLitLen, const uint64_t* aDist);
    template <bool Deflate64>
    __attribute__((target("bmi2"))) bool FastLoopBmi2(const uint32_t* aLitLen,
                                                      const uint64_t* aDist);
    bool RunFastLoop(const uint32_t* aLitLen, const uint64_t* aDist) {
        if (HaveBmi2())
            return FDeflate64 ? FastLoopBmi2<true>(aLitLen, aDist)
                              : FastLoopBmi2<false>(aLitLen, aDist);
        return FDeflate64 ? FastLoop<true>(aLitLen, aDist) : FastLoop<false>(aLitLen, aDist);
    }
    // Fails unless aBits real bits are in the bit buffer (after an Ensure).
    void NeedBits(uint32_t aBits) {
        if (In.FBitsLeft < aBits) AbInflateFail(InflateCause::NoMoreDataDiscardBits);
    }
    void CheckPartSize() {
        if (Out.FPartSize > 0 && Out.Produced() >= Out.FPartSize) throw EAbPartSizedInflate();
    }

    TAbDfInBitStream& In;
    TAbDfOutputWindow& Out;
    bool FDeflate64;
    TAbDfDecodeHuffmanTree FPreTree;
    TLitLenTable FLitLen;
    TDistTable FDist;
    uint8_t FLens[286 + 32];
};

void TAbDfDecoder::Run() {
    bool Last;
    do {
        Last = In.ReadBit();
        switch (In.ReadBits(2)) {
        case 0: StoredBlock(); break;
        case 1: DecodeData(FixedLitLenTable(FDeflate64), FixedDistTable(FDeflate64)); break;
        case 2: DynamicBlock(); break;
        default: AbInflateFail(InflateCause::InvalidBlockType);
        }
    } while (!Last);
}

void TAbDfDecoder::StoredBlock() {
    In.AlignToByte();
    uint32_t Len = In.ReadBits(16);
    uint32_t NLen = In.ReadBits(16);
    if (NLen != (~Len & 0xFFFF)) AbInflateFail(InflateCause::StoredLength);
    // Straight from the input buffer into the window, in pieces that end at
    // the write point. Stored data is not tested against the partial size.
    while (Len > 0) {
        if (Out.FCurrent >= Out.FWritePoint) Out.Slide();
        int64_t Room = Out.FWritePoint - Out.FCurrent;
        int64_t N = In.ReadAvailable(Out.FCurrent, std::min<int64_t>(Len, Room));
        if (N == 0) AbInflateFail(InflateCause::NoMoreDataReadBuffer);
        Out.FCurrent += N;
        Len -= static_cast<uint32_t>(N);
    }
}

void TAbDfDecoder::DynamicBlock() {
    uint32_t HLit = In.ReadBits(5) + 257;
    uint32_t HDist = In.ReadBits(5) + 1;
    uint32_t HCLen = In.ReadBits(4) + 4;
    if (HLit > 286) AbInflateFail(InflateCause::TooManyLiteralCodes);
    if (!FDeflate64 && HDist > 30) AbInflateFail(InflateCause::TooManyDistanceCodes);
    uint8_t PreLens[19] = {};
    for (uint32_t i = 0; i < HCLen; ++i)
        PreLens[AbDfCodeLengthOrder[i]] = static_cast<uint8_t>(In.ReadBits(3));
    FPreTree.Build(PreLens, 0, 19, nullptr, 0);
    ReadLitDistCodeLengths(HLit + HDist);
    FLitLen.Build(FLens, HLit, LitLenInfo(FDeflate64), LitLenMainBits);
    FDist.Build(FLens + HLit, HDist, DistInfo(FDeflate64), DistMainBits);
    DecodeData(FLitLen, FDist);
}

void TAbDfDecoder::ReadLitDistCodeLengths(uint32_t aCount) {
    std::fill(std::begin(FLens), std::end(FLens), 0);
    const uint32_t* Table = FPreTree.Decodes().data();
    const uint32_t Width = static_cast<uint32_t>(FPreTree.LookupBitLength());
    const uint32_t Mask = (1u << Width) - 1;
    uint32_t i = 0;
    while (i < aCount) {
        In.Ensure(Width + 7); // missing bits read as zeros
        uint64_t Bits = In.FBitBuffer;
        uint32_t E = Table[Bits & Mask];
        uint32_t Sym = E & 0xFFFF;
        uint32_t Len = (E >> 16) & 0xFF;
        if (Sym > 18) AbInflateFail(InflateCause::BadCodeLengthSymbol);
        if (Len == 0 || Len > Width) AbInflateFail(InflateCause::BadCodeLength);
        if (Sym < 16) {
            NeedBits(Len);
            In.Consume(Len);
            FLens[i++] = static_cast<uint8_t>(Sym);
            continue;
        }
        // Repeats: the count's bits follow the code directly.
        uint32_t CountBits = Sym == 16 ? 2 : Sym == 17 ? 3 : 7;
        uint32_t Repeat =
            static_cast<uint32_t>((Bits >> Len) & ((1u << CountBits) - 1)) + (Sym == 18 ? 11 : 3);
        NeedBits(Len + CountBits);
        In.Consume(Len + CountBits);
        if ((Sym == 16 && i == 0) || i + Repeat > std::size(FLens))
            AbInflateFail(InflateCause::BadCodeLengthRepeat);
        uint8_t Value = Sym == 16 ? FLens[i - 1] : 0;
        std::fill_n(FLens + i, Repeat, Value);
        i += Repeat;
    }
}

void TAbDfDecoder::DecodeData(const TLitLenTable& aLitLen, const TDistTable& aDist) {
    const uint32_t* LitLen = aLitLen.Data();
    const uint64_t* Dist = aDist.Data();
    // With a partial size every symbol is checked, so only the careful loop runs.
    const bool MayRunFast = Out.FPartSize == 0;
    for (;;) {
        if (MayRunFast) {
            if (In.Unread() < FastInputMin) In.Refill();
            if (In.Unread() >= FastInputMin && Out.FCurrent < Out.FWritePoint) {
                if (RunFastLoop(LitLen, Dist)) return;
            }
        }
        if (Out.FCurrent >= Out.FWritePoint) Out.Slide();
        if (CarefulSymbol(LitLen, Dist)) return;
    }
}

bool TAbDfDecoder::CarefulSymbol(const uint32_t* aLitLen, const uint64_t* aDist) {
    In.Ensure(FDeflate64 ? MaxLitLenBits64 : MaxLitLenBits); // missing bits read as zeros
    uint32_t E = Lookup(aLitLen, In.FBitBuffer, LitLenMainBits);
    if (E & EntryLit) {
        NeedBits(E & 0xFF);
        In.Consume(E & 0xFF);
        *Out.FCurrent++ = static_cast<uint8_t>(E >> 16);
        CheckPartSize();
        return false;
    }
    if (E & EntryExc) {
        if (!(E & EntryEob)) AbInflateFail(InflateCause::BadLengthSymbol);
        NeedBits(E & 0xFF);
        In.Consume(E & 0xFF);
        return true;
    }
    uint32_t Len = LengthBase(E) + LengthExtra(In.FBitBuffer, E);
    NeedBits(E & 0xFF);
    In.Consume(E & 0xFF);

    In.Ensure(MaxDistBits);
    uint64_t D = Lookup(aDist, In.FBitBuffer, DistMainBits);
    if (D & EntryExc)
        AbInflateFail(FDeflate64 ? InflateCause::UnusedDistanceSymbol
                                 : InflateCause::BadDistanceSymbol);
    uint32_t Distance = DistanceBase(D) + ExtraValue(In.FBitBuffer, D);
    NeedBits(D & 0xFF);
    In.Consume(D & 0xFF);
    // Before the first slide the buffer holds everything produced; after one
    // it holds at least a whole history, which no distance exceeds.
    if (Distance > static_cast<size_t>(Out.FCurrent - Out.FBase))
        AbInflateFail(InflateCause::DistanceTooFar);
    AbDfCopyMatch(Out.FCurrent, Distance, Len);
    Out.FCurrent += Len;
    CheckPartSize();
    return false;
}

// The fast loop's body, compiled twice: for any x86-64 and with BMI2, whose
// three-operand shifts (shlx, shrx) shorten every symbol's dependency chain
// (measured: 3-10% faster where available). The BMI2 instance also takes the
// extra bits with bzhi (FastExtra): 2-5% faster, measured by letting it and
// libdeflate take turns on the same streams; and the next index with bextr
// (NextIndex), one instruction fewer on the chain per symbol.
template <bool Deflate64, bool Bmi2>
[[gnu::always_inline]] inline bool TAbDfDecoder::FastLoopBody(const uint32_t* aLitLen,
                                                              const uint64_t* aDist) {
    uint64_t BitBuf = In.FBitBuffer;
    uint32_t BitsLeft = In.FBitsLeft;
    const uint8_t* InP = In.FBufPos;
    const uint8_t* const InLimit = In.FBufEnd - FastInputMin;
    uint8_t* OutP = Out.FCurrent;
    uint8_t* const OutLimit = Out.FWritePoint;
    const uint8_t* const OutBase = Out.FBase;
    bool EndOfBlock = false;

    // Only the low byte of BitsLeft counts: consuming subtracts the whole
    // entry, whose low byte is the bit count, and the bits above collect
    // borrows that nothing reads (saves a zero-extension per symbol). Shift
    // counts are taken modulo 64, which the shift instructions do anyway.
#define KIVO_REFILL()                                                                              \
    do {                                                                                           \
        BitBuf |= AbDfLoad64(InP) << (BitsLeft & 63);                                              \
        InP += (63 - (BitsLeft & 63)) >> 3;                                                        \
        BitsLeft |= 56;                                                                            \
    } while (0)
#define KIVO_CONSUME(E)                                                                            \
    do {                                                                                           \
        BitBuf >>= (E)&63;                                                                         \
        BitsLeft -= static_cast<uint32_t>(E);                                                      \
    } while (0)
#define KIVO_SAVE()                                                                                \
    do {                                                                                           \
        In.FBitBuffer = BitBuf;                                                                    \
        In.FBitsLeft = BitsLeft & 0xFF;                                                            \
        In.FBufPos = InP;                                                                          \
        Out.FCurrent = OutP;                                                                       \
    } while (0)

    // Each table load waits for the index the previous entry gives: with
    // BMI2 one bextr on the bits before that entry's code is consumed (the
    // entry names the next width), otherwise a shift and a mask. The loop
    // keeps everything else off that chain:
    // - a refill ORs new bits in above those the next lookup needs, so the
    //   lookup indexes with the bits before the refill and does not wait
    //   for the input load and the OR;
    // - subtable pointers are exceptional entries, resolved only on the
    //   exceptional path, so a literal in the fast chain has at most
    //   LitLenMainBits bits;
    // - the next literal/length entry is looked up before the current match
    //   is copied, so its load overlaps the copy.
    // Invariant at the top of the loop: at least FastTopBits bits are
    // buffered and E is the main table's entry for them.
    KIVO_REFILL();
    uint64_t E = aLitLen[BitBuf & LitLenMainMask];
    while (InP <= InLimit && OutP < OutLimit) {
        if (E & EntryLit) {
            uint64_t Index = NextIndex<Bmi2>(BitBuf, E, LitLenMainMask);
            KIVO_CONSUME(E);
            *OutP++ = static_cast<uint8_t>(E >> 16);
            KIVO_REFILL();
            E = aLitLen[Index];
            if (E & EntryLit) {
                Index = NextIndex<Bmi2>(BitBuf, E, LitLenMainMask);
                KIVO_CONSUME(E);
                *OutP++ = static_cast<uint8_t>(E >> 16);
                E = aLitLen[Index];
                if (E & EntryLit) {
                    Index = NextIndex<Bmi2>(BitBuf, E, LitLenMainMask);
                    KIVO_CONSUME(E);
                    *OutP++ = static_cast<uint8_t>(E >> 16);
                    E = aLitLen[Index];
                    continue;
                }
            }
        }
        if (E & EntryExc) [[unlikely]] {
            if (E & EntrySub) {
                E = Lookup(aLitLen, BitBuf, LitLenMainBits);
                if (E & EntryLit) {
                    KIVO_CONSUME(E);
                    *OutP++ = static_cast<uint8_t>(E >> 16);
                    KIVO_REFILL();
                    E = aLitLen[BitBuf & LitLenMainMask];
                    continue;
                }
            }
            if (E & EntryExc) {
                if (E & EntryEob) {
                    KIVO_CONSUME(E);
                    EndOfBlock = true;
                    break;
                }
                KIVO_SAVE();
                AbInflateFail(InflateCause::BadLengthSymbol);
            }
        }
        // A length. Deflate64's longest length code does not fit in the bits
        // the loop guarantees: refill first when needed.
        if constexpr (Deflate64) {
            if ((BitsLeft & 63) < MaxLitLenBits64 + DistMainBits) KIVO_REFILL();
        }
        // Consume first and take the extra bits from the saved buffer: the
        // shift for the next lookup then does not wait for the extraction.
        uint64_t Saved = BitBuf;
        uint64_t Index = NextIndex<Bmi2>(BitBuf, E, DistMainMask);
        KIVO_CONSUME(E);
        uint32_t Len = LengthBase(E) + FastExtra<Bmi2, 25>(Saved, E);
        KIVO_REFILL();
        uint64_t D = aDist[Index];
        if (D & EntryExc) [[unlikely]] {
            D = Lookup(aDist, BitBuf, DistMainBits);
            if (D & EntryExc) {
                KIVO_SAVE();
                AbInflateFail(Deflate64 ? InflateCause::UnusedDistanceSymbol
                                        : InflateCause::BadDistanceSymbol);
            }
        }
        Saved = BitBuf;
        E = aLitLen[NextIndex<Bmi2>(BitBuf, D, LitLenMainMask)];
        KIVO_CONSUME(D);
        uint32_t Distance = DistanceBase(D) + FastExtra<Bmi2, 16>(Saved, D);
        if (Distance > static_cast<size_t>(OutP - OutBase)) [[unlikely]] {
            KIVO_SAVE();
            AbInflateFail(InflateCause::DistanceTooFar);
        }
        // Output built in place goes to memory that is not in the cache: ask
        // for the lines a kilobyte ahead (measured 2-3% faster there, no
        // change into the window).
        __builtin_prefetch(OutP + 1024, 1);
        AbDfCopyMatch(OutP, Distance, Len);
        OutP += Len;
    }
    KIVO_SAVE();
#undef KIVO_REFILL
#undef KIVO_CONSUME
#undef KIVO_SAVE
    return EndOfBlock;
}

template <bool Deflate64>
bool TAbDfDecoder::FastLoop(const uint32_t* aLitLen, const uint64_t* aDist) {
    return FastLoopBody<Deflate64, false>(aLitLen, aDist);
}

template <bool Deflate64>
__attribute__((target("bmi2"))) bool TAbDfDecoder::FastLoopBmi2(const uint32_t* aLitLen,
                                                                const uint64_t* aDist) {
    return FastLoopBody<Deflate64, true>(aLitLen, aDist);
}

// ---------------------------------------------------------------------------

namespace {
// Inflate's slide unit (see TAbDfOutputWindow).
constexpr int32_t InflateSlideUnit = 256 * 1024;
} // namespace

uint32_t Inflate(TStream* aSource, TStream* aDest, TAbDeflateHelper* aHelper) {
    KIVO_ASSERT(aSource != nullptr, "Deflate: aSource stream cannot be nil");
    KIVO_ASSERT(aDest != nullptr, "Deflate: aDest stream cannot be nil");

    TAbDeflateHelper Helper;
    if (aHelper != nullptr) Helper.Assign(*aHelper);
    const int64_t SourceStart = aSource->Position();
    const int64_t DestStart = aDest->Position();

    if (!Helper.OnProgressStep) {
        Helper.SetStreamSize(0);
    } else if (Helper.StreamSize() == -1) {
        Helper.SetStreamSize(aSource->Size());
    }

    std::unique_ptr<TAbLogger> Log;
    if (!Helper.LogFile().empty()) {
        Log = std::make_unique<TAbLogger>(Helper.LogFile());
        Log->WriteLine("INFLATING STREAM...");
        Log->WriteLine("Need to recompile the app with UseLogging turned on");
    }

    const int32_t Options = Helper.Options();
    const bool Deflate64 = (Options & OptionDeflate64) != 0;
    const bool TestOnly = (Options & OptionTestOnly) != 0;
    uint32_t Result = 0;
    bool Completed = false;
    int64_t TestOnlySize = 0;
    {
        TAbDfInBitStream In(aSource, Helper.OnProgressStep, Helper.StreamSize());
        TAbDfOutputWindow Out(aDest, Deflate64, (Options & OptionAdler32) == 0,
                              Helper.PartialSize(), TestOnly, Log.get(), InflateSlideUnit, true);
        try {
            TAbDfDecoder(In, Out, Deflate64).Run();
            Result = Out.Checksum();
            if (TestOnly) TestOnlySize = Out.Position();
            Completed = true;
        } catch (const EAbPartSizedInflate&) {
            // Stopped on purpose: what was decoded still goes out.
        } catch (const EAbAbortProgress&) {
        } catch (const EAbInternalInflateError& E) {
            if (Log) Log->WriteLine(Format("Internal exception raised: %s", E.Message().c_str()));
            // Data decoded before the fault still reaches the destination.
            Out.Flush();
            In.Reposition();
            throw EAbInflateError(E.Message());
        }
        Out.Flush();
        In.Reposition();
    }
    if (aHelper != nullptr) {
        if (!TestOnly)
            aHelper->SetNormalSize(aDest->Position() - DestStart);
        else if (Completed)
            aHelper->SetNormalSize(TestOnlySize);
        aHelper->SetCompressedSize(aSource->Position() - SourceStart);
    }
    return Result;
}

} // namespace kivo
