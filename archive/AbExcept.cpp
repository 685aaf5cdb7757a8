#include "archive/AbExcept.h"

namespace kivo {

EAbZipVersion::EAbZipVersion()
    : EAbZipException("Cannot extract file - newer version required", AbErrZipVersion) {}
EAbZipInvalidMethod::EAbZipInvalidMethod()
    : EAbZipException("Cannot extract file - unsupported compression method",
                      AbErrZipInvalidMethod) {}
EAbZipNoExtraction::EAbZipNoExtraction()
    : EAbZipException("Cannot extract file - no extraction support provided",
                      AbErrZipNoExtraction) {}
EAbZipInvalidPassword::EAbZipInvalidPassword()
    : EAbZipException("Cannot extract file - invalid password", AbErrZipInvalidPassword) {}
EAbZipNoInsertion::EAbZipNoInsertion()
    : EAbZipException("Cannot insert file - no insertion support provided", AbErrZipNoInsertion) {}
EAbZipInvalidFactor::EAbZipInvalidFactor()
    : EAbZipException("Invalid Reduce Factor", AbErrZipInvalidFactor) {}
EAbUserAbort::EAbUserAbort() : EAbException("Process aborted by user", AbErrUserAbort) {}
EAbArchiveBusy::EAbArchiveBusy()
    : EAbException("Archive is busy - cannot process new requests", AbErrArchiveBusy) {}
EAbZipBadSpanStream::EAbZipBadSpanStream()
    : EAbZipException("Spanned archives must be opened as file streams", AbErrZipBadSpanStream) {}
EAbZipSpanOverwrite::EAbZipSpanOverwrite()
    : EAbZipException("Cannot update an existing spanned disk set", AbErrZipSpanOverwrite) {}
EAbNoSuchDirectory::EAbNoSuchDirectory()
    : EAbException("Directory does not exist", AbErrNoSuchDirectory) {}
EAbBadStream::EAbBadStream() : EAbException("Invalid Stream", AbErrBadStream) {}

EAbBadStream EAbBadStream::CreateInner(const std::exception& Inner) {
    EAbBadStream Result;
    Result.SetMessage(std::string("Invalid Stream") + "\r\n" + Inner.what());
    // Keep the error object itself, with its class and fields, when it is the
    // one being handled; otherwise (called outside its handler) a copy of its
    // message is all that can be kept.
    if (std::exception_ptr Current = std::current_exception()) {
        try {
            std::rethrow_exception(Current);
        } catch (const std::exception& Handled) {
            if (&Handled == &Inner) Result.FInnerException = Current;
        } catch (...) {
        }
    }
    if (!Result.FInnerException)
        Result.FInnerException = std::make_exception_ptr(Exception(Inner.what()));
    return Result;
}

EAbZipBadCRC::EAbZipBadCRC() : EAbZipException("Failed CRC Check", AbErrZipBadCRC) {}
EAbFileNotFound::EAbFileNotFound() : EAbException("File not found", AbErrFileNotFound) {}
EAbZipInvalidLFH::EAbZipInvalidLFH()
    : EAbZipException("Invalid Local File Header entry", AbErrZipInvalidLFH) {}
EAbNoArchive::EAbNoArchive()
    : EAbException("Archive does not exist - Filename is blank", AbErrNoArchive) {}
EAbZipInvalid::EAbZipInvalid()
    : EAbZipException("Invalid file - not a PKZip file", AbErrZipInvalid) {}
EAbReadError::EAbReadError() : EAbZipException("Error reading archive", AbErrReadError) {}
EAbUnhandledType::EAbUnhandledType() : EAbException("Unhandled Archive Type", AbErrUnhandledType) {}
EAbSpanningNotSupported::EAbSpanningNotSupported()
    : EAbException("Spanning not supported by this Archive type", AbErrSpanningNotSupported) {}
EAbGzipInvalid::EAbGzipInvalid()
    : EAbGzipException("Spanning not supported by this Archive type", AbErrGzipInvalid) {}
EAbBBSSeekOutsideBuffer::EAbBBSSeekOutsideBuffer()
    : EAbZipException("BBS: New position is outside the buffer", AbErrBBSSeekOutsideBuffer) {}
EAbBBSInvalidOrigin::EAbBBSInvalidOrigin()
    : EAbZipException("BBS: Invalid Origin value", AbErrBBSInvalidOrigin) {}
EAbNoCabinetDll::EAbNoCabinetDll()
    : EAbCabException("Cannot load cabinet.dll", AbErrNoCabinetDll) {}
EAbGzipBadCRC::EAbGzipBadCRC() : EAbGzipException("Bad CRC", AbErrGzipBadCRC) {}
EAbGzipBadFileSize::EAbGzipBadFileSize()
    : EAbGzipException("Bad File Size", AbErrGzipBadFileSize) {}
EAbTarInvalid::EAbTarInvalid() : EAbTarException("Invalid Tar", AbErrTarInvalid) {}
EAbTarBadFileName::EAbTarBadFileName()
    : EAbTarException("File name too long", AbErrTarBadFileName) {}
EAbTarBadLinkName::EAbTarBadLinkName()
    : EAbTarException("Symbolic link path too long", AbErrTarBadLinkName) {}
EAbUnsafePath::EAbUnsafePath()
    : EAbException("Cannot extract file - stored name leads outside the base directory",
                   AbErrUnsafePath) {}
EAbZipDataTooLong::EAbZipDataTooLong()
    : EAbZipException("Cannot extract file - data longer than declared", AbErrZipDataTooLong) {}
EAbZipOverlap::EAbZipOverlap()
    : EAbZipException("Cannot extract file - data overlaps another entry", AbErrZipOverlap) {}
EAbZipAuthentication::EAbZipAuthentication()
    : EAbZipException("Cannot extract file - authentication code of the encrypted data does not "
                      "match",
                      AbErrZipAuthentication) {}
EAbTarBadOp::EAbTarBadOp() : EAbTarException("Unsupported Operation", AbErrTarBadOp) {}

EAbBBSReadTooManyBytes::EAbBBSReadTooManyBytes(int64_t Count)
    : EAbZipException(
          Format("BBS: request to read too many bytes [%lld]", static_cast<long long>(Count)),
          AbErrBBSReadTooManyBytes) {}

EAbVMSInvalidOrigin::EAbVMSInvalidOrigin(int32_t Origin)
    : EAbZipException(Format("VMS: invalid origin %d, should be 0, 1, 2", Origin),
                      AbErrVMSInvalidOrigin) {}

EAbVMSErrorOpenSwap::EAbVMSErrorOpenSwap(const std::string& SwapFileName)
    : EAbZipException(Format("VMS: Cannot open swap file %s", SwapFileName.c_str()),
                      AbErrVMSErrorOpenSwap) {}

EAbVMSSeekFail::EAbVMSSeekFail(const std::string& SwapFileName)
    : EAbZipException(Format("VMS: Failed to seek in swap file %s", SwapFileName.c_str()),
                      AbErrVMSSeekFail) {}

EAbVMSReadFail::EAbVMSReadFail(int64_t Count, const std::string& SwapFileName)
    : EAbZipException(Format("VMS: Failed to read %lld bytes from swap file %s",
                             static_cast<long long>(Count), SwapFileName.c_str()),
                      AbErrVMSReadFail) {}

EAbVMSWriteFail::EAbVMSWriteFail(int64_t Count, const std::string& SwapFileName)
    : EAbZipException(Format("VMS: Failed to write %lld bytes to swap file %s",
                             static_cast<long long>(Count), SwapFileName.c_str()),
                      AbErrVMSWriteFail) {}

} // namespace kivo
