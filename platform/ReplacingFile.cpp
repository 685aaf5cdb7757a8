#include "platform/ReplacingFile.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/FileSystem.h"
#include "runtime/SysUtils.h"

namespace kivo {

namespace {

// The roads to new files without a name still open in this process: a
// system that refuses to name them closes that road for the files after.
std::atomic<uint8_t> UnnamedFiles{ufAllowed};
// Whether linkat refused to name a file by its descriptor alone (it needs a
// privilege on older systems): /proc is then used straight away.
std::atomic<bool> LinkByDescriptorRefused{false};

// The permission bits the new file ends with: those of the regular file it
// replaces (Replaced, null where there is none), else those of a new file.
// Set-user-ID, set-group-ID and sticky bits never pass to new contents.
mode_t FinalMode(const struct stat* Replaced, mode_t Created, TReplacingFileAccess Access) {
    const bool HasFile = Replaced != nullptr && S_ISREG(Replaced->st_mode);
    mode_t Mode = (HasFile ? Replaced->st_mode : Created) & 0777;
    if (Access == rfaReadOnly) Mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    if (Access == rfaWritable) Mode |= S_IWUSR;
    return Mode;
}

// ReplaceRefusal's answer from one look at the entry Name in Folder: St
// when Found, else the errno value of the look.
int RefusalOf(int Folder, const std::string& Name, bool Found, const struct stat& St,
              int LookupError) {
    if (!Found) return LookupError == ENOENT ? 0 : LookupError;
    if (S_ISLNK(St.st_mode)) return 0; // the link is replaced, never followed
    if (S_ISDIR(St.st_mode)) return EISDIR;
    if (!S_ISREG(St.st_mode)) return EINVAL;
    // Read-only by its attributes: even a user who may write it keeps it.
    if ((St.st_mode & S_IWUSR) == 0) return EACCES;
    return ::faccessat(Folder, Name.c_str(), W_OK, 0) == 0 ? 0 : errno;
}

} // namespace

void SetUnnamedFiles(TUnnamedFiles Value) {
    UnnamedFiles.store(Value);
}

int ReplaceRefusal(const TFolderHandle& Folder, const std::string& Name) {
    if (!Folder.Valid()) return 0; // nothing there to keep
    struct stat St {};
    const bool Found = ::fstatat(Folder.Handle(), Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) == 0;
    return RefusalOf(Folder.Handle(), Name, Found, St, Found ? 0 : errno);
}

void TReplacingFile::Create(const TFolderHandle& Folder, TReplacingFileAccess Access,
                            size_t BufferSize, TReplaceCheck Check) {
    // Both files are reached through a handle of their own to the folder, so
    // the rename happens where the file was made.
    FFolder = ::fcntl(Folder.Handle(), F_DUPFD_CLOEXEC, 0);
    if (FFolder < 0) throw EFCreateError(FTargetName, errno);
    // One look at the target serves the refusal, the road and the permissions.
    struct stat Existing {};
    FCheckAtCommit = Check == rcSeenAbsent;
    const bool Found =
        !FCheckAtCommit && ::fstatat(FFolder, FName.c_str(), &Existing, AT_SYMLINK_NOFOLLOW) == 0;
    const int LookupError = Found ? 0 : FCheckAtCommit ? ENOENT : errno;
    FReplaces = Found;
    int Err = Check == rcRefusal ? RefusalOf(FFolder, FName, Found, Existing, LookupError) : 0;
#ifdef O_TMPFILE
    if (Err == 0 && !Found && LookupError == ENOENT && UnnamedFiles.load() != ufNotCreated) {
        // The permissions of a new file follow the process's umask.
        FHandle = ::openat(FFolder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (FHandle >= 0) {
            FUnnamed = true;
            FTempName = "/proc/self/fd/" + std::to_string(FHandle);
        }
    }
#endif
    if (Err == 0 && FHandle < 0) {
        FHandle = CreateNamed();
        if (FHandle < 0) Err = errno;
    }
    if (Err != 0) {
        ::close(FFolder);
        FFolder = -1;
        throw EFCreateError(FTargetName, Err);
    }
    struct stat Created {};
    if (::fstat(FHandle, &Created) == 0) {
        FMode = Created.st_mode & 07777;
        const mode_t Mode = FinalMode(Found ? &Existing : nullptr, Created.st_mode, Access);
        if (Mode != FMode && ::fchmod(FHandle, Mode) == 0) FMode = Mode;
    }
    FBuffer.reserve(BufferSize);
}

int TReplacingFile::CreateNamed() {
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        PickTempName();
        // The permissions of a new file follow the process's umask.
        const int Fd = ::openat(FFolder, FTempLeaf.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (Fd >= 0) return Fd;
        if (errno != EEXIST) break;
    }
    const int Err = errno;
    FTempLeaf.clear();
    FTempName.clear();
    errno = Err;
    return -1;
}

int TReplacingFile::LinkUnnamed(const std::string& Leaf) {
    if (UnnamedFiles.load() == ufNotNameable) return EPERM;
    // Through the descriptor itself where this user may, else through its
    // entry in /proc.
    if (!LinkByDescriptorRefused.load()) {
        if (::linkat(FHandle, "", FFolder, Leaf.c_str(), AT_EMPTY_PATH) == 0) return 0;
        if (errno == EEXIST) return EEXIST;
        if (errno == ENOENT || errno == EPERM) LinkByDescriptorRefused.store(true);
    }
    const std::string Entry = "/proc/self/fd/" + std::to_string(FHandle);
    if (::linkat(AT_FDCWD, Entry.c_str(), FFolder, Leaf.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    return errno;
}

void TReplacingFile::CheckLateRefusal() {
    if (!FCheckAtCommit) return;
    struct stat St {};
    const bool Found = ::fstatat(FFolder, FName.c_str(), &St, AT_SYMLINK_NOFOLLOW) == 0;
    if (const int Err = RefusalOf(FFolder, FName, Found, St, Found ? 0 : errno); Err != 0)
        throw EFCreateError(FTargetName, Err);
}

bool TReplacingFile::NameUnnamed() {
    FUnnamed = false;
    int Err = LinkUnnamed(FName);
    if (Err == 0) {
        FTempName.clear();
        return true;
    }
    if (Err == EEXIST) {
        // Something took the target's name meanwhile: the file gets a hidden
        // name and is renamed over it, as a file that replaces one is.
        for (int Attempt = 0; Attempt < 100 && Err == EEXIST; ++Attempt) {
            PickTempName();
            Err = LinkUnnamed(FTempLeaf);
        }
        if (Err == 0) return false;
        FTempLeaf.clear();
        FTempName.clear();
    }
    // The system will not name it: its data go into a file with a hidden
    // name, and the files after this one take that road from the start.
    const int Unnamed = FHandle;
    FHandle = CreateNamed();
    if (FHandle < 0) {
        const int CreateError = errno;
        FHandle = Unnamed;
        throw EFCreateError(FTargetName, CreateError);
    }
    try {
        std::vector<uint8_t> Block(65536);
        for (off_t At = 0;;) {
            const ssize_t N = ::pread(Unnamed, Block.data(), Block.size(), At);
            if (N < 0 && errno == EINTR) continue;
            if (N < 0) throw EInOutError(errno);
            if (N == 0) break;
            WriteThrough(Block.data(), static_cast<size_t>(N));
            At += N;
        }
        (void)::fchmod(FHandle, static_cast<mode_t>(FMode));
        ApplyLastWriteTime();
    } catch (...) {
        ::close(Unnamed);
        throw;
    }
    ::close(Unnamed);
    uint8_t Allowed = ufAllowed;
    UnnamedFiles.compare_exchange_strong(Allowed, ufNotCreated);
    return false;
}

bool TReplacingFile::SetPermissions(uint32_t Mode) {
    if (FHandle < 0) return false;
    const auto Wanted = static_cast<mode_t>(Mode & 0777 & ~ProcessUmask());
    if (Wanted == FMode) return true;
    if (::fchmod(FHandle, Wanted) != 0) return false;
    FMode = Wanted;
    return true;
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
        // A file without a name gets the target's name in one step where
        // that is free; otherwise it is renamed over the target below.
        const bool Named = FUnnamed && NameUnnamed();
        if (!Named) CheckLateRefusal();
        const int Fd = FHandle;
        FHandle = -1;
        if (::close(Fd) != 0 && errno != EINTR) {
            const int Err = errno;
            if (Named) (void)::unlinkat(FFolder, FName.c_str(), 0); // nothing was there
            throw EInOutError(Err);
        }
        if (!Named && ::renameat(FFolder, FTempLeaf.c_str(), FFolder, FName.c_str()) != 0)
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
