// The running executable's path from the module table, the arguments from
// the wide command line.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include "runtime/OsProcess.h"
#include "runtime/win32/WideText.h"

namespace kivo::os {

std::string ExecutableFileName() {
    std::wstring Buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD N =
            ::GetModuleFileNameW(nullptr, Buffer.data(), static_cast<DWORD>(Buffer.size()));
        if (N == 0) return std::string();
        if (N < Buffer.size()) {
            Buffer.resize(N);
            std::string Path = WideToUtf8(Buffer);
            for (char& C : Path)
                if (C == '\\') C = '/';
            return Path;
        }
        Buffer.resize(Buffer.size() * 2);
    }
}

bool CommandLineArguments(std::vector<std::string>& Args) {
    int Count = 0;
    LPWSTR* List = ::CommandLineToArgvW(::GetCommandLineW(), &Count);
    if (List == nullptr) return false;
    Args.clear();
    for (int I = 0; I < Count; ++I)
        Args.push_back(WideToUtf8(List[I]));
    ::LocalFree(List);
    return true;
}

} // namespace kivo::os
