// The install folders of the profile software, derived from the shell's known folders.
#pragma once

#include <string>

namespace kivo {

// The current path of a known folder (CSIDL value), without a trailing
// delimiter; empty when the folder cannot be determined.
std::string GetShellFolderPath(int Csidl);
std::string GetCommonDocumentsFolder(); // CSIDL_COMMON_DOCUMENTS
std::string GetLocalAppDataFolder();    // CSIDL_LOCAL_APPDATA

// "<common documents>/KIVO Profile" and "<local app data>/KIVO/KIVO Profile".
// Empty when the known folder itself cannot be determined, so that a caller
// never ends up with a folder directly below the file-system root.
std::string GetPublicProfileFolder();
std::string GetLocalProfileFolder();

} // namespace kivo
