// Fixtures of the web copy tests: the HTTP test server (a Python process on
// 127.0.0.1 at a free port), temporary folders and file helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/TestFiles.h"

namespace kivo::test {

class TTestHttpServer {
public:
    // Starts tests/webcopy/http_server.py with its own sink folder; with Tls
    // it speaks HTTPS with a self-signed certificate (CertFile()).
    explicit TTestHttpServer(bool Tls = false);
    ~TTestHttpServer();
    TTestHttpServer(const TTestHttpServer&) = delete;
    TTestHttpServer& operator=(const TTestHttpServer&) = delete;

    int Port() const { return FPort; }
    // "http://127.0.0.1:<port>" + Path ("https://" for a TLS server)
    std::string Url(const std::string& Path) const;
    std::string CertFile() const { return FSinkDir + "/cert.pem"; }
    const std::string& SinkDir() const { return FSinkDir; }
    // The request log: request line, header lines and a blank line each.
    std::string RequestLog() const;
    void ClearLog() const;

private:
    int FPid = -1;
    int FStdin = -1;
    int FPort = 0;
    std::string FSinkDir;
    bool FTls = false;
};

// The server shared by every test of the executable.
TTestHttpServer& Server();
// An HTTPS server of the same kind, started on first use.
TTestHttpServer& TlsServer();

// The bytes the server sends for n bytes of content (byte i is i mod 256).
std::string Pattern(size_t Size);
bool Exists(const std::string& Path);
// A free TCP port on 127.0.0.1 that nothing listens on.
int ClosedPort();
// Whether something listens on the TCP port on 127.0.0.1.
bool Accepts(int Port);

// A TCP port on 127.0.0.1 that takes connections and never answers, while
// the object lives.
class TSilentPort {
public:
    TSilentPort();
    ~TSilentPort();
    TSilentPort(const TSilentPort&) = delete;
    TSilentPort& operator=(const TSilentPort&) = delete;
    int Port() const { return FPort; }

private:
    intptr_t FSocket = -1;
    int FPort = 0;
};

// Limits the size of the files this process writes while the object lives:
// a write beyond Bytes fails (and does not end the process). Applied() is
// false where the system has no such limit (Windows).
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(uint64_t Bytes);
    ~TFileSizeLimit();
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
    bool Applied() const { return FApplied; }

private:
    uint64_t FOld = 0;
    bool FApplied = false;
};

// Whether Linux's /proc files stand for sources that cannot be sought or read.
bool HasProcFiles();

// How this build reads a server's FTP listings. Linux reads them itself,
// with MLSD where the server has it; the Windows build gets WinINet's own
// reading of LIST lines, and Wine's WinINet cuts a name at its first blank
// and puts a date without a clock time at noon.
struct TFtpListingReader {
    bool UsesMlsd = true;
    bool KeepsBlanksInNames = true;
    bool DatesStartAtMidnight = true; // "Jan 02  2020" is 00:00 of that day
    const char* Why = "";             // why a check of the above is skipped
};
const TFtpListingReader& FtpListingReader();

// Writes the file Folder/Name for a server, with the permission bits Mode
// and the last-write time Stamp (as SetServerFile); Name may hold
// characters the local system refuses in names ("\\" on Windows).
bool WriteServerFile(const std::string& Folder, const std::string& Name, const std::string& Data,
                     unsigned Mode, int64_t Stamp);

// Makes the folder Path with the permission bits Mode, so that a server's
// account may use it (Mode is set whatever the process's umask).
void MakeServerFolder(const std::string& Path, unsigned Mode);
// Gives the file or folder Path the permission bits Mode and, when Stamp is
// not negative, that last-write time (seconds since 1970-01-01 UTC).
void SetServerFile(const std::string& Path, unsigned Mode, int64_t Stamp = -1);

// Whether the Internet layer of this build cannot see what is wrong with the
// test server's reply on Route: under Wine a connection reset reaches the
// system library (WinINet) as an orderly end, so a body without length ended
// by a reset looks whole; the library cuts a header at a NUL, passes a
// header line of a megabyte and spends minutes on a hundred thousand headers.
bool HostileReplyUndetected(const std::string& Route);

// How a program run ended and what it printed.
struct TRun {
    int Status = -1; // the exit status; 128 when it ended by a signal
    std::string Out, Err;
};
// Runs Program with Args (LANG=C, TZ=UTC; standard input reads Input) and
// waits for it to end.
TRun RunProgram(const std::string& Program, const std::vector<std::string>& Args,
                const std::string& Input = std::string());

} // namespace kivo::test
