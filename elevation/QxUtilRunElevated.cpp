#include "elevation/QxUtilRunElevated.h"

#include <memory>

#include "platform/Process.h"
#include "platform/Security.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"

namespace kivo {

TElevateProc OnElevateProc = nullptr;

const char* const ElevateSwitch = "7E3A91D04F2B48C6A5D1903E6B8C2F47";

namespace {

constexpr uint32_t StillActive = STILL_ACTIVE;

// "/" or "-" followed by the switch, any letter case, nothing more.
bool IsSwitchArgument(const std::string& Arg) {
    if (Arg.empty() || (Arg[0] != '/' && Arg[0] != '-')) return false;
    return AnsiUpperCase(std::string_view(Arg).substr(1)) == ElevateSwitch;
}

// Removes leading and trailing blanks and control characters.
std::string TrimBlanks(const std::string& Text) {
    size_t First = 0;
    size_t Last = Text.size();
    while (First < Last && static_cast<unsigned char>(Text[First]) <= ' ')
        ++First;
    while (Last > First && static_cast<unsigned char>(Text[Last - 1]) <= ' ')
        --Last;
    return Text.substr(First, Last - First);
}

} // namespace

// The action always runs elevated: here when this process already is, else
// in a second copy of the program started through the elevation prompt.
//
// The copy is the running executable itself, started with "/" + switch and
// the parameter string. Its exit code comes back as a full 32-bit Windows
// code: 0 or the action's own result, 5 when the copy did not run elevated,
// 31 for a failure, 127 without an action, 1223 when the action gave up. A
// prompt the user dismissed raises EOSError 1223 here instead, since no copy
// ran at all. While waiting with a pump, the caller's own handlers may run
// again; the wait never spins a core: it sleeps in the kernel between
// polls.
uint32_t RunElevated(const std::string& Parameters, TWindowHandle Window,
                     const TMessagePump& MessagePump) {
    KIVO_ASSERT(OnElevateProc != nullptr,
                "OnElevateProc must be assigned before calling RunElevated");

    if (IsElevated())
        return OnElevateProc != nullptr ? OnElevateProc(Parameters) : ERROR_PROC_NOT_FOUND;

    // The parameters follow the switch unchanged; the copy's command-line
    // splitting takes them apart again and CollectElevatedParams joins them.
    std::string CommandLine = Format("/%s %s", ElevateSwitch, Parameters.c_str());
    std::unique_ptr<TChildProcess> Process =
        Elevator().RunAs(ExecutablePath(), CommandLine, Window);
    if (!Process) RaiseLastOSError();

    uint32_t Code = ERROR_GEN_FAILURE;
    if (MessagePump) {
        // Keep the caller's windows alive: poll, pump, and sleep in the
        // kernel until the copy ends or a short slice has passed.
        do {
            if (!Process->GetExitCode(Code)) Code = ERROR_GEN_FAILURE;
            MessagePump();
            if (Code == StillActive) Process->WaitFor(15);
        } while (Code == StillActive);
    } else if (Process->WaitFor(INFINITE) == WAIT_OBJECT_0) {
        if (!Process->GetExitCode(Code)) Code = ERROR_GEN_FAILURE;
    }
    // The elevation prompt was refused: the copy never ran.
    if (Process->LaunchError() != 0) RaiseLastOSError(Process->LaunchError());
    return Code;
}

void CheckRunElevated() {
    bool Found = false;
    for (int i = 1; i <= ParamCount() && !Found; ++i)
        Found = IsSwitchArgument(ParamStr(i));
    if (!Found) return;

    // The relaunching copy may have sent its display along.
    AdoptParentDisplay();

    uint32_t Code = ERROR_GEN_FAILURE;
    try {
        if (!IsElevated())
            Code = ERROR_ACCESS_DENIED;
        else if (OnElevateProc == nullptr)
            Code = ERROR_PROC_NOT_FOUND;
        else
            Code = OnElevateProc(CollectElevatedParams());
    } catch (const EAbort&) {
        Code = ERROR_CANCELLED;
    } catch (const EOleSysError& E) {
        Code = static_cast<uint32_t>(E.ErrorCode);
    } catch (...) {
        // Every other failure, foreign ones included, is the general code:
        // nothing may escape from the program's start-up.
        Code = ERROR_GEN_FAILURE;
    }
    if (Code == StillActive) Code = ERROR_GEN_FAILURE;
    TerminateCurrentProcess(Code);
}

std::string CollectElevatedParams() {
    std::string Result;
    for (int i = 1; i <= ParamCount(); ++i) {
        std::string Upper = AnsiUpperCase(ParamStr(i));
        if (Upper == std::string("/") + ElevateSwitch || Upper == std::string("-") + ElevateSwitch)
            continue;
        Result += QuoteParamIfSpaced(i) + " ";
    }
    return TrimBlanks(Result);
}

std::string QuoteParamIfSpaced(int Index) {
    std::string Arg = ParamStr(Index);
    if (Arg.find(' ') == std::string::npos) return Arg;
    std::string Quoted = "\"";
    for (char C : Arg) {
        Quoted += C;
        if (C == '"') Quoted += '"';
    }
    return Quoted + "\"";
}

bool IsAdministrator() {
    return AccountFacts().TokenIsEnabledAdministrator();
}

bool IsAdministratorAccount() {
    return AccountFacts().TokenHasAdministratorsGroup();
}

bool IsUacEnabled() {
    IAccountFacts& Facts = AccountFacts();
    return Facts.ElevationSupported() && Facts.ElevationPromptEnabled();
}

bool IsElevated() {
    IAccountFacts& Facts = AccountFacts();
    if (!Facts.ElevationSupported()) return Facts.TokenIsEnabledAdministrator();
    return Facts.TokenIsElevated();
}

bool SetElevationShield(TWindowHandle Button) {
    if (!AccountFacts().ElevationSupported() || IsElevated()) return false;
    UserInterface().SendMessage(Button, BCM_SETSHIELD, 0, static_cast<intptr_t>(0xFFFFFFFF));
    return true;
}

} // namespace kivo
