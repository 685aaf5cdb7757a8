// bzip2 and LZMA (ZIP methods 12 and 14): archives that 7-Zip and Info-ZIP
// make at test time extract byte for byte; the bzip2 streams round-trip,
// decode what the bzip2 tool writes (concatenated streams too) and seek as
// documented; the layers' errors carry their texts; items whose data is
// short, long, cut or damaged fail and never come out as wrong bytes.
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <typeinfo>
#include <vector>

#include "archive/AbBzip2.h"
#include "archive/AbLzma.h"
#include "archive/AbUnzPrc.h"
#include "archive/AbUnzper.h"
#include "platform/FileSystem.h"
#include "support/UnzipFixtures.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;
using namespace std::string_literals;

namespace {

std::string Text(size_t Size) {
    std::string T;
    for (int I = 0; T.size() < Size; ++I)
        T += "line " + std::to_string(I * 7919 % 10007) + " of the text\n";
    T.resize(Size);
    return T;
}

// What Command (run by the shell) writes for In on its standard input.
std::string Filter(const std::string& Command, const std::string& In) {
    TTempDir Dir;
    WriteBytes(Dir / "in", In);
    EXPECT_EQ(Shell(Command + " < " + Quote(Dir / "in") + " > " + Quote(Dir / "out")), 0)
        << Command;
    return ReadBytes(Dir / "out");
}

std::string Bzip2Tool(const std::string& Data, const char* Level = "-9") {
    return Filter(std::string("bzip2 -c ") + Level, Data);
}

// Method 14 item data made by Python's lzma module: the 4-byte header, the 5
// property bytes and raw LZMA with an end marker (always written there).
std::string LzmaItem(const std::string& Data) {
    const char* Script =
        "import lzma, sys\n"
        "f = {'id': lzma.FILTER_LZMA1, 'dict_size': 1 << 20}\n"
        "p = lzma._encode_filter_properties(f)\n"
        "d = lzma.compress(sys.stdin.buffer.read(), format=lzma.FORMAT_RAW, filters=[f])\n"
        "sys.stdout.buffer.write(b'\\x10\\x02\\x05\\x00' + p + d)\n";
    // Starting Python takes long on some machines: each input is encoded once.
    static std::map<std::string, std::string> Made;
    auto [It, New] = Made.try_emplace(Data);
    if (New) It->second = Filter("python3 -c " + Quote(Script), Data);
    return It->second;
}

std::string Bytes(TMemoryStream& S) {
    return {reinterpret_cast<const char*>(S.Memory()), static_cast<size_t>(S.Size())};
}

// Reads S to its end in pieces of Piece bytes.
std::string ReadAll(TStream& S, int64_t Piece = 65536) {
    std::string Out, Buffer(static_cast<size_t>(Piece), '\0');
    for (int64_t N; (N = S.Read(Buffer.data(), Piece)) > 0;)
        Out.append(Buffer, 0, static_cast<size_t>(N));
    return Out;
}

std::string DecodeBzip2(const std::string& Data) {
    TReadOnlyMemoryStream Source(Data.data(), static_cast<int64_t>(Data.size()));
    TBZDecompressionStream Decoded(&Source);
    return ReadAll(Decoded);
}

// ---------------------------------------------------------------------------
// Archives made by the tools

struct TToolRow {
    const char* Name;
    const char* Tool;
    const char* Command; // followed by the archive's name and "src"
    uint8_t Method;      // of the compressible files
    const char* Password;
};

class ToolArchives : public ::testing::TestWithParam<TToolRow> {
protected:
    static void SetUpTestSuite() {
        Source = new TTempDir;
        const std::string S = Source->Path() + "/src";
        ForceDirectories(S + "/docs/deep");
        WriteBytes(S + "/docs/text.txt", Text(1300000)); // many 100k blocks
        WriteBytes(S + "/docs/deep/random.bin", RandomBytes(300000, 3));
        WriteBytes(S + "/zeros.bin", std::string(2 << 20, '\0'));
        WriteBytes(S + "/empty.txt", "");
        WriteBytes(S + "/small.txt", "small\n");
    }
    static void TearDownTestSuite() {
        delete Source;
        Source = nullptr;
    }
    static TTempDir* Source;
};

TTempDir* ToolArchives::Source = nullptr;

TEST_P(ToolArchives, ExtractAndTestToTheSourceBytes) {
    const TToolRow& Row = GetParam();
    if (const std::string Missing = MissingTool({Row.Tool}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    const std::string Zip = Source->Path() + "/" + Row.Name + ".zip";
    ASSERT_EQ(Shell("cd " + Quote(Source->Path()) + " && " + Row.Command + " " + Quote(Zip) +
                    " src >/dev/null 2>&1"),
              0);
    TTempDir Out;
    TAbUnZipper U(nullptr);
    U.SetExtractOptions({eoCreateDirs, eoRestorePath});
    U.SetPassword(Row.Password);
    std::vector<int32_t> Codes;
    U.OnProcessItemFailure = [&](TAbBaseBrowser*, TAbArchiveItem*, TAbProcessType, TAbErrorClass,
                                 int32_t Code) { Codes.push_back(Code); };
    U.SetFileName(Zip);
    U.SetBaseDirectory(Out.Path());
    int Decoded = 0;
    for (int32_t I = 0; I < U.Count(); ++I)
        Decoded += U.Items(I)->CompressionMethod() == Row.Method ? 1 : 0;
    EXPECT_GE(Decoded, 2); // the text and the zeros at least
    U.ExtractFiles("*.*");
    U.TagItems("*");
    U.TestTaggedItems();
    EXPECT_TRUE(Codes.empty());
    std::map<std::string, std::string> Expected;
    for (const auto& [Name, Data] : Snapshot(Source->Path() + "/src"))
        Expected["src/" + Name] = Data;
    EXPECT_EQ(Snapshot(Out.Path()), Expected);
}

const TToolRow ToolRows[] = {
    {"SevenZipBzip2Fastest", "7zz", "7zz a -tzip -mm=BZip2 -mx=1", 12, ""},
    {"SevenZipBzip2Normal", "7zz", "7zz a -tzip -mm=BZip2 -mx=5", 12, ""},
    {"SevenZipBzip2Ultra", "7zz", "7zz a -tzip -mm=BZip2 -mx=9", 12, ""},
    {"SevenZipBzip2Encrypted", "7zz", "7zz a -tzip -mm=BZip2 -mem=ZipCrypto -ppw", 12, "pw"},
    {"InfoZipBzip2", "zip", "zip -q -r -Z bzip2", 12, ""},
    {"SevenZipLzmaFastest", "7zz", "7zz a -tzip -mm=LZMA -mx=1", 14, ""},
    {"SevenZipLzmaNormal", "7zz", "7zz a -tzip -mm=LZMA -mx=5", 14, ""},
    {"SevenZipLzmaUltra", "7zz", "7zz a -tzip -mm=LZMA -mx=9", 14, ""},
    {"SevenZipLzmaDict64k", "7zz", "7zz a -tzip -mm=LZMA -md=64k", 14, ""},
    {"SevenZipLzmaDict1m", "7zz", "7zz a -tzip -mm=LZMA -mx=9 -md=1m", 14, ""},
    {"SevenZipLzmaEndMarker", "7zz", "7zz a -tzip -mm=LZMA:eos", 14, ""},
    {"SevenZipLzmaNoEndMarker", "7zz", "7zz a -tzip -mm=LZMA:eos=off", 14, ""},
    {"SevenZipLzmaEncrypted", "7zz", "7zz a -tzip -mm=LZMA -mem=ZipCrypto -ppw", 14, "pw"},
};

INSTANTIATE_TEST_SUITE_P(Tools, ToolArchives, ::testing::ValuesIn(ToolRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------
// The bzip2 streams

struct TRoundTripRow {
    const char* Name;
    TBlockSize100k BlockSize;
    std::string Data;
};

class Bzip2RoundTrip : public ::testing::TestWithParam<TRoundTripRow> {};

// What the compression stream writes, the bzip2 tool decodes; what it
// decodes, the decompression stream reads back in odd pieces.
TEST_P(Bzip2RoundTrip, ToolAndStreamReadBackTheData) {
    const TRoundTripRow& Row = GetParam();
    TMemoryStream Packed;
    int Steps = 0;
    {
        TBZCompressionStream Writer(Row.BlockSize, &Packed);
        Writer.SetOnProgress([&](TCustomBZip2Stream*) { ++Steps; });
        for (size_t At = 0; At < Row.Data.size(); At += 77777)
            Writer.WriteBuffer(Row.Data.data() + At,
                               static_cast<int64_t>(std::min<size_t>(77777, Row.Data.size() - At)));
        EXPECT_EQ(Writer.Position(), static_cast<int64_t>(Row.Data.size()));
    }
    EXPECT_GT(Steps, 0);
    const std::string Stream = Bytes(Packed);
    ASSERT_EQ(Stream.substr(0, 4), std::string("BZh") + char('1' + Row.BlockSize));
    if (MissingTool({"bzip2"}).empty()) {
        EXPECT_EQ(Filter("bzip2 -dc", Stream), Row.Data);
    }
    TReadOnlyMemoryStream Source(Stream.data(), static_cast<int64_t>(Stream.size()));
    TBZDecompressionStream Reader(&Source);
    EXPECT_EQ(ReadAll(Reader, 999), Row.Data);
    EXPECT_EQ(Reader.Position(), static_cast<int64_t>(Row.Data.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Bzip2RoundTrip,
    ::testing::Values(TRoundTripRow{"TextSmallBlocks", bs1, Text(700000)},
                      TRoundTripRow{"ZerosLargeBlocks", bs9, std::string(3 << 20, '\0')},
                      TRoundTripRow{"RandomMiddleBlocks", bs5, RandomBytes(250000, 9)},
                      TRoundTripRow{"Empty", bs9, ""}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// What the bzip2 tool makes: one stream, streams one after the other (as
// `cat a.bz2 b.bz2` gives), and bytes after the last stream that are no
// bzip2 data (ignored, as the tool ignores them).
TEST(Bzip2Decoding, ReadsEveryConcatenatedStream) {
    if (const std::string Missing = MissingTool({"bzip2"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    const std::string A = Text(250000), B = RandomBytes(1000, 4);
    const std::string PackedA = Bzip2Tool(A, "-1"), PackedB = Bzip2Tool(B);
    EXPECT_EQ(DecodeBzip2(PackedA), A);
    EXPECT_EQ(DecodeBzip2(PackedA + PackedB), A + B);
    EXPECT_EQ(DecodeBzip2(PackedA + PackedB + PackedA), A + B + A);
    EXPECT_EQ(DecodeBzip2(PackedA + std::string(100, '\0')), A);
    EXPECT_EQ(DecodeBzip2(PackedB + "trailing text"), B);
}

struct TSeekRow {
    const char* Name;
    int64_t ReadFirst; // bytes read before the seek
    int64_t Offset;
    TSeekOrigin Origin;
    int64_t Expected; // the position after the seek; -1: refused
};

class Bzip2Seek : public ::testing::TestWithParam<TSeekRow> {};

// The bzip2 data starts 5 bytes into its source, and someone else moves the
// source before every seek: restarts go back to the data's start, reads
// continue where the stream left its source.
TEST_P(Bzip2Seek, MovesAsDocumented) {
    if (const std::string Missing = MissingTool({"bzip2"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    const TSeekRow& Row = GetParam();
    static const std::string Data = Text(400000);
    static const std::string Held = "lead-" + Bzip2Tool(Data, "-1");
    TReadOnlyMemoryStream Source(Held.data(), static_cast<int64_t>(Held.size()));
    Source.SetPosition(5);
    TBZDecompressionStream S(&Source);
    std::string Piece(static_cast<size_t>(Row.ReadFirst), '\0');
    S.ReadBuffer(Piece.data(), Row.ReadFirst);
    Source.SetPosition(1);
    if (Row.Expected < 0) {
        EXPECT_THROW(S.Seek(Row.Offset, Row.Origin), EBZDecompressionError);
        return;
    }
    EXPECT_EQ(S.Seek(Row.Offset, Row.Origin), Row.Expected);
    Source.SetPosition(0);
    char Next[100];
    const int64_t N = S.Read(Next, sizeof Next);
    EXPECT_EQ(std::string(Next, static_cast<size_t>(N)),
              Data.substr(std::min<size_t>(Row.Expected, Data.size()), 100));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Bzip2Seek,
    ::testing::Values(TSeekRow{"PositionAtTheStart", 0, 0, soCurrent, 0},
                      TSeekRow{"ForwardFromCurrent", 1000, 5000, soCurrent, 6000},
                      TSeekRow{"ForwardAcrossBlocks", 1000, 300000, soBeginning, 300000},
                      TSeekRow{"ToTheCurrentPosition", 1000, 1000, soBeginning, 1000},
                      TSeekRow{"RestartAfterReading", 250000, 0, soBeginning, 0},
                      TSeekRow{"PastTheEndStopsThere", 10, 500000, soBeginning, 400000},
                      TSeekRow{"BackwardFromCurrent", 1000, -1, soCurrent, -1},
                      TSeekRow{"BackwardFromBeginning", 1000, 10, soBeginning, -1},
                      TSeekRow{"FromTheEnd", 0, 0, soEnd, -1}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------
// Errors of the layers, with their classes and texts

// A destination that takes half of every write.
class THalfSink : public TMemoryStream {
public:
    int64_t Write(const void* Buffer, int64_t Count) override {
        return TMemoryStream::Write(Buffer, (Count + 1) / 2);
    }
};

const std::string SampleText = Text(200000);

std::string LzmaWithProps(const std::string& Props) {
    return "\x10\x02" + Le16(static_cast<uint16_t>(Props.size())) + Props + std::string(100, '\0');
}

// SampleText's item data of Method (12 or 14), cut (Mask 0) or with the bits
// of Mask flipped at Fraction of its size plus Offset bytes.
std::function<std::string()> Damaged(uint16_t Method, double Fraction, int64_t Offset,
                                     uint8_t Mask) {
    return [=] {
        std::string Data = Method == 12 ? Bzip2Tool(SampleText) : LzmaItem(SampleText);
        const auto At = static_cast<size_t>(Fraction * static_cast<double>(Data.size()) + Offset);
        EXPECT_LT(At, Data.size());
        if (Mask == 0)
            Data.resize(At);
        else
            Data[At] = static_cast<char>(Data[At] ^ Mask);
        return Data;
    };
}

// Decodes LZMA item data of SampleText's size into Dest (by default one
// that must stay empty).
void DecodeLzma(const std::string& Item, TStream* Dest = nullptr) {
    TReadOnlyMemoryStream Source(Item.data(), static_cast<int64_t>(Item.size()));
    TMemoryStream Out;
    try {
        LzmaDecodeItemData(&Source, static_cast<int64_t>(SampleText.size()), Dest ? Dest : &Out);
    } catch (...) {
        EXPECT_EQ(Out.Size(), 0);
        throw;
    }
}

struct TErrorRow {
    const char* Name;
    std::function<void()> Action;
    const std::type_info* Class;
    std::string Text;
};

class LayerErrors : public ::testing::TestWithParam<TErrorRow> {};

TEST_P(LayerErrors, RaiseTheirClassAndText) {
    // The sample data is packed by the bzip2 tool and Python's lzma module.
    if (const std::string Missing = MissingTool({"bzip2", "python3"}); !Missing.empty())
        GTEST_SKIP() << Missing << " missing";
    const TErrorRow& Row = GetParam();
    try {
        Row.Action();
        FAIL() << "no error";
    } catch (const Exception& E) {
        EXPECT_EQ(typeid(E), *Row.Class) << typeid(E).name();
        EXPECT_EQ(E.Message(), Row.Text);
    }
}

const std::type_info* const BzRead = &typeid(EBZCompressionError);
const std::type_info* const Lzma = &typeid(EAbLZMAException);
const char* const Refused = "Invalid stream operation";
const char* const Unsupported = "LZMA \"Unsupported\" Error.";

INSTANTIATE_TEST_SUITE_P(
    Layers, LayerErrors,
    ::testing::Values(
        TErrorRow{"Bzip2NotBzip2Data", [] { DecodeBzip2("plain words"); }, BzRead, "error -5"},
        TErrorRow{"Bzip2NoData", [] { DecodeBzip2(""); }, BzRead, "error -7"},
        TErrorRow{"Bzip2WriteToTheDecoder",
                  [] {
                      TMemoryStream Empty;
                      TBZDecompressionStream S(&Empty);
                      S.Write("x", 1);
                  },
                  &typeid(EBZDecompressionError), Refused},
        TErrorRow{"Bzip2ReadFromTheEncoder",
                  [] {
                      TMemoryStream Out;
                      TBZCompressionStream S(bs1, &Out);
                      char C;
                      S.Read(&C, 1);
                  },
                  BzRead, Refused},
        TErrorRow{"Bzip2DamagedBlock", [] { DecodeBzip2(Damaged(12, 0.5, 0, 0x80)()); }, BzRead,
                  "error -4"},
        TErrorRow{"LzmaPropsByteAbove224", [] { DecodeLzma(LzmaWithProps("\xE1\0\0\1\0"s)); }, Lzma,
                  Unsupported},
        TErrorRow{"LzmaFourPropsBytes", [] { DecodeLzma(LzmaWithProps("\x5D\0\0\1"s)); }, Lzma,
                  Unsupported},
        // lc 4 + lp 1: more literal context than the decoder handles.
        TErrorRow{"LzmaLiteralBitsAboveFour", [] { DecodeLzma(LzmaWithProps("\x67\0\0\1\0"s)); },
                  Lzma, Unsupported},
        TErrorRow{"LzmaHeaderCut", [] { DecodeLzma("\x10\x02\x05"); }, &typeid(EReadError),
                  "Stream-Lesefehler"},
        TErrorRow{"LzmaDestinationTakesPart",
                  [] {
                      THalfSink Out;
                      DecodeLzma(LzmaItem(SampleText), &Out);
                  },
                  Lzma, "LZMA Write Error."}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------
// ZIP items decoded by the extraction driver

// Extracts the one item of an archive holding Packed as data of Method,
// declared as Declared into Out; returns the error's message ("" for none).
std::string ExtractPacked(uint16_t Method, const std::string& Packed, const std::string& Declared,
                          std::string& Out) {
    TTempDir Dir;
    WriteBytes(Dir / "a.zip",
               BuildZip({::kivo::ziptest::Packed("item", Method, Packed, Declared)}));
    TAbZipArchive Archive(Dir / "a.zip", fmOpenRead | fmShareDenyNone);
    Archive.Load();
    TMemoryStream Target;
    std::string Error;
    try {
        WriteItemToStream(Archive, Archive.ZipItems(0), &Target);
    } catch (const std::exception& E) {
        Error = E.what();
    }
    Out = Bytes(Target);
    return Error;
}

struct TItemRow {
    const char* Name;
    uint16_t Method;
    std::function<std::string()> Packed;
    std::string Declared;
    // "" extracts to Declared; "*" fails, or (where the damage touches no
    // decoded byte) extracts to Declared; else the error's message.
    std::string Outcome;
};

class ItemData : public ::testing::TestWithParam<TItemRow> {};

TEST_P(ItemData, ExtractsOrFailsAsDeclared) {
    // The sample data is packed by the bzip2 tool and Python's lzma module.
    if (const std::string Missing = MissingTool({"bzip2", "python3"}); !Missing.empty())
        GTEST_SKIP() << Missing << " missing";
    const TItemRow& Row = GetParam();
    std::string Out;
    const std::string Error = ExtractPacked(Row.Method, Row.Packed(), Row.Declared, Out);
    if (Row.Outcome == "*" ? Error.empty() : Row.Outcome.empty()) {
        EXPECT_EQ(Error, "");
        EXPECT_EQ(Out, Row.Declared); // never wrong bytes without an error
    } else if (Row.Outcome != "*") {
        EXPECT_EQ(Error, Row.Outcome);
    }
}

const std::string Tail = "and some more words after the declared end\n";
const char* const ShortRead = "Stream-Lesefehler";

// bzip2 data starts with "BZh" and the block size digit; LZMA item data with
// 4 header bytes, 5 property bytes and the range coder's first byte (0).
INSTANTIATE_TEST_SUITE_P(
    Methods, ItemData,
    ::testing::Values(
        TItemRow{"Bzip2", 12, [] { return Bzip2Tool(SampleText); }, SampleText, ""},
        TItemRow{"Bzip2TwoStreams", 12, [] { return Bzip2Tool(SampleText) + Bzip2Tool(Tail); },
                 SampleText + Tail, ""},
        TItemRow{"Bzip2ShorterThanDeclared", 12,
                 [] { return Bzip2Tool(SampleText.substr(0, 150000)); }, SampleText, ShortRead},
        TItemRow{"Bzip2LongerThanDeclared", 12, [] { return Bzip2Tool(SampleText + Tail); },
                 SampleText, "Cannot extract file - data longer than declared"},
        TItemRow{"Bzip2CutHalfway", 12, Damaged(12, 0.5, 0, 0), SampleText, "error -7"},
        TItemRow{"Bzip2FlipHalfway", 12, Damaged(12, 0.5, 0, 0x80), SampleText, "*"},
        TItemRow{"Bzip2CutInTheHeader", 12, Damaged(12, 0, 3, 0), SampleText, "*"},
        TItemRow{"Bzip2FlipBlockSize", 12, Damaged(12, 0, 3, 0x04), SampleText, "*"},
        TItemRow{"Bzip2FlipEarly", 12, Damaged(12, 0.1, 0, 0x01), SampleText, "*"},
        TItemRow{"Bzip2CutLastByte", 12, Damaged(12, 1, -1, 0), SampleText, "*"},
        TItemRow{"Bzip2FlipLastByte", 12, Damaged(12, 1, -1, 0x02), SampleText, "*"},
        TItemRow{"LzmaEndMarkerAfterTheSize", 14, [] { return LzmaItem(SampleText); }, SampleText,
                 ""},
        // Data that runs out stops the decoder quietly; the size check fails.
        TItemRow{"LzmaCutBeforeTheSize", 14, Damaged(14, 0.5, 0, 0), SampleText, ShortRead},
        // An end marker is allowed only right after the declared size.
        TItemRow{"LzmaEndMarkerBeforeTheSize", 14,
                 [] { return LzmaItem(SampleText.substr(0, 150000)); }, SampleText,
                 "LZMA Data Error."},
        TItemRow{"LzmaUnsupportedProperties", 14, [] { return LzmaWithProps("\xFF\0\0\1\0"s); },
                 SampleText, Unsupported},
        TItemRow{"LzmaCutInTheProperties", 14, Damaged(14, 0, 6, 0), SampleText, ShortRead},
        // 0x5D becomes 0x1D: lc 2 + lp 3.
        TItemRow{"LzmaFlipPropertiesByte", 14, Damaged(14, 0, 4, 0x40), SampleText, Unsupported},
        TItemRow{"LzmaFlipFirstCoderByte", 14, Damaged(14, 0, 9, 0x01), SampleText,
                 "LZMA Data Error."},
        TItemRow{"LzmaFlipDictionarySize", 14, Damaged(14, 0, 8, 0x80), SampleText, "*"},
        TItemRow{"LzmaFlipEarly", 14, Damaged(14, 0.1, 0, 0x01), SampleText, "*"},
        TItemRow{"LzmaFlipHalfway", 14, Damaged(14, 0.5, 0, 0x80), SampleText, "*"},
        TItemRow{"LzmaCutLastByte", 14, Damaged(14, 1, -1, 0), SampleText, "*"},
        TItemRow{"LzmaFlipLastByte", 14, Damaged(14, 1, -1, 0x02), SampleText, "*"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
