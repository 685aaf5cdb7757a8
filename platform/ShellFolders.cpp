#include "platform/ShellFolders.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

#include "platform/FileSystem.h"

namespace kivo {

namespace {

std::string HomeDir() {
    const char* Home = std::getenv("HOME");
    if (Home != nullptr && Home[0] != '\0') return ExcludeTrailingPathDelimiter(Home);
    const passwd* Pw = ::getpwuid(::getuid());
    return Pw != nullptr && Pw->pw_dir != nullptr ? ExcludeTrailingPathDelimiter(Pw->pw_dir) : "";
}

std::string ConfigHome() {
    const char* Env = std::getenv("XDG_CONFIG_HOME");
    if (Env != nullptr && Env[0] == '/') return ExcludeTrailingPathDelimiter(Env);
    return HomeDir() + "/.config";
}

// The value of one entry of user-dirs.dirs: XDG_NAME_DIR="$HOME/Folder".
// Only "$HOME/..." and absolute values are valid there.
std::string UserDir(const std::string& Key, const std::string& Default) {
    std::ifstream In(ConfigHome() + "/user-dirs.dirs");
    std::string Line;
    const std::string Prefix = Key + "=";
    while (std::getline(In, Line)) {
        if (Line.compare(0, Prefix.size(), Prefix) != 0) continue;
        std::string Value = Line.substr(Prefix.size());
        if (Value.size() >= 2 && Value.front() == '"' && Value.back() == '"')
            Value = Value.substr(1, Value.size() - 2);
        if (Value.compare(0, 5, "$HOME") == 0) Value = HomeDir() + Value.substr(5);
        if (!Value.empty() && Value[0] == '/') return ExcludeTrailingPathDelimiter(Value);
    }
    return Default;
}

} // namespace

std::string ShellFolderPath(int Csidl) {
    switch (Csidl) {
    case CSIDL_COMMON_DOCUMENTS: {
        std::string Home = HomeDir();
        if (Home.empty()) return std::string();
        return UserDir("XDG_PUBLICSHARE_DIR", Home + "/Public");
    }
    case CSIDL_LOCAL_APPDATA: {
        const char* Env = std::getenv("XDG_DATA_HOME");
        if (Env != nullptr && Env[0] == '/') return ExcludeTrailingPathDelimiter(Env);
        std::string Home = HomeDir();
        return Home.empty() ? std::string() : Home + "/.local/share";
    }
    default: return std::string();
    }
}

} // namespace kivo
