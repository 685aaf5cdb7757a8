// Inflate on hand-built streams (each field commented), the helper's
// settings, and the decoder's building blocks: bit stream, Huffman tables,
// output window, logger and bit bucket.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

#include "archive/AbDfBase.h"
#include "archive/AbDfDec.h"
#include "archive/AbDfHufD.h"
#include "archive/AbDfInW.h"
#include "archive/AbDfOutW.h"
#include "archive/AbExcept.h"
#include "support/InflateSupport.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::test;

namespace {

// Canonical codes for a list of code lengths, as RFC 1951 assigns them.
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& Lens) {
    int Counts[16] = {};
    for (int L : Lens)
        ++Counts[L];
    Counts[0] = 0;
    uint32_t Next[16] = {}, Code = 0;
    for (int B = 1; B < 16; ++B)
        Next[B] = Code = (Code + static_cast<uint32_t>(Counts[B - 1])) << 1;
    std::vector<uint32_t> Codes(Lens.size());
    for (size_t s = 0; s < Lens.size(); ++s)
        if (Lens[s] != 0) Codes[s] = Next[Lens[s]]++;
    return Codes;
}

// A dynamic block header whose code-length code gives all 19 symbols 5-bit
// codes (symbol s is sent as s in 5 bits), then the lengths sent one by one.
void DynamicHeader(TBitWriter& W, const std::vector<int>& Lit, const std::vector<int>& Dist) {
    W.Bits(static_cast<uint32_t>(Lit.size() - 257), 5); // HLIT
    W.Bits(static_cast<uint32_t>(Dist.size() - 1), 5);  // HDIST
    W.Bits(19 - 4, 4);                                  // HCLEN: all 19
    for (int i = 0; i < 19; ++i)
        W.Bits(5, 3); // every code-length symbol: 5 bits
    for (int L : Lit)
        W.Code(static_cast<uint32_t>(L), 5);
    for (int L : Dist)
        W.Code(static_cast<uint32_t>(L), 5);
}

struct TCode {
    std::vector<int> Lens;
    std::vector<uint32_t> Codes;
    explicit TCode(std::vector<int> L) : Lens(std::move(L)), Codes(CanonicalCodes(Lens)) {}
    void Put(TBitWriter& W, int Symbol) const {
        W.Code(Codes[static_cast<size_t>(Symbol)], Lens[static_cast<size_t>(Symbol)]);
    }
};

// Literal/length code with 'a', 'b', end of block and length codes 257 (3)
// and 264 (10), all of length 3 (incomplete, which the decoder allows).
TCode SmallLitCode() {
    std::vector<int> L(257 + 8, 0);
    L['a'] = L['b'] = L[256] = L[257] = L[264] = 3;
    return TCode(L);
}

std::string StoredBlock(const std::string& Data, bool Final) {
    TBitWriter W;
    W.Bits(Final ? 1 : 0, 1); // BFINAL
    W.Bits(0, 2);             // BTYPE stored
    W.AlignToByte();
    W.Bits(static_cast<uint32_t>(Data.size()), 16);           // LEN
    W.Bits(static_cast<uint32_t>(~Data.size() & 0xFFFF), 16); // NLEN
    return W.Bytes() + Data;
}

TDecodeResult Decode(const std::string& Stream, bool Deflate64 = false) {
    TDecodeResult R = RunInflate(Stream, Deflate64);
    // Every hand-built stream also runs through the documented algorithm,
    // which must agree on outcome, cause and output.
    TDecodeResult Ref = ReferenceInflate(Stream, Deflate64);
    EXPECT_EQ(R.Ok, Ref.Ok);
    EXPECT_EQ(R.Cause, Ref.Cause);
    if (R.Ok) {
        EXPECT_EQ(R.Output, Ref.Output);
        EXPECT_EQ(R.Consumed, Ref.Consumed);
    }
    return R;
}

} // namespace

// ---------------------------------------------------------------------------
// Edge cases

TEST(Inflate, EmptyStoredBlockGivesEmptyOutputAndEmptyChecksums) {
    std::string S = StoredBlock("", true);
    ASSERT_EQ(S, std::string("\x01\x00\x00\xFF\xFF", 5));
    TDecodeResult R = Decode(S);
    ASSERT_TRUE(R.Ok);
    EXPECT_EQ(R.Output, "");
    EXPECT_EQ(R.Checksum, 0u);
    TDecodeResult A = RunInflate(S, false, 0, OptionAdler32);
    ASSERT_TRUE(A.Ok);
    EXPECT_EQ(A.Checksum, 1u);
}

TEST(Inflate, OverlappingMatchRepeatsTheByte) {
    TBitWriter W;
    W.Bits(1, 1);       // BFINAL
    W.Bits(1, 2);       // fixed Huffman
    W.FixedLitLen('a'); // literal 'a'
    W.FixedLitLen(264); // length 10
    W.FixedDist(0);     // distance 1
    W.FixedLitLen(256); // end of block
    TDecodeResult R = Decode(W.Bytes());
    ASSERT_TRUE(R.Ok);
    EXPECT_EQ(R.Output, std::string(11, 'a'));
    EXPECT_EQ(R.Checksum, ZlibCrc32(R.Output));
}

TEST(Inflate, DistanceCode30NeedsDeflate64) {
    std::string Head = MakeRandom(40000, 3);
    TBitWriter W;
    W.Bits(1, 1);       // BFINAL
    W.Bits(1, 2);       // fixed Huffman
    W.FixedLitLen(257); // length 3
    W.FixedDist(30);    // distance code 30: 32769 + 14 extra bits
    W.Bits(5, 14);      //   distance 32774
    W.FixedLitLen(256); // end of block
    std::string S = StoredBlock(Head, false) + W.Bytes();

    TDecodeResult D64 = Decode(S, true);
    ASSERT_TRUE(D64.Ok) << D64.Cause;
    EXPECT_EQ(D64.Output, Head + Head.substr(40000 - 32774, 3));

    TDecodeResult D = Decode(S, false);
    ASSERT_FALSE(D.Ok);
    EXPECT_EQ(D.Cause, "decoded an invalid distance symbol: greater than 29 [DecodeData]");
    EXPECT_EQ(D.Output, Head); // what came before the fault reaches the destination
}

TEST(Inflate, LengthCode285IsAlways258InDeflate) {
    for (uint32_t Following : {0u, 0x5555u, 0xFFFFu}) {
        TBitWriter W;
        W.Bits(1, 1); // BFINAL
        W.Bits(1, 2); // fixed Huffman
        W.FixedLitLen('a');
        W.FixedLitLen(285); // length 258, no extra bits in Deflate
        W.FixedDist(0);     // distance 1
        W.FixedLitLen(256);
        W.Bits(Following, 16); // bits after the block are never read
        TDecodeResult R = Decode(W.Bytes());
        ASSERT_TRUE(R.Ok) << R.Cause;
        EXPECT_EQ(R.Output, std::string(259, 'a'));
        EXPECT_EQ(R.Consumed, static_cast<int64_t>(W.Bytes().size()) - 2);
    }
    // In Deflate64 code 285 takes 16 extra bits: 3 + 1000.
    TBitWriter W;
    W.Bits(1, 1);
    W.Bits(1, 2);
    W.FixedLitLen('a');
    W.FixedLitLen(285);
    W.Bits(1000, 16);
    W.FixedDist(0);
    W.FixedLitLen(256);
    TDecodeResult R = Decode(W.Bytes(), true);
    ASSERT_TRUE(R.Ok) << R.Cause;
    EXPECT_EQ(R.Output, std::string(1004, 'a'));
}

TEST(Inflate, ThirtyTwoDistanceCodesOnlyInDeflate64) {
    TCode Lit = SmallLitCode();
    std::vector<int> DistLens(32, 0);
    DistLens[0] = DistLens[31] = 1;
    TCode Dist(DistLens);
    TBitWriter W;
    W.Bits(1, 1);                          // BFINAL
    W.Bits(2, 2);                          // dynamic
    DynamicHeader(W, Lit.Lens, Dist.Lens); // HDIST = 32
    Lit.Put(W, 'a');
    Lit.Put(W, 257); // length 3
    Dist.Put(W, 0);  // distance 1
    Lit.Put(W, 256);
    TDecodeResult D64 = Decode(W.Bytes(), true);
    ASSERT_TRUE(D64.Ok) << D64.Cause;
    EXPECT_EQ(D64.Output, "aaaa");
    TDecodeResult D = Decode(W.Bytes(), false);
    EXPECT_EQ(D.Cause,
              "count of distance codes in dynamic block is greater than 30 [InflateDynamicBlock]");
}

TEST(Inflate, CodeLengthCodeWithoutLengthsFails) {
    TBitWriter W;
    W.Bits(1, 1);  // BFINAL
    W.Bits(2, 2);  // dynamic
    W.Bits(0, 5);  // HLIT 257
    W.Bits(0, 5);  // HDIST 1
    W.Bits(0, 4);  // HCLEN 4
    W.Bits(0, 12); // four zero code-length-code lengths
    W.Bits(0, 16);
    TDecodeResult R = Decode(W.Bytes());
    EXPECT_EQ(R.Cause, "decoded a symbol not between 0 and 18 {ReadLitDistCodeLengths}");
}

TEST(Inflate, EmptyDistanceCodeDecodesLiteralsUntilTheFirstMatch) {
    TCode Lit = SmallLitCode();
    std::vector<int> NoDist(1, 0);
    auto Block = [&](bool WithMatch) {
        TBitWriter W;
        W.Bits(1, 1);
        W.Bits(2, 2);
        DynamicHeader(W, Lit.Lens, NoDist); // HDIST 1, its length 0
        Lit.Put(W, 'a');
        Lit.Put(W, 'b');
        if (WithMatch) {
            Lit.Put(W, 257);
            W.Bits(0, 8);
        }
        Lit.Put(W, 256);
        return W.Bytes();
    };
    TDecodeResult Ok = Decode(Block(false));
    ASSERT_TRUE(Ok.Ok) << Ok.Cause;
    EXPECT_EQ(Ok.Output, "ab");
    EXPECT_EQ(Decode(Block(true)).Cause,
              "decoded an invalid distance symbol: greater than 29 [DecodeData]");
    EXPECT_EQ(Decode(Block(true), true).Cause,
              "decoded an invalid distance symbol: code not in use [DecodeData]");
}

TEST(Inflate, StreamCutInsideABlockKeepsWhatWasDecoded) {
    std::string Text = MakeText(200000);
    std::string S = ZlibDeflateRaw(Text, 6);
    for (size_t Cut : {S.size() / 3, S.size() / 2, S.size() - 1}) {
        for (int Step : {0, 5}) {
            TDecodeResult R = RunInflate(S.substr(0, Cut), false, Step);
            ASSERT_FALSE(R.Ok);
            EXPECT_TRUE(R.Cause.find("no more compressed data in stream") == 0) << R.Cause;
            EXPECT_GT(R.Output.size(), 0u);
            EXPECT_EQ(R.Output, Text.substr(0, R.Output.size()));
        }
    }
    TDecodeResult Stored = RunInflate(StoredBlock("0123456789", true).substr(0, 9));
    EXPECT_EQ(Stored.Cause, "no more compressed data in stream [TAbDfInBitStream.ReadBuffer]");
    EXPECT_EQ(Stored.Output, "0123");
    EXPECT_EQ(RunInflate(std::string("\x01\x00", 2)).Cause,
              "no more compressed data in stream [TAbDfInBitStream.ReadBits]");
    EXPECT_EQ(RunInflate("").Cause, "no more compressed data in stream [TAbDfInBitStream.ReadBit]");
}

TEST(Inflate, SourceIsLeftRightAfterTheFinalBlock) {
    std::string Text = MakeText(100000);
    for (int Level : {0, 1, 6, 9}) {
        std::string S = ZlibDeflateRaw(Text, Level);
        std::string Data = S + "TRAILER!";
        for (int Step : {0, 3, 7}) {
            std::unique_ptr<TStream> Src;
            if (Step == 0)
                Src = std::make_unique<TReadOnlyMemoryStream>(Data.data(),
                                                              static_cast<int64_t>(Data.size()));
            else
                Src = std::make_unique<TTrickleStream>(Data, Step);
            TMemoryStream Dst;
            TAbDeflateHelper H;
            Inflate(Src.get(), &Dst, &H);
            EXPECT_EQ(Src->Position(), static_cast<int64_t>(S.size()))
                << "level " << Level << " step " << Step;
            EXPECT_EQ(H.CompressedSize(), static_cast<int64_t>(S.size()));
            EXPECT_EQ(H.NormalSize(), static_cast<int64_t>(Text.size()));
            std::string Tail;
            char C;
            while (Src->Read(&C, 1) == 1)
                Tail += C;
            EXPECT_EQ(Tail, "TRAILER!");
        }
    }
}

TEST(Inflate, StartsAtTheSourcePositionAndWritesAtTheDestinationPosition) {
    std::string Text = MakeText(5000);
    std::string Data = "HEADER" + ZlibDeflateRaw(Text, 6);
    // Destination bytes before the output, and where the output starts: at
    // the end (built in place) or inside them (written over them; the bytes
    // after the output stay).
    struct TCase {
        std::string Before;
        int64_t Position;
    };
    for (const TCase& C : {TCase{"XY", 2}, TCase{"XYZW", 2}, TCase{std::string(9000, 'Q'), 2}}) {
        TReadOnlyMemoryStream Src(Data.data(), static_cast<int64_t>(Data.size()));
        Src.Seek(6, soBeginning);
        TMemoryStream Dst;
        Dst.Write(C.Before.data(), static_cast<int64_t>(C.Before.size()));
        Dst.Seek(C.Position, soBeginning);
        TAbDeflateHelper H;
        uint32_t Crc = Inflate(&Src, &Dst, &H);
        EXPECT_EQ(Crc, ZlibCrc32(Text));
        EXPECT_EQ(H.NormalSize(), 5000);
        EXPECT_EQ(H.CompressedSize(), static_cast<int64_t>(Data.size()) - 6);
        std::string Expect = C.Before;
        Expect.resize(std::max<size_t>(Expect.size(), 5002));
        Expect.replace(2, 5000, Text);
        EXPECT_TRUE(std::string(reinterpret_cast<char*>(Dst.Memory()),
                                static_cast<size_t>(Dst.Size())) == Expect)
            << C.Before.size() << " bytes before";
    }
}

TEST(Inflate, PartialSizeStopsHuffmanBlocksButNotStoredOnes) {
    std::string Text = MakeText(300000);
    std::string S = ZlibDeflateRaw(Text, 6);
    for (int64_t Part : {1000, 512, 100000}) {
        TReadOnlyMemoryStream Src(S.data(), static_cast<int64_t>(S.size()));
        TMemoryStream Dst;
        TAbDeflateHelper H;
        H.SetPartialSize(Part);
        EXPECT_EQ(Inflate(&Src, &Dst, &H), 0u);
        EXPECT_GE(Dst.Size(), Part);
        EXPECT_LT(Dst.Size(), Part + 258); // at most one match more
        EXPECT_EQ(
            std::string(reinterpret_cast<char*>(Dst.Memory()), static_cast<size_t>(Dst.Size())),
            Text.substr(0, static_cast<size_t>(Dst.Size())));
        EXPECT_EQ(H.NormalSize(), Dst.Size());
    }
    std::string Stored = ZlibDeflateRaw(Text, 0);
    TReadOnlyMemoryStream Src(Stored.data(), static_cast<int64_t>(Stored.size()));
    TMemoryStream Dst;
    TAbDeflateHelper H;
    H.SetPartialSize(1000);
    EXPECT_EQ(Inflate(&Src, &Dst, &H), ZlibCrc32(Text));
    EXPECT_EQ(Dst.Size(), static_cast<int64_t>(Text.size()));
}

TEST(Inflate, TestOnlyWritesNothingAndCountsTheOutput) {
    std::string Text = MakeText(700000);
    for (int Level : {0, 6}) {
        std::string S = ZlibDeflateRaw(Text, Level);
        TReadOnlyMemoryStream Src(S.data(), static_cast<int64_t>(S.size()));
        TAbBitBucketStream Bucket(32768);
        TAbDeflateHelper H;
        H.SetOptions(H.Options() | OptionTestOnly);
        EXPECT_EQ(Inflate(&Src, &Bucket, &H), ZlibCrc32(Text));
        EXPECT_EQ(Bucket.Size(), 0);
        EXPECT_EQ(H.NormalSize(), static_cast<int64_t>(Text.size()));
        EXPECT_EQ(H.CompressedSize(), static_cast<int64_t>(S.size()));
    }
}

TEST(Inflate, Adler32WhenAsked) {
    std::string Text = MakeText(123457);
    TDecodeResult R = RunInflate(ZlibDeflateRaw(Text, 9), false, 0, OptionAdler32);
    ASSERT_TRUE(R.Ok);
    EXPECT_EQ(R.Checksum, ZlibAdler32(Text));
}

// ---------------------------------------------------------------------------
// Bit budgets of the fast loop: streams of the longest symbols (15-bit codes,
// so subtable entries, with every extra bit), runs of literals of either
// length between refills, and output crossing the window's write point
// several times, read at once and a few bytes per read.

namespace {

struct TBudgetCase {
    const char* Name;
    bool Deflate64;
    // One symbol per letter, repeated until Size bytes are produced:
    //   a  literal with a 1-bit code      b, c  literals with 15-bit codes
    //   M  the longest length with the farthest distance, every extra bit set
    //      (Deflate: 257 bytes, 20 + 28 bits; Deflate64: 65538 bytes, 31 + 29 bits)
    //   m  length 3, distance 1 (2 + 1 bits)
    //   k  length 3 with the farthest distance (2 + 28 or 29 bits)
    const char* Pattern;
    size_t Size;
};

class InflateFastLoopBudget : public testing::TestWithParam<TBudgetCase> {};

std::string BudgetStream(const TBudgetCase& C) {
    std::vector<int> LitLens(286, 0), DistLens(C.Deflate64 ? 32 : 30, 0);
    LitLens['a'] = 1;
    LitLens[257] = 2;
    for (int Sym : {int('b'), int('c'), 256, 284, 285})
        LitLens[static_cast<size_t>(Sym)] = 15;
    DistLens[0] = 1;
    const int FarCode = C.Deflate64 ? 31 : 29;
    DistLens[static_cast<size_t>(FarCode)] = 15;
    const TCode Lit(LitLens), Dist(DistLens);
    const uint32_t FarDist = C.Deflate64 ? 49153 + 16383 : 24577 + 8191;
    const int FarExtra = C.Deflate64 ? 14 : 13;

    TBitWriter W;
    W.Bits(1, 1); // BFINAL
    W.Bits(2, 2); // dynamic
    DynamicHeader(W, LitLens, DistLens);
    auto Far = [&] {
        Dist.Put(W, FarCode);
        W.Bits((1u << FarExtra) - 1, FarExtra);
    };
    // 'a', then runs of 'a' (code 285, distance 1) until every distance reaches.
    Lit.Put(W, 'a');
    size_t Produced = 1;
    while (Produced <= FarDist) {
        Lit.Put(W, 285);
        if (C.Deflate64) W.Bits(0xFFFF, 16);
        Dist.Put(W, 0);
        Produced += C.Deflate64 ? 65538 : 258;
    }
    for (size_t i = 0; Produced < C.Size; i = C.Pattern[i + 1] ? i + 1 : 0) {
        switch (C.Pattern[i]) {
        case 'a':
        case 'b':
        case 'c':
            Lit.Put(W, C.Pattern[i]);
            ++Produced;
            break;
        case 'M':
            Lit.Put(W, C.Deflate64 ? 285 : 284);
            W.Bits(C.Deflate64 ? 0xFFFF : 30, C.Deflate64 ? 16 : 5);
            Far();
            Produced += C.Deflate64 ? 65538 : 257;
            break;
        default:
            Lit.Put(W, 257);
            if (C.Pattern[i] == 'm')
                Dist.Put(W, 0);
            else
                Far();
            Produced += 3;
        }
    }
    Lit.Put(W, 256);
    return W.Bytes();
}

} // namespace

namespace {
// Stream S decodes to at least MinSize bytes, as the reference decodes it,
// and the same in place and through the window, read at once and in pieces.
// Both fast loops are checked: with BMI2 (where the processor has it) and
// the portable one.
void ExpectSameAtOnceAndInPieces(const std::string& S, bool Deflate64, size_t MinSize) {
    TDecodeResult R = Decode(S, Deflate64); // compared with the reference inside
    ASSERT_TRUE(R.Ok) << R.Cause;
    EXPECT_GE(R.Output.size(), MinSize);
    EXPECT_EQ(R.Checksum, ZlibCrc32(R.Output));
    struct TRestore {
        ~TRestore() { SetInflateBmi2Allowed(true); }
    } Restore;
    for (bool Bmi2 : {true, false}) {
        SetInflateBmi2Allowed(Bmi2);
        for (TInflateDest Dest : {TInflateDest::InPlace, TInflateDest::Written}) {
            for (int Step : {0, 3, 7}) {
                TDecodeResult P = RunInflate(S, Deflate64, Step, 0, Dest);
                ASSERT_TRUE(P.Ok) << P.Cause;
                EXPECT_TRUE(P.Output == R.Output)
                    << "at most " << Step << " bytes per read, BMI2 " << Bmi2;
                EXPECT_EQ(P.Consumed, R.Consumed);
                EXPECT_EQ(P.Checksum, R.Checksum);
            }
        }
    }
}
} // namespace

TEST_P(InflateFastLoopBudget, AgreesWithTheReferenceAtOnceAndInPieces) {
    ExpectSameAtOnceAndInPieces(BudgetStream(GetParam()), GetParam().Deflate64, GetParam().Size);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, InflateFastLoopBudget,
    testing::Values(TBudgetCase{"long_and_short_literals", false, "bacbbbabcbbbbbaab", 300000},
                    TBudgetCase{"longest_symbols", false, "MbMbbMMaMcbbbM", 600000},
                    TBudgetCase{"short_and_far_matches", false, "mkbmkmabbkkk", 300000},
                    TBudgetCase{"deflate64_longest_symbols", true, "MbbbkMabmMcbkbbbbb", 800000},
                    TBudgetCase{"deflate64_short_and_far", true, "kbkmbbbakkcb", 100000}),
    [](const testing::TestParamInfo<TBudgetCase>& I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Codes at the decode tables' widths. A literal/length code of 11 bits fills
// one main-table index exactly, 12 bits and more continue in a subtable; for
// distances the main width is 8 bits. Entries after a literal, a length and a
// distance name the width of the next lookup, so every kind of entry is met
// at, below and above the widths, in runs of literals and between matches,
// against the reference decoder, in place and in pieces.

namespace {

struct TWidthCase {
    const char* Name;
    bool Deflate64;
    // Code lengths: {symbol, length} for the literal/length and the distance
    // code (the rest unused; the codes may be incomplete).
    std::vector<std::pair<int, int>> LitLens, DistLens;
    // After a warm-up, symbols in turn until Size bytes are produced: a
    // literal, or a length symbol (extra bits all set) followed by the next
    // distance symbol of Dists (extra bits all set). The first symbol is a
    // literal, and Dists includes code 0 with a 1-bit code.
    std::vector<int> Symbols;
    std::vector<int> Dists;
    size_t Size;
};

class InflateTableWidths : public testing::TestWithParam<TWidthCase> {};

std::string WidthStream(const TWidthCase& C) {
    std::vector<int> LitLens(286, 0), DistLens(C.Deflate64 ? 32 : 30, 0);
    for (auto [Sym, Len] : C.LitLens)
        LitLens[static_cast<size_t>(Sym)] = Len;
    for (auto [Sym, Len] : C.DistLens)
        DistLens[static_cast<size_t>(Sym)] = Len;
    const TCode Lit(LitLens), Dist(DistLens);
    TBitWriter W;
    W.Bits(1, 1); // BFINAL
    W.Bits(2, 2); // dynamic
    DynamicHeader(W, LitLens, DistLens);
    size_t Produced = 0;
    // A length symbol (extra bits all set) and distance symbol D (the same).
    auto Match = [&](int Sym, int D) {
        Lit.Put(W, Sym);
        const int LenExtra = Sym == 285 ? (C.Deflate64 ? 16 : 0) : AbDfLengthExtraBits[Sym - 257];
        W.Bits((1u << LenExtra) - 1, LenExtra);
        const int DistExtra = static_cast<int>(AbDfDistanceExtraBits[D]);
        Dist.Put(W, D);
        W.Bits((1u << DistExtra) - 1, DistExtra);
        EXPECT_LE(AbDfDistanceBase[D] + (1u << DistExtra) - 1, Produced) << "reaches too far";
        Produced +=
            Sym == 285 && !C.Deflate64 ? 258 : AbDfLengthBase[Sym - 257] + (1u << LenExtra) - 1;
    };
    // The first literal, then matches at distance 1 (code 0) until every
    // distance of the case reaches.
    Lit.Put(W, C.Symbols[0]);
    ++Produced;
    uint32_t Farthest = 0;
    for (int D : C.Dists)
        Farthest = std::max(Farthest, AbDfDistanceBase[D] + (1u << AbDfDistanceExtraBits[D]) - 1);
    const int WarmUp =
        *std::find_if(C.Symbols.begin(), C.Symbols.end(), [](int S) { return S > 256; });
    while (Produced < Farthest)
        Match(WarmUp, 0);
    for (size_t i = 0, d = 0; Produced < C.Size; i = (i + 1) % C.Symbols.size()) {
        if (C.Symbols[i] < 256) {
            Lit.Put(W, C.Symbols[i]);
            ++Produced;
        } else {
            Match(C.Symbols[i], C.Dists[d++ % C.Dists.size()]);
        }
    }
    Lit.Put(W, 256);
    return W.Bytes();
}

} // namespace

TEST_P(InflateTableWidths, AgreesWithTheReferenceAtOnceAndInPieces) {
    ExpectSameAtOnceAndInPieces(WidthStream(GetParam()), GetParam().Deflate64, GetParam().Size);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, InflateTableWidths,
    testing::Values(
        // Literals of exactly the main width, beside a 1-bit one, in runs of
        // one to five; lengths and end of block of the same width.
        TWidthCase{"literals_of_the_main_width",
                   false,
                   {{'a', 1}, {'b', 11}, {'c', 11}, {'d', 11}, {256, 11}, {257, 11}},
                   {{0, 1}},
                   {'a', 'b', 'c', 'd', 'b', 'a', 'c', 'a', 'b', 'c', 257, 'd', 'd', 257, 'b'},
                   {0},
                   200000},
        // One bit past it: literals, lengths and end of block through subtables.
        TWidthCase{"literals_and_lengths_one_bit_past_the_main_width",
                   false,
                   {{'a', 12}, {'b', 12}, {'c', 11}, {'d', 2}, {256, 12}, {265, 12}, {284, 15}},
                   {{0, 1}, {4, 8}},
                   {'d', 'a', 'b', 'c', 'a', 265, 'a', 'a', 'd', 284, 'b', 'c', 'c', 'a'},
                   {0, 4},
                   200000},
        // Lengths with extra bits and distances at the distance main width
        // (8 bits) and one past it, near and far.
        TWidthCase{"distances_at_and_past_their_main_width",
                   false,
                   {{'a', 1}, {'b', 11}, {256, 11}, {257, 3}, {265, 11}, {284, 11}},
                   {{0, 1}, {4, 8}, {29, 8}, {28, 9}, {3, 9}},
                   {'a', 'b', 284, 'a', 265, 'b', 'b', 257, 284, 257, 'a', 284, 265},
                   {0, 4, 3, 0, 28, 29, 4},
                   300000},
        // The longest codes everywhere: 15-bit literals, lengths and distances.
        TWidthCase{"longest_codes_in_subtables",
                   false,
                   {{'a', 1}, {'b', 15}, {'c', 15}, {256, 15}, {257, 15}, {284, 15}},
                   {{0, 1}, {29, 15}, {5, 15}},
                   {'a', 'b', 'c', 'b', 257, 'c', 284, 'b', 'b', 'b', 'a', 284},
                   {0, 5, 29},
                   300000},
        // Deflate64: its longest length (16 extra bits) and farthest distances
        // at the main widths and past them.
        TWidthCase{"deflate64_codes_at_the_main_widths",
                   true,
                   {{'a', 1}, {'b', 11}, {'c', 12}, {256, 11}, {285, 11}, {265, 12}},
                   {{0, 1}, {31, 8}, {30, 9}, {2, 8}},
                   {'a', 'b', 'c', 285, 'b', 265, 'c', 'a', 285, 'b', 'b', 'c', 265},
                   {0, 0, 2, 31, 30, 2},
                   400000}),
    [](const testing::TestParamInfo<TWidthCase>& I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// A plain memory source is read in place: its bytes up to a short tail are
// decoded where they are, the tail goes through the own buffer. The output,
// the bytes consumed and where the source is left must not depend on that,
// whatever comes before and after the stream.

namespace {
struct TSourceCase {
    const char* Name;
    bool ReadOnly;   // a TReadOnlyMemoryStream, else a TMemoryStream
    size_t TextSize; // decoded size
    int Level;       // zlib level (0: stored blocks)
    size_t Before;   // bytes before the stream (the source starts there)
    size_t After;    // bytes after it
};
class InflateMemorySource : public testing::TestWithParam<TSourceCase> {};
} // namespace

TEST_P(InflateMemorySource, DecodesInPlaceAndLeavesTheSourceAfterTheStream) {
    const TSourceCase& C = GetParam();
    const std::string Text = MakeText(C.TextSize, 3);
    const std::string S = ZlibDeflateRaw(Text, C.Level);
    const std::string Data = std::string(C.Before, 'H') + S + std::string(C.After, 'T');
    TMemoryStream Memory;
    Memory.Write(Data.data(), static_cast<int64_t>(Data.size()));
    TReadOnlyMemoryStream ReadOnly(Data.data(), static_cast<int64_t>(Data.size()));
    TStream& Src = C.ReadOnly ? static_cast<TStream&>(ReadOnly) : Memory;
    Src.Seek(static_cast<int64_t>(C.Before), soBeginning);
    TMemoryStream Dst;
    TAbDeflateHelper H;
    EXPECT_EQ(Inflate(&Src, &Dst, &H), ZlibCrc32(Text));
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(Dst.Memory()),
                            static_cast<size_t>(Dst.Size())) == Text);
    EXPECT_EQ(H.CompressedSize(), static_cast<int64_t>(S.size()));
    EXPECT_EQ(Src.Position(), static_cast<int64_t>(C.Before + S.size()));
    std::string Tail(C.After + 1, '\0');
    Tail.resize(static_cast<size_t>(Src.Read(Tail.data(), static_cast<int64_t>(Tail.size()))));
    EXPECT_EQ(Tail, std::string(C.After, 'T'));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, InflateMemorySource,
    testing::Values(TSourceCase{"read_only_exact_end", true, 300000, 6, 0, 0},
                    TSourceCase{"read_only_header_and_short_trailer", true, 300000, 1, 30, 8},
                    TSourceCase{"read_only_trailer_of_the_tail_size", true, 50000, 9, 7, 64},
                    TSourceCase{"read_only_long_trailer", true, 50000, 6, 0, 5000},
                    TSourceCase{"read_only_stored_blocks", true, 200000, 0, 3, 65},
                    TSourceCase{"read_only_shorter_than_the_tail", true, 20, 6, 0, 10},
                    TSourceCase{"memory_stream_exact_end", false, 300000, 6, 0, 0},
                    TSourceCase{"memory_stream_header_and_trailer", false, 100000, 9, 100, 63},
                    TSourceCase{"memory_stream_stored_blocks", false, 100000, 0, 0, 1},
                    TSourceCase{"memory_stream_just_above_the_tail", false, 60, 0, 5, 10}),
    [](const testing::TestParamInfo<TSourceCase>& I) { return std::string(I.param.Name); });

// ---------------------------------------------------------------------------
// Match copies at short distances: every length from 3 to 258 at one
// distance, by the copy on its own (no byte written past its margin) and in
// a stream, each match after a literal so that it starts at every alignment
// of the output, decoded in place and through the window.

class InflateShortDistance : public testing::TestWithParam<uint32_t> {};

TEST_P(InflateShortDistance, EveryLengthRepeatsThePeriod) {
    const uint32_t Dist = GetParam();
    for (uint32_t Len = 3; Len <= 258; ++Len) {
        std::vector<uint8_t> Buf(Dist + Len + AbDfCopyOvershoot + 8, 0xEE);
        for (uint32_t i = 0; i < Dist; ++i)
            Buf[i] = static_cast<uint8_t>(i * 37 + 1);
        AbDfCopyMatch(Buf.data() + Dist, Dist, Len);
        for (uint32_t i = Dist; i < Dist + Len; ++i)
            ASSERT_EQ(Buf[i], Buf[i - Dist]) << "length " << Len << ", byte " << i;
        for (size_t i = Dist + Len + AbDfCopyOvershoot; i < Buf.size(); ++i)
            ASSERT_EQ(Buf[i], 0xEE) << "length " << Len << " wrote past its margin";
    }

    TBitWriter W;
    W.Bits(1, 1); // BFINAL
    W.Bits(1, 2); // fixed Huffman
    std::string Expect;
    for (uint32_t i = 0; i < Dist; ++i) {
        W.FixedLitLen(static_cast<int>(i * 37 + 1) & 0xFF);
        Expect += static_cast<char>(i * 37 + 1);
    }
    for (uint32_t Len = 3; Len <= 258; ++Len) {
        int L = 27;
        while (AbDfLengthBase[L] > Len)
            --L;
        W.FixedLitLen(Len == 258 ? 285 : 257 + L);
        if (Len != 258) W.Bits(Len - AbDfLengthBase[L], AbDfLengthExtraBits[L]);
        int D = 29;
        while (AbDfDistanceBase[D] > Dist)
            --D;
        W.FixedDist(D);
        W.Bits(Dist - AbDfDistanceBase[D], AbDfDistanceExtraBits[D]);
        for (uint32_t k = 0; k < Len; ++k)
            Expect += Expect[Expect.size() - Dist];
        W.FixedLitLen('x');
        Expect += 'x';
    }
    for (int i = 0; i < 64; ++i) { // enough input after the last match for the fast loop
        W.FixedLitLen('y');
        Expect += 'y';
    }
    W.FixedLitLen(256);
    const TDecodeResult R = Decode(W.Bytes()); // compared with the reference inside
    ASSERT_TRUE(R.Ok) << R.Cause;
    EXPECT_TRUE(R.Output == Expect);
    const TDecodeResult P = RunInflate(W.Bytes(), false, 0, 0, TInflateDest::Written);
    EXPECT_TRUE(P.Output == Expect);
}

INSTANTIATE_TEST_SUITE_P(Distances1To66, InflateShortDistance, testing::Range(1u, 67u));

// ---------------------------------------------------------------------------
// Corrupt data: each cause

TEST(InflateCauses, BlockHeaderAndStoredLength) {
    EXPECT_EQ(Decode(std::string("\x07", 1)).Cause,
              "starting new block, but invalid block type [Inflate]");
    EXPECT_EQ(Decode(std::string("\x01\x05\x00\xFA\xFE", 5)).Cause,
              "invalid stored block (length and NOT length do not match) [InflateStoredBlock]");
    TBitWriter W;
    W.Bits(1, 1);
    W.Bits(2, 2);
    W.Bits(30, 5); // HLIT 287
    W.Bits(0, 5);
    W.Bits(0, 4);
    W.Bits(0, 12);
    EXPECT_EQ(Decode(W.Bytes()).Cause,
              "count of literal codes in dynamic block is greater than 286 [InflateDynamicBlock]");
}

TEST(InflateCauses, LengthSymbolsAbove285AndDistanceTooFar) {
    for (int Sym : {286, 287}) {
        TBitWriter W;
        W.Bits(1, 1);
        W.Bits(1, 2);
        W.FixedLitLen('x');
        W.FixedLitLen(Sym);
        W.Bits(0, 16);
        TDecodeResult R = Decode(W.Bytes());
        EXPECT_EQ(R.Cause, "decoded an invalid length symbol: greater than 285 [DecodeData]");
        EXPECT_EQ(R.Output, "x");
    }
    for (int Dist : {2, 3}) {
        TBitWriter W;
        W.Bits(1, 1);
        W.Bits(1, 2);
        W.FixedLitLen('x');
        W.FixedLitLen('y');
        W.FixedLitLen(257); // length 3
        W.FixedDist(Dist - 1);
        W.FixedLitLen(256);
        TDecodeResult R = Decode(W.Bytes());
        if (Dist == 2) {
            EXPECT_EQ(R.Output, "xyxyx");
        } else {
            EXPECT_EQ(
                R.Cause,
                "decoded a distance greater than the count of bytes decoded so far [DecodeData]");
        }
    }
}

TEST(InflateCauses, CodeLengthRepeats) {
    auto Header = [](TBitWriter& W, uint32_t HLit, uint32_t HDist) {
        W.Bits(1, 1);
        W.Bits(2, 2);
        W.Bits(HLit - 257, 5);
        W.Bits(HDist - 1, 5);
        W.Bits(15, 4);
        for (int i = 0; i < 19; ++i)
            W.Bits(5, 3);
    };
    // Code 16 as the very first length: nothing to repeat.
    TBitWriter First;
    Header(First, 257, 1);
    First.Code(16, 5);
    First.Bits(0, 2);
    First.Bits(0, 16);
    const char* Repeat = "decoded a repeat of code lengths with nothing to repeat or past the last "
                         "length {ReadLitDistCodeLengths}";
    EXPECT_EQ(Decode(First.Bytes()).Cause, Repeat);

    // A run of zeros past the 318 lengths (286 + 32 in Deflate64).
    TBitWriter Past;
    Header(Past, 286, 32);
    for (int i = 0; i < 2; ++i) {
        Past.Code(18, 5);
        Past.Bits(127, 7); // 138 zeros
    }
    Past.Code(18, 5);
    Past.Bits(40, 7); // 51 zeros: 327 > 318
    Past.Bits(0, 16);
    EXPECT_EQ(Decode(Past.Bytes(), true).Cause, Repeat);

    // A run past the lengths the block declares but within the 318 is accepted.
    TCode Lit = SmallLitCode();
    TBitWriter Within;
    Header(Within, static_cast<uint32_t>(Lit.Lens.size()), 2);
    for (int L : Lit.Lens)
        Within.Code(static_cast<uint32_t>(L), 5);
    Within.Code(1, 5);  // distance code 0: length 1
    Within.Code(17, 5); // then 3..10 zeros where one length is left
    Within.Bits(7, 3);
    Lit.Put(Within, 'b');
    Lit.Put(Within, 256);
    TDecodeResult R = Decode(Within.Bytes());
    ASSERT_TRUE(R.Ok) << R.Cause;
    EXPECT_EQ(R.Output, "b");
}

TEST(InflateCauses, OverSubscribedCodeDecodesByTheOverwriteRule) {
    // Three codes of length 1: later symbols overwrite earlier entries. The
    // decoder is lenient here by design; it must match the direct-table rule.
    std::vector<int> L(257 + 2, 0);
    L['a'] = L['b'] = L[256] = 1;
    L[100] = 2;
    TCode Lit(L);
    TBitWriter W;
    W.Bits(1, 1);
    W.Bits(2, 2);
    DynamicHeader(W, L, std::vector<int>{1});
    W.Bits(0, 1);
    W.Bits(1, 1);
    W.Bits(0, 2);
    W.Bits(3, 2);
    W.Bits(0xFFFF, 16);
    TDecodeResult R = Decode(W.Bytes());
    TDecodeResult Ref = ReferenceInflate(W.Bytes(), false);
    EXPECT_EQ(R.Output, Ref.Output);
    EXPECT_EQ(R.Cause, Ref.Cause);
}

// ---------------------------------------------------------------------------
// Errors, progress and logging around the decoder

namespace {
class TFailingWriteStream : public TMemoryStream {
public:
    int64_t Write(const void*, int64_t) override { return 0; }
};
} // namespace

TEST(Inflate, StreamErrorsPassThrough) {
    std::string S = ZlibDeflateRaw(MakeText(100000), 6);
    TReadOnlyMemoryStream Src(S.data(), static_cast<int64_t>(S.size()));
    TFailingWriteStream Dst;
    EXPECT_THROW(Inflate(&Src, &Dst, nullptr), EWriteError);
    EXPECT_THROW(Inflate(nullptr, &Dst, nullptr), EAssertionFailed);
    EXPECT_THROW(Inflate(&Src, nullptr, nullptr), EAssertionFailed);
}

TEST(Inflate, ProgressFollowsTheSourceReadsAndCanAbort) {
    std::string Text = MakeRandom(50000, 9); // incompressible: 50 KB of stored data
    std::string S = ZlibDeflateRaw(Text, 6);
    std::vector<int32_t> Seen;
    TAbDeflateHelper H;
    H.SetStreamSize(-1);
    H.OnProgressStep = [&](int32_t P) { Seen.push_back(P); };
    TReadOnlyMemoryStream Src(S.data(), static_cast<int64_t>(S.size()));
    TMemoryStream Dst;
    EXPECT_EQ(Inflate(&Src, &Dst, &H), ZlibCrc32(Text));
    ASSERT_GE(Seen.size(), 4u);
    const double Size = static_cast<double>(S.size());
    EXPECT_EQ(Seen[0], static_cast<int32_t>(std::nearbyint(16384 * 100 / Size)));
    EXPECT_EQ(Seen[1], static_cast<int32_t>(std::nearbyint(32768 * 100 / Size)));
    EXPECT_EQ(Seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(Seen.begin(), Seen.end()));

    // An abort from the callback ends decoding quietly with result 0.
    TAbDeflateHelper Abort;
    Abort.SetStreamSize(static_cast<int64_t>(S.size()));
    Abort.OnProgressStep = [](int32_t P) {
        if (P > 50) throw EAbAbortProgress("Process aborted by user");
    };
    TReadOnlyMemoryStream Src2(S.data(), static_cast<int64_t>(S.size()));
    TMemoryStream Dst2;
    EXPECT_EQ(Inflate(&Src2, &Dst2, &Abort), 0u);
    EXPECT_LT(Dst2.Size(), static_cast<int64_t>(Text.size()));

    // Any other error of the callback passes through.
    TAbDeflateHelper Other;
    Other.SetStreamSize(10);
    Other.OnProgressStep = [](int32_t) { throw EAbUserAbort(); };
    TReadOnlyMemoryStream Src3(S.data(), static_cast<int64_t>(S.size()));
    EXPECT_THROW(Inflate(&Src3, &Dst2, &Other), EAbUserAbort);
}

TEST(Inflate, LogFileRecordsTheStartAndTheCause) {
    char Name[] = "/tmp/kivo-inflate-log-XXXXXX";
    int Fd = ::mkstemp(Name);
    ASSERT_GE(Fd, 0);
    ::close(Fd);
    TAbDeflateHelper H;
    H.SetLogFile(Name);
    std::string Bad("\x07", 1);
    TReadOnlyMemoryStream Src(Bad.data(), 1);
    TMemoryStream Dst;
    EXPECT_THROW(Inflate(&Src, &Dst, &H), EAbInflateError);
    std::string Log = ziptest::ReadBytes(Name);
    EXPECT_EQ(
        Log, "INFLATING STREAM...\r\nNeed to recompile the app with UseLogging turned on\r\n"
             "Internal exception raised: starting new block, but invalid block type [Inflate]\r\n");
    std::remove(Name);
}

TEST(Inflate, ErrorMessageNamesTheCause) {
    std::string Bad("\x07", 1);
    TReadOnlyMemoryStream Src(Bad.data(), 1);
    TMemoryStream Dst;
    TAbDeflateHelper H;
    H.SetNormalSize(77);
    try {
        Inflate(&Src, &Dst, &H);
        FAIL();
    } catch (const EAbInflateError& E) {
        EXPECT_EQ(E.Message(), "Morvanta inflate error, possibly a corrupted compressed stream. "
                               "(Internal cause: starting new "
                               "block, but invalid block type [Inflate])");
    }
    EXPECT_EQ(H.NormalSize(), 77); // results are not written when an error leaves
}

// ---------------------------------------------------------------------------
// TAbDeflateHelper

TEST(DeflateHelper, DefaultsSettersAndPresets) {
    TAbDeflateHelper H;
    EXPECT_EQ(H.AmpleLength(), 8);
    EXPECT_EQ(H.ChainLength(), 32);
    EXPECT_EQ(H.MaxLazyLength(), 16);
    EXPECT_EQ(H.Options(), 0xF);
    EXPECT_EQ(H.PartialSize(), 0);
    EXPECT_EQ(H.StreamSize(), 0);
    EXPECT_EQ(H.WindowSize(), 32768);
    EXPECT_EQ(H.PKZipOption(), u'n');

    H.SetAmpleLength(8); // unchanged: the preset letter stays
    EXPECT_EQ(H.PKZipOption(), u'n');
    H.SetAmpleLength(2);
    EXPECT_EQ(H.AmpleLength(), 4);
    EXPECT_EQ(H.PKZipOption(), u'?');
    H.SetChainLength(-1);
    EXPECT_EQ(H.ChainLength(), -1);
    H.SetMaxLazyLength(0);
    EXPECT_EQ(H.MaxLazyLength(), 4);

    H.SetPKZipOption(u'X');
    EXPECT_EQ(H.PKZipOption(), u'x');
    EXPECT_EQ(H.AmpleLength(), 64);
    EXPECT_EQ(H.ChainLength(), 4096);
    EXPECT_EQ(H.MaxLazyLength(), 258);
    H.SetOptions(0x13);
    EXPECT_EQ(H.PKZipOption(), u'?');
    H.SetPKZipOption(u'0');
    EXPECT_EQ(H.Options(), 0x11);
    H.SetPKZipOption(u'f');
    EXPECT_EQ(H.Options(), 0x17);
    EXPECT_EQ(H.AmpleLength(), 4);
    EXPECT_EQ(H.MaxLazyLength(), 6);
    H.SetPKZipOption(u'q'); // unknown: ignored
    EXPECT_EQ(H.PKZipOption(), u'f');
    H.SetPKZipOption(u's');
    EXPECT_EQ(H.ChainLength(), 4);

    H.SetWindowSize(1000);
    EXPECT_EQ(H.WindowSize(), 1024);
    H.SetWindowSize(32000);
    EXPECT_EQ(H.WindowSize(), 32768);
    H.SetWindowSize(33000);
    EXPECT_EQ(H.WindowSize(), 65536); // OptionDeflate64 is set (0x10)
    H.SetOptions(0xF);
    H.SetWindowSize(40000);
    EXPECT_EQ(H.WindowSize(), 32768);

    TAbDeflateHelper Copy;
    H.SetLogFile("x.log");
    H.SetPartialSize(5);
    H.OnProgressStep = [](int32_t) {};
    Copy.Assign(H);
    EXPECT_EQ(Copy.LogFile(), "x.log");
    EXPECT_EQ(Copy.PartialSize(), 5);
    EXPECT_EQ(Copy.PKZipOption(), H.PKZipOption());
    EXPECT_TRUE(static_cast<bool>(Copy.OnProgressStep));
}

// ---------------------------------------------------------------------------
// Building blocks

TEST(DecodeHuffmanTree, BuildsCanonicalCodesIntoADirectTable) {
    // Lengths A=2, B=1, C=3, D=3: codes B=0, A=10, C=110, D=111.
    const uint8_t Lens[] = {2, 1, 3, 3};
    const uint8_t Extra[] = {7};
    TAbDfDecodeHuffmanTree T(4, 15, huBoth);
    T.Build(Lens, 0, 4, Extra, 3);
    ASSERT_EQ(T.LookupBitLength(), 3);
    auto Sym = [&](uint32_t Bits) { return T.Decode(Bits) & 0xFFFF; };
    for (uint32_t i : {0u, 2u, 4u, 6u})
        EXPECT_EQ(Sym(i), 1u); // B: first bit 0
    EXPECT_EQ(Sym(1), 0u);     // A: bits 1,0
    EXPECT_EQ(Sym(5), 0u);
    EXPECT_EQ(Sym(3), 2u);                                // C: bits 1,1,0
    EXPECT_EQ(T.Decode(7), 3u | (3u << 16) | (7u << 24)); // D: bits 1,1,1 with 7 extra bits
    EXPECT_EQ(T.Encode(0), (2u << 16) | 1u);              // A: code 10 reversed
    EXPECT_THROW(T.Decode(8), EAssertionFailed);
    EXPECT_THROW(T.Encode(4), EAssertionFailed);

    const uint8_t Sparse[] = {0, 2, 0, 2}; // incomplete: half the table unused
    T.Build(Sparse, 0, 4, nullptr, 0);
    EXPECT_EQ(T.Decode(0) & 0xFFFF, 1u);
    EXPECT_EQ(T.Decode(2) & 0xFFFF, 3u);
    EXPECT_EQ(T.Decode(1), AbDfUnusedEntry);
    EXPECT_THROW(T.Encode(0), EAssertionFailed);

    const uint8_t TooLong[] = {8, 1};
    TAbDfDecodeHuffmanTree Pre(19, 7, huDecoding);
    EXPECT_THROW(Pre.Build(TooLong, 0, 2, nullptr, 0), EAssertionFailed);
    const uint8_t None[19] = {};
    Pre.Build(None, 0, 19, nullptr, 0);
    EXPECT_EQ(Pre.LookupBitLength(), 0);
    EXPECT_EQ(Pre.Decode(0), AbDfUnusedEntry);
    EXPECT_THROW(TAbDfDecodeHuffmanTree(1, 15, huBoth), EAssertionFailed);
}

TEST(DecodeHuffmanTree, FixedTrees) {
    const TAbDfDecodeHuffmanTree& Lit = StaticLiteralTree();
    EXPECT_EQ(Lit.LookupBitLength(), 9);
    EXPECT_EQ(Lit.Encode(285) >> 24, 16u); // the Deflate64 reading of code 285
    EXPECT_EQ(Lit.Encode(286) >> 24, 99u);
    EXPECT_EQ((Lit.Encode(0) >> 16) & 0xFF, 8u);
    EXPECT_EQ((Lit.Encode(256) >> 16) & 0xFF, 7u);
    const TAbDfDecodeHuffmanTree& Dist = StaticDistanceTree();
    EXPECT_EQ(Dist.LookupBitLength(), 5);
    EXPECT_EQ(Dist.Encode(31) >> 24, 14u);
}

TEST(InBitStream, BitsComeLeastSignificantFirstAndRunOutCleanly) {
    std::string Data("\xB5\x01\xFF", 3);
    TReadOnlyMemoryStream Src(Data.data(), 3);
    TAbDfInBitStream In(&Src, nullptr, 0);
    EXPECT_TRUE(In.ReadBit());     // 0xB5 = 1011 0101
    EXPECT_EQ(In.ReadBits(3), 2u); // 010
    EXPECT_EQ(In.PeekBits(4), 0xBu);
    In.DiscardBits(4);
    EXPECT_EQ(In.ReadBits(9), 0x101u); // 0x01 then the low bit of 0xFF
    EXPECT_EQ(In.BitsLeft() % 8, 7);
}

TEST(InBitStream, PeekSeesZerosPastTheEndButDiscardFails) {
    std::string Data("\xFF\xFF", 2);
    TReadOnlyMemoryStream Src(Data.data(), 2);
    TAbDfInBitStream In(&Src, nullptr, 0);
    EXPECT_EQ(In.ReadBits(12), 0xFFFu);
    EXPECT_EQ(In.PeekBits(8), 0x0Fu);
    EXPECT_THROW(In.DiscardBits(5), EAbInternalInflateError);
    EXPECT_THROW(In.ReadBits(17), EAbInternalInflateError);
    EXPECT_THROW(In.DiscardBits(33), EAbInternalInflateError);
    In.PeekBits(2);
    EXPECT_THROW(In.DiscardBits(3), EAssertionFailed);
}

TEST(InBitStream, ReadBufferAndReposition) {
    std::string Data = "\x03" + std::string("abcdefghij");
    TReadOnlyMemoryStream Src(Data.data(), static_cast<int64_t>(Data.size()));
    {
        TAbDfInBitStream In(&Src, nullptr, 0);
        EXPECT_EQ(In.ReadBits(2), 3u);
        EXPECT_THROW(In.ReadBuffer(nullptr, 1), EAssertionFailed);
        In.AlignToByte();
        char Buf[8];
        In.ReadBuffer(Buf, 4);
        EXPECT_EQ(std::string(Buf, 4), "abcd");
        EXPECT_EQ(In.ReadBits(8), static_cast<uint32_t>('e'));
        EXPECT_THROW(In.ReadBuffer(Buf, 6), EAbInternalInflateError);
    }
    // The whole input was consumed: the source stays at its end.
    EXPECT_EQ(Src.Position(), static_cast<int64_t>(Data.size()));

    TReadOnlyMemoryStream Src2(Data.data(), static_cast<int64_t>(Data.size()));
    {
        TAbDfInBitStream In(&Src2, nullptr, 0);
        In.ReadBits(9); // a bit of the second byte is used
    }
    EXPECT_EQ(Src2.Position(), 2);
}

TEST(OutputWindow, MatchesSlidesAndChecksums) {
    TMemoryStream Dst;
    std::string Expect;
    {
        TAbDfOutputWindow W(&Dst, false, true, 0, false, nullptr);
        EXPECT_THROW(W.AddLenDist(3, 1), EAssertionFailed); // nothing to copy yet
        for (int i = 0; i < 100000; ++i) {
            uint8_t C = static_cast<uint8_t>('a' + i % 23);
            W.AddLiteral(C);
            Expect += static_cast<char>(C);
            if (i % 7 == 0) {
                int Len = 3 + i % 250,
                    Dist = 1 + (i * 13) % static_cast<int>(std::min<size_t>(Expect.size(), 32768));
                W.AddLenDist(Len, Dist);
                for (int k = 0; k < Len; ++k)
                    Expect += Expect[Expect.size() - static_cast<size_t>(Dist)];
            }
        }
        std::string Block = MakeRandom(70000);
        W.AddBuffer(Block.data(), static_cast<int64_t>(Block.size()));
        Expect += Block;
        EXPECT_EQ(W.Position(), static_cast<int64_t>(Expect.size()));
        EXPECT_EQ(W.Checksum(), ZlibCrc32(Expect));
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Dst.Memory()), static_cast<size_t>(Dst.Size())),
              Expect);

    TAbDfOutputWindow Adler(nullptr, true, false, 0, true, nullptr);
    std::string Data = MakeText(200000);
    Adler.AddBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    EXPECT_EQ(Adler.Position(), 200000);
    EXPECT_EQ(Adler.Checksum(), ZlibAdler32(Data));

    TMemoryStream Dst2;
    TAbDfOutputWindow Part(&Dst2, false, true, 10, false, nullptr);
    for (int i = 0; i < 9; ++i)
        Part.AddLiteral('x');
    EXPECT_THROW(Part.AddLiteral('x'), EAbPartSizedInflate);
}

TEST(Logger, WritesLinesAndAnswersOnlyPositionQueries) {
    EXPECT_THROW(TAbLogger(""), EAssertionFailed);
    char Name[] = "/tmp/kivo-logger-XXXXXX";
    int Fd = ::mkstemp(Name);
    ASSERT_GE(Fd, 0);
    ::close(Fd);
    {
        TAbLogger L(Name);
        L.WriteLine("one");
        L.SetLineDelimiter(ldLF);
        L.WriteStr("t\xC3\xA4"); // UTF-8 in, ANSI out
        L.WriteLine("");
        EXPECT_EQ(L.Seek(0, soCurrent), 8);
        EXPECT_EQ(L.Seek(0, soEnd), 8);
        EXPECT_THROW(L.Seek(1, soBeginning), EAssertionFailed);
        char C;
        EXPECT_THROW(L.Read(&C, 1), EAssertionFailed);
    }
    std::string Log = ziptest::ReadBytes(Name);
    EXPECT_EQ(Log, "one\r\nt\xE4\n");
    std::remove(Name);
}

TEST(BitBucketStream, KeepsTheTailForRereading) {
    TAbBitBucketStream B(1024); // unknown size: 32768 + 1024
    std::string Data = MakeRandom(100000);
    EXPECT_EQ(B.Write(Data.data(), 100000), 100000);
    EXPECT_EQ(B.Size(), 100000);
    EXPECT_EQ(B.Position(), 100000);
    EXPECT_THROW(B.Seek(100000 - 33792, soBeginning), EAbBBSSeekOutsideBuffer);
    EXPECT_EQ(B.Seek(100000 - 33791, soBeginning), 100000 - 33791);
    char Buf[16];
    EXPECT_EQ(B.Read(Buf, 16), 16);
    EXPECT_EQ(std::string(Buf, 16), Data.substr(100000 - 33791, 16));
    EXPECT_EQ(B.Seek(-8, soEnd), 100000 - 8);
    EXPECT_EQ(B.Read(Buf, 8), 8);
    EXPECT_EQ(std::string(Buf, 8), Data.substr(100000 - 8));
    EXPECT_THROW(B.Read(Buf, 1), EAbBBSReadTooManyBytes);
    EXPECT_THROW(B.Seek(1, soEnd), EAbBBSSeekOutsideBuffer);
    EXPECT_THROW(B.Seek(0, static_cast<TSeekOrigin>(7)), EAbBBSInvalidOrigin);

    TAbBitBucketStream Small(4096); // ring of 5120
    for (int i = 0; i < 50; ++i)
        Small.Write(Data.data() + i * 300, 300);
    EXPECT_EQ(Small.Seek(-5119, soCurrent), 15000 - 5119);
    std::vector<char> Back(5119);
    EXPECT_EQ(Small.Read(Back.data(), 5119), 5119);
    EXPECT_EQ(std::string(Back.data(), 5119), Data.substr(15000 - 5119, 5119));
    EXPECT_THROW(Small.Read(Back.data(), 6000), EAbBBSReadTooManyBytes);
    EXPECT_THROW(Small.Seek(-1, soBeginning), EAbBBSSeekOutsideBuffer);
    Small.ForceSize(10);
    EXPECT_EQ(Small.Size(), 10);
}
