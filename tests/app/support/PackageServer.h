// tests/app/package_server.py on a free port of 127.0.0.1, for the whole
// test program: serves <Root>/<name> under /downloads/ as <Root>/mode says.
#pragma once

#include <gtest/gtest.h>
#include <string>

#include "tests/common/TestFiles.h"

namespace kivo::test {

class TPackageServer {
public:
    TPackageServer();
    ~TPackageServer();
    TPackageServer(const TPackageServer&) = delete;
    TPackageServer& operator=(const TPackageServer&) = delete;

    // "ok", "slow" or "status <code>" (package_server.py).
    void SetMode(const std::string& Mode) const { EXPECT_TRUE(WriteFile(Root + "/mode", Mode)); }
    // Puts Package where the server finds Zelbrix.zip.
    void Publish(const std::string& Package) const {
        EXPECT_TRUE(WriteFile(Root + "/Zelbrix.zip", Package));
    }
    std::string BaseUrl() const {
        return "http://127.0.0.1:" + std::to_string(Port) + "/downloads/";
    }

    std::string Root;
    int Port = 0;

private:
    int FPid = -1;
    int FStdin = -1;
};

// The server shared by every test of the program.
inline TPackageServer& PackageServer() {
    static TPackageServer S;
    return S;
}

} // namespace kivo::test
