#include "support/FtpTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TestSupport.h"
#include "tests/common/TestFiles.h"

extern char** environ;

namespace kivo::test {

TTestFtpServer::TTestFtpServer(TFtpServerKind Kind) : FKind(Kind) {
    FDir = MakeTempDir("kivo-ftp-");
    ::chmod(FDir.c_str(), 0755);
    FAnonRoot = FDir + "/anon";
    FUserRoot = FDir + "/user";
    ::mkdir(FAnonRoot.c_str(), 0755);
    ::mkdir(FUserRoot.c_str(), 0777);
    ::chmod(FUserRoot.c_str(), 0777);
    ::mkdir((FDir + "/empty").c_str(), 0755);
    if (Kind == fskVsftpd) {
        if (::geteuid() != 0)
            FSkipReason = "vsftpd needs root";
        else if (::getpwnam(FtpTestUser) == nullptr)
            FSkipReason = "no test account (scripts/test-accounts)";
        else if (::access("/usr/sbin/vsftpd", X_OK) != 0)
            FSkipReason = "vsftpd is not installed";
        else if (!StartVsftpd())
            FSkipReason = "vsftpd did not start";
    } else if (!StartPython()) {
        FSkipReason = "the Python FTP server did not start (python3-pyftpdlib)";
    }
}

TTestFtpServer::~TTestFtpServer() {
    Stop();
    RemoveTree(FDir);
}

bool TTestFtpServer::StartVsftpd() {
    const std::string Config = FDir + "/vsftpd.conf";
    for (int Attempt = 0; Attempt < 5; ++Attempt) {
        const int Port = ClosedPort();
        WriteFile(Config, VsftpdConfig(FDir, FAnonRoot, FUserRoot, Port));
        posix_spawn_file_actions_t A;
        posix_spawn_file_actions_init(&A);
        posix_spawn_file_actions_addopen(&A, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&A, 1, (FDir + "/vsftpd.out").c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&A, 1, 2);
        const char* Argv[] = {"/usr/sbin/vsftpd", Config.c_str(), nullptr};
        pid_t Pid = 0;
        const int Rc =
            posix_spawn(&Pid, Argv[0], &A, nullptr, const_cast<char* const*>(Argv), environ);
        posix_spawn_file_actions_destroy(&A);
        if (Rc != 0) return false;
        for (int I = 0; I < 250; ++I) {
            int Status = 0;
            if (::waitpid(Pid, &Status, WNOHANG) == Pid) break; // ended: try another port
            if (Accepts(Port)) {
                FPid = Pid;
                FPort = Port;
                return true;
            }
            ::usleep(20000);
        }
        if (::kill(Pid, 0) == 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
    }
    return false;
}

bool TTestFtpServer::StartPython() {
    int In[2], Out[2];
    if (::pipe(In) != 0 || ::pipe(Out) != 0) return false;
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, In[0], 0);
    posix_spawn_file_actions_adddup2(&Actions, Out[1], 1);
    posix_spawn_file_actions_addclose(&Actions, In[1]);
    posix_spawn_file_actions_addclose(&Actions, Out[0]);
    const std::string Script = std::string(KIVO_SOURCE_DIR) + "/tests/webcopy/ftp_server.py";
    // Debian's interpreter, which has the server library.
    const char* Argv[] = {"/usr/bin/python3", Script.c_str(), FAnonRoot.c_str(), nullptr};
    pid_t Pid = 0;
    const int Rc =
        posix_spawn(&Pid, Argv[0], &Actions, nullptr, const_cast<char* const*>(Argv), environ);
    posix_spawn_file_actions_destroy(&Actions);
    ::close(In[0]);
    ::close(Out[1]);
    if (Rc != 0) {
        ::close(In[1]);
        ::close(Out[0]);
        return false;
    }
    FPid = Pid;
    FStdin = In[1];
    std::string Line;
    char C = 0;
    while (::read(Out[0], &C, 1) == 1 && C != '\n')
        Line += C;
    ::close(Out[0]);
    if (Line.rfind("PORT ", 0) != 0) return false;
    FPort = std::atoi(Line.c_str() + 5);
    return true;
}

void TTestFtpServer::Stop() {
    if (FStdin >= 0) ::close(FStdin); // the Python server ends when its input closes
    FStdin = -1;
    if (FPid <= 0) return;
    if (FKind == fskVsftpd) ::kill(FPid, SIGTERM);
    for (int I = 0; I < 100; ++I) {
        if (::waitpid(FPid, nullptr, WNOHANG) == FPid) {
            FPid = -1;
            return;
        }
        ::usleep(20000);
    }
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
}

std::string TTestFtpServer::Log() const {
    return ReadFile(FKind == fskVsftpd ? FDir + "/vsftpd.log" : FDir + "/commands.log");
}

int TTestFtpServer::Logins() const {
    return FKind == fskVsftpd ? CountFtpLogLines(Log(), "OK LOGIN")
                              : CountFtpLogLines(Log(), "PASS");
}

TTestFtpServer& Vsftpd() {
    static TTestFtpServer Instance(fskVsftpd);
    return Instance;
}

TTestFtpServer& PythonFtp() {
    static TTestFtpServer Instance(fskPython);
    return Instance;
}

} // namespace kivo::test
