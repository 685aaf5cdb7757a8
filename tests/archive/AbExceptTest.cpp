#include "archive/AbExcept.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "runtime/Classes.h"

namespace kivo {
namespace {

enum Group { gBase, gZip, gGzip, gTar, gCab };

struct Row {
    std::function<std::unique_ptr<EAbException>()> Make;
    int32_t Code;
    std::string Message;
    Group Parent;
};

template <typename T, typename... A>
std::function<std::unique_ptr<EAbException>()> Maker(A... Args) {
    return [=] { return std::make_unique<T>(Args...); };
}

Group GroupOf(const EAbException& E) {
    const bool Zip = dynamic_cast<const EAbZipException*>(&E) != nullptr;
    const bool Gzip = dynamic_cast<const EAbGzipException*>(&E) != nullptr;
    const bool Tar = dynamic_cast<const EAbTarException*>(&E) != nullptr;
    const bool Cab = dynamic_cast<const EAbCabException*>(&E) != nullptr;
    EXPECT_LE(Zip + Gzip + Tar + Cab, 1);
    return Zip ? gZip : Gzip ? gGzip : Tar ? gTar : Cab ? gCab : gBase;
}

TEST(AbExceptions, EveryClassCarriesItsCodeMessageAndParent) {
    const Row Rows[] = {
        {Maker<EAbZipVersion>(), 1, "Cannot extract file - newer version required", gZip},
        {Maker<EAbZipInvalidMethod>(), 2, "Cannot extract file - unsupported compression method",
         gZip},
        {Maker<EAbZipNoExtraction>(), 3, "Cannot extract file - no extraction support provided",
         gZip},
        {Maker<EAbZipInvalidPassword>(), 4, "Cannot extract file - invalid password", gZip},
        {Maker<EAbZipNoInsertion>(), 5, "Cannot insert file - no insertion support provided", gZip},
        {Maker<EAbZipInvalidFactor>(), 6, "Invalid Reduce Factor", gZip},
        {Maker<EAbUserAbort>(), 9, "Process aborted by user", gBase},
        {Maker<EAbArchiveBusy>(), 10, "Archive is busy - cannot process new requests", gBase},
        {Maker<EAbZipBadSpanStream>(), 11, "Spanned archives must be opened as file streams", gZip},
        {Maker<EAbZipSpanOverwrite>(), 12, "Cannot update an existing spanned disk set", gZip},
        {Maker<EAbNoSuchDirectory>(), 15, "Directory does not exist", gBase},
        {Maker<EAbBadStream>(), 17, "Invalid Stream", gBase},
        {Maker<EAbZipBadCRC>(), 19, "Failed CRC Check", gZip},
        {Maker<EAbFileNotFound>(), 21, "File not found", gBase},
        {Maker<EAbZipInvalidLFH>(), 22, "Invalid Local File Header entry", gZip},
        {Maker<EAbNoArchive>(), 23, "Archive does not exist - Filename is blank", gBase},
        {Maker<EAbZipInvalid>(), 24, "Invalid file - not a PKZip file", gZip},
        {Maker<EAbReadError>(), 25, "Error reading archive", gZip},
        {Maker<EAbUnhandledType>(), 28, "Unhandled Archive Type", gBase},
        {Maker<EAbSpanningNotSupported>(), 29, "Spanning not supported by this Archive type",
         gBase},
        {Maker<EAbGzipInvalid>(), 29, "Spanning not supported by this Archive type", gGzip},
        {Maker<EAbUnsafePath>(), 30,
         "Cannot extract file - stored name leads outside the base directory", gBase},
        {Maker<EAbZipDataTooLong>(), 31, "Cannot extract file - data longer than declared", gZip},
        {Maker<EAbZipOverlap>(), 32, "Cannot extract file - data overlaps another entry", gZip},
        {Maker<EAbBBSReadTooManyBytes>(int64_t{70000}), 40,
         "BBS: request to read too many bytes [70000]", gZip},
        {Maker<EAbBBSSeekOutsideBuffer>(), 41, "BBS: New position is outside the buffer", gZip},
        {Maker<EAbBBSInvalidOrigin>(), 42, "BBS: Invalid Origin value", gZip},
        {Maker<EAbNoCabinetDll>(), 50, "Cannot load cabinet.dll", gCab},
        {Maker<EAbVMSInvalidOrigin>(int32_t{7}), 101, "VMS: invalid origin 7, should be 0, 1, 2",
         gZip},
        {Maker<EAbVMSErrorOpenSwap>(std::string("/tmp/VMSab12")), 102,
         "VMS: Cannot open swap file /tmp/VMSab12", gZip},
        {Maker<EAbVMSSeekFail>(std::string("s.tmp")), 103, "VMS: Failed to seek in swap file s.tmp",
         gZip},
        {Maker<EAbVMSReadFail>(int64_t{512}, std::string("s.tmp")), 104,
         "VMS: Failed to read 512 bytes from swap file s.tmp", gZip},
        {Maker<EAbVMSWriteFail>(int64_t{-1}, std::string("s.tmp")), 105,
         "VMS: Failed to write -1 bytes to swap file s.tmp", gZip},
        {Maker<EAbGzipBadCRC>(), 201, "Bad CRC", gGzip},
        {Maker<EAbGzipBadFileSize>(), 202, "Bad File Size", gGzip},
        {Maker<EAbTarInvalid>(), 220, "Invalid Tar", gTar},
        {Maker<EAbTarBadFileName>(), 221, "File name too long", gTar},
        {Maker<EAbTarBadLinkName>(), 222, "Symbolic link path too long", gTar},
        {Maker<EAbTarBadOp>(), 223, "Unsupported Operation", gTar},
    };
    for (const Row& R : Rows) {
        std::unique_ptr<EAbException> E = R.Make();
        EXPECT_EQ(E->ErrorCode, R.Code) << R.Message;
        EXPECT_EQ(E->Message(), R.Message);
        EXPECT_STREQ(E->what(), R.Message.c_str());
        EXPECT_EQ(GroupOf(*E), R.Parent) << R.Message;
        // Every engine error is also one of the runtime's error objects.
        EXPECT_NE(dynamic_cast<const Exception*>(E.get()), nullptr);
    }
}

TEST(AbExceptions, PlainEngineErrorCarriesCodeZero) {
    EAbException E("TAbUnzipOutputStream.Read not supported");
    EXPECT_EQ(E.ErrorCode, 0);
    EXPECT_EQ(E.Message(), "TAbUnzipOutputStream.Read not supported");
}

TEST(EAbBadStreamCreateInner, KeepsTheHandledErrorItself) {
    try {
        throw EReadError();
    } catch (const EReadError& Read) {
        const EAbBadStream Outer = EAbBadStream::CreateInner(Read);
        EXPECT_EQ(Outer.ErrorCode, 17);
        EXPECT_EQ(Outer.Message(), std::string("Invalid Stream\r\n") + SReadError);
        ASSERT_TRUE(Outer.InnerException());
        // The inner error keeps its class after its handler has ended.
        const std::exception_ptr Inner = Outer.InnerException();
        EXPECT_THROW(std::rethrow_exception(Inner), EReadError);
    }
}

TEST(EAbBadStreamCreateInner, OutsideAHandlerKeepsTheMessage) {
    const EAbZipInvalid Cause;
    const EAbBadStream Outer = EAbBadStream::CreateInner(Cause);
    EXPECT_EQ(Outer.Message(), "Invalid Stream\r\nInvalid file - not a PKZip file");
    ASSERT_TRUE(Outer.InnerException());
    try {
        std::rethrow_exception(Outer.InnerException());
    } catch (const std::exception& E) {
        EXPECT_STREQ(E.what(), "Invalid file - not a PKZip file");
    }
}

TEST(EAbBadStreamCreateInner, AnotherHandledErrorIsNotMistakenForTheCause) {
    try {
        throw EWriteError();
    } catch (const EWriteError&) {
        const EAbFileNotFound Cause;
        const EAbBadStream Outer = EAbBadStream::CreateInner(Cause);
        EXPECT_EQ(Outer.Message(), "Invalid Stream\r\nFile not found");
        EXPECT_THROW(std::rethrow_exception(Outer.InnerException()), Exception);
        try {
            std::rethrow_exception(Outer.InnerException());
        } catch (const EWriteError&) {
            ADD_FAILURE() << "kept the error being handled instead of the cause";
        } catch (const Exception& E) {
            EXPECT_EQ(E.Message(), "File not found");
        }
    }
}

} // namespace
} // namespace kivo
