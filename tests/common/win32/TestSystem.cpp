// Windows has the read-only attribute where POSIX has permission bits, and
// no named pipes or full device in the file system.
#include "tests/common/TestSystem.h"

#include <windows.h>

namespace kivo::test {

namespace {

std::wstring Wide(const std::string& Text) {
    const int N = ::MultiByteToWideChar(CP_UTF8, 0, Text.c_str(), -1, nullptr, 0);
    std::wstring Result(static_cast<size_t>(N > 0 ? N : 1), L'\0');
    if (N > 0) ::MultiByteToWideChar(CP_UTF8, 0, Text.c_str(), -1, Result.data(), N);
    Result.pop_back();
    for (wchar_t& C : Result)
        if (C == L'/') C = L'\\';
    return Result;
}

} // namespace

unsigned NewFileMode() {
    return 0666;
}

bool MakeFifo(const std::string&) {
    return false;
}

void MarkHidden(const std::string& Path) {
    const std::wstring W = Wide(Path);
    const DWORD A = ::GetFileAttributesW(W.c_str());
    if (A != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(W.c_str(), A | FILE_ATTRIBUTE_HIDDEN);
}

std::vector<std::string> ShellCommand(const std::string& Script) {
    wchar_t Folder[MAX_PATH + 1] = {};
    const UINT N = ::GetSystemDirectoryW(Folder, MAX_PATH + 1);
    char Dir[4 * (MAX_PATH + 1)] = {};
    if (N > 0 && N <= MAX_PATH)
        ::WideCharToMultiByte(CP_UTF8, 0, Folder, -1, Dir, sizeof Dir, nullptr, nullptr);
    return {std::string(Dir) + "\\cmd.exe", "/c", Script};
}

std::string FullDevice() {
    return std::string();
}

} // namespace kivo::test
