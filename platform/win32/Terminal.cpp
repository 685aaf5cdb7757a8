// The terminal on Windows: the console. Questions go to the console itself
// (CONIN$ and CONOUT$), also when the standard streams are redirected; Ctrl+C,
// Ctrl+Break, closing the window and the end of the session arrive through a
// console control handler.
#include "platform/Terminal.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "runtime/win32/WideText.h"

namespace kivo {

namespace {

std::atomic<uint8_t> CaughtRequests{0};
std::atomic<bool> StopFlag{false};

DWORD StandardHandleId(TStandardStream Stream) {
    switch (Stream) {
    case ssInput: return STD_INPUT_HANDLE;
    case ssOutput: return STD_OUTPUT_HANDLE;
    case ssError: return STD_ERROR_HANDLE;
    }
    return STD_INPUT_HANDLE;
}

uint8_t RequestOf(DWORD Event) {
    switch (Event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: return srInterrupt;
    case CTRL_CLOSE_EVENT: return srHangup;
    default: return srTerminate; // log-off, shut-down
    }
}

BOOL WINAPI OnControlEvent(DWORD Event) {
    if ((CaughtRequests.load() & RequestOf(Event)) == 0) return FALSE; // the default: end
    StopFlag = true;
    // A console read that is waiting gives up.
    ::CancelIoEx(::GetStdHandle(STD_INPUT_HANDLE), nullptr);
    return TRUE;
}

HANDLE OpenConsole(const wchar_t* Name) {
    return ::CreateFileW(Name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE ApiHandle(int Fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(Fd));
}

// Turns the console's echo off for its lifetime when asked to.
class TEchoOff {
public:
    TEchoOff(HANDLE Input, bool Hide) : FInput(Input) {
        FActive = Hide && ::GetConsoleMode(Input, &FSaved);
        if (!FActive) return;
        // Drops what was typed ahead, so no answer meant for an earlier
        // question is taken as the password.
        ::FlushConsoleInputBuffer(Input);
        ::SetConsoleMode(Input, FSaved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    ~TEchoOff() { Restore(); }
    TEchoOff(const TEchoOff&) = delete;
    TEchoOff& operator=(const TEchoOff&) = delete;
    bool Restore() {
        if (!FActive) return false;
        FActive = false;
        ::SetConsoleMode(FInput, FSaved);
        return true;
    }

private:
    HANDLE FInput;
    DWORD FSaved = 0;
    bool FActive = false;
};

} // namespace

void PrepareConsoleOutput() {
    // What the console had, given back when the program ends: the code page
    // and the modes are the console's, not this process's.
    static UINT SavedPage = 0;
    static DWORD SavedModes[2] = {};
    static const DWORD Ids[2] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    if (SavedPage != 0) return;
    SavedPage = ::GetConsoleOutputCP();
    if (SavedPage == 0 || !::SetConsoleOutputCP(CP_UTF8)) return; // no console
    for (int I = 0; I < 2; ++I) {
        const HANDLE Output = ::GetStdHandle(Ids[I]);
        if (::GetConsoleMode(Output, &SavedModes[I]))
            ::SetConsoleMode(Output, SavedModes[I] | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    std::atexit([] {
        std::fflush(nullptr);
        ::SetConsoleOutputCP(SavedPage);
        for (int I = 0; I < 2; ++I) {
            DWORD Mode = 0;
            const HANDLE Output = ::GetStdHandle(Ids[I]);
            if (::GetConsoleMode(Output, &Mode)) ::SetConsoleMode(Output, SavedModes[I]);
        }
    });
}

void SetBinaryStandardOutput() {
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
}

bool IsTerminal(TStandardStream Stream) {
    DWORD Mode = 0;
    return ::GetConsoleMode(::GetStdHandle(StandardHandleId(Stream)), &Mode) != FALSE;
}

int TerminalColumns(TStandardStream Stream, int Fallback) {
    CONSOLE_SCREEN_BUFFER_INFO Info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(StandardHandleId(Stream)), &Info))
        return Fallback;
    const int Columns = Info.srWindow.Right - Info.srWindow.Left + 1;
    return Columns > 0 ? Columns : Fallback;
}

void CatchStopRequests(uint8_t Requests) {
    const uint8_t Before = CaughtRequests.fetch_or(Requests);
    if (Before == 0 && Requests != 0) ::SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

bool StopRequested() {
    return StopFlag.load();
}

TTerminal::TTerminal() {
    HANDLE Input = OpenConsole(L"CONIN$");
    if (Input == INVALID_HANDLE_VALUE) return;
    FHandle = ::_open_osfhandle(reinterpret_cast<intptr_t>(Input), 0);
    if (FHandle < 0) ::CloseHandle(Input);
}

TTerminal::~TTerminal() {
    if (FHandle >= 0) ::_close(FHandle);
}

void TTerminal::Write(std::string_view Text) const {
    if (FHandle < 0 || StopRequested()) return;
    HANDLE Output = OpenConsole(L"CONOUT$");
    if (Output == INVALID_HANDLE_VALUE) return;
    const std::wstring Wide = os::Utf8ToWide(Text);
    size_t Done = 0;
    while (Done < Wide.size() && !StopRequested()) {
        DWORD N = 0;
        if (!::WriteConsoleW(Output, Wide.data() + Done, static_cast<DWORD>(Wide.size() - Done), &N,
                             nullptr) ||
            N == 0)
            break;
        Done += N;
    }
    ::CloseHandle(Output);
}

bool TTerminal::ReadLine(std::string_view Prompt, std::string& Line, bool Echo) const {
    Line.clear();
    if (!Available()) return false;
    // Echo goes off before the prompt shows, so nothing typed after it appears.
    TEchoOff Hidden(ApiHandle(FHandle), !Echo);
    Write(Prompt);
    const bool Ended = ReadRawLine(Line);
    if (Hidden.Restore()) Write("\n"); // ends the line the hidden answer left open
    return Ended;
}

bool TTerminal::ReadRawLine(std::string& Line) const {
    std::wstring Wide;
    bool Ended = false;
    while (!StopRequested()) {
        wchar_t C = 0;
        DWORD N = 0;
        if (!::ReadConsoleW(ApiHandle(FHandle), &C, 1, &N, nullptr) || N == 0) break;
        if (StopRequested()) break;
        if (C == L'\n') {
            Ended = true;
            break;
        }
        if (C == 0x1A && Wide.empty()) break; // Ctrl+Z: the end of input
        if (C != L'\r') Wide.push_back(C);
    }
    Line = os::WideToUtf8(Wide);
    return Ended && !StopRequested();
}

} // namespace kivo
