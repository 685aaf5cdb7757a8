// A Samba server for the share tests: smbd in the foreground on a free port
// of 127.0.0.1, with its own configuration, state and password database in
// a temporary folder, sharing one folder as "files" to the local account
// kivotest (password kivo-test-pass, made by scripts/test-accounts).
#pragma once

#include <string>

namespace kivo::test {

class TSambaServer {
public:
    TSambaServer();
    ~TSambaServer();
    TSambaServer(const TSambaServer&) = delete;
    TSambaServer& operator=(const TSambaServer&) = delete;

    // False when the server cannot run here (not root, no smbd, no
    // account); Why() says what is missing.
    bool Available() const { return FPid > 0; }
    const std::string& Why() const { return FWhy; }
    int Port() const { return FPort; }
    // The shared folder, readable by the account.
    std::string ShareDir() const { return FRoot + "/share"; }

private:
    bool Start();
    std::string FRoot;
    std::string FWhy;
    int FPid = -1;
    int FStdin = -1;
    int FPort = 0;
};

// The server shared by every test of the executable.
TSambaServer& Samba();

constexpr const char* SambaUser = "kivotest";
constexpr const char* SambaPassword = "kivo-test-pass";

} // namespace kivo::test
