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

struct TStreamCase {
    const char* Name;
    TMaker Maker;
    std::string Options; // 7zz switches, "order mem restore" or wavpack switches
    std::function<std::string()> Input;
};

std::string Tool(TMaker Maker) {
    switch (Maker) {
    case TMaker::SevenZip: return MissingTool({"7zz"});
    case TMaker::PythonPpmd:
        return Shell("/usr/bin/python3 -c 'import ppmd' 2>/dev/null") == 0 ? "" : "python3-ppmd";
    case TMaker::WavPackTool: return MissingTool({"wavpack"});
    }
    return "";
}

// Encodes Input with python3-ppmd ("order mem_mib restore") into a method
// 98 item: parameter word, then the stream.
std::string PythonPpmdZip(const TTempDir& Dir, const std::string& Params, const std::string& In) {
    WriteBytes(Dir / "in.bin", In);
    const std::string Script = "import ppmd, sys, io\n"
                               "o, m, r = map(int, sys.argv[1].split())\n"
                               "out = io.BytesIO()\n"
                               "e = ppmd.Ppmd8Encoder(out, o, m << 20, r)\n"
                               "e.encode(open(sys.argv[2], 'rb').read()); e.flush(); e.close()\n"
                               "w = (o - 1) | ((m - 1) << 4) | (r << 12)\n"
                               "open(sys.argv[3], 'wb').write(bytes([w & 255, w >> 8]) + "
                               "out.getvalue())\n";
    WriteBytes(Dir / "enc.py", Script);
    EXPECT_EQ(Shell("/usr/bin/python3 " + Quote(Dir / "enc.py") + " " + Quote(Params) + " " +
                    Quote(Dir / "in.bin") + " " + Quote(Dir / "out.bin")),
              0);
    return BuildZip({Packed("in.bin", 98, ReadBytes(Dir / "out.bin"), In)});
}

// The .wv file of the WAV file In as a method 97 item.
std::string WavPackZip(const TTempDir& Dir, const std::string& Options, const std::string& In) {
    WriteBytes(Dir / "in.wav", In);
    EXPECT_EQ(Shell("wavpack -q -y " + Options + " " + Quote(Dir / "in.wav") + " -o " +
                    Quote(Dir / "in.wv") + " >/dev/null 2>&1"),
              0);
    return BuildZip({Packed("in.wav", 97, ReadBytes(Dir / "in.wv"), In)});
}

std::string SevenZipZip(const TTempDir& Dir, const std::string& Options, const std::string& In) {
    WriteBytes(Dir / "in.bin", In);
    EXPECT_EQ(Shell("cd " + Quote(Dir.Path()) + " && 7zz a -tzip " + Options +
                    " made.zip in.bin >/dev/null 2>&1"),
              0);
    return ReadBytes(Dir / "made.zip");
}

std::string MakeZip(const TTempDir& Dir, const TStreamCase& Case, const std::string& In) {
    switch (Case.Maker) {
    case TMaker::SevenZip: return SevenZipZip(Dir, Case.Options, In);
    case TMaker::PythonPpmd: return PythonPpmdZip(Dir, Case.Options, In);
    case TMaker::WavPackTool: return WavPackZip(Dir, Case.Options, In);
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

void PrintTo(const TStreamCase& Case, std::ostream* Os) {
    *Os << Case.Name;
}

class PpmdWavPackStreams : public ::testing::TestWithParam<TStreamCase> {};

TEST_P(PpmdWavPackStreams, ExtractToTheBytesThatWereCompressed) {
    const TStreamCase& Case = GetParam();
    if (const std::string Missing = Tool(Case.Maker); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    TTempDir Dir;
    const std::string In = Case.Input();
    const std::string Zip = MakeZip(Dir, Case, In);
    ASSERT_FALSE(Zip.empty());
    const std::string Out = ExtractOnly(Dir, Zip);
    ASSERT_EQ(Out.size(), In.size());
    EXPECT_TRUE(Out == In);
}

auto Text(size_t Size) {
    return [Size] { return SampleText(Size, 7); };
}
auto Wav(int Channels, int Bits, int Frames, bool Extra) {
    return [=] { return MakeWav(Channels, Bits, Frames, Extra); };
}

INSTANTIATE_TEST_SUITE_P(
    Made, PpmdWavPackStreams,
    ::testing::Values(
        TStreamCase{"SevenZipOrder2Mem1m", TMaker::SevenZip, "-mm=PPMd:o=2:mem=1m", Text(300000)},
        TStreamCase{"SevenZipOrder6Mem16m", TMaker::SevenZip, "-mm=PPMd:o=6:mem=16m",
                    Text(2500000)},
        TStreamCase{"SevenZipOrder16Mem64m", TMaker::SevenZip, "-mm=PPMd:o=16:mem=64m",
                    Text(2500000)},
        TStreamCase{"SevenZipMx9", TMaker::SevenZip, "-mm=PPMd -mx=9", Text(2500000)},
        // A 1 MiB model at order 16 fills many times over: cut-off restoration.
        TStreamCase{"SevenZipOrder16Mem1mCutOff", TMaker::SevenZip, "-mm=PPMd:o=16:mem=1m -mx=9",
                    Text(2500000)},
        TStreamCase{"SevenZipBinary", TMaker::SevenZip, "-mm=PPMd:o=8:mem=2m",
                    [] { return RandomBytes(200000, 3) + SampleText(200000, 9); }},
        // Parameter word 0x0015: order 6, 2 MiB, restart.
        TStreamCase{"PythonWord0015", TMaker::PythonPpmd, "6 2 0", Text(200000)},
        TStreamCase{"PythonOrder2Restart", TMaker::PythonPpmd, "2 1 0", Text(200000)},
        TStreamCase{"PythonOrder16Mem1Restart", TMaker::PythonPpmd, "16 1 0", Text(600000)},
        TStreamCase{"PythonOrder16Mem1CutOff", TMaker::PythonPpmd, "16 1 1", Text(600000)},
        TStreamCase{"PythonOneByte", TMaker::PythonPpmd, "4 1 0", [] { return std::string("x"); }},
        TStreamCase{"WavPack8BitMono", TMaker::WavPackTool, "", Wav(1, 8, 30001, false)},
        TStreamCase{"WavPack16BitStereoExtraChunks", TMaker::WavPackTool, "",
                    Wav(2, 16, 50000, true)},
        TStreamCase{"WavPack24BitExtraChunks", TMaker::WavPackTool, "-h", Wav(2, 24, 20000, true)},
        TStreamCase{"WavPack32Bit", TMaker::WavPackTool, "", Wav(1, 32, 20000, false)},
        TStreamCase{"WavPack16BitSixChannelsExtraSlow", TMaker::WavPackTool, "-x3",
                    Wav(6, 16, 10000, true)}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------
// Refused parameters and damaged data

enum class TExpect { InvalidMethod, AnyError };

struct TFaultCase {
    const char* Name;
    TMaker Maker;
    std::string Options;
    std::function<std::string(std::string)> Damage; // of the item's compressed data
    TExpect Expect;
};

// The item's data: at 30 + name length + extra length from the start, for
// the compressed size (the archives here have one item and no descriptor).
struct TItemData {
    size_t Offset;
    size_t Size;
};
TItemData ItemData(const std::string& Zip) {
    const auto U16 = [&](size_t At) {
        return static_cast<size_t>(static_cast<uint8_t>(Zip[At]) |
                                   (static_cast<uint8_t>(Zip[At + 1]) << 8));
    };
    const size_t Size = U16(18) | (U16(20) << 16);
    return {30 + U16(26) + U16(28), Size};
}

// A method 98 or 97 item holding Damage(the tool's compressed data); its
// CRC and size stay those of In.
std::string Damaged(const std::string& Zip, TMaker Maker, const std::string& In,
                    const std::function<std::string(std::string)>& Damage) {
    const TItemData D = ItemData(Zip);
    const uint16_t Method = Maker == TMaker::WavPackTool ? 97 : 98;
    return BuildZip({Packed("item", Method, Damage(Zip.substr(D.Offset, D.Size)), In)});
}

std::function<std::string(std::string)> SetWord(uint16_t Word) {
    return [Word](std::string D) { return Le16(Word) + D.substr(2); };
}
std::function<std::string(std::string)> CutTo(double Part) {
    return [Part](std::string D) { return D.substr(0, static_cast<size_t>(D.size() * Part)); };
}
std::function<std::string(std::string)> FlipAt(double Part) {
    return [Part](std::string D) {
        D[static_cast<size_t>(D.size() * Part)] ^= 0x10;
        return D;
    };
}

void PrintTo(const TFaultCase& Case, std::ostream* Os) {
    *Os << Case.Name;
}

class PpmdWavPackFaults : public ::testing::TestWithParam<TFaultCase> {};

TEST_P(PpmdWavPackFaults, EndInAnErrorAndNothingElse) {
    const TFaultCase& Case = GetParam();
    if (const std::string Missing = Tool(Case.Maker); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    TTempDir Dir;
    const std::string In =
        Case.Maker == TMaker::WavPackTool ? MakeWav(2, 16, 50000, true) : SampleText(100000, 5);
    const TStreamCase Maker{Case.Name, Case.Maker, Case.Options, nullptr};
    const std::string Zip = Damaged(MakeZip(Dir, Maker, In), Case.Maker, In, Case.Damage);
    switch (Case.Expect) {
    case TExpect::InvalidMethod: EXPECT_THROW(ExtractOnly(Dir, Zip), EAbZipInvalidMethod); break;
    case TExpect::AnyError: EXPECT_THROW(ExtractOnly(Dir, Zip), Exception); break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Made, PpmdWavPackFaults,
    ::testing::Values(
        // Order 1 (below the decoder's minimum of 2), and restoration methods
        // the decoder does not define.
        TFaultCase{"PpmdOrder1", TMaker::SevenZip, "-mm=PPMd", SetWord(0x0010),
                   TExpect::InvalidMethod},
        TFaultCase{"PpmdRestoration2", TMaker::SevenZip, "-mm=PPMd", SetWord(0x2015),
                   TExpect::InvalidMethod},
        TFaultCase{"PpmdRestoration15", TMaker::SevenZip, "-mm=PPMd", SetWord(0xF015),
                   TExpect::InvalidMethod},
        // Another order than the encoder's: wrong output.
        TFaultCase{"PpmdWrongOrder", TMaker::SevenZip, "-mm=PPMd:o=6", SetWord(0x0017),
                   TExpect::AnyError},
        TFaultCase{"PpmdHalf", TMaker::SevenZip, "-mm=PPMd", CutTo(0.5), TExpect::AnyError},
        TFaultCase{"PpmdWordOnly", TMaker::SevenZip, "-mm=PPMd",
                   [](std::string D) { return D.substr(0, 2); }, TExpect::AnyError},
        TFaultCase{"PpmdHalfWord", TMaker::PythonPpmd, "6 2 0",
                   [](std::string D) { return D.substr(0, 1); }, TExpect::AnyError},
        TFaultCase{"PpmdLastByteGone", TMaker::PythonPpmd, "6 2 0",
                   [](std::string D) { return D.substr(0, D.size() - 1); }, TExpect::AnyError},
        TFaultCase{"PpmdFlipEarly", TMaker::SevenZip, "-mm=PPMd", FlipAt(0.01), TExpect::AnyError},
        TFaultCase{"PpmdFlipLate", TMaker::SevenZip, "-mm=PPMd", FlipAt(0.9), TExpect::AnyError},
        TFaultCase{"PpmdAllFF", TMaker::SevenZip, "-mm=PPMd",
                   [](std::string D) { return D.substr(0, 2) + std::string(D.size(), '\xFF'); },
                   TExpect::AnyError},
        TFaultCase{"WavPackHalf", TMaker::WavPackTool, "", CutTo(0.5), TExpect::AnyError},
        TFaultCase{"WavPackFlipHeader", TMaker::WavPackTool, "", FlipAt(0.0), TExpect::AnyError},
        TFaultCase{"WavPackFlipAudio", TMaker::WavPackTool, "", FlipAt(0.5), TExpect::AnyError},
        TFaultCase{"WavPackNotWavPack", TMaker::WavPackTool, "",
                   [](std::string D) { return RandomBytes(D.size(), 11); }, TExpect::AnyError},
        TFaultCase{"WavPackFirstBytes", TMaker::WavPackTool, "", CutTo(0.01), TExpect::AnyError}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
