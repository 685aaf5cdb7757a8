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

// vsftpd's configuration for a server in Dir on Port of 127.0.0.1.
inline std::string VsftpdConfig(const std::string& Dir, const std::string& Anon,
                                const std::string& User, int Port) {

    return "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" +
           std::to_string(Port) +
           "\nbackground=NO\n"
           "anonymous_enable=YES\nno_anon_password=YES\nanon_root=" +
           Anon + "\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\nlocal_root=" + User +
           "\npasv_enable=YES\nport_enable=YES\nconnect_from_port_20=NO\n"
           "ascii_download_enable=YES\nascii_upload_enable=YES\nuse_localtime=NO\n"
           "log_ftp_protocol=YES\nxferlog_enable=YES\nxferlog_std_format=NO\nvsftpd_log_file=" +
           Dir + "/vsftpd.log\nseccomp_sandbox=NO\nsecure_chroot_dir=" + Dir +
           "/empty\npam_service_name=vsftpd\nmax_per_ip=0\nmax_clients=0\n";
}

// How often What occurs in Text.
inline int CountFtpLogLines(const std::string& Text, const std::string& What) {
    int N = 0;
    for (size_t P = Text.find(What); P != std::string::npos; P = Text.find(What, P + 1))
        ++N;
    return N;
}

// The servers shared by every test of the executable.
TTestFtpServer& Vsftpd();
TTestFtpServer& PythonFtp();

} // namespace kivo::test
