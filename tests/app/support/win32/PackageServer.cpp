// The package server under Wine: python3 is a Unix program, started through
// Wine with its output in a file; it ends when its marker file goes.
#include "support/PackageServer.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/common/TestFiles.h"
#include "tests/common/UnixShell.h"

namespace kivo::test {

TPackageServer::TPackageServer() {
    Root = MakeTempDir("kivo-pkg-");
    TUnixChild Child;
    const std::string Script =
        UnixPath(std::string(KIVO_SOURCE_DIR) + "/tests/app/package_server.py");
    if (!Child.Start({"python3", Script, UnixPath(Root)}, Root, "server")) return;
    const std::string Line = Child.WaitForLine("PORT ", 30000);
    Port = std::atoi(Line.c_str());
    Child.Release();
    FStdin = 1;
}

TPackageServer::~TPackageServer() {
    // The server ends when it sees its marker go.
    if (FStdin >= 0) DeleteFile(Root + "/server.alive");
    RemoveTree(Root);
}

} // namespace kivo::test
