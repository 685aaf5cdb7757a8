// Reading ZIP archives: the end-record search, every shared test archive (one
// test case each) against its manifest, archives made by Info-ZIP and 7-Zip at
// test time, Zip64, name decoding for each charset rule, and damaged input.
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "archive/AbZipTyp.h"
#include "platform/FileSystem.h"
#include "platform/UserInterface.h"
#include "runtime/CodePages.h"
#include "runtime/Text.h"
#include "support/CorpusArchives.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

class ZipRead : public ::testing::Test {
protected:
    void SetUp() override { SetSystemCodePages({1252, 437}); }
};

// An archive held in memory.
struct TMemArchive {
    explicit TMemArchive(std::string Bytes)
        : Data(std::move(Bytes)), Stream(Data.data(), static_cast<int64_t>(Data.size())) {}
    std::string Data;
    TReadOnlyMemoryStream Stream;
};

std::unique_ptr<TAbZipArchive> LoadBytes(TMemArchive& Mem) {
    auto Archive = std::make_unique<TAbZipArchive>(&Mem.Stream, "mem.zip");
    Archive->Load();
    return Archive;
}

std::unique_ptr<TAbZipArchive> LoadFile(const std::string& FileName) {
    auto Archive = std::make_unique<TAbZipArchive>(FileName, fmOpenRead | fmShareDenyNone);
    Archive->Load();
    return Archive;
}

std::vector<std::string> Names(const TAbZipArchive& A) {
    std::vector<std::string> Result;
    for (int32_t I = 0; I < A.Count(); ++I)
        Result.push_back(A.ZipItems(I)->FileName());
    return Result;
}

// The CRC-32 column of 7-Zip's technical listing, in archive order ("" for folders).
std::vector<std::string> SevenZipCrcs(const std::string& FileName) {
    std::string Out;
    Shell("7zz l -slt -- " + Quote(FileName) + " 2>/dev/null", &Out);
    std::vector<std::string> Crcs;
    std::istringstream In(Out);
    std::string Line;
    bool InItems = false;
    while (std::getline(In, Line)) {
        if (Line == "----------") InItems = true;
        if (InItems && Line.rfind("CRC = ", 0) == 0) Crcs.push_back(Line.substr(6));
    }
    return Crcs;
}

std::string Hex8(uint32_t V) {
    return Format("%08X", V);
}

// An end record with a comment.
std::string EndRecord(const std::string& Comment, uint16_t DeclaredLength) {
    return Le32(0x06054B50) + Le16(0) + Le16(0) + Le16(0) + Le16(0) + Le32(0) + Le32(0) +
           Le16(DeclaredLength) + Comment;
}

// Searches Bytes; the stream ends at the record, or where it was after a
// full search (a file too short for any record leaves it anywhere).
int64_t FindIn(const std::string& Bytes, int64_t StartPos = 0) {
    TReadOnlyMemoryStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    S.Seek(StartPos, soBeginning);
    int64_t Result = FindEndOfCentralDirectory(&S);
    if (Result >= 0) {
        EXPECT_EQ(S.Position(), Result);
    } else if (Bytes.size() >= 22) {
        EXPECT_EQ(S.Position(), StartPos);
    }
    return Result;
}

// ---------------------------------------------------------------------------
// End-of-central-directory search

TEST_F(ZipRead, EndRecordAtTheVeryEndIsFoundDirectly) {
    std::string Bytes = RandomBytes(3000, 1) + EndRecord("", 0);
    EXPECT_EQ(FindIn(Bytes, 17), 3000);
}

TEST_F(ZipRead, EndRecordBeforeACommentIsFoundInTheWindows) {
    for (size_t CommentLength : {1u, 400u, 489u, 490u, 491u, 500u, 1000u, 2000u, 65535u}) {
        std::string Bytes = RandomBytes(5000, 2) + EndRecord(std::string(CommentLength, 'c'),
                                                             static_cast<uint16_t>(CommentLength));
        EXPECT_EQ(FindIn(Bytes), 5000) << CommentLength;
    }
}

TEST_F(ZipRead, FakeRecordInTheCommentIsSkippedWithinTheSameWindow) {
    // The comment holds "PK 05 06" whose declared comment runs past the end;
    // the real record lies a few bytes before it, in the same 512-byte window.
    std::string Fake = EndRecord("", 0x7FFF);
    std::string Comment = "note " + Fake + " end";
    std::string Bytes =
        RandomBytes(100, 3) + EndRecord(Comment, static_cast<uint16_t>(Comment.size()));
    EXPECT_EQ(FindIn(Bytes), 100);
    // The shared archive with the real record in the second window.
    auto A = LoadFile(TestData("comment_fake_eocd.zip"));
    EXPECT_EQ(Names(*A), std::vector<std::string>{"c/readme.txt"});
}

TEST_F(ZipRead, RecordNearestTheEndWhoseCommentFitsWins) {
    // A record inside another's comment, whose own (empty) comment fits too.
    std::string Inner = EndRecord("", 0);
    std::string Bytes = RandomBytes(50, 4) + EndRecord(Inner + "xy", 24);
    EXPECT_EQ(FindIn(Bytes), 72);
}

TEST_F(ZipRead, SearchGoesBackToTheFirstByte) {
    std::string Junk(70000, 'j');
    EXPECT_EQ(FindIn(EndRecord("", 0) + Junk), 0);
    EXPECT_EQ(FindIn(std::string(70000, 'j'), 33), -1);
    EXPECT_EQ(FindIn(std::string(21, 'P'), 5), -1);
    EXPECT_EQ(FindIn("", 0), -1);
    // A record cut short at the end does not count.
    EXPECT_EQ(FindIn(RandomBytes(100, 5) + EndRecord("", 0).substr(0, 21)), -1);
}

// ---------------------------------------------------------------------------
// The shared archives against their manifest

class ZipReadCorpus : public ::testing::TestWithParam<TCorpusArchive> {
protected:
    void SetUp() override { SetSystemCodePages({1252, 437}); }
};

TEST_P(ZipReadCorpus, ListsExactlyAsTheManifestSays) {
    const TCorpusArchive& Archive = GetParam();
    const std::vector<TManifestLine>& Lines = Archive.Lines;
    const std::string Path = TestData(Archive.Name);
    switch (Archive.Fault) {
    case TArchiveFault::NoEndRecord: {
        TAbZipArchive A(Path, fmOpenRead | fmShareDenyNone);
        EXPECT_THROW(A.Load(), EAbZipInvalid);
        EXPECT_EQ(A.Status(), asInvalid);
        return;
    }
    case TArchiveFault::UnadjustedStub: {
        // The first directory entry is not where the end record says; the
        // archive stays usable.
        TAbZipArchive A(Path, fmOpenRead | fmShareDenyNone);
        EXPECT_THROW(A.Load(), EAbZipInvalid);
        EXPECT_EQ(A.Status(), asIdle);
        EXPECT_EQ(A.Count(), 0);
        return;
    }
    case TArchiveFault::EmptyFile: EXPECT_EQ(LoadFile(Path)->Count(), 0); return;
    case TArchiveFault::None: break;
    }
    auto A = LoadFile(Path);
    if (Lines[0].Kind == "count") {
        // Large archives list a count and spot checks.
        EXPECT_EQ(A->Count(), std::stoi(Lines[0].Size));
        for (size_t I = 1; I < Lines.size(); ++I) {
            int32_t Index = A->FindFile(Lines[I].Entry);
            ASSERT_GE(Index, 0) << Lines[I].Entry;
            EXPECT_EQ(std::to_string(A->ZipItems(Index)->UncompressedSize()), Lines[I].Size);
        }
        return;
    }
    ASSERT_EQ(A->Count(), static_cast<int32_t>(Lines.size()));
    // The manifest has no CRC column: 7-Zip's listing is the reference.
    if (const std::string Missing = MissingTool({"7zz"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    std::vector<std::string> Crcs = SevenZipCrcs(Path);
    ASSERT_EQ(Crcs.size(), Lines.size());
    for (size_t I = 0; I < Lines.size(); ++I) {
        const TAbZipItem* Item = A->ZipItems(static_cast<int32_t>(I));
        EXPECT_EQ(Item->FileName(), Lines[I].Entry);
        EXPECT_EQ(Item->IsDirectory(), Lines[I].Kind == "dir") << Lines[I].Entry;
        if (Lines[I].Kind == "file") {
            EXPECT_EQ(std::to_string(Item->UncompressedSize()), Lines[I].Size) << Lines[I].Entry;
        }
        EXPECT_EQ(Item->CompressionMethod(), MethodNumber(Lines[I])) << Lines[I].Entry;
        EXPECT_EQ(Crcs[I].empty() ? std::string("00000000") : Crcs[I], Hex8(Item->CRC32()))
            << Lines[I].Entry;
        EXPECT_EQ(Item->Action(), aaNone);
    }
    EXPECT_FALSE(A->IsDirty());
}

INSTANTIATE_TEST_SUITE_P(SharedArchives, ZipReadCorpus, ::testing::ValuesIn(SharedZipArchives()),
                         CorpusCaseName);

// Enough of the corpus is listed entry by entry: a manifest that cannot be
// read, or a table that marks too many archives as failing, would leave
// little checked.
TEST(ZipReadCorpusManifest, HoldsEnoughArchivesToListEntryByEntry) {
    ASSERT_FALSE(ReadManifest().empty());
    const std::vector<TCorpusArchive> Archives = SharedZipArchives();
    EXPECT_GE(std::count_if(Archives.begin(), Archives.end(),
                            [](const TCorpusArchive& A) {
                                return A.Fault == TArchiveFault::None && A.Lines[0].Kind != "count";
                            }),
              40);
}

TEST_F(ZipRead, SelfExtractorStubAndSplitSet) {
    auto Elf = LoadFile(TestData("sfx_elf_fixed.zip"));
    EXPECT_TRUE(Elf->IsExecutable());
    EXPECT_EQ(Elf->StubSize(), 1000u);
    auto Plain = LoadFile(TestData("zip_store.zip"));
    EXPECT_FALSE(Plain->IsExecutable());
    EXPECT_EQ(Plain->StubSize(), 0xFFFFFFFFu);
    EXPECT_FALSE(Plain->Spanned());

    auto Split = LoadFile(TestData("split_64k.zip"));
    EXPECT_TRUE(Split->Spanned());
    EXPECT_EQ(Split->Info().DiskNumber(), 2u);
    EXPECT_EQ(Names(*Split),
              (std::vector<std::string>{"split/", "split/part.txt", "split/payload.bin"}));
    // A split set needs the archive's own file stream.
    TFileStream Caller(TestData("split_64k.zip"), fmOpenRead | fmShareDenyNone);
    TAbZipArchive FromStream(&Caller, TestData("split_64k.zip"));
    EXPECT_THROW(FromStream.Load(), EAbZipBadSpanStream);
}

TEST_F(ZipRead, ItemPropertiesFromTheHeaders) {
    auto A = LoadFile(TestData("zip_deflate_9_X.zip"));
    const TAbZipItem* Readme = A->ZipItems(A->FindFile("m/docs/readme.txt"));
    EXPECT_EQ(Readme->DeflationOption(), doMaximum);
    EXPECT_EQ(Readme->HostSystem(), 3);
    EXPECT_GT(Readme->CompressionRatio(), 50.0);
    EXPECT_EQ(Readme->DiskFileName(), "m/docs/readme.txt");
    EXPECT_EQ(Readme->NativeFileAttributes(), 0u);
    auto Implode = LoadFile(TestData("legacy_implode_8k_3trees.zip"));
    EXPECT_EQ(Implode->ZipItems(0)->DictionarySize(), ds8K);
    EXPECT_EQ(Implode->ZipItems(0)->ShannonFanoTreeCount(), 3);
    EXPECT_EQ(Implode->ZipItems(0)->DeflationOption(), doInvalid);
    auto Comment = LoadFile(TestData("comment_1000.zip"));
    EXPECT_EQ(Comment->ZipfileComment().size(), 1000u);
    auto Enc = LoadFile(TestData("enc_zipcrypto.zip"));
    EXPECT_TRUE(Enc->ZipItems(Enc->FindFile("m/docs/readme.txt"))->IsEncrypted());
    EXPECT_FALSE(Enc->ZipItems(0)->IsEncrypted());
}

// A stream that hands out at most a few bytes per read.
class TTrickle : public TStream {
public:
    explicit TTrickle(std::string Data) : FData(std::move(Data)) {}
    int64_t Read(void* Buffer, int64_t Count) override {
        int64_t N = std::min<int64_t>({Count, 3, static_cast<int64_t>(FData.size()) - FPos});
        if (N <= 0) return 0;
        std::memcpy(Buffer, FData.data() + FPos, static_cast<size_t>(N));
        FPos += N;
        return N;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        FPos = Origin == soBeginning ? Offset
               : Origin == soCurrent ? FPos + Offset
                                     : static_cast<int64_t>(FData.size()) + Offset;
        return FPos;
    }

private:
    std::string FData;
    int64_t FPos = 0;
};

TEST_F(ZipRead, SourceDeliveringAFewBytesAtATimeGivesTheSameListing) {
    for (const char* Name :
         {"names_unicode.zip", "zip64_forced_fz.zip", "comment_fake_eocd.zip", "dd_pipe.zip"}) {
        auto Whole = LoadFile(TestData(Name));
        TTrickle Slow(ReadBytes(TestData(Name)));
        TAbZipArchive A(&Slow, Name);
        A.Load();
        EXPECT_EQ(Names(A), Names(*Whole)) << Name;
        EXPECT_EQ(A.ZipItems(A.Count() - 1)->CRC32(), Whole->ZipItems(Whole->Count() - 1)->CRC32());
    }
}

// ---------------------------------------------------------------------------
// Archives made by the tools users have

TEST_F(ZipRead, InfoZipAndSevenZipArchivesMadeNow) {
    if (const std::string Missing = MissingTool({"zip", "7zz"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    TTempDir Dir;
    std::string Src = Dir / "src";
    CreateDir(Src);
    CreateDir(Src + "/sub");
    CreateDir(Src + "/empty");
    WriteBytes(Src + "/a.txt", std::string(5000, 'a'));
    WriteBytes(Src + "/sub/b.bin", RandomBytes(3000, 9));
    WriteBytes(Src + "/sub/zero", "");
    WriteBytes(Src + "/naïve €.txt", "x");
    ASSERT_EQ(Shell("cd " + Quote(Src) +
                    " && zip -q -r ../info.zip . && 7zz a -tzip ../seven.zip . >/dev/null"),
              0);
    for (const char* Name : {"info.zip", "seven.zip"}) {
        auto A = LoadFile(Dir / Name);
        std::vector<std::string> Got = Names(*A);
        std::sort(Got.begin(), Got.end());
        EXPECT_EQ(Got, (std::vector<std::string>{"a.txt", "empty/", "naïve €.txt", "sub/",
                                                 "sub/b.bin", "sub/zero"}))
            << Name;
        std::vector<std::string> Crcs = SevenZipCrcs(Dir / Name);
        ASSERT_EQ(Crcs.size(), static_cast<size_t>(A->Count()));
        for (int32_t I = 0; I < A->Count(); ++I) {
            const TAbZipItem* Item = A->ZipItems(I);
            if (!Item->IsDirectory()) {
                EXPECT_EQ(Crcs[static_cast<size_t>(I)], Hex8(Item->CRC32()));
            }
            EXPECT_EQ(Item->IsDirectory(), EndsStr("/", Item->FileName()));
        }
        EXPECT_EQ(A->ZipItems(A->FindFile("a.txt"))->UncompressedSize(), 5000);
    }
}

TEST_F(ZipRead, SplitSetMadeByInfoZipReadsAcrossSegments) {
    if (const std::string Missing = MissingTool({"zip"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    TTempDir Dir;
    std::string Payload = RandomBytes(150000, 11);
    WriteBytes(Dir / "payload.bin", Payload);
    WriteBytes(Dir / "small.txt", "small");
    ASSERT_EQ(
        Shell("cd " + Quote(Dir.Path()) + " && zip -q -0 -s 64k set.zip payload.bin small.txt"), 0);
    ASSERT_TRUE(Exists(Dir / "set.z01"));
    ASSERT_TRUE(Exists(Dir / "set.z02"));
    auto A = LoadFile(Dir / "set.zip");
    EXPECT_TRUE(A->Spanned());
    ASSERT_EQ(Names(*A), (std::vector<std::string>{"payload.bin", "small.txt"}));
    // Read the stored payload through the span stream: it starts on disk 0
    // and crosses into the later segments.
    auto* Span = dynamic_cast<TAbSpanReadStream*>(A->Stream());
    ASSERT_NE(Span, nullptr);
    const TAbZipItem* Item = A->ZipItems(0);
    Span->SeekImage(Item->DiskNumberStart(), Item->RelativeOffset());
    TAbZipLocalFileHeader Local;
    Local.LoadFromStream(Span);
    std::string Data(static_cast<size_t>(Item->CompressedSize()), '\0');
    Span->ReadBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    EXPECT_TRUE(Data == Payload);
}

// ---------------------------------------------------------------------------
// Zip64

TEST_F(ZipRead, Zip64ArchiveWithMoreThan65535Entries) {
    if (const std::string Missing = MissingTool({"python3"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    TTempDir Dir;
    ASSERT_EQ(Shell("python3 -c \"import zipfile\nwith zipfile.ZipFile('" + Dir / "many.zip" +
                    "','w') as z:\n for i in range(70000): z.writestr('f/%06d' % i, '' if i % 1000 "
                    "else str(i))\""),
              0);
    auto A = LoadFile(Dir / "many.zip");
    EXPECT_TRUE(A->Info().IsZip64());
    EXPECT_EQ(A->Info().TotalEntries(), 70000);
    ASSERT_EQ(A->Count(), 70000);
    EXPECT_EQ(A->ZipItems(69999)->FileName(), "f/069999");
    EXPECT_EQ(A->ZipItems(A->FindFile("F/069000"))->UncompressedSize(), 5);
}

TEST_F(ZipRead, InfoZipForcedZip64Fields) {
    if (const std::string Missing = MissingTool({"zip"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    TTempDir Dir;
    WriteBytes(Dir / "a.txt", std::string(12345, 'q'));
    ASSERT_EQ(Shell("cd " + Quote(Dir.Path()) + " && zip -q -fz z.zip a.txt"), 0);
    auto A = LoadFile(Dir / "z.zip");
    ASSERT_EQ(A->Count(), 1);
    EXPECT_EQ(A->ZipItems(0)->UncompressedSize(), 12345);
    EXPECT_TRUE(A->ZipItems(0)->ExtraField().Has(Ab_Zip64SubfieldID));
}

TEST_F(ZipRead, Zip64SizesOffsetAndDiskFromTheExtraField) {
    TZipEntryDef E;
    E.RawName = "huge.bin";
    E.Data = "tiny";
    E.CentralCompressedSize = 0xFFFFFFFF;
    E.CentralUncompressedSize = 0xFFFFFFFF;
    E.CentralOffset = 0xFFFFFFFF;
    // The compressed size must fit in the archive; the uncompressed one need not.
    E.CentralExtra = ExtraSubfield(1, Le64(5ull << 30) + Le64(4) + Le64(0));
    TMemArchive Mem(BuildZip({E}));
    auto A = LoadBytes(Mem);
    EXPECT_EQ(A->ZipItems(0)->UncompressedSize(), int64_t{5} << 30);
    EXPECT_EQ(A->ZipItems(0)->CompressedSize(), 4);
    EXPECT_EQ(A->ZipItems(0)->RelativeOffset(), 0);

    // A subfield too short for what the header needs.
    E.CentralExtra = ExtraSubfield(1, Le64(5ull << 30));
    TMemArchive Short(BuildZip({E}));
    TAbZipArchive B(&Short.Stream, "short.zip");
    try {
        B.Load();
        FAIL() << "no error";
    } catch (const EReadError& Err) {
        EXPECT_EQ(Err.Message(), "Stream-Lesefehler");
    }
}

TEST_F(ZipRead, Zip64ValuesFollowTheSettersBothWays) {
    TZipEntryDef E;
    E.RawName = "a.bin";
    E.Data = "data";
    TMemArchive Mem(BuildZip({E}));
    auto A = LoadBytes(Mem);
    TAbZipItem* Item = A->ZipItems(0);
    const int64_t Big = int64_t{5} << 30;
    Item->SetUncompressedSize(Big);
    Item->SetRelativeOffset(0xFFFFFFFF); // exactly the maximum needs the subfield too
    Item->SetDiskNumberStart(0x12345);
    EXPECT_EQ(Item->UncompressedSize(), Big);
    EXPECT_EQ(Item->CompressedSize(), 4);
    EXPECT_EQ(Item->RelativeOffset(), 0xFFFFFFFF);
    EXPECT_EQ(Item->DiskNumberStart(), 0x12345u);
    EXPECT_EQ(Item->ItemInfo().UncompressedSize(), 0xFFFFFFFFu);
    EXPECT_EQ(Item->ItemInfo().RelativeOffset(), 0xFFFFFFFFu);
    EXPECT_EQ(Item->ItemInfo().DiskNumberStart(), 0xFFFF);
    const uint8_t* Data = nullptr;
    uint16_t Size = 0;
    ASSERT_TRUE(Item->ExtraField().Get(Ab_Zip64SubfieldID, Data, Size));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Data), Size),
              Le64(Big) + Le64(0xFFFFFFFF) + Le32(0x12345));

    Item->SetUncompressedSize(7);
    Item->SetRelativeOffset(100);
    Item->SetDiskNumberStart(2);
    EXPECT_EQ(Item->UncompressedSize(), 7);
    EXPECT_EQ(Item->RelativeOffset(), 100);
    EXPECT_EQ(Item->DiskNumberStart(), 2u);
    EXPECT_EQ(Item->ItemInfo().UncompressedSize(), 7u);
    EXPECT_FALSE(Item->ExtraField().Has(Ab_Zip64SubfieldID));

    // A Zip64 entry as read: changing one value keeps the others.
    TZipEntryDef H;
    H.RawName = "huge.bin";
    H.Data = "tiny";
    H.CentralCompressedSize = 0xFFFFFFFF;
    H.CentralUncompressedSize = 0xFFFFFFFF;
    H.CentralExtra = ExtraSubfield(1, Le64(5ull << 30) + Le64(4)); // data that fits the archive
    TMemArchive HugeMem(BuildZip({H}));
    auto B = LoadBytes(HugeMem);
    TAbZipItem* Huge = B->ZipItems(0);
    Huge->LFHExtraField().Put(0x5455, "t", 1);
    Huge->SetRelativeOffset(int64_t{6} << 30);
    EXPECT_EQ(Huge->UncompressedSize(), int64_t{5} << 30);
    EXPECT_EQ(Huge->CompressedSize(), 4);
    EXPECT_EQ(Huge->RelativeOffset(), int64_t{6} << 30);
    ASSERT_TRUE(Huge->ExtraField().Get(Ab_Zip64SubfieldID, Data, Size));
    EXPECT_EQ(Size, 24);
}

TEST_F(ZipRead, RenamedItemKeepsItsStoredBytesDiskNameAndComment) {
    TZipEntryDef Ansi;
    Ansi.RawName = "caf\xE9.txt"; // the ANSI code page's bytes, from an NTFS host
    Ansi.VersionMadeBy = (11 << 8) | 20;
    Ansi.Data = "x";
    Ansi.Comment = "note \xE9";
    TZipEntryDef Back;
    Back.RawName = "dir\\plain.txt";
    Back.Data = "y";
    TMemArchive Mem(BuildZip({Ansi, Back}));
    auto A = LoadBytes(Mem);
    TAbZipItem* Cafe = A->ZipItems(0);
    EXPECT_EQ(Cafe->FileName(), "café.txt");
    EXPECT_EQ(Cafe->ItemInfo().RawFileName(), "caf\xE9.txt");
    EXPECT_EQ(Cafe->FileComment(), "note é");
    Cafe->SetFileName("tea.txt");
    EXPECT_EQ(Cafe->FileName(), "tea.txt");
    EXPECT_EQ(Cafe->RawFileName(), "tea.txt");
    EXPECT_EQ(Cafe->ItemInfo().RawFileName(), "caf\xE9.txt"); // the stored bytes until written
    EXPECT_EQ(Cafe->DiskFileName(), "café.txt");
    Cafe->SetFileComment("");
    EXPECT_EQ(Cafe->FileComment(), "");

    TAbZipItem* Plain = A->ZipItems(1);
    EXPECT_EQ(Plain->FileName(), "dir\\plain.txt");
    EXPECT_EQ(Plain->DiskFileName(), "dir/plain.txt");
    EXPECT_EQ(Plain->ItemInfo().RawFileName(), "dir\\plain.txt");
    EXPECT_EQ(Plain->FileComment(), "");
    EXPECT_EQ(Plain->ExtraField().Count(), 0);
    Plain->SetFileName("dir/moved.txt");
    EXPECT_EQ(Plain->ItemInfo().RawFileName(), "dir\\plain.txt");
    EXPECT_EQ(Plain->DiskFileName(), "dir/plain.txt");
}

TEST_F(ZipRead, BrokenZip64RecordsAreInvalid) {
    TZipEntryDef E;
    E.RawName = "a";
    E.Data = "a";
    TZipBuildOptions O;
    O.Zip64Records = true;
    std::string Good = BuildZip({E}, O);
    TMemArchive GoodMem(Good);
    EXPECT_EQ(LoadBytes(GoodMem)->Count(), 1);

    // No locator before the end record.
    std::string NoLocator = Good;
    size_t Loc = NoLocator.find(Le32(0x07064B50));
    NoLocator[Loc] = 'X';
    TMemArchive M1(NoLocator);
    TAbZipArchive A1(&M1.Stream, "x.zip");
    EXPECT_THROW(A1.Load(), EAbZipInvalid);

    // A Zip64 record with a wrong signature.
    std::string BadRecord = Good;
    BadRecord[BadRecord.find(Le32(0x06064B50))] = 'X';
    TMemArchive M2(BadRecord);
    TAbZipArchive A2(&M2.Stream, "x.zip");
    EXPECT_THROW(A2.Load(), EAbZipInvalid);

    // A locator pointing past the end: the record is cut short.
    std::string Far = Good;
    size_t OffsetAt = Far.find(Le32(0x07064B50)) + 8;
    Far.replace(OffsetAt, 8, Le64(Far.size() - 30));
    TMemArchive M3(Far);
    TAbZipArchive A3(&M3.Stream, "x.zip");
    EXPECT_THROW(A3.Load(), EReadError);
}

// ---------------------------------------------------------------------------
// Name decoding

TEST_F(ZipRead, DetectNameCharsetRules) {
    EXPECT_EQ(DetectNameCharset("plain.txt"), ncAscii);
    EXPECT_EQ(DetectNameCharset(""), ncAscii);
    EXPECT_EQ(DetectNameCharset("na\xC3\xAFve"), ncUtf8);
    EXPECT_EQ(DetectNameCharset("\xE6\x97\xA5\xF0\x9F\x98\x80"), ncUtf8);
    EXPECT_EQ(DetectNameCharset("\xC3\x41.txt"), ncAnsi); // a lead byte without its continuation
    EXPECT_EQ(DetectNameCharset("caf\xE9"), ncAnsi);      // sequence cut short at the end
    EXPECT_EQ(DetectNameCharset("\xC0\x80"), ncAnsi);     // C0 and C1 never lead
    EXPECT_EQ(DetectNameCharset("\xF5\x80\x80\x80"), ncAnsi); // past U+10FFFF
    EXPECT_EQ(DetectNameCharset("M\x81ller"), ncAnsi);        // a continuation byte alone
    EXPECT_EQ(DetectNameCharset("\xED\xA0\x80"), ncUtf8);     // surrogates are not rejected
}

TEST_F(ZipRead, LooksLikeOemTextTables) {
    EXPECT_TRUE(LooksLikeOemText("\x84\x94\x81.txt", 437)); // äöü in CP437
    EXPECT_FALSE(LooksLikeOemText("Gr\xF6\xDF"
                                  "e",
                                  437)); // ANSI letters
    EXPECT_FALSE(LooksLikeOemText("plain", 437));
    EXPECT_FALSE(LooksLikeOemText("\xB0\xB1", 437));  // box drawing: no letters at all
    EXPECT_FALSE(LooksLikeOemText("\x84\x94", 1252)); // no table for that page
    EXPECT_TRUE(LooksLikeOemText("\xA0\xA1", 866));   // Cyrillic in CP866
    EXPECT_FALSE(LooksLikeOemText("\xC0\xC1", 866));  // Cyrillic in CP1251
    EXPECT_TRUE(LooksLikeOemText("\x82\x83", 720));
    EXPECT_TRUE(LooksLikeOemText("\x80\x81", 737));
    EXPECT_TRUE(LooksLikeOemText("\x80\x95", 775));
    EXPECT_TRUE(LooksLikeOemText("\x9B\x9D", 850));
    EXPECT_TRUE(LooksLikeOemText("\x9F\xA0", 852));
    EXPECT_TRUE(LooksLikeOemText("\x82\x84", 855));
    EXPECT_TRUE(LooksLikeOemText("\x9E\x9F", 857));
    EXPECT_TRUE(LooksLikeOemText("\x80\x81", 862));
}

TZipEntryDef Named(const std::string& Raw, uint8_t Host, uint16_t Flags = 0) {
    TZipEntryDef E;
    E.RawName = Raw;
    E.Data = "x";
    E.VersionMadeBy = static_cast<uint16_t>(Host << 8 | 20);
    E.Flags = Flags;
    return E;
}

std::string UnicodePathExtra(const std::string& StoredBytes, const std::string& Utf8Name,
                             uint32_t CrcDelta = 0) {
    return ExtraSubfield(0x7075,
                         std::string(1, '\x01') + Le32(Crc32Of(StoredBytes) + CrcDelta) + Utf8Name);
}

std::string Utf16Extra(const std::u16string& Name, uint16_t CommentUnits = 0) {
    std::string Data =
        Le32(0x5843554E) + Le16(static_cast<uint16_t>(Name.size())) + Le16(CommentUnits);
    for (char16_t C : Name)
        Data += Le16(static_cast<uint16_t>(C));
    return ExtraSubfield(0x554E, Data);
}

TEST_F(ZipRead, NameDecodingFollowsEachCharsetRule) {
    SetSystemCodePages({1252, 850});
    std::vector<TZipEntryDef> E;
    E.push_back(Named("M\x81ller.txt", 0)); // CP437/850 bytes from MS-DOS
    E.push_back(Named("Gr\xF6\xDF"
                      "e.txt",
                      11));                        // ANSI letters from NTFS
    E.push_back(Named("\x84\x94\x81.txt", 3));     // OEM-looking bytes from Unix
    E.push_back(Named("na\xC3\xAFve.txt", 3));     // UTF-8 without the flag
    E.push_back(Named("\xC3\x41.txt", 11));        // invalid UTF-8: ANSI
    E.push_back(Named("\xC3\x41.txt", 3, 0x0800)); // flagged but invalid: replaced
    E.push_back(Named("Fa\xE7"
                      "ade.txt",
                      11));
    E.back().CentralExtra = UnicodePathExtra("Fa\xE7"
                                             "ade.txt",
                                             "Façade_ünïcödé.txt");
    E.push_back(Named("Na\xEFve.txt", 11));
    E.back().CentralExtra =
        UnicodePathExtra("Na\xEFve.txt", "ignored.txt", 1); // CRC does not match
    E.push_back(Named("fallback.txt", 0));
    E.back().CentralExtra = Utf16Extra(u"Ünïcode_utf16.txt");
    E.push_back(Named("commented.txt", 0));
    E.back().CentralExtra = Utf16Extra(u"ignored.txt", 3); // also announces a comment
    TMemArchive Mem(BuildZip(E));
    auto A = LoadBytes(Mem);
    EXPECT_EQ(Names(*A),
              (std::vector<std::string>{"Müller.txt", "Größe.txt", "äöü.txt", "naïve.txt", "ÃA.txt",
                                        "\xEF\xBF\xBD"
                                        "A.txt",
                                        "Façade_ünïcödé.txt", "Naïve.txt", "Ünïcode_utf16.txt",
                                        "commented.txt"}));
    EXPECT_EQ(A->ZipItems(0)->RawFileName(), "M\xC2\x81ller.txt"); // the first decoding, as ANSI
    EXPECT_EQ(A->ZipItems(6)->RawFileName(), "Façade.txt");
}

TEST_F(ZipRead, SameAnsiAndOemPagesSkipTheOemRule) {
    SetSystemCodePages({1252, 1252});
    TMemArchive Mem(BuildZip({Named("M\x81ller.txt", 0), Named("caf\xE9.txt", 0)}));
    auto A = LoadBytes(Mem);
    EXPECT_EQ(A->ZipItems(1)->FileName(), "café.txt");
    SetSystemCodePages({1252, 437});
    TMemArchive Mem2(BuildZip({Named("caf\x82.txt", 0)}));
    EXPECT_EQ(LoadBytes(Mem2)->ZipItems(0)->FileName(), "café.txt");
}

// ---------------------------------------------------------------------------
// Directories and attributes

TEST_F(ZipRead, DirectoriesAndNativeAttributes) {
    std::vector<TZipEntryDef> E;
    E.push_back(Named("docs/", 0));
    E.push_back(Named("flagged", 0));
    E.back().ExternalAttributes = 0x10;
    E.push_back(Named("unix644", 3));
    E.back().ExternalAttributes = 0x81A40000;
    E.push_back(Named("unix444", 3));
    E.back().ExternalAttributes = 0x81240000;
    E.push_back(Named("unixdir/", 3));
    E.back().ExternalAttributes = 0x41ED0010;
    E.push_back(Named("link", 3));
    E.back().ExternalAttributes = 0xA1FF0000;
    E.push_back(Named("dos", 0));
    E.back().ExternalAttributes = 0x21;
    E.push_back(Named("big-attr", 0));
    E.back().ExternalAttributes = 0x81240000; // above 0x1FFFF: Unix mode even from MS-DOS
    E.push_back(Named("win\\dir\\", 11));
    TMemArchive Mem(BuildZip(E));
    auto A = LoadBytes(Mem);
    std::vector<bool> Dirs;
    std::vector<uint32_t> Attrs;
    for (int32_t I = 0; I < A->Count(); ++I) {
        Dirs.push_back(A->ZipItems(I)->IsDirectory());
        Attrs.push_back(A->ZipItems(I)->NativeFileAttributes());
    }
    EXPECT_EQ(Dirs, (std::vector<bool>{true, true, false, false, true, false, false, false, true}));
    EXPECT_EQ(Attrs, (std::vector<uint32_t>{0, 0x10, 0, 0x01, 0x10, 0x04, 0x21, 0x01, 0}));
    EXPECT_EQ(A->ZipItems(8)->DiskFileName(), "win/dir/");
}

// ---------------------------------------------------------------------------
// Damaged input

TEST_F(ZipRead, DamagedArchivesGiveTheirErrors) {
    for (const char* Name : {"trunc_mid_cd.zip", "trunc_mid_data.zip", "garbage.zip"}) {
        TAbZipArchive A(TestData(Name), fmOpenRead | fmShareDenyNone);
        try {
            A.Load();
            FAIL() << Name;
        } catch (const EAbZipInvalid& E) {
            EXPECT_EQ(E.Message(), "Invalid file - not a PKZip file");
            EXPECT_EQ(E.ErrorCode, 24);
        }
        EXPECT_EQ(A.Status(), asInvalid);
        EXPECT_THROW(A.ExtractFiles("*.*"), EAbNoArchive);
    }
    TMemArchive Empty("");
    EXPECT_EQ(LoadBytes(Empty)->Count(), 0);
    TMemArchive Short(std::string(21, 'P'));
    TAbZipArchive S(&Short.Stream, "s.zip");
    EXPECT_THROW(S.Load(), EAbZipInvalid);
    for (uint32_t Seed = 1; Seed <= 20; ++Seed) {
        TMemArchive Random(RandomBytes(100 + Seed * 997, Seed));
        TAbZipArchive R(&Random.Stream, "r.zip");
        EXPECT_THROW(R.Load(), EAbZipInvalid) << Seed;
    }
}

TEST_F(ZipRead, BadCentralEntryKeepsWhatWasRead) {
    std::vector<TZipEntryDef> E = {Named("one", 0), Named("two", 0)};
    TZipBuildOptions More;
    More.TotalEntriesOverride = 4; // more entries than the directory holds
    TMemArchive Mem(BuildZip(E, More));
    TAbZipArchive A(&Mem.Stream, "m.zip");
    int Loads = 0;
    A.OnLoad = [&](TAbArchive*) { ++Loads; };
    EXPECT_THROW(A.Load(), EAbZipInvalid);
    EXPECT_EQ(Loads, 1);
    EXPECT_EQ(A.Status(), asIdle);
    EXPECT_EQ(Names(A), (std::vector<std::string>{"one", "two"}));

    TZipBuildOptions Elsewhere;
    Elsewhere.DirectoryOffsetOverride = 3;
    TMemArchive Mem2(BuildZip(E, Elsewhere));
    TAbZipArchive B(&Mem2.Stream, "m.zip");
    EXPECT_THROW(B.Load(), EAbZipInvalid);
    EXPECT_EQ(B.Count(), 0);
}

TEST_F(ZipRead, LoadCanBeAbortedFromTheProgressEvent) {
    TMemArchive Mem(BuildZip({Named("a", 0), Named("b", 0), Named("c", 0)}));
    TAbZipArchive A(&Mem.Stream, "m.zip");
    std::vector<int> Seen;
    A.OnArchiveProgress = [&](TAbArchive*, uint8_t P, bool& Abort) {
        Seen.push_back(P);
        Abort = P > 50;
    };
    EXPECT_THROW(A.Load(), EAbUserAbort);
    EXPECT_EQ(Seen, (std::vector<int>{33, 66}));
    EXPECT_EQ(A.Status(), asInvalid);
}

// Every prefix and many single-byte corruptions of a rich archive either
// load or fail with an engine or stream error; nothing else may happen.
TEST_F(ZipRead, TruncatedAndCorruptedArchivesNeverCrash) {
    std::vector<TZipEntryDef> E;
    E.push_back(Named("dir/", 3));
    E.push_back(Named("na\xC3\xAFve.txt", 11));
    E.back().CentralExtra =
        UnicodePathExtra("x", "y") + Utf16Extra(u"z") + ExtraSubfield(1, Le64(1));
    E.push_back(Named("big", 0));
    E.back().CentralUncompressedSize = 0xFFFFFFFF;
    E.back().CentralExtra =
        ExtraSubfield(1, Le64(10ull << 32)) + ExtraSubfield(0x5455, "\x01" + Le32(0));
    E.back().Comment = "comment";
    TZipBuildOptions O;
    O.Zip64Records = true;
    O.ArchiveComment = "archive comment";
    const std::string Good = BuildZip(E, O);
    auto Probe = [](const std::string& Bytes) {
        TMemArchive Mem(Bytes);
        TAbZipArchive A(&Mem.Stream, "p.zip");
        try {
            A.Load();
            for (int32_t I = 0; I < A.Count(); ++I) {
                (void)A.ZipItems(I)->IsDirectory();
                (void)A.ZipItems(I)->NativeFileAttributes();
            }
        } catch (const Exception&) {
        }
    };
    for (size_t Len = 0; Len <= Good.size(); ++Len)
        Probe(Good.substr(0, Len));
    std::string Mutant;
    for (uint32_t Round = 0; Round < 3000; ++Round) {
        Mutant = Good;
        uint32_t R = Round * 2654435761u;
        Mutant[R % Mutant.size()] = static_cast<char>(R >> 24);
        Mutant[(R >> 8) % Mutant.size()] ^= static_cast<char>(1u << (Round % 8));
        Probe(Mutant);
    }
}

// ---------------------------------------------------------------------------
// Disk requests

class TRecordingUi : public IUserInterface {
public:
    int32_t MessageBox(TWindowHandle, const std::string& Text, const std::string& Caption,
                       uint32_t Style) override {
        Boxes.push_back(Caption + "|" + Text);
        EXPECT_EQ(Style & 0x0F, MB_OKCANCEL);
        return Answer;
    }
    int32_t MessageDlg(const std::string&, TMsgDlgType, TMsgDlgButtons) override { return mrOk; }
    intptr_t SendMessage(TWindowHandle, uint32_t, uintptr_t, intptr_t) override { return 0; }
    std::vector<std::string> Boxes;
    int32_t Answer = IDOK;
};

TEST_F(ZipRead, DiskRequestsAskTheUserOrCountAsCancelled) {
    TMemArchive Mem("");
    TAbZipArchive A(&Mem.Stream, "m.zip");
    bool Abort = false;
    A.RequestLastDisk(Abort);
    EXPECT_TRUE(Abort); // no handler, no GUI

    TRecordingUi Ui;
    IUserInterface* Old = SetUserInterface(&Ui);
    A.RequestNthDisk(3, Abort);
    EXPECT_FALSE(Abort);
    Ui.Answer = IDCANCEL;
    A.RequestBlankDisk(Abort);
    EXPECT_TRUE(Abort);
    EXPECT_TRUE(A.Spanned());
    A.RequestLastDisk(Abort);
    SetUserInterface(Old);
    EXPECT_EQ(Ui.Boxes, (std::vector<std::string>{
                            "Insert floppy|Insert disk number 3 of the spanned disk set",
                            "Insert floppy|Insert a blank floppy disk",
                            "Insert floppy|Insert the last disk in the spanned disk set"}));
    int Asked = 0;
    A.OnRequestNthDisk = [&](TAbArchive*, uint8_t Disk, bool& Ab) {
        EXPECT_EQ(Disk, 7);
        EXPECT_FALSE(Ab);
        ++Asked;
    };
    A.RequestNthDisk(7, Abort);
    EXPECT_FALSE(Abort);
    EXPECT_EQ(Asked, 1);
}

TEST_F(ZipRead, ExtractionWithoutHelpersIsReportedPerItem) {
    auto A = LoadFile(TestData("zip_store.zip"));
    TTempDir Dir;
    A->SetBaseDirectory(Dir.Path());
    std::vector<int32_t> Codes;
    A->OnProcessItemFailure = [&](TAbArchive*, TAbArchiveItem*, TAbProcessType, TAbErrorClass C,
                                  int32_t Code) {
        EXPECT_EQ(C, ecMorvanta);
        Codes.push_back(Code);
    };
    A->ExtractFiles("*.txt");
    EXPECT_EQ(Codes, (std::vector<int32_t>{3, 3}));
    EXPECT_THROW(A->VerifyItem(0), EAbZipNoExtraction);
}

} // namespace
