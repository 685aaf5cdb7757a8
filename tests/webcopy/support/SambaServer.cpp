#include "support/SambaServer.h"

#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/TestSupport.h"
#include "tests/common/TestFiles.h"

extern char** environ;

namespace kivo::test {

namespace {

constexpr const char* Smbd = "/usr/sbin/smbd";

// Runs Argv with Input on its standard input and its output into Log; the
// exit status, or -1 when it cannot start. Background (Pid given): 0, the
// process id in Pid and the still open end of its input in Stdin, without
// waiting.
int Spawn(const std::vector<std::string>& Args, const std::string& Input, const std::string& Log,
          int* Pid = nullptr, int* Stdin = nullptr) {
    int In[2];
    if (::pipe(In) != 0) return -1;
    posix_spawn_file_actions_t A;
    posix_spawn_file_actions_init(&A);
    posix_spawn_file_actions_adddup2(&A, In[0], 0);
    posix_spawn_file_actions_addclose(&A, In[1]);
    posix_spawn_file_actions_addopen(&A, 1, Log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&A, 1, 2);
    std::vector<std::string> Copy = Args;
    std::vector<char*> Argv;
    for (auto& S : Copy)
        Argv.push_back(S.data());
    Argv.push_back(nullptr);
    pid_t Child = 0;
    const int Rc = posix_spawn(&Child, Argv[0], &A, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&A);
    ::close(In[0]);
    if (Rc != 0) {
        ::close(In[1]);
        return -1;
    }
    (void)!::write(In[1], Input.data(), Input.size());
    if (Pid != nullptr) {
        *Pid = Child;
        *Stdin = In[1];
        return 0;
    }
    ::close(In[1]);
    int Status = 0;
    ::waitpid(Child, &Status, 0);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

// The server's configuration; ROOT and PORT stand for the folder and port.
const char* const ConfigTemplate = R"([global]
  workgroup = KIVOTEST
  server role = standalone server
  smb ports = PORT
  interfaces = 127.0.0.1
  bind interfaces only = yes
  disable netbios = yes
  state directory = ROOT/state
  lock directory = ROOT/lock
  cache directory = ROOT/cache
  private dir = ROOT/private
  pid directory = ROOT/pid
  ncalrpc dir = ROOT/ncalrpc
  passdb backend = tdbsam:ROOT/private/passdb.tdb
  map to guest = never
  log file = ROOT/smbd.log
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
[files]
  path = ROOT/share
  read only = yes
)";

std::string Config(const std::string& Root, int Port) {
    std::string Text = ConfigTemplate;
    for (size_t P = Text.find("ROOT"); P != std::string::npos;
         P = Text.find("ROOT", P + Root.size()))
        Text.replace(P, 4, Root);
    Text.replace(Text.find("PORT"), 4, std::to_string(Port));
    return Text;
}

} // namespace

TSambaServer::TSambaServer() {
    if (::geteuid() != 0)
        FWhy = "smbd needs root to serve another account";
    else if (::access(Smbd, X_OK) != 0)
        FWhy = "smbd is not installed (scripts/setup)";
    else if (::getpwnam(SambaUser) == nullptr)
        FWhy = "the account kivotest is missing (scripts/test-accounts)";
    if (!FWhy.empty()) return;
    FRoot = MakeTempDir("kivo-smb-");
    if (!Start()) {
        FWhy =
            "smbd did not start: " + ReadFile(FRoot + "/spawn.log") + ReadFile(FRoot + "/smbd.log");
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
        FPid = -1;
    }
}

bool TSambaServer::Start() {
    // The account reads the shared folder through the temporary root.
    ::chmod(FRoot.c_str(), 0755);
    for (const char* Sub : {"state", "lock", "cache", "private", "pid", "ncalrpc", "share"})
        ::mkdir((FRoot + "/" + Sub).c_str(), 0755);
    FPort = ClosedPort();
    const std::string Conf = FRoot + "/smb.conf";
    if (!WriteFile(Conf, Config(FRoot, FPort))) return false;
    const std::string Log = FRoot + "/spawn.log";
    const std::string Twice = std::string(SambaPassword) + "\n" + SambaPassword + "\n";
    if (Spawn({"/usr/bin/pdbedit", "-s", Conf, "-a", "-u", SambaUser, "-t"}, Twice, Log) != 0)
        return false;
    // smbd in the foreground ends when its input closes, and in a process
    // group of its own, so that its end reaches no test.
    if (Spawn({Smbd, "--foreground", "-s", Conf}, "", Log, &FPid, &FStdin) != 0) return false;
    for (int I = 0; I < 300; ++I) {
        if (Accepts(FPort)) return true;
        if (::waitpid(FPid, nullptr, WNOHANG) == FPid) {
            FPid = -1;
            return false;
        }
        ::usleep(20000);
    }
    return false;
}

TSambaServer::~TSambaServer() {
    if (FStdin >= 0) ::close(FStdin);
    if (FPid > 0) {
        ::kill(FPid, SIGTERM);
        int Status = 0;
        bool Ended = false;
        for (int I = 0; I < 100 && !Ended; ++I) {
            Ended = ::waitpid(FPid, &Status, WNOHANG) == FPid;
            if (!Ended) ::usleep(20000);
        }
        if (!Ended) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, &Status, 0);
        }
    }
    if (!FRoot.empty()) RemoveTree(FRoot);
}

TSambaServer& Samba() {
    static TSambaServer Instance;
    return Instance;
}

} // namespace kivo::test
