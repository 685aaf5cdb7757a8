// Process-wide services of the runtime: the message pump hook and the
// program's command-line arguments with the runtime's splitting rules.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kivo {

// "Process pending window messages": runs the installed pump once. A GUI
// installs a pump that processes its pending events; without one this does
// nothing.
using TMessagePump = std::function<void()>;
void SetMessagePump(TMessagePump Pump);
void ProcessMessages();

// Splits a command-line string the way the runtime splits its own command
// line: arguments are separated by characters at or below ' ' (so tabs act
// as blanks); a double quote starts a quoted section that runs to the next
// double quote, both quotes removed; empty quoted pairs before an argument
// are skipped.
std::vector<std::string> SplitCommandLine(std::string_view CommandLine);

// The program's arguments: index 0 is the executable, 1.. the parameters.
void SetProgramArguments(int Argc, const char* const* Argv);
void SetProgramArguments(std::vector<std::string> Args);
int ParamCount();
std::string ParamStr(int Index);

// Full path of the running executable (from /proc/self/exe).
std::string ExecutablePath();

} // namespace kivo
