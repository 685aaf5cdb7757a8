// The swap-backed memory stream: page limits, paging through the swap file,
// gaps and size changes, and a long random workload checked against a plain
// byte vector.
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "archive/AbExcept.h"
#include "archive/AbVMStrm.h"
#include "platform/FileSystem.h"
#include "support/ZipFixtures.h"

using namespace kivo;
using namespace kivo::ziptest;

namespace {

std::string ReadAt(TAbVirtualMemoryStream& S, int64_t Pos, int64_t Count) {
    std::string Out(static_cast<size_t>(Count), '\0');
    S.Seek(Pos, soBeginning);
    Out.resize(static_cast<size_t>(S.Read(Out.data(), Count)));
    return Out;
}

TEST(VirtualMemoryStream, MemoryLimitIsCountedInWholePages) {
    TAbVirtualMemoryStream S;
    EXPECT_EQ(S.MaxMemToUse(), 8u * 1024 * 1024);
    S.SetMaxMemToUse(1);
    EXPECT_EQ(S.MaxMemToUse(), 4096u);
    S.SetMaxMemToUse(0);
    EXPECT_EQ(S.MaxMemToUse(), 4096u);
    S.SetMaxMemToUse(4097);
    EXPECT_EQ(S.MaxMemToUse(), 8192u);
    S.SetMaxMemToUse(100u * 1024 * 1024);
    EXPECT_EQ(S.MaxMemToUse(), 8u * 1024 * 1024);
}

TEST(VirtualMemoryStream, OnePageRoundTripsThroughTheSwapFile) {
    TTempDir Dir;
    std::string Swap;
    {
        TAbVirtualMemoryStream S;
        S.SetSwapFileDirectory(Dir.Path());
        S.SetMaxMemToUse(1);
        std::string Data = RandomBytes(10000, 5);
        EXPECT_EQ(S.Write(Data.data(), 10000), 10000);
        EXPECT_EQ(S.Size(), 10000);
        EXPECT_EQ(S.PagesInMemory(), 1);
        Swap = S.SwapFileName();
        ASSERT_FALSE(Swap.empty());
        EXPECT_EQ(ExtractFileDir(Swap), Dir.Path());
        EXPECT_EQ(ExtractFileName(Swap).substr(0, 3), "VMS");
        EXPECT_EQ(ReadAt(S, 0, 10000), Data);
        EXPECT_EQ(ReadAt(S, 4000, 200), Data.substr(4000, 200));
        // Lowering the limit writes dirty pages out first.
        S.SetMaxMemToUse(3 * 4096);
        S.Seek(0, soBeginning);
        S.Write("abc", 3);
        S.SetMaxMemToUse(1);
        EXPECT_EQ(ReadAt(S, 0, 4), "abc" + Data.substr(3, 1));
    }
    EXPECT_FALSE(Exists(Swap)); // deleted with the stream
}

TEST(VirtualMemoryStream, NoSwapFileWhileEverythingFits) {
    TAbVirtualMemoryStream S;
    std::string Data = RandomBytes(100000, 6);
    S.Write(Data.data(), 100000);
    EXPECT_TRUE(S.SwapFileName().empty());
    EXPECT_EQ(ReadAt(S, 0, 100000), Data);
}

TEST(VirtualMemoryStream, MissingSwapDirectoryFallsBackToTheTemporaryDirectory) {
    TAbVirtualMemoryStream S;
    S.SetSwapFileDirectory("/nonexistent/kivo-swap");
    S.SetMaxMemToUse(1);
    std::string Data(9000, 'v');
    S.Write(Data.data(), 9000);
    EXPECT_EQ(IncludeTrailingPathDelimiter(ExtractFileDir(S.SwapFileName())), GetTempDirectory());
}

TEST(VirtualMemoryStream, WritingPastTheEndLeavesAZeroGap) {
    TAbVirtualMemoryStream S;
    S.SetMaxMemToUse(4096);
    EXPECT_EQ(S.Seek(20000, soBeginning), 20000);
    S.Write("tail", 4);
    EXPECT_EQ(S.Size(), 20004);
    EXPECT_EQ(ReadAt(S, 0, 20000), std::string(20000, '\0'));
    EXPECT_EQ(ReadAt(S, 19998, 10), std::string(2, '\0') + "tail");
    // Reads stop at the size; positions past it read nothing.
    EXPECT_EQ(ReadAt(S, 30000, 10), "");
    S.Seek(-4, soEnd);
    EXPECT_EQ(S.Position(), 20000);
    S.Seek(-1, soCurrent);
    EXPECT_EQ(S.Position(), 19999);
    S.Seek(-50000, soCurrent); // no clamping, and nothing readable or writable there
    EXPECT_EQ(S.Write("x", 1), 0);
    char C;
    EXPECT_EQ(S.Read(&C, 1), 0);
}

TEST(VirtualMemoryStream, ShrinkingForgetsTheCutBytes) {
    TAbVirtualMemoryStream S;
    S.SetMaxMemToUse(1);
    std::string Data = RandomBytes(20000, 8);
    S.Write(Data.data(), 20000);
    S.SetSize(5000);
    EXPECT_EQ(S.Size(), 5000);
    EXPECT_EQ(S.Position(), 5000);
    S.SetSize(20000); // grows again with zeros, not with the old bytes
    EXPECT_EQ(ReadAt(S, 0, 5000), Data.substr(0, 5000));
    EXPECT_EQ(ReadAt(S, 5000, 15000), std::string(15000, '\0'));
    S.SetSize(0);
    S.SetSize(9000);
    EXPECT_EQ(ReadAt(S, 0, 9000), std::string(9000, '\0'));
    // Pages that went to the swap file before the cut read as zeros even
    // after a later page lies beyond them in the swap file.
    S.SetSize(0);
    S.Seek(16384, soBeginning);
    S.Write("z", 1);
    S.Seek(0, soBeginning); // page 16384 leaves memory for page 0
    EXPECT_EQ(ReadAt(S, 4096, 8192), std::string(8192, '\0'));
}

TEST(VirtualMemoryStream, InvalidOriginIsRefused) {
    TAbVirtualMemoryStream S;
    try {
        S.Seek(0, static_cast<TSeekOrigin>(3));
        FAIL() << "no error";
    } catch (const EAbVMSInvalidOrigin& E) {
        EXPECT_EQ(E.Message(), "VMS: invalid origin 3, should be 0, 1, 2");
        EXPECT_EQ(E.ErrorCode, 101);
    }
}

TEST(VirtualMemoryStream, RandomWorkloadMatchesAPlainBuffer) {
    std::mt19937 Gen(1234);
    for (uint32_t Limit : {1u, 3u * 4096, 64u * 1024}) {
        TAbVirtualMemoryStream S;
        S.SetMaxMemToUse(Limit);
        std::string Model;
        for (int Step = 0; Step < 2000; ++Step) {
            int64_t Pos = static_cast<int64_t>(Gen() % 200000);
            int64_t Len = static_cast<int64_t>(Gen() % 9000);
            switch (Gen() % 8) {
            case 0: {
                int64_t NewSize = static_cast<int64_t>(Gen() % 200000);
                S.SetSize(NewSize);
                Model.resize(static_cast<size_t>(NewSize), '\0');
                break;
            }
            case 1:
            case 2:
            case 3: {
                std::string Data = RandomBytes(static_cast<size_t>(Len), Gen());
                S.Seek(Pos, soBeginning);
                S.Write(Data.data(), Len);
                if (Len == 0) break; // writes nothing, not even a gap
                if (Model.size() < static_cast<size_t>(Pos + Len))
                    Model.resize(static_cast<size_t>(Pos + Len), '\0');
                Model.replace(static_cast<size_t>(Pos), static_cast<size_t>(Len), Data);
                break;
            }
            default: {
                std::string Expected =
                    Pos < static_cast<int64_t>(Model.size())
                        ? Model.substr(static_cast<size_t>(Pos), static_cast<size_t>(Len))
                        : "";
                ASSERT_TRUE(ReadAt(S, Pos, Len) == Expected)
                    << "limit " << Limit << " step " << Step;
            }
            }
            ASSERT_EQ(S.Size(), static_cast<int64_t>(Model.size()));
        }
        EXPECT_TRUE(ReadAt(S, 0, S.Size()) == Model);
    }
}

} // namespace
