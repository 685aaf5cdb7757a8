// tests/app/package_server.py on a free port of 127.0.0.1, for the whole
// test program: serves <Root>/<name> under /downloads/ as <Root>/mode says.
#pragma once

#include <string>

namespace kivo::test {

class TPackageServer {
public:
    TPackageServer();
    ~TPackageServer();
    TPackageServer(const TPackageServer&) = delete;
    TPackageServer& operator=(const TPackageServer&) = delete;

    // "ok", "slow" or "status <code>" (package_server.py).
    void SetMode(const std::string& Mode) const;
    // Puts Package where the server finds Zelbrix.zip.
    void Publish(const std::string& Package) const;
    std::string BaseUrl() const {
        return "http://127.0.0.1:" + std::to_string(Port) + "/downloads/";
    }

    std::string Root;
    int Port = 0;

private:
    int FPid = -1;
    int FStdin = -1;
};

TPackageServer& PackageServer();

} // namespace kivo::test
