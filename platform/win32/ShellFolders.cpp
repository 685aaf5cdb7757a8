// The shell's known folders through SHGetFolderPathW.
#include "platform/ShellFolders.h"

#include <shlobj.h>
#include <windows.h>

#include "runtime/win32/WideText.h"

namespace kivo {

std::string ShellFolderPath(int Csidl) {
    if (Csidl != CSIDL_LOCAL_APPDATA && Csidl != CSIDL_COMMON_DOCUMENTS) return std::string();
    wchar_t Buffer[MAX_PATH + 1] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, Csidl, nullptr, SHGFP_TYPE_CURRENT, Buffer)))
        return std::string();
    std::string Path = os::WideToUtf8(Buffer);
    for (char& C : Path)
        if (C == '\\') C = '/';
    while (Path.size() > 3 && Path.back() == '/')
        Path.pop_back();
    return Path;
}

} // namespace kivo
