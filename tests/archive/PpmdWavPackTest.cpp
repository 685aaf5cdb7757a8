// PPMd (method 98) and WavPack (method 97) items: streams made by other
// tools at several orders, model sizes, restoration methods and sample
// formats extract byte for byte; parameters the decoder cannot run are
// refused, and damaged data ends in an error, never in a crash or a hang.
#include <cstdint>
#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

#include "archive/AbExcept.h"
#include "archive/AbUnzper.h"
#include "runtime/Classes.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

// Text of made-up words and numbers: compressible, but not so repetitive
// that a small model never fills.
std::string SampleText(size_t Size, uint32_t Seed) {
    static const char* const Words[] = {"archive", "model", "order", "symbol", "context",
                                        "escape",  "range", "coder", "byte",   "frequency",
                                        "the",     "of",    "a",     "and",    "memory"};
    std::string Text;
    uint32_t X = Seed;
    while (Text.size() < Size) {
        X = X * 1664525u + 1013904223u;
        Text += Words[(X >> 8) % 15];
        Text += (X >> 20) % 11 == 0 ? ".\n" : " ";
        if ((X >> 16) % 7 == 0) Text += std::to_string(X % 100000) + " ";
    }
    Text.resize(Size);
    return Text;
}

// A WAV file: a fmt chunk, optional LIST chunks before and after the data,
// Frames frames of a noisy sine wave.
std::string MakeWav(int Channels, int Bits, int Frames, bool ExtraChunks) {
    const int Bytes = Bits / 8;
    std::string Data;
    uint32_t Noise = 12345;
    for (int F = 0; F < Frames; ++F) {
        for (int C = 0; C < Channels; ++C) {
            Noise = Noise * 1103515245u + 12345u;
            const double Wave = ((F * (C + 3)) % 200 - 100) / 100.0;
            const auto Amplitude = static_cast<double>(int64_t{1} << (Bits - 2));
            int64_t V = static_cast<int64_t>(Wave * Amplitude) + (Noise >> 24) % 16 - 8;
            if (Bytes == 1) V += 128; // 8-bit WAV samples are unsigned
            for (int B = 0; B < Bytes; ++B)
                Data += static_cast<char>((static_cast<uint64_t>(V) >> (8 * B)) & 0xFF);
        }
    }
    if (Data.size() % 2 != 0) Data += '\0';
    const std::string List = "LIST" + Le32(16) + "INFOISFT" + Le32(4) + "kivo";
    std::string Body = "WAVE";
    Body += "fmt " + Le32(16) + Le16(1) + Le16(static_cast<uint16_t>(Channels)) + Le32(44100) +
            Le32(static_cast<uint32_t>(44100 * Channels * Bytes)) +
            Le16(static_cast<uint16_t>(Channels * Bytes)) + Le16(static_cast<uint16_t>(Bits));
    if (ExtraChunks) Body += List;
    Body += "data" + Le32(static_cast<uint32_t>(Data.size())) + Data;
    if (ExtraChunks) Body += List;
    return "RIFF" + Le32(static_cast<uint32_t>(Body.size())) + Body;
}

// How a test stream is made.
enum class TMaker { SevenZip, PythonPpmd, WavPackTool };
// What extracting the item must give.
enum class TExpect { SameBytes, InvalidMethod, AnyError };
using TDamage = std::function<std::string(std::string)>;

struct TCase {
    const char* Name;
    TMaker Maker;
    std::string Options; // 7zz switches, "order mem_mib restore" or wavpack switches
    std::function<std::string()> Input;
    TDamage Damage = nullptr; // of the item's compressed data
    TExpect Expect = TExpect::SameBytes;
};

void PrintTo(const TCase& Case, std::ostream* Os) {
    *Os << Case.Name;
}

std::string Tool(TMaker Maker) {
    switch (Maker) {
    case TMaker::SevenZip: return MissingTool({"7zz"});
    case TMaker::PythonPpmd:
        return Shell("/usr/bin/python3 -c 'import ppmd' 2>/dev/null") == 0 ? "" : "python3-ppmd";
    case TMaker::WavPackTool: return MissingTool({"wavpack"});
    }
    return "";
}

// The data of the only item of a ZIP file without data descriptor: after
// the local header, its name and extra field.
std::string ItemData(const std::string& Zip) {
    const auto U16 = [&](size_t At) {
        return static_cast<size_t>(static_cast<uint8_t>(Zip[At]) |
                                   (static_cast<uint8_t>(Zip[At + 1]) << 8));
    };
    return Zip.substr(30 + U16(26) + U16(28), U16(18) | (U16(20) << 16));
}

// In compressed by the case's tool, as a method 98 or 97 item holds it.
std::string Compress(const TTempDir& Dir, const TCase& Case, const std::string& In) {
    // wavpack wants its input to be named like a WAV file.
    const std::string Input = Dir / (Case.Maker == TMaker::WavPackTool ? "in.wav" : "in");
    WriteBytes(Input, In);
    const std::string Options = Case.Options;
    switch (Case.Maker) {
    case TMaker::SevenZip:
        EXPECT_EQ(Shell("cd " + Quote(Dir.Path()) + " && 7zz a -tzip " + Options +
                        " made.zip in >/dev/null 2>&1"),
                  0);
        return ItemData(ReadBytes(Dir / "made.zip"));
    case TMaker::PythonPpmd:
        // The parameter word, then the stream.
        WriteBytes(Dir / "enc.py", "import ppmd, sys, io\n"
                                   "o, m, r = map(int, sys.argv[1].split())\n"
                                   "out = io.BytesIO()\n"
                                   "e = ppmd.Ppmd8Encoder(out, o, m << 20, r)\n"
                                   "e.encode(open(sys.argv[2], 'rb').read()); e.flush()\n"
                                   "w = (o - 1) | ((m - 1) << 4) | (r << 12)\n"
                                   "sys.stdout.buffer.write(bytes([w & 255, w >> 8]))\n"
                                   "sys.stdout.buffer.write(out.getvalue())\n");
        EXPECT_EQ(Shell("/usr/bin/python3 " + Quote(Dir / "enc.py") + " " + Quote(Options) + " " +
                        Quote(Input) + " >" + Quote(Dir / "out")),
                  0);
        return ReadBytes(Dir / "out");
    case TMaker::WavPackTool:
        EXPECT_EQ(Shell("wavpack -q -y " + Options + " " + Quote(Input) + " -o " +
                        Quote(Dir / "in.wv") + " >/dev/null 2>&1"),
                  0);
        return ReadBytes(Dir / "in.wv");
    }
    return {};
}

// Extracts the archive's only item into memory; raises what extraction
// met (a CRC mismatch as EAbZipBadCRC).
std::string ExtractOnly(const TTempDir& Dir, const std::string& Zip) {
    WriteBytes(Dir / "test.zip", Zip);
    TAbUnZipper U(nullptr);
    std::exception_ptr Failure;
    // Raised errors arrive here while they are handled; a CRC mismatch is
    // only reported.
    U.OnProcessItemFailure = [&](TAbBaseBrowser*, TAbArchiveItem*, TAbProcessType, TAbErrorClass,
                                 int32_t) {
        Failure = std::current_exception();
        if (!Failure) Failure = std::make_exception_ptr(EAbZipBadCRC());
    };
    U.SetFileName(Dir / "test.zip");
    TMemoryStream Out;
    U.ExtractToStream(U.Items(0)->FileName(), &Out);
    if (Failure) std::rethrow_exception(Failure);
    return std::string(reinterpret_cast<const char*>(Out.Memory()),
                       static_cast<size_t>(Out.Size()));
}

// A ZIP file of one item holding the (damaged) compressed data of In, its
// CRC and size those of In.
std::string MakeZip(const TTempDir& Dir, const TCase& Case, const std::string& In) {
    std::string Data = Compress(Dir, Case, In);
    if (Case.Damage) Data = Case.Damage(Data);
    const uint16_t Method = Case.Maker == TMaker::WavPackTool ? 97 : 98;
    return BuildZip({Packed("item", Method, Data, In)});
}

class PpmdWavPackItems : public ::testing::TestWithParam<TCase> {};

TEST_P(PpmdWavPackItems, ExtractToTheBytesThatWereCompressedOrFail) {
    const TCase& Case = GetParam();
    if (const std::string Missing = Tool(Case.Maker); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    TTempDir Dir;
    const std::string In = Case.Input();
    const std::string Zip = MakeZip(Dir, Case, In);
    switch (Case.Expect) {
    case TExpect::SameBytes: {
        const std::string Out = ExtractOnly(Dir, Zip);
        ASSERT_EQ(Out.size(), In.size());
        EXPECT_TRUE(Out == In);
        break;
    }
    case TExpect::InvalidMethod: EXPECT_THROW(ExtractOnly(Dir, Zip), EAbZipInvalidMethod); break;
    case TExpect::AnyError: EXPECT_THROW(ExtractOnly(Dir, Zip), Exception); break;
    }
}

auto Text(size_t Size) {
    return [Size] { return SampleText(Size, 7); };
}
auto Wav(int Channels, int Bits, int Frames, bool Extra) {
    return [=] { return MakeWav(Channels, Bits, Frames, Extra); };
}

INSTANTIATE_TEST_SUITE_P(
    Sound, PpmdWavPackItems,
    ::testing::Values(
        TCase{"SevenZipOrder2Mem1m", TMaker::SevenZip, "-mm=PPMd:o=2:mem=1m", Text(300000)},
        TCase{"SevenZipOrder6Mem16m", TMaker::SevenZip, "-mm=PPMd:o=6:mem=16m", Text(2500000)},
        TCase{"SevenZipOrder16Mem64m", TMaker::SevenZip, "-mm=PPMd:o=16:mem=64m", Text(2500000)},
        TCase{"SevenZipMx9", TMaker::SevenZip, "-mm=PPMd -mx=9", Text(2500000)},
        // A 1 MiB model at order 16 fills many times over: cut-off restoration.
        TCase{"SevenZipOrder16Mem1mCutOff", TMaker::SevenZip, "-mm=PPMd:o=16:mem=1m -mx=9",
              Text(2500000)},
        TCase{"SevenZipBinary", TMaker::SevenZip, "-mm=PPMd:o=8:mem=2m",
              [] { return RandomBytes(200000, 3) + SampleText(200000, 9); }},
        // Parameter word 0x0015: order 6, 2 MiB, restart.
        TCase{"PythonWord0015", TMaker::PythonPpmd, "6 2 0", Text(200000)},
        TCase{"PythonOrder2Restart", TMaker::PythonPpmd, "2 1 0", Text(200000)},
        TCase{"PythonOrder16Mem1Restart", TMaker::PythonPpmd, "16 1 0", Text(600000)},
        TCase{"PythonOrder16Mem1CutOff", TMaker::PythonPpmd, "16 1 1", Text(600000)},
        TCase{"PythonOneByte", TMaker::PythonPpmd, "4 1 0", [] { return std::string("x"); }},
        TCase{"WavPack8BitMono", TMaker::WavPackTool, "", Wav(1, 8, 30001, false)},
        TCase{"WavPack16BitStereoExtraChunks", TMaker::WavPackTool, "", Wav(2, 16, 50000, true)},
        TCase{"WavPack24BitExtraChunks", TMaker::WavPackTool, "-h", Wav(2, 24, 20000, true)},
        TCase{"WavPack32Bit", TMaker::WavPackTool, "", Wav(1, 32, 20000, false)},
        TCase{"WavPack16BitSixChannelsExtraSlow", TMaker::WavPackTool, "-x3",
              Wav(6, 16, 10000, true)}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------
// Refused parameters and damaged data

TDamage SetWord(uint16_t Word) {
    return [Word](std::string D) { return Le16(Word) + D.substr(2); };
}
TDamage CutTo(double Part) {
    return [Part](std::string D) { return D.substr(0, static_cast<size_t>(D.size() * Part)); };
}
TDamage FlipAt(double Part) {
    return [Part](std::string D) {
        D[static_cast<size_t>(D.size() * Part)] ^= 0x10;
        return D;
    };
}

const auto SomeText = [] { return SampleText(100000, 5); };
const auto SomeWav = [] { return MakeWav(2, 16, 50000, true); };

INSTANTIATE_TEST_SUITE_P(
    Damaged, PpmdWavPackItems,
    ::testing::Values(
        // Order 1 (below the decoder's minimum of 2), and restoration methods
        // the decoder does not define.
        TCase{"PpmdOrder1", TMaker::SevenZip, "-mm=PPMd", SomeText, SetWord(0x0010),
              TExpect::InvalidMethod},
        TCase{"PpmdRestoration2", TMaker::SevenZip, "-mm=PPMd", SomeText, SetWord(0x2015),
              TExpect::InvalidMethod},
        TCase{"PpmdRestoration15", TMaker::SevenZip, "-mm=PPMd", SomeText, SetWord(0xF015),
              TExpect::InvalidMethod},
        // Another order than the encoder's: wrong output.
        TCase{"PpmdWrongOrder", TMaker::SevenZip, "-mm=PPMd:o=6", SomeText, SetWord(0x0017),
              TExpect::AnyError},
        TCase{"PpmdHalf", TMaker::SevenZip, "-mm=PPMd", SomeText, CutTo(0.5), TExpect::AnyError},
        TCase{"PpmdWordOnly", TMaker::SevenZip, "-mm=PPMd", SomeText,
              [](std::string D) { return D.substr(0, 2); }, TExpect::AnyError},
        TCase{"PpmdHalfWord", TMaker::PythonPpmd, "6 2 0", SomeText,
              [](std::string D) { return D.substr(0, 1); }, TExpect::AnyError},
        TCase{"PpmdLastByteGone", TMaker::PythonPpmd, "6 2 0", SomeText,
              [](std::string D) { return D.substr(0, D.size() - 1); }, TExpect::AnyError},
        TCase{"PpmdFlipEarly", TMaker::SevenZip, "-mm=PPMd", SomeText, FlipAt(0.01),
              TExpect::AnyError},
        TCase{"PpmdFlipLate", TMaker::SevenZip, "-mm=PPMd", SomeText, FlipAt(0.9),
              TExpect::AnyError},
        TCase{"PpmdAllFF", TMaker::SevenZip, "-mm=PPMd", SomeText,
              [](std::string D) { return D.substr(0, 2) + std::string(D.size(), '\xFF'); },
              TExpect::AnyError},
        TCase{"WavPackHalf", TMaker::WavPackTool, "", SomeWav, CutTo(0.5), TExpect::AnyError},
        TCase{"WavPackFlipHeader", TMaker::WavPackTool, "", SomeWav, FlipAt(0.0),
              TExpect::AnyError},
        TCase{"WavPackFlipAudio", TMaker::WavPackTool, "", SomeWav, FlipAt(0.5), TExpect::AnyError},
        TCase{"WavPackNotWavPack", TMaker::WavPackTool, "", SomeWav,
              [](std::string D) { return RandomBytes(D.size(), 11); }, TExpect::AnyError},
        TCase{"WavPackFirstBytes", TMaker::WavPackTool, "", SomeWav, CutTo(0.01),
              TExpect::AnyError}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
