// One canonical Huffman code as a direct lookup table (decoding) and a
// per-symbol code table (encoding), plus the DEFLATE symbol tables and the two
// shared fixed-Huffman trees.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kivo {

enum TAbDfHuffmanUsage : uint8_t { huEncoding, huDecoding, huBoth };

// Lookup entries: bits 0-15 symbol, 16-23 code length, 24-31 extra bits.
// An index no code reaches holds all ones.
constexpr uint32_t AbDfUnusedEntry = 0xFFFFFFFF;

class TAbDfDecodeHuffmanTree {
public:
    TAbDfDecodeHuffmanTree(int32_t aAlphabetSize, int32_t aDefMaxCodeLen, TAbDfHuffmanUsage aUsage);

    // Symbol i (0 <= i < aCount) has the length aCodeLengths[aStartInx + i];
    // its extra-bit count is aExtraBits[i - aExtraOffset] for i >= aExtraOffset
    // (no extra bits when aExtraBits is null). Completeness is not checked: an
    // incomplete code leaves entries unused, an over-subscribed one lets later
    // symbols overwrite the entries of earlier ones.
    void Build(const uint8_t* aCodeLengths, int32_t aStartInx, int32_t aCount,
               const uint8_t* aExtraBits, int32_t aExtraOffset);

    // The entry for the next LookupBitLength input bits (first bit in bit 0).
    uint32_t Decode(uint32_t aLookupBits) const;
    // Encode entry: extra bits in 24-31, code length in 16-23, the
    // bit-reversed code in 0-15.
    uint32_t Encode(int32_t aSymbol) const;

    // The longest code length present (0 when no symbol is used).
    int32_t LookupBitLength() const { return FMaxCodeLen; }
    const std::vector<uint32_t>& Decodes() const { return FDecodes; }
    const std::vector<int32_t>& Encodes() const { return FEncodes; }

private:
    int32_t FAlphaSize;
    int32_t FDefMaxCodeLen;
    TAbDfHuffmanUsage FUsage;
    int32_t FMaxCodeLen = 0;
    uint32_t FMask = 0; // ~(table size - 1): lookup bits outside the table
    std::vector<uint32_t> FDecodes;
    std::vector<int32_t> FEncodes;
};

// DEFLATE tables with the Deflate64 extension.
// Length codes 257..287: base lengths and extra bits. Code 285 carries the
// Deflate64 reading (base 3, 16 extra bits); plain Deflate reads it as 258.
// Codes 286 and 287 are never valid (99 marks them).
extern const uint16_t AbDfLengthBase[31];
extern const uint8_t AbDfLengthExtraBits[31];
// Distance codes 0..31; 30 and 31 exist only in Deflate64.
extern const uint32_t AbDfDistanceBase[32];
extern const uint8_t AbDfDistanceExtraBits[32];
// The order in which code-length-code lengths are stored.
extern const uint8_t AbDfCodeLengthOrder[19];

// The fixed-Huffman trees, built on first use and shared read-only.
const TAbDfDecodeHuffmanTree& StaticLiteralTree();
const TAbDfDecodeHuffmanTree& StaticDistanceTree();
// Code lengths of the fixed literal/length (288) and distance (32) codes.
extern const std::array<uint8_t, 288> AbDfFixedLiteralLengths;
extern const std::array<uint8_t, 32> AbDfFixedDistanceLengths;

} // namespace kivo
