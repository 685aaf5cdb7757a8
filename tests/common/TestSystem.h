// File-system facts that only some systems have, for tests that run on
// POSIX and Windows alike: the mode of new files, pipes, the hidden
// attribute and a device that is always full (permission bits and links
// are in TestFileStatus.h).
#pragma once

#include <string>
#include <vector>

namespace kivo::test {

#ifdef _WIN32
inline constexpr bool OnWindows = true;
#else
inline constexpr bool OnWindows = false;
#endif

// The mode a new file gets (0666 less the umask; 0666 on Windows).
unsigned NewFileMode();

// Makes a named pipe at Path; false where there are none in the file system.
bool MakeFifo(const std::string& Path);
// Gives Path the hidden attribute (on POSIX its leading dot is what hides it).
void MarkHidden(const std::string& Path);
// The command that runs Script with the system's shell (sh -c; cmd /c).
std::vector<std::string> ShellCommand(const std::string& Script);

// A device that accepts no byte ("/dev/full"); empty where there is none.
std::string FullDevice();

} // namespace kivo::test
