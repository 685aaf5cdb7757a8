// The archive model's building blocks: item mask matching, the name-hashed
// item list, the extra-field container and the shared name strings.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "archive/AbArcTyp.h"
#include "runtime/Classes.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

class TTestItem : public TAbArchiveItem {
public:
    explicit TTestItem(const std::string& Name, bool Directory = false) : FDirectory(Directory) {
        SetFileName(Name);
        SetDiskFileName(Name);
    }
    bool IsDirectory() const override { return FDirectory; }

private:
    bool FDirectory;
};

// ---------------------------------------------------------------------------
// Mask matching

TEST(ArchiveItemMatching, StarDotStarMatchesEveryNonEmptyName) {
    for (const char* Name : {"README", "Makefile", "a.txt", "dir/sub/file.tar.gz", "bin/tool"}) {
        EXPECT_TRUE(TTestItem(Name).MatchesStoredName("*.*")) << Name;
        EXPECT_TRUE(TTestItem(Name).MatchesStoredName("*")) << Name;
    }
}

TEST(ArchiveItemMatching, DirectoryLosesItsTrailingSeparatorBeforeMatching) {
    TTestItem Dir("docs/", true);
    EXPECT_TRUE(Dir.MatchesStoredName("*.*"));
    EXPECT_TRUE(Dir.MatchesStoredName("docs"));
    // A file item keeps its name: "docs/" has an empty name part.
    EXPECT_FALSE(TTestItem("docs/", false).MatchesStoredName("*.*"));
}

TEST(ArchiveItemMatching, MaskWithDirectoryPartAndAsciiCaseFolding) {
    TTestItem Tool("bin/tool.exe");
    EXPECT_TRUE(Tool.MatchesStoredName("bin\\*.exe"));
    EXPECT_TRUE(Tool.MatchesStoredName("BIN\\*.EXE"));
    EXPECT_TRUE(Tool.MatchesStoredName("bin/*.exe"));
    EXPECT_FALSE(TTestItem("tool.exe").MatchesStoredName("bin\\*.exe"));
    // A drive in the mask is ignored.
    EXPECT_TRUE(Tool.MatchesStoredName("C:\\bin\\*.exe"));
    // Only ASCII letters fold.
    EXPECT_FALSE(TTestItem("ä.txt").MatchesStoredName("Ä.txt"));
}

TEST(ArchiveItemMatching, MaskListsAreTrimmedAndEmptyListsMatchNothing) {
    TTestItem Exe("bin/tool.exe");
    TTestItem Dll("lib/core.dll");
    TTestItem Txt("readme.txt");
    const char* Mask = " *.exe ;\t*.dll ";
    EXPECT_TRUE(Exe.MatchesStoredNameEx(Mask));
    EXPECT_TRUE(Dll.MatchesStoredNameEx(Mask));
    EXPECT_FALSE(Txt.MatchesStoredNameEx(Mask));
    EXPECT_FALSE(Exe.MatchesStoredNameEx(""));
    EXPECT_FALSE(Exe.MatchesStoredNameEx(";"));
}

TEST(ArchiveItemMatching, DiskNameMatchingUsesEitherSeparator) {
    TTestItem Item("x");
    Item.SetDiskFileName("/data/in/file.txt");
    EXPECT_TRUE(Item.MatchesDiskName("\\data\\in\\*.txt"));
    EXPECT_FALSE(Item.MatchesDiskName("/data/out/*.txt"));
    EXPECT_EQ(Item.DiskPath(), "/data/in/");
    EXPECT_EQ(Item.StoredPath(), "/data/in/");
}

TEST(ArchiveItem, DateTimeRoundTripAndInvalidDosValues) {
    TTestItem Item("a");
    EXPECT_EQ(Item.Action(), aaNone);
    EXPECT_EQ(Item.UncompressedSize(), 0);
    EXPECT_EQ(Item.LastModTimeAsDateTime(), 0.0); // DOS 0/0 is no valid date
    TDateTime When = EncodeDateTime(2021, 6, 15, 12, 34, 57, 0);
    Item.SetLastModTimeAsDateTime(When);
    EXPECT_EQ(Item.LastModFileDate(), 0x52CF);
    EXPECT_EQ(Item.LastModFileTime(), 0x645C); // seconds halved, rounded down
    EXPECT_EQ(Item.LastModTimeAsDateTime(), EncodeDateTime(2021, 6, 15, 12, 34, 56, 0));
    EXPECT_EQ(Item.NativeFileAttributes(), 0u);
    EXPECT_EQ(TTestItem("d/", true).NativeFileAttributes(), 0x10u);
}

TEST(ArchiveItem, DiskNameKeepsItsValueWhenTheNameChanges) {
    TTestItem Item("a/b.txt");
    Item.SetFileName("c.txt");
    EXPECT_EQ(Item.FileName(), "c.txt");
    EXPECT_EQ(Item.DiskFileName(), "a/b.txt");
    EXPECT_EQ(Item.DiskPath(), "a/");
    Item.SetDiskFileName("c.txt");
    Item.SetFileName("d.txt");
    EXPECT_EQ(Item.DiskFileName(), "c.txt");
    Item.SetFileName("c.txt"); // both equal again, then apart again
    Item.SetFileName("e.txt");
    EXPECT_EQ(Item.DiskFileName(), "c.txt");
    // A disk name never set stays empty.
    TAbArchiveItem Bare;
    Bare.SetFileName("x.txt");
    EXPECT_EQ(Bare.DiskFileName(), "");
    EXPECT_EQ(Bare.FileName(), "x.txt");
}

TEST(ArchiveItem, ValuesOfAFormatWithoutARecordOfItsOwn) {
    TTestItem Item("a");
    EXPECT_EQ(Item.CompressedSize(), 0);
    EXPECT_EQ(Item.CRC32(), 0u);
    EXPECT_EQ(Item.ExternalFileAttributes(), 0u);
    EXPECT_FALSE(Item.IsEncrypted());
    Item.SetCompressedSize(int64_t{5} << 30);
    Item.SetUncompressedSize(int64_t{6} << 30);
    Item.SetCRC32(0xCAFEBABE);
    Item.SetExternalFileAttributes(0x81A40020);
    Item.SetIsEncrypted(true);
    EXPECT_EQ(Item.CompressedSize(), int64_t{5} << 30);
    EXPECT_EQ(Item.UncompressedSize(), int64_t{6} << 30);
    EXPECT_EQ(Item.CRC32(), 0xCAFEBABEu);
    EXPECT_EQ(Item.ExternalFileAttributes(), 0x81A40020u);
    EXPECT_TRUE(Item.IsEncrypted());
    EXPECT_EQ(Item.DiskFileName(), "a");
}

// ---------------------------------------------------------------------------
// TAbArchiveList

TEST(ArchiveList, FindIgnoresAsciiCaseAndPrefersTheLatestDuplicate) {
    TAbArchiveList List;
    List.Add(new TTestItem("Readme.TXT"));
    List.Add(new TTestItem("other"));
    List.Add(new TTestItem("README.txt"));
    EXPECT_EQ(List.Count(), 3);
    EXPECT_EQ(List.Find("readme.txt"), 2);
    EXPECT_EQ(List.Find("README.TXT"), 2);
    EXPECT_EQ(List.Find("missing"), -1);
    List.Delete(2);
    EXPECT_EQ(List.Find("readme.txt"), 0);
    // Non-ASCII letters compare exactly.
    List.Add(new TTestItem("Ärger"));
    EXPECT_EQ(List.Find("ärger"), -1);
    EXPECT_EQ(List.Find("ÄRGER"), 2);
}

TEST(ArchiveList, NameHashFoldsCaseAndSpreadsNames) {
    EXPECT_EQ(NameHash("abc.TXT"), NameHash("ABC.txt"));
    // Names longer than a word, every ASCII letter in both cases.
    EXPECT_EQ(NameHash("abcdefghijklm/nopqrstuvwxyz@[`{.Txt"),
              NameHash("ABCDEFGHIJKLM/NOPQRSTUVWXYZ@[`{.tXT"));
    EXPECT_NE(NameHash("folder/file-1.txt"), NameHash("folder/file-2.txt"));
    // Every letter is upper-cased for the hash, so names that differ only
    // in the case of non-ASCII letters share a bucket (they still differ).
    EXPECT_EQ(NameHash("é/ä.txt"), NameHash("É/Ä.TXT"));
    std::vector<int> Buckets(AbHashBuckets);
    for (int I = 0; I < 20000; ++I)
        ++Buckets[NameHash("dir" + std::to_string(I / 100) + "/file_" + std::to_string(I) +
                           ".txt") %
                  AbHashBuckets];
    int Largest = 0;
    for (int N : Buckets)
        Largest = std::max(Largest, N);
    EXPECT_LT(Largest, 80); // about 20 per bucket on average
}

TEST(ArchiveList, FindInALongListFollowsAddsPutsAndDeletes) {
    TAbArchiveList List;
    for (int I = 0; I < 1000; ++I)
        List.Add(new TTestItem("f" + std::to_string(I)));
    EXPECT_EQ(List.Find("f500"), 500);
    List.Delete(0);
    EXPECT_EQ(List.Find("f500"), 499);
    List.Put(10, new TTestItem("new"));
    EXPECT_EQ(List.Find("new"), 10);
    EXPECT_EQ(List.Find("f11"), -1);
    List.Add(new TTestItem("F500"));
    EXPECT_EQ(List.Find("f500"), 999);
    for (int I = 0; I < 999; ++I)
        List.Delete(0);
    EXPECT_EQ(List.Count(), 1);
    EXPECT_EQ(List.Find("f500"), 0);
}

TEST(ArchiveList, ActiveDuplicatesIgnoreItemsBeingDeleted) {
    TAbArchiveList List;
    List.Add(new TTestItem("a.txt"));
    EXPECT_TRUE(List.IsActiveDupe("A.TXT"));
    List.Get(0)->SetAction(aaDelete);
    EXPECT_FALSE(List.IsActiveDupe("a.txt"));
    List.Add(new TTestItem("a.txt"));
    EXPECT_TRUE(List.IsActiveDupe("a.txt"));
}

TEST(ArchiveList, PutReLinkAndBucketsStayConsistent) {
    TAbArchiveList List;
    List.Add(new TTestItem("one"));
    List.Add(new TTestItem("two"));
    List.Put(0, new TTestItem("three"));
    EXPECT_EQ(List.Find("one"), -1);
    EXPECT_EQ(List.Find("three"), 0);
    TAbArchiveItem* Two = List.Get(1);
    Two->SetFileName("renamed");
    List.ReLink(Two, "two");
    EXPECT_EQ(List.Find("two"), -1);
    EXPECT_EQ(List.Find("RENAMED"), 1);
    // An item renamed without ReLink is still unlinked safely on delete.
    List.Get(0)->SetFileName("silently");
    List.Delete(0);
    EXPECT_EQ(List.Find("three"), -1);
    EXPECT_EQ(List.Find("silently"), -1);
    for (uint32_t B = 0; B < AbHashBuckets; ++B) {
        for (TAbArchiveItem* P = List.HashTable(B); P != nullptr; P = P->NextItem)
            EXPECT_EQ(P, List.Get(0));
    }
    List.Clear();
    EXPECT_EQ(List.Count(), 0);
    EXPECT_EQ(List.Find("renamed"), -1);
}

TEST(ArchiveList, IndexErrorsAndEnumeration) {
    TAbArchiveList List;
    EXPECT_THROW(List.Get(0), EListError);
    EXPECT_THROW(List.Delete(-1), EListError);
    List.Add(new TTestItem("a"));
    List.Add(new TTestItem("b"));
    TAbArchiveListEnumerator E = List.GetEnumerator();
    std::string Seen;
    while (E.MoveNext())
        Seen += E.Current()->FileName();
    EXPECT_EQ(Seen, "ab");
    EXPECT_FALSE(E.MoveNext());
}

TEST(ArchiveList, ListThatDoesNotOwnItsItemsSearchesLinearly) {
    TTestItem A("x.txt");
    TTestItem B("X.TXT");
    {
        TAbArchiveList List(false);
        List.Add(&A);
        List.Add(&B);
        EXPECT_EQ(List.Find("x.txt"), 0); // first in list order
        EXPECT_TRUE(List.IsActiveDupe("X.txt"));
        List.Delete(0);
        EXPECT_EQ(List.Count(), 1);
    }
    EXPECT_EQ(A.FileName(), "x.txt"); // not freed by the list
}

// ---------------------------------------------------------------------------
// TAbExtraField

class TCountingExtraField : public TAbExtraField {
public:
    int Changes = 0;

protected:
    void Changed() override { ++Changes; }
};

std::string ExtraOf(const TAbExtraField& F) {
    return std::string(reinterpret_cast<const char*>(F.Buffer()), F.BufferSize());
}

TEST(ExtraField, LoadGetPutDelete) {
    TCountingExtraField F;
    std::string Raw =
        ExtraSubfield(0x5455, "\x01\x02\x03") + ExtraSubfield(0x0001, std::string(8, 'z'));
    TReadOnlyMemoryStream S(Raw.data(), static_cast<int64_t>(Raw.size()));
    F.LoadFromStream(&S, static_cast<int64_t>(Raw.size()));
    EXPECT_EQ(F.Count(), 2);
    EXPECT_EQ(F.GetID(0), 0x5455);
    EXPECT_EQ(F.GetID(1), 0x0001);
    EXPECT_THROW(F.GetID(2), EListError);
    const uint8_t* Data = nullptr;
    uint16_t Size = 0;
    ASSERT_TRUE(F.Get(0x0001, Data, Size));
    EXPECT_EQ(Size, 8);
    EXPECT_FALSE(F.Get(0x7075, Data, Size));
    EXPECT_EQ(Data, nullptr);
    EXPECT_EQ(Size, 0);

    // Same size: overwritten in place; other size: moved to the end.
    F.Put(0x5455, "abc", 3);
    EXPECT_EQ(ExtraOf(F),
              ExtraSubfield(0x5455, "abc") + ExtraSubfield(0x0001, std::string(8, 'z')));
    F.Put(0x5455, "abcd", 4);
    EXPECT_EQ(ExtraOf(F),
              ExtraSubfield(0x0001, std::string(8, 'z')) + ExtraSubfield(0x5455, "abcd"));
    F.Delete(0x0001);
    EXPECT_EQ(ExtraOf(F), ExtraSubfield(0x5455, "abcd"));
    EXPECT_EQ(F.Changes, 4);
    F.Clear();
    EXPECT_EQ(F.Count(), 0);
}

TEST(ExtraField, TruncatedLastSubfieldIsClampedNotRejected) {
    TAbExtraField F;
    // Declares 100 bytes, holds 5.
    std::string Raw = ExtraSubfield(0x1111, "ab") + Le16(0x2222) + Le16(100) + "12345";
    F.SetBuffer(Raw.data(), static_cast<uint32_t>(Raw.size()));
    const uint8_t* Data = nullptr;
    uint16_t Size = 0;
    ASSERT_TRUE(F.Get(0x2222, Data, Size));
    EXPECT_EQ(Size, 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Data), Size), "12345");
    EXPECT_EQ(ExtraOf(F), ExtraSubfield(0x1111, "ab") + ExtraSubfield(0x2222, "12345"));
    // Fewer than 4 bytes left over are no subfield.
    std::string Short = ExtraSubfield(0x1111, "ab") + "\x01\x02";
    F.SetBuffer(Short.data(), static_cast<uint32_t>(Short.size()));
    EXPECT_EQ(F.Count(), 1);
}

TEST(ExtraField, ShortStreamRaisesReadError) {
    TAbExtraField F;
    std::string Raw = "1234";
    TReadOnlyMemoryStream S(Raw.data(), 4);
    EXPECT_THROW(F.LoadFromStream(&S, 10), EReadError);
}

TEST(ExtraField, StreamsCopiesAndClones) {
    TAbExtraField A;
    A.Put(0x7075, "hello", 5);
    std::unique_ptr<TMemoryStream> S;
    ASSERT_TRUE(A.GetStream(0x7075, S));
    EXPECT_EQ(S->Position(), 0);
    EXPECT_EQ(S->Size(), 5);
    EXPECT_FALSE(A.GetStream(0x1234, S));
    EXPECT_EQ(S, nullptr);

    TAbExtraField B;
    B.Put(0x0001, "12345678", 8);
    B.CloneFrom(A, 0x7075);
    EXPECT_TRUE(B.Has(0x7075));
    B.CloneFrom(A, 0x0001); // A lacks it: removed
    EXPECT_FALSE(B.Has(0x0001));
    TAbExtraField C;
    C.Assign(B);
    EXPECT_EQ(ExtraOf(C), ExtraOf(B));
    // A subfield copied from itself survives the reallocation.
    const uint8_t* Data = nullptr;
    uint16_t Size = 0;
    C.Get(0x7075, Data, Size);
    C.Put(0x9999, Data, Size);
    C.Get(0x9999, Data, Size);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Data), Size), "hello");
}

// ---------------------------------------------------------------------------
// Shared strings and the stream helper base

TEST(SharedString, CopiesShareOneBufferAndEmptyNeedsNone) {
    TAbSharedString A(std::string("dir/file_000001.txt"));
    TAbSharedString B = A;
    EXPECT_TRUE(B.SharesWith(A));
    EXPECT_EQ(B.View(), "dir/file_000001.txt");
    TAbSharedString C;
    EXPECT_TRUE(C.Empty());
    C = std::move(B);
    EXPECT_TRUE(C.SharesWith(A));
    EXPECT_TRUE(B.Empty());
    A = TAbSharedString("other");
    EXPECT_EQ(C.Str(), "dir/file_000001.txt");
    C = C; // self-assignment keeps the value
    EXPECT_EQ(C.Str(), "dir/file_000001.txt");
}

class TNullHelper : public TAbArchiveStreamHelper {
public:
    using TAbArchiveStreamHelper::TAbArchiveStreamHelper;
    void ExtractItemData(TStream*) override {}
    bool FindFirstItem() override { return false; }
    bool FindNextItem() override { return false; }
    void ReadHeader() override {}
    void ReadTail() override {}
    bool SeekItem(int32_t) override { return false; }
    void WriteArchiveHeader() override {}
    void WriteArchiveItem(TStream*) override {}
    void WriteArchiveTail() override {}
    int32_t GetItemCount() override { return 0; }
};

TEST(ArchiveStreamHelper, NilStreamIsRefused) {
    try {
        TNullHelper Helper(nullptr);
        FAIL() << "no error";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "nil stream");
    }
    TMemoryStream S;
    EXPECT_NO_THROW(TNullHelper Helper(&S));
}

} // namespace
