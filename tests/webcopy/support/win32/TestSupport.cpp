// The web copy test fixtures for the Windows build under Wine: the servers
// are the Linux tests' own, started through unix-child.sh (tests/common/UnixShell.h).
#include "support/TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <windows.h>
#include <winsock2.h>

#include "tests/common/UnixShell.h"

namespace kivo::test {

namespace {

void StartWinsock() {
    static const bool Started = [] {
        WSADATA Data{};
        return ::WSAStartup(MAKEWORD(2, 2), &Data) == 0;
    }();
    if (!Started) throw std::runtime_error("Winsock did not start");
}

sockaddr_in Loopback(int Port) {
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(static_cast<u_short>(Port));
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return A;
}

struct THandle {
    HANDLE H = INVALID_HANDLE_VALUE;
    ~THandle() {
        if (H != INVALID_HANDLE_VALUE && H != nullptr) ::CloseHandle(H);
    }
};

HANDLE OpenInheritable(const std::string& Path, bool Write) {
    SECURITY_ATTRIBUTES Inherit{sizeof Inherit, nullptr, TRUE};
    return ::CreateFileW(Wide(Path).c_str(), Write ? GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, &Inherit,
                         Write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string WithoutCarriageReturns(const std::string& Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (size_t I = 0; I < Text.size(); ++I)
        if (Text[I] != '\r' || I + 1 >= Text.size() || Text[I + 1] != '\n') Out += Text[I];
    return Out;
}

} // namespace

TTestHttpServer::TTestHttpServer(bool Tls) : FTls(Tls) {
    FSinkDir = MakeTempDir("kivo-wc-");
    TUnixChild Child;
    const std::string Script =
        UnixPath(std::string(KIVO_SOURCE_DIR) + "/tests/webcopy/http_server.py");
    std::vector<std::string> Argv = {"python3", Script, UnixPath(FSinkDir)};
    if (Tls) Argv.push_back("--tls");
    if (!Child.Start(Argv, FSinkDir, "server"))
        throw std::runtime_error("cannot start the test server");
    const std::string Port = Child.WaitForLine("PORT ", 30000);
    if (Port.empty()) throw std::runtime_error("test server did not start");
    FPort = std::atoi(Port.c_str());
    // The server ends when its marker goes (the destructor removes it).
    FStdin = 1;
    Child.Release();
}

TTestHttpServer::~TTestHttpServer() {
    ::DeleteFileW(Wide(FSinkDir + "/server.alive").c_str());
    for (int I = 0; I < 100 && Accepts(FPort); ++I)
        ::Sleep(20);
    RemoveTree(FSinkDir);
}

std::string TTestHttpServer::Url(const std::string& Path) const {
    return (FTls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(FPort) + Path;
}

std::string TTestHttpServer::RequestLog() const {
    return ReadFile(FSinkDir + "/requests.log");
}

void TTestHttpServer::ClearLog() const {
    ::DeleteFileW(Wide(FSinkDir + "/requests.log").c_str());
}

TTestHttpServer& Server() {
    static TTestHttpServer Instance;
    return Instance;
}

TTestHttpServer& TlsServer() {
    static TTestHttpServer Instance(true);
    return Instance;
}

std::string Pattern(size_t Size) {
    std::string S(Size, '\0');
    for (size_t I = 0; I < Size; ++I)
        S[I] = static_cast<char>(I % 256);
    return S;
}

bool Exists(const std::string& Path) {
    return ::GetFileAttributesW(Wide(Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int ClosedPort() {
    StartWinsock();
    const SOCKET S = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A = Loopback(0);
    ::bind(S, reinterpret_cast<sockaddr*>(&A), sizeof A);
    int L = sizeof A;
    ::getsockname(S, reinterpret_cast<sockaddr*>(&A), &L);
    const int Port = ntohs(A.sin_port);
    ::closesocket(S); // bound, never listened: connections are refused
    return Port;
}

bool Accepts(int Port) {
    StartWinsock();
    const SOCKET S = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in A = Loopback(Port);
    const bool Ok = ::connect(S, reinterpret_cast<const sockaddr*>(&A), sizeof A) == 0;
    ::closesocket(S);
    return Ok;
}

TSilentPort::TSilentPort() {
    StartWinsock();
    const SOCKET S = ::socket(AF_INET, SOCK_STREAM, 0);
    FSocket = static_cast<intptr_t>(S);
    sockaddr_in A = Loopback(0);
    int L = sizeof A;
    ::bind(S, reinterpret_cast<sockaddr*>(&A), sizeof A);
    ::listen(S, 4);
    ::getsockname(S, reinterpret_cast<sockaddr*>(&A), &L);
    FPort = ntohs(A.sin_port);
}

TSilentPort::~TSilentPort() {
    ::closesocket(static_cast<SOCKET>(FSocket));
}

// Windows has no limit on the size of a process's files.
TFileSizeLimit::TFileSizeLimit(uint64_t) {}

TFileSizeLimit::~TFileSizeLimit() = default;

bool HasProcFiles() {
    return false;
}

const TFtpListingReader& FtpListingReader() {
    static const TFtpListingReader Reader{
        false, false, false,
        "WinINet reads the listing: LIST only, and Wine's reading cuts names at a blank and puts "
        "dates without a time at noon"};
    return Reader;
}

namespace {

std::string Octal(unsigned Mode) {
    char Text[16];
    std::snprintf(Text, sizeof Text, "%o", Mode);
    return Text;
}

} // namespace

void MakeServerFolder(const std::string& Path, unsigned Mode) {
    ::CreateDirectoryW(Wide(Path).c_str(), nullptr);
    SetServerFile(Path, Mode);
}

bool WriteServerFile(const std::string& Folder, const std::string& Name, const std::string& Data,
                     unsigned Mode, int64_t Stamp) {
    // Written under a plain name, then given its own by the Unix shell.
    TTempDir Io;
    if (!WriteFile(Io / "data", Data)) return false;
    const std::string Unix = ShellQuoted(UnixPath(Folder) + "/" + Name);
    std::string Command = "cp " + ShellQuoted(UnixPath(Io / "data")) + " " + Unix + " && chmod " +
                          Octal(Mode) + " " + Unix;
    if (Stamp >= 0) Command += " && touch -d @" + std::to_string(Stamp) + " " + Unix;
    return RunUnixShell(Command, Io.Path());
}

void SetServerFile(const std::string& Path, unsigned Mode, int64_t Stamp) {
    // The permission bits are the Unix file's, set where Wine keeps it.
    const std::string Unix = ShellQuoted(UnixPath(Path));
    std::string Command = "chmod " + Octal(Mode) + " " + Unix;
    if (Stamp >= 0) Command += " && touch -d @" + std::to_string(Stamp) + " " + Unix;
    TTempDir Io;
    RunUnixShell(Command, Io.Path());
}

bool HostileReplyUndetected(const std::string& Route) {
    for (const char* Reply :
         {"/raw/reset/", "/raw/nul-header/", "/raw/huge-header/", "/raw/many-headers/"})
        if (Route.rfind(Reply, 0) == 0) return true;
    return false;
}

TRun RunProgram(const std::string& Program, const std::vector<std::string>& Args,
                const std::string& Input) {
    TTempDir Io;
    const std::string OutFile = Io / "out", ErrFile = Io / "err", InFile = Io / "in";
    WriteFile(InFile, Input);
    TRun R;
    {
        THandle In{OpenInheritable(InFile, false)}, Out{OpenInheritable(OutFile, true)},
            Err{OpenInheritable(ErrFile, true)};
        std::wstring Line = QuotedArgument(Program);
        for (const std::string& Arg : Args)
            Line += L" " + QuotedArgument(Arg);
        // Local time is UTC and messages are English, as in the Linux tests.
        ::SetEnvironmentVariableW(L"TZ", L"UTC");
        ::SetEnvironmentVariableW(L"LANG", L"C");
        STARTUPINFOW Start{};
        Start.cb = sizeof Start;
        Start.dwFlags = STARTF_USESTDHANDLES;
        Start.hStdInput = In.H;
        Start.hStdOutput = Out.H;
        Start.hStdError = Err.H;
        PROCESS_INFORMATION Info{};
        if (::CreateProcessW(nullptr, Line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &Start, &Info)) {
            ::WaitForSingleObject(Info.hProcess, INFINITE);
            DWORD Code = 0;
            ::GetExitCodeProcess(Info.hProcess, &Code);
            R.Status = static_cast<int>(Code);
            ::CloseHandle(Info.hProcess);
            ::CloseHandle(Info.hThread);
        }
    }
    // Console programs end their lines with CR LF here; the tests compare lines.
    R.Out = WithoutCarriageReturns(ReadFile(OutFile));
    R.Err = WithoutCarriageReturns(ReadFile(ErrFile));
    return R;
}

} // namespace kivo::test
