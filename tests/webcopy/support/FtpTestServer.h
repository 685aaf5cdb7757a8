// FTP servers for the web copy tests, started on 127.0.0.1 at a free port:
// vsftpd (LIST listings, anonymous and the local test account, passive and
// active data connections) and a small Python server (MLSD listings, a
// transfer that breaks off half-way).
#pragma once

#include <string>

namespace kivo::test {

constexpr const char* FtpTestUser = "kivotest";
constexpr const char* FtpTestPassword = "kivo-test-pass";

enum TFtpServerKind { fskVsftpd, fskPython };

class TTestFtpServer {
public:
    explicit TTestFtpServer(TFtpServerKind Kind);
    ~TTestFtpServer();
    TTestFtpServer(const TTestFtpServer&) = delete;
    TTestFtpServer& operator=(const TTestFtpServer&) = delete;

    // Why the server cannot run here (not root, no test account, no
    // server program); empty when it runs.
    const std::string& SkipReason() const { return FSkipReason; }
    int Port() const { return FPort; }
    // The folder anonymous users see (vsftpd: read-only for them).
    const std::string& AnonRoot() const { return FAnonRoot; }
    // The folder the test account logs in to (vsftpd only), writable.
    const std::string& UserRoot() const { return FUserRoot; }
    // The server's log of commands (vsftpd: its protocol log).
    std::string Log() const;
    // Successful logins in the log so far.
    int Logins() const;

private:
    bool StartVsftpd();
    bool StartPython();
    void Stop();

    TFtpServerKind FKind;
    std::string FDir, FAnonRoot, FUserRoot, FSkipReason;
    int FPid = -1;
    int FStdin = -1;
    int FPort = 0;
};

// The servers shared by every test of the executable.
TTestFtpServer& Vsftpd();
TTestFtpServer& PythonFtp();

} // namespace kivo::test
