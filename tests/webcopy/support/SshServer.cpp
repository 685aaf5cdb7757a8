#include "support/SshServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/TestSupport.h"

extern char** environ;

namespace kivo::test {

namespace {

bool Run(const std::vector<std::string>& Args) {
    return RunProgram(Args[0], std::vector<std::string>(Args.begin() + 1, Args.end())).Status == 0;
}

// The processes whose parent is Pid, and theirs, from /proc.
void Descendants(int Pid, std::vector<int>& Found) {
    DIR* D = ::opendir("/proc");
    if (D == nullptr) return;
    std::vector<int> Children;
    while (dirent* E = ::readdir(D)) {
        const int Child = std::atoi(E->d_name);
        if (Child <= 0) continue;
        std::string Stat = ReadFile("/proc/" + std::string(E->d_name) + "/stat");
        const size_t Close = Stat.rfind(')');
        if (Close == std::string::npos) continue;
        std::istringstream In(Stat.substr(Close + 2));
        std::string State;
        int Parent = 0;
        In >> State >> Parent;
        if (Parent == Pid) Children.push_back(Child);
    }
    ::closedir(D);
    for (int C : Children) {
        Found.push_back(C);
        Descendants(C, Found);
    }
}

} // namespace

TSshServer::TSshServer() {
    if (::geteuid() != 0) {
        FWhy = "the SSH test server needs root";
        return;
    }
    if (::access("/usr/sbin/sshd", X_OK) != 0 || ::getpwnam(SshUser) == nullptr ||
        ::getpwnam(SshKeyUser) == nullptr) {
        FWhy = "sshd or the test accounts are missing (run scripts/setup)";
        return;
    }
    FDir = MakeTempDir("kivo-sshd-");
    ::chmod(FDir.c_str(), 0755); // the accounts' sessions reach Files() through it
    ::mkdir((FDir + "/files").c_str(), 0777);
    ::chmod((FDir + "/files").c_str(), 0777);
    ::mkdir((FDir + "/authorized_keys").c_str(), 0755);
    ::mkdir("/run/sshd", 0755); // sshd's privilege separation folder
    const std::string KeyGen = "/usr/bin/ssh-keygen";
    if (!Run({KeyGen, "-q", "-t", "ed25519", "-N", "", "-f", FDir + "/host_key"}) ||
        !Run({KeyGen, "-q", "-t", "ed25519", "-N", "", "-f", FDir + "/other_key"}) ||
        !Run({KeyGen, "-q", "-t", "ed25519", "-N", "", "-f", UserKey()})) {
        FWhy = "ssh-keygen failed";
        return;
    }
    WriteFile(FDir + "/authorized_keys/" + SshKeyUser, ReadFile(UserKey() + ".pub"));
    ::chmod((FDir + "/authorized_keys/" + std::string(SshKeyUser)).c_str(), 0644);
    for (int Attempt = 0; Attempt < 3 && !Start(); ++Attempt) {
    }
    if (FPid <= 0) FWhy = "sshd did not start: " + Log();
}

bool TSshServer::Start() {
    FPort = ClosedPort();
    WriteFile(FDir + "/sshd_config", SshdConfig(FDir, FPort, "none"));
    const std::string Conf2 = FDir + "/sshd_config", LogFile = FDir + "/sshd.log";
    const char* Argv[] = {"/usr/sbin/sshd", "-D",   "-f", Conf2.c_str(), "-E",
                          LogFile.c_str(),  nullptr};
    pid_t Pid = 0;
    if (posix_spawn(&Pid, Argv[0], nullptr, nullptr, const_cast<char* const*>(Argv), environ) != 0)
        return false;
    FPid = Pid;
    for (int I = 0; I < 500; ++I) {
        int Status = 0;
        if (::waitpid(FPid, &Status, WNOHANG) == FPid) break;
        if (Accepts(FPort)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Kill();
    return false;
}

TSshServer::~TSshServer() {
    Kill();
    if (!FDir.empty()) RemoveTree(FDir);
}

void TSshServer::Kill() {
    if (FPid <= 0) return;
    std::vector<int> Processes;
    Descendants(FPid, Processes);
    ::kill(FPid, SIGKILL);
    for (int P : Processes)
        ::kill(P, SIGKILL);
    int Status = 0;
    ::waitpid(FPid, &Status, 0);
    FPid = -1;
}

std::string TSshServer::Fingerprint() const {
    return FingerprintOf(
        RunProgram("/usr/bin/ssh-keygen", {"-l", "-E", "sha256", "-f", FDir + "/host_key.pub"})
            .Out);
}

std::string TSshServer::RemoteFiles() const {
    return Files();
}

std::optional<unsigned> TSshServer::RemoteMode(const std::string& Name) const {
    struct stat St {};
    if (::stat((Files() + "/" + Name).c_str(), &St) != 0) return std::nullopt;
    return St.st_mode & 07777;
}

bool TSshServer::HashKnownHosts(const std::string& File) {
    return Run({"/usr/bin/ssh-keygen", "-H", "-f", File});
}

} // namespace kivo::test
