#include "platform/FolderHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSystem.h"

namespace kivo {

namespace {

// A folder is opened only to reach names inside it: without read permission
// on the folder where the system allows that.
#ifdef O_PATH
constexpr int FolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

TEntryKind KindOfMode(mode_t Mode) {
    if (S_ISREG(Mode)) return ekFile;
    if (S_ISDIR(Mode)) return ekFolder;
    if (S_ISLNK(Mode)) return ekLink;
    return ekOther;
}

// One step of a walk: the folder Name inside Parent, made first when
// missing and Create is set. A link is never followed: O_NOFOLLOW refuses
// it, and the entry is looked at once more to tell a link from a file.
int OpenStep(int Parent, const std::string& Name, bool Create, bool& IsLink) {
    IsLink = false;
    int Fd = ::openat(Parent, Name.c_str(), FolderFlags | O_NOFOLLOW);
    if (Fd < 0 && errno == ENOENT && Create) {
        if (::mkdirat(Parent, Name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
        Fd = ::openat(Parent, Name.c_str(), FolderFlags | O_NOFOLLOW);
    }
    if (Fd >= 0) return Fd;
    const int Err = errno;
    struct stat St {};
    IsLink = ::fstatat(Parent, Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(St.st_mode);
    errno = Err;
    return -1;
}

} // namespace

void TFolderHandle::Close() {
    if (FHandle >= 0) ::close(FHandle);
    FHandle = -1;
}

TFolderHandle TFolderHandle::Open(const std::string& Path) {
    const std::string Name = Path.empty() ? std::string(".") : Path;
    const int Fd = ::open(Name.c_str(), FolderFlags);
    return TFolderHandle(Fd, Path, Fd < 0 ? errno : 0);
}

TFolderHandle TFolderHandle::Duplicate() const {
    if (FHandle < 0) return TFolderHandle(-1, FPath, FError);
    const int Fd = ::fcntl(FHandle, F_DUPFD_CLOEXEC, 0);
    return TFolderHandle(Fd, FPath, Fd < 0 ? errno : 0);
}

TEntryKind TFolderHandle::KindOf(const std::string& Name) const {
    struct stat St {};
    if (FHandle < 0 || ::fstatat(FHandle, Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) != 0)
        return ekNone;
    return KindOfMode(St.st_mode);
}

int TFolderHandle::MakeLink(const std::string& Name, const std::string& Target) const {
    if (FHandle < 0) return EBADF;
    if (KindOf(Name) == ekFolder) return EISDIR;
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        std::string Temp = ".";
        Temp.append(Name, 0, 64);
        Temp += ".link";
        Temp += std::to_string(Attempt);
        if (::symlinkat(Target.c_str(), FHandle, Temp.c_str()) != 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        if (::renameat(FHandle, Temp.c_str(), FHandle, Name.c_str()) == 0) return 0;
        const int Err = errno;
        (void)::unlinkat(FHandle, Temp.c_str(), 0);
        return Err;
    }
    return EEXIST;
}

bool TFolderHandle::SetLastWriteTime(TDateTime Value) const {
    if (FHandle < 0) return false;
    if (Value == 0.0) return true;
    timespec Times[2];
    Times[0].tv_sec = 0;
    Times[0].tv_nsec = UTIME_OMIT; // access time untouched
    Times[1].tv_sec = static_cast<time_t>(LocalDateTimeToUnix(Value));
    Times[1].tv_nsec = 0;
    // "." inside the folder is the folder itself, never a link.
    return ::utimensat(FHandle, ".", Times, 0) == 0;
}

bool TFolderHandle::SetReadOnly(bool ReadOnly) const {
    // A handle that only reaches names cannot change the folder: open it
    // once more through ".", which is the folder itself.
    const int Fd = FHandle < 0 ? -1 : ::openat(FHandle, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd < 0) return false;
    struct stat St {};
    bool Done = false;
    if (::fstat(Fd, &St) == 0) {
        mode_t Mode = St.st_mode & 07777;
        if (ReadOnly)
            Mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
        else
            Mode |= S_IWUSR;
        Done = ::fchmod(Fd, Mode) == 0;
    }
    ::close(Fd);
    return Done;
}

bool TFolderHandle::SetPermissions(uint32_t Mode) const {
    const int Fd = FHandle < 0 ? -1 : ::openat(FHandle, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd < 0) return false;
    const bool Done = ::fchmod(Fd, static_cast<mode_t>(Mode & 0777 & ~ProcessUmask())) == 0;
    ::close(Fd);
    return Done;
}

TFolderWalk OpenFolderBelow(const std::string& Base, std::string_view Relative, bool Create) {
    TFolderWalk Walk;
    TFolderHandle Current = TFolderHandle::Open(Base);
    if (!Current.Valid()) {
        Walk.Error = Current.Error();
        return Walk;
    }
    std::string Path = Base;
    size_t Start = 0;
    while (Start < Relative.size()) {
        size_t End = Relative.find(PathDelim, Start);
        if (End == std::string_view::npos) End = Relative.size();
        const std::string Name(Relative.substr(Start, End - Start));
        Start = End + 1;
        if (Name.empty() || Name == "." || Name == "..") {
            Walk.Error = EINVAL;
            return Walk;
        }
        bool IsLink = false;
        const int Fd = OpenStep(Current.Handle(), Name, Create, IsLink);
        if (Fd < 0) {
            Walk.CrossesLink = IsLink;
            Walk.Error = errno;
            return Walk;
        }
        Path = JoinPath(Path, Name);
        Current = TFolderHandle(Fd, Path, 0);
    }
    Walk.Folder = std::move(Current);
    return Walk;
}

} // namespace kivo
