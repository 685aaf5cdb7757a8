// Extraction of real archives: every shared ZIP archive, one test case each,
// against the bytes its manifest lists (every method the engine decodes;
// any other is refused as unsupported), archives that Info-ZIP and 7-Zip make
// at test time (stored, deflate levels, Deflate64, ZipCrypto, data
// descriptors from standard input and pipes, split sets), and archive type
// detection.
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/AbBrowse.h"
#include "archive/AbUnzper.h"
#include "platform/FileSystem.h"
#include "runtime/CodePages.h"
#include "support/CorpusArchives.h"
#include "support/UnzipFixtures.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

bool Has(const std::string& Text, const std::string& Part) {
    return Text.find(Part) != std::string::npos;
}

bool DecodedHere(int Method) {
    static const std::set<int> Methods = {0, 1, 2, 3, 4, 5, 6, 8, 9, 12, 14, 97, 98};
    return Methods.count(Method) != 0;
}

// What extracting one entry of the manifest leaves behind.
enum class TOutcome {
    Refused,   // reported with Code; its name leads outside the base folder
    Folder,    // a folder
    Failed,    // reported with Code, no file
    Extracted, // the manifest's bytes, written even when Code (a CRC mismatch) is reported
};

struct TEntryExpectation {
    TOutcome Outcome;
    int32_t Code = 0;
};

TEntryExpectation ExpectedFor(const TCorpusArchive& Archive, const TManifestLine& L) {
    if (Has(L.Notes, "path traversal")) return {TOutcome::Refused, AbErrUnsafePath};
    if (L.Kind == "dir") return {TOutcome::Folder};
    // An empty entry of a method not decoded here fails too: its data
    // (an LZMA header, say) is never left unchecked.
    const bool Decoded = DecodedHere(MethodNumber(L));
    if (!Decoded) return {TOutcome::Failed, AbErrZipInvalidMethod};
    if (Has(L.Notes, "version needed 0x40")) return {TOutcome::Failed, AbErrZipVersion};
    if (Archive.EntryFailure != 0) return {TOutcome::Failed, Archive.EntryFailure};
    return {TOutcome::Extracted, Has(L.Notes, "CRC mismatch") ? AbErrZipBadCRC : 0};
}

class UnzipCorpus : public ::testing::TestWithParam<TCorpusArchive> {
protected:
    void SetUp() override { SetSystemCodePages({1252, 437}); }
};

TEST_P(UnzipCorpus, ExtractsToTheManifestBytes) {
    const TCorpusArchive& Archive = GetParam();
    const std::vector<TManifestLine>& Lines = Archive.Lines;
    TTempDir Dir;
    const std::string Out = Dir / "out";
    ForceDirectories(Out);
    TAbUnZipper U(nullptr);
    U.SetExtractOptions({eoCreateDirs, eoRestorePath});
    U.SetPassword(Archive.Password);
    std::map<std::string, int32_t> Failed;
    U.OnProcessItemFailure = [&](TAbBaseBrowser*, TAbArchiveItem* Item, TAbProcessType,
                                 TAbErrorClass, int32_t Code) { Failed[Item->FileName()] = Code; };

    switch (Archive.Fault) {
    case TArchiveFault::EmptyFile:
    case TArchiveFault::NoEndRecord:
        EXPECT_THROW(U.SetFileName(TestData(Archive.Name)), EAbException);
        return;
    case TArchiveFault::UnadjustedStub:
        EXPECT_THROW(U.SetFileName(TestData(Archive.Name)), EAbZipInvalid);
        return;
    case TArchiveFault::None: break;
    }
    U.SetFileName(TestData(Archive.Name));
    U.SetBaseDirectory(Out);
    if (Lines[0].Kind == "count") {
        // 65,537 entries: counted and tested, not written out.
        EXPECT_EQ(std::to_string(U.Count()), Lines[0].Size);
        U.TagItems("*");
        U.TestTaggedItems();
        EXPECT_TRUE(Failed.empty());
        return;
    }
    U.ExtractFiles("*.*");
    ASSERT_EQ(U.Count(), static_cast<int32_t>(Lines.size()));
    for (const TManifestLine& L : Lines) {
        SCOPED_TRACE(L.Entry);
        const std::string Path = Out + "/" + L.Entry;
        const TEntryExpectation Expected = ExpectedFor(Archive, L);
        switch (Expected.Outcome) {
        case TOutcome::Refused: EXPECT_EQ(Failed[L.Entry], Expected.Code); break;
        case TOutcome::Folder: EXPECT_TRUE(DirectoryExists(Path)); break;
        case TOutcome::Failed:
            EXPECT_EQ(Failed[L.Entry], Expected.Code);
            EXPECT_FALSE(PathExists(Path));
            break;
        case TOutcome::Extracted: {
            if (Expected.Code != 0)
                EXPECT_EQ(Failed[L.Entry], Expected.Code);
            else
                EXPECT_EQ(Failed.count(L.Entry), 0u);
            ASSERT_TRUE(FileExists(Path));
            const std::string Data = ReadBytes(Path);
            EXPECT_EQ(std::to_string(Data.size()), L.Size);
            EXPECT_EQ(Sha256Hex(Data), L.Sha256);
            break;
        }
        }
    }
    // Nothing was written outside the base folder.
    EXPECT_EQ(Entries(Dir.Path())[0], "out");
    EXPECT_EQ(Entries(Dir.Path()).size(), Entries(Out).size() + 1);
}

INSTANTIATE_TEST_SUITE_P(SharedArchives, UnzipCorpus, ::testing::ValuesIn(SharedZipArchives()),
                         CorpusCaseName);

// The corpus keeps enough to extract: a manifest that cannot be read, or a
// table that marks too many archives as failing, would leave little checked.
TEST(UnzipCorpusManifest, HoldsEnoughArchivesAndFilesToExtract) {
    ASSERT_FALSE(ReadManifest().empty());
    int Archives = 0;
    int FilesCompared = 0;
    for (const TCorpusArchive& A : SharedZipArchives()) {
        if (A.Fault != TArchiveFault::None) continue;
        ++Archives;
        if (A.Lines[0].Kind == "count") continue;
        for (const TManifestLine& L : A.Lines) {
            FilesCompared += ExpectedFor(A, L).Outcome == TOutcome::Extracted ? 1 : 0;
        }
    }
    EXPECT_GE(Archives, 45);
    EXPECT_GE(FilesCompared, 90);
}

// Every row of the corpus table names an archive of the manifest, and every
// archive the manifest lists without entries ("none") is empty or no ZIP at all.
TEST(UnzipCorpusManifest, TableRowsMatchTheManifest) {
    const std::vector<TCorpusArchive> Archives = SharedZipArchives();
    for (const std::string& Row : CorpusTableArchives()) {
        EXPECT_TRUE(std::any_of(Archives.begin(), Archives.end(), [&](const TCorpusArchive& A) {
            return A.Name == Row;
        })) << Row;
    }
    for (const TCorpusArchive& A : Archives) {
        const bool Unreadable =
            A.Fault == TArchiveFault::EmptyFile || A.Fault == TArchiveFault::NoEndRecord;
        EXPECT_EQ(A.Lines[0].Kind == "none", Unreadable) << A.Name;
    }
}

// ---------------------------------------------------------------------------
// Archives made by the tools at test time

class UnzipToolArchives : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Source = new TTempDir;
        const std::string S = Source->Path() + "/src";
        ForceDirectories(S + "/docs/deep/er");
        ForceDirectories(S + "/empty-folder");
        std::string Text;
        for (int I = 0; Text.size() < 900000; ++I)
            Text += "line " + std::to_string(I * 7919 % 10007) + " of the text\n";
        WriteBytes(S + "/docs/text.txt", Text);
        WriteBytes(S + "/docs/deep/er/random.bin", RandomBytes(700000, 21));
        WriteBytes(S + "/zeros.bin", std::string(1 << 20, '\0'));
        WriteBytes(S + "/empty.txt", "");
        WriteBytes(S + "/docs/small.txt", "small\n");
        WriteBytes(S + "/na\xC3\xAFve.txt", "unicode name\n");
        // Long repeats farther apart than 32 KiB, which Deflate64 reaches.
        std::string Far = RandomBytes(50000, 5);
        WriteBytes(S + "/far.bin", Far + RandomBytes(20000, 6) + Far + Far);
    }
    static void TearDownTestSuite() {
        delete Source;
        Source = nullptr;
    }
    void SetUp() override { SetSystemCodePages({1252, 437}); }

    // Runs a command in the source folder's parent (the tree is "src").
    static void Make(const std::string& Command) {
        ASSERT_EQ(Shell("cd " + Quote(Source->Path()) + " && (" + Command + ") >/dev/null 2>&1"), 0)
            << Command;
    }
    // Extracts Archive with restored paths and returns the tree under src.
    std::map<std::string, std::string> Extract(const std::string& Archive,
                                               const std::string& Password = "") {
        TTempDir Out;
        TAbUnZipper U(nullptr);
        U.SetExtractOptions({eoCreateDirs, eoRestorePath});
        U.SetPassword(Password);
        std::vector<int32_t> Codes;
        U.OnProcessItemFailure = [&](TAbBaseBrowser*, TAbArchiveItem*, TAbProcessType,
                                     TAbErrorClass, int32_t Code) { Codes.push_back(Code); };
        U.SetFileName(Archive);
        U.SetBaseDirectory(Out.Path());
        U.ExtractFiles("*.*");
        U.TagItems("*");
        U.TestTaggedItems();
        EXPECT_TRUE(Codes.empty()) << Archive;
        EXPECT_TRUE(DirectoryExists(Out / "src/empty-folder")) << Archive;
        return Snapshot(Out.Path());
    }
    static std::map<std::string, std::string> Expected() {
        std::map<std::string, std::string> Tree;
        for (const auto& [Name, Data] : Snapshot(Source->Path() + "/src"))
            Tree["src/" + Name] = Data;
        return Tree;
    }

    static TTempDir* Source;
};

TTempDir* UnzipToolArchives::Source = nullptr;

TEST_F(UnzipToolArchives, InfoZipStoredAndDeflateLevels) {
    if (const std::string Missing = MissingTool({"zip"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    for (const char* Level : {"-0", "-1", "-6", "-9"}) {
        SCOPED_TRACE(Level);
        const std::string Zip = Source->Path() + "/level" + Level + ".zip";
        Make(std::string("zip -q -r ") + Level + " " + Quote(Zip) + " src");
        EXPECT_EQ(Extract(Zip), Expected());
    }
}

TEST_F(UnzipToolArchives, SevenZipDeflateAndDeflate64) {
    if (const std::string Missing = MissingTool({"7zz"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    for (const char* Method : {"Deflate -mx=9", "Deflate64 -mx=9", "Deflate64 -mx=1"}) {
        SCOPED_TRACE(Method);
        const std::string Zip =
            Source->Path() + "/7z-" + std::to_string(std::hash<std::string>()(Method)) + ".zip";
        Make("7zz a -tzip -mm=" + std::string(Method) + " " + Quote(Zip) + " src");
        EXPECT_EQ(Extract(Zip), Expected());
    }
}

TEST_F(UnzipToolArchives, ZipCryptoFromInfoZipAnd7Zip) {
    if (const std::string Missing = MissingTool({"zip", "7zz"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    const std::string InfoZip = Source->Path() + "/enc-infozip.zip";
    Make("zip -q -r -P 'open sesame' " + Quote(InfoZip) + " src");
    EXPECT_EQ(Extract(InfoZip, "open sesame"), Expected());
    const std::string Seven = Source->Path() + "/enc-7z.zip";
    Make("7zz a -tzip -mem=ZipCrypto '-popen sesame' " + Quote(Seven) + " src");
    EXPECT_EQ(Extract(Seven, "open sesame"), Expected());
}

TEST_F(UnzipToolArchives, DataDescriptorsFromStandardInputAndPipes) {
    if (const std::string Missing = MissingTool({"zip"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    // "zip - " reads one entry named "-" from standard input.
    const std::string Stdin = Source->Path() + "/stdin.zip";
    Make("zip -q " + Quote(Stdin) + " - < src/docs/text.txt");
    TTempDir Out;
    TAbUnZipper U(nullptr);
    U.SetFileName(Stdin);
    ASSERT_EQ(U.Count(), 1);
    TMemoryStream Data;
    U.ExtractToStream("-", &Data);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Data.Memory()), Data.Size()),
              ReadBytes(Source->Path() + "/src/docs/text.txt"));
    // The same encrypted: the check byte comes from the time.
    const std::string StdinEnc = Source->Path() + "/stdin-enc.zip";
    Make("zip -q -P pw " + Quote(StdinEnc) + " - < src/docs/deep/er/random.bin");
    U.SetPassword("pw");
    U.SetFileName(StdinEnc);
    EXPECT_NE(U.Items(0)->GeneralPurposeBitFlag() & 0x0008, 0);
    TMemoryStream Enc;
    U.ExtractToStream("-", &Enc);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Enc.Memory()), Enc.Size()),
              ReadBytes(Source->Path() + "/src/docs/deep/er/random.bin"));
    // Written to a pipe: every entry has a data descriptor.
    const std::string Piped = Source->Path() + "/piped.zip";
    Make("zip -q -r - src | cat > " + Quote(Piped));
    EXPECT_EQ(Extract(Piped), Expected());
}

TEST_F(UnzipToolArchives, SplitSetFromInfoZip) {
    if (const std::string Missing = MissingTool({"zip"}); !Missing.empty())
        GTEST_SKIP() << Missing << " is not installed";
    const std::string Split = Source->Path() + "/split.zip";
    Make("zip -q -r -s 256k " + Quote(Split) + " src");
    ASSERT_TRUE(FileExists(Source->Path() + "/split.z01"));
    EXPECT_EQ(DetectArchiveType(Split), atSpannedZip);
    EXPECT_EQ(Extract(Split), Expected());
}

// ---------------------------------------------------------------------------
// Type detection

TEST(ArchiveDetection, ExtensionsChooseTheProbe) {
    TTempDir Dir;
    // Missing or empty files get the extension's type unchecked.
    EXPECT_EQ(DetectArchiveType(Dir / "x.tbz"), atBzippedTar);
    EXPECT_EQ(DetectArchiveType(Dir / "X.TGZ"), atGzippedTar);
    EXPECT_EQ(DetectArchiveType(Dir / "x.Zip"), atZip);
    EXPECT_EQ(DetectArchiveType(Dir / "x.jar"), atZip);
    EXPECT_EQ(DetectArchiveType(Dir / "x.exe"), atSelfExtZip);
    EXPECT_EQ(DetectArchiveType(Dir / "x.cab"), atCab);
    EXPECT_EQ(DetectArchiveType(Dir / "x.gz"), atGzip);
    EXPECT_EQ(DetectArchiveType(Dir / "x.bz2"), atBzip2);
    EXPECT_EQ(DetectArchiveType(Dir / "x.tar"), atTar);
    EXPECT_EQ(DetectArchiveType(Dir / "x.txt"), atUnknown);
    EXPECT_EQ(DetectArchiveType(Dir / "x.txt", atTar), atTar);
    WriteBytes(Dir / "empty.zip", "");
    EXPECT_EQ(DetectArchiveType(Dir / "empty.zip"), atZip);

    // Existing files: only the extension's probe runs.
    const std::string Zip = ReadBytes(TestData("zip_store.zip"));
    WriteBytes(Dir / "a.ZIP", Zip);
    EXPECT_EQ(DetectArchiveType(Dir / "a.ZIP"), atZip);
    WriteBytes(Dir / "a.exe", Zip);
    EXPECT_EQ(DetectArchiveType(Dir / "a.exe"), atUnknown); // no executable stub
    WriteBytes(Dir / "noext", Zip);
    EXPECT_EQ(DetectArchiveType(Dir / "noext"), atZip);
    WriteBytes(Dir / "tar.zip", ReadBytes(TestData("tar_ustar.tar")));
    EXPECT_EQ(DetectArchiveType(Dir / "tar.zip"), atUnknown);
    const std::string Sfx = ReadBytes(TestData("sfx_elf_fixed.zip"));
    EXPECT_EQ(DetectArchiveType(TestData("sfx_elf_fixed.zip")), atZip);
    WriteBytes(Dir / "sfx.exe", Sfx);
    EXPECT_EQ(DetectArchiveType(Dir / "sfx.exe"), atSelfExtZip);
    WriteBytes(Dir / "sfx", Sfx);
    EXPECT_EQ(DetectArchiveType(Dir / "sfx"), atSelfExtZip);
    EXPECT_EQ(DetectArchiveType(TestData("split_64k.zip")), atSpannedZip);
    EXPECT_EQ(DetectArchiveType(TestData("split_64k.z01")),
              atSpannedZip); // starts with the split marker
    EXPECT_EQ(DetectArchiveType(TestData("garbage.zip")), atUnknown);
}

TEST(ArchiveDetection, ProbesKeepTheStreamPosition) {
    const std::string Zip = ReadBytes(TestData("zip_store.zip"));
    TReadOnlyMemoryStream S(Zip.data(), static_cast<int64_t>(Zip.size()));
    S.SetPosition(123);
    EXPECT_EQ(IdentifyZipStream(&S), atZip);
    EXPECT_EQ(S.Position(), 123);
    EXPECT_EQ(IdentifySelfExtractingZip(&S), atUnknown);
    EXPECT_EQ(S.Position(), 123);
    EXPECT_EQ(DetectStreamArchiveType(&S), atZip);
    const std::string Mz = "MZ" + RandomBytes(100, 1) + Zip;
    TReadOnlyMemoryStream M(Mz.data(), static_cast<int64_t>(Mz.size()));
    EXPECT_EQ(DetectStreamArchiveType(&M), atSelfExtZip);
    for (size_t Size : {0u, 1u, 3u, 21u}) {
        TReadOnlyMemoryStream Short(Zip.data(), static_cast<int64_t>(Size));
        EXPECT_EQ(DetectStreamArchiveType(&Short), atUnknown) << Size;
    }
}

} // namespace
