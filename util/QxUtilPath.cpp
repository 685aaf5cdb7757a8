#include "util/QxUtilPath.h"

#include "platform/FileSystem.h"
#include "platform/ShellFolders.h"

namespace kivo {

namespace {

// Folder + tail joined with the platform delimiter; empty for an unknown folder.
std::string JoinProfileTail(const std::string& Folder, const std::string& Tail) {
    if (Folder.empty()) return std::string();
    return IncludeTrailingPathDelimiter(Folder) + Tail;
}

} // namespace

std::string GetShellFolderPath(int Csidl) {
    return ShellFolderPath(Csidl);
}

std::string GetCommonDocumentsFolder() {
    return GetShellFolderPath(CSIDL_COMMON_DOCUMENTS);
}

std::string GetLocalAppDataFolder() {
    return GetShellFolderPath(CSIDL_LOCAL_APPDATA);
}

std::string GetPublicProfileFolder() {
    return JoinProfileTail(GetCommonDocumentsFolder(), "KIVO Profile");
}

std::string GetLocalProfileFolder() {
    return JoinProfileTail(GetLocalAppDataFolder(),
                           std::string("KIVO") + PathDelim + "KIVO Profile");
}

} // namespace kivo
