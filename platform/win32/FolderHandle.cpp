// Open folders through CreateFileW. A folder is held open without the
// delete share, so while the handle lives the folder cannot be renamed,
// moved or replaced: a name below it, looked up by path, stays inside it.
// A walk takes each step from the held folder before it and refuses any
// reparse point (symbolic link or junction).
#include <windows.h>
// The file services below have names the Windows headers define as macros.
#undef DeleteFile

#include <cerrno>
#include <io.h>

#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "runtime/SysUtils.h"
#include "runtime/win32/WideText.h"

namespace kivo {

using os::ApiPath;

namespace {

constexpr DWORD FolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD FolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Opens the folder at Path; NoFollow opens a reparse point itself instead of
// its target. -1 with errno set on failure.
int OpenFolder(const std::string& Path, bool NoFollow, bool& IsLink) {
    IsLink = false;
    const DWORD Flags = FILE_FLAG_BACKUP_SEMANTICS | (NoFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE H = ::CreateFileW(ApiPath(Path).c_str(), FolderAccess, FolderShare, nullptr,
                             OPEN_EXISTING, Flags, nullptr);
    if (H == INVALID_HANDLE_VALUE) {
        errno = os::LastErrno();
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION Info{};
    int Error = 0;
    if (!::GetFileInformationByHandle(H, &Info))
        Error = os::LastErrno();
    else if (NoFollow && (Info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        Error = ELOOP;
    else if ((Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        Error = ENOTDIR;
    IsLink = Error == ELOOP;
    const int Fd = Error != 0 ? -1 : ::_open_osfhandle(reinterpret_cast<intptr_t>(H), 0);
    if (Fd < 0) {
        ::CloseHandle(H);
        errno = Error != 0 ? Error : EMFILE;
    }
    return Fd;
}

// A name that stays one entry of the folder: no separator of either kind
// and no drive or stream colon.
bool IsPlainName(const std::string& Name) {
    return !Name.empty() && Name != "." && Name != ".." &&
           Name.find_first_of("/\\:") == std::string::npos;
}

FILETIME FileTimeOfLocal(TDateTime Value) {
    const int64_t Ticks = LocalDateTimeToUnix(Value) * 10000000 + 116444736000000000LL;
    FILETIME Ft;
    Ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(Ticks) & 0xFFFFFFFFu);
    Ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(Ticks) >> 32);
    return Ft;
}

} // namespace

void TFolderHandle::Close() {
    if (FHandle >= 0) ::_close(FHandle);
    FHandle = -1;
}

TFolderHandle TFolderHandle::Open(const std::string& Path) {
    bool IsLink = false;
    const int Fd = OpenFolder(Path.empty() ? std::string(".") : Path, false, IsLink);
    return TFolderHandle(Fd, Path, Fd < 0 ? errno : 0);
}

TFolderHandle TFolderHandle::Duplicate() const {
    if (FHandle < 0) return TFolderHandle(-1, FPath, FError);
    HANDLE Copy = nullptr;
    const HANDLE Process = ::GetCurrentProcess();
    if (!::DuplicateHandle(Process, reinterpret_cast<HANDLE>(::_get_osfhandle(FHandle)), Process,
                           &Copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return TFolderHandle(-1, FPath, os::LastErrno());
    const int Fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(Copy), 0);
    if (Fd < 0) ::CloseHandle(Copy);
    return TFolderHandle(Fd, FPath, Fd < 0 ? EMFILE : 0);
}

TEntryKind TFolderHandle::KindOf(const std::string& Name) const {
    if (FHandle < 0 || !IsPlainName(Name)) return ekNone;
    const DWORD A = ::GetFileAttributesW(ApiPath(JoinPath(FPath, Name)).c_str());
    if (A == INVALID_FILE_ATTRIBUTES) return ekNone;
    if ((A & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return ekLink;
    if ((A & FILE_ATTRIBUTE_DIRECTORY) != 0) return ekFolder;
    if ((A & FILE_ATTRIBUTE_DEVICE) != 0) return ekOther;
    return ekFile;
}

bool TFolderHandle::SetLastWriteTime(TDateTime Value) const {
    if (FHandle < 0) return false;
    if (Value == 0.0) return true;
    HANDLE H = ::CreateFileW(ApiPath(FPath.empty() ? std::string(".") : FPath).c_str(),
                             FILE_WRITE_ATTRIBUTES, FolderShare | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (H == INVALID_HANDLE_VALUE) return false;
    const FILETIME Ft = FileTimeOfLocal(Value);
    const bool Done = ::SetFileTime(H, nullptr, nullptr, &Ft) != FALSE;
    ::CloseHandle(H);
    return Done;
}

bool TFolderHandle::SetReadOnly(bool ReadOnly) const {
    if (FHandle < 0) return false;
    const std::wstring Path = ApiPath(FPath.empty() ? std::string(".") : FPath);
    const DWORD A = ::GetFileAttributesW(Path.c_str());
    if (A == INVALID_FILE_ATTRIBUTES) return false;
    const DWORD New = ReadOnly ? (A | FILE_ATTRIBUTE_READONLY) : (A & ~FILE_ATTRIBUTE_READONLY);
    return ::SetFileAttributesW(Path.c_str(), New) != FALSE;
}

// Windows folders have no permission bits, and their read-only attribute
// does not keep anyone from writing in them: nothing to apply.
bool TFolderHandle::SetPermissions(uint32_t) const {
    return FHandle >= 0;
}

int TFolderHandle::MakeLink(const std::string& Name, const std::string& Target) const {
    if (FHandle < 0) return EBADF;
    if (!IsPlainName(Name)) return EINVAL;
    if (KindOf(Name) == ekFolder) return EISDIR;
    const std::string Dir = FPath.empty() ? std::string(".") : FPath;
    std::wstring WideTarget = os::Utf8ToWide(Target);
    for (wchar_t& C : WideTarget)
        if (C == L'/') C = L'\\';
    // A link to a folder must say so when it is made.
    const bool Absolute = Target.starts_with('/') || (Target.size() > 1 && Target[1] == ':');
    const DWORD TargetAttributes =
        ::GetFileAttributesW(ApiPath(Absolute ? Target : Dir + "/" + Target).c_str());
    DWORD Flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (TargetAttributes != INVALID_FILE_ATTRIBUTES &&
        (TargetAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        Flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    // A new link beside the name, moved over whatever file or link is there.
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        const std::wstring Temp =
            ApiPath(Dir + "/." + Name.substr(0, 64) + ".link" + std::to_string(Attempt));
        if (!::CreateSymbolicLinkW(Temp.c_str(), WideTarget.c_str(), Flags)) {
            if (::GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return os::LastErrno();
        }
        if (::MoveFileExW(Temp.c_str(), ApiPath(Dir + "/" + Name).c_str(),
                          MOVEFILE_REPLACE_EXISTING))
            return 0;
        const int Err = os::LastErrno();
        if ((Flags & SYMBOLIC_LINK_FLAG_DIRECTORY) != 0)
            ::RemoveDirectoryW(Temp.c_str());
        else
            ::DeleteFileW(Temp.c_str());
        return Err;
    }
    return EEXIST;
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
        if (!IsPlainName(Name)) {
            Walk.Error = EINVAL;
            return Walk;
        }
        const std::string Next = JoinPath(Path, Name);
        if (Create && !::CreateDirectoryW(ApiPath(Next).c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            Walk.Error = os::LastErrno();
            return Walk;
        }
        bool IsLink = false;
        const int Fd = OpenFolder(Next, true, IsLink);
        if (Fd < 0) {
            Walk.CrossesLink = IsLink;
            Walk.Error = errno;
            return Walk;
        }
        Path = Next;
        Current = TFolderHandle(Fd, Path, 0);
    }
    Walk.Folder = std::move(Current);
    return Walk;
}

} // namespace kivo
