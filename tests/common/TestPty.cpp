#include "tests/common/TestPty.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
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

} // namespace kivo::test
