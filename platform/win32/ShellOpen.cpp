// Stand-in for the shell's "open" until the Windows process service lands:
// hands the document to the shell and does not wait.
#include "platform/Process.h"
// The service's header comes first: the system's headers define macros with
// the names of its constants.
#include <windows.h>
// The shell's header needs the base one first.
#include <shellapi.h>

#include "runtime/win32/WideText.h"

namespace kivo {

intptr_t ShellOpenDocument(const std::string& File, const std::string& Directory) {
    const std::wstring Name = os::Utf8ToWide(File), Folder = os::Utf8ToWide(Directory);
    return reinterpret_cast<intptr_t>(::ShellExecuteW(nullptr, L"open", Name.c_str(), nullptr,
                                                      Folder.empty() ? nullptr : Folder.c_str(),
                                                      SW_SHOWNORMAL));
}

} // namespace kivo
