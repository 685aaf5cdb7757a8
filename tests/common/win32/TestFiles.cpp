// Temporary folders and whole files for tests, through the wide Win32 API
// (names are UTF-8 with '/' in the tests, as in the program).
#include "tests/common/TestFiles.h"

#include <algorithm>
#include <random>
#include <stdexcept>
#include <windows.h>

namespace kivo::test {

namespace {

std::wstring Wide(const std::string& Text) {
    const int N =
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring Result(static_cast<size_t>(N > 0 ? N : 0), L'\0');
    if (N > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Result.data(),
                              N);
    for (wchar_t& C : Result)
        if (C == L'/') C = L'\\';
    return Result;
}

std::string Narrow(const std::wstring& Text) {
    const int N = ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string Result(static_cast<size_t>(N > 0 ? N : 0), '\0');
    if (N > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Result.data(),
                              N, nullptr, nullptr);
    std::replace(Result.begin(), Result.end(), '\\', '/');
    return Result;
}

// A handle that closes itself.
struct TFile {
    HANDLE H;
    ~TFile() {
        if (H != INVALID_HANDLE_VALUE) ::CloseHandle(H);
    }
};

} // namespace

std::string MakeTempDir(const std::string& Prefix) {
    wchar_t Base[MAX_PATH + 2] = {};
    const DWORD N = ::GetTempPathW(MAX_PATH + 1, Base);
    if (N == 0 || N > MAX_PATH) throw std::runtime_error("no temporary folder");
    const std::string Folder = Narrow(std::wstring(Base, N));
    std::mt19937 Gen{std::random_device{}()};
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        const std::string Path = Folder + Prefix + std::to_string(Gen() % 100000000u);
        if (::CreateDirectoryW(Wide(Path).c_str(), nullptr)) return Path;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot make a temporary folder in " + Folder);
}

void RemoveTree(const std::string& Path) {
    const std::wstring W = Wide(Path);
    const DWORD Attr = ::GetFileAttributesW(W.c_str());
    if (Attr == INVALID_FILE_ATTRIBUTES) return;
    // Read-only entries must lose the attribute before they can go.
    ::SetFileAttributesW(W.c_str(), FILE_ATTRIBUTE_NORMAL | (Attr & FILE_ATTRIBUTE_DIRECTORY));
    if ((Attr & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::DeleteFileW(W.c_str());
        return;
    }
    // Links are removed, never followed.
    if ((Attr & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        for (const std::string& Name : ListFolder(Path))
            RemoveTree(Path + "/" + Name);
    }
    ::RemoveDirectoryW(W.c_str());
}

std::string ReadFile(const std::string& Path) {
    TFile F{::CreateFileW(Wide(Path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    std::string Data;
    if (F.H == INVALID_HANDLE_VALUE) return Data;
    char Buffer[65536];
    DWORD Got = 0;
    while (::ReadFile(F.H, Buffer, sizeof Buffer, &Got, nullptr) && Got > 0)
        Data.append(Buffer, Got);
    return Data;
}

bool WriteFile(const std::string& Path, const std::string& Data) {
    TFile F{::CreateFileW(Wide(Path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (F.H == INVALID_HANDLE_VALUE) return false;
    size_t Done = 0;
    while (Done < Data.size()) {
        DWORD Wrote = 0;
        const auto Chunk = static_cast<DWORD>(std::min<size_t>(Data.size() - Done, 1u << 30));
        if (!::WriteFile(F.H, Data.data() + Done, Chunk, &Wrote, nullptr) || Wrote == 0)
            return false;
        Done += Wrote;
    }
    return true;
}

std::vector<std::string> ListFolder(const std::string& Path) {
    std::vector<std::string> Names;
    WIN32_FIND_DATAW Found{};
    HANDLE Find = ::FindFirstFileW((Wide(Path) + L"\\*").c_str(), &Found);
    if (Find == INVALID_HANDLE_VALUE) return Names;
    do {
        const std::wstring Name = Found.cFileName;
        if (Name != L"." && Name != L"..") Names.push_back(Narrow(Name));
    } while (::FindNextFileW(Find, &Found));
    ::FindClose(Find);
    std::sort(Names.begin(), Names.end());
    return Names;
}

std::vector<std::string> TTempDir::List() const {
    return ListFolder(FPath);
}

} // namespace kivo::test
