// Privilege queries and the elevated self-relaunch protocol.
//
// A process without administrator rights runs one privileged action by
// starting a second copy of its own executable through the "runas" verb with
// "/" + ElevateSwitch and a parameter string on the command line. That copy
// recognises the switch while the program starts, before any window exists
// (CheckRunElevated), runs OnElevateProc with the parameter string and ends
// with the action's result as its exit code, which RunElevated returns.
#pragma once

#include <cstdint>
#include <string>

#include "platform/UserInterface.h"
#include "runtime/Application.h"

namespace kivo {

// The calling thread's effective token is an enabled administrator.
bool IsAdministrator();
// The Administrators group is among the token's groups in any state.
bool IsAdministratorAccount();
// The system has the elevation prompt and its policy switches it on.
bool IsUacEnabled();
// The token is elevated (without elevation support: IsAdministrator).
bool IsElevated();
// Puts the elevation shield on a button unless the process is elevated;
// true when it did.
bool SetElevationShield(TWindowHandle Button);

// The action an elevated copy runs: parameter string in, exit code out.
using TElevateProc = uint32_t (*)(const std::string& Parameters);
extern TElevateProc OnElevateProc;

// The switch that marks the elevated copy's command line ("/" + switch).
extern const char* const ElevateSwitch;

// Windows codes that travel between the two copies.
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_GEN_FAILURE = 31;
constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;
constexpr uint32_t ERROR_CANCELLED = 1223;

// Runs OnElevateProc(Parameters) with administrator rights: in this process
// when it is elevated, else in an elevated copy whose exit code is returned.
// Raises EOSError when the copy cannot be started (1223: prompt refused).
// With a MessagePump the wait calls it continually so that windows stay
// responsive.
uint32_t RunElevated(const std::string& Parameters, TWindowHandle Window,
                     const TMessagePump& MessagePump = nullptr);

// Called once while the program starts: returns when the switch is absent,
// else runs the action and ends the process with its exit code.
void CheckRunElevated();

// The parameter string rebuilt from the elevated copy's own arguments.
std::string CollectElevatedParams();
// Argument Index, enclosed in double quotes (inner ones doubled) when it
// holds a blank.
std::string QuoteParamIfSpaced(int Index);

} // namespace kivo
