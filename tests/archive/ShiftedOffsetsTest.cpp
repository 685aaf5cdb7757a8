// Archives behind a program stub whose offsets were not adjusted (`cat stub
// a.zip > x`): refused by default, read with the shift when the unzipper is
// asked to look for it, and archives that are merely damaged stay refused.
#include <gtest/gtest.h>
#include <string>

#include "archive/AbExcept.h"
#include "archive/AbUnzper.h"
#include "archive/AbZipTyp.h"
#include "runtime/Classes.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

enum TStub { stNone, stShifted, stAdjusted };

struct TShiftRow {
    const char* Name;
    TStub Stub;
    const char* StubBytes;
    bool Zip64;
    bool FindShift;
    int64_t DirectoryOffset; // -1: as written
    bool Opens;
};

std::ostream& operator<<(std::ostream& Out, const TShiftRow& Row) {
    return Out << Row.Name;
}

class ShiftedOffsets : public ::testing::TestWithParam<TShiftRow> {};

TEST_P(ShiftedOffsets, ReadsTheArchiveBehindTheStubOnlyWhenAsked) {
    const TShiftRow& Row = GetParam();
    const std::string Stub = std::string(Row.StubBytes) + RandomBytes(3000, 5);
    TZipBuildOptions Options;
    Options.Zip64Records = Row.Zip64;
    Options.DirectoryOffsetOverride = Row.DirectoryOffset;
    if (Row.Stub == stAdjusted) Options.Prefix = Stub;
    const std::string Second = RandomBytes(5000, 6);
    std::string Zip =
        BuildZip({Stored("first.txt", "first\n"), Deflated("dir/second.bin", Second)}, Options);
    if (Row.Stub == stShifted) Zip = Stub + Zip;
    TTempDir Dir;
    WriteBytes(Dir / "a.zip", Zip);

    TAbUnZipper UnZipper(nullptr);
    UnZipper.SetFindsShiftedOffsets(Row.FindShift);
    if (!Row.Opens) {
        EXPECT_THROW(UnZipper.SetFileName(Dir / "a.zip"), EAbZipInvalid);
        return;
    }
    UnZipper.SetFileName(Dir / "a.zip");
    ASSERT_EQ(UnZipper.Count(), 2);
    const TAbZipArchive* Read = UnZipper.ZipArchive();
    ASSERT_NE(Read, nullptr);
    EXPECT_EQ(Read->OffsetShift(), Row.Stub == stShifted ? static_cast<int64_t>(Stub.size()) : 0);
    TMemoryStream First;
    TMemoryStream Data;
    UnZipper.ExtractToStream("first.txt", &First);
    UnZipper.ExtractToStream("dir/second.bin", &Data);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(First.Memory()),
                          static_cast<size_t>(First.Size())),
              "first\n");
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(Data.Memory()), static_cast<size_t>(Data.Size())),
        Second);
    UnZipper.TestTaggedItems();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ShiftedOffsets,
    ::testing::Values(TShiftRow{"NoStub", stNone, "", false, true, -1, true},
                      TShiftRow{"ShiftedRefusedByDefault", stShifted, "", false, false, -1, false},
                      TShiftRow{"Shifted", stShifted, "", false, true, -1, true},
                      TShiftRow{"ShiftedExecutable", stShifted, "MZ", false, true, -1, true},
                      TShiftRow{"ShiftedElf", stShifted,
                                "\x7f"
                                "ELF",
                                false, true, -1, true},
                      TShiftRow{"ShiftedZip64", stShifted, "", true, true, -1, true},
                      TShiftRow{"ShiftedZip64RefusedByDefault", stShifted, "", true, false, -1,
                                false},
                      TShiftRow{"AdjustedStub", stAdjusted, "MZ", false, true, -1, true},
                      TShiftRow{"DamagedOffsetIsNoShift", stNone, "", false, true, 7, false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
