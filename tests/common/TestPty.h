// Runs code on a new pseudo-terminal and answers what it asks, as a person
// at the keyboard would.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kivo::test {

// The result of a run on a pseudo-terminal.
struct TPtyResult {
    int Status = -1;    // exit status, -1 when the run ended by a signal
    std::string Output; // everything written to the terminal
};

// What to type, and when: each (Expect, Send) pair waits until Expect has
// appeared in the output since the last answer, then types Send.
using TPtyDialog = std::vector<std::pair<std::string, std::string>>;

// Runs Child in a new process whose controlling terminal and standard
// streams are a new pseudo-terminal of 40 rows and 120 columns; Child's
// result is the exit status. Ends when the process ends (or after a minute).
TPtyResult RunOnPty(const std::function<int()>& Child, const TPtyDialog& Dialog);

// Whether RunOnPty can run anything here: false on Windows, which has no
// pseudo-terminals (RunOnPty then returns Status -1 at once).
bool PtyAvailable();

// While it lives, the process's standard stream Stream (0 input, 1 output,
// 2 error) is a new terminal whose window is Columns wide (0: the terminal
// does not tell), or the null device. Ok() is false when this system cannot
// make such a terminal here (Windows: no console of a chosen width).
class TRedirectedStream {
public:
    TRedirectedStream(int Stream, bool OnTerminal, unsigned short Columns);
    ~TRedirectedStream();
    TRedirectedStream(const TRedirectedStream&) = delete;
    TRedirectedStream& operator=(const TRedirectedStream&) = delete;
    bool Ok() const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

// Runs Body in a process without a controlling terminal (console) and
// returns its result; nullopt when that cannot be arranged here.
std::optional<int> RunWithoutTerminal(const std::function<int()>& Body);

// Runs Body in a child process (fork) and returns its exit status, or 128 +
// the signal that ended it (SIGALRM when it hung); nullopt where processes
// cannot be forked (Windows).
std::optional<int> RunForked(const std::function<int()>& Body);
// Sends this process the signal of the stop request Request (srInterrupt,
// srTerminate, srHangup of platform/Terminal.h); false where there is none.
bool RaiseStopRequest(uint8_t Request);
// The exit status of a forked child that the stop request Request ended.
int StatusEndedBy(uint8_t Request);

// Whether the terminal echoes what is typed on the standard input.
bool StandardInputEchoes();

} // namespace kivo::test
