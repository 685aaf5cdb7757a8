#include "tools/UnzipMessages.h"

#include <cerrno>

#include "archive/AbBzip2.h"
#include "archive/AbExcept.h"
#include "runtime/Classes.h"
#include "runtime/SysUtils.h"

namespace kivo::tools {

std::string EnglishErrno(int Code) {
    switch (Code) {
    case ENOENT: return "no such file or folder";
    case EACCES:
    case EPERM: return "permission denied";
    case EROFS: return "the file system is read-only";
    case ENOSPC: return "no space left on the device";
#ifdef EDQUOT // Windows' C runtime has no number for it
    case EDQUOT: return "disk quota exceeded";
#endif
    case EISDIR: return "a folder is in the way";
    case ENOTDIR: return "a file is in the way of a folder";
    case EEXIST: return "it exists already";
    case ENAMETOOLONG: return "the name is too long for the file system";
    case EINVAL: return "the name is not allowed here";
    case EIO: return "input/output error";
    case EMFILE:
    case ENFILE: return "too many open files";
    case ENOMEM: return "out of memory";
    case ELOOP: return "too many levels of symbolic links";
    case EFBIG: return "the file is too large for the file system";
    case ETXTBSY: return "the file is busy";
    default: return "system error " + std::to_string(Code);
    }
}

std::string EnglishCause(const std::exception& E) {
    if (const auto* Io = dynamic_cast<const EInOutError*>(&E)) return EnglishErrno(Io->ErrorCode);
    if (const auto* Create = dynamic_cast<const EFCreateError*>(&E))
        return "cannot create the file: " + EnglishErrno(Create->OsErrorCode);
    if (const auto* Open = dynamic_cast<const EFOpenError*>(&E))
        return "cannot open the file: " + EnglishErrno(Open->OsErrorCode);
    if (dynamic_cast<const EReadError*>(&E) != nullptr)
        return "the data ends early (the archive is cut short or damaged)";
    if (dynamic_cast<const EWriteError*>(&E) != nullptr) return "the data cannot be written";
    if (dynamic_cast<const EBZCompressionError*>(&E) != nullptr ||
        dynamic_cast<const EBZDecompressionError*>(&E) != nullptr)
        return std::string("damaged bzip2 data (") + E.what() + ")";
    if (const auto* Os = dynamic_cast<const EOSError*>(&E))
        return "system error " + std::to_string(Os->ErrorCode);
    // The engine's own texts are English; a nested one keeps its first line.
    std::string Text = E.what();
    if (const size_t Break = Text.find("\r\n"); Break != std::string::npos)
        Text = Text.substr(Break + 2);
    return Text;
}

std::string EnglishCause(TAbErrorClass ErrorClass, int32_t ErrorCode) {
    if (ErrorClass == ecInOutError) return EnglishErrno(ErrorCode);
    if (ErrorClass == ecMorvanta) {
        switch (ErrorCode) {
        case AbErrZipVersion: return EAbZipVersion().Message();
        case AbErrZipInvalidMethod: return EAbZipInvalidMethod().Message();
        case AbErrZipInvalidPassword: return EAbZipInvalidPassword().Message();
        case AbErrUserAbort: return EAbUserAbort().Message();
        case AbErrBadStream: return EAbBadStream().Message();
        case AbErrZipBadCRC: return EAbZipBadCRC().Message();
        case AbErrZipInvalidLFH: return EAbZipInvalidLFH().Message();
        case AbErrZipInvalid: return EAbZipInvalid().Message();
        case AbErrUnsafePath: return EAbUnsafePath().Message();
        case AbErrZipAuthentication: return EAbZipAuthentication().Message();
        default: break;
        }
    }
    return "failed (error class " + std::to_string(static_cast<int>(ErrorClass)) + ", code " +
           std::to_string(ErrorCode) + ")";
}

} // namespace kivo::tools
