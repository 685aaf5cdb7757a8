#include "archive/AbDfHufD.h"

#include "runtime/SysUtils.h"

namespace kivo {

const uint16_t AbDfLengthBase[31] = {3,  4,   5,   6,   7,   8,   9,  10, 11, 13, 15,
                                     17, 19,  23,  27,  31,  35,  43, 51, 59, 67, 83,
                                     99, 115, 131, 163, 195, 227, 3,  0,  0};
const uint8_t AbDfLengthExtraBits[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2,  2,  2, 2,
                                         3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, 99, 99};
const uint32_t AbDfDistanceBase[32] = {1,    2,    3,    4,     5,     7,     9,     13,
                                       17,   25,   33,   49,    65,    97,    129,   193,
                                       257,  385,  513,  769,   1025,  1537,  2049,  3073,
                                       4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint8_t AbDfDistanceExtraBits[32] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3, 4,
                                           4,  5,  5,  6,  6,  7,  7,  8,  8,  9, 9,
                                           10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
const uint8_t AbDfCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};

namespace {
constexpr std::array<uint8_t, 288> MakeFixedLiteralLengths() {
    std::array<uint8_t, 288> L{};
    for (int i = 0; i < 288; ++i)
        L[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return L;
}
constexpr std::array<uint8_t, 32> MakeFixedDistanceLengths() {
    std::array<uint8_t, 32> L{};
    for (auto& Len : L)
        Len = 5;
    return L;
}

uint32_t ReverseBits(uint32_t Code, int32_t Len) {
    uint32_t R = 0;
    for (int32_t i = 0; i < Len; ++i) {
        R = (R << 1) | (Code & 1);
        Code >>= 1;
    }
    return R;
}
} // namespace

const std::array<uint8_t, 288> AbDfFixedLiteralLengths = MakeFixedLiteralLengths();
const std::array<uint8_t, 32> AbDfFixedDistanceLengths = MakeFixedDistanceLengths();

TAbDfDecodeHuffmanTree::TAbDfDecodeHuffmanTree(int32_t aAlphabetSize, int32_t aDefMaxCodeLen,
                                               TAbDfHuffmanUsage aUsage)
    : FAlphaSize(aAlphabetSize), FDefMaxCodeLen(aDefMaxCodeLen), FUsage(aUsage) {
    KIVO_ASSERT(aAlphabetSize >= 2,
                "TAbDfDecodeHuffmanTree.Create: a huffman tree must be for at least two symbols");
    KIVO_ASSERT(aDefMaxCodeLen >= 1 && aDefMaxCodeLen <= 15,
                "TAbDfDecodeHuffmanTree.Create: code lengths are limited to 15");
    if (FUsage != huDecoding) FEncodes.assign(static_cast<size_t>(FAlphaSize), -1);
}

void TAbDfDecodeHuffmanTree::Build(const uint8_t* aCodeLengths, int32_t aStartInx, int32_t aCount,
                                   const uint8_t* aExtraBits, int32_t aExtraOffset) {
    KIVO_ASSERT(aCount >= 0 && aCount <= FAlphaSize,
                "TAbDfDecodeHuffmanTree.Build: too many code lengths");
    const uint8_t* Lengths = aCodeLengths + aStartInx;

    // 1. Count the symbols of each length.
    int32_t Counts[16] = {};
    FMaxCodeLen = 0;
    for (int32_t i = 0; i < aCount; ++i) {
        int32_t L = Lengths[i];
        if (L > FDefMaxCodeLen)
            AssertFailed(Format("TAbDfDecodeHuffmanTree.Build: a code length is greater than %d",
                                FDefMaxCodeLen),
                         __FILE_NAME__, __LINE__);
        ++Counts[L];
        if (L > FMaxCodeLen) FMaxCodeLen = L;
    }

    // 2. The lookup table, every entry unused.
    uint32_t TableSize = 1u << FMaxCodeLen;
    FMask = ~(TableSize - 1);
    if (FUsage != huEncoding) FDecodes.assign(TableSize, AbDfUnusedEntry);
    if (FUsage != huDecoding) FEncodes.assign(static_cast<size_t>(FAlphaSize), -1);

    // 3. The first code of each length, as RFC 1951 assigns them.
    uint32_t NextCode[17] = {};
    uint32_t Code = 0;
    Counts[0] = 0;
    for (int32_t Bits = 1; Bits <= 15; ++Bits) {
        Code = (Code + static_cast<uint32_t>(Counts[Bits - 1])) << 1;
        NextCode[Bits] = Code;
    }

    // 4. Consecutive codes in symbol order; each entry at its bit-reversed
    //    code and at every index that differs from it above the code's bits.
    for (int32_t i = 0; i < aCount; ++i) {
        int32_t L = Lengths[i];
        if (L == 0) continue;
        uint32_t Extra =
            (aExtraBits != nullptr && i >= aExtraOffset) ? aExtraBits[i - aExtraOffset] : 0;
        uint32_t Rev = ReverseBits(NextCode[L]++ & ((1u << L) - 1), L);
        if (FUsage != huEncoding) {
            uint32_t Entry =
                static_cast<uint32_t>(i) | (static_cast<uint32_t>(L) << 16) | (Extra << 24);
            for (uint32_t Inx = Rev; Inx < TableSize; Inx += 1u << L)
                FDecodes[Inx] = Entry;
        }
        if (FUsage != huDecoding)
            FEncodes[static_cast<size_t>(i)] =
                static_cast<int32_t>((Extra << 24) | (static_cast<uint32_t>(L) << 16) | Rev);
    }
}

uint32_t TAbDfDecodeHuffmanTree::Decode(uint32_t aLookupBits) const {
    KIVO_ASSERT((aLookupBits & FMask) == 0 && !FDecodes.empty(),
                "TAbDfDecodeHuffmanTree.Decode: trying to decode too many bits, use "
                "LookupBitLength property");
    return FDecodes[aLookupBits];
}

uint32_t TAbDfDecodeHuffmanTree::Encode(int32_t aSymbol) const {
    KIVO_ASSERT(
        aSymbol >= 0 && aSymbol < FAlphaSize,
        "TAbDfDecodeHuffmanTree.Encode: trying to encode a symbol that is not in the alphabet");
    KIVO_ASSERT(!FEncodes.empty() && FEncodes[static_cast<size_t>(aSymbol)] != -1,
                "TAbDfDecodeHuffmanTree.Encode: trying to encode a symbol that was not used");
    return static_cast<uint32_t>(FEncodes[static_cast<size_t>(aSymbol)]);
}

const TAbDfDecodeHuffmanTree& StaticLiteralTree() {
    static const TAbDfDecodeHuffmanTree Tree = [] {
        TAbDfDecodeHuffmanTree T(288, 15, huBoth);
        T.Build(AbDfFixedLiteralLengths.data(), 0, 288, AbDfLengthExtraBits, 257);
        return T;
    }();
    return Tree;
}

const TAbDfDecodeHuffmanTree& StaticDistanceTree() {
    static const TAbDfDecodeHuffmanTree Tree = [] {
        TAbDfDecodeHuffmanTree T(32, 15, huBoth);
        T.Build(AbDfFixedDistanceLengths.data(), 0, 32, AbDfDistanceExtraBits, 0);
        return T;
    }();
    return Tree;
}

} // namespace kivo
