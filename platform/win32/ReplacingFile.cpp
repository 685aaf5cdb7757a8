// The replacing file on Windows: the new file is created beside the target
// with CREATE_NEW and moved over it with MoveFileExW(MOVEFILE_REPLACE_EXISTING).
// A handle to the folder is held meanwhile, so the folder cannot be renamed
// or replaced between the two steps.
#include <windows.h>
// The file services below have names the Windows headers define as macros.
#undef DeleteFile

#include <cerrno>
#include <io.h>

#include "platform/FileSystem.h"
#include "platform/ReplacingFile.h"
#include "runtime/SysUtils.h"
#include "runtime/win32/WideText.h"

namespace kivo {

using os::ApiPath;

namespace {

HANDLE ApiHandle(int Fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(Fd));
}

// Whether the new file ends read-only: as the file it replaces, or as asked.
bool FinalReadOnly(const std::string& Target, TReplacingFileAccess Access) {
    if (Access != rfaKeep) return Access == rfaReadOnly;
    const DWORD A = ::GetFileAttributesW(ApiPath(Target).c_str());
    return A != INVALID_FILE_ATTRIBUTES && (A & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (A & FILE_ATTRIBUTE_READONLY) != 0;
}

// Removes a file even when it is read-only.
void RemoveFile(const std::string& Name) {
    const std::wstring Path = ApiPath(Name);
    ::SetFileAttributesW(Path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(Path.c_str());
}

} // namespace

int ReplaceRefusal(const TFolderHandle& Folder, const std::string& Name) {
    if (!Folder.Valid()) return 0; // nothing there to keep
    if (os::Utf8ToWide(Name).size() > MaxFileNameLength) return ENAMETOOLONG;
    if (Name.find_first_of("/\\:") != std::string::npos) return EINVAL;
    const std::wstring Path = ApiPath(JoinPath(Folder.Path(), Name));
    const DWORD A = ::GetFileAttributesW(Path.c_str());
    if (A == INVALID_FILE_ATTRIBUTES) {
        const int Err = os::LastErrno();
        return Err == ENOENT ? 0 : Err;
    }
    if ((A & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return 0; // the link is replaced, never followed
    if ((A & FILE_ATTRIBUTE_DIRECTORY) != 0) return EISDIR;
    if ((A & FILE_ATTRIBUTE_DEVICE) != 0) return EINVAL;
    // Read-only by its attributes: even a user who may write it keeps it.
    if ((A & FILE_ATTRIBUTE_READONLY) != 0) return EACCES;
    HANDLE H = ::CreateFileW(Path.c_str(), FILE_WRITE_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (H == INVALID_HANDLE_VALUE) return os::LastErrno();
    ::CloseHandle(H);
    return 0;
}

// A descriptor of its own for the folder Folder holds; -1 with the errno
// value in Error on failure.
namespace {

int DuplicateFolder(const TFolderHandle& Folder, int& Error) {
    HANDLE Copy = nullptr;
    const HANDLE Process = ::GetCurrentProcess();
    if (!::DuplicateHandle(Process, ApiHandle(Folder.Handle()), Process, &Copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        Error = os::LastErrno();
        return -1;
    }
    const int Fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(Copy), 0);
    if (Fd < 0) {
        ::CloseHandle(Copy);
        Error = EMFILE;
    }
    return Fd;
}

// Gives the open file the read-only attribute or takes it away; the handle
// keeps its write access, and a read-only file may still be moved over the
// target.
bool SetReadOnlyAttribute(HANDLE File, bool ReadOnly) {
    FILE_BASIC_INFO Info{};
    if (!::GetFileInformationByHandleEx(File, FileBasicInfo, &Info, sizeof Info)) return false;
    Info.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_READONLY);
    if (ReadOnly) Info.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    // No attribute left means "leave them": normal is how none is said.
    if (Info.FileAttributes == 0) Info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(File, FileBasicInfo, &Info, sizeof Info) != FALSE;
}

} // namespace

// Every new file is made under a hidden name here.
void SetUnnamedFiles(TUnnamedFiles) {}

void TReplacingFile::Create(const TFolderHandle& Folder, TReplacingFileAccess Access,
                            size_t BufferSize, TReplaceCheck Check) {
    FCheckAtCommit = Check == rcSeenAbsent;
    if (Check == rcRefusal) {
        if (const int Refusal = ReplaceRefusal(Folder, FName); Refusal != 0)
            throw EFCreateError(FTargetName, Refusal);
    }
    FReplaces = !FCheckAtCommit &&
                ::GetFileAttributesW(ApiPath(FTargetName).c_str()) != INVALID_FILE_ATTRIBUTES;
    // The folder stays held until the file is committed or discarded.
    int FolderError = 0;
    FFolder = DuplicateFolder(Folder, FolderError);
    if (FFolder < 0) throw EFCreateError(FTargetName, FolderError);
    DWORD Err = ERROR_SUCCESS;
    for (int Attempt = 0; Attempt < 100 && FHandle < 0; ++Attempt) {
        PickTempName();
        HANDLE H = ::CreateFileW(ApiPath(FTempName).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (H == INVALID_HANDLE_VALUE) {
            Err = ::GetLastError();
            if (Err != ERROR_FILE_EXISTS) break;
            continue;
        }
        FHandle = ::_open_osfhandle(reinterpret_cast<intptr_t>(H), 0);
        if (FHandle < 0) {
            ::CloseHandle(H);
            RemoveFile(FTempName);
            Err = ERROR_TOO_MANY_OPEN_FILES;
            break;
        }
    }
    if (FHandle < 0) {
        ::_close(FFolder);
        FFolder = -1;
        FTempName.clear();
        FTempLeaf.clear();
        throw EFCreateError(FTargetName, os::ErrnoOf(Err));
    }
    if (FinalReadOnly(FTargetName, Access)) SetReadOnlyAttribute(ApiHandle(FHandle), true);
    FBuffer.reserve(BufferSize);
}

// Windows files have no permission bits; the owner's write bit is the
// read-only attribute, as everywhere else on this system.
bool TReplacingFile::SetPermissions(uint32_t Mode) {
    if (FHandle < 0) return false;
    return SetReadOnlyAttribute(ApiHandle(FHandle), (Mode & 0200) == 0);
}

int64_t TReplacingFile::Seek(int64_t Offset, TSeekOrigin Origin) {
    if (Offset == 0 && Origin == soCurrent) return FPosition;
    Flush();
    const DWORD Method = Origin == soBeginning ? FILE_BEGIN
                         : Origin == soCurrent ? FILE_CURRENT
                                               : FILE_END;
    LARGE_INTEGER Distance, Result;
    Distance.QuadPart = Offset;
    if (!::SetFilePointerEx(ApiHandle(FHandle), Distance, &Result, Method)) return -1;
    FPosition = Result.QuadPart;
    return FPosition;
}

void TReplacingFile::Commit() {
    try {
        Flush();
        ApplyLastWriteTime();
        const int Fd = FHandle;
        FHandle = -1;
        if (::_close(Fd) != 0) throw EInOutError(EIO);
        if (FCheckAtCommit) {
            if (const int Refusal = ReplaceRefusal(FTargetName); Refusal != 0)
                throw EFCreateError(FTargetName, Refusal);
        }
        if (!::MoveFileExW(ApiPath(FTempName).c_str(), ApiPath(FTargetName).c_str(),
                           MOVEFILE_REPLACE_EXISTING))
            throw EFCreateError(FTargetName, os::LastErrno());
    } catch (...) {
        Discard();
        throw;
    }
    FCommitted = true;
    Discard();
}

void TReplacingFile::Discard() {
    FBuffer.clear();
    if (FHandle >= 0) {
        ::_close(FHandle);
        FHandle = -1;
    }
    if (!FCommitted && !FTempName.empty()) RemoveFile(FTempName);
    if (!FCommitted) {
        FTempLeaf.clear();
        FTempName.clear();
    }
    if (FFolder >= 0) {
        ::_close(FFolder);
        FFolder = -1;
    }
}

int64_t TReplacingFile::SpliceFrom(THandle /*Source*/, int64_t /*Count*/) {
    // The system has no copy between two open files inside the kernel: the
    // caller reads and writes the block itself.
    errno = ENOSYS;
    return -1;
}

void TReplacingFile::WriteThrough(const uint8_t* Data, size_t Count) {
    if (FHandle < 0) throw EInOutError(EBADF);
    while (Count > 0) {
        const auto Chunk = static_cast<DWORD>(Count > (1u << 30) ? (1u << 30) : Count);
        DWORD Done = 0;
        if (!::WriteFile(ApiHandle(FHandle), Data, Chunk, &Done, nullptr))
            throw EInOutError(os::LastErrno());
        if (Done == 0) throw EInOutError(ENOSPC);
        Data += Done;
        Count -= Done;
    }
}

void TReplacingFile::ApplyLastWriteTime() {
    if (FLastWriteTime == 0.0) return;
    const int64_t Ticks = LocalDateTimeToUnix(FLastWriteTime) * 10000000 + 116444736000000000LL;
    FILETIME Ft;
    Ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(Ticks) & 0xFFFFFFFFu);
    Ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(Ticks) >> 32);
    (void)::SetFileTime(ApiHandle(FHandle), nullptr, nullptr, &Ft);
}

} // namespace kivo
