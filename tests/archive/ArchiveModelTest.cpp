// The archive object: the extract-by-mask loop and its events, the target
// path rules (including names that try to leave the base directory), tags,
// load and save, logging and the update operations, over a small in-memory
// format.
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "archive/AbArcTyp.h"
#include "archive/AbDfBase.h"
#include "platform/FileSystem.h"
#include "runtime/Application.h"
#include "runtime/Text.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

class TFakeItem : public TAbArchiveItem {
public:
    explicit TFakeItem(const std::string& Name) {
        SetFileName(Name);
        SetDiskFileName(Name);
    }
    bool IsDirectory() const override {
        std::string N = FileName();
        return !N.empty() && (N.back() == '/' || N.back() == '\\');
    }
};

// A format whose items are names; extracting writes "data:<name>". Names
// containing "fail" raise the configured error.
class TFakeArchive : public TAbArchive {
public:
    TFakeArchive(std::vector<std::string> Names, const std::string& Name = "fake.arc")
        : TAbArchive(&FStreamObj, Name), FNames(std::move(Names)) {}

    std::unique_ptr<TAbArchiveItem> CreateItem(const std::string& FileName) override {
        auto Item = std::make_unique<TFakeItem>(NormalizeStoredName(FileName));
        Item->SetDiskFileName(FileName);
        return Item;
    }
    void ExtractItemToFile(int32_t Index, const std::string& TargetName) override {
        TAbArchiveItem* Item = Items(Index);
        Extracted.push_back(TargetName);
        MaybeFail(Item);
        if (Item->IsDirectory())
            CreateDirectoryChain(TargetName);
        else
            WriteBytes(TargetName, "data:" + Item->FileName());
    }
    void ExtractItemToStream(int32_t Index, TStream* Stream) override {
        MaybeFail(Items(Index));
        std::string Data = "data:" + Items(Index)->FileName();
        Stream->WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
    }
    void ReadArchive() override {
        if (LoadError) throw EAbZipInvalid();
        for (const std::string& N : FNames)
            ItemList().Add(new TFakeItem(N));
    }
    void WriteArchive() override {
        ++Writes;
        for (int32_t I = Count() - 1; I >= 0; --I) {
            if (Items(I)->Action() == aaDelete)
                ItemList().Delete(I);
            else
                Items(I)->SetAction(aaNone);
        }
    }
    void VerifyItem(int32_t Index) override {
        Verified.push_back(Items(Index)->FileName());
        MaybeFail(Items(Index));
    }

    std::vector<std::string> Extracted;
    std::vector<std::string> Verified;
    int Writes = 0;
    bool LoadError = false;
    std::exception_ptr FailWith = std::make_exception_ptr(EAbZipBadCRC());

private:
    void MaybeFail(TAbArchiveItem* Item) {
        if (Item->FileName().find("fail") != std::string::npos) std::rethrow_exception(FailWith);
    }
    TMemoryStream FStreamObj;
    std::vector<std::string> FNames;
};

struct TFailure {
    std::string Name;
    TAbProcessType Type;
    TAbErrorClass Class;
    int32_t Code;
};

// An archive over Names, loaded, extracting into a fresh base directory.
struct TFixture {
    explicit TFixture(std::vector<std::string> Names) : Archive(std::move(Names)) {
        Base = Dir / "base";
        CreateDir(Base);
        Archive.Load();
        Archive.SetBaseDirectory(Base);
        Archive.OnProcessItemFailure = [this](TAbArchive*, TAbArchiveItem* Item,
                                              TAbProcessType Type, TAbErrorClass Class,
                                              int32_t Code) {
            Failures.push_back({Item->FileName(), Type, Class, Code});
        };
    }
    std::string In(const std::string& Name) const { return Base + "/" + Name; }

    TTempDir Dir;
    std::string Base;
    TFakeArchive Archive;
    std::vector<TFailure> Failures;
};

// ---------------------------------------------------------------------------
// The extract-by-mask loop

TEST(ExtractLoop, DefaultOptionsFlattenNamesAndSkipDirectories) {
    TFixture F({"setup/", "setup/a.dll", "b.exe"});
    F.Archive.SetExtractOptions({eoCreateDirs});
    F.Archive.ExtractFiles("*.*");
    EXPECT_EQ(ReadBytes(F.In("a.dll")), "data:setup/a.dll");
    EXPECT_EQ(ReadBytes(F.In("b.exe")), "data:b.exe");
    EXPECT_FALSE(Exists(F.In("setup")));
    EXPECT_EQ(F.Archive.Extracted.size(), 2u);
}

TEST(ExtractLoop, RestorePathCreatesDirectories) {
    TFixture F({"setup/", "setup/a.dll", "b.exe"});
    F.Archive.SetExtractOptions({eoCreateDirs, eoRestorePath});
    F.Archive.ExtractFiles("*.*");
    EXPECT_TRUE(DirectoryExists(F.In("setup")));
    EXPECT_EQ(ReadBytes(F.In("setup/a.dll")), "data:setup/a.dll");
    EXPECT_EQ(ReadBytes(F.In("b.exe")), "data:b.exe");
}

TEST(ExtractLoop, WithoutCreateDirsDirectoriesAreNotEvenOffered) {
    TFixture F({"docs/", "docs/a.txt"});
    F.Archive.SetExtractOptions({});
    std::vector<std::string> Offered;
    F.Archive.OnConfirmProcessItem = [&](TAbArchive*, TAbArchiveItem* Item, TAbProcessType,
                                         bool& Confirm) {
        EXPECT_TRUE(Confirm);
        Offered.push_back(Item->FileName());
    };
    F.Archive.ExtractFiles("*.*");
    EXPECT_EQ(Offered, std::vector<std::string>{"docs/a.txt"});
    EXPECT_TRUE(Exists(F.In("a.txt")));
}

TEST(ExtractLoop, SameNameFromTwoFoldersOverwritesAfterAsking) {
    TFixture F({"bin/tool.exe", "lib/tool.exe"});
    F.Archive.SetExtractOptions({eoCreateDirs});
    std::vector<std::string> Asked;
    F.Archive.OnConfirmOverwrite = [&](std::string& Name, bool& Confirm) {
        EXPECT_TRUE(Confirm);
        Asked.push_back(Name);
    };
    F.Archive.ExtractFiles("*.*");
    EXPECT_EQ(Asked, std::vector<std::string>{F.In("tool.exe")});
    EXPECT_EQ(ReadBytes(F.In("tool.exe")), "data:lib/tool.exe");
}

TEST(ExtractLoop, OverwriteHandlerCanRefuseOrRedirect) {
    TFixture F({"a.txt", "b.txt"});
    WriteBytes(F.In("a.txt"), "old");
    WriteBytes(F.In("b.txt"), "old");
    F.Archive.OnConfirmOverwrite = [&](std::string& Name, bool& Confirm) {
        if (EndsStr("a.txt", Name))
            Confirm = false;
        else
            Name = F.In("b-new.txt");
    };
    F.Archive.ExtractFiles("*.*");
    EXPECT_EQ(ReadBytes(F.In("a.txt")), "old");
    EXPECT_EQ(ReadBytes(F.In("b.txt")), "old");
    EXPECT_EQ(ReadBytes(F.In("b-new.txt")), "data:b.txt");
}

TEST(ExtractLoop, MissingSubdirectoryWithoutCreateDirsEndsTheLoop) {
    TFixture F({"a.txt", "sub/b.txt", "c.txt"});
    F.Archive.SetExtractOptions({eoRestorePath});
    EXPECT_THROW(F.Archive.ExtractFiles("*.*"), EAbNoSuchDirectory);
    EXPECT_TRUE(Exists(F.In("a.txt")));
    EXPECT_FALSE(Exists(F.In("c.txt")));
}

TEST(ExtractLoop, EmptyMaskStillReportsCompletion) {
    TFixture F({"a.txt", "b.txt"});
    std::vector<int> Progress;
    F.Archive.OnArchiveProgress = [&](TAbArchive*, uint8_t P, bool& Abort) {
        EXPECT_FALSE(Abort);
        Progress.push_back(P);
    };
    F.Archive.ExtractFiles("");
    EXPECT_TRUE(F.Archive.Extracted.empty());
    EXPECT_EQ(Progress, (std::vector<int>{50, 100, 100}));
}

TEST(ExtractLoop, EmptyArchiveReportsNothing) {
    TFixture F({});
    int Events = 0;
    F.Archive.OnArchiveProgress = [&](TAbArchive*, uint8_t, bool&) { ++Events; };
    F.Archive.ExtractFiles("*.*");
    EXPECT_EQ(Events, 0);
}

TEST(ExtractLoop, MaskListsAndExclusions) {
    TFixture F({"bin/tool.exe", "lib/core.dll", "readme.txt", "bin/skip.exe"});
    F.Archive.ExtractFilesEx(" *.exe ; *.dll ", "skip.*");
    EXPECT_TRUE(Exists(F.In("tool.exe")));
    EXPECT_TRUE(Exists(F.In("core.dll")));
    EXPECT_FALSE(Exists(F.In("readme.txt")));
    EXPECT_FALSE(Exists(F.In("skip.exe")));
}

TEST(ExtractLoop, AbortFromArchiveProgressStopsAfterTheCurrentItem) {
    TFixture F({"a.txt", "b.txt", "c.txt"});
    F.Archive.OnArchiveProgress = [](TAbArchive*, uint8_t P, bool& Abort) { Abort = P >= 66; };
    EXPECT_THROW(F.Archive.ExtractFiles("*.*"), EAbUserAbort);
    EXPECT_TRUE(Exists(F.In("a.txt")));
    EXPECT_TRUE(Exists(F.In("b.txt")));
    EXPECT_FALSE(Exists(F.In("c.txt")));
}

TEST(ExtractLoop, ItemFailuresAreReportedOnceAndTheLoopGoesOn) {
    struct TCase {
        std::exception_ptr Error;
        TAbErrorClass Class;
        int32_t Code;
    };
    const TCase Cases[] = {
        {std::make_exception_ptr(EAbZipBadCRC()), ecMorvanta, 19},
        {std::make_exception_ptr(EAbZipInvalidMethod()), ecMorvanta, 2},
        {std::make_exception_ptr(EInOutError(28)), ecInOutError, 28},
        {std::make_exception_ptr(EFCreateError("x", 13)), ecFileCreateError, 0},
        {std::make_exception_ptr(EFOpenError("x", 2)), ecFileOpenError, 0},
        {std::make_exception_ptr(EReadError()), ecFilerError, 0},
        {std::make_exception_ptr(std::runtime_error("x")), ecOther, 0},
    };
    for (const TCase& C : Cases) {
        TFixture F({"a.txt", "fail.txt", "c.txt"});
        F.Archive.FailWith = C.Error;
        F.Archive.ExtractFiles("*.*");
        ASSERT_EQ(F.Failures.size(), 1u);
        EXPECT_EQ(F.Failures[0].Name, "fail.txt");
        EXPECT_EQ(F.Failures[0].Type, ptExtract);
        EXPECT_EQ(F.Failures[0].Class, C.Class);
        EXPECT_EQ(F.Failures[0].Code, C.Code);
        EXPECT_TRUE(Exists(F.In("c.txt")));
    }
    // Without a handler the failure is silent.
    TFixture Quiet({"fail.txt", "b.txt"});
    Quiet.Archive.OnProcessItemFailure = nullptr;
    EXPECT_NO_THROW(Quiet.Archive.ExtractFiles("*.*"));
    EXPECT_TRUE(Exists(Quiet.In("b.txt")));
}

TEST(ExtractLoop, ConfirmationCanSkipItems) {
    TFixture F({"a.txt", "b.txt"});
    F.Archive.OnConfirmProcessItem = [](TAbArchive*, TAbArchiveItem* Item, TAbProcessType Type,
                                        bool& Confirm) {
        EXPECT_EQ(Type, ptExtract);
        Confirm = Item->FileName() != "a.txt";
    };
    F.Archive.ExtractFiles("*.*");
    EXPECT_FALSE(Exists(F.In("a.txt")));
    EXPECT_TRUE(Exists(F.In("b.txt")));
}

TEST(ExtractLoop, InvalidPathCharactersFailTheirItemAlone) {
    TFixture F({"a.txt", "bad|name.txt", "c.txt"});
    std::string Message;
    F.Archive.OnProcessItemFailure = [&](TAbArchive* Sender, TAbArchiveItem* Item,
                                         TAbProcessType Type, TAbErrorClass Class, int32_t Code) {
        F.Failures.push_back({Item->FileName(), Type, Class, Code});
        try {
            std::rethrow_exception(Sender->CurrentFailure());
        } catch (const EArgumentException& E) {
            Message = E.Message();
        }
    };
    F.Archive.ExtractFiles("*.*");
    EXPECT_EQ(Message, "Ungültige Zeichen im Pfad");
    ASSERT_EQ(F.Failures.size(), 1u);
    EXPECT_EQ(F.Failures[0].Name, "bad|name.txt");
    EXPECT_TRUE(Exists(F.In("c.txt")));
    EXPECT_EQ(F.Archive.CurrentFailure(), nullptr); // only while the handler runs
}

TEST(ExtractLoop, InvalidArchiveRefusesWhileLookupsStillWork) {
    TFixture F({"a.txt"});
    F.Archive.SetStatus(asInvalid);
    EXPECT_THROW(F.Archive.ExtractFiles("*.*"), EAbNoArchive);
    EXPECT_THROW(F.Archive.ExtractAt(0, ""), EAbNoArchive);
    EXPECT_THROW(F.Archive.ExtractToStream("a.txt", nullptr), EAbNoArchive);
    EXPECT_THROW(F.Archive.DeleteAt(0), EAbNoArchive);
    EXPECT_EQ(F.Archive.FindFile("A.TXT"), 0);
    EXPECT_NO_THROW(F.Archive.TagItems("*"));
    EXPECT_NO_THROW(F.Archive.Save()); // nothing to do for an invalid archive
    EXPECT_EQ(F.Archive.Writes, 0);
}

// ---------------------------------------------------------------------------
// Stored names that would leave the base directory

const char* const UnsafeNames[] = {
    "../evil.txt",
    "../../evil.txt",
    "../../../../../../evil.txt",
    "a/../../evil.txt",
    "a/b/../../../evil.txt",
    "..\\evil.txt",
    "a\\..\\..\\evil.txt",
    "a/b\\..\\../../evil.txt",
    "/tmp/evil.txt",
    "\\evil.txt",
    "C:\\evil.txt",
    "C:evil.txt",
    "c:/evil.txt",
    "\\\\server\\share\\evil.txt",
    "//server/share/evil.txt",
    "..",
    "a/../..",
};

// Every file below Folder (links not followed into), one full name a line.
std::string FilesBelow(const std::string& Folder) {
    std::string Listing;
    for (const std::string& Name : test::ListFolder(Folder)) {
        const std::string Path = Folder + "/" + Name;
        if (DirectoryExists(Path) && (FileGetAttr(Path) & faSymLink) == 0)
            Listing += FilesBelow(Path);
        else
            Listing += Path + "\n";
    }
    return Listing;
}

TEST(UnsafeNames, EveryEscapeIsReportedAndNothingIsWritten) {
    std::vector<std::string> Names(std::begin(UnsafeNames), std::end(UnsafeNames));
    Names.push_back("safe/inside.txt");
    TFixture F(Names);
    F.Archive.SetExtractOptions({eoCreateDirs, eoRestorePath});
    F.Archive.ExtractFiles("*.*");
    ASSERT_EQ(F.Failures.size(), std::size(UnsafeNames));
    for (size_t I = 0; I < F.Failures.size(); ++I) {
        EXPECT_EQ(F.Failures[I].Name, UnsafeNames[I]);
        EXPECT_EQ(F.Failures[I].Type, ptExtract);
        EXPECT_EQ(F.Failures[I].Class, ecMorvanta);
        EXPECT_EQ(F.Failures[I].Code, AbErrUnsafePath);
    }
    EXPECT_EQ(F.Archive.Extracted, std::vector<std::string>{F.In("safe/inside.txt")});
    EXPECT_EQ(FilesBelow(F.Dir.Path()), F.In("safe/inside.txt") + "\n");
}

TEST(UnsafeNames, WithoutRestorePathOnlyTheLastComponentCounts) {
    TFixture F({"../evil1.txt", "../../a/evil2.txt", "C:\\evil3.txt",
                "\\\\server\\share\\evil4.txt", "C:evil5.txt", "a/.."});
    F.Archive.SetExtractOptions({eoCreateDirs});
    F.Archive.ExtractFiles("*.*");
    for (const char* Name : {"evil1.txt", "evil2.txt", "evil3.txt", "evil4.txt"})
        EXPECT_TRUE(Exists(F.In(Name))) << Name;
    ASSERT_EQ(F.Failures.size(), 2u);
    EXPECT_EQ(F.Failures[0].Name, "C:evil5.txt");
    EXPECT_EQ(F.Failures[1].Name, "a/..");
    EXPECT_EQ(F.Failures[1].Code, AbErrUnsafePath);
}

TEST(UnsafeNames, DotsThatStayInsideAreResolved) {
    TFixture F({"a/../b.txt", "./c/./d.txt", "x//y.txt"});
    F.Archive.SetExtractOptions({eoCreateDirs, eoRestorePath});
    F.Archive.ExtractFiles("*.*");
    EXPECT_TRUE(F.Failures.empty());
    EXPECT_TRUE(Exists(F.In("b.txt")));
    EXPECT_TRUE(Exists(F.In("c/d.txt")));
    EXPECT_TRUE(Exists(F.In("x/y.txt")));
    EXPECT_FALSE(Exists(F.In("a")));
}

TEST(UnsafeNames, ACallersOwnTargetNameIsUsedAsGiven) {
    TFixture F({"../evil.txt", "plain.txt"});
    std::string Outside = F.Dir / "chosen.txt";
    F.Archive.ExtractAt(0, Outside);
    EXPECT_EQ(ReadBytes(Outside), "data:../evil.txt");
    F.Archive.ExtractAt(1, "renamed.txt"); // relative: joined to the base
    EXPECT_TRUE(Exists(F.In("renamed.txt")));
    EXPECT_TRUE(F.Failures.empty());
}

TEST(UnsafeNames, EmptyBaseDirectoryMeansTheCurrentDirectory) {
    TFixture F({"sub/file.txt", "../evil.txt"});
    F.Archive.SetBaseDirectory("");
    F.Archive.SetExtractOptions({eoCreateDirs, eoRestorePath});
    std::string Old = GetCurrentDir();
    ASSERT_EQ(::chdir(F.Base.c_str()), 0);
    F.Archive.ExtractFiles("*.*");
    ASSERT_EQ(::chdir(Old.c_str()), 0);
    EXPECT_TRUE(Exists(F.In("sub/file.txt")));
    EXPECT_FALSE(Exists(F.Dir / "evil.txt"));
    ASSERT_EQ(F.Failures.size(), 1u);
}

// ---------------------------------------------------------------------------
// Streams, tags and tests

TEST(ArchiveOperations, ExtractToStreamFindsByNameAndCapturesFailures) {
    TFixture F({"a.txt", "fail.txt"});
    TMemoryStream Out;
    F.Archive.ExtractToStream("A.TXT", &Out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Out.Memory()), static_cast<size_t>(Out.Size())),
              "data:a.txt");
    F.Archive.ExtractToStream("missing", &Out); // nothing happens
    F.Archive.ExtractToStream("fail.txt", &Out);
    ASSERT_EQ(F.Failures.size(), 1u);
    EXPECT_EQ(F.Failures[0].Code, 19);
}

TEST(ArchiveOperations, TaggedItemsAreExtractedAndTested) {
    TFixture F({"a.txt", "b.dll", "fail.dll", "docs/"});
    F.Archive.SetExtractOptions({eoCreateDirs, eoRestorePath});
    F.Archive.TagItems("*.dll;docs");
    F.Archive.UnTagItems("fail.*");
    F.Archive.ExtractTaggedItems();
    EXPECT_FALSE(Exists(F.In("a.txt")));
    EXPECT_TRUE(Exists(F.In("b.dll")));
    EXPECT_TRUE(DirectoryExists(F.In("docs")));
    F.Archive.TagItems("*.*");
    EXPECT_THROW(F.Archive.TestTaggedItems(), EAbZipBadCRC); // not captured
    EXPECT_EQ(F.Archive.Verified, (std::vector<std::string>{"a.txt", "b.dll", "fail.dll"}));
    F.Archive.ClearTags();
    F.Archive.Verified.clear();
    F.Archive.TestTaggedItems();
    EXPECT_TRUE(F.Archive.Verified.empty());
}

TEST(ArchiveOperations, ItemProgressGoesToTheCurrentItem) {
    TFixture F({"a.txt"});
    TAbArchiveItem* Seen = nullptr;
    F.Archive.OnArchiveItemProgress = [&](TAbArchive*, TAbArchiveItem* Item, uint8_t P,
                                          bool& Abort) {
        Seen = Item;
        Abort = P == 50;
    };
    bool Abort = false;
    F.Archive.OnProgress(50, Abort); // no current item outside an extraction
    EXPECT_TRUE(Abort);
    EXPECT_EQ(Seen, nullptr);
    EXPECT_THROW(F.Archive.DoInflateProgress(50), EAbAbortProgress);
    try {
        F.Archive.DoDeflateProgress(50);
    } catch (const EAbAbortProgress& E) {
        EXPECT_EQ(E.Message(), "Process aborted by user");
    }
    std::string Name;
    EXPECT_THROW(F.Archive.DoSpanningMediaRequest(nullptr, 1, Name, Abort),
                 EAbSpanningNotSupported);
}

// ---------------------------------------------------------------------------
// Lifecycle, properties and logging

TEST(ArchiveLifecycle, LoadNotifiesAlsoOnFailure) {
    TFakeArchive A({"x"});
    int Loads = 0;
    A.OnLoad = [&](TAbArchive*) { ++Loads; };
    A.LoadError = true;
    EXPECT_THROW(A.Load(), EAbZipInvalid);
    EXPECT_EQ(Loads, 1);
    A.LoadError = false;
    A.Load();
    EXPECT_EQ(Loads, 2);
    EXPECT_EQ(A.Status(), asIdle);
}

TEST(ArchiveLifecycle, SaveOnlyWhenDirtyOrEmptyAndConfirmed) {
    TFakeArchive A({"x"});
    A.Load();
    int Saved = 0;
    A.OnSave = [&](TAbArchive*) { ++Saved; };
    A.Save();
    EXPECT_EQ(A.Writes, 0);
    A.SetIsDirty(true);
    A.OnConfirmSave = [](TAbArchive*, bool& Confirm) { Confirm = false; };
    A.Save();
    EXPECT_EQ(A.Writes, 0);
    A.OnConfirmSave = nullptr;
    A.Save();
    EXPECT_EQ(A.Writes, 1);
    EXPECT_EQ(Saved, 1);
    EXPECT_FALSE(A.IsDirty());
    TFakeArchive Empty({});
    Empty.Load();
    Empty.Save(); // an empty archive is always written
    EXPECT_EQ(Empty.Writes, 1);
}

TEST(ArchiveLifecycle, BaseDirectorySetter) {
    TTempDir Dir;
    TFakeArchive A({});
    EXPECT_EQ(A.BaseDirectory(), ExtractFileDir(ExecutablePath())); // the program's folder at first
    A.SetBaseDirectory(Dir.Path() + "/");
    EXPECT_EQ(A.BaseDirectory(), Dir.Path());
    A.SetBaseDirectory("/");
    EXPECT_EQ(A.BaseDirectory(), "/");
    try {
        A.SetBaseDirectory(Dir / "missing");
        FAIL() << "no error";
    } catch (const EAbNoSuchDirectory& E) {
        EXPECT_EQ(E.Message(), "Directory does not exist");
    }
    EXPECT_EQ(A.BaseDirectory(), "/");
    A.SetBaseDirectory("");
    EXPECT_EQ(A.BaseDirectory(), "");
}

std::string FromUtf16Le(const std::string& Bytes) {
    std::u16string Units;
    for (size_t I = 0; I + 1 < Bytes.size(); I += 2) {
        Units.push_back(static_cast<char16_t>(static_cast<uint8_t>(Bytes[I]) |
                                              (static_cast<uint8_t>(Bytes[I + 1]) << 8)));
    }
    return Utf16ToUtf8(Units);
}

TEST(ArchiveLifecycle, LogFileRecordsTheArchiveAndEachProcessedItem) {
    TFixture F({"ä.txt", "b.txt"});
    std::string Log = F.Dir / "log.txt";
    F.Archive.SetLogFile(Log);
    F.Archive.SetLogging(true);
    F.Archive.ExtractFiles("*.*");
    F.Archive.SetLogging(false); // closes the log
    std::string Text = FromUtf16Le(ReadBytes(Log));
    std::vector<std::string> Lines;
    size_t Start = 0;
    for (size_t Pos; (Pos = Text.find("\r\n", Start)) != std::string::npos; Start = Pos + 2) {
        Lines.push_back(Text.substr(Start, Pos - Start));
    }
    ASSERT_EQ(Lines.size(), 3u);
    EXPECT_TRUE(StartsText("fake.arc logging ", Lines[0])) << Lines[0];
    EXPECT_TRUE(StartsText("ä.txt extracted ", Lines[1])) << Lines[1];
    EXPECT_TRUE(StartsText("b.txt extracted ", Lines[2])) << Lines[2];
    EXPECT_EQ(Lines[2].size(), std::string("b.txt extracted YYYY-MM-DD hh:mm:ss").size());

    F.Archive.SetLogFile(F.Dir / "missing/log.txt");
    try {
        F.Archive.SetLogging(true);
        FAIL() << "no error";
    } catch (const EAbException& E) {
        EXPECT_EQ(E.Message(), "Error creating Log File");
    }
    EXPECT_NO_THROW(F.Archive.ExtractFiles("*.*"));
}

// ---------------------------------------------------------------------------
// Update operations

TEST(ArchiveUpdates, AddingADuplicateNameIsReported) {
    TFixture F({"a.txt"});
    F.Archive.Add(F.Archive.CreateItem("A.TXT"));
    ASSERT_EQ(F.Failures.size(), 1u);
    EXPECT_EQ(F.Failures[0].Type, ptAdd);
    EXPECT_EQ(F.Failures[0].Code, AbErrDuplicateName);
    EXPECT_EQ(F.Archive.Count(), 1);

    F.Archive.SetStoreOptions({soReplace});
    F.Archive.Add(F.Archive.CreateItem("a.txt"));
    EXPECT_EQ(F.Archive.Count(), 1);
    EXPECT_EQ(F.Archive.Items(0)->Action(), aaReplace);
    EXPECT_TRUE(F.Archive.IsDirty());

    F.Archive.SetAutoSave(true);
    F.Archive.Add(F.Archive.CreateItem("new.txt"));
    EXPECT_EQ(F.Archive.Writes, 1);
    EXPECT_EQ(F.Archive.Count(), 2);
    EXPECT_EQ(F.Archive.Items(1)->Action(), aaNone);
}

TEST(ArchiveUpdates, DeletingWalksFromTheLastItemAndSaveDropsThem) {
    TFixture F({"a.txt", "b.txt", "c.log", "d.txt"});
    std::vector<std::string> Order;
    F.Archive.OnConfirmProcessItem = [&](TAbArchive*, TAbArchiveItem* Item, TAbProcessType Type,
                                         bool&) {
        EXPECT_EQ(Type, ptDelete);
        Order.push_back(Item->FileName());
    };
    F.Archive.DeleteFilesEx("*.txt", "b.*");
    EXPECT_EQ(Order, (std::vector<std::string>{"d.txt", "a.txt"}));
    EXPECT_FALSE(F.Archive.ItemList().IsActiveDupe("a.txt"));
    F.Archive.Save();
    EXPECT_EQ(F.Archive.Count(), 2);
    EXPECT_EQ(F.Archive.FindFile("b.txt"), 0);
    EXPECT_EQ(F.Archive.FindFile("c.log"), 1);
}

TEST(ArchiveUpdates, MoveRenamesUnlessTheNameIsTaken) {
    TFixture F({"a.txt", "b.txt"});
    F.Archive.Move(F.Archive.Items(0), "B.TXT");
    ASSERT_EQ(F.Failures.size(), 1u);
    EXPECT_EQ(F.Failures[0].Type, ptMove);
    EXPECT_EQ(F.Failures[0].Code, AbErrDuplicateName);
    F.Archive.Move(F.Archive.Items(0), "moved/a.txt");
    EXPECT_EQ(F.Archive.FindFile("a.txt"), -1);
    EXPECT_EQ(F.Archive.FindFile("MOVED/A.TXT"), 0);
    EXPECT_EQ(F.Archive.Items(0)->Action(), aaMove);
}

TEST(ArchiveUpdates, NormalizedStoredNames) {
    TTempDir Dir;
    TFakeArchive A({});
    EXPECT_EQ(A.NormalizeStoredName("/home/user/file.txt"), "home\\user\\file.txt");
    A.SetStoreOptions({soStripDrive});
    EXPECT_EQ(A.NormalizeStoredName("C:\\data\\file.txt"), "data\\file.txt");
    EXPECT_EQ(A.NormalizeStoredName("\\\\server\\share\\x\\file.txt"), "x\\file.txt");
    A.SetStoreOptions({soRemoveDots});
    EXPECT_EQ(A.NormalizeStoredName("../../x/file.txt"), "x\\file.txt");
    A.SetStoreOptions({soStripPath});
    EXPECT_EQ(A.NormalizeStoredName("a/b/file.txt"), "file.txt");
    // DOS mode: the name must lead to an existing file.
    A.SetStoreOptions({});
    A.SetDOSMode(true);
    A.SetBaseDirectory(Dir.Path());
    WriteBytes(Dir / "f.txt", "x");
    EXPECT_NO_THROW(A.NormalizeStoredName("f.txt"));
    EXPECT_THROW(A.NormalizeStoredName("g.txt"), EAbFileNotFound);
    try {
        A.NormalizeStoredName("nodir/f.txt");
        FAIL() << "no error";
    } catch (const EAbException& E) {
        EXPECT_EQ(E.Message(), "Path not found");
    }
}

TEST(ArchiveUpdates, AddFilesFindsFilesBelowTheBaseDirectory) {
    TFixture F({});
    CreateDir(F.In("sub"));
    WriteBytes(F.In("one.txt"), "1");
    WriteBytes(F.In("two.log"), "2");
    WriteBytes(F.In("sub/three.txt"), "3");
    WriteBytes(F.In("sub/skip.txt"), "4");
    F.Archive.AddFilesEx("*.txt", "skip.*", 0);
    EXPECT_EQ(F.Archive.Count(), 1);
    EXPECT_EQ(F.Archive.Items(0)->FileName(), "one.txt");
    EXPECT_EQ(F.Archive.Items(0)->DiskFileName(), "one.txt");
    F.Archive.SetStoreOptions({soRecurse});
    F.Archive.AddFilesEx("*.txt", "skip.*", faDirectory);
    // one.txt again is a duplicate; sub/three.txt is new.
    EXPECT_EQ(F.Archive.Count(), 2);
    EXPECT_EQ(F.Archive.Items(1)->FileName(), "sub\\three.txt");
    EXPECT_EQ(F.Archive.Items(1)->Action(), aaAdd);
    EXPECT_EQ(F.Failures.size(), 1u);
}

TEST(ArchiveUpdates, FreshenMarksOnlyNewerFiles) {
    TFixture F({});
    WriteBytes(F.In("new.txt"), "x");
    WriteBytes(F.In("old.txt"), "x");
    F.Archive.Add(F.Archive.CreateItem(F.In("new.txt")));
    F.Archive.Add(F.Archive.CreateItem(F.In("old.txt")));
    F.Archive.Save();
    F.Archive.Items(0)->SetLastModTimeAsDateTime(EncodeDateTime(2000, 1, 1, 0, 0, 0, 0));
    F.Archive.Items(1)->SetLastModTimeAsDateTime(EncodeDateTime(2100, 1, 1, 0, 0, 0, 0));
    F.Archive.FreshenFiles("*.*");
    EXPECT_EQ(F.Archive.Items(0)->Action(), aaFreshen);
    EXPECT_EQ(F.Archive.Items(1)->Action(), aaNone);
}

} // namespace
