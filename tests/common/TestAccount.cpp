#include "tests/common/TestAccount.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/common/TestFiles.h"

extern char** environ;

namespace kivo::test {

std::vector<std::string> OwnArguments() {
    const std::string All = ReadFile("/proc/self/cmdline");
    std::vector<std::string> Args;
    size_t P = 0;
    while (P < All.size()) {
        size_t End = All.find('\0', P);
        if (End == std::string::npos) End = All.size();
        Args.push_back(All.substr(P, End - P));
        P = End + 1;
    }
    return Args;
}

bool ProcessIsPrivileged() {
    return ::geteuid() == 0;
}

bool RunsUnderWine() {
    return false;
}

bool ElevatorAsksNobody() {
    return false;
}

std::optional<uint32_t> RunUnprivileged(const std::vector<std::string>& Argv, std::string& Why) {
    std::vector<std::string> Command;
    TTempDir BinDir;
    if (::geteuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0) {
            Why = "setpriv is missing: cannot drop to an unprivileged user";
            return std::nullopt;
        }
        // A private copy of the program that the unprivileged user may run,
        // wherever the build tree lives.
        const std::string Copy = BinDir / "program";
        if (!WriteFile(Copy, ReadFile(Argv[0])) || ::chmod(Copy.c_str(), 0755) != 0 ||
            ::chmod(BinDir.Path().c_str(), 0755) != 0) {
            Why = "cannot copy " + Argv[0];
            return std::nullopt;
        }
        Command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", Copy};
        Command.insert(Command.end(), Argv.begin() + 1, Argv.end());
    } else {
        Command = Argv;
    }
    std::vector<char*> Args;
    for (std::string& A : Command)
        Args.push_back(A.data());
    Args.push_back(nullptr);
    pid_t Pid = 0;
    int Status = 0;
    if (::posix_spawn(&Pid, Args[0], nullptr, nullptr, Args.data(), environ) != 0 ||
        ::waitpid(Pid, &Status, 0) != Pid || !WIFEXITED(Status)) {
        Why = "cannot run " + Command[0];
        return std::nullopt;
    }
    return static_cast<uint32_t>(WEXITSTATUS(Status));
}

bool ElevationPromptIsOn() {
    for (const char* Dir : {"/usr/bin", "/bin", "/usr/local/bin"})
        if (::access((std::string(Dir) + "/pkexec").c_str(), X_OK) == 0) return true;
    return false;
}

} // namespace kivo::test
