// The SSH test server: OpenSSH's sshd on 127.0.0.1 at a free port, with a
// throw-away host key, password logins for "kivotest" and key logins for
// "kivokey" (scripts/test-accounts makes both), the SFTP subsystem, and its
// own log file. Each server has its own folder; Files() is a folder both
// accounts may write to. Under Wine the server is the Linux one, started
// through the Unix shell (win32/SshServer.cpp): the test reaches its files
// through Files(), the server names them as RemoteFiles() says.
#pragma once

#include <optional>
#include <sstream>
#include <string>

#include "tests/common/TestFiles.h"

namespace kivo::test {

constexpr const char* SshUser = "kivotest";
constexpr const char* SshPassword = "kivo-test-pass";
constexpr const char* SshKeyUser = "kivokey";

class TSshServer {
public:
    // Starts the server; Available() is false (with Why()) when this machine
    // cannot run one (not root, no sshd, no test accounts).
    TSshServer();
    ~TSshServer();
    TSshServer(const TSshServer&) = delete;
    TSshServer& operator=(const TSshServer&) = delete;

    bool Available() const { return FPid > 0; }
    const std::string& Why() const { return FWhy; }
    int Port() const { return FPort; }
    const std::string& Dir() const { return FDir; }
    std::string Files() const { return FDir + "/files"; }
    // Files() as the server names it (on Linux the same path).
    std::string RemoteFiles() const;
    // The permission bits of Files()/Name as the server's system has them.
    std::optional<unsigned> RemoteMode(const std::string& Name) const;
    // The server's log (sshd -E).
    std::string Log() const { return ReadFile(FDir + "/sshd.log"); }
    // "[127.0.0.1]:port <type> <key>": the known-hosts line of the host key.
    std::string KnownHostsLine() const { return KnownHostsLineOf(FDir + "/host_key.pub"); }
    // The same host with a key the server does not have.
    std::string OtherKnownHostsLine() const { return KnownHostsLineOf(FDir + "/other_key.pub"); }
    // "SHA256:..." as ssh-keygen prints the host key's fingerprint.
    std::string Fingerprint() const;
    // The private key that logs kivokey in.
    std::string UserKey() const { return FDir + "/user_key"; }
    // Ends the server and every session process it started, at once.
    void Kill();
    // Hashes the host names of a known-hosts file as ssh-keygen -H does.
    static bool HashKnownHosts(const std::string& File);

private:
    bool Start();
    std::string KnownHostsLineOf(const std::string& PublicKeyFile) const;

    std::string FDir;
    std::string FWhy;
    int FPid = -1;
    int FPort = 0;
};

// sshd's configuration for a server in Dir (as the server names it) on Port
// of 127.0.0.1, with Extra lines at its end.
inline std::string SshdConfig(const std::string& Dir, int Port, const std::string& PidFile,
                              const std::string& Extra = std::string()) {
    return "Port " + std::to_string(Port) + "\nListenAddress 127.0.0.1\nHostKey " + Dir +
           "/host_key\nPidFile " + PidFile +
           "\nUsePAM no\nPasswordAuthentication yes\n"
           "KbdInteractiveAuthentication no\nPubkeyAuthentication yes\nAuthorizedKeysFile " +
           Dir +
           "/authorized_keys/%u\nStrictModes no\nPermitRootLogin no\nMaxAuthTries 40\n"
           "MaxStartups 50\nLogLevel VERBOSE\nUseDNS no\nSubsystem sftp internal-sftp\n"
           "AllowUsers " +
           SshUser + " " + SshKeyUser + "\n" + Extra;
}

// "[127.0.0.1]:port <type> <key>" for the public key file (its comment left out).
inline std::string TSshServer::KnownHostsLineOf(const std::string& PublicKeyFile) const {
    std::istringstream In(ReadFile(PublicKeyFile));
    std::string Type, Key;
    In >> Type >> Key;
    return "[127.0.0.1]:" + std::to_string(FPort) + " " + Type + " " + Key + "\n";
}

// The fingerprint "SHA256:..." in a line of ssh-keygen -l.
inline std::string FingerprintOf(const std::string& KeygenLine) {
    std::istringstream In(KeygenLine.substr(0, KeygenLine.find('\n')));
    std::string Bits, Print;
    In >> Bits >> Print;
    return Print;
}

} // namespace kivo::test
