// Processes: starting programs, the "runas" relaunch through the system's
// elevation prompt, the shell's "open", waiting, exit codes and ending the
// current process.
//
// Exit codes are Windows codes of 32 bits. On Windows they travel as they
// are: the prompt is the shell's "runas" verb (ShellExecuteExW), whose
// refusal fails the start itself (1223), and the options below that exist
// for the result channel are ignored. POSIX exit statuses hold 8 bits: there
// a child started with a result channel gets, as its standard input, a
// private (unlinked) file that the parent made. The channel carries the
// parent's display settings to the child and the child's full 32-bit result
// back: TerminateCurrentProcess writes the result there before the process
// ends. The prompt program there is pkexec.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/UserInterface.h"

namespace kivo {

constexpr uint32_t STILL_ACTIVE = 259;
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_TIMEOUT = 258;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;
constexpr uint32_t INFINITE = 0xFFFFFFFF;
constexpr int SW_SHOWNORMAL = 1;

struct TStartOptions {
    // Hand the child a result channel (see above).
    bool ResultChannel = false;
    // Argv[0] is the elevation prompt program: its statuses 126 (prompt
    // dismissed) and 127 (not authorised) mean the program never ran, when
    // no result came back through the channel.
    bool PromptLauncher = false;
    // Settings written into the channel for the child (KEY, value).
    std::vector<std::pair<std::string, std::string>> ChannelSettings;
    // Working directory of the child; empty keeps the current one.
    std::string Directory;
};

// The system's number of a process.
using TProcessId = int;

// A started child process. Destroying the object never ends the process; on
// POSIX a process still running is reaped in the background when it ends.
class TChildProcess {
public:
    TChildProcess() = default;
    virtual ~TChildProcess() = default;
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    virtual TProcessId Pid() const = 0;
    // STILL_ACTIVE while the process runs; its exit code once it ended. False
    // when the state cannot be read. A finished process never reports 259.
    virtual bool GetExitCode(uint32_t& Code) = 0;
    // WAIT_OBJECT_0 when the process ended, WAIT_TIMEOUT, or WAIT_FAILED.
    // Sleeps in the kernel; never spins.
    virtual uint32_t WaitFor(uint32_t TimeoutMs) = 0;
    // After the end: non-zero (a Windows code) when the elevation prompt
    // refused and the program never ran: 1223 dismissed, 5 not authorised.
    // Always 0 on Windows, where a refusal fails the start.
    virtual uint32_t LaunchError() const = 0;
};

// Starts Argv[0] (a path) with the arguments Argv[1..] directly, no shell.
// On Windows the arguments are joined into one command line, each quoted so
// that the system's splitting (CommandLineToArgvW, which the runtime uses
// there) gives it back unchanged.
// On failure: nullptr, with the last-error value set to a Windows code.
std::unique_ptr<TChildProcess> StartProcess(const std::vector<std::string>& Argv,
                                            const TStartOptions& Options);

// The "runas" verb: starts File with Parameters (split by the runtime's
// command-line rules) with administrator rights. nullptr with the last error
// on failure (1223 on Windows when the user refused the prompt). Window is
// the parent for any user interface of the start.
class IElevator {
public:
    virtual ~IElevator() = default;
    virtual std::unique_ptr<TChildProcess>
    RunAs(const std::string& File, const std::string& Parameters, TWindowHandle Window) = 0;
};

// The system's elevator (ShellExecuteExW "runas" on Windows, pkexec on
// POSIX), unless a stand-in was installed.
IElevator& Elevator();
IElevator* SetElevator(IElevator* AElevator);

// The settings a relaunched copy needs to show its windows on the caller's
// display (DISPLAY, XAUTHORITY), as far as the caller has them; none on
// Windows, where the elevated copy shares the caller's desktop.
std::vector<std::pair<std::string, std::string>> DisplaySettings();

// The shell's "open" verb (ShellExecuteExW on Windows). On POSIX an
// executable file is started directly with its parameters split by the
// runtime's rules; a script without execute permission through the
// interpreter its "#!" line names; other files and folders through
// xdg-open; standard input of the started program is /dev/null. Result as
// the shell's: above 32 on success, else 2 (file not found), 3 (path not
// found, also for a missing Directory), 5 (access denied), 11 (bad format)
// or 31 (no program associated).
intptr_t ShellExecuteOpen(const std::string& File, const std::string& Parameters,
                          const std::string& Directory, int ShowCmd);
// The shell's "open" for a document or folder: hands File to the desktop's
// default application (xdg-open), also when File is a program, and does not
// wait for it; a program is never started. On Windows, where "open" would
// run a program, the folder holding the program is opened instead. Result
// as ShellExecuteOpen's.
intptr_t ShellOpenDocument(const std::string& File, const std::string& Directory);

// In a copy started with a result channel: applies the display settings the
// parent sent when the environment has no display of its own. Does nothing
// without a channel (always on Windows).
void AdoptParentDisplay();
// Whether this process was started with a result channel (never on Windows).
bool HasResultChannel();

// Ends the current process at once with ExitCode: no finalization, no
// destructors. On Windows the exit code is ExitCode itself. On POSIX the
// full code goes to the result channel when there is one; the 8-bit exit
// status is the code's low byte (1 when that is 0 for a non-zero code).
[[noreturn]] void TerminateCurrentProcess(uint32_t ExitCode);

} // namespace kivo
