// Facts about the running process that the runtime reads from the operating
// system, one implementation per system (runtime/posix/ProcessPath.cpp).
// Internal to the runtime: other modules use Application.
#pragma once

#include <string>

namespace kivo::os {

// Full path of the running executable; empty when the system cannot tell.
std::string ExecutableFileName();

} // namespace kivo::os
