// Processes: starting programs, the "runas" relaunch through the system's
// elevation prompt (pkexec), the shell's "open", waiting, exit codes and
// ending the current process.
//
// Exit codes are Windows codes of 32 bits; POSIX exit statuses hold 8. A
// child started with a result channel gets, as its standard input, a private
// (unlinked) file that the parent made. The channel carries the parent's
// display settings to the child and the child's full 32-bit result back:
// TerminateCurrentProcess writes the result there before the process ends.
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

// A started child process. Destroying the object never ends the process; a
// process still running is reaped in the background when it ends.
class TChildProcess {
public:
    TChildProcess(TProcessId APid, int AChannelFd, bool APromptLauncher);
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    TProcessId Pid() const { return FPid; }
    // STILL_ACTIVE while the process runs; its exit code once it ended. False
    // when the state cannot be read. A finished process never reports 259.
    bool GetExitCode(uint32_t& Code);
    // WAIT_OBJECT_0 when the process ended, WAIT_TIMEOUT, or WAIT_FAILED.
    // Sleeps in the kernel; never spins.
    uint32_t WaitFor(uint32_t TimeoutMs);
    // After the end: non-zero (a Windows code) when the elevation prompt
    // refused and the program never ran: 1223 dismissed, 5 not authorised.
    uint32_t LaunchError() const { return FLaunchError; }

private:
    bool Reap(bool Block);
    void Finish(int Status);

    TProcessId FPid;
    int FPidFd = -1;
    int FChannelFd;
    bool FPromptLauncher;
    bool FEnded = false;
    bool FReapFailed = false;
    uint32_t FExitCode = 31;
    uint32_t FLaunchError = 0;
};

// Starts Argv[0] (a path) with the arguments Argv[1..] directly, no shell.
// On failure: nullptr, with the last-error value set to a Windows code.
std::unique_ptr<TChildProcess> StartProcess(const std::vector<std::string>& Argv,
                                            const TStartOptions& Options);

// The "runas" verb: starts File with Parameters (split by the runtime's
// command-line rules) with administrator rights. nullptr with the last error
// on failure. Window is the parent for any user interface of the start.
class IElevator {
public:
    virtual ~IElevator() = default;
    virtual std::unique_ptr<TChildProcess>
    RunAs(const std::string& File, const std::string& Parameters, TWindowHandle Window) = 0;
};

// The system's elevator (pkexec), unless a stand-in was installed.
IElevator& Elevator();
IElevator* SetElevator(IElevator* AElevator);

// The settings a relaunched copy needs to show its windows on the caller's
// display (DISPLAY, XAUTHORITY), as far as the caller has them.
std::vector<std::pair<std::string, std::string>> DisplaySettings();

// The shell's "open" verb. An executable file is started directly with its
// parameters split by the runtime's rules; a script without execute
// permission through the interpreter its "#!" line names; other files and
// folders through xdg-open. Standard input of the started program is
// /dev/null. Result as the shell's: above 32 on success, else 2 (file not
// found), 3 (path not found), 5 (access denied), 11 (bad format) or 31 (no
// program associated).
intptr_t ShellExecuteOpen(const std::string& File, const std::string& Parameters,
                          const std::string& Directory, int ShowCmd);
// The shell's "open" for a document or folder: hands File to the desktop's
// default application (xdg-open), also when File is a program, and does not
// wait for it. Result as ShellExecuteOpen's.
intptr_t ShellOpenDocument(const std::string& File, const std::string& Directory);

// In a copy started with a result channel: applies the display settings the
// parent sent when the environment has no display of its own. Does nothing
// without a channel.
void AdoptParentDisplay();
// Whether this process was started with a result channel.
bool HasResultChannel();

// Ends the current process at once with ExitCode: no finalization, no
// destructors. The full code goes to the result channel when there is one;
// the 8-bit exit status is the code's low byte (1 when that is 0 for a
// non-zero code).
[[noreturn]] void TerminateCurrentProcess(uint32_t ExitCode);

} // namespace kivo
