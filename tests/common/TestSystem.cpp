#include "tests/common/TestSystem.h"

#include <sys/stat.h>
#include <unistd.h>

namespace kivo::test {

std::optional<unsigned> PosixMode(const std::string& Path) {
    struct stat St {};
    if (::stat(Path.c_str(), &St) != 0) return std::nullopt;
    return static_cast<unsigned>(St.st_mode & 07777);
}

bool SetMode(const std::string& Path, unsigned Mode) {
    return ::chmod(Path.c_str(), static_cast<mode_t>(Mode)) == 0;
}

unsigned NewFileMode() {
    const mode_t Mask = ::umask(0);
    ::umask(Mask);
    return 0666 & ~Mask;
}

bool MakeSymlink(const std::string& Target, const std::string& Link, bool) {
    return ::symlink(Target.c_str(), Link.c_str()) == 0;
}

bool MakeFifo(const std::string& Path) {
    return ::mkfifo(Path.c_str(), 0600) == 0;
}

void MarkHidden(const std::string&) {}

std::vector<std::string> ShellCommand(const std::string& Script) {
    return {"/bin/sh", "-c", Script};
}

std::string FullDevice() {
    return ::access("/dev/full", W_OK) == 0 ? "/dev/full" : "";
}

} // namespace kivo::test
