#include "platform/ReplacingFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "runtime/SysUtils.h"

namespace kivo {

namespace {

// The permission bits the new file ends with: those of the regular file it
// replaces, else those of a new file. Set-user-ID, set-group-ID and sticky
// bits never pass to new contents.
mode_t FinalMode(int Folder, const std::string& Name, mode_t Created, TReplacingFileAccess Access) {
    struct stat Replaced {};
    const bool HasFile = ::fstatat(Folder, Name.c_str(), &Replaced, AT_SYMLINK_NOFOLLOW) == 0 &&
                         S_ISREG(Replaced.st_mode);
    mode_t Mode = (HasFile ? Replaced.st_mode : Created) & 0777;
    if (Access == rfaReadOnly) Mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    if (Access == rfaWritable) Mode |= S_IWUSR;
    return Mode;
}

} // namespace

int ReplaceRefusal(const TFolderHandle& Folder, const std::string& Name) {
    if (!Folder.Valid()) return 0; // nothing there to keep
    struct stat St {};
    if (::fstatat(Folder.Handle(), Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : errno;
    if (S_ISLNK(St.st_mode)) return 0; // the link is replaced, never followed
    if (S_ISDIR(St.st_mode)) return EISDIR;
    if (!S_ISREG(St.st_mode)) return EINVAL;
    // Read-only by its attributes: even a user who may write it keeps it.
    if ((St.st_mode & S_IWUSR) == 0) return EACCES;
    return ::faccessat(Folder.Handle(), Name.c_str(), W_OK, 0) == 0 ? 0 : errno;
}

void TReplacingFile::Create(const TFolderHandle& Folder, TReplacingFileAccess Access,
                            size_t BufferSize) {
    // Both files are reached through a handle of their own to the folder, so
    // the rename happens where the file was made.
    FFolder = ::fcntl(Folder.Handle(), F_DUPFD_CLOEXEC, 0);
    if (FFolder < 0) throw EFCreateError(FTargetName, errno);
    for (int Attempt = 0; Attempt < 100 && FHandle < 0; ++Attempt) {
        PickTempName();
        // The permissions of a new file follow the process's umask.
        FHandle = ::openat(FFolder, FTempLeaf.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (FHandle < 0 && errno != EEXIST) break;
    }
    if (FHandle < 0) {
        const int Err = errno;
        ::close(FFolder);
        FFolder = -1;
        FTempName.clear();
        throw EFCreateError(FTargetName, Err);
    }
    struct stat Created {};
    if (::fstat(FHandle, &Created) == 0) {
        const mode_t Mode = FinalMode(FFolder, FName, Created.st_mode, Access);
        if (Mode != (Created.st_mode & 07777)) (void)::fchmod(FHandle, Mode);
    }
    FBuffer.reserve(BufferSize);
}

bool TReplacingFile::SetPermissions(uint32_t Mode) {
    if (FHandle < 0) return false;
    return ::fchmod(FHandle, static_cast<mode_t>(Mode & 0777 & ~ProcessUmask())) == 0;
}

int64_t TReplacingFile::Seek(int64_t Offset, TSeekOrigin Origin) {
    if (Offset == 0 && Origin == soCurrent) return FPosition;
    Flush();
    const int Whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t R = ::lseek(FHandle, static_cast<off_t>(Offset), Whence);
    if (R < 0) return -1;
    FPosition = R;
    return FPosition;
}

void TReplacingFile::Commit() {
    try {
        Flush();
        ApplyLastWriteTime();
        const int Fd = FHandle;
        FHandle = -1;
        if (::close(Fd) != 0 && errno != EINTR) throw EInOutError(errno);
        if (::renameat(FFolder, FTempLeaf.c_str(), FFolder, FName.c_str()) != 0)
            throw EFCreateError(FTargetName, errno);
    } catch (...) {
        Discard();
        throw;
    }
    FCommitted = true;
}

void TReplacingFile::Discard() {
    FBuffer.clear();
    if (FHandle >= 0) {
        ::close(FHandle);
        FHandle = -1;
    }
    if (!FCommitted && !FTempLeaf.empty() && FFolder >= 0) {
        ::unlinkat(FFolder, FTempLeaf.c_str(), 0);
        FTempLeaf.clear();
        FTempName.clear();
    }
    if (FFolder >= 0) {
        ::close(FFolder);
        FFolder = -1;
    }
}

int64_t TReplacingFile::SpliceFrom(THandle Source, int64_t Count) {
    if (FHandle < 0 || Count < 0) {
        errno = EBADF;
        return -1;
    }
    Flush();
    ssize_t N = 0;
    do {
        N = ::copy_file_range(Source, nullptr, FHandle, nullptr, static_cast<size_t>(Count), 0);
    } while (N < 0 && errno == EINTR);
    if (N > 0) FPosition += N;
    return N;
}

void TReplacingFile::WriteThrough(const uint8_t* Data, size_t Count) {
    if (FHandle < 0) throw EInOutError(EBADF);
    while (Count > 0) {
        const ssize_t N = ::write(FHandle, Data, Count);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) throw EInOutError(N < 0 ? errno : ENOSPC);
        Data += N;
        Count -= static_cast<size_t>(N);
    }
}

void TReplacingFile::ApplyLastWriteTime() {
    if (FLastWriteTime == 0.0) return;
    timespec Times[2];
    Times[0].tv_sec = 0;
    Times[0].tv_nsec = UTIME_OMIT; // access time untouched
    Times[1].tv_sec = static_cast<time_t>(LocalDateTimeToUnix(FLastWriteTime));
    Times[1].tv_nsec = 0;
    (void)::futimens(FHandle, Times);
}

} // namespace kivo
