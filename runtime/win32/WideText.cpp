// Conversions between UTF-8 and UTF-16, API paths and error codes.
#include "runtime/win32/WideText.h"

#include <cerrno>
#include <windows.h>

namespace kivo::os {

std::wstring Utf8ToWide(std::string_view Text) {
    if (Text.empty()) return std::wstring();
    const int N =
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring Wide(static_cast<size_t>(N > 0 ? N : 0), L'\0');
    if (N > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Wide.data(),
                              N);
    return Wide;
}

std::string WideToUtf8(std::wstring_view Text) {
    if (Text.empty()) return std::string();
    const int N = ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string Narrow(static_cast<size_t>(N > 0 ? N : 0), '\0');
    if (N > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Narrow.data(),
                              N, nullptr, nullptr);
    return Narrow;
}

std::wstring ApiPath(std::string_view Path) {
    std::wstring Wide = Utf8ToWide(Path);
    for (wchar_t& C : Wide)
        if (C == L'/') C = L'\\';
    // Below the classic limit, or already in the extended form: as it is.
    if (Wide.size() < MAX_PATH - 12 || Wide.rfind(L"\\\\?\\", 0) == 0) return Wide;
    const DWORD N = ::GetFullPathNameW(Wide.c_str(), 0, nullptr, nullptr);
    if (N == 0) return Wide;
    std::wstring Full(N, L'\0');
    const DWORD Got = ::GetFullPathNameW(Wide.c_str(), N, Full.data(), nullptr);
    if (Got == 0 || Got >= N) return Wide;
    Full.resize(Got);
    if (Full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + Full.substr(2);
    return L"\\\\?\\" + Full;
}

int ErrnoOf(uint32_t WindowsError) {
    switch (WindowsError) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_PRIVILEGE_NOT_HELD: return EACCES;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_SHARING_VIOLATION: return EBUSY;
    case ERROR_LOCK_VIOLATION: return EWOULDBLOCK;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME: return EINVAL;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_BAD_EXE_FORMAT: return ENOEXEC;
    case ERROR_CANCELLED:
    case ERROR_OPERATION_ABORTED: return ECANCELED;
    case ERROR_NEGATIVE_SEEK: return EINVAL;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return EPIPE;
    default: return EIO;
    }
}

int LastErrno() {
    return ErrnoOf(::GetLastError());
}

} // namespace kivo::os
