// What both systems' views draw from: the clip frames, the login banner
// and the rule that shortens a path to fit its label.
#include "webcopy/WcArt.h"

#include <gtest/gtest.h>

#include "webcopy/Webcopy.h"

using namespace kivo;
using namespace kivo::webcopy;

namespace {

TEST(WcArt, ClipsMoveAndDiffer) {
    for (int Res : {0, ClipDownload, ClipUpload}) {
        ui::TPixelImage A = DrawClipFrame(Res, 0), B = DrawClipFrame(Res, ClipFrameCount / 2);
        EXPECT_EQ(A.Width, 272);
        EXPECT_EQ(A.Height, 50);
        EXPECT_NE(A.Pixels, B.Pixels) << Res; // it moves
        EXPECT_EQ(A.At(0, 0) >> 24, 0u);      // transparent around the pictures
        // Frames repeat.
        EXPECT_EQ(DrawClipFrame(Res, 3).Pixels, DrawClipFrame(Res, 3 + ClipFrameCount).Pixels);
    }
    EXPECT_NE(DrawClipFrame(ClipDownload, 3).Pixels, DrawClipFrame(ClipUpload, 3).Pixels);
    EXPECT_NE(DrawClipFrame(0, 3).Pixels, DrawClipFrame(ClipUpload, 3).Pixels);
}

TEST(WcArt, BannerIsEightBitsPerPixel) {
    ui::TPixelImage Art = DrawLoginBannerArt();
    EXPECT_EQ(Art.Width, 320);
    EXPECT_EQ(Art.Height, 60);
    // Darker at the top left than at the bottom right; the key is golden.
    EXPECT_LT(Art.At(0, 0) & 0xFF, Art.At(319, 59) & 0xFF);
    EXPECT_EQ(Art.At(60, 30) & 0xFFFFFF, 0xFAD25Au);
    ui::TPixelImage Indexed = ToIndexed8(Art);
    EXPECT_EQ(Indexed.Format, ui::TPixelFormat::Indexed8);
    EXPECT_LE(Indexed.Palette.size(), 256u);
    EXPECT_EQ(Indexed.Indexes.size(), 320u * 60u);
    EXPECT_EQ(Indexed.At(0, 0), 0xFF003399u); // the nearest cube colour of the dark corner
}

// Every character 6 pixels wide, so that widths are easy to follow.
int Measure(const std::string& S) {
    int N = 0;
    for (unsigned char C : S)
        if ((C & 0xC0) != 0x80) N += 6;
    return N;
}

struct TElideCase {
    const char* Text;
    int Width;
    const char* Expected;
};

class ElidePath : public ::testing::TestWithParam<TElideCase> {};

TEST_P(ElidePath, KeepsTheEndAndFits) {
    const TElideCase& C = GetParam();
    std::string Got = ElidePathText(C.Text, C.Width, Measure);
    EXPECT_EQ(Got, C.Expected);
    if (Got != C.Text) {
        EXPECT_LE(Measure(Got), C.Width);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ElidePath,
    ::testing::Values(
        // Fits: unchanged.
        TElideCase{"short", 200, "short"},
        // The head gives way, the file name stays.
        TElideCase{"File : /home/user/some/folder/archive.zip", 150, "File : /ho.../archive.zip"},
        // Backslashes separate as well.
        TElideCase{"C:\\Users\\me\\Documents\\a.zip", 90, "C:\\Use...\\a.zip"},
        // No separator: the end of the text gives way.
        TElideCase{"a-rather-long-file-name.bin", 60, "a-rathe..."},
        // The tail alone is too long: its start goes too.
        TElideCase{"/a/averyveryverylongname.zip", 60, "...ame.zip"},
        // Characters are never split.
        TElideCase{"/ordner/größenänderung/übersicht.txt", 168, "/ordner/grö.../übersicht.txt"}));

} // namespace
