// File-system facts that only some systems have, for tests that run on
// POSIX and Windows alike: permission bits, links, pipes, the hidden
// attribute and a device that is always full.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kivo::test {

#ifdef _WIN32
inline constexpr bool OnWindows = true;
#else
inline constexpr bool OnWindows = false;
#endif

// The permission bits (07777) of Path; nullopt on Windows, which has none,
// or when Path cannot be read.
std::optional<unsigned> PosixMode(const std::string& Path);
// Sets the permission bits; on Windows only the owner's write bit counts,
// as the read-only attribute.
bool SetMode(const std::string& Path, unsigned Mode);
// The mode a new file gets (0666 less the umask; 0666 on Windows).
unsigned NewFileMode();

// Makes Link a symbolic link to Target (a relative target is taken from
// the link's folder); false when the system cannot (Wine pretends to, so
// the link's presence is checked).
bool MakeSymlink(const std::string& Target, const std::string& Link, bool ToFolder);
// Makes a named pipe at Path; false where there are none in the file system.
bool MakeFifo(const std::string& Path);
// Gives Path the hidden attribute (on POSIX its leading dot is what hides it).
void MarkHidden(const std::string& Path);
// The command that runs Script with the system's shell (sh -c; cmd /c).
std::vector<std::string> ShellCommand(const std::string& Script);

// A device that accepts no byte ("/dev/full"); empty where there is none.
std::string FullDevice();

} // namespace kivo::test
