#include "platform/Terminal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace kivo {

namespace {

// Set by the signal handler, read by every thread (the workers of a
// parallel extraction too): a lock-free atomic serves both.
std::atomic<bool> StopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) {
    StopFlag.store(true);
}

// The signals behind each stop request.
constexpr std::pair<uint8_t, int> StopSignals[] = {
    {srInterrupt, SIGINT}, {srTerminate, SIGTERM}, {srHangup, SIGHUP}};

int StreamHandle(TStandardStream Stream) {
    switch (Stream) {
    case ssInput: return STDIN_FILENO;
    case ssOutput: return STDOUT_FILENO;
    case ssError: return STDERR_FILENO;
    }
    return -1;
}

// Repeats a terminal call that a signal interrupted, unless the signal was a
// request to stop: then the waiting call gives up.
template <typename Call> auto RetryUnlessStopped(Call SystemCall) {
    decltype(SystemCall()) N;
    do {
        N = SystemCall();
    } while (N < 0 && errno == EINTR && !StopRequested());
    return N;
}

// Holds the stop signals back from the calling thread while it lives.
class TStopsHeldBack {
public:
    TStopsHeldBack() {
        sigset_t Stops;
        sigemptyset(&Stops);
        for (const auto& [Request, Signal] : StopSignals)
            sigaddset(&Stops, Signal);
        ::pthread_sigmask(SIG_BLOCK, &Stops, &FPrevious);
    }
    ~TStopsHeldBack() { ::pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr); }
    TStopsHeldBack(const TStopsHeldBack&) = delete;
    TStopsHeldBack& operator=(const TStopsHeldBack&) = delete;
    const sigset_t& Previous() const { return FPrevious; }

private:
    sigset_t FPrevious{};
};

// Waits until the terminal has input; false once a stop was requested. A
// request that comes after the check stays pending until the wait begins,
// which lets it in, so it cannot slip between the check and the wait.
bool AwaitInput(int Handle) {
    TStopsHeldBack HeldBack;
    if (StopRequested()) return false;
    pollfd Poll{Handle, POLLIN, 0};
    return RetryUnlessStopped([&] { return ::ppoll(&Poll, 1, nullptr, &HeldBack.Previous()); }) > 0;
}

// Turns the terminal's echo off for its lifetime when asked to.
class TEchoOff {
public:
    TEchoOff(int Handle, bool Hide) : FHandle(Handle) {
        FActive = Hide && ::tcgetattr(Handle, &FSaved) == 0;
        if (!FActive) return;
        termios Quiet = FSaved;
        Quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        // Drops what was typed ahead, so no answer meant for an earlier
        // question is taken as the password.
        ::tcsetattr(Handle, TCSAFLUSH, &Quiet);
    }
    ~TEchoOff() { Restore(); }
    TEchoOff(const TEchoOff&) = delete;
    TEchoOff& operator=(const TEchoOff&) = delete;

    // Brings the echo back; true when it had been turned off.
    bool Restore() {
        if (!FActive) return false;
        FActive = false;
        ::tcsetattr(FHandle, TCSANOW, &FSaved);
        return true;
    }

private:
    int FHandle;
    bool FActive = false;
    termios FSaved{};
};

} // namespace

void PrepareConsoleOutput() {}

void SetBinaryStandardOutput() {}

bool IsTerminal(TStandardStream Stream) {
    return ::isatty(StreamHandle(Stream)) == 1;
}

int TerminalColumns(TStandardStream Stream, int Fallback) {
    winsize Size{};
    if (::ioctl(StreamHandle(Stream), TIOCGWINSZ, &Size) != 0 || Size.ws_col == 0) return Fallback;
    return Size.ws_col;
}

void CatchStopRequests(uint8_t Requests) {
    struct sigaction Action {};
    Action.sa_handler = OnStopSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = 0; // no SA_RESTART: a call waiting for the user returns
    for (const auto& [Request, Signal] : StopSignals) {
        if ((Requests & Request) != 0) ::sigaction(Signal, &Action, nullptr);
    }
}

bool StopRequested() {
    return StopFlag.load();
}

TTerminal::TTerminal() : FHandle(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}

TTerminal::~TTerminal() {
    if (FHandle >= 0) ::close(FHandle);
}

void TTerminal::Write(std::string_view Text) const {
    while (!Text.empty()) {
        const ssize_t N =
            RetryUnlessStopped([&] { return ::write(FHandle, Text.data(), Text.size()); });
        if (N <= 0) return;
        Text.remove_prefix(static_cast<size_t>(N));
    }
}

bool TTerminal::ReadLine(std::string_view Prompt, std::string& Line, bool Echo) const {
    Line.clear();
    if (!Available()) return false;
    // Echo goes off before the prompt shows, so nothing typed after it appears.
    TEchoOff Hidden(FHandle, !Echo);
    Write(Prompt);
    const bool Ended = ReadRawLine(Line);
    if (Hidden.Restore()) Write("\n"); // ends the line the hidden answer left open
    return Ended;
}

bool TTerminal::ReadRawLine(std::string& Line) const {
    for (;;) {
        char C = 0;
        if (!AwaitInput(FHandle)) return false;
        const ssize_t N = RetryUnlessStopped([&] { return ::read(FHandle, &C, 1); });
        if (N <= 0 || StopRequested()) return false;
        if (C == '\n') return true;
        if (C != '\r') Line.push_back(C);
    }
}

} // namespace kivo
