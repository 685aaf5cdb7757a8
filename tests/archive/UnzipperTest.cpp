// The unzipper component and the extraction driver as a program using the
// engine meets them: opening and its failures, the state after failed opens
// and aborts, properties reaching the archive, events and meters, the
// password loop, version and method checks, CRC mismatches, empty entries,
// paths, progress, and what is on disk after every kind of item failure
// (a file of the target's name that existed before stays exactly as it was).
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "archive/AbUnzPrc.h"
#include "archive/AbUnzper.h"
#include "platform/FileSystem.h"
#include "runtime/CodePages.h"
#include "runtime/DateTime.h"
#include "support/InflateSupport.h"
#include "support/UnzipFixtures.h"
#include "support/ZipFixtures.h"
#include "tests/common/TestFileStatus.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

TZipEntryDef Directory(const std::string& Name) {
    TZipEntryDef E;
    E.RawName = Name;
    E.ExternalAttributes = 0x10;
    return E;
}

struct TFailure {
    std::string Name;
    TAbProcessType ProcessType;
    TAbErrorClass ErrorClass;
    int32_t ErrorCode;
};

class Unzipper : public ::testing::Test {
protected:
    void SetUp() override {
        SetSystemCodePages({1252, 437});
        Out = Dir / "out";
        ForceDirectories(Out);
    }

    // Writes the archive, opens it with the component and extracts into Out.
    void Open(const std::vector<TZipEntryDef>& Entries, const std::string& Name = "a.zip") {
        WriteBytes(Dir / Name, BuildZip(Entries));
        U.SetFileName(Dir / Name);
        U.SetBaseDirectory(Out);
        U.OnProcessItemFailure = [this](TAbBaseBrowser* Sender, TAbArchiveItem* Item,
                                        TAbProcessType ProcessType, TAbErrorClass ErrorClass,
                                        int32_t ErrorCode) {
            EXPECT_EQ(Sender, &U);
            Failures.push_back(
                {Item != nullptr ? Item->FileName() : "", ProcessType, ErrorClass, ErrorCode});
        };
    }
    // The failure codes reported so far.
    std::vector<int32_t> Codes() const {
        std::vector<int32_t> Result;
        for (const TFailure& F : Failures)
            Result.push_back(F.ErrorCode);
        return Result;
    }
    // No temporary file of the driver is left below Out.
    void ExpectNoLeftovers() {
        for (const std::string& Name : Entries(Out))
            EXPECT_FALSE(Name.ends_with(".part")) << Name;
    }

    TTempDir Dir;
    std::string Out;
    TAbUnZipper U{nullptr};
    std::vector<TFailure> Failures;
};

// ---------------------------------------------------------------------------
// Opening and closing

TEST_F(Unzipper, StartsWithoutAnArchive) {
    EXPECT_EQ(U.Count(), 0);
    EXPECT_EQ(U.Status(), asInvalid);
    EXPECT_EQ(U.ArchiveType(), atUnknown);
    EXPECT_EQ(U.ExtractOptions(), (TAbExtractOptions{eoCreateDirs}));
    EXPECT_EQ(U.FindFile("x"), -1);
    EXPECT_THROW(U.ExtractFiles("*.*"), EAbNoArchive);
    EXPECT_THROW(U.TestTaggedItems(), EAbNoArchive);
    EXPECT_THROW(U.Items(0), EAbNoArchive);
    U.CloseArchive(); // nothing to close
}

TEST_F(Unzipper, OpeningCountsEntriesAndClosingFiresOnChange) {
    int Changes = 0;
    int Loads = 0;
    U.OnChange = [&](TAbBaseBrowser* Sender) {
        EXPECT_EQ(Sender, &U);
        ++Changes;
    };
    U.OnLoad = [&](TAbBaseBrowser*) { ++Loads; };
    U.SetFileName(TestData("zip_deflate_6.zip"));
    EXPECT_EQ(U.Count(), 9);
    EXPECT_EQ(U.Status(), asIdle);
    EXPECT_EQ(U.ArchiveType(), atZip);
    EXPECT_EQ(U.Items(8)->FileName(), "big/big_text.txt");
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(Loads, 1);
    U.CloseArchive();
    EXPECT_EQ(U.Count(), 0);
    EXPECT_EQ(U.FileName(), "");
    EXPECT_EQ(U.Status(), asInvalid);
    EXPECT_EQ(Changes, 2);
    // OpenArchive is the same as setting FileName.
    U.OpenArchive(TestData("comment_1000.zip"));
    EXPECT_EQ(U.Count(), 1);
    EXPECT_EQ(U.ZipfileComment().size(), 1000u);
}

TEST_F(Unzipper, MissingOrEmptyFileChangesNothing) {
    U.SetFileName(TestData("zip_store.zip"));
    int Changes = 0;
    U.OnChange = [&](TAbBaseBrowser*) { ++Changes; };
    EXPECT_THROW(U.SetFileName(Dir / "missing.zip"), EAbFileNotFound);
    EXPECT_THROW(U.SetFileName(Dir.Path()), EAbFileNotFound); // a folder is no file
    WriteBytes(Dir / "empty.zip", "");
    EXPECT_THROW(U.SetFileName(Dir / "empty.zip"), EAbBadStream);
    EXPECT_EQ(U.FileName(), TestData("zip_store.zip"));
    EXPECT_EQ(U.Count(), 9);
    EXPECT_EQ(Changes, 0);
}

TEST_F(Unzipper, ContentThatIsNoZipIsAnUnhandledType) {
    WriteBytes(Dir / "text.zip", "just some text, no archive at all");
    EXPECT_THROW(U.SetFileName(Dir / "text.zip"), EAbUnhandledType);
    EXPECT_THROW(U.SetFileName(TestData("garbage.zip")), EAbUnhandledType);
    // A ZIP archive under another name is recognised by its content; a
    // cabinet is recognised and not read.
    WriteBytes(Dir / "package", ReadBytes(TestData("zip_store.zip")));
    U.SetFileName(Dir / "package");
    EXPECT_EQ(U.ArchiveType(), atZip);
    EXPECT_THROW(U.SetFileName(TestData("cab_mszip.cab")), EAbUnhandledType);
    U.SetFileName(TestData("tar_ustar.tar"));
    EXPECT_EQ(U.ArchiveType(), atTar);
    // ForceType skips the detection.
    WriteBytes(Dir / "data.bin", ReadBytes(TestData("zip_store.zip")));
    U.SetArchiveType(atZip);
    U.SetForceType(true);
    U.SetFileName(Dir / "data.bin");
    EXPECT_EQ(U.Count(), 9);
}

TEST_F(Unzipper, FailedLoadKeepsTheArchiveAttachedWithoutOnChange) {
    // An end record whose directory offset points into the data.
    TZipBuildOptions Bad;
    Bad.DirectoryOffsetOverride = 2;
    WriteBytes(Dir / "bad.zip", BuildZip({Stored("a.txt", "aaaa"), Stored("b.txt", "bbbb")}, Bad));
    U.SetFileName(TestData("zip_store.zip"));
    int Changes = 0;
    int Loads = 0;
    U.OnChange = [&](TAbBaseBrowser*) { ++Changes; };
    U.OnLoad = [&](TAbBaseBrowser*) { ++Loads; };
    U.SetArchiveType(atSelfExtZip); // stored while the archive is idle
    EXPECT_THROW(U.SetFileName(Dir / "bad.zip"), EAbZipInvalid);
    EXPECT_EQ(U.FileName(), Dir / "bad.zip");
    EXPECT_NE(U.ZipArchive(), nullptr);
    EXPECT_EQ(U.ArchiveType(), atSelfExtZip); // the old value
    EXPECT_EQ(Changes, 0);
    EXPECT_EQ(Loads, 1); // after every load attempt
    // The next name frees it.
    U.SetFileName(TestData("zip_store.zip"));
    EXPECT_EQ(U.Count(), 9);
    EXPECT_EQ(Changes, 1);
}

TEST_F(Unzipper, MissingBaseDirectoryFailsWhenTheArchiveIsConnected) {
    U.SetBaseDirectory(Dir / "nowhere"); // no archive: stored as given
    EXPECT_EQ(U.BaseDirectory(), Dir / "nowhere");
    EXPECT_THROW(U.SetFileName(TestData("zip_store.zip")), EAbNoSuchDirectory);
    EXPECT_NE(U.Archive(), nullptr);
    // With an archive the archive checks and normalises the value.
    EXPECT_THROW(U.SetBaseDirectory(Dir / "still-nowhere"), EAbNoSuchDirectory);
    U.SetBaseDirectory(Out + "/");
    EXPECT_EQ(U.BaseDirectory(), Out);
    EXPECT_EQ(U.Archive()->BaseDirectory(), Out);
}

TEST_F(Unzipper, PropertiesReachTheArchiveBeforeAndAfterOpening) {
    U.SetPassword("early");
    U.SetPasswordRetries(5);
    U.SetExtractOptions({eoCreateDirs, eoRestorePath});
    U.SetTempDirectory(Dir.Path());
    U.SetBaseDirectory(Out);
    U.SetFileName(TestData("zip_store.zip"));
    TAbZipArchive* Zip = U.ZipArchive();
    ASSERT_NE(Zip, nullptr);
    EXPECT_EQ(Zip->Password(), "early");
    EXPECT_EQ(Zip->PasswordRetries(), 5);
    EXPECT_EQ(Zip->ExtractOptions(), (TAbExtractOptions{eoCreateDirs, eoRestorePath}));
    EXPECT_EQ(Zip->TempDirectory(), Dir.Path());
    EXPECT_EQ(Zip->BaseDirectory(), Out);
    EXPECT_TRUE(Zip->ExtractHelper);
    EXPECT_TRUE(Zip->ExtractToStreamHelper);
    EXPECT_TRUE(Zip->TestHelper);
    U.SetPassword("late");
    U.SetPasswordRetries(1);
    U.SetExtractOptions({});
    EXPECT_EQ(Zip->Password(), "late");
    EXPECT_EQ(Zip->PasswordRetries(), 1);
    EXPECT_EQ(Zip->ExtractOptions(), TAbExtractOptions{});
    // A log file name switches logging on, an empty one off.
    U.SetLogFile(Dir / "log.txt");
    EXPECT_TRUE(U.Logging());
    EXPECT_TRUE(Zip->Logging());
    EXPECT_TRUE(FileExists(Dir / "log.txt"));
    U.SetLogFile("");
    EXPECT_FALSE(U.Logging());
    EXPECT_FALSE(Zip->Logging());
    bool Asked = false;
    U.SetOnRequestImage([&](TAbArchive*, int32_t, std::string&, bool&) { Asked = true; });
    ASSERT_TRUE(Zip->OnRequestImage);
    std::string Name;
    bool Abort = false;
    Zip->OnRequestImage(Zip, 1, Name, Abort);
    EXPECT_TRUE(Asked);
}

TEST_F(Unzipper, OpeningAStreamAndClosingIt) {
    const std::string Bytes = BuildZip({Stored("one.txt", "1"), Stored("two.txt", "22")});
    TReadOnlyMemoryStream Stream(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    U.SetFileName(TestData("zip_store.zip"));
    U.SetStream(&Stream);
    EXPECT_EQ(U.FileName(), "");
    EXPECT_EQ(U.Count(), 2);
    EXPECT_EQ(U.Stream(), &Stream);
    TMemoryStream Data;
    U.ExtractToStream("two.txt", &Data);
    EXPECT_EQ(Data.Size(), 2);
    // Without a file name CloseArchive has nothing to do; a null stream closes.
    U.CloseArchive();
    EXPECT_EQ(U.Count(), 2);
    U.SetStream(nullptr);
    EXPECT_EQ(U.Count(), 0);
}

class TMeter : public TComponent, public IAbProgressMeter {
public:
    explicit TMeter(std::vector<std::string>& ALog, const char* AName)
        : TComponent(nullptr), FLog(ALog), FName(AName) {}
    void ShowProgress(uint8_t Progress) override {
        FLog.push_back(FName + " " + std::to_string(Progress));
    }
    void ResetProgress() override { FLog.push_back(FName + " reset"); }

private:
    std::vector<std::string>& FLog;
    std::string FName;
};

TEST_F(Unzipper, MetersSeeProgressBeforeTheEventsAndForgetFreedComponents) {
    std::vector<std::string> Log;
    auto ItemMeter = std::make_unique<TMeter>(Log, "item");
    auto ArchiveMeter = std::make_unique<TMeter>(Log, "archive");
    U.SetItemProgressMeter(ItemMeter.get());
    U.SetArchiveProgressMeter(ArchiveMeter.get());
    U.OnArchiveProgress = [&](TAbBaseBrowser*, uint8_t P, bool&) {
        Log.push_back("event archive " + std::to_string(P));
    };
    U.OnArchiveItemProgress = [&](TAbBaseBrowser*, TAbArchiveItem*, uint8_t P, bool&) {
        Log.push_back("event item " + std::to_string(P));
    };
    U.OnConfirmProcessItem = [&](TAbBaseBrowser*, TAbArchiveItem* Item, TAbProcessType, bool&) {
        Log.push_back("confirm " + Item->FileName());
    };
    Open({Stored("a.txt", std::string(1000, 'a'))});
    Log.clear();
    U.ExtractFiles("*.*");
    EXPECT_EQ(Log, (std::vector<std::string>{"item reset", "confirm a.txt", "item 100",
                                             "event item 100", "archive 100", "event archive 100",
                                             "archive 100", "event archive 100"}));
    ItemMeter.reset();
    EXPECT_EQ(U.ItemProgressMeter(), nullptr);
    EXPECT_EQ(U.ArchiveProgressMeter(), ArchiveMeter.get());
    U.ExtractFiles("*.*"); // no freed meter is touched
}

// ---------------------------------------------------------------------------
// Paths, directories, empty entries, times and attributes

TEST_F(Unzipper, DefaultsFlattenAndRestorePathKeepsFolders) {
    std::vector<TZipEntryDef> Package = {Directory("setup/"), Stored("setup/a.dll", "dll"),
                                         Stored("b.exe", "exe")};
    Open(Package);
    U.ExtractFiles("*.*");
    EXPECT_EQ(Entries(Out), (std::vector<std::string>{"a.dll", "b.exe"}));
    EXPECT_TRUE(Failures.empty());

    TTempDir Other;
    U.SetBaseDirectory(Other.Path());
    U.SetExtractOptions({eoCreateDirs, eoRestorePath});
    U.ExtractFiles("*.*");
    EXPECT_EQ(Entries(Other.Path()), (std::vector<std::string>{"b.exe", "setup", "setup/a.dll"}));
    EXPECT_EQ(ReadBytes(Other / "setup/a.dll"), "dll");
}

TEST_F(Unzipper, FoldersAreMadeForNestedNamesAndDirectoryEntriesGetTheirTime) {
    TZipEntryDef D = Directory("d/e/");
    D.Date = 0x4A21; // 2017-01-01
    D.Time = 0x6000; // 12:00:00
    Open({D, Stored("x/y/z.txt", "z")});
    U.SetExtractOptions({eoCreateDirs, eoRestorePath});
    U.ExtractFiles("*.*");
    EXPECT_EQ(ReadBytes(Out + "/x/y/z.txt"), "z");
    TDateTime When = 0;
    ASSERT_TRUE(FileGetLastWriteTime(Out + "/d/e", When));
    EXPECT_EQ(FormatDateTimeIso(When), "2017-01-01 12:00:00");
    // Without eoCreateDirs a missing folder ends the extraction.
    TTempDir Other;
    U.SetBaseDirectory(Other.Path());
    U.SetExtractOptions({eoRestorePath});
    EXPECT_THROW(U.ExtractFiles("*.*"), EAbNoSuchDirectory);
}

TEST_F(Unzipper, EmptyEntryMakesAnEmptyFileWithTimeAndAttributes) {
    TZipEntryDef E = Stored("empty.txt", "");
    E.ExternalAttributes = 0x01; // read-only
    Open({E});
    U.ExtractFiles("*.*");
    EXPECT_TRUE(Failures.empty());
    EXPECT_EQ(ReadBytes(Out + "/empty.txt"), "");
    EXPECT_TRUE(test::IsReadOnly(Out + "/empty.txt"));
    TDateTime When = 0;
    ASSERT_TRUE(FileGetLastWriteTime(Out + "/empty.txt", When));
    EXPECT_EQ(FormatDateTimeIso(When), "2021-06-15 12:34:48");
}

TEST_F(Unzipper, UnsafeNamesAreRefusedAndNothingLeavesTheBase) {
    Open({Stored("../up.txt", "u"), Stored("/abs.txt", "a"), Stored("ok/../fine.txt", "f")});
    U.SetExtractOptions({eoCreateDirs, eoRestorePath});
    U.ExtractFiles("*.*");
    EXPECT_EQ(Codes(), (std::vector<int32_t>{AbErrUnsafePath, AbErrUnsafePath}));
    EXPECT_EQ(Entries(Dir.Path()), (std::vector<std::string>{"a.zip", "out", "out/fine.txt"}));
}

// ---------------------------------------------------------------------------
// Item failures and what stays on disk

TEST_F(Unzipper, WrongCrcWritesTheFileAndReportsCode19) {
    TZipEntryDef E = Stored("bad.txt", "payload");
    E.CentralCrc = 0xDEADBEEF;
    Open({E});
    U.ExtractFiles("*.*");
    ASSERT_EQ(Failures.size(), 1u);
    EXPECT_EQ(Failures[0].Name, "bad.txt");
    EXPECT_EQ(Failures[0].ProcessType, ptExtract);
    EXPECT_EQ(Failures[0].ErrorClass, ecMorvanta);
    EXPECT_EQ(Failures[0].ErrorCode, AbErrZipBadCRC);
    EXPECT_EQ(ReadBytes(Out + "/bad.txt"), "payload");
    ExpectNoLeftovers();
    // A file that was there is never replaced by data that failed its check.
    WriteBytes(Out + "/bad.txt", "older contents");
    U.ExtractFiles("*.*");
    EXPECT_EQ(Codes(), (std::vector<int32_t>{AbErrZipBadCRC, AbErrZipBadCRC}));
    EXPECT_EQ(ReadBytes(Out + "/bad.txt"), "older contents");
    ExpectNoLeftovers();
}

TEST_F(Unzipper, UnsupportedMethodLeavesAnExistingFileAsItWas) {
    TZipEntryDef E = Stored("m.bin", "data");
    E.Method = 99;
    WriteBytes(Out + "/m.bin", "precious");
    ASSERT_TRUE(SetFileModifiedTime(Out + "/m.bin", EncodeDateTime(2010, 5, 6, 7, 8, 10, 0)));
    Open({E, Stored("new.bin", "n")});
    U.ExtractFiles("*.*");
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipInvalidMethod});
    EXPECT_EQ(ReadBytes(Out + "/m.bin"), "precious");
    TDateTime When = 0;
    ASSERT_TRUE(FileGetLastWriteTime(Out + "/m.bin", When));
    EXPECT_EQ(FormatDateTimeIso(When), "2010-05-06 07:08:10");
    EXPECT_EQ(ReadBytes(Out + "/new.bin"), "n");
    ExpectNoLeftovers();
}

TEST_F(Unzipper, DamagedDataLeavesAnExistingFileAsItWas) {
    TZipEntryDef E = Deflated("d.txt", std::string(50000, 'q') + RandomBytes(20000, 4));
    E.Data[E.Data.size() / 2] ^= 0x55;
    E.Data.resize(E.Data.size() - 10); // and cut short
    WriteBytes(Out + "/d.txt", "keep me");
    Open({E});
    U.ExtractFiles("*.*");
    ASSERT_EQ(Failures.size(), 1u);
    EXPECT_EQ(Failures[0].ErrorClass, ecOther); // the decoder's error
    EXPECT_EQ(ReadBytes(Out + "/d.txt"), "keep me");
    ExpectNoLeftovers();
}

TEST_F(Unzipper, VersionNeededIsCheckedBeforeAnythingIsTouched) {
    TZipEntryDef New = Stored("v64.txt", "new");
    New.VersionNeeded = 0x0040;
    TZipEntryDef Ok = Stored("v63.txt", "ok");
    Ok.VersionNeeded = 0x003F;
    WriteBytes(Out + "/v64.txt", "old");
    Open({New, Ok});
    U.ExtractFiles("*.*");
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipVersion});
    EXPECT_EQ(ReadBytes(Out + "/v64.txt"), "old");
    EXPECT_EQ(ReadBytes(Out + "/v63.txt"), "ok");
}

TEST_F(Unzipper, ReadOnlyTargetStaysUntouched) {
    WriteBytes(Out + "/ro.txt", "read-only original");
    ASSERT_TRUE(test::SetReadOnly(Out + "/ro.txt", true));
    Open({Stored("ro.txt", "replacement"), Stored("other.txt", "o")});
    U.ExtractFiles("*.*");
    ASSERT_EQ(Failures.size(), 1u);
    EXPECT_EQ(Failures[0].Name, "ro.txt");
    EXPECT_EQ(Failures[0].ErrorClass, ecFileCreateError);
    EXPECT_EQ(ReadBytes(Out + "/ro.txt"), "read-only original");
    EXPECT_EQ(ReadBytes(Out + "/other.txt"), "o");
    ExpectNoLeftovers();
}

// Marks a path immutable, so that not even root may change it; false where
// the file system does not support it.
bool MakeImmutable(const std::string& Path, bool On) {
    return Shell(std::string("chattr ") + (On ? "+i " : "-i ") + Quote(Path) + " 2>/dev/null") == 0;
}

TEST_F(Unzipper, TargetWithoutWritePermissionStaysUntouched) {
    WriteBytes(Out + "/locked.txt", "locked original");
    if (!MakeImmutable(Out + "/locked.txt", true))
        GTEST_SKIP() << "chattr +i is not supported here";
    Open({Stored("locked.txt", "replacement")});
    U.ExtractFiles("*.*");
    MakeImmutable(Out + "/locked.txt", false);
    ASSERT_EQ(Failures.size(), 1u);
    EXPECT_EQ(Failures[0].ErrorClass, ecFileCreateError);
    EXPECT_EQ(ReadBytes(Out + "/locked.txt"), "locked original");
    ExpectNoLeftovers();
}

TEST_F(Unzipper, FolderWithoutWritePermissionLeavesItsFileAsItWas) {
    ForceDirectories(Out + "/sub");
    WriteBytes(Out + "/sub/f.txt", "original");
    if (!MakeImmutable(Out + "/sub", true)) GTEST_SKIP() << "chattr +i is not supported here";
    Open({Stored("sub/f.txt", "replacement")});
    U.SetExtractOptions({eoCreateDirs, eoRestorePath});
    U.ExtractFiles("*.*");
    MakeImmutable(Out + "/sub", false);
    ASSERT_EQ(Failures.size(), 1u);
    EXPECT_EQ(Failures[0].ErrorClass, ecFileCreateError);
    EXPECT_EQ(ReadBytes(Out + "/sub/f.txt"), "original");
    EXPECT_EQ(::kivo::ziptest::Entries(Out + "/sub"), std::vector<std::string>{"f.txt"});
}

TEST_F(Unzipper, ReplacingKeepsThePermissionsOfTheFileItReplaces) {
    WriteBytes(Out + "/tool", "#!/bin/sh\n");
    if (!test::SetPermissionBits(Out + "/tool", 0750))
        GTEST_SKIP() << "files have no permission bits here";
    Open({Stored("tool", "#!/bin/sh\necho new\n")});
    U.ExtractFiles("*.*");
    EXPECT_EQ(ReadBytes(Out + "/tool"), "#!/bin/sh\necho new\n");
    EXPECT_EQ(test::PermissionBits(Out + "/tool"), 0750u);
}

TEST_F(Unzipper, ASymbolicLinkInTheWayIsReplacedNotFollowed) {
    TTempDir Outside;
    WriteBytes(Outside / "victim.txt", "outside the base");
    if (!test::MakeSymbolicLink(Outside / "victim.txt", Out + "/link.txt"))
        GTEST_SKIP() << "symbolic links cannot be made here";
    Open({Stored("link.txt", "inside")});
    U.ExtractFiles("*.*");
    EXPECT_TRUE(Failures.empty());
    EXPECT_EQ(ReadBytes(Outside / "victim.txt"), "outside the base");
    EXPECT_EQ(ReadBytes(Out + "/link.txt"), "inside");
    EXPECT_TRUE(test::IsPlainFile(Out + "/link.txt"));
}

TEST_F(Unzipper, OverwriteQuestionCanRefuseOrRename) {
    WriteBytes(Out + "/a.txt", "old a");
    WriteBytes(Out + "/b.txt", "old b");
    Open({Stored("a.txt", "new a"), Stored("b.txt", "new b")});
    std::vector<std::string> Asked;
    U.OnConfirmOverwrite = [&](std::string& Name, bool& Confirm) {
        EXPECT_TRUE(Confirm);
        Asked.push_back(Name);
        if (Name == Out + "/a.txt")
            Confirm = false;
        else
            Name = Out + "/b-renamed.txt";
    };
    U.ExtractFiles("*.*");
    EXPECT_EQ(Asked, (std::vector<std::string>{Out + "/a.txt", Out + "/b.txt"}));
    EXPECT_EQ(ReadBytes(Out + "/a.txt"), "old a");
    EXPECT_EQ(ReadBytes(Out + "/b.txt"), "old b");
    EXPECT_EQ(ReadBytes(Out + "/b-renamed.txt"), "new b");
}

// ---------------------------------------------------------------------------
// Passwords

class UnzipperPasswords : public Unzipper {
protected:
    void OpenEncrypted(const std::string& Password = "right") {
        TZipEntryDef E;
        E.RawName = "secret.txt";
        E.Data = ZipCryptoEncrypt(Plain, Password, static_cast<uint8_t>(Crc32Of(Plain) >> 24));
        E.Flags = 1;
        E.CentralCrc = Crc32Of(Plain);
        E.CentralUncompressedSize = static_cast<int64_t>(Plain.size());
        Open({E, Stored("plain.txt", "p")});
    }
    const std::string Plain = "the secret contents";
};

TEST_F(UnzipperPasswords, NoPasswordAndNoHandlerFailsAtOnceWithoutWriting) {
    OpenEncrypted();
    U.ExtractFiles("*.*");
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipInvalidPassword});
    EXPECT_EQ(::kivo::ziptest::Entries(Out), std::vector<std::string>{"plain.txt"});
}

TEST_F(UnzipperPasswords, RightPasswordExtracts) {
    U.SetPassword("right");
    OpenEncrypted();
    U.ExtractFiles("*.*");
    EXPECT_TRUE(Failures.empty());
    EXPECT_EQ(ReadBytes(Out + "/secret.txt"), Plain);
}

TEST_F(UnzipperPasswords, HandlerSupplyingTheRightPasswordAfterAWrongOne) {
    U.SetPassword("wrong");
    OpenEncrypted();
    std::vector<std::string> Offered;
    U.OnNeedPassword = [&](TAbBaseBrowser* Sender, std::string& NewPassword) {
        EXPECT_EQ(Sender, &U);
        Offered.push_back(NewPassword);
        NewPassword = "right";
    };
    U.ExtractFiles("*.*");
    EXPECT_TRUE(Failures.empty());
    EXPECT_EQ(Offered, std::vector<std::string>{"wrong"});
    EXPECT_EQ(ReadBytes(Out + "/secret.txt"), Plain);
    EXPECT_EQ(U.Password(), "right");
    const TAbZipArchive* Zip = U.ZipArchive();
    ASSERT_NE(Zip, nullptr);
    EXPECT_EQ(Zip->Password(), "right");
}

TEST_F(UnzipperPasswords, RetriesAreCountedThenThePasswordIsInvalid) {
    U.SetPassword("wrong");
    OpenEncrypted();
    int Calls = 0;
    U.OnNeedPassword = [&](TAbBaseBrowser*, std::string&) { ++Calls; }; // keeps the wrong one
    U.ExtractFiles("*.*");
    EXPECT_EQ(Calls, 3); // four attempts with PasswordRetries 3
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipInvalidPassword});
    U.SetPasswordRetries(0);
    Calls = 0;
    Failures.clear();
    U.ExtractFiles("secret.txt");
    EXPECT_EQ(Calls, 0);
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipInvalidPassword});
}

TEST_F(UnzipperPasswords, EmptyAnswerAfterAWrongPasswordIsAUserAbortOfThatItem) {
    U.SetPassword("wrong");
    OpenEncrypted();
    U.OnNeedPassword = [&](TAbBaseBrowser*, std::string& NewPassword) { NewPassword.clear(); };
    U.ExtractFiles("*.*");
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrUserAbort});
    // The abort came before the target was made: the archive stays usable.
    EXPECT_EQ(U.Status(), asIdle);
    EXPECT_EQ(ReadBytes(Out + "/plain.txt"), "p");
    EXPECT_FALSE(FileExists(Out + "/secret.txt"));
    // And with no password at all, a handler's empty answer is an invalid password.
    Failures.clear();
    U.ExtractFiles("secret.txt");
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipInvalidPassword});
}

// ---------------------------------------------------------------------------
// Progress and aborts

TEST_F(Unzipper, ProgressOfAThousandByteEntryInOneBlock) {
    Open({Stored("k.bin", std::string(1000, 'k'))});
    std::vector<int> Seen;
    U.OnArchiveItemProgress = [&](TAbBaseBrowser*, TAbArchiveItem* Item, uint8_t P, bool&) {
        EXPECT_EQ(Item->FileName(), "k.bin");
        Seen.push_back(P);
    };
    U.ExtractFiles("*.*");
    EXPECT_EQ(Seen, std::vector<int>{100});
}

TEST_F(Unzipper, ProgressOfALargeEntryRisesToHundredAtMostHundredTimes) {
    Open({Deflated("big.txt", RandomBytes(3 << 20, 11))});
    std::vector<int> Seen;
    U.OnArchiveItemProgress = [&](TAbBaseBrowser*, TAbArchiveItem*, uint8_t P, bool&) {
        Seen.push_back(P);
    };
    U.ExtractFiles("*.*");
    ASSERT_FALSE(Seen.empty());
    EXPECT_LE(Seen.size(), 100u);
    EXPECT_TRUE(std::is_sorted(Seen.begin(), Seen.end()));
    EXPECT_EQ(std::adjacent_find(Seen.begin(), Seen.end()), Seen.end());
    EXPECT_GE(Seen.front(), 1);
    EXPECT_EQ(Seen.back(), 100);
}

TEST_F(Unzipper, ItemAbortDeletesNothingOldAndEndsTheLoopAtTheNextItem) {
    WriteBytes(Out + "/first.bin", "first, before");
    Open({Deflated("first.bin", RandomBytes(2 << 20, 5)), Stored("second.bin", "2")});
    U.OnArchiveItemProgress = [&](TAbBaseBrowser*, TAbArchiveItem*, uint8_t P, bool& Abort) {
        Abort = P >= 10;
    };
    EXPECT_THROW(U.ExtractFiles("*.*"), EAbNoArchive);
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrUserAbort});
    EXPECT_EQ(ReadBytes(Out + "/first.bin"), "first, before");
    EXPECT_FALSE(FileExists(Out + "/second.bin"));
    ExpectNoLeftovers();
    // The archive refuses everything until a new name is set.
    EXPECT_EQ(U.Status(), asInvalid);
    EXPECT_THROW(U.ExtractFiles("*.*"), EAbNoArchive);
    EXPECT_THROW(U.SetArchiveType(atZip), EAbArchiveBusy);
    U.SetFileName(U.FileName());
    U.OnArchiveItemProgress = nullptr;
    U.ExtractFiles("*.*");
    EXPECT_EQ(ReadBytes(Out + "/second.bin"), "2");
}

TEST_F(Unzipper, ArchiveAbortStopsAfterTheCurrentItem) {
    Open({Stored("1.txt", "1"), Stored("2.txt", "2"), Stored("3.txt", "3")});
    U.OnArchiveProgress = [&](TAbBaseBrowser*, uint8_t, bool& Abort) {
        Abort = FileExists(Out + "/2.txt");
    };
    EXPECT_THROW(U.ExtractFiles("*.*"), EAbUserAbort);
    EXPECT_EQ(::kivo::ziptest::Entries(Out), (std::vector<std::string>{"1.txt", "2.txt"}));
    EXPECT_EQ(U.Status(), asIdle);
}

// ---------------------------------------------------------------------------
// Streams, single items and testing

TEST_F(Unzipper, ExtractToStreamAndExtractAt) {
    Open({Deflated("text.txt", "hello, stream"), Stored("other.txt", "x")});
    TMemoryStream Data;
    U.ExtractToStream("TEXT.TXT", &Data); // names compare without case
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Data.Memory()), Data.Size()),
              "hello, stream");
    U.ExtractToStream("missing.txt", &Data); // nothing happens
    EXPECT_TRUE(Failures.empty());
    U.ExtractToStream("text.txt", nullptr);
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrBadStream});
    U.ExtractAt(1, "renamed.txt");
    EXPECT_EQ(ReadBytes(Out + "/renamed.txt"), "x");
}

// Deflated data is checked with the decoder's own CRC-32 (the output stream
// then computes none): extracting and testing catch a wrong CRC in a stored
// and in a deflated item alike, on data long enough for the decoder's fast
// loop, and pass the right one.
class UnzipperCrc : public Unzipper, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(UnzipperCrc, ExtractingAndTestingCatchAWrongCrc) {
    const std::string Data = kivo::test::MakeText(300000);
    auto Entry = [&](const std::string& Name, uint32_t Crc) {
        TZipEntryDef E = GetParam() == 8
                             ? Packed(Name, 8, kivo::test::ZlibDeflateRaw(Data, 6), Data)
                             : Stored(Name, Data);
        E.CentralCrc = Crc;
        E.LocalLikeCentral = true;
        return E;
    };
    Open({Entry("good.txt", Crc32Of(Data)), Entry("bad.txt", Crc32Of(Data) ^ 0x80)});
    U.ExtractFiles("*.*");
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipBadCRC});
    EXPECT_EQ(Failures[0].Name, "bad.txt");
    EXPECT_TRUE(ReadBytes(Out + "/good.txt") == Data);
    Failures.clear();
    U.TagItems("*");
    U.TestTaggedItems();
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipBadCRC});
    EXPECT_EQ(Failures[0].Name, "bad.txt");
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, UnzipperCrc, ::testing::Values(0, 8));

TEST_F(Unzipper, TestingStopsAtTheFirstFailingItem) {
    TZipEntryDef Bad = Stored("bad.txt", "b");
    Bad.CentralCrc = 1;
    TZipEntryDef Method = Stored("m.bin", "m");
    Method.Method = 99;
    Open({Stored("good.txt", "g"), Bad, Method});
    // The local header of bad.txt (after the 39 bytes of good.txt) agrees
    // with the directory's wrong CRC.
    std::string Bytes = ReadBytes(Dir / "a.zip");
    Bytes.replace(39 + 14, 4, Le32(1));
    WriteBytes(Dir / "b.zip", Bytes);
    U.SetFileName(Dir / "b.zip");
    U.TagItems("*");
    // The CRC mismatch is reported, not raised; the method error ends the test.
    EXPECT_THROW(U.TestTaggedItems(), EAbZipInvalidMethod);
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipBadCRC});
    EXPECT_EQ(Failures[0].ProcessType, ptExtract);
    U.UnTagItems("m.bin");
    Failures.clear();
    U.TestTaggedItems();
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipBadCRC});
    EXPECT_TRUE(::kivo::ziptest::Entries(Out).empty()); // testing writes nothing
}

TEST_F(Unzipper, TestingComparesTheLocalHeaderWithTheDirectory) {
    // The local header claims another time than the central directory.
    std::string Bytes = BuildZip({Stored("t.txt", "t")});
    Bytes[10] ^= 0x01;
    WriteBytes(Dir / "lfh.zip", Bytes);
    U.SetFileName(Dir / "lfh.zip");
    U.TagItems("*");
    EXPECT_THROW(U.TestTaggedItems(), EAbZipInvalidLFH);
    // Archives with data descriptors (bit 3, zeros in the local header) test
    // clean, from Info-ZIP and from another writer.
    for (const char* Name : {"dd_pipe.zip", "py_data_descriptor.zip", "zip64_forced_fz.zip"}) {
        U.SetFileName(TestData(Name));
        U.TagItems("*");
        EXPECT_NO_THROW(U.TestTaggedItems()) << Name;
    }
    // A data descriptor that disagrees with the directory does not.
    std::string Dd = ReadBytes(TestData("dd_pipe.zip"));
    size_t At = Dd.find(std::string("PK\x07\x08", 4));
    ASSERT_NE(At, std::string::npos);
    Dd[At + 4] ^= 0x01; // its CRC
    WriteBytes(Dir / "dd.zip", Dd);
    U.SetFileName(Dir / "dd.zip");
    U.TagItems("*");
    EXPECT_THROW(U.TestTaggedItems(), EAbZipInvalidLFH);
}

TEST_F(Unzipper, LocalHeaderWithAnotherSignatureIsAnInvalidZip) {
    TZipEntryDef E = Stored("x.txt", "x");
    E.CentralOffset = 1; // not at a local header
    Open({E});
    U.ExtractFiles("*.*");
    EXPECT_EQ(Codes(), std::vector<int32_t>{AbErrZipInvalid});
    EXPECT_TRUE(::kivo::ziptest::Entries(Out).empty());
}

// The driver on its own, without the component: a CRC mismatch with no
// failure handler raises, and the target is then not replaced.
TEST_F(Unzipper, DriverWithoutAFailureHandlerRaisesTheCrcMismatch) {
    TZipEntryDef E = Stored("c.txt", "new");
    E.CentralCrc = 7;
    WriteBytes(Dir / "c.zip", BuildZip({E}));
    WriteBytes(Out + "/c.txt", "old");
    TAbZipArchive Archive(Dir / "c.zip", fmOpenRead | fmShareDenyNone);
    Archive.Load();
    EXPECT_THROW(WriteItemToFile(Archive, Archive.ZipItems(0), Out + "/c.txt"), EAbZipBadCRC);
    EXPECT_EQ(ReadBytes(Out + "/c.txt"), "old");
    ExpectNoLeftovers();
    EXPECT_THROW(WriteItemToStream(Archive, Archive.ZipItems(0), nullptr), EAbBadStream);
}

// ---------------------------------------------------------------------------
// The support streams

TEST(UnzipStreams, OutputStreamCountsCrcAndReportsWholePercents) {
    TMemoryStream Target;
    TAbUnzipOutputStream S(&Target);
    S.SetUncompressedSize(300);
    std::vector<int> Seen;
    S.SetOnProgress([&](uint8_t P, bool& Abort) {
        Seen.push_back(P);
        Abort = P == 100;
    });
    S.WriteBuffer("abc", 3);                          // 1 %
    S.WriteBuffer(std::string(2, 'x').data(), 2);     // still 1 %
    S.WriteBuffer(std::string(145, 'y').data(), 145); // 50 %
    EXPECT_THROW(S.WriteBuffer(std::string(150, 'z').data(), 150), EAbUserAbort);
    EXPECT_EQ(Seen, (std::vector<int>{1, 50, 100}));
    EXPECT_EQ(Target.Size(), 300); // the bytes went out before the abort
    EXPECT_EQ(S.CRC32(), Crc32Of(std::string(reinterpret_cast<const char*>(Target.Memory()), 300)));
    char B;
    EXPECT_THROW(S.Read(&B, 1), EAbException);
}

} // namespace
