// Facts about the running process that the runtime reads from the operating
// system, one implementation per system (runtime/posix/ProcessPath.cpp).
// Internal to the runtime: other modules use Application.
#pragma once

#include <string>
#include <vector>

namespace kivo::os {

// Full path of the running executable; empty when the system cannot tell.
std::string ExecutableFileName();
// The program's arguments as the system keeps them, in UTF-8, the program's
// name first. False where the C runtime's argv already is that list.
bool CommandLineArguments(std::vector<std::string>& Args);

} // namespace kivo::os
