#include "tests/common/TestPty.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace kivo::test {

TPtyResult RunOnPty(const std::function<int()>& Child, const TPtyDialog& Dialog) {
    TPtyResult Result;
    winsize Size{};
    Size.ws_row = 40;
    Size.ws_col = 120;
    int Master = -1;
    pid_t Pid = ::forkpty(&Master, nullptr, nullptr, &Size);
    if (Pid < 0) return Result;
    if (Pid == 0) ::_exit(Child());
    size_t Step = 0;
    size_t Mark = 0;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        if (Step < Dialog.size() &&
            Result.Output.find(Dialog[Step].first, Mark) != std::string::npos) {
            const std::string& Send = Dialog[Step].second;
            (void)!::write(Master, Send.data(), Send.size());
            Mark = Result.Output.size();
            ++Step;
            continue;
        }
        if (std::chrono::steady_clock::now() > Deadline) {
            ::kill(Pid, SIGKILL);
            break;
        }
        pollfd P{Master, POLLIN, 0};
        int R = ::poll(&P, 1, 100);
        if (R < 0 && errno == EINTR) continue;
        if (R <= 0) continue;
        char Buf[4096];
        ssize_t N = ::read(Master, Buf, sizeof Buf);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) break; // EIO: the program and its children closed the terminal
        Result.Output.append(Buf, static_cast<size_t>(N));
    }
    ::close(Master);
    int Status = 0;
    ::waitpid(Pid, &Status, 0);
    Result.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    return Result;
}

bool PtyAvailable() {
    return true;
}

struct TRedirectedStream::TState {
    int Stream = -1;
    int Saved = -1;
    int Master = -1;
    int Target = -1;
};

TRedirectedStream::TRedirectedStream(int Stream, bool OnTerminal, unsigned short Columns)
    : FState(std::make_unique<TState>()) {
    if (OnTerminal) {
        winsize Size{};
        Size.ws_row = 24;
        Size.ws_col = Columns;
        if (::openpty(&FState->Master, &FState->Target, nullptr, nullptr, &Size) != 0) return;
    } else {
        FState->Target = ::open("/dev/null", O_RDWR);
        if (FState->Target < 0) return;
    }
    FState->Stream = Stream;
    FState->Saved = ::dup(Stream);
    ::dup2(FState->Target, Stream);
}

TRedirectedStream::~TRedirectedStream() {
    if (FState->Saved >= 0) {
        ::dup2(FState->Saved, FState->Stream);
        ::close(FState->Saved);
    }
    for (int Fd : {FState->Master, FState->Target})
        if (Fd >= 0) ::close(Fd);
}

bool TRedirectedStream::Ok() const {
    return FState->Saved >= 0;
}

std::optional<int> RunForked(const std::function<int()>& Body) {
    const pid_t Pid = ::fork();
    if (Pid < 0) return std::nullopt;
    if (Pid == 0) {
        ::alarm(30);
        ::_exit(Body());
    }
    int Status = 0;
    ::waitpid(Pid, &Status, 0);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
}

std::optional<int> RunWithoutTerminal(const std::function<int()>& Body) {
    return RunForked([&] {
        ::setsid(); // a new session has no controlling terminal
        return Body();
    });
}

namespace {

// The request bits of platform/Terminal.h and their signals.
int SignalOf(uint8_t Request) {
    return Request == 1 ? SIGINT : Request == 2 ? SIGTERM : SIGHUP;
}

} // namespace

bool RaiseStopRequest(uint8_t Request) {
    return std::raise(SignalOf(Request)) == 0;
}

int StatusEndedBy(uint8_t Request) {
    return 128 + SignalOf(Request);
}

bool StandardInputEchoes() {
    termios Now{};
    return ::tcgetattr(STDIN_FILENO, &Now) == 0 && (Now.c_lflag & ECHO) != 0;
}

} // namespace kivo::test
