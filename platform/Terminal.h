// The terminal: whether the standard streams are terminals and how wide the
// window is, questions to the user on the controlling terminal, and the
// user's requests to stop a running program. POSIX implementation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kivo {

enum TStandardStream : uint8_t { ssInput, ssOutput, ssError };

// Whether Stream is connected to a terminal.
bool IsTerminal(TStandardStream Stream);
// The width in columns of the terminal window Stream is connected to;
// Fallback when Stream is no terminal or the terminal does not tell.
int TerminalColumns(TStandardStream Stream, int Fallback);

// Makes a console show the program's output as it is meant: UTF-8 text and
// the escape sequences of a terminal. On Windows the console's output code
// page becomes UTF-8 until the program ends, and the console's handling of
// escape sequences is switched on; POSIX terminals need nothing.
void PrepareConsoleOutput();
// Standard output passes bytes unchanged from now on (Windows' C runtime
// otherwise turns each LF into CR LF); nothing to do on POSIX.
void SetBinaryStandardOutput();

// Requests to stop the program, combined as a set of bits.
enum TStopRequest : uint8_t {
    srInterrupt = 1, // Ctrl-C
    srTerminate = 2, // a request to end the process
    srHangup = 4,    // the terminal went away
};
// From now on the requests in Requests no longer end the process: each one
// sets the flag StopRequested reports, and a terminal read or write that is
// waiting gives up.
void CatchStopRequests(uint8_t Requests);
bool StopRequested();

// The controlling terminal, for questions to the user even when the
// standard streams are redirected.
class TTerminal {
public:
    // Opens the controlling terminal; Available tells whether there is one.
    TTerminal();
    ~TTerminal();
    TTerminal(const TTerminal&) = delete;
    TTerminal& operator=(const TTerminal&) = delete;

    bool Available() const { return FHandle >= 0; }
    // Writes Text; gives up on an error or once a stop was requested.
    void Write(std::string_view Text) const;
    // Shows Prompt and reads one line into Line, without its end (carriage
    // returns are dropped). True when the line was ended with Enter; false at
    // the end of input, on an error or once a stop was requested, with what
    // was typed so far in Line. Without Echo (passwords) typed characters do
    // not show: echo goes off before the prompt appears and comes back on
    // every path, followed by a line end.
    bool ReadLine(std::string_view Prompt, std::string& Line, bool Echo) const;

private:
    // Reads up to the line end; the result as ReadLine's.
    bool ReadRawLine(std::string& Line) const;

    int FHandle = -1;
};

} // namespace kivo
