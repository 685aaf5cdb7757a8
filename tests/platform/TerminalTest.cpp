// The terminal as programs meet it: streams that are no terminal, the window
// width, questions on the controlling terminal with and without echo, the
// end of input and Ctrl-C while a question waits, and which stop requests a
// program catches.
#include "platform/Terminal.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "tests/common/TestPty.h"

using namespace kivo;

namespace {

int Descriptor(TStandardStream Stream) {
    return Stream == ssInput ? 0 : Stream == ssOutput ? 1 : 2;
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
    bool IsTty = false;
    int Columns = 0;
    {
        test::TRedirectedStream Redirect(Descriptor(Row.Stream), Row.OnTerminal, Row.Columns);
        if (!Redirect.Ok()) GTEST_SKIP() << "no terminal of a chosen width can be made here";
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
    Terminal.Write("[ended=" + std::to_string(Ended) + " line=" + Line +
                   " stop=" + std::to_string(StopRequested()) +
                   " echo=" + std::to_string(test::StandardInputEchoes()) + "]\n");
    return 0;
}

TEST_P(TerminalPrompt, AnswersAndLeavesTheEchoOn) {
    const TPromptRow& Row = GetParam();
    if (!test::PtyAvailable()) GTEST_SKIP() << "no pseudo-terminal to type into";
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
    const std::optional<int> Status = test::RunWithoutTerminal([] {
        TTerminal Terminal;
        std::string Line = "left";
        const bool Asked = Terminal.ReadLine("Question? ", Line, false);
        return !Terminal.Available() && !Asked && Line.empty() ? 0 : 1;
    });
    if (!Status) GTEST_SKIP() << "this process cannot leave its console";
    EXPECT_EQ(*Status, 0);
}

TEST(Terminal, OnlyTheCaughtStopRequestsSetTheFlag) {
    struct TRow {
        uint8_t Caught;
        uint8_t Sent;
        int Status; // 0: the flag is set and the program goes on
    };
    const TRow Rows[] = {
        {srInterrupt, srInterrupt, 0},
        {srInterrupt | srTerminate | srHangup, srTerminate, 0},
        {srInterrupt | srTerminate | srHangup, srHangup, 0},
        {srInterrupt, srTerminate, test::StatusEndedBy(srTerminate)},
    };
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(static_cast<int>(Row.Sent));
        const std::optional<int> Status = test::RunForked([&] {
            CatchStopRequests(Row.Caught);
            if (StopRequested()) return 2;
            if (!test::RaiseStopRequest(Row.Sent)) return 3;
            return StopRequested() ? 0 : 1;
        });
        if (!Status)
            GTEST_SKIP() << "stop requests come from the console, which a test cannot send";
        EXPECT_EQ(*Status, Row.Status);
    }
}

} // namespace
