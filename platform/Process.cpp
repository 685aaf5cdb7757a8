#include "platform/Process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <type_traits>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "platform/Security.h"
#include "platform/SystemServices.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"

extern char** environ;

namespace kivo {

namespace {

constexpr char ChannelMagic[] = "KIVO-ELEVATE 1\n";
constexpr char ChannelResult[] = "RESULT ";
constexpr size_t ChannelMax = 64 * 1024;

constexpr intptr_t SE_ERR_FNF = 2;
constexpr intptr_t SE_ERR_PNF = 3;
constexpr intptr_t SE_ERR_ACCESSDENIED = 5;
constexpr intptr_t ERROR_BAD_FORMAT = 11;
constexpr intptr_t SE_ERR_NOASSOC = 31;
constexpr intptr_t ShellStarted = 42;

// Reads up to ChannelMax bytes of the file from offset 0.
std::string ReadWhole(int Fd) {
    std::string Text;
    char Buffer[4096];
    off_t Offset = 0;
    while (Text.size() < ChannelMax) {
        ssize_t N = ::pread(Fd, Buffer, sizeof Buffer, Offset);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) break;
        Text.append(Buffer, static_cast<size_t>(N));
        Offset += N;
    }
    return Text;
}

bool WriteAll(int Fd, const std::string& Text, off_t Offset) {
    size_t Done = 0;
    while (Done < Text.size()) {
        ssize_t N =
            ::pwrite(Fd, Text.data() + Done, Text.size() - Done, Offset + static_cast<off_t>(Done));
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return false;
        Done += static_cast<size_t>(N);
    }
    return true;
}

// The last "RESULT <decimal>" line of a channel, when it holds a valid one.
bool ParseResult(const std::string& Text, uint32_t& Code) {
    if (Text.compare(0, sizeof ChannelMagic - 1, ChannelMagic) != 0) return false;
    bool Found = false;
    size_t P = 0;
    while (P < Text.size()) {
        size_t End = Text.find('\n', P);
        if (End == std::string::npos) break; // an unfinished line counts for nothing
        std::string_view Line(Text.data() + P, End - P);
        P = End + 1;
        if (Line.substr(0, sizeof ChannelResult - 1) != ChannelResult) continue;
        std::string_view Digits = Line.substr(sizeof ChannelResult - 1);
        if (Digits.empty() || Digits.size() > 10) continue;
        uint64_t Value = 0;
        bool Ok = true;
        for (char C : Digits) {
            if (C < '0' || C > '9') {
                Ok = false;
                break;
            }
            Value = Value * 10 + static_cast<uint64_t>(C - '0');
        }
        if (!Ok || Value > 0xFFFFFFFFu) continue;
        Code = static_cast<uint32_t>(Value);
        Found = true;
    }
    return Found;
}

// Our standard input is a result channel when it is an unlinked regular file
// that starts with the channel's header: nothing else can look like that.
bool StdinIsChannel() {
    struct stat St {};
    if (::fstat(0, &St) != 0 || !S_ISREG(St.st_mode) || St.st_nlink != 0) return false;
    char Head[sizeof ChannelMagic - 1];
    return ::pread(0, Head, sizeof Head, 0) == static_cast<ssize_t>(sizeof Head) &&
           std::memcmp(Head, ChannelMagic, sizeof Head) == 0;
}

// A private file: created owner-only in the temporary folder and unlinked at
// once, so no other process can open it by name.
int CreateChannel(const TStartOptions& Options) {
    std::string Dir = GetTempDirectory();
    int Fd = ::open(Dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (Fd < 0) {
        std::string Name = Dir + "kivo-elevate-XXXXXX";
        Fd = ::mkostemp(Name.data(), O_CLOEXEC);
        if (Fd < 0) return -1;
        ::unlink(Name.c_str());
    }
    std::string Header = ChannelMagic;
    for (const auto& [Key, Value] : Options.ChannelSettings) {
        if (Key.find_first_of("=\n") != std::string::npos || Value.find('\n') != std::string::npos)
            continue;
        Header += Key + "=" + Value + "\n";
    }
    Header += "END\n";
    if (!WriteAll(Fd, Header, 0)) {
        ::close(Fd);
        return -1;
    }
    return Fd;
}

int OpenPidFd(pid_t Pid) {
#ifdef SYS_pidfd_open
    long Fd = ::syscall(SYS_pidfd_open, Pid, 0);
    if (Fd >= 0) {
        ::fcntl(static_cast<int>(Fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(Fd);
    }
#else
    (void)Pid;
#endif
    return -1;
}

// A started program whose end nobody waits for is reaped in the background,
// so it leaves no zombie behind.
void ReapInBackground(pid_t Pid) {
    try {
        std::thread([Pid] {
            int Status = 0;
            while (::waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until we end.
    }
}

struct TSpawnActions {
    posix_spawn_file_actions_t Actions;
    bool Ok;
    TSpawnActions() : Ok(posix_spawn_file_actions_init(&Actions) == 0) {}
    ~TSpawnActions() {
        if (Ok) posix_spawn_file_actions_destroy(&Actions);
    }
    TSpawnActions(const TSpawnActions&) = delete;
    TSpawnActions& operator=(const TSpawnActions&) = delete;
};

// Starts Argv with the given standard input (-1: /dev/null) and working
// directory. 0 on success with Pid set, else the errno value.
int Spawn(const std::vector<std::string>& Argv, int StdinFd, const std::string& Directory,
          pid_t& Pid) {
    if (Argv.empty() || Argv[0].empty()) return ENOENT;
    std::vector<char*> Args;
    Args.reserve(Argv.size() + 1);
    for (const std::string& A : Argv)
        Args.push_back(const_cast<char*>(A.c_str()));
    Args.push_back(nullptr);
    TSpawnActions Fa;
    if (!Fa.Ok) return ENOMEM;
    int Rc = StdinFd >= 0
                 ? posix_spawn_file_actions_adddup2(&Fa.Actions, StdinFd, 0)
                 : posix_spawn_file_actions_addopen(&Fa.Actions, 0, "/dev/null", O_RDONLY, 0);
    if (Rc == 0 && !Directory.empty())
        Rc = posix_spawn_file_actions_addchdir_np(&Fa.Actions, Directory.c_str());
    if (Rc != 0) return Rc;
    return posix_spawn(&Pid, Args[0], &Fa.Actions, nullptr, Args.data(), environ);
}

intptr_t ShellResultFromErrno(int Err) {
    switch (Err) {
    case ENOENT: return SE_ERR_FNF;
    case ENOTDIR: return SE_ERR_PNF;
    case EACCES:
    case EPERM: return SE_ERR_ACCESSDENIED;
    case ENOEXEC: return ERROR_BAD_FORMAT;
    default: return SE_ERR_NOASSOC;
    }
}

// Starts a program whose end nobody waits for.
intptr_t SpawnDetached(const std::vector<std::string>& Argv, const std::string& Directory) {
    pid_t Pid = 0;
    int Err = Spawn(Argv, -1, Directory, Pid);
    if (Err != 0) return ShellResultFromErrno(Err);
    ReapInBackground(Pid);
    return ShellStarted;
}

// The interpreter and its optional argument from a "#!" first line.
bool ReadShebang(const std::string& File, std::vector<std::string>& Interpreter) {
    int Fd = ::open(File.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0) return false;
    char Buffer[256];
    ssize_t N = ::read(Fd, Buffer, sizeof Buffer);
    ::close(Fd);
    if (N < 3 || Buffer[0] != '#' || Buffer[1] != '!') return false;
    std::string_view Line(Buffer + 2, static_cast<size_t>(N) - 2);
    size_t Nl = Line.find('\n');
    if (Nl == std::string_view::npos) return false; // longer than the kernel would accept
    Line = Line.substr(0, Nl);
    auto Blank = [](char C) { return C == ' ' || C == '\t' || C == '\r'; };
    while (!Line.empty() && Blank(Line.front()))
        Line.remove_prefix(1);
    while (!Line.empty() && Blank(Line.back()))
        Line.remove_suffix(1);
    size_t Sep = 0;
    while (Sep < Line.size() && !Blank(Line[Sep]))
        ++Sep;
    std::string Program(Line.substr(0, Sep));
    if (Program.empty() || Program[0] != '/') return false;
    Interpreter.assign(1, Program);
    std::string_view Rest = Line.substr(Sep);
    while (!Rest.empty() && Blank(Rest.front()))
        Rest.remove_prefix(1);
    if (!Rest.empty()) Interpreter.emplace_back(Rest);
    return true;
}

std::string FindInPath(const std::string& Program) {
    const char* Path = std::getenv("PATH");
    std::string_view Dirs =
        Path != nullptr && Path[0] != '\0' ? Path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        size_t Colon = Dirs.find(':');
        std::string Dir(Dirs.substr(0, Colon));
        if (!Dir.empty() && Dir[0] == '/') {
            std::string Candidate = Dir + "/" + Program;
            if (::access(Candidate.c_str(), X_OK) == 0 && FileExists(Candidate)) return Candidate;
        }
        if (Colon == std::string_view::npos) break;
        Dirs.remove_prefix(Colon + 1);
    }
    return std::string();
}

// A child started through posix_spawn, waited for through a pidfd where the
// kernel has one.
class TPosixChildProcess final : public TChildProcess {
public:
    TPosixChildProcess(pid_t APid, int AChannelFd, bool APromptLauncher);
    ~TPosixChildProcess() override;

    TProcessId Pid() const override { return FPid; }
    bool GetExitCode(uint32_t& Code) override;
    uint32_t WaitFor(uint32_t TimeoutMs) override;
    uint32_t LaunchError() const override { return FLaunchError; }

private:
    bool Reap(bool Block);
    void Finish(int Status);

    pid_t FPid;
    int FPidFd = -1;
    int FChannelFd;
    bool FPromptLauncher;
    bool FEnded = false;
    bool FReapFailed = false;
    uint32_t FExitCode = 31;
    uint32_t FLaunchError = 0;
};

class TPkexecElevator final : public IElevator {
public:
    std::unique_ptr<TChildProcess> RunAs(const std::string& File, const std::string& Parameters,
                                         TWindowHandle) override {
        // The prompt program's agent finds the user's display on its own.
        std::string Prompt = ElevationPromptProgram();
        if (Prompt.empty()) {
            SetLastError(50); // ERROR_NOT_SUPPORTED: this system cannot elevate
            return nullptr;
        }
        std::vector<std::string> Argv{Prompt, File};
        for (std::string& A : SplitCommandLine(Parameters))
            Argv.push_back(std::move(A));
        TStartOptions Options;
        Options.ResultChannel = true;
        Options.PromptLauncher = true;
        Options.ChannelSettings = DisplaySettings();
        return StartProcess(Argv, Options);
    }
};

} // namespace

static_assert(std::is_same_v<pid_t, TProcessId>, "a process number fits TProcessId");

TPosixChildProcess::TPosixChildProcess(pid_t APid, int AChannelFd, bool APromptLauncher)
    : FPid(APid), FPidFd(OpenPidFd(APid)), FChannelFd(AChannelFd),
      FPromptLauncher(APromptLauncher) {}

TPosixChildProcess::~TPosixChildProcess() {
    if (!FEnded && !FReapFailed && !Reap(false)) ReapInBackground(FPid);
    if (FPidFd >= 0) ::close(FPidFd);
    if (FChannelFd >= 0) ::close(FChannelFd);
}

void TPosixChildProcess::Finish(int Status) {
    FEnded = true;
    uint32_t FromChannel = 0;
    bool HasResult = FChannelFd >= 0 && ParseResult(ReadWhole(FChannelFd), FromChannel);
    if (HasResult) {
        FExitCode = FromChannel;
    } else if (WIFEXITED(Status)) {
        int Exit = WEXITSTATUS(Status);
        FExitCode = static_cast<uint32_t>(Exit);
        if (FPromptLauncher && Exit == 126)
            FLaunchError = 1223; // ERROR_CANCELLED
        else if (FPromptLauncher && Exit == 127)
            FLaunchError = 5; // ERROR_ACCESS_DENIED
    } else {
        FExitCode = 31; // ended by a signal: no exit code to report
    }
    // 259 would make a waiting caller believe the process still runs.
    if (FExitCode == STILL_ACTIVE) FExitCode = 31;
}

bool TPosixChildProcess::Reap(bool Block) {
    if (FEnded) return true;
    int Status = 0;
    pid_t R;
    do {
        R = ::waitpid(FPid, &Status, Block ? 0 : WNOHANG);
    } while (R < 0 && errno == EINTR);
    if (R == FPid) {
        Finish(Status);
        return true;
    }
    if (R < 0) FReapFailed = true;
    return false;
}

bool TPosixChildProcess::GetExitCode(uint32_t& Code) {
    if (!FEnded && !Reap(false)) {
        if (FReapFailed) return false;
        Code = STILL_ACTIVE;
        return true;
    }
    Code = FExitCode;
    return true;
}

uint32_t TPosixChildProcess::WaitFor(uint32_t TimeoutMs) {
    if (FEnded || Reap(false)) return WAIT_OBJECT_0;
    if (FReapFailed) return WAIT_FAILED;
    if (TimeoutMs == INFINITE) return Reap(true) ? WAIT_OBJECT_0 : WAIT_FAILED;
    uint64_t Deadline = GetTickCount64() + TimeoutMs;
    while (true) {
        uint64_t Now = GetTickCount64();
        uint32_t Left = Now >= Deadline ? 0 : static_cast<uint32_t>(Deadline - Now);
        if (FPidFd >= 0) {
            pollfd P{FPidFd, POLLIN, 0};
            int Rc = ::poll(&P, 1, static_cast<int>(Left));
            if (Rc < 0 && errno != EINTR) return WAIT_FAILED;
        } else {
            Sleep(Left < 10 ? Left : 10);
        }
        if (Reap(false)) return WAIT_OBJECT_0;
        if (FReapFailed) return WAIT_FAILED;
        if (GetTickCount64() >= Deadline) return WAIT_TIMEOUT;
    }
}

std::unique_ptr<TChildProcess> StartProcess(const std::vector<std::string>& Argv,
                                            const TStartOptions& Options) {
    int Channel = -1;
    if (Options.ResultChannel) {
        Channel = CreateChannel(Options);
        if (Channel < 0) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
    }
    pid_t Pid = 0;
    int Err = Spawn(Argv, Channel, Options.Directory, Pid);
    if (Err != 0) {
        if (Channel >= 0) ::close(Channel);
        SetLastErrorFromErrno(Err);
        return nullptr;
    }
    return std::make_unique<TPosixChildProcess>(Pid, Channel, Options.PromptLauncher);
}

IElevator& SystemElevator() {
    static TPkexecElevator System;
    return System;
}

std::vector<std::pair<std::string, std::string>> DisplaySettings() {
    std::vector<std::pair<std::string, std::string>> Settings;
    const char* Display = std::getenv("DISPLAY");
    if (Display == nullptr || Display[0] == '\0') return Settings;
    Settings.emplace_back("DISPLAY", Display);
    const char* Auth = std::getenv("XAUTHORITY");
    std::string AuthFile = Auth != nullptr ? Auth : "";
    if (AuthFile.empty()) {
        const char* Home = std::getenv("HOME");
        if (Home != nullptr && Home[0] == '/') AuthFile = std::string(Home) + "/.Xauthority";
    }
    if (!AuthFile.empty() && AuthFile[0] == '/' && FileExists(AuthFile))
        Settings.emplace_back("XAUTHORITY", AuthFile);
    return Settings;
}

intptr_t ShellExecuteOpen(const std::string& File, const std::string& Parameters,
                          const std::string& Directory, int) {
    if (File.empty()) return SE_ERR_FNF;
    std::string Dir = Directory;
    if (!Dir.empty() && !DirectoryExists(Dir)) return SE_ERR_PNF;
    if (!PathExists(File)) {
        std::string Parent = ExtractFileDir(File);
        return !Parent.empty() && !DirectoryExists(Parent) ? SE_ERR_PNF : SE_ERR_FNF;
    }
    std::vector<std::string> Args = SplitCommandLine(Parameters);
    std::vector<std::string> Argv;
    if (FileExists(File) && ::access(File.c_str(), X_OK) == 0) {
        Argv.push_back(File);
    } else if (FileExists(File) && ReadShebang(File, Argv)) {
        Argv.push_back(File);
    } else {
        // Documents and folders go to the desktop's default application.
        return ShellOpenDocument(File, Dir);
    }
    for (std::string& A : Args)
        Argv.push_back(std::move(A));
    return SpawnDetached(Argv, Dir);
}

intptr_t ShellOpenDocument(const std::string& File, const std::string& Directory) {
    std::string Opener = FindInPath("xdg-open");
    if (Opener.empty()) return SE_ERR_NOASSOC;
    return SpawnDetached({Opener, File}, Directory);
}

bool HasResultChannel() {
    return StdinIsChannel();
}

void AdoptParentDisplay() {
    if (!StdinIsChannel()) return;
    const char* Own = std::getenv("DISPLAY");
    if (Own != nullptr && Own[0] != '\0') return;
    std::string Text = ReadWhole(0);
    size_t P = sizeof ChannelMagic - 1;
    while (P < Text.size()) {
        size_t End = Text.find('\n', P);
        if (End == std::string::npos) break;
        std::string Line = Text.substr(P, End - P);
        P = End + 1;
        if (Line == "END") break;
        size_t Eq = Line.find('=');
        if (Eq == std::string::npos) continue;
        std::string Key = Line.substr(0, Eq);
        if (Key == "DISPLAY" || Key == "XAUTHORITY")
            ::setenv(Key.c_str(), Line.c_str() + Eq + 1, 1);
    }
}

void TerminateCurrentProcess(uint32_t ExitCode) {
    if (StdinIsChannel()) {
        struct stat St {};
        off_t End = ::fstat(0, &St) == 0 ? St.st_size : 0;
        WriteAll(0, std::string(ChannelResult) + std::to_string(ExitCode) + "\n", End);
    }
    std::fflush(nullptr);
    int Status = ExitCode == 0 ? 0 : static_cast<int>(ExitCode & 0xFF);
    if (ExitCode != 0 && Status == 0) Status = 1;
    ::_exit(Status);
}

} // namespace kivo
