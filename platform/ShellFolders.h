// The shell's known folders, mapped onto the XDG base and user directories.
#pragma once

#include <string>

namespace kivo {

constexpr int CSIDL_LOCAL_APPDATA = 28;
constexpr int CSIDL_COMMON_DOCUMENTS = 46;

// The current path of a known folder, without a trailing delimiter; empty
// for a folder this platform does not know.
//   CSIDL_COMMON_DOCUMENTS: the user's public-share folder (XDG_PUBLICSHARE_DIR
//                           from user-dirs.dirs, default ~/Public)
//   CSIDL_LOCAL_APPDATA:    $XDG_DATA_HOME (default ~/.local/share)
std::string ShellFolderPath(int Csidl);

} // namespace kivo
