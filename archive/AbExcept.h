// The archive engine's error classes, their codes and messages.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "runtime/SysUtils.h"

namespace kivo {

// Error codes carried in EAbException::ErrorCode.
constexpr int32_t AbErrZipVersion = 1, AbErrZipInvalidMethod = 2, AbErrZipNoExtraction = 3,
                  AbErrZipInvalidPassword = 4, AbErrZipNoInsertion = 5, AbErrZipInvalidFactor = 6,
                  // A stored name the archive already holds (add or move); reported per
                  // item through OnProcessItemFailure, never raised.
    AbErrDuplicateName = 7, AbErrUserAbort = 9, AbErrArchiveBusy = 10, AbErrZipBadSpanStream = 11,
                  AbErrZipSpanOverwrite = 12, AbErrNoSuchDirectory = 15, AbErrBadStream = 17,
                  AbErrZipBadCRC = 19, AbErrFileNotFound = 21, AbErrZipInvalidLFH = 22,
                  AbErrNoArchive = 23, AbErrZipInvalid = 24, AbErrReadError = 25,
                  AbErrUnhandledType = 28, AbErrSpanningNotSupported = 29,
                  // "Cannot extract file - stored name leads outside the base directory":
                  // the item's target would lie outside the base directory (a root, drive,
                  // UNC prefix or ".." in its stored name); the item is reported and skipped.
    AbErrUnsafePath = 30,
                  // "Cannot extract file - data longer than declared": the item's data
                  // decodes to more bytes than its declared size; decoding stops there.
    AbErrZipDataTooLong = 31,
                  // "Cannot extract file - data overlaps another entry": the item's local
                  // header and data do not lie in a place of their own between the entries
                  // and the central directory (zip bombs of the overlap kind).
    AbErrZipOverlap = 32,
                  // "Cannot extract file - authentication code of the encrypted data does
                  // not match": AES-encrypted data (or its code) was changed after it was
                  // encrypted; nothing of it is kept.
    AbErrZipAuthentication = 33, AbErrGzipInvalid = 29, AbErrBBSSeekOutsideBuffer = 41,
                  AbErrBBSInvalidOrigin = 42, AbErrNoCabinetDll = 50, AbErrGzipBadCRC = 201,
                  AbErrGzipBadFileSize = 202, AbErrTarInvalid = 220, AbErrTarBadFileName = 221,
                  AbErrTarBadLinkName = 222, AbErrTarBadOp = 223, AbErrBBSReadTooManyBytes = 40,
                  AbErrVMSInvalidOrigin = 101, AbErrVMSErrorOpenSwap = 102, AbErrVMSSeekFail = 103,
                  AbErrVMSReadFail = 104, AbErrVMSWriteFail = 105;

// Base of every archive engine error.
class EAbException : public Exception {
public:
    EAbException(std::string Message, int32_t Code)
        : Exception(std::move(Message)), ErrorCode(Code) {}
    // A plain engine error with a literal message carries code 0.
    explicit EAbException(std::string Message) : Exception(std::move(Message)), ErrorCode(0) {}
    int32_t ErrorCode = 0;
};

// Groups of format errors.
class EAbZipException : public EAbException {
public:
    using EAbException::EAbException;
};
class EAbGzipException : public EAbException {
public:
    using EAbException::EAbException;
};
class EAbTarException : public EAbException {
public:
    using EAbException::EAbException;
};
class EAbCabException : public EAbException {
public:
    using EAbException::EAbException;
};

class EAbZipVersion : public EAbZipException {
public:
    EAbZipVersion();
};
class EAbZipInvalidMethod : public EAbZipException {
public:
    EAbZipInvalidMethod();
};
class EAbZipNoExtraction : public EAbZipException {
public:
    EAbZipNoExtraction();
};
class EAbZipInvalidPassword : public EAbZipException {
public:
    EAbZipInvalidPassword();
};
class EAbZipNoInsertion : public EAbZipException {
public:
    EAbZipNoInsertion();
};
class EAbZipInvalidFactor : public EAbZipException {
public:
    EAbZipInvalidFactor();
};
class EAbUserAbort : public EAbException {
public:
    EAbUserAbort();
};
class EAbArchiveBusy : public EAbException {
public:
    EAbArchiveBusy();
};
class EAbZipBadSpanStream : public EAbZipException {
public:
    EAbZipBadSpanStream();
};
class EAbZipSpanOverwrite : public EAbZipException {
public:
    EAbZipSpanOverwrite();
};
class EAbNoSuchDirectory : public EAbException {
public:
    EAbNoSuchDirectory();
};
// "Invalid Stream"; CreateInner adds a CR LF and the message of the error
// that caused it, and keeps that error (shared, so it outlives its handler).
// Called inside the handler of that error, the very object is kept, so its
// class and fields survive; elsewhere a copy of its message is kept.
class EAbBadStream : public EAbException {
public:
    EAbBadStream();
    static EAbBadStream CreateInner(const std::exception& Inner);
    std::exception_ptr InnerException() const { return FInnerException; }

private:
    std::exception_ptr FInnerException;
};
class EAbZipBadCRC : public EAbZipException {
public:
    EAbZipBadCRC();
};
class EAbFileNotFound : public EAbException {
public:
    EAbFileNotFound();
};
class EAbZipInvalidLFH : public EAbZipException {
public:
    EAbZipInvalidLFH();
};
class EAbNoArchive : public EAbException {
public:
    EAbNoArchive();
};
class EAbZipInvalid : public EAbZipException {
public:
    EAbZipInvalid();
};
class EAbReadError : public EAbZipException {
public:
    EAbReadError();
};
class EAbUnhandledType : public EAbException {
public:
    EAbUnhandledType();
};
class EAbSpanningNotSupported : public EAbException {
public:
    EAbSpanningNotSupported();
};
class EAbGzipInvalid : public EAbGzipException {
public:
    EAbGzipInvalid();
};
class EAbBBSSeekOutsideBuffer : public EAbZipException {
public:
    EAbBBSSeekOutsideBuffer();
};
class EAbBBSInvalidOrigin : public EAbZipException {
public:
    EAbBBSInvalidOrigin();
};
class EAbNoCabinetDll : public EAbCabException {
public:
    EAbNoCabinetDll();
};
class EAbGzipBadCRC : public EAbGzipException {
public:
    EAbGzipBadCRC();
};
class EAbGzipBadFileSize : public EAbGzipException {
public:
    EAbGzipBadFileSize();
};
class EAbTarInvalid : public EAbTarException {
public:
    EAbTarInvalid();
};
class EAbTarBadFileName : public EAbTarException {
public:
    EAbTarBadFileName();
};
class EAbTarBadLinkName : public EAbTarException {
public:
    EAbTarBadLinkName();
};
class EAbUnsafePath : public EAbException {
public:
    EAbUnsafePath();
};
class EAbZipDataTooLong : public EAbZipException {
public:
    EAbZipDataTooLong();
};
class EAbZipOverlap : public EAbZipException {
public:
    EAbZipOverlap();
};
class EAbZipAuthentication : public EAbZipException {
public:
    EAbZipAuthentication();
};
class EAbTarBadOp : public EAbTarException {
public:
    EAbTarBadOp();
};
class EAbBBSReadTooManyBytes : public EAbZipException {
public:
    explicit EAbBBSReadTooManyBytes(int64_t Count);
};
class EAbVMSInvalidOrigin : public EAbZipException {
public:
    explicit EAbVMSInvalidOrigin(int32_t Origin);
};
class EAbVMSErrorOpenSwap : public EAbZipException {
public:
    explicit EAbVMSErrorOpenSwap(const std::string& SwapFileName);
};
class EAbVMSSeekFail : public EAbZipException {
public:
    explicit EAbVMSSeekFail(const std::string& SwapFileName);
};
class EAbVMSReadFail : public EAbZipException {
public:
    EAbVMSReadFail(int64_t Count, const std::string& SwapFileName);
};
class EAbVMSWriteFail : public EAbZipException {
public:
    EAbVMSWriteFail(int64_t Count, const std::string& SwapFileName);
};

} // namespace kivo
