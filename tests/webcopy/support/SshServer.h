// The SSH test server: OpenSSH's sshd on 127.0.0.1 at a free port, with a
// throw-away host key, password logins for "kivotest" and key logins for
// "kivokey" (scripts/test-accounts makes both), the SFTP subsystem, and its
// own log file. Each server has its own folder; Files() is a folder both
// accounts may write to.
#pragma once

#include <string>

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
    // The server's log (sshd -E).
    std::string Log() const;
    // "[127.0.0.1]:port <type> <key>": the known-hosts line of the host key.
    std::string KnownHostsLine() const;
    // The same host with a key the server does not have.
    std::string OtherKnownHostsLine() const;
    // "SHA256:..." as ssh-keygen prints the host key's fingerprint.
    std::string Fingerprint() const;
    // The private key that logs kivokey in.
    std::string UserKey() const { return FDir + "/user_key"; }
    // Ends the server and every session process it started, at once.
    void Kill();

private:
    bool Start();

    std::string FDir;
    std::string FWhy;
    int FPid = -1;
    int FPort = 0;
};

} // namespace kivo::test
