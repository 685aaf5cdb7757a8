// Servers of the web copy tests under Wine: the test program (a Windows
// program) starts the same Unix servers as the Linux tests through Wine,
// which runs a Unix program it is asked to start but hands it no pipes and
// no process handle. unix-child.sh bridges that: it keeps the server's input
// open while a marker file exists and writes its output to a file.
#pragma once

#include <string>
#include <vector>

namespace kivo::test {

// UTF-8 as UTF-16, for the wide calls of the system.
std::wstring Wide(const std::string& Text);

// One argument as a command line carries it (the system's quoting rules).
std::wstring QuotedArgument(const std::string& Arg);

// The Unix name of a Windows path (Wine's mapping); empty when there is none.
std::string UnixPath(const std::string& WindowsPath);

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

} // namespace kivo::test
