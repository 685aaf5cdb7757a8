// tar, gzip, bzip2 and cabinet files: every shared container against its
// manifest, archives GNU tar, gzip and bzip2 make at test time (formats,
// long names, links, several members), type detection, hand-made headers
// (lying sizes, header CRC, long-name sizes), damaged copies of each type,
// and what extraction never does (links on disk, writing through a link,
// leaving a swap file behind).
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>
#include <zlib.h>

#include "archive/AbBrowse.h"
#include "archive/AbBzp2Typ.h"
#include "archive/AbGzTyp.h"
#include "archive/AbTarTyp.h"
#include "archive/AbUnzper.h"
#include "platform/FileSystem.h"
#include "runtime/CodePages.h"
#include "support/UnzipFixtures.h"
#include "support/ZipFixtures.h"
#include "tests/common/TestFileStatus.h"
#include "tests/common/TestFiles.h"

using namespace kivo;
using namespace kivo::ziptest;
using kivo::test::TTempDir;

namespace {

std::string GzipOf(const std::string& Data);

std::string TypeName(TAbArchiveType Type) {
    static const char* const Names[] = {
        "unknown",     "zip", "spanned zip", "self-extracting zip", "tar", "gzip",
        "gzipped tar", "cab", "bzip2",       "bzipped tar"};
    return Names[Type];
}

// What the unzipper makes of a file: items by name, their extracted bytes
// (folders as "<dir>"), and the failures reported.
struct TOpened {
    std::map<std::string, std::string> Items;
    std::map<std::string, std::string> Failures;
};

TOpened OpenAndExtract(const std::string& Archive, const std::string& Out) {
    TOpened Result;
    TAbUnZipper U(nullptr);
    U.SetTarAutoHandle(true);
    U.SetExtractOptions({eoCreateDirs, eoRestorePath});
    U.OnProcessItemFailure = [&](TAbBaseBrowser* B, TAbArchiveItem* Item, TAbProcessType,
                                 TAbErrorClass, int32_t) {
        std::string Message = "failed";
        if (auto E = B->Archive()->CurrentFailure()) {
            try {
                std::rethrow_exception(E);
            } catch (const std::exception& X) {
                Message = X.what();
            }
        }
        Result.Failures[Item->FileName()] = Message;
    };
    U.SetFileName(Archive);
    U.SetBaseDirectory(Out);
    U.ExtractFiles("*");
    for (int32_t I = 0; I < U.Count(); ++I) {
        TAbArchiveItem* Item = U.Archive()->Items(I);
        std::string Name = Item->FileName();
        if (Item->IsDirectory()) {
            if (!Name.empty() && Name.back() == '/') Name.pop_back();
            Result.Items[Name] = "<dir>";
        } else if (!Result.Failures.count(Name)) {
            const std::string Path = Out + "/" + Name;
            Result.Items[Name] =
                std::filesystem::is_symlink(Path) ? "<link>" : Sha256Hex(ReadBytes(Path));
        }
    }
    // Every item also tests clean.
    U.TagItems("*");
    U.TestTaggedItems();
    return Result;
}

// ---------------------------------------------------------------------------
// The shared containers

struct TSharedContainer {
    std::string Name;
    TAbArchiveType Type;
};

void PrintTo(const TSharedContainer& C, std::ostream* Os) {
    *Os << C.Name;
}

std::string CaseName(const std::string& Name) {
    std::string Result = Name;
    for (char& C : Result) {
        if (!std::isalnum(static_cast<unsigned char>(C))) C = '_';
    }
    return Result;
}

class ContainerCorpus : public ::testing::TestWithParam<TSharedContainer> {
protected:
    void SetUp() override { SetSystemCodePages({1252, 437}); }
};

TEST_P(ContainerCorpus, DetectsAndExtractsToTheManifestBytes) {
    const TSharedContainer& C = GetParam();
    EXPECT_EQ(TypeName(DetectArchiveType(TestData(C.Name))), TypeName(C.Type));
    std::vector<TManifestLine> Lines;
    for (const TManifestLine& L : ReadManifest()) {
        if (L.Archive == C.Name) Lines.push_back(L);
    }
    ASSERT_FALSE(Lines.empty()) << "not in the manifest";
    if (C.Type == atCab) {
        TAbUnZipper U(nullptr);
        EXPECT_THROW(U.SetFileName(TestData(C.Name)), EAbUnhandledType);
        return;
    }
    TTempDir Dir;
    const TOpened Opened = OpenAndExtract(TestData(C.Name), Dir.Path());
    EXPECT_TRUE(Opened.Failures.empty()) << Opened.Failures.begin()->second;
    ASSERT_EQ(Opened.Items.size(), Lines.size());
    for (const TManifestLine& L : Lines) {
        auto It = Opened.Items.find(L.Entry);
        ASSERT_NE(It, Opened.Items.end()) << L.Entry;
        // Links come out as empty files.
        const std::string Expected = L.Kind == "dir"                               ? "<dir>"
                                     : L.Kind == "symlink" || L.Kind == "hardlink" ? Sha256Hex("")
                                                                                   : L.Sha256;
        EXPECT_EQ(It->second, Expected) << L.Entry;
    }
}

INSTANTIATE_TEST_SUITE_P(Shared, ContainerCorpus,
                         ::testing::Values(TSharedContainer{"tar_ustar.tar", atTar},
                                           TSharedContainer{"tar_gnu_longname.tar", atTar},
                                           TSharedContainer{"tar_pax.tar", atTar},
                                           TSharedContainer{"tar_symlink_sized.tar", atTar},
                                           TSharedContainer{"tar_gz.tar.gz", atGzippedTar},
                                           TSharedContainer{"tar_gz_copy.tgz", atGzippedTar},
                                           TSharedContainer{"tar_bz2.tar.bz2", atBzippedTar},
                                           TSharedContainer{"tar_bz2_copy.tbz", atBzippedTar},
                                           TSharedContainer{"gz_named.gz", atGzip},
                                           TSharedContainer{"gz_noname.gz", atGzip},
                                           TSharedContainer{"gz_fhcrc_extra_comment.gz", atGzip},
                                           TSharedContainer{"bz2_plain.bz2", atBzip2},
                                           TSharedContainer{"bz2_short.bz2", atBzip2},
                                           TSharedContainer{"cab_mszip.cab", atCab}),
                         [](const auto& Info) { return CaseName(Info.param.Name); });

// ---------------------------------------------------------------------------
// Archives made at test time

// A tree with a 311-character path, a name of exactly 100 characters, a
// symbolic link and a hard link.
struct TTree {
    std::map<std::string, std::string> Files; // name -> data
    std::vector<std::string> Links;           // extracted as empty files
};

std::string LongPath() {
    // 3 folders of 99 characters and a 9-character file name: 311 in all.
    std::string Path;
    for (char C : {'a', 'b', 'c'})
        Path += std::string(99, C) + "/";
    return Path + "long1.txt";
}

TTree MakeTree(const std::string& Root, bool WithLongPath) {
    TTree Tree;
    Tree.Files["top/plain.txt"] = "plain text\n";
    Tree.Files["top/" + std::string(96, 'n')] = RandomBytes(3000, 7); // 100 characters
    Tree.Files["top/data.bin"] = RandomBytes(70000, 11);
    if (WithLongPath) Tree.Files[LongPath()] = "far down\n";
    for (const auto& [Name, Data] : Tree.Files) {
        ForceDirectories(ExtractFileDir(Root + "/" + Name));
        WriteBytes(Root + "/" + Name, Data);
    }
    EXPECT_EQ(
        Shell("cd " + Quote(Root) + " && ln -s plain.txt top/sym && ln top/data.bin top/hard"), 0);
    Tree.Links = {"top/sym", "top/hard"};
    return Tree;
}

struct TMadeArchive {
    std::string Label;
    std::string FileName;
    std::string Command; // run in the source folder; %A is the archive
    TAbArchiveType Type;
    bool LongPath;
};

void PrintTo(const TMadeArchive& M, std::ostream* Os) {
    *Os << M.Label;
}

class MadeContainers : public ::testing::TestWithParam<TMadeArchive> {};

TEST_P(MadeContainers, ExtractWholeWithLinksAsEmptyFiles) {
    const TMadeArchive& M = GetParam();
    if (const std::string Missing = MissingTool({"tar", "gzip", "bzip2"}); !Missing.empty())
        GTEST_SKIP() << Missing << " missing";
    TTempDir Dir;
    const std::string Src = Dir / "src";
    ForceDirectories(Src);
    const TTree Tree = MakeTree(Src, M.LongPath);
    const std::string Archive = Dir / M.FileName;
    std::string Command = M.Command;
    for (size_t At; (At = Command.find("%A")) != std::string::npos;)
        Command.replace(At, 2, Archive);
    ASSERT_EQ(Shell("cd " + Quote(Src) + " && " + Command), 0) << Command;
    EXPECT_EQ(TypeName(DetectArchiveType(Archive)), TypeName(M.Type));

    const std::string Out = Dir / "out";
    ForceDirectories(Out);
    const TOpened Opened = OpenAndExtract(Archive, Out);
    EXPECT_TRUE(Opened.Failures.empty()) << Opened.Failures.begin()->first;
    for (const auto& [Name, Data] : Tree.Files) {
        auto It = Opened.Items.find(Name);
        ASSERT_NE(It, Opened.Items.end()) << Name.size() << " characters: " << Name;
        EXPECT_EQ(It->second, Sha256Hex(Data)) << Name;
    }
    for (const std::string& Link : Tree.Links) {
        EXPECT_FALSE(std::filesystem::is_symlink(Out + "/" + Link)) << Link;
        EXPECT_EQ(Opened.Items.at(Link), Sha256Hex("")) << Link;
    }
}

const std::string TarList = "top " + Quote(std::string(99, 'a'));

INSTANTIATE_TEST_SUITE_P(
    GnuTools, MadeContainers,
    ::testing::Values(
        TMadeArchive{"ustar", "u.tar", "tar --format=ustar -cf %A top", atTar, false},
        TMadeArchive{"gnu", "g.tar", "tar --format=gnu -cf %A " + TarList, atTar, true},
        TMadeArchive{"pax", "p.tar", "tar --format=pax -cf %A " + TarList, atTar, true},
        TMadeArchive{"pax_gzip", "p.tar.gz", "tar --format=pax -czf %A " + TarList, atGzippedTar,
                     true},
        TMadeArchive{"gnu_gzip_tgz", "g.tgz", "tar --format=gnu -czf %A " + TarList, atGzippedTar,
                     true},
        TMadeArchive{"gnu_gzip_no_extension", "g_tar_gz", "tar --format=gnu -czf %A " + TarList,
                     atGzippedTar, true},
        TMadeArchive{"pax_bzip2", "p.tar.bz2", "tar --format=pax -cjf %A " + TarList, atBzippedTar,
                     true},
        TMadeArchive{"gnu_bzip2_tbz2", "g.tbz2", "tar --format=gnu -cjf %A " + TarList,
                     atBzippedTar, true},
        TMadeArchive{"two_gzip_members", "two.tar.gz",
                     "tar --format=gnu -cf - top | head -c 40960 | gzip -1 > %A.1 && "
                     "tar --format=gnu -cf - top | tail -c +40961 | gzip -9 > %A.2 && "
                     "cat %A.1 %A.2 > %A",
                     atGzippedTar, false},
        TMadeArchive{"two_bzip2_streams", "two.tar.bz2",
                     "tar --format=gnu -cf - top | head -c 40960 | bzip2 > %A.1 && "
                     "tar --format=gnu -cf - top | tail -c +40961 | bzip2 > %A.2 && "
                     "cat %A.1 %A.2 > %A",
                     atBzippedTar, false}),
    [](const auto& Info) { return Info.param.Label; });

// ---------------------------------------------------------------------------
// Hand-made tar headers

// The header with its checksum computed again.
std::string Rechecked(std::string H) {
    H.replace(148, 8, "        ");
    unsigned Sum = 0;
    for (char C : H)
        Sum += static_cast<unsigned char>(C);
    char Field[8];
    std::snprintf(Field, sizeof Field, "%06o", Sum);
    H.replace(148, 7, std::string(Field, 6) + '\0');
    return H;
}

// One 512-byte header with the checksum filled in.
std::string TarHeader(const std::string& Name, char Flag, const std::string& SizeField,
                      const std::string& Magic = std::string("ustar\0"
                                                             "00",
                                                             8)) {
    std::string H(512, '\0');
    H.replace(0, std::min<size_t>(Name.size(), 100), Name.substr(0, 100));
    H.replace(100, 7, "0000644");
    H.replace(124, SizeField.size(), SizeField);
    H.replace(136, 11, "14727223400");
    H[156] = Flag;
    H.replace(257, Magic.size(), Magic);
    return Rechecked(H);
}

// One PAX record: "LEN key=value\n", LEN counting itself.
std::string PaxRecord(const std::string& Key, const std::string& Value) {
    const size_t Rest = Key.size() + Value.size() + 3; // blank, '=' and newline
    size_t Len = Rest + 1;
    while (std::to_string(Len).size() + Rest != Len)
        ++Len;
    return std::to_string(Len) + " " + Key + "=" + Value + "\n";
}

std::string Octal(uint64_t Value) {
    char Field[13];
    std::snprintf(Field, sizeof Field, "%011llo", static_cast<unsigned long long>(Value));
    return Field;
}

std::string Padded(const std::string& Data) {
    return Data +
           std::string(AlignToTarBlock(static_cast<int64_t>(Data.size())) - Data.size(), '\0');
}

const std::string EndBlocks(1024, '\0');

struct THandMadeTar {
    std::string Label;
    std::string Bytes;
    // Names and sizes listed, or the error the load ends with ("" for none).
    std::map<std::string, int64_t> Items;
    std::string LoadError;
};

void PrintTo(const THandMadeTar& T, std::ostream* Os) {
    *Os << T.Label;
}

std::vector<THandMadeTar> HandMadeTars() {
    const std::string Data = "0123456789";
    const std::string File = TarHeader("f.txt", '0', Octal(10)) + Padded(Data);
    std::string BadSum = TarHeader("bad.txt", '0', Octal(10));
    BadSum[150] ^= 1;
    // GNU tar's base-256 form: 2 << 32 bytes, 8 GiB.
    std::string BigField(12, '\0');
    BigField[0] = static_cast<char>(0x80);
    BigField[7] = 2;
    const std::string Base256 = TarHeader("big", '0', BigField);
    return {
        {"gnu_long_name_of_120",
         TarHeader("././@LongLink", 'L', Octal(120)) + Padded(std::string(119, 'L') + '\0') +
             TarHeader("short", '0', Octal(10)) + Padded(Data) + EndBlocks,
         {{std::string(119, 'L'), 10}},
         ""},
        {"ustar_prefix",
         [&] {
             std::string H = TarHeader("file", '0', Octal(10));
             H.replace(345, 3, "dir");
             return Rechecked(H) + Padded(Data) + EndBlocks;
         }(),
         {{"dir/file", 10}},
         ""},
        {"v7_full_name_field",
         TarHeader(std::string(100, 'v'), '0', Octal(10), "") + Padded(Data) + EndBlocks,
         {{std::string(100, 'v'), 10}},
         ""},
        {"bad_checksum_still_listed",
         BadSum + Padded(Data) + File + EndBlocks,
         {{"bad.txt", 10}, {"f.txt", 10}},
         ""},
        {"symlink_with_size_has_no_data",
         TarHeader("link", '2', Octal(1024)) + File + EndBlocks,
         {{"link", 0}, {"f.txt", 10}},
         ""},
        {"pax_records",
         [&] {
             const std::string Records = PaxRecord("path", "dir/from-pax-record") +
                                         PaxRecord("size", "10") +
                                         PaxRecord("mtime", "1600000000.25");
             return TarHeader("PaxHeader", 'x', Octal(Records.size())) + Padded(Records) +
                    TarHeader("short", '0', Octal(99)) + Padded(Data) + EndBlocks;
         }(),
         {{"dir/from-pax-record", 10}},
         ""},
        {"size_past_the_end",
         TarHeader("f", '0', Octal(1ull << 33)) + Padded(Data),
         {},
         EAbTarBadOp().what()},
        {"base256_size_past_the_end", Base256 + Padded(Data), {}, EAbTarBadOp().what()},
        {"size_not_octal", TarHeader("f", '0', "12x4") + Padded(Data), {}, EAbTarBadOp().what()},
        {"huge_long_name",
         TarHeader("././@LongLink", 'L', Octal(1ull << 30)) + Padded(Data),
         {},
         EAbTarBadOp().what()},
        {"pax_size_not_a_number",
         [&] {
             const std::string Records = PaxRecord("size", "12a");
             return TarHeader("PaxHeader", 'x', Octal(Records.size())) + Padded(Records) + File;
         }(),
         {},
         EAbTarBadOp().what()},
    };
}

class HandMadeTar : public ::testing::TestWithParam<THandMadeTar> {};

TEST_P(HandMadeTar, ListsWhatTheHeadersSay) {
    const THandMadeTar& T = GetParam();
    TTempDir Dir;
    WriteBytes(Dir / "a.tar", T.Bytes);
    TAbTarArchive Archive(Dir / "a.tar", fmOpenRead);
    if (!T.LoadError.empty()) {
        try {
            Archive.Load();
            FAIL() << "loaded";
        } catch (const EAbTarBadOp& E) {
            EXPECT_EQ(std::string(E.what()), T.LoadError);
        }
        return;
    }
    Archive.Load();
    std::map<std::string, int64_t> Listed;
    for (int32_t I = 0; I < Archive.Count(); ++I)
        Listed[Archive.Items(I)->FileName()] = Archive.Items(I)->UncompressedSize();
    EXPECT_EQ(Listed, T.Items);
}

INSTANTIATE_TEST_SUITE_P(Headers, HandMadeTar, ::testing::ValuesIn(HandMadeTars()),
                         [](const auto& Info) { return Info.param.Label; });

TEST(HandMadeTar, ABadChecksumFailsDetectionAndTheTest) {
    std::string Bad = TarHeader("bad.txt", '0', Octal(10));
    Bad[150] ^= 1;
    TTempDir Dir;
    WriteBytes(Dir / "a.tar", Bad + Padded("0123456789") + EndBlocks);
    EXPECT_EQ(DetectArchiveType(Dir / "a.tar"), atUnknown);
    TAbTarArchive Archive(Dir / "a.tar", fmOpenRead);
    Archive.Load();
    ASSERT_EQ(Archive.Count(), 1);
    EXPECT_THROW(Archive.VerifyItem(0), EAbTarInvalid);
}

// ---------------------------------------------------------------------------
// Type detection

struct TDetection {
    std::string Label;
    std::string FileName;
    std::string Content; // "tar", "tar.gz", "gz", "zip-of-nothing", "none"
    TAbArchiveType Expected;
};

void PrintTo(const TDetection& D, std::ostream* Os) {
    *Os << D.Label;
}

class Detection : public ::testing::TestWithParam<TDetection> {};

TEST_P(Detection, NamesFirstThenContent) {
    const TDetection& D = GetParam();
    TTempDir Dir;
    const std::string Tar = TarHeader("f.txt", '0', Octal(10)) + Padded("0123456789") + EndBlocks;
    const std::string Path = Dir / D.FileName;
    if (D.Content == "tar") WriteBytes(Path, Tar);
    if (D.Content == "cab") {
        if (!MissingTool({"gcab"}).empty()) GTEST_SKIP() << "gcab missing";
        WriteBytes(Dir / "inside.txt", "in a cabinet\n");
        ASSERT_EQ(
            Shell("cd " + Quote(Dir.Path()) + " && gcab -c -z " + Quote(Path) + " inside.txt"), 0);
    }
    if (D.Content == "tar.gz" || D.Content == "gz") {
        WriteBytes(Path, GzipOf(D.Content == "gz" ? std::string("just text\n") : Tar));
    }
    EXPECT_EQ(TypeName(DetectArchiveType(Path)), TypeName(D.Expected));
}

INSTANTIATE_TEST_SUITE_P(
    Names, Detection,
    ::testing::Values(TDetection{"tar_named_zip", "archive.zip", "tar", atUnknown},
                      TDetection{"tar_without_extension", "archive", "tar", atTar},
                      TDetection{"tar_in_gz", "x.gz", "tar.gz", atGzippedTar},
                      TDetection{"text_in_tgz", "x.tgz", "gz", atGzip},
                      TDetection{"upper_case_extension", "X.TAR", "tar", atTar},
                      TDetection{"missing_tbz", "x.tbz", "none", atBzippedTar},
                      TDetection{"cabinet_by_name", "x.cab", "cab", atCab},
                      TDetection{"cabinet_by_content", "x.bin", "cab", atCab},
                      TDetection{"missing_without_extension", "x", "none", atUnknown}),
    [](const auto& Info) { return Info.param.Label; });

// ---------------------------------------------------------------------------
// gzip headers and tails

// A gzip member as "gzip -n" writes it (no name, no time), made with zlib.
std::string GzipOf(const std::string& Data) {
    z_stream S{};
    EXPECT_EQ(deflateInit2(&S, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string Out(deflateBound(&S, static_cast<uLong>(Data.size())) + 32, '\0');
    S.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
    S.avail_in = static_cast<uInt>(Data.size());
    S.next_out = reinterpret_cast<Bytef*>(Out.data());
    S.avail_out = static_cast<uInt>(Out.size());
    EXPECT_EQ(deflate(&S, Z_FINISH), Z_STREAM_END);
    Out.resize(S.total_out);
    deflateEnd(&S);
    return Out;
}

TEST(GzipFile, HeaderCrcNameAndCommentAreReadAndSkipped) {
    const std::string Plain = GzipOf("payload\n");
    // Flags: name, comment and header CRC; the CRC bytes are not checked.
    std::string Made = Plain.substr(0, 10);
    Made[3] = static_cast<char>(AbGzFlagName | AbGzFlagComment | AbGzFlagHeaderCRC);
    Made += std::string("given.txt\0", 10) + std::string("a comment\0", 10) + "\x12\x34";
    Made += Plain.substr(10);
    TTempDir Dir;
    WriteBytes(Dir / "m.gz", Made);
    TAbGzipArchive Archive(Dir / "m.gz", fmOpenRead);
    Archive.Load();
    ASSERT_EQ(Archive.Count(), 1);
    TAbGzipItem* Item = Archive.GzipItem();
    EXPECT_EQ(Item->FileName(), "given.txt");
    EXPECT_EQ(Item->FileComment(), "a comment");
    TMemoryStream Out;
    Archive.ExtractItemToStream(0, &Out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Out.Memory()), Out.Size()), "payload\n");
    Archive.VerifyItem(0);
}

struct TBadTail {
    std::string Label;
    size_t Offset; // from the end
    std::string Error;
};

void PrintTo(const TBadTail& T, std::ostream* Os) {
    *Os << T.Label;
}

class GzipTail : public ::testing::TestWithParam<TBadTail> {};

TEST_P(GzipTail, AWrongTailFailsTestAndExtractionLeavingNoFile) {
    std::string Gz = GzipOf(RandomBytes(5000, 3));
    Gz[Gz.size() - GetParam().Offset] ^= 0x55;
    TTempDir Dir;
    WriteBytes(Dir / "d.gz", Gz);
    TAbGzipArchive Archive(Dir / "d.gz", fmOpenRead);
    Archive.Load();
    try {
        Archive.VerifyItem(0);
        FAIL() << "tested clean";
    } catch (const EAbGzipException& E) {
        EXPECT_EQ(std::string(E.what()), GetParam().Error);
    }
    TAbUnZipper U(nullptr);
    std::string Failure;
    U.OnProcessItemFailure = [&](TAbBaseBrowser* B, TAbArchiveItem*, TAbProcessType, TAbErrorClass,
                                 int32_t) {
        try {
            std::rethrow_exception(B->Archive()->CurrentFailure());
        } catch (const std::exception& E) {
            Failure = E.what();
        }
    };
    U.SetFileName(Dir / "d.gz");
    ForceDirectories(Dir / "out");
    U.SetBaseDirectory(Dir / "out");
    U.ExtractFiles("*");
    EXPECT_EQ(Failure, GetParam().Error);
    EXPECT_TRUE(kivo::test::ListFolder(Dir / "out").empty());
}

INSTANTIATE_TEST_SUITE_P(Tails, GzipTail,
                         ::testing::Values(TBadTail{"crc", 8, EAbGzipBadCRC().what()},
                                           TBadTail{"size", 4, EAbGzipBadFileSize().what()}),
                         [](const auto& Info) { return Info.param.Label; });

// ---------------------------------------------------------------------------
// Damaged copies

struct TDamage {
    std::string Label;
    std::string Suffix; // of the archive, selects the container
    bool Truncate;      // else one byte flipped
    double Where;       // fraction of the size
};

void PrintTo(const TDamage& D, std::ostream* Os) {
    *Os << D.Label;
}

class DamagedContainer : public ::testing::TestWithParam<TDamage> {};

// Opening, testing and extracting a damaged copy fails somewhere, with an
// error, never a crash or a hang (run under the sanitizers).
TEST_P(DamagedContainer, EndsInAnError) {
    const TDamage& D = GetParam();
    if (const std::string Missing = MissingTool({"tar", "gzip", "bzip2"}); !Missing.empty())
        GTEST_SKIP() << Missing << " missing";
    TTempDir Dir;
    const std::string Src = Dir / "src";
    ForceDirectories(Src);
    MakeTree(Src, true);
    const std::string Archive = Dir / ("a" + D.Suffix);
    const std::string Command = D.Suffix == ".tar"       ? "tar -cf "
                                : D.Suffix == ".tar.gz"  ? "tar -czf "
                                : D.Suffix == ".tar.bz2" ? "tar -cjf "
                                : D.Suffix == ".gz"      ? "gzip -c top/data.bin > "
                                                         : "bzip2 -c top/data.bin > ";
    const std::string Arg = D.Suffix.find("tar") != std::string::npos ? " top" : "";
    ASSERT_EQ(Shell("cd " + Quote(Src) + " && " + Command + Quote(Archive) + Arg), 0);
    std::string Bytes = ReadBytes(Archive);
    const auto At = static_cast<size_t>(static_cast<double>(Bytes.size()) * D.Where);
    if (D.Truncate)
        Bytes.resize(At);
    else
        Bytes[At] ^= 0x10;
    WriteBytes(Archive, Bytes);

    bool Failed = false;
    try {
        TAbUnZipper U(nullptr);
        U.SetTarAutoHandle(true);
        U.SetForceType(true);
        U.SetArchiveType(D.Suffix == ".tar"       ? atTar
                         : D.Suffix == ".tar.gz"  ? atGzippedTar
                         : D.Suffix == ".tar.bz2" ? atBzippedTar
                         : D.Suffix == ".gz"      ? atGzip
                                                  : atBzip2);
        U.OnProcessItemFailure = [&](TAbBaseBrowser*, TAbArchiveItem*, TAbProcessType,
                                     TAbErrorClass, int32_t) { Failed = true; };
        U.SetFileName(Archive);
        ForceDirectories(Dir / "out");
        U.SetBaseDirectory(Dir / "out");
        U.ExtractFiles("*");
        U.TagItems("*");
        U.TestTaggedItems();
    } catch (const std::exception&) {
        Failed = true;
    }
    EXPECT_TRUE(Failed);
}

INSTANTIATE_TEST_SUITE_P(Copies, DamagedContainer,
                         ::testing::Values(TDamage{"tar_cut_in_data", ".tar", true, 0.5},
                                           TDamage{"tar_cut_early", ".tar", true, 0.2},
                                           TDamage{"tar_header_flipped", ".tar", false, 0.0005},
                                           TDamage{"targz_cut", ".tar.gz", true, 0.5},
                                           TDamage{"targz_cut_in_tail", ".tar.gz", true, 0.999},
                                           TDamage{"targz_flipped", ".tar.gz", false, 0.4},
                                           TDamage{"tarbz2_cut", ".tar.bz2", true, 0.5},
                                           TDamage{"tarbz2_flipped", ".tar.bz2", false, 0.4},
                                           TDamage{"gz_cut", ".gz", true, 0.7},
                                           TDamage{"gz_flipped", ".gz", false, 0.6},
                                           TDamage{"bz2_cut", ".bz2", true, 0.7},
                                           TDamage{"bz2_flipped", ".bz2", false, 0.6}),
                         [](const auto& Info) { return Info.param.Label; });

// ---------------------------------------------------------------------------
// kivo-unzip on each type

struct TToolRow {
    std::string Label;
    std::string Args; // %T: the shared test data folder, run in a fresh folder
    int Status;
    std::string Output;     // found in standard output and error together
    std::string LeavesFile; // a file the run leaves in the folder ("" for none)
};

void PrintTo(const TToolRow& R, std::ostream* Os) {
    *Os << R.Label;
}

class KivoUnzipContainers : public ::testing::TestWithParam<TToolRow> {};

TEST_P(KivoUnzipContainers, SameColumnsAndStatusesAsForZip) {
    const TToolRow& R = GetParam();
    TTempDir Dir;
    std::string Args = R.Args;
    for (size_t At; (At = Args.find("%T")) != std::string::npos;)
        Args.replace(At, 2, TestData(""));
    if (Args.find("%B") != std::string::npos) {
        std::string Gz = ReadBytes(TestData("gz_named.gz"));
        Gz[Gz.size() - 8] ^= 1;
        WriteBytes(Dir / "bad.gz", Gz);
        std::string Cut = ReadBytes(TestData("tar_gz.tar.gz"));
        Cut.resize(Cut.size() / 2);
        WriteBytes(Dir / "cut.tar.gz", Cut);
        Args.replace(Args.find("%B"), 2, Dir.Path() + "/");
    }
    const TToolResult Run = RunKivoUnzip(Args, "en_US.UTF-8", "/dev/null", Dir.Path());
    EXPECT_EQ(Run.Status, R.Status) << Run.Err;
    EXPECT_NE((Run.Out + Run.Err).find(R.Output), std::string::npos) << Run.Out << Run.Err;
    if (!R.LeavesFile.empty()) {
        EXPECT_TRUE(Exists(Dir / R.LeavesFile)) << R.LeavesFile;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KivoUnzipContainers,
    ::testing::Values(
        TToolRow{"list_tar", "list --tsv %Ttar_ustar.tar", 0,
                 "t/short.txt\t3000\t3000\t0\t00000000\t2020-09-13", ""},
        TToolRow{"list_tar_gz", "list %Ttar_gz.tar.gz", 0, "      5000        5000  stored", ""},
        TToolRow{"list_tar_bz2", "list --tsv %Ttar_bz2_copy.tbz", 0, "m/data/\t0\t0\t0", ""},
        TToolRow{"list_gz", "list --tsv %Tgz_named.gz", 0, "readme.txt\t9000\t2330\t8\tb22283d2",
                 ""},
        TToolRow{"list_bz2", "list %Tbz2_plain.bz2", 0, "bzip2", ""},
        TToolRow{"list_cab", "list %Tcab_mszip.cab", 2, "recognised but not extracted", ""},
        TToolRow{"test_tar", "t %Ttar_pax.tar", 0, "No errors: 2 items tested", ""},
        TToolRow{"test_tar_gz", "t %Ttar_gz_copy.tgz", 0, "No errors: 2 items tested", ""},
        TToolRow{"test_tar_bz2", "t %Ttar_bz2.tar.bz2", 0, "No errors: 4 items tested", ""},
        TToolRow{"test_gz", "t %Tgz_fhcrc_extra_comment.gz", 0, "No errors: 1 item tested", ""},
        TToolRow{"test_bz2", "t %Tbz2_short.bz2", 0, "No errors: 1 item tested", ""},
        TToolRow{"test_gz_bad_crc", "t %Bbad.gz", 1, "readme.txt: Bad CRC", ""},
        TToolRow{"extract_tar", "x %Ttar_gnu_longname.tar -d out", 0, "",
                 "out/t/" + std::string(130, 'L') + ".txt"},
        TToolRow{"extract_tar_gz_flat", "e %Ttar_gz.tar.gz -d out", 0, "", "out/data.bin"},
        TToolRow{"extract_tar_bz2_mask", "x %Ttar_bz2.tar.bz2 -d out m/data/*", 0, "",
                 "out/m/data/noise.bin"},
        TToolRow{"extract_gz", "x %Tgz_named.gz -d out", 0, "", "out/readme.txt"},
        TToolRow{"extract_bz2", "e %Tbz2_plain.bz2 -d out", 0, "", "out/bz2_plain"},
        TToolRow{"extract_gz_bad_crc", "x %Bbad.gz -d out", 1, "1 of 1 items failed", ""},
        TToolRow{"extract_cut_tar_gz", "x %Bcut.tar.gz -d out", 2, "cut.tar.gz: ", ""},
        TToolRow{"extract_cab", "x %Tcab_mszip.cab", 2, "recognised but not extracted", ""}),
    [](const auto& Info) { return Info.param.Label; });

// ---------------------------------------------------------------------------
// What extraction never does

TEST(ContainerSafety, NoLinkIsMadeOrFollowedAndNothingLandsOutside) {
    if (const std::string Missing = MissingTool({"tar"}); !Missing.empty())
        GTEST_SKIP() << Missing << " missing";
    TTempDir Dir;
    const std::string Src = Dir / "src";
    const std::string Outside = Dir / "outside";
    ForceDirectories(Src + "/sub");
    ForceDirectories(Outside);
    // A link out of the target, then a file through it; a file through a
    // link the target already holds; and a name that climbs out.
    ASSERT_EQ(Shell("cd " + Quote(Src) + " && ln -s " + Quote(Outside) +
                    " esc && tar -cf ../a.tar esc && rm esc && mkdir esc && echo x > esc/f && "
                    "echo y > sub/g && tar -rf ../a.tar esc/f sub/g && "
                    "tar -rf ../a.tar --transform='s,^sub/g,../up,' sub/g"),
              0);
    const std::string Out = Dir / "out";
    ForceDirectories(Out);
    // The link in the target is made the way the program sees links: under
    // Wine one the shell makes is its target's folder for the Windows side.
    const bool Linked = kivo::test::MakeSymbolicLink(Outside, Out + "/sub");
    const TOpened Opened = OpenAndExtract(Dir / "a.tar", Out);
    EXPECT_TRUE(kivo::test::ListFolder(Outside).empty());
    EXPECT_FALSE(std::filesystem::is_symlink(Out + "/esc"));
    EXPECT_EQ(Opened.Failures.count("esc/f"), 1u);
    EXPECT_EQ(Opened.Failures.count("sub/g"), Linked ? 1u : 0u);
    EXPECT_EQ(Opened.Failures.count("../up"), 1u);
    EXPECT_FALSE(Exists(Dir / "up"));
    if (!Linked) GTEST_SKIP() << "symbolic links cannot be made here (the link in the target)";
}

struct TSwapCase {
    std::string Label;
    std::string Tar; // tar's compression option
    std::string Suffix;
    size_t FromEnd; // the byte flipped, counted from the end
};

void PrintTo(const TSwapCase& C, std::ostream* Os) {
    *Os << C.Label;
}

class SwapFile : public ::testing::TestWithParam<TSwapCase> {};

// A tar inside a compressed file is decoded into the swap-backed stream; when
// that fails (here: a gzip size that does not match, a damaged bzip2 stream
// end) the open fails and the swap file is gone.
TEST_P(SwapFile, AFailedDecodeLeavesNoSwapFile) {
    const TSwapCase& C = GetParam();
    if (const std::string Missing = MissingTool({"tar", "gzip", "bzip2"}); !Missing.empty())
        GTEST_SKIP() << Missing << " missing";
    TTempDir Dir;
    // More than the 8 MiB the swap-backed stream keeps in memory.
    WriteBytes(Dir / "big.bin", RandomBytes(12 * 1024 * 1024, 5));
    const std::string Archive = "a.tar" + C.Suffix;
    ASSERT_EQ(
        Shell("cd " + Quote(Dir.Path()) + " && tar " + C.Tar + " -cf " + Archive + " big.bin"), 0);
    std::string Bytes = ReadBytes(Dir / Archive);
    Bytes[Bytes.size() - C.FromEnd] ^= 1;
    WriteBytes(Dir / Archive, Bytes);
    ForceDirectories(Dir / "swap");
    TAbUnZipper U(nullptr);
    U.SetTarAutoHandle(true);
    U.SetTempDirectory(Dir / "swap");
    EXPECT_THROW(U.SetFileName(Dir / Archive), Exception);
    EXPECT_TRUE(kivo::test::ListFolder(Dir / "swap").empty());
}

INSTANTIATE_TEST_SUITE_P(Containers, SwapFile,
                         ::testing::Values(TSwapCase{"gzip_size", "-z", ".gz", 2},
                                           TSwapCase{"bzip2_stream_crc", "-j", ".bz2", 3}),
                         [](const auto& Info) { return Info.param.Label; });

} // namespace
