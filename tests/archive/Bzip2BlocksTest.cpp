// bzip2 data decoded on several threads gives what the one-thread stream
// gives: the same bytes, and for damaged, cut or oddly ended data the same
// error, after sound data only (at least what one thread gave before it).
#include <gtest/gtest.h>
#include <string>

#include "archive/AbBzip2.h"
#include "archive/AbBzip2Blocks.h"

using namespace kivo;

namespace {

std::string Packed(const std::string& Data, TBlockSize100k Level = bs1) {
    TMemoryStream Out;
    {
        TBZCompressionStream Writer(Level, &Out);
        Writer.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    }
    return {reinterpret_cast<const char*>(Out.Memory()), static_cast<size_t>(Out.Size())};
}

// Text that compresses, from a seed: several 100 kB blocks per 300 kB.
std::string Text(size_t Size, uint32_t Seed) {
    std::string Data;
    while (Data.size() < Size) {
        Seed = Seed * 1103515245 + 12345;
        Data += "line " + std::to_string(Seed >> 8) + (Seed % 3 == 0 ? " alpha\n" : " beta\n");
    }
    Data.resize(Size);
    return Data;
}

struct TOutcome {
    std::string Bytes;
    std::string Error;
};

template <typename TDecode> TOutcome Decoded(const std::string& Input, TDecode Decode) {
    TMemoryStream Source, Dest;
    Source.WriteBuffer(Input.data(), static_cast<int64_t>(Input.size()));
    Source.Seek(0, soBeginning);
    TOutcome Result;
    try {
        Decode(Source, Dest);
    } catch (const std::exception& E) {
        Result.Error = E.what();
    }
    Result.Bytes.assign(reinterpret_cast<const char*>(Dest.Memory()),
                        static_cast<size_t>(Dest.Size()));
    return Result;
}

TOutcome OneThread(const std::string& Input) {
    return Decoded(Input, [](TStream& Source, TStream& Dest) {
        TBZDecompressionStream Stream(&Source);
        char Buffer[65536];
        for (int64_t N; (N = Stream.ReadUpTo(Buffer, sizeof Buffer)) > 0;)
            Dest.WriteBuffer(Buffer, N);
    });
}

std::string Flipped(std::string Data, size_t At) {
    Data[At] = static_cast<char>(Data[At] ^ 0x10);
    return Data;
}

struct TRow {
    const char* Name;
    std::string Input;
    std::string Plain; // what the sound part decodes to
    bool Fails;
};

std::vector<TRow> Rows() {
    const std::string ThreePlain = Text(300000, 1), Three = Packed(ThreePlain);
    const std::string NinePlain = Text(2000000, 2);
    const std::string Runs = std::string(3000000, 'x') + Text(200000, 3);
    const std::string Other = Text(250000, 4);
    return {
        {"ThreeBlocks", Three, ThreePlain, false},
        {"BlocksOfNineHundredKilobytes", Packed(NinePlain, bs9), NinePlain, false},
        {"EmptyData", Packed(""), "", false},
        {"RunsOfOneByte", Packed(Runs), Runs, false},
        {"StreamsOneAfterTheOther", Three + Packed(Other) + Three, ThreePlain + Other + ThreePlain,
         false},
        {"ZerosAfterTheLastStream", Three + std::string(100, '\0'), ThreePlain, false},
        {"HalfAHeaderAfterTheLastStream", Three + "BZ", ThreePlain, true},
        {"DamagedMiddleBlock", Flipped(Three, Three.size() / 2), ThreePlain, true},
        {"DamagedStreamCrc", Flipped(Three, Three.size() - 2), ThreePlain, true},
        {"CutInTheLastBlock", Three.substr(0, Three.size() - 5000), ThreePlain, true},
        {"CutInTheStreamEnd", Three.substr(0, Three.size() - 3), ThreePlain, true},
        {"NoBzip2Data", Text(1000, 5), "", true},
    };
}

class Bzip2OnThreads : public ::testing::TestWithParam<TRow> {};

TEST_P(Bzip2OnThreads, GiveWhatOneThreadGives) {
    const TOutcome Expected = OneThread(GetParam().Input);
    EXPECT_EQ(!Expected.Error.empty(), GetParam().Fails) << Expected.Error;
    for (unsigned Threads : {2u, 4u}) {
        const TOutcome Got = Decoded(GetParam().Input, [&](TStream& Source, TStream& Dest) {
            DecodeBzip2OnThreads(&Source, &Dest, Threads);
        });
        EXPECT_EQ(Got.Error, Expected.Error) << Threads << " threads";
        if (Expected.Error.empty()) {
            EXPECT_TRUE(Got.Bytes == Expected.Bytes) << Threads << " threads";
            continue;
        }
        // One thread stops at a piece boundary; sound blocks all go out here.
        EXPECT_TRUE(GetParam().Plain.starts_with(Got.Bytes) &&
                    Got.Bytes.starts_with(Expected.Bytes))
            << Threads << " threads: " << Got.Bytes.size() << " bytes, one thread "
            << Expected.Bytes.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Bzip2OnThreads, ::testing::ValuesIn(Rows()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
