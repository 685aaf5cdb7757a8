// The relaunch protocol for real: this test program is its own elevated copy.
// Like the installer, it registers an action and calls CheckRunElevated while
// it starts; the tests start it again as a subprocess with the switch, with
// and without administrator rights, and look at the exit codes that come
// back and at the parameter string the action received.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "elevation/QxUtilRunElevated.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"
#include "support/StandIns.h"
#include "tests/common/TestAccount.h"
#include "tests/common/TestEnv.h"
#include "tests/common/TestFiles.h"
#include "tests/common/TestSystem.h"

using namespace kivo;
using namespace kivo::test;

namespace {

constexpr int NotRecognised = 77; // the copy went on starting normally

// A mode of the probe written as the first parameter, for elevators that
// pass no environment on: "return:<code>", "ole:<hresult>", "abort",
// "oserror", "foreign" or "unassigned".
bool IsModeWord(const std::string& Word) {
    return Word.rfind("return:", 0) == 0 || Word.rfind("ole:", 0) == 0 || Word == "abort" ||
           Word == "oserror" || Word == "foreign" || Word == "unassigned";
}

// The test action: records the parameter string, then behaves as
// KIVO_PROBE_MODE says, or else the first parameter when it is a mode.
uint32_t ProbeAction(const std::string& Parameters) {
    const char* ModeVar = std::getenv("KIVO_PROBE_MODE");
    std::string Mode = ModeVar != nullptr ? ModeVar : "return:0";
    const std::string First = Parameters.substr(0, Parameters.find(' '));
    if (ModeVar == nullptr && IsModeWord(First)) Mode = First;
    std::string Record = Parameters;
    if (Mode == "display") {
        const char* Display = std::getenv("DISPLAY");
        const char* Auth = std::getenv("XAUTHORITY");
        Record =
            std::string(Display != nullptr ? Display : "-") + "|" + (Auth != nullptr ? Auth : "-");
    }
    if (const char* Out = std::getenv("KIVO_PROBE_OUT")) {
        if (FILE* F = std::fopen(Out, "wb")) {
            std::fwrite(Record.data(), 1, Record.size(), F);
            std::fclose(F);
        }
    }
    if (Mode.rfind("return:", 0) == 0)
        return static_cast<uint32_t>(std::stoul(Mode.substr(7), nullptr, 0));
    if (Mode == "abort") throw EAbort();
    if (Mode == "oserror") throw EOSError(2);
    if (Mode.rfind("ole:", 0) == 0)
        throw EOleSysError("COM", static_cast<int32_t>(std::stoul(Mode.substr(4), nullptr, 0)));
    if (Mode == "foreign") throw 42;
    return 0;
}

// Start-up of this program, as the installer's: action, then the check. Any
// command line that carries the switch text goes through the check; a copy
// whose switch was not recognised ends with NotRecognised instead of
// running the tests again.
[[maybe_unused]] const bool ProbeStartup = [] {
    std::vector<std::string> Args = test::OwnArguments();
    bool Candidate = std::getenv("KIVO_PROBE_MODE") != nullptr;
    for (size_t i = 1; i < Args.size(); ++i)
        Candidate = Candidate || AnsiUpperCase(Args[i]).find(ElevateSwitch) != std::string::npos;
    if (!Candidate) return false;
    SetProgramArguments(Args);
    const char* Mode = std::getenv("KIVO_PROBE_MODE");
    if (Mode != nullptr && std::string(Mode) == "facts") {
        // The privilege answers of the account the copy runs under.
        const char* Out = std::getenv("KIVO_PROBE_OUT");
        WriteFile(Out != nullptr ? Out : "",
                  "admin=" + std::to_string(IsAdministrator()) +
                      " account=" + std::to_string(IsAdministratorAccount()) +
                      " elevated=" + std::to_string(IsElevated()));
        std::_Exit(0);
    }
    // Without the environment the parameters say it: "unassigned" leaves
    // the action out, "facts:limited" makes the copy see no elevation.
    bool Unassigned = Mode != nullptr && std::string(Mode) == "unassigned";
    static TStandInFacts Limited = TStandInFacts::AdministratorAccountNotElevated();
    for (size_t i = 1; i < Args.size(); ++i) {
        Unassigned = Unassigned || (Mode == nullptr && Args[i] == "unassigned");
        if (Args[i] == "facts:limited") SetAccountFacts(&Limited);
    }
    OnElevateProc = Unassigned ? nullptr : &ProbeAction;
    CheckRunElevated();
    std::_Exit(NotRecognised);
}();

std::string SwitchArg() {
    return std::string("/") + ElevateSwitch;
}

struct TCopyResult {
    uint32_t Code = 0;
    uint32_t LaunchError = 0;
    bool ActionRan = false;
    std::string Parameters;
};

// Writable for the unprivileged copy too.
class TempDir : public test::TTempDir {
public:
    TempDir() {
        std::filesystem::permissions(Path(), std::filesystem::perms::all |
                                                 std::filesystem::perms::sticky_bit);
    }
};

// Sets the probe's environment for one start.
class TProbeEnvironment {
public:
    TProbeEnvironment(const std::string& Mode, const std::string& Out) {
        SetEnvVar("KIVO_PROBE_MODE", Mode);
        if (!Out.empty()) SetEnvVar("KIVO_PROBE_OUT", Out);
    }
    ~TProbeEnvironment() {
        SetEnvVar("KIVO_PROBE_MODE", std::nullopt);
        SetEnvVar("KIVO_PROBE_OUT", std::nullopt);
    }
    TProbeEnvironment(const TProbeEnvironment&) = delete;
    TProbeEnvironment& operator=(const TProbeEnvironment&) = delete;
};

// The POSIX elevator runs a prompt program in front of the copy and hands
// the caller's display over through the result channel. The shell's "runas"
// on Windows does neither: a refused prompt fails the start itself, and the
// copy shares the caller's desktop.
#ifdef _WIN32
constexpr bool PosixElevator = false;
#else
constexpr bool PosixElevator = true;
#endif

// An elevated copy starts here without anybody being asked: directly from
// a privileged process, or through the system's elevator where it asks
// nobody.
bool ElevatedCopyPossible() {
    return ProcessIsPrivileged() || ElevatorAsksNobody();
}

// Starts Argv (the copy, possibly behind a launcher) with the result channel
// and the probe mode, and waits for it.
TCopyResult RunCopy(const std::vector<std::string>& Argv, const std::string& Mode,
                    TStartOptions Options = TStartOptions()) {
    TempDir Dir;
    std::string Out = Dir.Path() + "/params";
    Options.ResultChannel = true;
    std::unique_ptr<TChildProcess> P;
    {
        TProbeEnvironment Probe(Mode, Out);
        P = StartProcess(Argv, Options);
    }
    TCopyResult R;
    if (!P) {
        ADD_FAILURE() << "could not start " << Argv[0] << ": " << GetLastError();
        return R;
    }
    EXPECT_EQ(P->WaitFor(INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(P->GetExitCode(R.Code));
    R.LaunchError = P->LaunchError();
    R.ActionRan = FileExists(Out);
    R.Parameters = ReadFile(Out);
    return R;
}

TCopyResult RunSelf(const std::vector<std::string>& Args, const std::string& Mode) {
    std::vector<std::string> Argv{ExecutablePath()};
    Argv.insert(Argv.end(), Args.begin(), Args.end());
    return RunCopy(Argv, Mode);
}

} // namespace

// ---- exit codes of the elevated copy (run as root: elevated) ----

class ElevatedCopyAsRoot : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ProcessIsPrivileged()) GTEST_SKIP() << "needs root: the copy must run elevated";
    }
};

TEST_F(ElevatedCopyAsRoot, ActionResultBecomesTheFull32BitExitCode) {
    EXPECT_EQ(RunSelf({SwitchArg(), "x"}, "return:0").Code, 0u);
    EXPECT_EQ(RunSelf({SwitchArg(), "x"}, "return:0xDEADBEEF").Code, 0xDEADBEEFu);
    EXPECT_EQ(RunSelf({SwitchArg(), "x"}, "return:256").Code, 256u); // low byte 0, still a failure
}

TEST_F(ElevatedCopyAsRoot, ErrorsMapToTheProtocolCodes) {
    EXPECT_EQ(RunSelf({SwitchArg()}, "abort").Code, ERROR_CANCELLED);
    EXPECT_EQ(RunSelf({SwitchArg()}, "oserror").Code, ERROR_GEN_FAILURE);
    EXPECT_EQ(RunSelf({SwitchArg()}, "ole:0x80004005").Code, 0x80004005u);
    EXPECT_EQ(RunSelf({SwitchArg()}, "foreign").Code, ERROR_GEN_FAILURE);
    EXPECT_EQ(RunSelf({SwitchArg()}, "return:259").Code, ERROR_GEN_FAILURE); // never STILL_ACTIVE
    TCopyResult NoAction = RunSelf({SwitchArg(), "x"}, "unassigned");
    EXPECT_EQ(NoAction.Code, ERROR_PROC_NOT_FOUND);
    EXPECT_FALSE(NoAction.ActionRan);
}

TEST_F(ElevatedCopyAsRoot, SwitchIsRecognisedOnlyInItsTwoForms) {
    std::string Lower = AnsiLowerCase(ElevateSwitch);
    EXPECT_TRUE(RunSelf({"/" + Lower, "p"}, "return:3").ActionRan);
    EXPECT_EQ(RunSelf({"-" + std::string(ElevateSwitch), "p"}, "return:3").Code, 3u);
    EXPECT_EQ(RunSelf({"p", "/" + Lower}, "return:3").Code, 3u); // any position

    TCopyResult Bare = RunSelf({ElevateSwitch}, "return:3");
    EXPECT_EQ(Bare.Code, static_cast<uint32_t>(NotRecognised));
    EXPECT_FALSE(Bare.ActionRan);
    TCopyResult Longer = RunSelf({SwitchArg() + "0"}, "return:3");
    EXPECT_EQ(Longer.Code, static_cast<uint32_t>(NotRecognised));
    EXPECT_FALSE(Longer.ActionRan);
    EXPECT_EQ(RunSelf({"+" + std::string(ElevateSwitch)}, "return:3").Code,
              static_cast<uint32_t>(NotRecognised));
}

TEST_F(ElevatedCopyAsRoot, TakesTheDisplayOfTheCallerWhenItHasNone) {
    // pkexec clears the environment; the caller's display comes through the
    // result channel.
    if (!PosixElevator)
        GTEST_SKIP() << "no display to hand over: the elevated copy shares the caller's desktop";
    const char* Own = std::getenv("DISPLAY");
    std::optional<std::string> Saved;
    if (Own != nullptr) Saved = Own;
    TStartOptions Options;
    Options.ChannelSettings = {{"DISPLAY", ":42"}, {"XAUTHORITY", "/home/anna/.Xauthority"}};
    SetEnvVar("DISPLAY", std::nullopt);
    TCopyResult Without = RunCopy({ExecutablePath(), SwitchArg()}, "display", Options);
    SetEnvVar("DISPLAY", ":7");
    TCopyResult With = RunCopy({ExecutablePath(), SwitchArg()}, "display", Options);
    SetEnvVar("DISPLAY", Saved);
    EXPECT_EQ(Without.Parameters, ":42|/home/anna/.Xauthority");
    EXPECT_EQ(With.Parameters.substr(0, 3), ":7|"); // its own display wins
}

// ---- the copy started without elevation ----

// Runs this program with Args and the probe's Mode without privileges: its
// exit code, or nullopt with Why when that cannot be done here.
std::optional<uint32_t> RunProbeUnprivileged(const std::vector<std::string>& Args,
                                             const std::string& Mode, const std::string& Out,
                                             std::string& Why) {
    TProbeEnvironment Probe(Mode, Out);
    std::vector<std::string> Argv{ExecutablePath()};
    Argv.insert(Argv.end(), Args.begin(), Args.end());
    return RunUnprivileged(Argv, Why);
}

TEST(ElevatedCopyUnprivileged, RefusesWithAccessDeniedAndRunsNothing) {
    TempDir Dir;
    const std::string Out = Dir / "params";
    std::string Why;
    const std::optional<uint32_t> Code =
        RunProbeUnprivileged({SwitchArg(), "C:/x;/regserver"}, "return:0", Out, Why);
    if (!Code) GTEST_SKIP() << Why;
    EXPECT_EQ(*Code, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(FileExists(Out));
}

TEST(ElevatedCopyUnprivileged, SeesNeitherAdministratorNorElevation) {
    TempDir Dir;
    const std::string Out = Dir / "facts";
    std::string Why;
    const std::optional<uint32_t> Code = RunProbeUnprivileged({}, "facts", Out, Why);
    if (!Code) GTEST_SKIP() << Why;
    EXPECT_EQ(*Code, 0u);
    const std::string Facts = ReadFile(Out);
    EXPECT_NE(Facts.find(" elevated=0"), std::string::npos) << Facts;
    // Wine's limited token keeps the Administrators group enabled.
    if (!RunsUnderWine()) {
        EXPECT_NE(Facts.find("admin=0 "), std::string::npos) << Facts;
    }
    // Dropped from a privileged process: an administrator's limited token on
    // Windows keeps the Administrators group, deny-only, so the account still
    // counts; "nobody" on POSIX is in no administrative group.
    if (ProcessIsPrivileged()) {
        EXPECT_NE(Facts.find(test::OnWindows ? " account=1 " : " account=0 "), std::string::npos)
            << Facts;
    }
}

// ---- RunElevated: the parameter string survives the trip ----

// Tests whose elevated copy really runs, with ProbeAction as its action.
template <class TBase> class TElevatedCopyTest : public TBase {
protected:
    void SetUp() override {
        if (!ElevatedCopyPossible())
            GTEST_SKIP() << "needs root: the copy must run elevated without a prompt";
        OnElevateProc = &ProbeAction;
    }
    void TearDown() override { OnElevateProc = nullptr; }
};

class ParameterTrip : public TElevatedCopyTest<::testing::Test> {
protected:
    // What the action of the relaunched copy received for Parameters.
    std::string Trip(const std::string& Parameters) {
        TUseFacts NotElevated(TStandInFacts::AdministratorAccountNotElevated());
        TStandInElevator Runner;
        Runner.ThroughSystem = ElevatorAsksNobody();
        TempDir Dir;
        std::string Out = Dir.Path() + "/params";
        uint32_t Code = 0;
        {
            TProbeEnvironment Probe("return:0", Out);
            Code = RunElevated(Parameters, nullptr);
        }
        EXPECT_EQ(Code, 0u);
        EXPECT_EQ(Runner.Calls, 1);
        EXPECT_EQ(Runner.LastFile, ExecutablePath());
        EXPECT_EQ(Runner.LastParameters, SwitchArg() + " " + Parameters);
        return ReadFile(Out);
    }
};

TEST_F(ParameterTrip, FolderWithOneBlankArrivesUnchanged) {
    EXPECT_EQ(Trip("/home/anna/Public/KIVO Profile;/regserver"),
              "/home/anna/Public/KIVO Profile;/regserver");
    EXPECT_EQ(Trip("/home/anna/.local/share/KIVO/KIVO Profile;/unregserver"),
              "/home/anna/.local/share/KIVO/KIVO Profile;/unregserver");
    EXPECT_EQ(Trip("plain"), "plain");
    EXPECT_EQ(Trip(""), "");
}

TEST_F(ParameterTrip, BlankRunsTabsAndEdgesAreNormalised) {
    EXPECT_EQ(Trip("a  b;/regserver"), "a b;/regserver");
    EXPECT_EQ(Trip(" lead;/regserver"), "lead;/regserver");
    EXPECT_EQ(Trip("trail;/regserver  "), "trail;/regserver");
    EXPECT_EQ(Trip("tab\there"), "tab here");
}

TEST_F(ParameterTrip, QuotesAreConsumedByTheSplitting) {
    EXPECT_EQ(Trip("x\"y\"z"), "xyz");
    EXPECT_EQ(Trip("\"C:/KIVO Profile\";/regserver"), "\"C:/KIVO Profile;/regserver\"");
    EXPECT_EQ(Trip("a\"b c\"d"), "\"ab cd\"");
}

TEST_F(ParameterTrip, SwitchInsideTheParametersIsDropped) {
    EXPECT_EQ(Trip("a " + SwitchArg() + " b"), "a b");
    EXPECT_EQ(Trip("a -" + AnsiLowerCase(ElevateSwitch) + " b"), "a b");
}

TEST_F(ParameterTrip, PumpKeepsRunningWhileTheCopyWorks) {
    TUseFacts NotElevated(TStandInFacts::AdministratorAccountNotElevated());
    TStandInElevator Runner;
    Runner.ThroughSystem = ElevatorAsksNobody();
    int Pumped = 0;
    uint32_t Code = 0;
    {
        TProbeEnvironment Probe("return:0x80070005", "");
        Code = RunElevated("p", nullptr, [&] { ++Pumped; });
    }
    EXPECT_EQ(Code, 0x80070005u);
    EXPECT_GE(Pumped, 1); // also after the poll that saw the end
}

// ---- RunElevated: refusals, in-process runs, the precondition ----

TEST(RunElevated, RefusedStartRaisesTheCancelledOSError) {
    OnElevateProc = &ProbeAction;
    TUseFacts NotElevated(TStandInFacts::StandardUser());
    TStandInElevator Refusing;
    Refusing.RefuseWith = ERROR_CANCELLED;
    try {
        RunElevated("x;/regserver", nullptr);
        ADD_FAILURE() << "no error raised";
    } catch (const EOSError& E) {
        EXPECT_EQ(E.ErrorCode, ERROR_CANCELLED);
        EXPECT_EQ(E.Message(), EOSError(ERROR_CANCELLED).Message());
        EXPECT_EQ(E.Message().rfind("Systemfehler.  Code: 1223.\r\n", 0), 0u) << E.Message();
    }
    OnElevateProc = nullptr;
}

TEST(RunElevated, DismissedPromptOfTheLauncherRaisesCancelled) {
    // A launcher that ends as the prompt program does when the user dismisses it.
    if (!PosixElevator)
        GTEST_SKIP() << "no prompt program runs in front of the copy: the shell's runas verb "
                        "fails the start itself (RefusedStartRaisesTheCancelledOSError)";
    OnElevateProc = &ProbeAction;
    TUseFacts NotElevated(TStandInFacts::StandardUser());
    TStandInElevator Prompt;
    Prompt.Prefix = {"/bin/sh", "-c", "exit 126"};
    Prompt.PromptLauncher = true;
    try {
        RunElevated("x", nullptr, [] {});
        ADD_FAILURE() << "no error raised";
    } catch (const EOSError& E) {
        EXPECT_EQ(E.ErrorCode, ERROR_CANCELLED);
    }
    Prompt.Prefix = {"/bin/sh", "-c", "exit 127"}; // not authorised
    EXPECT_THROW(RunElevated("x", nullptr), EOSError);
    OnElevateProc = nullptr;
}

TEST(RunElevated, ElevatedCallerRunsTheActionInProcessWithUnchangedParameters) {
    static std::string Received;
    OnElevateProc = [](const std::string& P) -> uint32_t {
        Received = P;
        return 42;
    };
    TUseFacts Elevated(TStandInFacts::ElevatedAdministrator());
    TStandInElevator Never;
    EXPECT_EQ(RunElevated("  two  blanks \"q\" ", nullptr), 42u);
    EXPECT_EQ(Received, "  two  blanks \"q\" ");
    EXPECT_EQ(Never.Calls, 0);
    OnElevateProc = nullptr;
}

TEST(RunElevated, UnassignedActionIsAnAssertionNamingThisModule) {
    OnElevateProc = nullptr;
    TStandInElevator Never;
    try {
        RunElevated("x", nullptr);
        ADD_FAILURE() << "no assertion";
    } catch (const EAssertionFailed& E) {
        // Digits spelt out: the regular expressions of the test library
        // differ between the systems.
        const std::string Start = "OnElevateProc must be assigned before calling RunElevated "
                                  "(QxUtilRunElevated.cpp, Zeile ";
        const std::string Message = E.Message();
        ASSERT_EQ(Message.rfind(Start, 0), 0u) << Message;
        const std::string Line = Message.substr(Start.size());
        EXPECT_GE(Line.size(), 2u) << Message;
        EXPECT_EQ(Line.find_first_not_of("0123456789"), Line.size() - 1) << Message;
        EXPECT_EQ(Line.back(), ')') << Message;
    }
    EXPECT_EQ(Never.Calls, 0);
}

TEST(RunElevated, ThroughTheSystemPromptWhenItCanBeReached) {
    // pkexec needs the system bus and the authority daemon; as root it then
    // runs the copy without asking. The shell's "runas" asks an elevated
    // caller nothing, and Wine grants it at once.
    if (!ElevatedCopyPossible()) GTEST_SKIP() << "the prompt would wait for the user";
    OnElevateProc = &ProbeAction;
    TUseFacts NotElevated(TStandInFacts::AdministratorAccountNotElevated());
    uint32_t Code = 0;
    bool Refused = false;
    try {
        // The code travels in the parameters: pkexec clears the environment.
        Code = RunElevated("return:0x1234567 a b", nullptr, [] {});
    } catch (const EOSError& E) {
        Refused = true;
        Code = E.ErrorCode;
    }
    OnElevateProc = nullptr;
    if (Refused && Code == 50) GTEST_SKIP() << "pkexec is not installed";
    if (Refused && Code == ERROR_ACCESS_DENIED)
        GTEST_SKIP() << "pkexec cannot reach the polkit authority here";
    EXPECT_FALSE(Refused);
    EXPECT_EQ(Code, 0x1234567u);
}

// ---- RunElevated: the codes that come back from the elevated copy ----

struct TSystemTripRow {
    const char* Name;
    const char* Parameters; // the probe's mode first (the elevator may clear the environment)
    bool WithPump;
    uint32_t Code;
};

const TSystemTripRow SystemTripRows[] = {
    {"ActionResultIsTheFull32BitCode", "return:0xDEADBEEF x", true, 0xDEADBEEFu},
    {"ZeroWithoutPump", "return:0 C:/Users/Public/Documents/KIVO Profile;/regserver", false, 0},
    {"CopyThatIsNotElevatedIsAccessDenied", "return:0 facts:limited", true, ERROR_ACCESS_DENIED},
    {"OSErrorIsTheGeneralFailure", "oserror", true, ERROR_GEN_FAILURE},
    {"ForeignErrorIsTheGeneralFailure", "foreign", false, ERROR_GEN_FAILURE},
    {"StillActiveBecomesTheGeneralFailure", "return:259", true, ERROR_GEN_FAILURE},
    {"AbortIsCancelled", "abort", true, ERROR_CANCELLED},
    {"HresultTravelsUnchanged", "ole:0x80070005", false, 0x80070005u},
    {"NoActionIsProcNotFound", "unassigned", true, ERROR_PROC_NOT_FOUND},
};

// Under Wine through the shell's real "runas"; as root on Linux the copy is
// started directly with the result channel (pkexec is tested above).
class SystemTrip : public TElevatedCopyTest<::testing::TestWithParam<TSystemTripRow>> {};

TEST_P(SystemTrip, ExitCodeOfTheElevatedCopyComesBack) {
    const TSystemTripRow& Row = GetParam();
    TUseFacts NotElevated(TStandInFacts::AdministratorAccountNotElevated());
    TStandInElevator Runner;
    Runner.ThroughSystem = ElevatorAsksNobody();
    int Pumped = 0;
    const uint32_t Code = Row.WithPump ? RunElevated(Row.Parameters, nullptr, [&] { ++Pumped; })
                                       : RunElevated(Row.Parameters, nullptr);
    EXPECT_EQ(Code, Row.Code);
    EXPECT_EQ(Runner.Calls, 1);
    EXPECT_EQ(Runner.LastFile, ExecutablePath());
    EXPECT_EQ(Runner.LastParameters, SwitchArg() + " " + Row.Parameters);
    if (Row.WithPump) {
        EXPECT_GE(Pumped, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SystemTrip, ::testing::ValuesIn(SystemTripRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });
