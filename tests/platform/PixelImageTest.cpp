// Pictures of the native window layer written as PNG and BMP files: the
// files decode to the pixels given, for each pixel format.
#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/NativeUi.h"
#include "tests/common/TestFiles.h"

using namespace kivo;
using namespace kivo::ui;

namespace {

uint32_t BE32(const std::string& D, size_t At) {
    return (uint32_t(uint8_t(D[At])) << 24) | (uint32_t(uint8_t(D[At + 1])) << 16) |
           (uint32_t(uint8_t(D[At + 2])) << 8) | uint32_t(uint8_t(D[At + 3]));
}
uint32_t LE32(const std::string& D, size_t At) {
    return uint32_t(uint8_t(D[At])) | (uint32_t(uint8_t(D[At + 1])) << 8) |
           (uint32_t(uint8_t(D[At + 2])) << 16) | (uint32_t(uint8_t(D[At + 3])) << 24);
}

// The 0x00RRGGBB pixels of a PNG this writer made (one IDAT, no filters).
std::vector<uint32_t> DecodePng(const std::string& D, int& W, int& H) {
    EXPECT_EQ(D.substr(0, 8), std::string("\x89PNG\r\n\x1a\n"));
    W = int(BE32(D, 16));
    H = int(BE32(D, 20));
    std::string Packed;
    for (size_t At = 8; At + 12 <= D.size();) {
        uint32_t Len = BE32(D, At);
        std::string Type = D.substr(At + 4, 4);
        std::string Body = D.substr(At + 4, 4 + Len);
        EXPECT_EQ(BE32(D, At + 8 + Len),
                  crc32(0, reinterpret_cast<const Bytef*>(Body.data()), uInt(Body.size())))
            << Type;
        if (Type == "IDAT") Packed += D.substr(At + 8, Len);
        At += 12 + Len;
    }
    std::string Raw(size_t(H) * (1 + 3 * size_t(W)), '\0');
    uLongf Size = uLongf(Raw.size());
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(Raw.data()), &Size,
                         reinterpret_cast<const Bytef*>(Packed.data()), uLong(Packed.size())),
              Z_OK);
    std::vector<uint32_t> Out;
    for (int Y = 0; Y < H; ++Y) {
        size_t Row = size_t(Y) * (1 + 3 * size_t(W));
        EXPECT_EQ(Raw[Row], 0);
        for (int X = 0; X < W; ++X) {
            size_t P = Row + 1 + 3 * size_t(X);
            Out.push_back((uint32_t(uint8_t(Raw[P])) << 16) | (uint32_t(uint8_t(Raw[P + 1])) << 8) |
                          uint8_t(Raw[P + 2]));
        }
    }
    return Out;
}

std::vector<uint32_t> DecodeBmp(const std::string& D, int& W, int& H) {
    EXPECT_EQ(D.substr(0, 2), "BM");
    EXPECT_EQ(LE32(D, 2), D.size());
    W = int(LE32(D, 18));
    H = int(LE32(D, 22));
    const size_t Row = (3 * size_t(W) + 3) & ~size_t(3);
    std::vector<uint32_t> Out;
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X) {
            size_t P = LE32(D, 10) + size_t(H - 1 - Y) * Row + 3 * size_t(X);
            Out.push_back(LE32(D.substr(P, 3) + '\0', 0));
        }
    return Out;
}

struct TCase {
    const char* Name;
    TPixelImage Image;
    std::vector<uint32_t> Expected; // 0x00RRGGBB
};

TPixelImage Make(TPixelFormat F) {
    TPixelImage I;
    I.Width = 3;
    I.Height = 2;
    I.Format = F;
    if (F == TPixelFormat::Indexed8) {
        I.Indexes = {0, 1, 2, 2, 1, 0};
        I.Palette = {0x102030, 0xFF0000, 0x00FF80};
    } else {
        // Alpha is dropped in the files: the colour channels are kept.
        I.Pixels = {0x80102030, 0xFFFF0000, 0x0000FF80, 0x0000FF80, 0xFFFF0000, 0x00102030};
    }
    return I;
}

const std::vector<uint32_t> Expected = {0x102030, 0xFF0000, 0x00FF80, 0x00FF80, 0xFF0000, 0x102030};

class PixelFiles : public ::testing::TestWithParam<std::tuple<TPixelFormat, const char*>> {};

TEST_P(PixelFiles, FileHoldsThePixels) {
    auto [Format, Ext] = GetParam();
    test::TTempDir Dir;
    std::string Path = Dir / (std::string("picture") + Ext);
    ASSERT_TRUE(SavePixelImage(Make(Format), Path));
    std::string Data = test::ReadFile(Path);
    int W = 0, H = 0;
    std::vector<uint32_t> Got =
        std::string(Ext) == ".png" ? DecodePng(Data, W, H) : DecodeBmp(Data, W, H);
    EXPECT_EQ(W, 3);
    EXPECT_EQ(H, 2);
    EXPECT_EQ(Got, Expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, PixelFiles,
                         ::testing::Combine(::testing::Values(TPixelFormat::Rgb, TPixelFormat::Argb,
                                                              TPixelFormat::Indexed8),
                                            ::testing::Values(".png", ".bmp")));

TEST(PixelImage, RefusesWhatItCannotWrite) {
    test::TTempDir Dir;
    TPixelImage Short = Make(TPixelFormat::Rgb);
    Short.Pixels.resize(4); // fewer pixels than Width x Height
    EXPECT_FALSE(SavePixelImage(Short, Dir / "short.png"));
    EXPECT_FALSE(SavePixelImage(TPixelImage{}, Dir / "empty.png"));
    EXPECT_FALSE(SavePixelImage(Make(TPixelFormat::Rgb), Dir / "missing/folder/p.bmp"));
    // Indexes beyond the palette read as black, never beyond it.
    TPixelImage Odd = Make(TPixelFormat::Indexed8);
    Odd.Indexes[0] = 200;
    EXPECT_EQ(Odd.At(0, 0), 0xFF000000u);
}

} // namespace
