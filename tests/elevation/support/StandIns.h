// Stand-ins for the platform services the elevation support and the
// installer depend on: account facts, the elevator and the user interface.
// Each installs itself on construction and restores the previous service
// when it goes out of scope.
#pragma once

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "platform/Security.h"
#include "platform/UserInterface.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"

namespace kivo::test {

// Account facts as a Windows token would report them.
class TStandInFacts : public IAccountFacts {
public:
    bool Supported = true;     // Windows 6.0 or later
    bool EnabledAdmin = false; // enabled member of Administrators
    bool AdminGroup = false;   // Administrators among the groups, any state
    bool Elevated = false;
    bool Prompt = true; // the UAC policy value is set

    static TStandInFacts ElevatedAdministrator() {
        TStandInFacts F;
        F.EnabledAdmin = F.AdminGroup = F.Elevated = true;
        return F;
    }
    static TStandInFacts AdministratorAccountNotElevated() {
        TStandInFacts F;
        F.AdminGroup = true; // deny-only under UAC
        return F;
    }
    static TStandInFacts StandardUser() { return TStandInFacts(); }

    bool ElevationSupported() override { return Supported; }
    bool TokenIsEnabledAdministrator() override { return EnabledAdmin; }
    bool TokenHasAdministratorsGroup() override { return AdminGroup; }
    bool TokenIsElevated() override { return Elevated; }
    bool ElevationPromptEnabled() override { return Prompt; }
};

class TUseFacts {
public:
    explicit TUseFacts(TStandInFacts F) : FFacts(F), FPrevious(SetAccountFacts(&FFacts)) {}
    ~TUseFacts() { SetAccountFacts(FPrevious); }
    TUseFacts(const TUseFacts&) = delete;
    TUseFacts& operator=(const TUseFacts&) = delete;

private:
    TStandInFacts FFacts;
    IAccountFacts* FPrevious;
};

// An elevator that refuses with a code, or runs the copy directly (no
// prompt) with the result channel, optionally as another program, or hands
// the start on to the system's elevator.
class TStandInElevator final : public IElevator {
public:
    uint32_t RefuseWith = 0;         // non-zero: fail the start with this code
    std::string Program;             // empty: the file RunAs was given
    std::vector<std::string> Prefix; // e.g. a launcher that runs in front
    bool PromptLauncher = false;
    bool ThroughSystem = false; // record the call, then ask the system's elevator
    int Calls = 0;
    std::string LastFile, LastParameters;

    TStandInElevator() : FPrevious(SetElevator(this)) {}
    ~TStandInElevator() override { SetElevator(FPrevious); }
    TStandInElevator(const TStandInElevator&) = delete;
    TStandInElevator& operator=(const TStandInElevator&) = delete;

    std::unique_ptr<TChildProcess> RunAs(const std::string& File, const std::string& Parameters,
                                         TWindowHandle Window) override {
        ++Calls;
        LastFile = File;
        LastParameters = Parameters;
        if (RefuseWith != 0) {
            SetLastError(RefuseWith);
            return nullptr;
        }
        if (ThroughSystem) {
            IElevator* Self = SetElevator(nullptr);
            std::unique_ptr<TChildProcess> Copy = Elevator().RunAs(File, Parameters, Window);
            SetElevator(Self);
            return Copy;
        }
        std::vector<std::string> Argv = Prefix;
        Argv.push_back(Program.empty() ? File : Program);
        for (std::string& A : SplitCommandLine(Parameters))
            Argv.push_back(std::move(A));
        TStartOptions Options;
        Options.ResultChannel = true;
        Options.PromptLauncher = PromptLauncher;
        return StartProcess(Argv, Options);
    }

private:
    IElevator* FPrevious;
};

// Records every box, dialog and window message and answers as told.
class TStandInUserInterface final : public IUserInterface {
public:
    struct TBox {
        std::string Text, Caption;
        uint32_t Style;
    };
    struct TDlg {
        std::string Msg;
        TMsgDlgType Type;
        TMsgDlgButtons Buttons;
    };
    struct TMsg {
        TWindowHandle Window;
        uint32_t Msg;
        uintptr_t WParam;
        intptr_t LParam;
    };
    std::vector<TBox> Boxes;
    std::vector<TDlg> Dialogs;
    std::vector<TMsg> Messages;
    std::vector<std::string> Order; // "box:<caption>" / "dlg:<caption>" in the order shown
    int32_t DlgAnswer = mrYes;
    std::function<void()> OnShow; // runs while a box or dialog is "open"

    TStandInUserInterface() : FPrevious(SetUserInterface(this)) {}
    ~TStandInUserInterface() override { SetUserInterface(FPrevious); }
    TStandInUserInterface(const TStandInUserInterface&) = delete;
    TStandInUserInterface& operator=(const TStandInUserInterface&) = delete;

    int32_t MessageBox(TWindowHandle, const std::string& Text, const std::string& Caption,
                       uint32_t Style) override {
        Boxes.push_back({Text, Caption, Style});
        Order.push_back("box:" + Caption);
        if (OnShow) OnShow();
        return IDOK;
    }
    int32_t MessageDlg(const std::string& Msg, TMsgDlgType Type, TMsgDlgButtons Buttons) override {
        Dialogs.push_back({Msg, Type, Buttons});
        Order.push_back(std::string("dlg:") + MsgDlgCaption(Type));
        if (OnShow) OnShow();
        return DlgAnswer;
    }
    intptr_t SendMessage(TWindowHandle Window, uint32_t Msg, uintptr_t WParam,
                         intptr_t LParam) override {
        Messages.push_back({Window, Msg, WParam, LParam});
        return 0;
    }

private:
    IUserInterface* FPrevious;
};

} // namespace kivo::test
