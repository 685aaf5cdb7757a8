// The account and the command line of the test process itself, as the
// system reports them, for tests of the privilege queries and the elevated
// relaunch.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kivo::test {

// This process's arguments as the system has them, program first.
std::vector<std::string> OwnArguments();

// The process runs with full administrator rights (root; an elevated
// administrator on Windows), as the system's own check says.
bool ProcessIsPrivileged();

// The tests run under Wine, whose tokens differ from Windows' own: its
// limited token keeps the Administrators group enabled where Windows makes
// it deny-only.
bool RunsUnderWine();

// A copy of this program can be started with administrator rights without
// anybody being asked: through the elevator the system offers (Wine grants
// "runas" at once; pkexec and a real elevation prompt ask).
bool ElevatorAsksNobody();

// Runs Argv (the program's path first) without administrator rights (as
// "nobody" when this process is root; with the account's limited token when
// it is elevated) and waits for it: its exit code, or nullopt with Why set
// when it cannot be started that way here.
std::optional<uint32_t> RunUnprivileged(const std::vector<std::string>& Argv, std::string& Why);

// The system's elevation prompt is switched on (pkexec installed; the UAC
// policy value on Windows).
bool ElevationPromptIsOn();

} // namespace kivo::test
