// The account through the shell's and the registry's own calls, not the
// token queries the program uses.
#include "tests/common/TestAccount.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
// clang-format on

namespace kivo::test {

namespace {

std::string Narrow(const wchar_t* Text) {
    const int N = ::WideCharToMultiByte(CP_UTF8, 0, Text, -1, nullptr, 0, nullptr, nullptr);
    if (N <= 1) return std::string();
    std::string Result(static_cast<size_t>(N), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, Text, -1, Result.data(), N, nullptr, nullptr);
    Result.pop_back();
    return Result;
}

std::wstring Wide(const std::string& Text) {
    const int N = ::MultiByteToWideChar(CP_UTF8, 0, Text.c_str(), -1, nullptr, 0);
    std::wstring Result(static_cast<size_t>(N > 0 ? N : 1), L'\0');
    if (N > 0) ::MultiByteToWideChar(CP_UTF8, 0, Text.c_str(), -1, Result.data(), N);
    Result.pop_back();
    return Result;
}

// The limited token that belongs to this process's elevated one; nullptr
// when the process is not elevated or has none.
HANDLE LimitedToken(std::string& Why) {
    HANDLE Own = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &Own)) {
        Why = "cannot open the process token";
        return nullptr;
    }
    TOKEN_LINKED_TOKEN Linked{};
    DWORD Size = 0;
    const bool Got =
        ::GetTokenInformation(Own, TokenLinkedToken, &Linked, sizeof Linked, &Size) != FALSE;
    ::CloseHandle(Own);
    if (!Got) Why = "the elevated token has no limited token linked to it";
    return Got ? Linked.LinkedToken : nullptr;
}

} // namespace

std::vector<std::string> OwnArguments() {
    std::vector<std::string> Args;
    int Count = 0;
    LPWSTR* List = ::CommandLineToArgvW(::GetCommandLineW(), &Count);
    if (List == nullptr) return Args;
    for (int I = 0; I < Count; ++I)
        Args.push_back(Narrow(List[I]));
    ::LocalFree(List);
    return Args;
}

bool ProcessIsPrivileged() {
    return ::IsUserAnAdmin() != FALSE;
}

std::optional<uint32_t> RunUnprivileged(const std::vector<std::string>& Argv, std::string& Why) {
    HANDLE Token = nullptr;
    if (ProcessIsPrivileged() && (Token = LimitedToken(Why)) == nullptr) return std::nullopt;
    std::wstring Program = Wide(Argv[0]);
    for (wchar_t& C : Program)
        if (C == L'/') C = L'\\';
    // The arguments of these tests hold no quotes or blanks at their ends.
    std::wstring Line = L"\"" + Program + L"\"";
    for (size_t I = 1; I < Argv.size(); ++I) {
        const std::wstring Arg = Wide(Argv[I]);
        Line += Arg.find(L' ') == std::wstring::npos ? L" " + Arg : L" \"" + Arg + L"\"";
    }
    STARTUPINFOW Startup{};
    Startup.cb = sizeof Startup;
    PROCESS_INFORMATION Started{};
    const BOOL Ok =
        Token != nullptr
            ? ::CreateProcessAsUserW(Token, Program.c_str(), Line.data(), nullptr, nullptr, FALSE,
                                     0, nullptr, nullptr, &Startup, &Started)
            : ::CreateProcessW(Program.c_str(), Line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &Startup, &Started);
    if (Token != nullptr) ::CloseHandle(Token);
    if (!Ok) {
        Why = "cannot start " + Argv[0];
        return std::nullopt;
    }
    ::CloseHandle(Started.hThread);
    DWORD Code = 0;
    ::WaitForSingleObject(Started.hProcess, INFINITE);
    const BOOL Read = ::GetExitCodeProcess(Started.hProcess, &Code);
    ::CloseHandle(Started.hProcess);
    if (!Read) {
        Why = "cannot read the exit code of " + Argv[0];
        return std::nullopt;
    }
    return static_cast<uint32_t>(Code);
}

bool RunsUnderWine() {
    // Known by the export of its own in ntdll.
    HMODULE Ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return Ntdll != nullptr && ::GetProcAddress(Ntdll, "wine_get_version") != nullptr;
}

bool ElevatorAsksNobody() {
    return RunsUnderWine(); // Wine grants "runas" without a prompt
}

bool ElevationPromptIsOn() {
    DWORD Value = 0;
    DWORD Size = sizeof Value;
    return ::RegGetValueW(HKEY_LOCAL_MACHINE,
                          L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                          L"EnableLUA", RRF_RT_REG_DWORD, nullptr, &Value,
                          &Size) == ERROR_SUCCESS &&
           Value != 0;
}

} // namespace kivo::test
