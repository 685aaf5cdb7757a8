#include "tests/common/TestSystem.h"

#include <sys/stat.h>
#include <unistd.h>

namespace kivo::test {

unsigned NewFileMode() {
    const mode_t Mask = ::umask(0);
    ::umask(Mask);
    return 0666 & ~Mask;
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
