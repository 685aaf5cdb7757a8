// Corrupt input never crashes the decoder: streams cut at every byte, with
// every bit flipped, mutated, or made of random bytes end either in a clean
// decode or in EAbInflateError with one of the documented causes, in both
// modes. Each outcome is checked against the documented algorithm (same
// result, same cause) and, where zlib accepts the stream, against zlib's output.
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <string>

#include "archive/AbDfBase.h"
#include "support/InflateSupport.h"

using namespace kivo;
using namespace kivo::test;

namespace {

const std::set<std::string>& KnownCauses() {
    static const std::set<std::string> Causes = {
        InflateCause::InvalidBlockType,     InflateCause::StoredLength,
        InflateCause::TooManyLiteralCodes,  InflateCause::TooManyDistanceCodes,
        InflateCause::BadCodeLengthSymbol,  InflateCause::BadCodeLength,
        InflateCause::BadCodeLengthRepeat,  InflateCause::BadLengthSymbol,
        InflateCause::BadDistanceSymbol,    InflateCause::UnusedDistanceSymbol,
        InflateCause::DistanceTooFar,       InflateCause::NoMoreDataReadBit,
        InflateCause::NoMoreDataReadBits,   InflateCause::NoMoreDataDiscardBits,
        InflateCause::NoMoreDataReadBuffer,
    };
    return Causes;
}

bool IsExhausted(const std::string& Cause) {
    return Cause.rfind("no more compressed data in stream [", 0) == 0;
}

// Decodes Data in both modes (from a source giving 1 to MaxStep bytes per read
// when MaxStep > 0) and checks everything that must hold for any input.
void CheckAnyInput(const std::string& Data, int MaxStep = 0) {
    for (bool D64 : {false, true}) {
        TDecodeResult R = RunInflate(Data, D64, MaxStep);
        if (!R.Ok) {
            ASSERT_EQ(KnownCauses().count(R.Cause), 1u) << R.Cause;
        }
        TDecodeResult Written = RunInflate(Data, D64, MaxStep, 0, TInflateDest::Written);
        ASSERT_EQ(Written.Cause, R.Cause);
        ASSERT_TRUE(Written.Output == R.Output);
        TDecodeResult Ref = ReferenceInflate(Data, D64);
        ASSERT_EQ(R.Ok, Ref.Ok) << "decoder: " << R.Cause << " / reference: " << Ref.Cause;
        ASSERT_EQ(R.Cause, Ref.Cause);
        if (R.Ok) {
            ASSERT_TRUE(R.Output == Ref.Output);
            ASSERT_EQ(R.Checksum, ZlibCrc32(R.Output));
            ASSERT_EQ(R.Consumed, Ref.Consumed);
        }
        if (!D64) {
            std::string ZOut;
            size_t ZUsed = 0;
            if (ZlibInflateRaw(Data, ZOut, &ZUsed)) {
                // zlib is stricter (it rejects incomplete and over-subscribed
                // codes); whatever it accepts decodes the same here.
                ASSERT_TRUE(R.Ok) << R.Cause;
                ASSERT_TRUE(R.Output == ZOut);
                ASSERT_EQ(R.Consumed, static_cast<int64_t>(ZUsed));
            }
        }
    }
}

std::vector<std::pair<std::string, std::string>> SmallStreams() {
    std::string Text = MakeText(3000, 41);
    std::string Mixed = MakeText(1500, 42) + MakeBinary(1500);
    return {
        {"dynamic", ZlibDeflateRaw(Text, 6)},
        {"fixed", ZlibDeflateRaw(Text, 6, 4 /* Z_FIXED */)},
        {"stored", ZlibDeflateRaw(Mixed.substr(0, 800), 0)},
        {"mixed", ZlibDeflateRaw(Mixed, 9)},
    };
}

} // namespace

TEST(InflateCorrupt, TruncatedAtEveryByte) {
    for (const auto& [Name, S] : SmallStreams()) {
        std::string Original;
        ASSERT_TRUE(ZlibInflateRaw(S, Original));
        for (size_t Cut = 0; Cut < S.size(); ++Cut) {
            SCOPED_TRACE(Name + " cut at " + std::to_string(Cut));
            std::string Part = S.substr(0, Cut);
            for (int Step : {0, 1, 7}) {
                TDecodeResult R = RunInflate(Part, false, Step);
                ASSERT_FALSE(R.Ok);
                ASSERT_TRUE(IsExhausted(R.Cause)) << R.Cause;
                ASSERT_TRUE(R.Output == Original.substr(0, R.Output.size()));
            }
            ASSERT_EQ(ReferenceInflate(Part, false).Cause, RunInflate(Part).Cause);
        }
    }
}

TEST(InflateCorrupt, EveryBitFlipped) {
    for (const auto& [Name, S] : SmallStreams()) {
        for (size_t Bit = 0; Bit < S.size() * 8; ++Bit) {
            SCOPED_TRACE(Name + " bit " + std::to_string(Bit));
            std::string Bad = S;
            Bad[Bit / 8] = static_cast<char>(Bad[Bit / 8] ^ (1 << (Bit % 8)));
            CheckAnyInput(Bad, Bit % 3 == 0 ? 1 + static_cast<int>(Bit % 7) : 0);
        }
    }
}

TEST(InflateCorrupt, MutatedLargeStreams) {
    // Large enough for the fast loop to meet the damage.
    std::mt19937 Rng(43);
    std::string Data = MakeText(150000, 44) + MakeBinary(100000);
    for (int Level : {1, 9}) {
        std::string S = ZlibDeflateRaw(Data, Level);
        for (int i = 0; i < 150; ++i) {
            std::string Bad = S;
            int Changes = 1 + static_cast<int>(Rng() % 4);
            for (int k = 0; k < Changes; ++k)
                Bad[Rng() % Bad.size()] = static_cast<char>(Rng());
            SCOPED_TRACE("level " + std::to_string(Level) + " mutation " + std::to_string(i));
            CheckAnyInput(Bad, i % 10 == 0 ? 5 : 0);
        }
    }
}

TEST(InflateCorrupt, RandomBytes) {
    std::mt19937 Rng(45);
    for (int i = 0; i < 3000; ++i) {
        std::string Data = MakeRandom(Rng() % 3000, static_cast<uint32_t>(Rng()));
        if (!Data.empty() && i % 3 != 0) {
            // Mostly well-formed block headers, so the tables get built and used.
            Data[0] = static_cast<char>((Data[0] & ~6) | (i % 3 == 1 ? 4 : 2));
        }
        SCOPED_TRACE("random input " + std::to_string(i));
        CheckAnyInput(Data, i % 5 == 0 ? 1 + i % 7 : 0);
    }
}
