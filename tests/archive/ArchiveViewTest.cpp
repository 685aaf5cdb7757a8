// Views of an open ZIP archive (TAbCustomZipBrowser::OpenViewOf): a view
// shares the item list its source read and extracts and tests exactly what
// the source does, also for split sets, archives behind a stub and items
// that fail; two views extract at once on two threads; a view refuses a
// source it cannot open again, and closing it leaves the source's list.
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "archive/AbExcept.h"
#include "archive/AbUnzper.h"
#include "archive/AbZipTyp.h"
#include "platform/FileSystem.h"
#include "runtime/Classes.h"
#include "support/UnzipFixtures.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

struct TOutcome {
    std::map<std::string, std::string> Files;
    std::vector<std::string> Failures; // "name code"
};

// Opens a component as kivo-unzip does; a view when Source is given.
void Prepare(TAbUnZipper& U, const std::string& Out, std::vector<std::string>& Failures) {
    U.SetExtractOptions({eoCreateDirs, eoRestorePath});
    U.SetPassword("secret");
    U.OnProcessItemFailure = [&Failures](TAbBaseBrowser*, TAbArchiveItem* Item, TAbProcessType,
                                         TAbErrorClass, int32_t Code) {
        Failures.push_back(Item->FileName() + " " + std::to_string(Code));
    };
    if (!Out.empty()) {
        ForceDirectories(Out);
        U.SetBaseDirectory(Out);
    }
}

// Extracts (or tests) the items whose index leaves Part when divided by
// Parts.
void Process(TAbUnZipper& U, bool Testing, int Part = 0, int Parts = 1) {
    TAbArchive& Archive = *U.Archive();
    for (int32_t I = Part; I < Archive.Count(); I += Parts) {
        if (!Testing) {
            Archive.ExtractAt(I, "");
            continue;
        }
        try {
            Archive.VerifyItem(I);
        } catch (const std::exception& E) {
            const auto* Engine = dynamic_cast<const EAbException*>(&E);
            U.OnProcessItemFailure(&U, Archive.Items(I), ptExtract, ecMorvanta,
                                   Engine != nullptr ? Engine->ErrorCode : -1);
        }
    }
}

TOutcome Outcome(const std::string& Out, std::vector<std::string> Failures) {
    std::sort(Failures.begin(), Failures.end());
    return {Out.empty() ? std::map<std::string, std::string>() : Snapshot(Out), Failures};
}

struct TViewRow {
    const char* Name;
    std::string Archive;
    bool Fails; // some items fail
};

std::ostream& operator<<(std::ostream& Out, const TViewRow& Row) {
    return Out << Row.Name;
}

// An archive with failing items between good ones: a CRC mismatch, an
// unknown method, a name leaving the base, and two entries at one place.
std::string FailingArchive() {
    TZipEntryDef BadCrc = Deflated("d/crc.txt", "checked\n");
    BadCrc.CentralCrc = Crc32Of("checked\n") ^ 1;
    TZipEntryDef Method = Stored("d/method.bin", "x");
    Method.Method = 77;
    TZipEntryDef Up = Stored("../up.txt", "up");
    TZipEntryDef Again = Stored("again.txt", "a\n");
    Again.CentralOnly = true;
    Again.CentralOffset = 0;
    return BuildZip({Stored("a.txt", "a\n"), BadCrc, Deflated("d/b.txt", RandomBytes(9000, 3)),
                     Method, Up, Again, Stored("c.txt", "c\n")});
}

class ArchiveViews : public ::testing::TestWithParam<TViewRow> {
protected:
    // The archive named by the row: a file of the shared test data, or one
    // written here.
    std::string Path() {
        const TViewRow& Row = GetParam();
        if (Row.Archive.empty()) {
            WriteBytes(Dir / "a.zip", FailingArchive());
            return Dir / "a.zip";
        }
        return TestData(Row.Archive);
    }
    TTempDir Dir;
};

TEST_P(ArchiveViews, ExtractAndTestWhatTheSourceDoes) {
    const std::string Archive = Path();
    for (const bool Testing : {false, true}) {
        SCOPED_TRACE(Testing ? "test" : "extract");
        const std::string Tag = Testing ? "t" : "x";
        std::vector<std::string> SourceFailures, ViewFailures, ThreadFailures[2];
        TAbUnZipper Source(nullptr);
        Source.SetFindsShiftedOffsets(true);
        Prepare(Source, Testing ? "" : Dir / (Tag + "source"), SourceFailures);
        Source.SetFileName(Archive);
        ASSERT_NE(Source.ZipArchive(), nullptr);
        Process(Source, Testing);

        TAbUnZipper View(nullptr);
        Prepare(View, Testing ? "" : Dir / (Tag + "view"), ViewFailures);
        View.OpenViewOf(Source);
        const TAbZipArchive* ViewZip = View.ZipArchive();
        ASSERT_NE(ViewZip, nullptr);
        EXPECT_TRUE(ViewZip->IsView());
        ASSERT_EQ(View.Count(), Source.Count());
        for (int32_t I = 0; I < Source.Count(); ++I)
            EXPECT_EQ(View.Archive()->Items(I), Source.Archive()->Items(I)); // shared, not copied
        Process(View, Testing);

        // Two views on two threads, each with half of the items.
        TAbUnZipper Halves[2] = {TAbUnZipper(nullptr), TAbUnZipper(nullptr)};
        for (int Part = 0; Part < 2; ++Part) {
            Prepare(Halves[Part], Testing ? "" : Dir / (Tag + "threads"), ThreadFailures[Part]);
            Halves[Part].OpenViewOf(Source);
        }
        std::thread Other([&] { Process(Halves[1], Testing, 1, 2); });
        Process(Halves[0], Testing, 0, 2);
        Other.join();
        ThreadFailures[0].insert(ThreadFailures[0].end(), ThreadFailures[1].begin(),
                                 ThreadFailures[1].end());

        const TOutcome Expected = Outcome(Testing ? "" : Dir / (Tag + "source"), SourceFailures);
        const TOutcome Viewed = Outcome(Testing ? "" : Dir / (Tag + "view"), ViewFailures);
        const TOutcome Threaded =
            Outcome(Testing ? "" : Dir / (Tag + "threads"), ThreadFailures[0]);
        EXPECT_EQ(Viewed.Files, Expected.Files);
        EXPECT_EQ(Viewed.Failures, Expected.Failures);
        EXPECT_EQ(Threaded.Files, Expected.Files);
        EXPECT_EQ(Threaded.Failures, Expected.Failures);
        EXPECT_EQ(!Expected.Failures.empty(), GetParam().Fails);
        if (!Testing) {
            EXPECT_FALSE(Expected.Files.empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, ArchiveViews,
                         ::testing::Values(TViewRow{"Deflated", "zip_deflate_6.zip", false},
                                           TViewRow{"MixedMethods", "py_mixed_methods.zip", false},
                                           TViewRow{"DataDescriptors", "dd_pipe.zip", false},
                                           TViewRow{"Zip64", "zip64_forced_fz.zip", false},
                                           TViewRow{"Encrypted", "enc_zipcrypto.zip", false},
                                           TViewRow{"SplitSet", "split_64k.zip", false},
                                           TViewRow{"BehindAStub", "sfx_mz_nofix.exe", false},
                                           TViewRow{"StubAdjusted", "sfx_elf_fixed.zip", false},
                                           TViewRow{"DamagedEntries", "bad_entries.zip", true},
                                           TViewRow{"FailingItems", "", true}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ArchiveView, RefusesWhatItCannotOpenAgainAndLeavesTheSourcesList) {
    TTempDir Dir;
    const std::string Zip = BuildZip({Stored("a.txt", "a\n"), Stored("b.txt", "b\n")});
    WriteBytes(Dir / "a.zip", Zip);

    // No archive, or one read from a caller's stream: nothing to open again.
    TAbUnZipper Empty(nullptr), View(nullptr);
    EXPECT_THROW(View.OpenViewOf(Empty), EAbNoArchive);
    TMemoryStream Stream;
    Stream.WriteBuffer(Zip.data(), static_cast<int64_t>(Zip.size()));
    Stream.Seek(0, soBeginning);
    TAbUnZipper OnStream(nullptr);
    OnStream.SetStream(&Stream);
    EXPECT_THROW(View.OpenViewOf(OnStream), EAbNoArchive);
    EXPECT_EQ(View.Archive(), nullptr);

    // A view closed (saved and freed) leaves the list it shared.
    TAbUnZipper Source(nullptr);
    Source.SetFileName(Dir / "a.zip");
    {
        TAbUnZipper Closed(nullptr);
        Closed.OpenViewOf(Source);
        EXPECT_EQ(Closed.FileName(), Source.FileName());
        Closed.Archive()->Load();
        Closed.CloseArchive();
    }
    ASSERT_EQ(Source.Count(), 2);
    EXPECT_EQ(Source.Archive()->Items(1)->FileName(), "b.txt");

    // The file replaced by one of another size is not the archive read.
    WriteBytes(Dir / "a.zip", Zip + "tail");
    EXPECT_THROW(View.OpenViewOf(Source), EAbZipInvalid);
}

} // namespace
