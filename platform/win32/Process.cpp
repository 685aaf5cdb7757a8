// Processes on Windows: CreateProcessW for programs, the shell's "runas" and
// "open" verbs through ShellExecuteExW, waits and exit codes on the process
// handle. Exit codes are 32 bits here, so no result channel is needed: the
// options that exist for it are ignored.
#include "platform/Process.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
// The file services below have names the Windows headers define as macros.
#undef DeleteFile

#include "platform/FileSystem.h"
#include "platform/SystemServices.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"
#include "runtime/win32/WideText.h"

namespace kivo {

namespace {

// The shell's results: SE_ERR_* from shellapi.h, and one for a start.
constexpr intptr_t ShellStarted = 42;
constexpr DWORD ExitGeneralFailure = 31; // ERROR_GEN_FAILURE

// The path as the system's own tools write it: backslashes, no "\\?\".
std::wstring SystemPath(const std::string& Path) {
    std::wstring Wide = os::Utf8ToWide(Path);
    for (wchar_t& C : Wide)
        if (C == L'/') C = L'\\';
    return Wide;
}

// One argument as CommandLineToArgvW and the C runtime take it apart again:
// quoted when it is empty or holds blanks or quotes; a quote inside is
// escaped by a backslash, and backslashes before a quote are doubled.
std::wstring QuoteArgument(std::wstring_view Arg) {
    if (!Arg.empty() && Arg.find_first_of(L" \t\n\v\"") == std::wstring_view::npos)
        return std::wstring(Arg);
    std::wstring Quoted = L"\"";
    size_t Backslashes = 0;
    for (wchar_t C : Arg) {
        if (C == L'\\') {
            ++Backslashes;
            continue;
        }
        Quoted.append(C == L'"' ? Backslashes * 2 + 1 : Backslashes, L'\\');
        Backslashes = 0;
        Quoted.push_back(C);
    }
    Quoted.append(Backslashes * 2, L'\\');
    Quoted.push_back(L'"');
    return Quoted;
}

// The command line for Argv: the program's path in quotes (the system reads
// the first argument without escapes), then the arguments.
std::wstring CommandLineOf(const std::vector<std::string>& Argv) {
    std::wstring Line = L"\"" + SystemPath(Argv[0]) + L"\"";
    for (size_t I = 1; I < Argv.size(); ++I)
        Line += L" " + QuoteArgument(os::Utf8ToWide(Argv[I]));
    return Line;
}

class TWin32ChildProcess final : public TChildProcess {
public:
    explicit TWin32ChildProcess(HANDLE AProcess) : FProcess(AProcess) {}
    ~TWin32ChildProcess() override { ::CloseHandle(FProcess); }

    TProcessId Pid() const override { return static_cast<TProcessId>(::GetProcessId(FProcess)); }

    bool GetExitCode(uint32_t& Code) override {
        DWORD Exit = 0;
        if (!::GetExitCodeProcess(FProcess, &Exit)) return false;
        if (Exit == STILL_ACTIVE && ::WaitForSingleObject(FProcess, 0) == WAIT_OBJECT_0) {
            // It ended after the first look: read the code again. A program
            // that ended with 259 would look as if it still ran.
            if (!::GetExitCodeProcess(FProcess, &Exit)) return false;
            if (Exit == STILL_ACTIVE) Exit = ExitGeneralFailure;
        }
        Code = Exit;
        return true;
    }

    uint32_t WaitFor(uint32_t TimeoutMs) override {
        switch (::WaitForSingleObject(FProcess, TimeoutMs)) {
        case WAIT_OBJECT_0: return WAIT_OBJECT_0;
        case WAIT_TIMEOUT: return WAIT_TIMEOUT;
        default: return WAIT_FAILED;
        }
    }

    // A refused prompt fails the start itself: nothing to report here.
    uint32_t LaunchError() const override { return 0; }

private:
    HANDLE FProcess;
};

// The "runas" verb of the shell: the system's elevation prompt, then the
// program with a full administrator token.
class TShellElevator final : public IElevator {
public:
    std::unique_ptr<TChildProcess> RunAs(const std::string& File, const std::string& Parameters,
                                         TWindowHandle Window) override {
        const std::wstring WideFile = SystemPath(File);
        const std::wstring WideParameters = os::Utf8ToWide(Parameters);
        SHELLEXECUTEINFOW Info{};
        Info.cbSize = sizeof Info;
        Info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_UNICODE;
        Info.hwnd = static_cast<HWND>(Window);
        Info.lpVerb = L"runas";
        Info.lpFile = WideFile.c_str();
        Info.lpParameters = WideParameters.c_str();
        Info.nShow = SW_SHOWNORMAL;
        if (!::ShellExecuteExW(&Info)) {
            SetLastError(::GetLastError());
            return nullptr;
        }
        if (Info.hProcess == nullptr) {
            // The shell handed the start to a running program: nothing to
            // wait for, and no exit code would come back.
            SetLastError(ExitGeneralFailure);
            return nullptr;
        }
        return std::make_unique<TWin32ChildProcess>(Info.hProcess);
    }
};

// The shell's result for a failed start, from the error the system left.
intptr_t ShellResultOf(const SHELLEXECUTEINFOW& Info) {
    const auto Result = reinterpret_cast<intptr_t>(Info.hInstApp);
    if (Result > 0 && Result <= 32) return Result;
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND: return SE_ERR_FNF;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY: return SE_ERR_PNF;
    case ERROR_ACCESS_DENIED: return SE_ERR_ACCESSDENIED;
    case ERROR_BAD_FORMAT:
    case ERROR_BAD_EXE_FORMAT: return 11;
    default: return SE_ERR_NOASSOC;
    }
}

// Opens File through the shell with "open" and does not wait.
intptr_t ShellOpen(const std::string& File, const std::string& Parameters,
                   const std::string& Directory, int ShowCmd) {
    if (File.empty()) return SE_ERR_FNF;
    if (!Directory.empty() && !DirectoryExists(Directory)) return SE_ERR_PNF;
    const std::wstring WideFile = SystemPath(File);
    const std::wstring WideParameters = os::Utf8ToWide(Parameters);
    const std::wstring WideDirectory = SystemPath(Directory);
    SHELLEXECUTEINFOW Info{};
    Info.cbSize = sizeof Info;
    // No error boxes of the shell's own; the start is complete on return.
    Info.fMask = SEE_MASK_UNICODE | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    Info.lpVerb = L"open";
    Info.lpFile = WideFile.c_str();
    Info.lpParameters = WideParameters.empty() ? nullptr : WideParameters.c_str();
    Info.lpDirectory = WideDirectory.empty() ? nullptr : WideDirectory.c_str();
    Info.nShow = ShowCmd;
    return ::ShellExecuteExW(&Info) ? ShellStarted : ShellResultOf(Info);
}

// Whether the shell's "open" would run File as a program: its extension is
// one of those in PATHEXT.
bool IsProgramFile(const std::string& File) {
    const std::string Ext = AnsiUpperCase(ExtractFileExt(File));
    if (Ext.size() < 2 || !FileExists(File)) return false;
    const char* Listed = std::getenv("PATHEXT");
    const std::string Extensions =
        ";" + AnsiUpperCase(Listed != nullptr && *Listed != '\0' ? Listed : ".COM;.EXE;.BAT;.CMD") +
        ";";
    return Extensions.find(";" + Ext + ";") != std::string::npos || Ext == ".SCR" ||
           Ext == ".PIF" || Ext == ".MSI" || Ext == ".LNK";
}

} // namespace

std::unique_ptr<TChildProcess> StartProcess(const std::vector<std::string>& Argv,
                                            const TStartOptions& Options) {
    if (Argv.empty() || Argv[0].empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    const std::wstring Program = SystemPath(Argv[0]);
    std::wstring Line = CommandLineOf(Argv);
    const std::wstring Directory = SystemPath(Options.Directory);
    STARTUPINFOW Startup{};
    Startup.cb = sizeof Startup;
    PROCESS_INFORMATION Started{};
    if (!::CreateProcessW(Program.c_str(), Line.data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT, nullptr,
                          Directory.empty() ? nullptr : Directory.c_str(), &Startup, &Started)) {
        SetLastError(::GetLastError());
        return nullptr;
    }
    ::CloseHandle(Started.hThread);
    return std::make_unique<TWin32ChildProcess>(Started.hProcess);
}

IElevator& SystemElevator() {
    static TShellElevator System;
    return System;
}

std::vector<std::pair<std::string, std::string>> DisplaySettings() {
    return {};
}

intptr_t ShellExecuteOpen(const std::string& File, const std::string& Parameters,
                          const std::string& Directory, int ShowCmd) {
    if (!File.empty() && !PathExists(File)) {
        const std::string Parent = ExtractFileDir(File);
        return !Parent.empty() && !DirectoryExists(Parent) ? SE_ERR_PNF : SE_ERR_FNF;
    }
    return ShellOpen(File, Parameters, Directory, ShowCmd);
}

intptr_t ShellOpenDocument(const std::string& File, const std::string& Directory) {
    if (!File.empty() && !PathExists(File)) return SE_ERR_FNF;
    // "open" would start a program: show the folder that holds it instead.
    const std::string Target = IsProgramFile(File) ? ExtractFileDir(File) : File;
    return ShellOpen(Target, "", Directory, SW_SHOWNORMAL);
}

void AdoptParentDisplay() {}

bool HasResultChannel() {
    return false;
}

void TerminateCurrentProcess(uint32_t ExitCode) {
    std::fflush(nullptr);
    ::TerminateProcess(::GetCurrentProcess(), ExitCode);
    // Not reached: the process ends inside the call above.
    std::_Exit(static_cast<int>(ExitCode));
}

} // namespace kivo
