// Span streams over split sets: image names, reading across images, writing
// with a size threshold, blocks that must stay on one image, refusals.
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "archive/AbExcept.h"
#include "archive/AbSpanSt.h"
#include "platform/FileSystem.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

std::unique_ptr<TStream> OpenRead(const std::string& Name) {
    return std::make_unique<TBufferedFileStream>(Name, fmOpenRead | fmShareDenyWrite, 32768);
}

std::unique_ptr<TStream> Create(const std::string& Name) {
    return std::make_unique<TBufferedFileStream>(Name, fmCreate | fmShareDenyWrite, 32768);
}

TEST(SpanNames, ImageNamesKeepTheExtensionsFirstLetter) {
    EXPECT_EQ(TAbSpanBaseStream::DefaultImageName("/d/archive.zip", 1), "/d/archive.z01");
    EXPECT_EQ(TAbSpanBaseStream::DefaultImageName("/d/archive.zip", 10), "/d/archive.z10");
    EXPECT_EQ(TAbSpanBaseStream::DefaultImageName("/d/archive.zip", 100), "/d/archive.z100");
    EXPECT_EQ(TAbSpanBaseStream::DefaultImageName("/d/archive", 2), "/d/archive.02");
    EXPECT_EQ(TAbSpanBaseStream::DefaultImageName("/d/archive.", 2), "/d/archive.02");
    EXPECT_EQ(TAbSpanBaseStream::DefaultImageName("/d.x/archive", 3), "/d.x/archive.03");
}

// A set of three images: set.z01 and set.z02 of 1000 bytes, set.zip of 500.
struct TThreeImages {
    TThreeImages() {
        Data = RandomBytes(2500, 42);
        WriteBytes(Dir / "set.z01", Data.substr(0, 1000));
        WriteBytes(Dir / "set.z02", Data.substr(1000, 1000));
        WriteBytes(Dir / "set.zip", Data.substr(2000));
    }
    TTempDir Dir;
    std::string Data;
};

TEST(SpanRead, ReadsCrossImageBoundariesSeamlessly) {
    TThreeImages Set;
    std::string Archive = Set.Dir / "set.zip";
    TAbSpanReadStream S(Archive, OpenRead(Archive), 2);
    EXPECT_TRUE(S.IsSplit());
    EXPECT_EQ(S.LastImage(), 2u);
    S.SeekImage(0, 990);
    EXPECT_EQ(S.CurrentImage(), 0u);
    std::string Got(1500, '\0');
    EXPECT_EQ(S.Read(Got.data(), 1500), 1500);
    EXPECT_EQ(Got, Set.Data.substr(990, 1500));
    EXPECT_EQ(S.CurrentImage(), 2u);
    EXPECT_EQ(S.Position(), 490);
    // At the end of the last image a read returns what there was.
    EXPECT_EQ(S.Read(Got.data(), 100), 10);
    S.SeekImage(1, 5);
    EXPECT_EQ(S.Position(), 5);
    char C = 0;
    EXPECT_EQ(S.Read(&C, 1), 1);
    EXPECT_EQ(C, Set.Data[1005]);
}

TEST(SpanRead, RefusedRequestsAndUnsupportedOperations) {
    TThreeImages Set;
    std::string Archive = Set.Dir / "set.zip";
    TAbSpanReadStream S(Archive, OpenRead(Archive), 2);
    char Buf[4] = {};
    try {
        S.Write(Buf, 4);
        FAIL() << "no error";
    } catch (const EAbException& E) {
        EXPECT_EQ(E.Message(), "TAbSpanReadStream.Write unsupported");
    }
    try {
        S.Seek(10, soBeginning);
        FAIL() << "no error";
    } catch (const EAbException& E) {
        EXPECT_EQ(E.Message(), "TAbSpanReadStream.Seek unsupported");
    }
    // The image request handler can rename or refuse.
    int Asked = 0;
    S.SetOnRequestImage([&](TStream* Sender, int32_t Image, std::string& Name, bool& Abort) {
        EXPECT_EQ(Sender, &S);
        ++Asked;
        if (Image == 2) Abort = true;
        (void)Name;
    });
    EXPECT_EQ(Asked, 1); // deciding whether the set is split asks for image 1
    EXPECT_THROW(S.SeekImage(1, 0), EAbUserAbort);
    // Without an image nothing more happens.
    EXPECT_FALSE(S.HasImage());
    EXPECT_EQ(S.Read(Buf, 4), 0);
    EXPECT_EQ(S.Position(), 0);
    EXPECT_NO_THROW(S.SeekImage(0, 0));
    EXPECT_FALSE(S.HasImage());
}

TEST(SpanRead, MissingImageRaisesTheOpenError) {
    TThreeImages Set;
    DeleteFile(Set.Dir / "set.z01");
    std::string Archive = Set.Dir / "set.zip";
    TAbSpanReadStream S(Archive, OpenRead(Archive), 2);
    EXPECT_THROW(S.SeekImage(0, 0), EFOpenError);
}

TEST(SpanWrite, ThresholdSplitsIntoImages) {
    TTempDir Dir;
    std::string Archive = Dir / "set.zip";
    std::string Data = RandomBytes(2500, 7);
    {
        TAbSpanWriteStream S(Archive, 1000, Create(Archive));
        EXPECT_EQ(S.Write(Data.data(), 2500), 2500);
        EXPECT_EQ(S.CurrentImage(), 2u);
        EXPECT_EQ(S.Position(), 500);
        std::unique_ptr<TStream> Last = S.ReleaseStream();
        ASSERT_NE(Last, nullptr);
        EXPECT_EQ(S.Write(Data.data(), 1), 0); // nothing without a stream
    }
    EXPECT_EQ(ReadBytes(Dir / "set.z01"), Data.substr(0, 1000));
    EXPECT_EQ(ReadBytes(Dir / "set.z02"), Data.substr(1000, 1000));
    EXPECT_EQ(ReadBytes(Archive), Data.substr(2000));
}

TEST(SpanWrite, ExactFillDoesNotStartANewImage) {
    TTempDir Dir;
    std::string Archive = Dir / "set.zip";
    TAbSpanWriteStream S(Archive, 1000, Create(Archive));
    std::string Data(1000, 'x');
    EXPECT_EQ(S.Write(Data.data(), 1000), 1000);
    EXPECT_EQ(S.CurrentImage(), 0u);
    EXPECT_FALSE(Exists(Dir / "set.z01"));
    EXPECT_EQ(S.Write(Data.data(), 1), 1);
    EXPECT_EQ(S.CurrentImage(), 1u);
    EXPECT_TRUE(Exists(Dir / "set.z01"));
}

TEST(SpanWrite, UnspannedBlocksMoveWholeToTheNextImage) {
    TTempDir Dir;
    std::string Archive = Dir / "set.zip";
    std::string Head(900, 'h');
    std::string Block(200, 'b');
    {
        TAbSpanWriteStream S(Archive, 1000, Create(Archive));
        S.Write(Head.data(), 900);
        EXPECT_TRUE(S.WriteUnspanned(Block.data(), 200)); // does not fit: goes to image 2 whole
        EXPECT_EQ(S.CurrentImage(), 1u);
        EXPECT_EQ(S.ImageSize(), 200);
        EXPECT_TRUE(S.WriteUnspanned(Block.data(), 100));
        EXPECT_EQ(S.ImageSize(), 300);
        S.Write(Head.data(), 700);
        EXPECT_FALSE(S.WriteUnspanned(Block.data(), 50, true)); // fails on span: nothing written
        EXPECT_EQ(S.CurrentImage(), 2u);
        EXPECT_EQ(S.ImageSize(), 0);
        char C = 0;
        try {
            S.Read(&C, 1);
            FAIL() << "no error";
        } catch (const EAbException& E) {
            EXPECT_EQ(E.Message(), "TAbSpanWriteStream.Read unsupported");
        }
        try {
            S.Seek(0, soEnd);
            FAIL() << "no error";
        } catch (const EAbException& E) {
            EXPECT_EQ(E.Message(), "TAbSpanWriteStream.Seek unsupported");
        }
    }
    EXPECT_EQ(ReadBytes(Dir / "set.z01"), Head);
    EXPECT_EQ(GetFileSize(Dir / "set.z02"), 1000);
    EXPECT_EQ(GetFileSize(Archive), 0);
    TAbSpanWriteStream Empty(Archive, 1000, nullptr);
    EXPECT_THROW(Empty.WriteUnspanned(Head.data(), 1), EWriteError);
}

// A disk that holds only Capacity bytes.
class TSmallDisk : public TMemoryStream {
public:
    explicit TSmallDisk(int64_t Capacity) : FCapacity(Capacity) {}
    int64_t Write(const void* Buffer, int64_t Count) override {
        return TMemoryStream::Write(Buffer, std::min(Count, FCapacity - Position()));
    }

private:
    int64_t FCapacity;
};

TEST(SpanWrite, FullDiskAsksForABlankOneOrIsRefused) {
    TTempDir Dir;
    std::string Archive = Dir / "disk.zip";
    std::string Data = RandomBytes(10, 3);
    {
        TAbSpanWriteStream S(Archive, 0, std::make_unique<TSmallDisk>(4));
        EXPECT_THROW(S.Write(Data.data(), 10), EAbUserAbort); // no handler: refused
    }
    TAbSpanWriteStream S(Archive, 0, std::make_unique<TSmallDisk>(4));
    int Requests = 0;
    S.SetOnRequestBlankDisk([&](TStream* Sender, bool& Abort) {
        EXPECT_EQ(Sender, &S);
        EXPECT_FALSE(Abort);
        ++Requests;
    });
    EXPECT_EQ(S.Write(Data.data(), 10), 10);
    EXPECT_EQ(Requests, 1);
    EXPECT_EQ(S.CurrentImage(), 1u);
    S.ReleaseStream().reset();
    EXPECT_EQ(ReadBytes(Archive), Data.substr(4)); // the new disk carries the archive's name
}

} // namespace
