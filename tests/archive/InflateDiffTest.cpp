// Inflate against trusted encoders: streams made by zlib (every level and
// strategy, window and memory sizes, small to large, text, binary and random
// data) and Deflate64 streams made by 7-Zip decode to exactly the original,
// from a memory source that ends at the last compressed byte, from one with
// data after the stream, from one that hands out 1 to 7 bytes per read, into
// memory built in place and through the output window, and in test-only mode.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <zlib.h>

#include "archive/AbDfBase.h"
#include "archive/AbDfDec.h"
#include "support/InflateSupport.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::test;

namespace {

struct TInput {
    std::string Name;
    std::string Data;
};

const std::vector<TInput>& Inputs() {
    static const std::vector<TInput> All = {
        {"empty", ""},
        {"one byte", "x"},
        {"short text", MakeText(100, 2)},
        {"text 20K", MakeText(20000, 3)},
        {"text 300K", MakeText(300000, 4)},
        {"binary 300K", MakeBinary(300000)},
        {"random 100K", MakeRandom(100000, 5)},
        {"runs", std::string(70000, 'a') + std::string(3, 'b') + std::string(100000, '\0')},
    };
    return All;
}

// Decodes Stream every way a caller can meet it and checks each result.
void CheckAllWays(const std::string& Stream, const std::string& Original, bool Deflate64 = false) {
    const uint32_t Crc = ZlibCrc32(Original);
    // A source that ends exactly at the last compressed byte.
    TDecodeResult Exact = RunInflate(Stream, Deflate64);
    ASSERT_TRUE(Exact.Ok) << Exact.Cause;
    ASSERT_EQ(Exact.Output.size(), Original.size());
    ASSERT_TRUE(Exact.Output == Original);
    EXPECT_EQ(Exact.Checksum, Crc);
    EXPECT_EQ(Exact.Consumed, static_cast<int64_t>(Stream.size()));

    // Data after the stream: left unread.
    TDecodeResult Trailing = RunInflate(Stream + "gzip trailer", Deflate64);
    ASSERT_TRUE(Trailing.Ok) << Trailing.Cause;
    EXPECT_TRUE(Trailing.Output == Original);
    EXPECT_EQ(Trailing.Consumed, static_cast<int64_t>(Stream.size()));

    // A source that hands out 1 to 7 bytes per read, with and without a trailer.
    TDecodeResult Trickle = RunInflate(Stream, Deflate64, 7);
    ASSERT_TRUE(Trickle.Ok) << Trickle.Cause;
    EXPECT_TRUE(Trickle.Output == Original);
    EXPECT_EQ(Trickle.Consumed, static_cast<int64_t>(Stream.size()));
    TDecodeResult TrickleTrailing = RunInflate(Stream + "12345678", Deflate64, 3);
    ASSERT_TRUE(TrickleTrailing.Ok) << TrickleTrailing.Cause;
    EXPECT_TRUE(TrickleTrailing.Output == Original);
    EXPECT_EQ(TrickleTrailing.Consumed, static_cast<int64_t>(Stream.size()));

    // Through the output window and Write instead of in place, at once and in pieces.
    for (int Step : {0, 3}) {
        TDecodeResult Written = RunInflate(Stream, Deflate64, Step, 0, TInflateDest::Written);
        ASSERT_TRUE(Written.Ok) << Written.Cause;
        EXPECT_TRUE(Written.Output == Original);
        EXPECT_EQ(Written.Checksum, Crc);
    }

    // Test-only: same checksum and size, nothing written.
    TReadOnlyMemoryStream Src(Stream.data(), static_cast<int64_t>(Stream.size()));
    TMemoryStream Dst;
    TAbDeflateHelper H;
    H.SetOptions(H.Options() | OptionTestOnly | (Deflate64 ? OptionDeflate64 : 0));
    EXPECT_EQ(Inflate(&Src, &Dst, &H), Crc);
    EXPECT_EQ(Dst.Size(), 0);
    EXPECT_EQ(H.NormalSize(), static_cast<int64_t>(Original.size()));
}

} // namespace

TEST(InflateVsZlib, EveryLevel) {
    for (const TInput& In : Inputs()) {
        for (int Level = 0; Level <= 9; ++Level) {
            SCOPED_TRACE(In.Name + ", level " + std::to_string(Level));
            std::string S = ZlibDeflateRaw(In.Data, Level);
            ASSERT_FALSE(S.empty());
            CheckAllWays(S, In.Data);
        }
    }
}

TEST(InflateVsZlib, LargeInputs) {
    std::string Text = MakeText(3000000, 11);
    std::string Binary = MakeBinary(2000000);
    for (int Level : {1, 6, 9}) {
        SCOPED_TRACE("level " + std::to_string(Level));
        CheckAllWays(ZlibDeflateRaw(Text, Level), Text);
        CheckAllWays(ZlibDeflateRaw(Binary, Level), Binary);
    }
}

TEST(InflateVsZlib, Strategies) {
    const std::string Text = MakeText(200000, 6), Binary = MakeBinary(200000);
    for (int Strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
        for (int Level : {1, 6, 9}) {
            SCOPED_TRACE("strategy " + std::to_string(Strategy) + ", level " +
                         std::to_string(Level));
            CheckAllWays(ZlibDeflateRaw(Text, Level, Strategy), Text);
            CheckAllWays(ZlibDeflateRaw(Binary, Level, Strategy), Binary);
        }
    }
}

TEST(InflateVsZlib, WindowAndMemorySizes) {
    const std::string Text = MakeText(200000, 7), Binary = MakeBinary(150000);
    for (int WindowBits = 9; WindowBits <= 15; ++WindowBits) {
        for (int MemLevel : {1, 8, 9}) {
            SCOPED_TRACE("window " + std::to_string(WindowBits) + ", memory " +
                         std::to_string(MemLevel));
            CheckAllWays(ZlibDeflateRaw(Text, 6, Z_DEFAULT_STRATEGY, WindowBits, MemLevel), Text);
            CheckAllWays(ZlibDeflateRaw(Binary, 9, Z_DEFAULT_STRATEGY, WindowBits, MemLevel),
                         Binary);
        }
    }
}

TEST(InflateVsZlib, StreamsBuiltFromFlushedPieces) {
    // Sync and full flushes put empty stored blocks and block boundaries at
    // odd places; partial flushes leave empty fixed blocks.
    std::string Data = MakeText(150000, 8) + MakeBinary(50000);
    for (int Flush : {Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH, Z_BLOCK}) {
        SCOPED_TRACE("flush " + std::to_string(Flush));
        z_stream Z{};
        ASSERT_EQ(deflateInit2(&Z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        std::string Out(Data.size() * 2 + 4096, '\0');
        Z.next_out = reinterpret_cast<Bytef*>(Out.data());
        Z.avail_out = static_cast<uInt>(Out.size());
        for (size_t Pos = 0; Pos < Data.size(); Pos += 777) {
            size_t N = std::min<size_t>(777, Data.size() - Pos);
            Z.next_in = reinterpret_cast<Bytef*>(Data.data() + Pos);
            Z.avail_in = static_cast<uInt>(N);
            ASSERT_EQ(deflate(&Z, Flush), Z_OK);
        }
        ASSERT_EQ(deflate(&Z, Z_FINISH), Z_STREAM_END);
        Out.resize(Z.total_out);
        deflateEnd(&Z);
        CheckAllWays(Out, Data);
    }
}

TEST(InflateVsReference, MatchesTheDocumentedAlgorithm) {
    // The reference decodes symbol by symbol through the public pieces; the
    // fast decoder must agree on every stream (output and consumed bytes).
    for (const TInput& In : Inputs()) {
        for (int Level : {0, 1, 9}) {
            SCOPED_TRACE(In.Name + ", level " + std::to_string(Level));
            std::string S = ZlibDeflateRaw(In.Data, Level);
            TDecodeResult Ref = ReferenceInflate(S, false);
            ASSERT_TRUE(Ref.Ok) << Ref.Cause;
            EXPECT_TRUE(Ref.Output == In.Data);
            EXPECT_EQ(Ref.Consumed, static_cast<int64_t>(S.size()));
        }
    }
}

// ---------------------------------------------------------------------------
// Deflate64 streams from 7-Zip

namespace {

uint32_t Le16(const std::string& S, size_t P) {
    return static_cast<uint32_t>(static_cast<uint8_t>(S[P])) |
           static_cast<uint32_t>(static_cast<uint8_t>(S[P + 1])) << 8;
}
uint32_t Le32(const std::string& S, size_t P) {
    return Le16(S, P) | Le16(S, P + 2) << 16;
}

// The raw stream of a one-entry ZIP, located through the central directory.
std::string OnlyEntryStream(const std::string& Zip, uint32_t& Method) {
    size_t Eocd = Zip.rfind(std::string("PK\x05\x06", 4));
    if (Eocd == std::string::npos) return {};
    size_t Cd = Le32(Zip, Eocd + 16);
    Method = Le16(Zip, Cd + 10);
    uint32_t Size = Le32(Zip, Cd + 20);
    size_t Local = Le32(Zip, Cd + 42);
    size_t Data = Local + 30 + Le16(Zip, Local + 26) + Le16(Zip, Local + 28);
    return Zip.substr(Data, Size);
}

// Compresses Data with 7-Zip's Deflate64 and returns the raw stream.
std::string SevenZipDeflate64(const std::string& Data, const std::string& Level) {
    ziptest::TTempDir Dir;
    std::string In = Dir / "data.bin", Zip = Dir / "data.zip";
    ziptest::WriteBytes(In, Data);
    if (ziptest::Shell("7zz a -tzip -mm=Deflate64 -mx=" + Level + " " + ziptest::Quote(Zip) + " " +
                       ziptest::Quote(In) + " >/dev/null 2>&1") != 0) {
        return {};
    }
    uint32_t Method = 0;
    std::string S = OnlyEntryStream(ziptest::ReadBytes(Zip), Method);
    EXPECT_EQ(Method, 9u);
    return S;
}

} // namespace

TEST(InflateVs7Zip, Deflate64StreamsDecode) {
    if (const std::string Missing = ziptest::MissingTool({"7zz"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    const std::string Far = MakeRandom(50000, 21);
    const std::vector<TInput> Cases = {
        {"text", MakeText(400000, 22)},
        {"binary", MakeBinary(400000)},
        // Matches 50000 bytes back: distance codes 30 and 31.
        {"far matches", Far + MakeText(1000, 23) + Far + Far},
        // Matches longer than 258 bytes: length code 285 with 16 extra bits.
        {"long matches", MakeRandom(3000, 24) + std::string(200000, 'z') + MakeText(70000, 25) +
                             MakeText(70000, 25)},
    };
    for (const TInput& In : Cases) {
        for (const char* Level : {"1", "5", "9"}) {
            SCOPED_TRACE(In.Name + ", -mx" + Level);
            std::string S = SevenZipDeflate64(In.Data, Level);
            ASSERT_FALSE(S.empty());
            CheckAllWays(S, In.Data, true);
        }
    }
}

TEST(InflateVs7Zip, Deflate64NeedsTheOption) {
    if (const std::string Missing = ziptest::MissingTool({"7zz"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    const std::string Far = MakeRandom(50000, 31);
    std::string Data = Far + MakeText(2000, 32) + Far;
    std::string S = SevenZipDeflate64(Data, "5");
    ASSERT_FALSE(S.empty());
    TDecodeResult D64 = RunInflate(S, true);
    ASSERT_TRUE(D64.Ok);
    // Read as plain Deflate the stream fails on its distance codes: at the
    // header of a dynamic block that declares 32 of them, or at a distance
    // symbol 30 or 31.
    TDecodeResult D = RunInflate(S, false);
    ASSERT_FALSE(D.Ok);
    EXPECT_TRUE(
        D.Cause ==
            "count of distance codes in dynamic block is greater than 30 [InflateDynamicBlock]" ||
        D.Cause == "decoded an invalid distance symbol: greater than 29 [DecodeData]")
        << D.Cause;
    EXPECT_TRUE(D.Output == Data.substr(0, D.Output.size()));
    EXPECT_EQ(ReferenceInflate(S, false).Cause, D.Cause);
}
