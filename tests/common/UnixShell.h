// Unix programs for tests built for Windows and run under Wine. Wine starts
// a Unix program a Windows program asks for, but hands it no pipes and no
// process handle: these helpers pass its output and its exit status through
// files, and keep a server's input open while a marker file exists
// (win32/unix-child.sh). Windows build only (tests/common/win32/UnixShell.cpp).
#pragma once

#include <string>
#include <vector>

namespace kivo::test {

// UTF-8 as UTF-16, for the wide calls of the system.
std::wstring Wide(const std::string& Text);

// One argument as a command line carries it (the system's quoting rules).
std::wstring QuotedArgument(const std::string& Arg);

// Text in single quotes for the Unix shell.
std::string ShellQuoted(const std::string& Text);

// The Unix name of a Windows path (Wine's mapping); empty when there is none.
std::string UnixPath(const std::string& WindowsPath);

// Command with the Windows paths in it as Unix paths: every drive letter
// with ":/" that starts a word (after a blank, a quote or one of "=(<>|;&")
// becomes the Unix folder of the drive's root.
std::string UnixCommand(const std::string& Command);

class TUnixChild {
public:
    TUnixChild() = default;
    ~TUnixChild() { Stop(); }
    TUnixChild(const TUnixChild&) = delete;
    TUnixChild& operator=(const TUnixChild&) = delete;

    // Starts Argv (Unix paths) with its output in Dir/<Name>.out; false when
    // Wine could not start it.
    bool Start(const std::vector<std::string>& Argv, const std::string& Dir,
               const std::string& Name);
    // The first output line that starts with Prefix, without it; empty when
    // none came within TimeoutMs.
    std::string WaitForLine(const std::string& Prefix, int TimeoutMs) const;
    // Ends the program (its input closes, then it is killed).
    void Stop();
    // Leaves the program running past this object; removing the marker
    // Dir/<Name>.alive ends it.
    void Release() { FAlive.clear(); }

private:
    std::string FAlive, FOut;
};

// Runs a Unix command line through /bin/sh and waits up to TimeoutMs for it;
// true when it ended with status 0.
bool RunUnixShell(const std::string& Command, const std::string& Dir, int TimeoutMs = 30000);

// The same with the exit status: -1 when the shell could not be started or
// did not end within TimeoutMs. When Output is given, it receives what the
// command wrote to standard output (through Dir/shell.out). The status and
// output files are Dir's: one command at a time per folder.
int RunUnixShellStatus(const std::string& Command, const std::string& Dir, std::string* Output,
                       int TimeoutMs);

} // namespace kivo::test
