#include "tests/common/TestFiles.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kivo::test {

std::string MakeTempDir(const std::string& Prefix) {
    const char* Base = std::getenv("TMPDIR");
    std::string Template =
        std::string(Base != nullptr && *Base != '\0' ? Base : "/tmp") + "/" + Prefix + "XXXXXX";
    std::vector<char> Buf(Template.begin(), Template.end());
    Buf.push_back('\0');
    if (::mkdtemp(Buf.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed for " + Template);
    return Buf.data();
}

void RemoveTree(const std::string& Path) {
    struct stat St {};
    if (::lstat(Path.c_str(), &St) != 0) return;
    if (!S_ISDIR(St.st_mode)) {
        ::unlink(Path.c_str());
        return;
    }
    // A write-protected folder must become writable before its entries can go.
    ::chmod(Path.c_str(), 0700);
    if (DIR* D = ::opendir(Path.c_str())) {
        while (dirent* E = ::readdir(D)) {
            std::string Name = E->d_name;
            if (Name != "." && Name != "..") RemoveTree(Path + "/" + Name);
        }
        ::closedir(D);
    }
    ::rmdir(Path.c_str());
}

std::string ReadFile(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

bool WriteFile(const std::string& Path, const std::string& Data) {
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(Data.data(), static_cast<std::streamsize>(Data.size()));
    return static_cast<bool>(Out.flush());
}

std::vector<std::string> ListFolder(const std::string& Path) {
    std::vector<std::string> Names;
    if (DIR* D = ::opendir(Path.c_str())) {
        while (dirent* E = ::readdir(D)) {
            std::string Name = E->d_name;
            if (Name != "." && Name != "..") Names.push_back(Name);
        }
        ::closedir(D);
    }
    std::sort(Names.begin(), Names.end());
    return Names;
}

std::vector<std::string> TTempDir::List() const {
    return ListFolder(FPath);
}

} // namespace kivo::test
