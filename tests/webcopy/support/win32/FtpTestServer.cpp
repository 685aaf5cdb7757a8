// The FTP test servers for the Windows build under Wine: the Linux tests'
// vsftpd and Python servers, started through unix-child.sh (tests/common/UnixShell.h).
#include "support/FtpTestServer.h"

#include <cstdlib>
#include <windows.h>

#include "support/TestSupport.h"
#include "tests/common/TestFiles.h"
#include "tests/common/UnixShell.h"

namespace kivo::test {

namespace {

void MakeFolder(const std::string& Path) {
    ::CreateDirectoryW(Wide(Path).c_str(), nullptr);
}

} // namespace

TTestFtpServer::TTestFtpServer(TFtpServerKind Kind) : FKind(Kind) {
    FDir = MakeTempDir("kivo-ftp-");
    FAnonRoot = FDir + "/anon";
    FUserRoot = FDir + "/user";
    for (const std::string& Folder : {FAnonRoot, FUserRoot, FDir + "/empty"})
        MakeFolder(Folder);
    // The test account writes to its folder; the anonymous one only reads.
    const std::string Dir = ShellQuoted(UnixPath(FDir));
    RunUnixShell("chmod 755 " + Dir + " " + Dir + "/anon " + Dir + "/empty && chmod 777 " + Dir +
                     "/user",
                 FDir);
    if (Kind == fskVsftpd) {
        if (!RunUnixShell(std::string("[ \"$(id -u)\" = 0 ]"), FDir))
            FSkipReason = "vsftpd needs root";
        else if (!RunUnixShell(std::string("id ") + FtpTestUser + " >/dev/null 2>&1", FDir))
            FSkipReason = "no test account (scripts/test-accounts)";
        else if (!RunUnixShell("[ -x /usr/sbin/vsftpd ]", FDir))
            FSkipReason = "vsftpd is not installed";
        else if (!StartVsftpd())
            FSkipReason = "vsftpd did not start";
    } else if (!StartPython()) {
        FSkipReason = "the Python FTP server did not start (python3-pyftpdlib)";
    }
}

TTestFtpServer::~TTestFtpServer() {
    Stop();
    RemoveTree(FDir);
}

bool TTestFtpServer::StartVsftpd() {
    const std::string Config = FDir + "/vsftpd.conf";
    for (int Attempt = 0; Attempt < 5; ++Attempt) {
        const int Port = ClosedPort();
        WriteFile(Config,
                  VsftpdConfig(UnixPath(FDir), UnixPath(FAnonRoot), UnixPath(FUserRoot), Port));
        TUnixChild Child;
        if (!Child.Start({"/usr/sbin/vsftpd", UnixPath(Config)}, FDir, "server")) return false;
        for (int I = 0; I < 250; ++I) {
            if (Accepts(Port)) {
                Child.Release(); // Stop() removes its marker
                FPid = 1;
                FPort = Port;
                return true;
            }
            ::Sleep(20);
        }
    }
    return false;
}

bool TTestFtpServer::StartPython() {
    const std::string Script =
        UnixPath(std::string(KIVO_SOURCE_DIR) + "/tests/webcopy/ftp_server.py");
    TUnixChild Child;
    // Debian's interpreter, which has the server library.
    if (!Child.Start({"/usr/bin/python3", Script, UnixPath(FAnonRoot)}, FDir, "server"))
        return false;
    const std::string Port = Child.WaitForLine("PORT ", 30000);
    if (Port.empty()) return false;
    Child.Release();
    FPid = 1;
    FPort = std::atoi(Port.c_str());
    return true;
}

void TTestFtpServer::Stop() {
    if (FPid <= 0) return;
    ::DeleteFileW(Wide(FDir + "/server.alive").c_str());
    for (int I = 0; I < 100 && Accepts(FPort); ++I)
        ::Sleep(20);
    FPid = -1;
}

std::string TTestFtpServer::Log() const {
    return ReadFile(FKind == fskVsftpd ? FDir + "/vsftpd.log" : FDir + "/commands.log");
}

int TTestFtpServer::Logins() const {
    return FKind == fskVsftpd ? CountFtpLogLines(Log(), "OK LOGIN")
                              : CountFtpLogLines(Log(), "PASS");
}

TTestFtpServer& Vsftpd() {
    static TTestFtpServer Instance(fskVsftpd);
    return Instance;
}

TTestFtpServer& PythonFtp() {
    static TTestFtpServer Instance(fskPython);
    return Instance;
}

} // namespace kivo::test
