#include "support/PackageServer.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/common/TestFiles.h"

extern char** environ;

namespace kivo::test {

TPackageServer::TPackageServer() {
    Root = MakeTempDir("kivo-pkg-");
    int In[2], Out[2];
    if (::pipe(In) != 0 || ::pipe(Out) != 0) return;
    posix_spawn_file_actions_t Fa;
    posix_spawn_file_actions_init(&Fa);
    posix_spawn_file_actions_adddup2(&Fa, In[0], 0);
    posix_spawn_file_actions_adddup2(&Fa, Out[1], 1);
    posix_spawn_file_actions_addclose(&Fa, In[1]);
    posix_spawn_file_actions_addclose(&Fa, Out[0]);
    std::string Script = std::string(KIVO_SOURCE_DIR) + "/tests/app/package_server.py";
    char* Argv[] = {const_cast<char*>("python3"), Script.data(), Root.data(), nullptr};
    int Rc = posix_spawnp(&FPid, "python3", &Fa, nullptr, Argv, environ);
    posix_spawn_file_actions_destroy(&Fa);
    ::close(In[0]);
    ::close(Out[1]);
    FStdin = In[1];
    if (Rc != 0) return;
    FILE* F = ::fdopen(Out[0], "r");
    if (F == nullptr || std::fscanf(F, "PORT %d", &Port) != 1) Port = 0;
    if (F != nullptr) std::fclose(F);
}

TPackageServer::~TPackageServer() {
    if (FStdin >= 0) ::close(FStdin); // the server ends with its input
    if (FPid > 0) ::waitpid(FPid, nullptr, 0);
    if (!Root.empty()) RemoveTree(Root);
}

} // namespace kivo::test
