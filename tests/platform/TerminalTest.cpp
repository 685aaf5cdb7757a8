// The terminal as programs meet it: streams that are no terminal, the window
// width, questions on the controlling terminal with and without echo, the
// end of input and Ctrl-C while a question waits, and which stop requests a
// program catches.
#include "platform/Terminal.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "tests/common/TestPty.h"

using namespace kivo;

namespace {

int Descriptor(TStandardStream Stream) {
    return Stream == ssInput ? STDIN_FILENO : Stream == ssOutput ? STDOUT_FILENO : STDERR_FILENO;
}

// Points one of the process's standard streams at another file while it lives.
class TRedirect {
public:
    TRedirect(int Stream, int Target) : FStream(Stream), FSaved(::dup(Stream)) {
        ::dup2(Target, Stream);
    }
    ~TRedirect() {
        ::dup2(FSaved, FStream);
        ::close(FSaved);
    }
    TRedirect(const TRedirect&) = delete;
    TRedirect& operator=(const TRedirect&) = delete;

private:
    int FStream;
    int FSaved;
};

// A pseudo-terminal whose window is Columns wide, and /dev/null.
class TFiles {
public:
    explicit TFiles(unsigned short Columns) {
        winsize Size{};
        Size.ws_row = 24;
        Size.ws_col = Columns;
        ::openpty(&FMaster, &FTerminal, nullptr, nullptr, &Size);
        FNull = ::open("/dev/null", O_RDWR);
    }
    ~TFiles() {
        for (int Fd : {FMaster, FTerminal, FNull})
            ::close(Fd);
    }
    TFiles(const TFiles&) = delete;
    TFiles& operator=(const TFiles&) = delete;
    int Terminal() const { return FTerminal; }
    int Null() const { return FNull; }

private:
    int FMaster = -1, FTerminal = -1, FNull = -1;
};

// Runs Body in a child process: its exit status, or 128 + the signal that
// ended it (SIGALRM when it hung).
int RunForked(const std::function<int()>& Body) {
    const pid_t Pid = ::fork();
    if (Pid == 0) {
        ::alarm(30);
        ::_exit(Body());
    }
    int Status = 0;
    ::waitpid(Pid, &Status, 0);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
}

struct TWidthRow {
    TStandardStream Stream;
    bool OnTerminal;
    unsigned short Columns; // the terminal's window width, 0: not told
    int Expected;
};

class TerminalWidth : public ::testing::TestWithParam<TWidthRow> {};

TEST_P(TerminalWidth, IsTheWindowsOrTheCallersFallback) {
    const TWidthRow& Row = GetParam();
    TFiles Files(Row.Columns);
    bool IsTty = false;
    int Columns = 0;
    {
        TRedirect Redirect(Descriptor(Row.Stream),
                           Row.OnTerminal ? Files.Terminal() : Files.Null());
        IsTty = IsTerminal(Row.Stream);
        Columns = TerminalColumns(Row.Stream, 77);
    }
    EXPECT_EQ(IsTty, Row.OnTerminal);
    EXPECT_EQ(Columns, Row.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, TerminalWidth,
    ::testing::Values(TWidthRow{ssInput, false, 0, 77}, TWidthRow{ssOutput, false, 0, 77},
                      TWidthRow{ssError, false, 0, 77}, TWidthRow{ssInput, true, 132, 132},
                      TWidthRow{ssOutput, true, 100, 100}, TWidthRow{ssError, true, 50, 50},
                      TWidthRow{ssOutput, true, 0, 77}));

struct TPromptRow {
    const char* Name;
    bool Echo;
    std::string Typed;
    std::string Screen; // what the terminal shows from the prompt on
    std::string Result; // what the question returned
};

class TerminalPrompt : public ::testing::TestWithParam<TPromptRow> {};

// Asks one question the way the tools do (Ctrl-C caught) and reports the
// answer, the stop flag and whether echo is on again.
int AskOnce(bool Echo) {
    CatchStopRequests(srInterrupt);
    TTerminal Terminal;
    std::string Line;
    const bool Ended = Terminal.ReadLine("Question? ", Line, Echo);
    termios Now{};
    ::tcgetattr(STDIN_FILENO, &Now);
    Terminal.Write("[ended=" + std::to_string(Ended) + " line=" + Line +
                   " stop=" + std::to_string(StopRequested()) +
                   " echo=" + std::to_string((Now.c_lflag & ECHO) != 0) + "]\n");
    return 0;
}

TEST_P(TerminalPrompt, AnswersAndLeavesTheEchoOn) {
    const TPromptRow& Row = GetParam();
    test::TPtyResult R =
        test::RunOnPty([&] { return AskOnce(Row.Echo); }, {{"Question? ", Row.Typed}});
    EXPECT_EQ(R.Status, 0) << R.Output;
    const size_t Report = R.Output.find("[ended=");
    ASSERT_NE(Report, std::string::npos) << R.Output;
    EXPECT_EQ(R.Output.substr(0, Report), Row.Screen);
    EXPECT_EQ(R.Output.substr(Report), Row.Result + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TerminalPrompt,
    ::testing::Values(TPromptRow{"Shown", true, "answer\n", "Question? answer\r\n",
                                 "[ended=1 line=answer stop=0 echo=1]"},
                      TPromptRow{"Hidden", false, "secret\n", "Question? \r\n",
                                 "[ended=1 line=secret stop=0 echo=1]"},
                      TPromptRow{"EndOfInputAfterSomeText", false, "part\x04\x04", "Question? \r\n",
                                 "[ended=0 line=part stop=0 echo=1]"},
                      TPromptRow{"CtrlC", false, "ab\x03", "Question? \r\n",
                                 "[ended=0 line= stop=1 echo=1]"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(Terminal, WithoutAControllingTerminalNothingIsAsked) {
    const int Status = RunForked([] {
        ::setsid(); // a new session has no controlling terminal
        TTerminal Terminal;
        std::string Line = "left";
        const bool Asked = Terminal.ReadLine("Question? ", Line, false);
        return !Terminal.Available() && !Asked && Line.empty() ? 0 : 1;
    });
    EXPECT_EQ(Status, 0);
}

TEST(Terminal, OnlyTheCaughtStopRequestsSetTheFlag) {
    struct TRow {
        uint8_t Caught;
        int Signal;
        int Status; // 0: the flag is set and the program goes on
    };
    const TRow Rows[] = {
        {srInterrupt, SIGINT, 0},
        {srInterrupt | srTerminate | srHangup, SIGTERM, 0},
        {srInterrupt | srTerminate | srHangup, SIGHUP, 0},
        {srInterrupt, SIGTERM, 128 + SIGTERM},
    };
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.Signal);
        EXPECT_EQ(RunForked([&] {
                      CatchStopRequests(Row.Caught);
                      if (StopRequested()) return 2;
                      std::raise(Row.Signal);
                      return StopRequested() ? 0 : 1;
                  }),
                  Row.Status);
    }
}

} // namespace
