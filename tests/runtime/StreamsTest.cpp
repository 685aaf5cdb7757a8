// Stream hierarchy: memory, file and buffered file streams, their error paths
// and CopyFrom.
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "runtime/Classes.h"
#include "tests/common/TestFiles.h"

using namespace kivo;

namespace {

using TempDir = test::TTempDir;

// A stream that hands out at most a few bytes per call, like a pipe.
class TTrickleStream : public TStream {
public:
    TTrickleStream(std::string Data, int Step) : FData(std::move(Data)), FStep(Step) {}
    int64_t Read(void* Buffer, int64_t Count) override {
        int64_t N = std::min<int64_t>({Count, FStep, static_cast<int64_t>(FData.size()) - FPos});
        std::memcpy(Buffer, FData.data() + FPos, static_cast<size_t>(N));
        FPos += N;
        return N;
    }
    int64_t Write(const void*, int64_t) override { return 0; } // refuses every write
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        FPos = Origin == soBeginning ? Offset
               : Origin == soCurrent ? FPos + Offset
                                     : static_cast<int64_t>(FData.size()) + Offset;
        return FPos;
    }

private:
    std::string FData;
    int FStep;
    int64_t FPos = 0;
};

std::string ReadAll(TStream& S) {
    std::string Out(static_cast<size_t>(S.Size()), '\0');
    S.SetPosition(0);
    S.ReadBuffer(Out.data(), static_cast<int64_t>(Out.size()));
    return Out;
}

} // namespace

TEST(MemoryStream, SeekOriginsAndGapsReadBackAsZeros) {
    TMemoryStream M;
    EXPECT_EQ(M.Write("abc", 3), 3);
    EXPECT_EQ(M.Seek(-1, soCurrent), 2);
    EXPECT_EQ(M.Seek(-3, soEnd), 0);
    EXPECT_EQ(M.Seek(10, soBeginning), 10);
    EXPECT_EQ(M.Write("z", 1), 1);
    EXPECT_EQ(M.Size(), 11);
    std::string All = ReadAll(M);
    EXPECT_EQ(All, std::string("abc") + std::string(7, '\0') + "z");
    char C;
    EXPECT_EQ(M.Read(&C, 1), 0) << "reading at the end returns nothing";
}

TEST(MemoryStream, SetSizeShrinksPositionAndGrowsWithZeros) {
    TMemoryStream M;
    M.WriteBuffer("hello world", 11);
    M.SetSize(5);
    EXPECT_EQ(M.Position(), 5);
    M.SetSize(8);
    EXPECT_EQ(ReadAll(M), std::string("hello") + std::string(3, '\0'));
}

TEST(MemoryStream, AppendSpaceOnlyAtTheEndAndCommittedBytesJoinTheStream) {
    TMemoryStream M;
    M.WriteBuffer("head", 4);
    int64_t Avail = -1;
    M.Seek(1, soBeginning);
    EXPECT_EQ(M.AppendSpace(10, Avail), nullptr) << "not at the end";
    EXPECT_EQ(Avail, 0);
    M.Seek(0, soEnd);
    uint8_t* P = M.AppendSpace(100000, Avail);
    ASSERT_NE(P, nullptr);
    EXPECT_GE(Avail, 100000);
    std::memcpy(P, "tail and scratch", 16);
    M.CommitAppend(4);
    EXPECT_EQ(M.Position(), 8);
    M.SetSize(10); // bytes past the committed ones read back as zeros, not as scratch
    EXPECT_EQ(ReadAll(M), std::string("headtail") + std::string(2, '\0'));
    M.Seek(0, soBeginning);
    EXPECT_THROW(M.CommitAppend(1), EAssertionFailed) << "the position is not at the end";
}

TEST(Streams, ShortReadAndRefusedWriteRaiseTheRuntimeErrors) {
    TMemoryStream M;
    M.WriteBuffer("abc", 3);
    M.SetPosition(0);
    char Buf[8];
    try {
        M.ReadBuffer(Buf, 4);
        FAIL() << "expected EReadError";
    } catch (const EReadError& E) {
        EXPECT_EQ(E.Message(), "Stream-Lesefehler");
    }
    TTrickleStream Sink("", 1);
    try {
        Sink.WriteBuffer("x", 1);
        FAIL() << "expected EWriteError";
    } catch (const EWriteError& E) {
        EXPECT_EQ(E.Message(), "Stream-Schreibfehler");
    }
}

TEST(Streams, ReadBufferCollectsPartialReads) {
    TTrickleStream T("0123456789", 3);
    char Buf[10];
    T.ReadBuffer(Buf, 10);
    EXPECT_EQ(std::string(Buf, 10), "0123456789");
}

TEST(Streams, CopyFromCopiesCountOrWholeSource) {
    TTrickleStream Source("abcdefghij", 2);
    TMemoryStream Target;
    Source.SetPosition(2);
    EXPECT_EQ(Target.CopyFrom(&Source, 5, 3), 5);
    EXPECT_EQ(ReadAll(Target), "cdefg");

    TMemoryStream Whole;
    EXPECT_EQ(Whole.CopyFrom(&Source, 0), 10) << "count 0 copies the source from its start";
    EXPECT_EQ(ReadAll(Whole), "abcdefghij");

    Source.SetPosition(8);
    TMemoryStream Short;
    EXPECT_THROW(Short.CopyFrom(&Source, 5), EReadError);
}

TEST(FileStream, OpenAndCreateFailuresNameTheFile) {
    TempDir Dir;
    try {
        TFileStream F(Dir.File("missing.bin"), fmOpenRead);
        FAIL() << "expected EFOpenError";
    } catch (const EFOpenError& E) {
        EXPECT_NE(E.Message().find("missing.bin"), std::string::npos) << E.Message();
        EXPECT_EQ(E.OsErrorCode, ENOENT);
    }
    EXPECT_THROW(TFileStream(Dir.File("no/such/dir.bin"), fmCreate), EFCreateError);
    EXPECT_THROW(TFileStream(Dir.File(""), fmOpenRead), EFOpenError) << "a directory is no file";
}

TEST(FileStream, ShareModesConflictLikeSharingViolations) {
    TempDir Dir;
    std::string Name = Dir.File("shared.bin");
    {
        TFileStream W(Name, fmCreate);
        W.WriteBuffer("data", 4);
    }
    {
        TFileStream Reader1(Name, fmOpenRead | fmShareDenyWrite);
        TFileStream Reader2(Name, fmOpenRead | fmShareDenyWrite); // readers coexist
        EXPECT_THROW(TFileStream(Name, fmOpenWrite | fmShareDenyWrite), EFOpenError);
        // A refused create must not truncate the file the reader holds.
        EXPECT_THROW(TFileStream(Name, fmCreate | fmShareExclusive), EFCreateError);
        EXPECT_EQ(GetFileSize(Name), 4);
        TFileStream Free(Name, fmOpenRead | fmShareDenyNone); // deny-none takes no lock
    }
    TFileStream Exclusive(Name, fmOpenReadWrite | fmShareExclusive);
    EXPECT_THROW(TFileStream(Name, fmOpenRead | fmShareDenyWrite), EFOpenError);
}

TEST(FileStream, SetSizeTruncatesAndMovesThePosition) {
    TempDir Dir;
    TFileStream F(Dir.File("size.bin"), fmCreate);
    F.WriteBuffer("0123456789", 10);
    F.SetSize(4);
    EXPECT_EQ(F.Size(), 4);
    EXPECT_EQ(F.Position(), 4);
}

// The buffered stream must behave exactly like a plain memory model under any
// mix of reads, writes, seeks and truncation.
TEST(BufferedFileStream, RandomOperationsMatchAMemoryModel) {
    TempDir Dir;
    std::mt19937 Rng(1234);
    for (int BufferSize : {16, 100, 4096}) {
        std::string Name = Dir.File("model" + std::to_string(BufferSize));
        TBufferedFileStream F(Name, fmCreate, BufferSize);
        TMemoryStream Model;
        std::vector<uint8_t> Data(20000);
        for (int Step = 0; Step < 3000; ++Step) {
            int Op = static_cast<int>(Rng() % 10);
            int64_t Len = static_cast<int64_t>(Rng() % (Rng() % 4 == 0 ? 9000 : 60));
            if (Op < 4) {
                for (int64_t i = 0; i < Len; ++i)
                    Data[static_cast<size_t>(i)] = static_cast<uint8_t>(Rng());
                ASSERT_EQ(F.Write(Data.data(), Len), Model.Write(Data.data(), Len));
            } else if (Op < 7) {
                std::vector<uint8_t> A(static_cast<size_t>(Len) + 1),
                    B(static_cast<size_t>(Len) + 1);
                int64_t NA = F.Read(A.data(), Len), NB = Model.Read(B.data(), Len);
                ASSERT_EQ(NA, NB) << "step " << Step;
                ASSERT_TRUE(std::equal(A.begin(), A.begin() + NA, B.begin()));
            } else if (Op < 9) {
                int64_t Size = Model.Size();
                int64_t Target =
                    Size == 0 ? 0 : static_cast<int64_t>(Rng() % static_cast<uint64_t>(Size + 1));
                TSeekOrigin Origin = static_cast<TSeekOrigin>(Rng() % 3);
                int64_t Offset = Origin == soBeginning ? Target
                                 : Origin == soCurrent ? Target - Model.Position()
                                                       : Target - Size;
                ASSERT_EQ(F.Seek(Offset, Origin), Model.Seek(Offset, Origin));
            } else {
                int64_t NewSize =
                    static_cast<int64_t>(Rng() % static_cast<uint64_t>(Model.Size() + 1));
                F.SetSize(NewSize);
                Model.SetSize(NewSize);
                Model.SetPosition(NewSize);
            }
            ASSERT_EQ(F.Size(), Model.Size()) << "step " << Step;
            ASSERT_EQ(F.Position(), Model.Position()) << "step " << Step;
        }
        F.FlushBuffer();
        TFileStream Check(Name, fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(ReadAll(Check), ReadAll(Model));
    }
}

TEST(BufferedFileStream, PendingBytesReachTheFileWhenDestroyed) {
    TempDir Dir;
    std::string Name = Dir.File("flush.bin");
    {
        TBufferedFileStream F(Name, fmCreate, 64);
        F.WriteBuffer("pending", 7);
        EXPECT_EQ(F.Size(), 7);
    }
    EXPECT_EQ(GetFileSize(Name), 7);
}
