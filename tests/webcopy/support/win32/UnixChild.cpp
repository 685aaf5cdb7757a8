#include "support/win32/UnixChild.h"

#include <windows.h>

#include "tests/common/TestFiles.h"

namespace kivo::test {

std::wstring Wide(const std::string& Text) {
    const int N =
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring Out(static_cast<size_t>(N > 0 ? N : 0), L'\0');
    if (N > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Out.data(),
                              N);
    return Out;
}

namespace {

// One argument as the command line carries it (the system's quoting rules).
std::wstring Quoted(const std::string& Arg) {
    std::wstring Out = L"\"";
    size_t Slashes = 0;
    for (wchar_t C : Wide(Arg)) {
        if (C == L'\\') {
            ++Slashes;
            continue;
        }
        Out.append(C == L'"' ? Slashes * 2 + 1 : Slashes, L'\\');
        Slashes = 0;
        Out += C;
    }
    Out.append(Slashes * 2, L'\\');
    return Out + L"\"";
}

bool StartUnix(const std::vector<std::string>& Argv) {
    std::wstring Line;
    for (const std::string& Arg : Argv)
        Line += (Line.empty() ? L"" : L" ") + Quoted(Arg);
    STARTUPINFOW Start{};
    Start.cb = sizeof Start;
    PROCESS_INFORMATION Info{};
    if (!::CreateProcessW(nullptr, Line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &Start, &Info))
        return false;
    if (Info.hProcess != nullptr) ::CloseHandle(Info.hProcess);
    if (Info.hThread != nullptr) ::CloseHandle(Info.hThread);
    return true;
}

} // namespace

std::wstring QuotedArgument(const std::string& Arg) {
    return Quoted(Arg);
}

namespace {

std::string Script() {
    return std::string(KIVO_SOURCE_DIR) + "/tests/webcopy/support/win32/unix-child.sh";
}

} // namespace

std::string UnixPath(const std::string& WindowsPath) {
    using TMapper = char*(CDECL*)(const wchar_t*);
    static const auto Map = reinterpret_cast<TMapper>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (Map == nullptr) return std::string();
    char* Unix = Map(Wide(WindowsPath).c_str());
    if (Unix == nullptr) return std::string();
    std::string Out = Unix;
    ::HeapFree(::GetProcessHeap(), 0, Unix);
    return Out;
}

bool TUnixChild::Start(const std::vector<std::string>& Argv, const std::string& Dir,
                       const std::string& Name) {
    Stop();
    FAlive = Dir + "/" + Name + ".alive";
    FOut = Dir + "/" + Name + ".out";
    WriteFile(FAlive, "");
    std::vector<std::string> All = {"/bin/sh", Script(), UnixPath(FAlive), UnixPath(FOut)};
    All.insert(All.end(), Argv.begin(), Argv.end());
    if (StartUnix(All)) return true;
    ::DeleteFileW(Wide(FAlive).c_str());
    FAlive.clear();
    return false;
}

std::string TUnixChild::WaitForLine(const std::string& Prefix, int TimeoutMs) const {
    for (int Waited = 0; Waited <= TimeoutMs; Waited += 20) {
        const std::string Text = ReadFile(FOut);
        for (size_t P = 0; P < Text.size();) {
            const size_t E = Text.find('\n', P);
            if (E == std::string::npos) break; // a line still being written
            if (Text.compare(P, Prefix.size(), Prefix) == 0)
                return Text.substr(P + Prefix.size(), E - P - Prefix.size());
            P = E + 1;
        }
        ::Sleep(20);
    }
    return std::string();
}

void TUnixChild::Stop() {
    if (FAlive.empty()) return;
    ::DeleteFileW(Wide(FAlive).c_str());
    FAlive.clear();
}

bool RunUnixShell(const std::string& Command, const std::string& Dir, int TimeoutMs) {
    const std::string Done = Dir + "/shell.status";
    ::DeleteFileW(Wide(Done).c_str());
    const std::string Wrapped = "(" + Command + "); echo $? > '" + UnixPath(Done) + "'";
    if (!StartUnix({"/bin/sh", "-c", Wrapped})) return false;
    for (int Waited = 0; Waited <= TimeoutMs; Waited += 20) {
        const std::string Status = ReadFile(Done);
        if (Status.find('\n') != std::string::npos) {
            ::DeleteFileW(Wide(Done).c_str());
            return Status == "0\n";
        }
        ::Sleep(20);
    }
    return false;
}

} // namespace kivo::test
