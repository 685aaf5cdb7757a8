// The running executable's path from the /proc file system.
#include <climits>
#include <unistd.h>

#include "runtime/OsProcess.h"

namespace kivo::os {

std::string ExecutableFileName() {
    char Buffer[PATH_MAX];
    const ssize_t N = ::readlink("/proc/self/exe", Buffer, sizeof Buffer - 1);
    return N > 0 ? std::string(Buffer, static_cast<size_t>(N)) : std::string();
}

bool CommandLineArguments(std::vector<std::string>&) {
    return false;
}

} // namespace kivo::os
