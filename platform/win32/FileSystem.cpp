// File-system services through the wide Win32 file APIs. Names are UTF-8
// with '/' inside the program; errors are left in errno as the nearest
// errno value, as the POSIX side does.
#include <windows.h>
// The file services below have names the Windows headers define as macros.
#undef DeleteFile

#include <algorithm>
#include <cerrno>
#include <random>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/win32/FileStatus.h"
#include "runtime/SysUtils.h"
#include "runtime/win32/WideText.h"

namespace kivo {

using os::ApiPath;

namespace {

constexpr int64_t UnixEpochTicks = 116444736000000000LL;

DWORD AttributesOf(const std::string& Name) {
    if (Name.empty()) return INVALID_FILE_ATTRIBUTES;
    return ::GetFileAttributesW(ApiPath(Name).c_str());
}

// A name as the API gives it, in the program's form: '/' between parts and
// no "\\?\" prefix.
std::string ProgramPath(std::wstring Wide) {
    if (Wide.rfind(L"\\\\?\\UNC\\", 0) == 0)
        Wide = L"\\\\" + Wide.substr(8);
    else if (Wide.rfind(L"\\\\?\\", 0) == 0)
        Wide = Wide.substr(4);
    std::string Path = os::WideToUtf8(Wide);
    for (char& C : Path)
        if (C == '\\') C = '/';
    return Path;
}

// Local TDateTime of a FILETIME (UTC), to the millisecond.
TDateTime LocalDateTimeOf(const FILETIME& Ft) {
    const int64_t Ticks =
        static_cast<int64_t>((static_cast<uint64_t>(Ft.dwHighDateTime) << 32) | Ft.dwLowDateTime) -
        UnixEpochTicks;
    const int64_t Seconds = Ticks >= 0 ? Ticks / 10000000 : -((-Ticks + 9999999) / 10000000);
    const int64_t Millis = (Ticks - Seconds * 10000000) / 10000;
    return UnixToLocalDateTime(Seconds) + static_cast<double>(Millis) / MSecsPerDay;
}

FILETIME FileTimeOfLocal(TDateTime Value) {
    const int64_t Ticks = LocalDateTimeToUnix(Value) * 10000000 + UnixEpochTicks;
    FILETIME Ft;
    Ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(Ticks) & 0xFFFFFFFFu);
    Ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(Ticks) >> 32);
    return Ft;
}

// A handle that closes itself.
struct THandleGuard {
    HANDLE H;
    explicit THandleGuard(HANDLE Handle) : H(Handle) {}
    ~THandleGuard() {
        if (Valid()) ::CloseHandle(H);
    }
    THandleGuard(const THandleGuard&) = delete;
    THandleGuard& operator=(const THandleGuard&) = delete;
    bool Valid() const { return H != INVALID_HANDLE_VALUE; }
};

// Opens Name (file or folder, links followed) for attribute work.
HANDLE OpenForAttributes(const std::string& Name, DWORD Access) {
    return ::CreateFileW(ApiPath(Name).c_str(), Access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool SetErrno() {
    errno = os::LastErrno();
    return false;
}

std::string RandomTag(size_t Length) {
    static const char Chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 Gen{std::random_device{}()};
    std::string Tag(Length, ' ');
    for (char& C : Tag)
        C = Chars[Gen() % 36];
    return Tag;
}

} // namespace

bool FileExists(const std::string& FileName) {
    const DWORD A = AttributesOf(FileName);
    return A != INVALID_FILE_ATTRIBUTES && (A & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& DirName) {
    const DWORD A = AttributesOf(DirName);
    return A != INVALID_FILE_ATTRIBUTES && (A & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& Name) {
    return AttributesOf(Name) != INVALID_FILE_ATTRIBUTES;
}

int64_t GetFileSize(const std::string& FileName) {
    TFileStatus Status;
    return GetFileStatus(FileName, Status) ? Status.Size : -1;
}

bool FileStatusOfHandle(void* Handle, TFileStatus& Status) {
    BY_HANDLE_FILE_INFORMATION Info{};
    if (!::GetFileInformationByHandle(Handle, &Info)) return SetErrno();
    Status.IsDirectory = (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    Status.IsRegular = !Status.IsDirectory && ::GetFileType(Handle) == FILE_TYPE_DISK;
    Status.IsReadOnly = (Info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    Status.Size =
        static_cast<int64_t>((static_cast<uint64_t>(Info.nFileSizeHigh) << 32) | Info.nFileSizeLow);
    Status.LastWriteTime = LocalDateTimeOf(Info.ftLastWriteTime);
    Status.Device = Info.dwVolumeSerialNumber;
    Status.FileId = (static_cast<uint64_t>(Info.nFileIndexHigh) << 32) | Info.nFileIndexLow;
    return true;
}

bool GetFileStatus(const std::string& Name, TFileStatus& Status) {
    if (Name.empty()) {
        errno = ENOENT;
        return false;
    }
    const THandleGuard File(OpenForAttributes(Name, FILE_READ_ATTRIBUTES));
    if (!File.Valid()) return SetErrno();
    return FileStatusOfHandle(File.H, Status);
}

bool CreateDir(const std::string& DirName) {
    return ::CreateDirectoryW(ApiPath(DirName).c_str(), nullptr) ? true : SetErrno();
}

bool ForceDirectories(const std::string& DirName) {
    // The parents are found at '/', so a name typed with '\' is taken apart
    // there too; a "\\?\" name keeps its prefix as it is.
    std::string Dir = DirName;
    if (!Dir.starts_with("\\\\?\\")) std::replace(Dir.begin(), Dir.end(), '\\', '/');
    Dir = ExcludeTrailingPathDelimiter(Dir);
    if (Dir.empty() || DirectoryExists(Dir)) return true;
    std::string Parent = ExtractFileDir(Dir);
    if (!Parent.empty() && Parent != Dir && !ForceDirectories(Parent)) return false;
    if (CreateDir(Dir) || DirectoryExists(Dir)) return true;
    // Something that is no folder stands where the folder should be.
    if (errno == EEXIST) errno = ENOTDIR;
    return false;
}

bool RemoveDir(const std::string& DirName) {
    return ::RemoveDirectoryW(ApiPath(DirName).c_str()) ? true : SetErrno();
}

bool DeleteFile(const std::string& FileName) {
    const DWORD A = AttributesOf(FileName);
    if (A != INVALID_FILE_ATTRIBUTES && (A & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (A & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        errno = EISDIR;
        return false;
    }
    return ::DeleteFileW(ApiPath(FileName).c_str()) ? true : SetErrno();
}

bool RenameFile(const std::string& OldName, const std::string& NewName) {
    return ::MoveFileExW(ApiPath(OldName).c_str(), ApiPath(NewName).c_str(),
                         MOVEFILE_REPLACE_EXISTING)
               ? true
               : SetErrno();
}

uint32_t FileGetAttr(const std::string& FileName) {
    const DWORD A = AttributesOf(FileName);
    if (A == INVALID_FILE_ATTRIBUTES) return faInvalid;
    const uint32_t Attr =
        A & (faReadOnly | faHidden | faSysFile | faDirectory | faArchive | faSymLink);
    return Attr == 0 ? faArchive : Attr;
}

bool FileSetAttr(const std::string& FileName, uint32_t Attr) {
    const DWORD A = AttributesOf(FileName);
    if (A == INVALID_FILE_ATTRIBUTES) return SetErrno();
    DWORD New = (A & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) | (Attr & faReadOnly);
    if (New == 0) New = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileAttributesW(ApiPath(FileName).c_str(), New) ? true : SetErrno();
}

bool FileIsWritable(const std::string& FileName) {
    const DWORD A = AttributesOf(FileName);
    if (A == INVALID_FILE_ATTRIBUTES || (A & FILE_ATTRIBUTE_READONLY) != 0) return false;
    const THandleGuard File(OpenForAttributes(FileName, FILE_WRITE_DATA));
    return File.Valid() || ::GetLastError() == ERROR_SHARING_VIOLATION;
}

TAppendResult AppendToFile(const std::string& FileName, std::string_view Bytes) {
    TAppendResult Result;
    const THandleGuard File(::CreateFileW(ApiPath(FileName).c_str(), FILE_APPEND_DATA,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!File.Valid()) {
        // A folder refuses the open as access denied; say what stands there.
        Result.Error = DirectoryExists(FileName) ? EISDIR : os::LastErrno();
        return Result;
    }
    Result.Opened = true;
    while (!Bytes.empty()) {
        DWORD Done = 0;
        const auto Count =
            static_cast<DWORD>(Bytes.size() > (1u << 30) ? (1u << 30) : Bytes.size());
        if (!::WriteFile(File.H, Bytes.data(), Count, &Done, nullptr) || Done == 0) {
            Result.Error = os::LastErrno();
            break;
        }
        Bytes.remove_prefix(Done);
    }
    return Result;
}

bool FileGetLastWriteTime(const std::string& FileName, TDateTime& Value) {
    TFileStatus Status;
    if (!GetFileStatus(FileName, Status)) return false;
    Value = Status.LastWriteTime;
    return true;
}

bool FileSetLastWriteTime(const std::string& FileName, TDateTime Value) {
    const THandleGuard File(OpenForAttributes(FileName, FILE_WRITE_ATTRIBUTES));
    const FILETIME Ft = FileTimeOfLocal(Value);
    if (!File.Valid() || !::SetFileTime(File.H, nullptr, nullptr, &Ft)) return SetErrno();
    return true;
}

std::string GetCurrentDir() {
    const DWORD N = ::GetCurrentDirectoryW(0, nullptr);
    if (N == 0) return std::string();
    std::wstring Buffer(N, L'\0');
    const DWORD Got = ::GetCurrentDirectoryW(N, Buffer.data());
    if (Got == 0 || Got >= N) return std::string();
    Buffer.resize(Got);
    return ProgramPath(Buffer);
}

std::string ExpandFileName(std::string_view FileName) {
    if (FileName.empty()) return GetCurrentDir();
    std::wstring Wide = os::Utf8ToWide(FileName);
    for (wchar_t& C : Wide)
        if (C == L'/') C = L'\\';
    const DWORD N = ::GetFullPathNameW(Wide.c_str(), 0, nullptr, nullptr);
    if (N == 0) return std::string(FileName);
    std::wstring Full(N, L'\0');
    const DWORD Got = ::GetFullPathNameW(Wide.c_str(), N, Full.data(), nullptr);
    if (Got == 0 || Got >= N) return std::string(FileName);
    Full.resize(Got);
    return ProgramPath(Full);
}

bool IsAbsolutePath(std::string_view Name) {
    const auto IsSlash = [](char C) { return C == '/' || C == '\\'; };
    if (!Name.empty() && IsSlash(Name[0])) return true;
    return Name.size() >= 3 && Name[1] == ':' && IsSlash(Name[2]) &&
           ((Name[0] >= 'A' && Name[0] <= 'Z') || (Name[0] >= 'a' && Name[0] <= 'z'));
}

std::string GetTempDirectory() {
    wchar_t Buffer[MAX_PATH + 2] = {};
    const DWORD N = ::GetTempPathW(MAX_PATH + 1, Buffer);
    if (N == 0 || N > MAX_PATH + 1) return "C:/Windows/Temp/";
    return IncludeTrailingPathDelimiter(ProgramPath(std::wstring(Buffer, N)));
}

std::string CreateTempFileName(const std::string& Dir, const std::string& Prefix, bool CreateIt) {
    const std::string Folder = IncludeTrailingPathDelimiter(Dir);
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        const std::string Name = Folder + Prefix + RandomTag(6);
        HANDLE H = ::CreateFileW(ApiPath(Name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (H == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            SetErrno();
            return std::string();
        }
        ::CloseHandle(H);
        // The caller wants a name only: give the name up again. The name was
        // unique when it was made; the caller creates the file exclusively.
        if (!CreateIt) ::DeleteFileW(ApiPath(Name).c_str());
        return Name;
    }
    errno = EEXIST;
    return std::string();
}

bool IsRemovablePath(const std::string& Path) {
    const std::wstring Wide = ApiPath(ExpandFileName(Path));
    wchar_t Volume[MAX_PATH + 1] = {};
    if (!::GetVolumePathNameW(Wide.c_str(), Volume, MAX_PATH + 1)) return false;
    return ::GetDriveTypeW(Volume) == DRIVE_REMOVABLE;
}

int64_t DiskFree(const std::string& Path) {
    ULARGE_INTEGER Free{};
    if (!::GetDiskFreeSpaceExW(ApiPath(Path).c_str(), &Free, nullptr, nullptr)) return -1;
    return static_cast<int64_t>(Free.QuadPart);
}

bool ListFolderNames(const std::string& DirName, std::vector<std::string>& Names) {
    Names.clear();
    const std::string Pattern = (DirName.empty() ? std::string(".") : DirName) + "/*";
    WIN32_FIND_DATAW Data{};
    const HANDLE Find = ::FindFirstFileW(ApiPath(Pattern).c_str(), &Data);
    if (Find == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) return true; // nothing, not even "."
        return SetErrno();
    }
    do {
        const std::string Name = os::WideToUtf8(Data.cFileName);
        if (Name != "." && Name != "..") Names.push_back(Name);
    } while (::FindNextFileW(Find, &Data));
    ::FindClose(Find);
    return true;
}

} // namespace kivo
