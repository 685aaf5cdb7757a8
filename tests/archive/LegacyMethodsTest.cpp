// The shrink, reduce and implode decoders on hand-built streams (code size
// increase, partial clearing, the repeat escape, copies before the start of
// output, two and three trees, 4K and 8K dictionaries), hostile streams that
// must end in EAbZipInvalid, the shared legacy archives cut short and with
// flipped bits (always reported as failed, never a crash or hang), and the
// sliding window stream that writes the output.
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "archive/AbByteOrder.h"
#include "archive/AbExcept.h"
#include "archive/AbSlidingWindowStream.h"
#include "archive/AbUnzipHelper.h"
#include "archive/AbUnzper.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;
using namespace std::string_literals;

namespace {

// Bits least significant first, as the decoders read them.
class TBitWriter {
public:
    TBitWriter& Put(uint32_t Value, int Bits) {
        for (int I = 0; I < Bits; ++I, ++FCount) {
            if (FCount % 8 == 0) FBytes.push_back('\0');
            if (I < 32 && ((Value >> I) & 1) != 0)
                FBytes.back() = static_cast<char>(FBytes.back() | 1 << FCount % 8);
        }
        return *this;
    }
    TBitWriter& Bytes(const std::string& Text) {
        for (char C : Text)
            Put(static_cast<uint8_t>(C), 8);
        return *this;
    }
    std::string Data() const { return FBytes; }

private:
    std::string FBytes;
    int FCount = 0;
};

uint32_t Reverse(uint32_t Value, int Bits) {
    uint32_t R = 0;
    for (int I = 0; I < Bits; ++I)
        R |= ((Value >> I) & 1) << (Bits - 1 - I);
    return R;
}

// Shrink codes of 9 bits.
std::string Shrunk(std::initializer_list<uint32_t> Codes) {
    TBitWriter W;
    for (uint32_t Code : Codes)
        W.Put(Code, 9);
    return W.Data();
}

// 'a', then 256,1 at each code size from 9 to Last - 1, then 'a' in Last bits.
std::string Widened(int Last) {
    TBitWriter W;
    W.Put('a', 9);
    for (int Size = 9; Size < Last; ++Size)
        W.Put(256, Size).Put(1, Size);
    return W.Put('a', Last).Data();
}

// Reduced data with empty follower sets: every byte is 8 plain bits.
std::string Reduced(const std::string& Bytes) {
    TBitWriter W;
    W.Put(0, 6 * 256);
    return W.Bytes(Bytes).Data();
}

// Implode trees where every symbol has the same length: 64 symbols of 6 bits
// (four runs of 16), 256 of 8 bits (sixteen runs). Symbol S then has the code
// of rank Count-1-S, read back to front.
struct TImplode {
    bool ThreeTrees;
    bool Dict8K;
    TBitWriter W;
    TImplode(bool Three, bool Big) : ThreeTrees(Three), Dict8K(Big) {
        if (ThreeTrees) Tree(16, 0xF7);
        Tree(4, 0xF5);
        Tree(4, 0xF5);
    }
    void Tree(int Runs, uint8_t Run) {
        W.Put(Runs - 1, 8);
        for (int I = 0; I < Runs; ++I)
            W.Put(Run, 8);
    }
    TImplode& Literal(uint8_t C) {
        W.Put(1, 1);
        if (ThreeTrees)
            W.Put(Reverse(255 - C, 8), 8);
        else
            W.Put(C, 8);
        return *this;
    }
    TImplode& Literals(const std::string& Text) {
        for (char C : Text)
            Literal(static_cast<uint8_t>(C));
        return *this;
    }
    // A copy of Length bytes from Distance back.
    TImplode& Match(uint32_t Distance, uint32_t Length) {
        const int Low = Dict8K ? 7 : 6;
        const uint32_t LengthSymbol = Length - (ThreeTrees ? 3 : 2);
        W.Put(0, 1).Put((Distance - 1) & ((1u << Low) - 1), Low);
        W.Put(Reverse(63 - ((Distance - 1) >> Low), 6), 6);
        W.Put(Reverse(63 - std::min(LengthSymbol, 63u), 6), 6);
        if (LengthSymbol >= 63) W.Put(LengthSymbol - 63, 8);
        return *this;
    }
    int Method() const { return 6; }
};

struct TStreamCase {
    std::string Name;
    int Method;
    std::string Data;
    std::string Expected;
    bool ThreeTrees = false;
    bool Dict8K = false;
};

TStreamCase ImplodeCase(const std::string& Name, const TImplode& I, const std::string& Expected) {
    return {Name, 6, I.W.Data(), Expected, I.ThreeTrees, I.Dict8K};
}

std::string Decode(const TStreamCase& C, int64_t Size, TStream* Dst) {
    TReadOnlyMemoryStream Src(C.Data.data(), static_cast<int64_t>(C.Data.size()));
    TAbUnzipHelper Helper(&Src, Dst);
    Helper.SetCompressionMethod(C.Method);
    Helper.SetUnCompressedSize(Size);
    Helper.SetDictionarySize(C.Dict8K ? ds8K : ds4K);
    Helper.SetShannonFanoTreeCount(C.ThreeTrees ? 3 : 2);
    Helper.Execute();
    TMemoryStream Copy;
    Dst->Seek(0, soBeginning);
    Copy.CopyFrom(Dst, Dst->Size());
    return {reinterpret_cast<const char*>(Copy.Memory()), static_cast<size_t>(Copy.Size())};
}

// Two trees: a length tree of codes 1 to 13 bits long (symbol K < 13 is K
// zeros and a one, so 11 takes 12 bits and 12 takes 13; with Complete,
// symbol 13 is 13 zeros, else no code is valid and every sequence is
// unmatched), and a distance tree of 64 6-bit codes. Then 'a', a copy whose
// length symbol is given by its bits, and 'b'.
std::string LongCodes(bool Complete, uint32_t LengthBits, int LengthBitCount) {
    TBitWriter W;
    W.Put(12, 8);
    for (uint32_t Length = 1; Length <= 12; ++Length)
        W.Put(Length - 1, 8);
    W.Put(Complete ? 0x1C : 0x0C, 8);
    W.Put(3, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8);
    W.Put(1, 1).Put('a', 8);
    W.Put(0, 1).Put(0, 6).Put(Reverse(63, 6), 6).Put(LengthBits, LengthBitCount);
    return W.Put(1, 1).Put('b', 8).Data();
}

std::vector<TStreamCase> StreamCases() {
    const std::string Digits130 = [] {
        std::string S;
        while (S.size() < 130)
            S += "0123456789";
        return S;
    }();
    return {
        {"shrink_strings", 1, Shrunk({'a', 'b', 257, 259}), "abababa"},
        {"shrink_code_not_yet_defined", 1, Shrunk({'a', 257}), "aaa"},
        {"shrink_code_size_13", 1, Widened(13), "aa"},
        // 256,1 makes the next code 10 bits wide.
        {"shrink_code_size_increase", 1,
         TBitWriter().Put('a', 9).Put(256, 9).Put(1, 9).Put('b', 10).Put(257, 10).Data(), "abab"},
        // 257 "ab" is the prefix of 259 "abc" and stays; 258 "ba" and 259
        // are freed, and the next string ("cd") takes the lowest, 258.
        {"shrink_partial_clear", 1, Shrunk({'a', 'b', 257, 'c', 256, 2, 'd', 258, 257}),
         "ababcdcdab"},
        {"reduce_escaped_144", 2, Reduced("x\x90\x00y"s), "x\x90y"},
        // Factor 4: V = 0x03 (length 3 + 3, distance high 0), distance 2 + 1.
        {"reduce_overlapping_copy", 5, Reduced("abc\x90\x03\x02"s), "abcabcabc"},
        // Factor 1: length 0x7F plus the next byte (10), then + 3.
        {"reduce_long_copy", 2, Reduced("z\x90\x7F\x0A\x00"s), "z" + std::string(140, 'z')},
        {"reduce_copy_before_start", 5, Reduced("\x90\x01\x09q"s), std::string(4, '\0') + "q"},
        {"reduce_follower_set", 2,
         TBitWriter().Put(0, 6 * 255).Put(2, 6).Bytes("AB").Put(0, 1).Put(1, 1).Put('C', 8).Data(),
         "BC"},
        ImplodeCase("implode_2trees_min_length_2", TImplode(false, false).Literal('a').Match(1, 2),
                    "aaa"),
        ImplodeCase("implode_3trees_min_length_3", TImplode(true, false).Literal('a').Match(1, 3),
                    "aaaa"),
        ImplodeCase("implode_long_length", TImplode(false, false).Literal('a').Match(1, 70),
                    std::string(71, 'a')),
        ImplodeCase("implode_4k_6_low_bits",
                    TImplode(false, false).Literals(Digits130).Match(66, 3), Digits130 + "456"),
        ImplodeCase("implode_8k_7_low_bits", TImplode(true, true).Literals(Digits130).Match(130, 3),
                    Digits130 + "012"),
        {"implode_13_bit_code", 6, LongCodes(true, 0, 13), std::string(16, 'a') + "b"},
        {"implode_12_bit_code", 6, LongCodes(true, 1u << 11, 12), std::string(14, 'a') + "b"},
        {"implode_unmatched_code_is_symbol_0", 6, LongCodes(false, 0x1FFF, 13), "aaab"},
        ImplodeCase("implode_copy_before_start", TImplode(false, false).Literal('a').Match(66, 3),
                    "a" + std::string(3, '\0')),
    };
}

class LegacyStreams : public ::testing::TestWithParam<TStreamCase> {};

TEST_P(LegacyStreams, DecodeToTheExpectedBytes) {
    const TStreamCase& C = GetParam();
    TMemoryStream Out;
    EXPECT_EQ(Decode(C, static_cast<int64_t>(C.Expected.size()), &Out), C.Expected);
}

// Output of every method goes to the destination from its start, whatever
// it held before; reducing and imploding stop at the uncompressed size.
TEST_P(LegacyStreams, WriteFromTheDestinationsStart) {
    const TStreamCase& C = GetParam();
    TMemoryStream Out;
    const std::string Old(C.Expected.size() + 4, '#');
    Out.WriteBuffer(Old.data(), static_cast<int64_t>(Old.size()));
    if (C.Method == 1) Out.Seek(0, soBeginning);
    const std::string Got = Decode(C, static_cast<int64_t>(C.Expected.size()) - 1, &Out);
    const std::string Want =
        C.Method == 1 ? C.Expected : C.Expected.substr(0, C.Expected.size() - 1);
    EXPECT_EQ(Got.substr(0, Want.size()), Want);
}

INSTANTIATE_TEST_SUITE_P(Hand, LegacyStreams, ::testing::ValuesIn(StreamCases()),
                         [](const auto& Info) { return Info.param.Name; });

// Streams that would index outside the decoders' tables.
std::vector<TStreamCase> HostileCases() {
    TBitWriter TooManySymbols;
    TooManySymbols.Put(4, 8); // five runs of 16 symbols: 80 > 64
    for (int I = 0; I < 5; ++I)
        TooManySymbols.Put(0xF3, 8);
    return {
        {"shrink_code_size_14", 1, Widened(14), "a"},
        // The first code is a free one; naming it again refers to itself.
        {"shrink_prefix_cycle", 1, Shrunk({300, 300}), ","},
        {"reduce_33_followers", 2, TBitWriter().Put(33, 6).Put(0, 8 * 40).Data(), ""},
        {"implode_80_length_symbols", 6, TooManySymbols.Data() + std::string(100, '\0'), ""},
    };
}

class LegacyHostile : public ::testing::TestWithParam<TStreamCase> {};

// What was decoded before the error still reaches the destination.
TEST_P(LegacyHostile, FailWithInvalidData) {
    TMemoryStream Out;
    EXPECT_THROW(Decode(GetParam(), 1000, &Out), EAbZipInvalid);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(Out.Memory()), static_cast<size_t>(Out.Size())),
        GetParam().Expected);
}

TEST(LegacyReduce, RefusesFactorsOutside1To4) {
    TMemoryStream In, Out;
    TAbUnzipHelper Helper(&In, &Out);
    EXPECT_THROW(Helper.Unreduce(0), EAbZipInvalidFactor);
    EXPECT_THROW(Helper.Unreduce(5), EAbZipInvalidFactor);
}

INSTANTIATE_TEST_SUITE_P(Hand, LegacyHostile, ::testing::ValuesIn(HostileCases()),
                         [](const auto& Info) { return Info.param.Name; });

// The entries of a shared legacy archive as written: local headers one after
// another.
std::vector<TZipEntryDef> EntriesOf(const std::string& Archive) {
    const std::string Zip = ReadBytes(TestData(Archive));
    const auto* P = reinterpret_cast<const uint8_t*>(Zip.data());
    std::vector<TZipEntryDef> Entries;
    for (size_t At = 0; At + 30 <= Zip.size() && GetLE32(P + At) == 0x04034B50;) {
        const size_t Name = At + 30, Extra = Name + GetLE16(P + At + 26);
        const size_t Data = Extra + GetLE16(P + At + 28);
        TZipEntryDef E;
        E.RawName = Zip.substr(Name, Extra - Name);
        E.Data = Zip.substr(Data, GetLE32(P + At + 18));
        E.Flags = GetLE16(P + At + 6);
        E.Method = GetLE16(P + At + 8);
        E.CentralCrc = GetLE32(P + At + 14);
        E.CentralUncompressedSize = GetLE32(P + At + 22);
        E.LocalLikeCentral = true;
        Entries.push_back(E);
        At = Data + E.Data.size();
    }
    return Entries;
}

struct TDamage {
    std::string Archive;
    std::string Kind; // "cut" or "flip"
};

class LegacyDamaged : public ::testing::TestWithParam<TDamage> {};

TEST_P(LegacyDamaged, IsReportedAsAFailure) {
    std::vector<TZipEntryDef> Entries = EntriesOf(GetParam().Archive);
    ASSERT_FALSE(Entries.empty());
    for (TZipEntryDef& E : Entries) {
        if (GetParam().Kind == "cut")
            E.Data.resize(E.Data.size() / 2);
        else
            for (size_t I = E.Data.size() / 3; I < E.Data.size(); I += 101)
                E.Data[I] ^= 0x10;
    }
    TTempDir Dir;
    WriteBytes(Dir / "damaged.zip", BuildZip(Entries));
    TAbUnZipper U(nullptr);
    U.SetExtractOptions({eoCreateDirs, eoRestorePath});
    std::map<std::string, int32_t> Failed;
    U.OnProcessItemFailure = [&](TAbBaseBrowser*, TAbArchiveItem* Item, TAbProcessType,
                                 TAbErrorClass, int32_t Code) { Failed[Item->FileName()] = Code; };
    U.SetFileName(Dir / "damaged.zip");
    U.SetBaseDirectory(Dir.Path());
    U.ExtractFiles("*.*");
    for (const TZipEntryDef& E : Entries)
        EXPECT_EQ(Failed.count(E.RawName), 1u) << E.RawName;
}

std::vector<TDamage> DamageCases() {
    std::vector<TDamage> Cases;
    for (const char* Archive :
         {"legacy_implode_4k_2trees.zip", "legacy_implode_4k_3trees.zip",
          "legacy_implode_8k_2trees.zip", "legacy_implode_8k_3trees.zip", "legacy_reduce1.zip",
          "legacy_reduce2.zip", "legacy_reduce3.zip", "legacy_reduce4.zip", "legacy_shrink.zip",
          "legacy_zip2_implode.zip", "legacy_zip2_reduce.zip", "legacy_zip2_shrink.zip"})
        for (const char* Kind : {"cut", "flip"})
            Cases.push_back({Archive, Kind});
    return Cases;
}

INSTANTIATE_TEST_SUITE_P(Corpus, LegacyDamaged, ::testing::ValuesIn(DamageCases()),
                         [](const auto& Info) {
                             std::string Name = Info.param.Archive + "_" + Info.param.Kind;
                             for (char& C : Name)
                                 if (!isalnum(static_cast<unsigned char>(C))) C = '_';
                             return Name;
                         });

// A destination that records where each write went.
class TWriteLog : public TMemoryStream {
public:
    int64_t Write(const void* Buffer, int64_t Count) override {
        Writes.emplace_back(Position(), Count);
        return TMemoryStream::Write(Buffer, Count);
    }
    std::vector<std::pair<int64_t, int64_t>> Writes;
};

std::string Pattern(size_t Size) {
    std::string S(Size, '\0');
    for (size_t I = 0; I < Size; ++I)
        S[I] = static_cast<char>(I * 7 + I / 251);
    return S;
}

void WriteAll(TabSlidingWindowStream& W, const std::string& Data) {
    for (size_t At = 0; At < Data.size(); At += 5000)
        W.WriteBuffer(Data.data() + At,
                      static_cast<int64_t>(std::min<size_t>(5000, Data.size() - At)));
}

// After Size bytes the window holds 32768 bytes plus the part of the newest
// 8192-byte chunk: they can be read back, the byte before them cannot.
class SlidingWindowHistory : public ::testing::TestWithParam<int64_t> {};

TEST_P(SlidingWindowHistory, KeepsTheRecentBytes) {
    const int64_t Size = GetParam();
    const std::string Data = Pattern(static_cast<size_t>(Size));
    TWriteLog Dst;
    {
        TabSlidingWindowStream W(&Dst);
        WriteAll(W, Data);
        const int64_t Oldest = std::max<int64_t>(Size - 32768 - Size % 8192, -32768);
        EXPECT_THROW(W.Seek(Oldest - 1, soBeginning), Exception);
        ASSERT_EQ(W.Seek(Oldest, soBeginning), Oldest);
        std::string Back(static_cast<size_t>(Size - Oldest), '\0');
        W.ReadBuffer(Back.data(), Size - Oldest);
        const std::string Zeros(static_cast<size_t>(std::max<int64_t>(-Oldest, 0)), '\0');
        EXPECT_EQ(Back, Zeros + Data.substr(static_cast<size_t>(std::max<int64_t>(Oldest, 0))));
        // A flush part way writes out what is held; what follows is
        // written after it, never again.
        W.Flush();
        W.Seek(0, soEnd);
        W.WriteBuffer("tail", 4);
    }
    int64_t Next = 0;
    for (auto [At, Count] : Dst.Writes) {
        EXPECT_EQ(At, Next);
        Next = At + Count;
    }
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(Dst.Memory()), static_cast<size_t>(Dst.Size())),
        Data + "tail");
}

INSTANTIATE_TEST_SUITE_P(Sizes, SlidingWindowHistory,
                         ::testing::Values(10, 32768, 100000, 8192 * 12, 8192 * 12 + 8191));

// A destination whose seeks or writes fail once armed.
class TBrokenStream : public TMemoryStream {
public:
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        return Armed && BrokenSeek ? -1 : TMemoryStream::Seek(Offset, Origin);
    }
    int64_t Write(const void* Buffer, int64_t Count) override {
        return Armed && !BrokenSeek ? 0 : TMemoryStream::Write(Buffer, Count);
    }
    bool Armed = false;
    bool BrokenSeek = false;
};

struct TWindowMisuse {
    std::string Name;
    void (*Act)(TabSlidingWindowStream&);
    std::string Message;
    bool BrokenDestination = false;
    bool BrokenSeek = false;
};

class SlidingWindowErrors : public ::testing::TestWithParam<TWindowMisuse> {};

TEST_P(SlidingWindowErrors, RaiseTheirTexts) {
    TBrokenStream Dst;
    Dst.BrokenSeek = GetParam().BrokenSeek;
    TabSlidingWindowStream W(&Dst);
    W.WriteBuffer("0123456789", 10);
    Dst.Armed = GetParam().BrokenDestination;
    try {
        GetParam().Act(W);
        FAIL() << "no error";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), GetParam().Message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Misuse, SlidingWindowErrors,
    ::testing::Values(
        TWindowMisuse{"write_not_at_end",
                      [](TabSlidingWindowStream& W) {
                          W.Seek(5, soBeginning);
                          W.Write("x", 1);
                      },
                      "TabSlidingWindowStream.Write: Not at end of stream"},
        TWindowMisuse{"invalid_origin",
                      [](TabSlidingWindowStream& W) { W.Seek(0, static_cast<TSeekOrigin>(3)); },
                      "TabSlidingWindowStream.Seek: invalid origin"},
        TWindowMisuse{"beyond_the_end", [](TabSlidingWindowStream& W) { W.Seek(1, soEnd); },
                      "TabSlidingWindowStream.Seek: invalid new position"},
        TWindowMisuse{"destination_seek_fails", [](TabSlidingWindowStream& W) { W.Flush(); },
                      "TabSlidingWindowStream.bsWriteChunk: seek failed", true, true},
        TWindowMisuse{"destination_write_fails", [](TabSlidingWindowStream& W) { W.Flush(); },
                      "TabSlidingWindowStream.bsWriteChunk: write failed", true, false}),
    [](const auto& Info) { return Info.param.Name; });

} // namespace
