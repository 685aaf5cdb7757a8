// File status for tests through the wide Win32 API. Windows has no
// permission bits and no folder write bit; links need a privilege (or the
// developer mode) and are not there at all under Wine.
#include "tests/common/TestFileStatus.h"

#include <windows.h>
#include <winioctl.h>

#include "runtime/win32/WideText.h"

namespace kivo::test {

namespace {

using os::ApiPath;

// A handle that closes itself.
struct THandle {
    HANDLE H;
    ~THandle() {
        if (H != INVALID_HANDLE_VALUE) ::CloseHandle(H);
    }
};

// Opens Path for its attributes and times, the link itself when it is one.
HANDLE OpenForStatus(const std::string& Path, DWORD Access) {
    return ::CreateFileW(
        ApiPath(Path).c_str(), Access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// FILETIME counts 100 ns from 1601; Unix time seconds from 1970.
constexpr int64_t EpochDifference = 11644473600LL;

FILETIME FileTimeOf(int64_t UnixSeconds) {
    const auto Ticks = static_cast<uint64_t>((UnixSeconds + EpochDifference) * 10000000LL);
    return FILETIME{static_cast<DWORD>(Ticks), static_cast<DWORD>(Ticks >> 32)};
}

int64_t UnixSecondsOf(const FILETIME& Time) {
    const uint64_t Ticks = (uint64_t{Time.dwHighDateTime} << 32) | Time.dwLowDateTime;
    return static_cast<int64_t>(Ticks / 10000000ULL) - EpochDifference;
}

std::optional<WIN32_FILE_ATTRIBUTE_DATA> AttributesOf(const std::string& Path) {
    WIN32_FILE_ATTRIBUTE_DATA Data{};
    if (!::GetFileAttributesExW(ApiPath(Path).c_str(), GetFileExInfoStandard, &Data))
        return std::nullopt;
    return Data;
}

// The symbolic-link part of the reparse data FSCTL_GET_REPARSE_POINT returns.
struct TSymbolicLinkReparse {
    ULONG Tag;
    USHORT DataLength;
    USHORT Reserved;
    USHORT SubstituteNameOffset;
    USHORT SubstituteNameLength;
    USHORT PrintNameOffset;
    USHORT PrintNameLength;
    ULONG Flags;
    WCHAR PathBuffer[1];
};

} // namespace

bool IsReadOnly(const std::string& Path) {
    const auto Data = AttributesOf(Path);
    return Data && (Data->dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool SetReadOnly(const std::string& Path, bool ReadOnly) {
    const auto Data = AttributesOf(Path);
    if (!Data) return false;
    DWORD Attributes = Data->dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (ReadOnly) Attributes |= FILE_ATTRIBUTE_READONLY;
    return ::SetFileAttributesW(ApiPath(Path).c_str(), Attributes) != FALSE;
}

std::optional<unsigned> PermissionBits(const std::string&) {
    return std::nullopt;
}

bool SetPermissionBits(const std::string&, unsigned) {
    return false;
}

bool MakeSymbolicLink(const std::string& Target, const std::string& Name) {
    // A link to a folder must say so; a relative target counts from the
    // link's folder.
    const size_t Slash = Name.find_last_of('/');
    const bool Absolute = Target.size() > 1 && (Target[1] == ':' || Target[0] == '/');
    const std::string Resolved =
        Absolute || Slash == std::string::npos ? Target : Name.substr(0, Slash + 1) + Target;
    const auto Data = AttributesOf(Resolved);
    DWORD Flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (Data && (Data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        Flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    std::wstring WideTarget = os::Utf8ToWide(Target);
    for (wchar_t& C : WideTarget)
        if (C == L'/') C = L'\\';
    const std::wstring Link = ApiPath(Name);
    if (!::CreateSymbolicLinkW(Link.c_str(), WideTarget.c_str(), Flags)) return false;
    // Wine makes a link of the host's file system, which its Windows side
    // sees as the file or folder linked to, not as a reparse point: of no
    // use to a test of links.
    const DWORD Made = ::GetFileAttributesW(Link.c_str());
    if (Made != INVALID_FILE_ATTRIBUTES && (Made & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
    if ((Flags & SYMBOLIC_LINK_FLAG_DIRECTORY) != 0)
        ::RemoveDirectoryW(Link.c_str());
    else
        ::DeleteFileW(Link.c_str());
    return false;
}

std::optional<std::string> LinkTarget(const std::string& Path) {
    THandle File{OpenForStatus(Path, 0)};
    if (File.H == INVALID_HANDLE_VALUE) return std::nullopt;
    alignas(ULONG) char Buffer[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
    DWORD Got = 0;
    if (!::DeviceIoControl(File.H, FSCTL_GET_REPARSE_POINT, nullptr, 0, Buffer, sizeof Buffer, &Got,
                           nullptr))
        return std::nullopt;
    const auto* Link = reinterpret_cast<const TSymbolicLinkReparse*>(Buffer);
    if (Link->Tag != IO_REPARSE_TAG_SYMLINK) return std::nullopt;
    std::wstring Target(Link->PathBuffer + Link->PrintNameOffset / sizeof(WCHAR),
                        Link->PrintNameLength / sizeof(WCHAR));
    std::string Result = os::WideToUtf8(Target);
    for (char& C : Result)
        if (C == '\\') C = '/';
    return Result;
}

bool IsPlainFile(const std::string& Path) {
    const DWORD Attributes = ::GetFileAttributesW(ApiPath(Path).c_str());
    return Attributes != INVALID_FILE_ATTRIBUTES &&
           (Attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool SetFileTimes(const std::string& Path, std::optional<int64_t> Access,
                  std::optional<int64_t> Write) {
    THandle File{OpenForStatus(Path, FILE_WRITE_ATTRIBUTES)};
    if (File.H == INVALID_HANDLE_VALUE) return false;
    const FILETIME A = FileTimeOf(Access.value_or(0));
    const FILETIME W = FileTimeOf(Write.value_or(0));
    return ::SetFileTime(File.H, nullptr, Access ? &A : nullptr, Write ? &W : nullptr) != FALSE;
}

std::optional<int64_t> FileAccessTime(const std::string& Path) {
    const auto Data = AttributesOf(Path);
    if (!Data) return std::nullopt;
    return UnixSecondsOf(Data->ftLastAccessTime);
}

std::optional<int64_t> FileWriteTime(const std::string& Path) {
    const auto Data = AttributesOf(Path);
    if (!Data) return std::nullopt;
    return UnixSecondsOf(Data->ftLastWriteTime);
}

bool DenyWriting(const std::string&) {
    return false;
}

void AllowWriting(const std::string&) {}

} // namespace kivo::test
