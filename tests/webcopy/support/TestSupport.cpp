#include "support/TestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

extern char** environ;

namespace kivo::test {

TTestHttpServer::TTestHttpServer(bool Tls) : FTls(Tls) {
    FSinkDir = MakeTempDir("kivo-wc-");
    int In[2], Out[2];
    if (::pipe(In) != 0 || ::pipe(Out) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, In[0], 0);
    posix_spawn_file_actions_adddup2(&Actions, Out[1], 1);
    posix_spawn_file_actions_addclose(&Actions, In[1]);
    posix_spawn_file_actions_addclose(&Actions, Out[0]);
    std::string Script = std::string(KIVO_SOURCE_DIR) + "/tests/webcopy/http_server.py";
    const char* Argv[] = {"python3", Script.c_str(), FSinkDir.c_str(), Tls ? "--tls" : nullptr,
                          nullptr};
    pid_t Pid = 0;
    int Rc =
        posix_spawnp(&Pid, "python3", &Actions, nullptr, const_cast<char* const*>(Argv), environ);
    posix_spawn_file_actions_destroy(&Actions);
    ::close(In[0]);
    ::close(Out[1]);
    if (Rc != 0) throw std::runtime_error("cannot start the test server");
    FPid = Pid;
    FStdin = In[1];
    std::string Line;
    char C = 0;
    while (::read(Out[0], &C, 1) == 1 && C != '\n')
        Line += C;
    ::close(Out[0]);
    if (Line.rfind("PORT ", 0) != 0) throw std::runtime_error("test server did not start: " + Line);
    FPort = std::atoi(Line.c_str() + 5);
}

TTestHttpServer::~TTestHttpServer() {
    if (FStdin >= 0) ::close(FStdin); // the server ends when its input closes
    if (FPid > 0) {
        int Status = 0;
        for (int I = 0; I < 100; ++I) {
            if (::waitpid(FPid, &Status, WNOHANG) == FPid) {
                FPid = -1;
                break;
            }
            ::usleep(20000);
        }
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, &Status, 0);
        }
    }
    RemoveTree(FSinkDir);
}

std::string TTestHttpServer::Url(const std::string& Path) const {
    return (FTls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(FPort) + Path;
}

std::string TTestHttpServer::RequestLog() const {
    return ReadFile(FSinkDir + "/requests.log");
}

void TTestHttpServer::ClearLog() const {
    ::unlink((FSinkDir + "/requests.log").c_str());
}

TTestHttpServer& Server() {
    static TTestHttpServer Instance;
    return Instance;
}

TTestHttpServer& TlsServer() {
    static TTestHttpServer Instance(true);
    return Instance;
}

std::string Pattern(size_t Size) {
    std::string S(Size, '\0');
    for (size_t I = 0; I < Size; ++I)
        S[I] = static_cast<char>(I % 256);
    return S;
}

bool Exists(const std::string& Path) {
    struct stat St {};
    return ::lstat(Path.c_str(), &St) == 0;
}

int ClosedPort() {
    int S = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(S, reinterpret_cast<sockaddr*>(&A), sizeof A);
    socklen_t L = sizeof A;
    ::getsockname(S, reinterpret_cast<sockaddr*>(&A), &L);
    int Port = ntohs(A.sin_port);
    ::close(S); // bound, never listened: connections are refused
    return Port;
}

bool Accepts(int Port) {
    int S = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(static_cast<uint16_t>(Port));
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool Ok = ::connect(S, reinterpret_cast<sockaddr*>(&A), sizeof A) == 0;
    ::close(S);
    return Ok;
}

TSilentPort::TSilentPort() {
    const int S = ::socket(AF_INET, SOCK_STREAM, 0);
    FSocket = S;
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t L = sizeof A;
    ::bind(S, reinterpret_cast<sockaddr*>(&A), sizeof A);
    ::listen(S, 4);
    ::getsockname(S, reinterpret_cast<sockaddr*>(&A), &L);
    FPort = ntohs(A.sin_port);
}

TSilentPort::~TSilentPort() {
    ::close(static_cast<int>(FSocket));
}

TFileSizeLimit::TFileSizeLimit(uint64_t Bytes) {
    std::signal(SIGXFSZ, SIG_IGN); // a longer write fails instead of ending the process
    rlimit Limit{};
    ::getrlimit(RLIMIT_FSIZE, &Limit);
    FOld = Limit.rlim_cur;
    Limit.rlim_cur = Bytes; // the hard limit stays, so it can be restored
    FApplied = ::setrlimit(RLIMIT_FSIZE, &Limit) == 0;
}

TFileSizeLimit::~TFileSizeLimit() {
    rlimit Limit{};
    ::getrlimit(RLIMIT_FSIZE, &Limit);
    Limit.rlim_cur = FOld;
    ::setrlimit(RLIMIT_FSIZE, &Limit);
    std::signal(SIGXFSZ, SIG_DFL);
}

bool HasProcFiles() {
    return true;
}

const TFtpListingReader& FtpListingReader() {
    static const TFtpListingReader Reader;
    return Reader;
}

bool WriteServerFile(const std::string& Folder, const std::string& Name, const std::string& Data,
                     unsigned Mode, int64_t Stamp) {
    if (!WriteFile(Folder + "/" + Name, Data)) return false;
    SetServerFile(Folder + "/" + Name, Mode, Stamp);
    return true;
}

void MakeServerFolder(const std::string& Path, unsigned Mode) {
    ::mkdir(Path.c_str(), Mode);
    ::chmod(Path.c_str(), Mode);
}

void SetServerFile(const std::string& Path, unsigned Mode, int64_t Stamp) {
    ::chmod(Path.c_str(), Mode);
    if (Stamp < 0) return;
    const utimbuf Times{static_cast<time_t>(Stamp), static_cast<time_t>(Stamp)};
    ::utime(Path.c_str(), &Times);
}

bool HostileReplyUndetected(const std::string& /*Route*/) {
    return false;
}

TRun RunProgram(const std::string& Program, const std::vector<std::string>& Args,
                const std::string& Input) {
    TTempDir Io;
    const std::string OutFile = Io / "out", ErrFile = Io / "err", InFile = Io / "in";
    WriteFile(InFile, Input);
    posix_spawn_file_actions_t A;
    posix_spawn_file_actions_init(&A);
    posix_spawn_file_actions_addopen(&A, 0, InFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&A, 1, OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&A, 2, ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> All(1, Program);
    All.insert(All.end(), Args.begin(), Args.end());
    std::vector<char*> Argv;
    for (auto& S : All)
        Argv.push_back(S.data());
    Argv.push_back(nullptr);
    // Local time is UTC, so file dates and server dates line up.
    std::vector<std::string> Env = {"TZ=UTC", "PATH=/usr/bin:/bin", "LANG=C"};
    // The sanitizer build's settings (leak suppressions) reach the program too.
    for (const char* Name : {"LSAN_OPTIONS", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* Value = std::getenv(Name)) Env.push_back(std::string(Name) + "=" + Value);
    std::vector<char*> Envp;
    for (auto& S : Env)
        Envp.push_back(S.data());
    Envp.push_back(nullptr);
    pid_t Pid = 0;
    TRun R;
    if (posix_spawn(&Pid, Program.c_str(), &A, nullptr, Argv.data(), Envp.data()) == 0) {
        int Status = 0;
        ::waitpid(Pid, &Status, 0);
        R.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128;
    }
    posix_spawn_file_actions_destroy(&A);
    R.Out = ReadFile(OutFile);
    R.Err = ReadFile(ErrFile);
    return R;
}

} // namespace kivo::test
