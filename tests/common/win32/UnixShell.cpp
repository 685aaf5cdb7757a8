// Unix programs started by a test under Wine through CreateProcessW, with
// files in place of the pipes and the process handle Wine does not give.
#include "tests/common/UnixShell.h"

#include <cctype>
#include <cstdlib>
#include <string_view>
#include <windows.h>

#include "runtime/win32/WideText.h"
#include "tests/common/TestFiles.h"

namespace kivo::test {

std::wstring Wide(const std::string& Text) {
    return os::Utf8ToWide(Text);
}

std::wstring QuotedArgument(const std::string& Arg) {
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

namespace {

// Starts the Unix program Argv[0]; Wine gives back no handle to wait on.
bool StartUnix(const std::vector<std::string>& Argv) {
    std::wstring Line;
    for (const std::string& Arg : Argv)
        Line += (Line.empty() ? L"" : L" ") + QuotedArgument(Arg);
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

void Remove(const std::string& Path) {
    ::DeleteFileW(Wide(Path).c_str());
}

// The script that keeps a server's input open, as /bin/sh reads it.
std::string ChildScript() {
    return UnixPath(std::string(KIVO_SOURCE_DIR) + "/tests/common/win32/unix-child.sh");
}

// The Unix folder of a drive's root, ending in '/'; empty for a drive Wine
// does not map.
std::string DriveRoot(char Letter) {
    static std::string Roots[26];
    static bool Known[26] = {};
    const int I = std::toupper(static_cast<unsigned char>(Letter)) - 'A';
    if (!Known[I]) {
        Roots[I] = UnixPath(std::string(1, static_cast<char>('A' + I)) + ":\\");
        if (!Roots[I].empty() && Roots[I].back() != '/') Roots[I] += '/';
        Known[I] = true;
    }
    return Roots[I];
}

} // namespace

std::string ShellQuoted(const std::string& Text) {
    std::string Out = "'";
    for (char C : Text)
        Out += C == '\'' ? std::string("'\\''") : std::string(1, C);
    return Out + "'";
}

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

std::string UnixCommand(const std::string& Command) {
    constexpr std::string_view WordStart = " \t\n'\"=(<>|;&";
    std::string Out;
    for (size_t I = 0; I < Command.size(); ++I) {
        const bool AtWord = I == 0 || WordStart.find(Command[I - 1]) != std::string_view::npos;
        if (AtWord && I + 2 < Command.size() &&
            std::isalpha(static_cast<unsigned char>(Command[I])) && Command[I + 1] == ':' &&
            Command[I + 2] == '/') {
            const std::string Root = DriveRoot(Command[I]);
            if (!Root.empty()) {
                Out += Root;
                I += 2; // past ":/"
                continue;
            }
        }
        Out += Command[I];
    }
    return Out;
}

bool TUnixChild::Start(const std::vector<std::string>& Argv, const std::string& Dir,
                       const std::string& Name) {
    Stop();
    FAlive = Dir + "/" + Name + ".alive";
    FOut = Dir + "/" + Name + ".out";
    WriteFile(FAlive, "");
    std::vector<std::string> All = {"/bin/sh", ChildScript(), UnixPath(FAlive), UnixPath(FOut)};
    All.insert(All.end(), Argv.begin(), Argv.end());
    if (StartUnix(All)) return true;
    Remove(FAlive);
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
    Remove(FAlive);
    FAlive.clear();
}

int RunUnixShellStatus(const std::string& Command, const std::string& Dir, std::string* Output,
                       int TimeoutMs) {
    const std::string Done = Dir + "/shell.status";
    const std::string Out = Dir + "/shell.out";
    Remove(Done);
    Remove(Out);
    // The status is written to a file of its own name first and then
    // renamed: a reader sees all of it or nothing.
    const std::string UnixDone = UnixPath(Done);
    const std::string Redirect = Output != nullptr ? " >" + ShellQuoted(UnixPath(Out)) : "";
    const std::string Wrapped = "(" + Command + ")" + Redirect + "; echo $? >" +
                                ShellQuoted(UnixDone + ".new") + " && mv -f " +
                                ShellQuoted(UnixDone + ".new") + " " + ShellQuoted(UnixDone);
    if (!StartUnix({"/bin/sh", "-c", Wrapped})) return -1;
    const ULONGLONG Until = ::GetTickCount64() + static_cast<ULONGLONG>(TimeoutMs);
    for (DWORD Pause = 1;; Pause = Pause < 16 ? Pause * 2 : Pause) {
        const std::string Status = ReadFile(Done);
        if (!Status.empty()) {
            Remove(Done);
            if (Output != nullptr) *Output = ReadFile(Out);
            Remove(Out);
            return std::atoi(Status.c_str());
        }
        if (::GetTickCount64() >= Until) return -1;
        ::Sleep(Pause);
    }
}

bool RunUnixShell(const std::string& Command, const std::string& Dir, int TimeoutMs) {
    return RunUnixShellStatus(Command, Dir, nullptr, TimeoutMs) == 0;
}

} // namespace kivo::test
