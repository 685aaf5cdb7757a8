// Writing ZIP archives: new archives through an insert helper, updates of
// existing ones (deleted, moved and copied items, stubs, data descriptors,
// Zip64), split output and the refusals. Results are checked with Info-ZIP
// and 7-Zip as well as with our own reader.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "archive/AbZipTyp.h"
#include "platform/FileSystem.h"
#include "runtime/CodePages.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

std::string ReadAll(TStream* S) {
    std::string Data;
    char Buf[4096];
    for (int64_t N; (N = S->Read(Buf, sizeof Buf)) > 0;)
        Data.append(Buf, static_cast<size_t>(N));
    return Data;
}

// Stores an item: local header, then the bytes of its disk file (or of In).
void StoreItem(TAbArchiveItem* Item, TStream* Out, TStream* In) {
    auto* Z = static_cast<TAbZipItem*>(Item);
    std::string Data = In != nullptr
                           ? ReadAll(In)
                           : (Z->IsDirectory() ? std::string() : ReadBytes(Z->DiskFileName()));
    Z->SetCompressionMethod(0);
    Z->SetCRC32(Crc32Of(Data));
    Z->SetCompressedSize(static_cast<int64_t>(Data.size()));
    Z->SetUncompressedSize(static_cast<int64_t>(Data.size()));
    Z->SetLastModTimeAsDateTime(EncodeDateTime(2021, 6, 15, 12, 34, 56, 0));
    Z->SetVersionNeededToExtract(Z->IsDirectory() ? 20 : 10);
    if (Z->IsDirectory()) Z->SetExternalFileAttributes(0x10);
    TAbZipLocalFileHeader Local;
    Local.SetVersionNeededToExtract(Z->VersionNeededToExtract());
    Local.SetGeneralPurposeBitFlag(Z->GeneralPurposeBitFlag());
    Local.SetCompressionMethod(0);
    Local.SetLastModFileTime(Z->LastModFileTime());
    Local.SetLastModFileDate(Z->LastModFileDate());
    Local.SetCRC32(Z->CRC32());
    Local.SetCompressedSize(static_cast<uint32_t>(Data.size()));
    Local.SetUncompressedSize(static_cast<uint32_t>(Data.size()));
    Local.ExtraField().Assign(Z->LFHExtraField());
    Local.SaveToStream(Out, Z->ItemInfo().RawFileName());
    if (!Data.empty()) Out->Write(Data.data(), static_cast<int64_t>(Data.size()));
}

void InstallStoreHelpers(TAbZipArchive& A) {
    A.InsertHelper = [](TAbArchive*, TAbArchiveItem* Item, TStream* Out) {
        StoreItem(Item, Out, nullptr);
    };
    A.InsertFromStreamHelper = [](TAbArchive*, TAbArchiveItem* Item, TStream* Out, TStream* In) {
        StoreItem(Item, Out, In);
    };
}

std::unique_ptr<TAbZipArchive> Open(const std::string& FileName,
                                    uint16_t Mode = fmOpenReadWrite | fmShareDenyWrite) {
    auto A = std::make_unique<TAbZipArchive>(FileName, Mode);
    A->Load();
    return A;
}

std::vector<std::string> Names(const TAbZipArchive& A) {
    std::vector<std::string> Result;
    for (int32_t I = 0; I < A.Count(); ++I)
        Result.push_back(A.ZipItems(I)->FileName());
    return Result;
}

bool UnzipTests(const std::string& Archive, const std::string& Options = "") {
    return Shell("unzip -tqq " + Options + " " + Quote(Archive) + " >/dev/null 2>&1") == 0;
}

std::string UnzipPrint(const std::string& Archive, const std::string& Entry) {
    std::string Out;
    Shell("unzip -p " + Quote(Archive) + " " + Quote(Entry), &Out);
    return Out;
}

class ZipWrite : public ::testing::Test {
protected:
    void SetUp() override { SetSystemCodePages({1252, 437}); }
    TTempDir Dir;
};

TEST_F(ZipWrite, NewArchiveWithAsciiAnsiAndUnicodeNames) {
    if (const std::string Missing = MissingTool({"unzip"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    WriteBytes(Dir / "a.txt", "alpha");
    WriteBytes(Dir / "café.txt", "ansi name");
    WriteBytes(Dir / "Ελληνικά.txt", "greek name");
    std::string Zip = Dir / "new.zip";
    {
        TAbZipArchive A(Zip, fmCreate);
        A.Load();
        EXPECT_EQ(A.Count(), 0);
        A.SetBaseDirectory(Dir.Path());
        InstallStoreHelpers(A);
        A.AddFiles("*.txt", 0);
        A.Add(A.CreateItem("sub/"));
        std::string Extra = "from a stream";
        TReadOnlyMemoryStream In(Extra.data(), static_cast<int64_t>(Extra.size()));
        A.AddFromStream("streamed.bin", &In); // saves at once
        EXPECT_FALSE(A.IsDirty());
        EXPECT_EQ(A.ZipItems(0)->Action(), aaNone);
    }
    ASSERT_TRUE(UnzipTests(Zip));
    auto R = Open(Zip, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(Names(*R), (std::vector<std::string>{"a.txt", "café.txt", "Ελληνικά.txt", "sub/",
                                                   "streamed.bin"}));
    EXPECT_TRUE(R->ZipItems(1)->ExtraField().Has(
        Ab_InfoZipUnicodePathSubfieldID)); // ANSI bytes + Unicode path
    EXPECT_EQ(R->ZipItems(1)->ItemInfo().RawFileName(), "caf\xE9.txt");
    EXPECT_TRUE(R->ZipItems(2)->ItemInfo().IsUTF8()); // no single-byte form: UTF-8 flag
    EXPECT_TRUE(R->ZipItems(3)->IsDirectory());
    EXPECT_EQ(R->ZipItems(3)->VersionNeededToExtract(), 20);
    EXPECT_EQ(R->ZipItems(0)->VersionNeededToExtract(), 10);
    EXPECT_EQ(R->ZipItems(0)->VersionMadeBy() & 0xFF, 20);
    EXPECT_EQ(UnzipPrint(Zip, "streamed.bin"), "from a stream");
    std::string Listing;
    Shell("LC_ALL=C.UTF-8 unzip -Z1 " + Quote(Zip), &Listing);
    EXPECT_NE(Listing.find("café.txt\n"), std::string::npos) << Listing;
    EXPECT_NE(Listing.find("Ελληνικά.txt\n"), std::string::npos) << Listing;
}

TEST_F(ZipWrite, EmptyArchiveWritesNothing) {
    std::string Zip = Dir / "empty.zip";
    {
        TAbZipArchive A(Zip, fmCreate);
        A.Load();
        A.Save();
    }
    EXPECT_EQ(GetFileSize(Zip), 0);
}

TEST_F(ZipWrite, NewItemsNeedAnInsertHelper) {
    std::string Zip = Dir / "copy.zip";
    WriteBytes(Zip, ReadBytes(TestData("zip_store.zip")));
    WriteBytes(Dir / "n.txt", "n");
    auto A = Open(Zip);
    A->SetBaseDirectory(Dir.Path());
    A->Add(A->CreateItem("n.txt"));
    try {
        A->Save();
        FAIL() << "no error";
    } catch (const EAbZipNoInsertion& E) {
        EXPECT_EQ(E.Message(), "Cannot insert file - no insertion support provided");
    }
    EXPECT_EQ(ReadBytes(Zip), ReadBytes(TestData("zip_store.zip"))); // untouched
}

TEST_F(ZipWrite, DeletedItemsAreDroppedAndMovedOnesRenamed) {
    if (const std::string Missing = MissingTool({"unzip"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    std::string Zip = Dir / "copy.zip";
    std::string Original = TestData("zip_deflate_6.zip");
    WriteBytes(Zip, ReadBytes(Original));
    {
        auto A = Open(Zip);
        A->DeleteFiles("m/data/noise.bin");
        A->Move(A->ZipItems(A->FindFile("m/docs/readme.txt")), "m/readme-moved.txt");
        EXPECT_TRUE(A->IsDirty());
        A->Save();
        EXPECT_EQ(A->FindFile("m/data/noise.bin"), -1);
        EXPECT_EQ(A->ZipItems(A->FindFile("m/readme-moved.txt"))->Action(), aaNone);
    }
    ASSERT_TRUE(UnzipTests(Zip));
    auto R = Open(Zip, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(Names(*R), (std::vector<std::string>{"m/", "m/data/", "m/data/table.bin", "m/docs/",
                                                   "m/readme-moved.txt", "m/docs/empty.txt",
                                                   "m/docs/sub/", "big/big_text.txt"}));
    EXPECT_EQ(UnzipPrint(Zip, "m/readme-moved.txt"), UnzipPrint(Original, "m/docs/readme.txt"));
    EXPECT_EQ(UnzipPrint(Zip, "big/big_text.txt"), UnzipPrint(Original, "big/big_text.txt"));
}

TEST_F(ZipWrite, CopiedItemsKeepStubsDescriptorsEncryptionAndZip64) {
    if (const std::string Missing = MissingTool({"unzip", "7zz"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    struct TCase {
        const char* Name;
        const char* UnzipOptions;
    };
    for (TCase C : {TCase{"sfx_elf_fixed.zip", ""}, TCase{"dd_pipe.zip", ""},
                    TCase{"enc_zipcrypto.zip", "-P secret"}, TCase{"zip64_forced_fz.zip", ""},
                    TCase{"names_oem_ansi.zip", ""}, TCase{"legacy_shrink.zip", ""}}) {
        SCOPED_TRACE(C.Name);
        std::string Zip = Dir / C.Name;
        std::string Original = ReadBytes(TestData(C.Name));
        WriteBytes(Zip, Original);
        std::vector<std::string> Before;
        {
            auto A = Open(Zip);
            Before = Names(*A);
            A->SetZipfileComment("rewritten");
            A->Save();
        }
        EXPECT_TRUE(UnzipTests(Zip, C.UnzipOptions));
        EXPECT_EQ(Shell("7zz t -psecret " + Quote(Zip) + " >/dev/null 2>&1"), 0);
        auto R = Open(Zip, fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(Names(*R), Before);
        EXPECT_EQ(R->ZipfileComment(), "rewritten");
        if (std::string(C.Name) == "sfx_elf_fixed.zip") {
            EXPECT_EQ(ReadBytes(Zip).substr(0, 1000), Original.substr(0, 1000));
            EXPECT_EQ(R->StubSize(), 1000u);
        }
    }
}

TEST_F(ZipWrite, ManyEntriesGetZip64EndRecords) {
    if (const std::string Missing = MissingTool({"python3"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    std::string Zip = Dir / "many.zip";
    {
        TAbZipArchive A(Zip, fmCreate);
        A.Load();
        InstallStoreHelpers(A);
        std::string Empty;
        for (int I = 0; I < 65600; ++I) {
            auto Item = A.CreateItem(Format("d/%05d/", I));
            A.Add(std::move(Item));
        }
        A.Save();
        EXPECT_TRUE(A.Info().IsZip64());
    }
    std::string Count;
    Shell(
        "python3 -c \"import zipfile,sys; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))\" " +
            Quote(Zip),
        &Count);
    EXPECT_EQ(Count, "65600\n");
    auto R = Open(Zip, fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(R->Count(), 65600);
    EXPECT_EQ(R->ZipItems(65599)->FileName(), "d/65599/");
}

TEST_F(ZipWrite, SplitOutputWithAThreshold) {
    if (const std::string Missing = MissingTool({"7zz"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    std::vector<std::string> Data;
    for (uint32_t I = 0; I < 3; ++I) {
        Data.push_back(RandomBytes(50000, 20 + I));
        WriteBytes(Dir / Format("f%u.bin", I), Data.back());
    }
    std::string Zip = Dir / "set.zip";
    {
        TAbZipArchive A(Zip, fmCreate);
        A.Load();
        A.SetBaseDirectory(Dir.Path());
        A.SetSpanningThreshold(65536);
        InstallStoreHelpers(A);
        A.AddFiles("f*.bin", 0);
        A.Save();
        EXPECT_TRUE(A.Spanned());
    }
    ASSERT_TRUE(Exists(Dir / "set.z01"));
    ASSERT_TRUE(Exists(Dir / "set.z02"));
    EXPECT_FALSE(Exists(Dir / "set.z03"));
    for (const char* Part : {"set.z01", "set.z02", "set.zip"})
        EXPECT_LE(GetFileSize(Dir / Part), 65536) << Part;
    EXPECT_EQ(GetFileSize(Dir / "set.z01"), 65536);
    EXPECT_EQ(Shell("7zz t " + Quote(Zip) + " >/dev/null 2>&1"), 0);

    auto R = Open(Zip, fmOpenRead | fmShareDenyNone);
    ASSERT_TRUE(R->Spanned());
    ASSERT_EQ(Names(*R), (std::vector<std::string>{"f0.bin", "f1.bin", "f2.bin"}));
    auto* Span = dynamic_cast<TAbSpanReadStream*>(R->Stream());
    ASSERT_NE(Span, nullptr);
    for (int32_t I = 0; I < 3; ++I) {
        const TAbZipItem* Item = R->ZipItems(I);
        Span->SeekImage(Item->DiskNumberStart(), Item->RelativeOffset());
        TAbZipLocalFileHeader Local;
        Local.LoadFromStream(Span);
        std::string Got(static_cast<size_t>(Item->CompressedSize()), '\0');
        Span->ReadBuffer(Got.data(), Item->CompressedSize());
        EXPECT_TRUE(Got == Data[static_cast<size_t>(I)]) << I;
    }

    // A spanned set is never updated.
    R->ZipItems(0)->SetAction(aaReplace);
    R->ZipItems(1)->SetAction(aaDelete);
    R->SetIsDirty(true);
    EXPECT_THROW(R->Save(), EAbZipSpanOverwrite);
    EXPECT_EQ(R->ZipItems(0)->Action(), aaNone);
    EXPECT_EQ(R->ZipItems(1)->Action(), aaDelete);
    EXPECT_FALSE(R->IsDirty());
}

TEST_F(ZipWrite, ArchiveOpenedReadOnlyIsNotReplaced) {
    std::string Zip = Dir / "ro.zip";
    WriteBytes(Zip, ReadBytes(TestData("zip_store.zip")));
    auto A = Open(Zip, fmOpenRead | fmShareDenyNone);
    A->DeleteFiles("*.bin");
    EXPECT_THROW(A->Save(), EWriteError);
    EXPECT_EQ(ReadBytes(Zip), ReadBytes(TestData("zip_store.zip")));
}

TEST_F(ZipWrite, CallersStreamIsRewrittenInPlace) {
    if (const std::string Missing = MissingTool({"unzip"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    std::string Original = ReadBytes(TestData("zip_deflate_1.zip"));
    TMemoryStream Mem;
    Mem.WriteBuffer(Original.data(), static_cast<int64_t>(Original.size()));
    {
        TAbZipArchive A(&Mem, "mem.zip");
        A.Load();
        A.DeleteFiles("m/docs/*");
        A.Save();
    }
    std::string Result(reinterpret_cast<const char*>(Mem.Memory()),
                       static_cast<size_t>(Mem.Size()));
    WriteBytes(Dir / "out.zip", Result);
    EXPECT_TRUE(UnzipTests(Dir / "out.zip"));
    Mem.SetPosition(0);
    TAbZipArchive R(&Mem, "mem.zip");
    R.Load();
    EXPECT_EQ(Names(R), (std::vector<std::string>{"m/", "m/data/", "m/data/noise.bin",
                                                  "m/data/table.bin", "m/docs/"}));
}

} // namespace
