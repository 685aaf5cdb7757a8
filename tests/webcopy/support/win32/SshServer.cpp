// The SSH test server for the Windows build under Wine: the Linux tests'
// sshd, its keys made and its processes ended through the Unix shell
// (tests/common/UnixShell.h).
#include "support/SshServer.h"

#include <cstdlib>
#include <windows.h>

#include "platform/Sftp.h"
#include "support/TestSupport.h"
#include "tests/common/TestFiles.h"
#include "tests/common/UnixShell.h"

namespace kivo::test {

namespace {

// Runs a Unix command line in a folder of its own for the status files.
bool Shell(const std::string& Command, std::string* Output = nullptr) {
    TTempDir Io;
    return RunUnixShellStatus(Command, Io.Path(), Output, 60000) == 0;
}

// Whether this build's SSH layer starts a session with the server at Port.
// Under Wine 8 it does not: libssh2's CNG back end sends no key-exchange
// message after the first and sshd ends the connection ("kex_protocol_error").
// Asked once per run.
bool SessionStarts(int Port) {
    static const bool Starts = [Port] {
        TTcpSocket Socket;
        std::string Error;
        if (!Socket.Create(65536) || !Socket.Resolve("127.0.0.1", Port, Error) ||
            !Socket.Connect(10000))
            return false;
        TSshSession Session;
        Session.SetTimeout(10000);
        return Session.Valid() && Session.Startup(Socket);
    }();
    return Starts;
}

} // namespace

TSshServer::TSshServer() {
    FDir = MakeTempDir("kivo-sshd-");
    const std::string Dir = ShellQuoted(UnixPath(FDir));
    if (!Shell("[ \"$(id -u)\" = 0 ]")) {
        FWhy = "the SSH test server needs root";
        return;
    }
    if (!Shell(std::string("[ -x /usr/sbin/sshd ] && id ") + SshUser + " && id " + SshKeyUser)) {
        FWhy = "sshd or the test accounts are missing (run scripts/setup)";
        return;
    }
    // RSA keys in PEM files: the Windows build's libssh2 (its CNG back end)
    // neither checks Ed25519 host keys nor reads OpenSSH's own key files.
    const std::string KeyGen = "/usr/bin/ssh-keygen -q -t rsa -b 2048 -m PEM -N '' -f " + Dir;
    // The accounts' sessions reach Files() through the server's folder.
    if (!Shell("chmod 755 " + Dir + " && mkdir -p " + Dir + "/files " + Dir +
               "/authorized_keys /run/sshd && chmod 777 " + Dir + "/files && " + KeyGen +
               "/host_key && " + KeyGen + "/other_key && " + KeyGen + "/user_key && cp " + Dir +
               "/user_key.pub " + Dir + "/authorized_keys/" + SshKeyUser + " && chmod 644 " + Dir +
               "/authorized_keys/" + SshKeyUser)) {
        FWhy = "ssh-keygen failed";
        return;
    }
    for (int Attempt = 0; Attempt < 3 && !Start(); ++Attempt) {
    }
    if (FPid <= 0) {
        FWhy = "sshd did not start: " + Log();
    } else if (!SessionStarts(FPort)) {
        FWhy = "no SSH session starts from this build here (under Wine 8 libssh2's CNG back end "
               "breaks off the key exchange)";
        Kill();
    }
}

bool TSshServer::Start() {
    FPort = ClosedPort();
    const std::string Dir = UnixPath(FDir);
    // The Windows build's libssh2 1.10 signs and checks RSA keys only with
    // SHA-1 ("ssh-rsa"), which sshd no longer takes unless told to.
    WriteFile(FDir + "/sshd_config",
              SshdConfig(Dir, FPort, Dir + "/sshd.pid",
                         "HostKeyAlgorithms +ssh-rsa\nPubkeyAcceptedAlgorithms +ssh-rsa\n"));
    TUnixChild Child;
    if (!Child.Start({"/usr/sbin/sshd", "-D", "-f", Dir + "/sshd_config", "-E", Dir + "/sshd.log"},
                     FDir, "server"))
        return false;
    for (int I = 0; I < 500; ++I) {
        if (Accepts(FPort)) {
            Child.Release(); // Kill() ends it
            FPid = 1;
            return true;
        }
        ::Sleep(10);
    }
    return false;
}

TSshServer::~TSshServer() {
    Kill();
    if (!FDir.empty()) RemoveTree(FDir);
}

void TSshServer::Kill() {
    if (FPid <= 0) return;
    // The server and its session processes, children first.
    Shell("tree() { for c in $(pgrep -P \"$1\"); do tree \"$c\"; done; kill -9 \"$1\"; }; tree "
          "\"$(cat " +
          ShellQuoted(UnixPath(FDir) + "/sshd.pid") + ")\"");
    ::DeleteFileW(Wide(FDir + "/server.alive").c_str());
    FPid = -1;
}

std::string TSshServer::Fingerprint() const {
    std::string Out;
    Shell("/usr/bin/ssh-keygen -l -E sha256 -f " + ShellQuoted(UnixPath(FDir) + "/host_key.pub"),
          &Out);
    return FingerprintOf(Out);
}

std::string TSshServer::RemoteFiles() const {
    return UnixPath(Files());
}

std::optional<unsigned> TSshServer::RemoteMode(const std::string& Name) const {
    std::string Out;
    if (!Shell("stat -c %a " + ShellQuoted(RemoteFiles() + "/" + Name), &Out)) return std::nullopt;
    return static_cast<unsigned>(std::strtoul(Out.c_str(), nullptr, 8));
}

bool TSshServer::HashKnownHosts(const std::string& File) {
    return Shell("/usr/bin/ssh-keygen -H -f " + ShellQuoted(UnixPath(File)));
}

} // namespace kivo::test
