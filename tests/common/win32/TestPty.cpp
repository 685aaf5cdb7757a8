// Windows has no pseudo-terminals: nothing runs, and the tests that need
// one skip themselves (see PtyAvailable). Streams can be pointed at the
// null device.
#include "tests/common/TestPty.h"

#include <windows.h>

namespace kivo::test {

TPtyResult RunOnPty(const std::function<int()>&, const TPtyDialog&) {
    return TPtyResult{};
}

bool PtyAvailable() {
    return false;
}

// Only the null device: a console of a chosen width cannot be made for a
// test (Wine's headless console tells no width at all).
struct TRedirectedStream::TState {
    DWORD Id = 0;
    HANDLE Saved = INVALID_HANDLE_VALUE;
    HANDLE Target = INVALID_HANDLE_VALUE;
};

TRedirectedStream::TRedirectedStream(int Stream, bool OnTerminal, unsigned short)
    : FState(std::make_unique<TState>()) {
    if (OnTerminal) return;
    FState->Target =
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (FState->Target == INVALID_HANDLE_VALUE) return;
    FState->Id = Stream == 0   ? STD_INPUT_HANDLE
                 : Stream == 1 ? STD_OUTPUT_HANDLE
                               : STD_ERROR_HANDLE;
    FState->Saved = ::GetStdHandle(FState->Id);
    ::SetStdHandle(FState->Id, FState->Target);
}

TRedirectedStream::~TRedirectedStream() {
    if (FState->Id != 0) ::SetStdHandle(FState->Id, FState->Saved);
    if (FState->Target != INVALID_HANDLE_VALUE) ::CloseHandle(FState->Target);
}

bool TRedirectedStream::Ok() const {
    return FState->Id != 0;
}

std::optional<int> RunForked(const std::function<int()>&) {
    return std::nullopt;
}

// Stop requests arrive as console events, which only the console sends.
bool RaiseStopRequest(uint8_t) {
    return false;
}

int StatusEndedBy(uint8_t) {
    return -1;
}

bool StandardInputEchoes() {
    DWORD Mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &Mode) &&
           (Mode & ENABLE_ECHO_INPUT) != 0;
}

// A process without a console is this one when it has none; one with a
// console cannot give it up for a single test.
std::optional<int> RunWithoutTerminal(const std::function<int()>& Body) {
    if (::GetConsoleWindow() != nullptr) return std::nullopt;
    HANDLE Console = ::CreateFileW(L"CONIN$", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (Console != INVALID_HANDLE_VALUE) {
        ::CloseHandle(Console);
        return std::nullopt;
    }
    return Body();
}

} // namespace kivo::test
