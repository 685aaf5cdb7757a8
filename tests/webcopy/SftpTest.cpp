// SFTP jobs against a real sshd on 127.0.0.1: results, events, trace lines,
// host keys, and what is left on disk on both ends after each path.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>

#include "platform/FileSystem.h"
#include "runtime/DateTime.h"
#include "support/EventLog.h"
#include "support/SshServer.h"
#include "support/TestSupport.h"
#include "tests/common/TestEnv.h"
#include "tests/common/TestFileStatus.h"
#include "webcopy/Webcopy.h"

using namespace kivo;
using namespace kivo::webcopy;
namespace test = kivo::test;

namespace {

constexpr int64_t RemoteTime = 1700000000; // 2023-11-14 22:13:20 UTC

class SftpJob;

struct TSftpRow {
    const char* Name;
    // Prepares both ends and adds the job.
    std::function<void(SftpJob&)> Arrange;
    // The events a user's handlers see, in order; empty: not compared.
    std::vector<std::string> Events;
    std::function<void(SftpJob&)> Check;
};

// Sets an environment variable for one test and restores it afterwards.
class TEnvOverride {
public:
    TEnvOverride(const char* Name, const std::optional<std::string>& Value) : FName(Name) {
        if (const char* Old = std::getenv(Name)) FOld = Old;
        test::SetEnvVar(FName, Value);
    }
    ~TEnvOverride() { test::SetEnvVar(FName, FOld); }

private:
    std::string FName;
    std::optional<std::string> FOld;
};

class SftpJob : public ::testing::TestWithParam<TSftpRow> {
public:
    void SetUp() override {
        if (!Ssh.Available()) GTEST_SKIP() << Ssh.Why();
        CreateDir(Target);
        W.SetLogfileName(Local / "trace.log");
        W.SetKnownHostsFile(Local / "known_hosts");
        W.OnRemovedFile = [this](TWebCopy*, int32_t I) { Events.Add("RemovedFile " + Num(I)); };
        W.OnRemovedFileFailed = [this](TWebCopy*, int32_t I) {
            Events.Add("RemovedFileFailed " + Num(I));
        };
    }
    static std::string Num(int32_t I) { return std::to_string(I); }

    TWebCopyItem* Add(TWebCopyProtocol Protocol, const std::string& URL) {
        TWebCopyItem* It = W.Items()->Add();
        It->SetProtocol(Protocol);
        It->SetURL(URL);
        It->SetFTPHost("127.0.0.1");
        It->SetFTPPort(Ssh.Port());
        It->SetFTPUserID(test::SshUser);
        It->SetFTPPassword(test::SshPassword);
        return It;
    }
    TWebCopyItem* Download(const std::string& Name) {
        TWebCopyItem* It = Add(wpSftp, Remote(Name));
        It->SetTargetDir(Target);
        return It;
    }
    // A file on the server as the server names it, and as the test reaches it.
    std::string Remote(const std::string& Name) const { return Ssh.RemoteFiles() + "/" + Name; }
    std::string Stored(const std::string& Name) const { return Ssh.Files() + "/" + Name; }
    void PutRemote(const std::string& Name, const std::string& Data) {
        test::WriteFile(Stored(Name), Data);
        test::SetFileTimes(Stored(Name), RemoteTime, RemoteTime);
    }
    // The trace lines without their time stamps.
    std::vector<std::string> Trace() const {
        std::vector<std::string> Lines;
        std::istringstream In(test::ReadFile(Local / "trace.log"));
        for (std::string L; std::getline(In, L);)
            Lines.push_back(L.substr(19, L.size() - 20)); // "hh:nn dd/mm/yyyy : " ... CR
        return Lines;
    }
    bool Traced(const std::string& Line) const {
        for (const std::string& L : Trace())
            if (L == Line) return true;
        return false;
    }
    TWebCopyItem* Item() const { return W.Items()->Items(0); }
    // Cancels, or runs Action, at the first block.
    void AtFirstBlock(std::function<void()> Action) {
        W.OnCopyProgress = [this, Action](TWebCopy*, int32_t, uint32_t, uint32_t) {
            if (Events.Lines.back() != "Progress") Events.Add("Progress");
            if (!Acted) Action();
            Acted = true;
        };
    }

    test::TSshServer Ssh;
    test::TTempDir Local;
    std::string Target = Local / "in";
    TWebCopy W{nullptr};
    test::TEventLog Events{W};
    bool Acted = false;
    std::optional<test::TSilentPort> Silent;
};

void PrintTo(const TSftpRow& Row, std::ostream* Out) {
    *Out << Row.Name;
}

const std::string Server = "Cannot connect to SFTP server 127.0.0.1: ";

int Count(const std::string& Text, const std::string& What) {
    int N = 0;
    for (size_t P = Text.find(What); P != std::string::npos; P = Text.find(What, P + 1))
        ++N;
    return N;
}

const TSftpRow Rows[] = {
    {"DownloadWithEveryTraceLine",
     [](SftpJob& T) {
         T.PutRemote("a.bin", test::Pattern(100000));
         T.Download("a.bin");
     },
     {"BeforeDialogShow", "FileStart 0", "Progress", "FileDone 0", "CopyDone"},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Item()->Success());
         EXPECT_EQ(test::ReadFile(T.Target + "/a.bin"), test::Pattern(100000));
         EXPECT_EQ(test::ListFolder(T.Target), std::vector<std::string>{"a.bin"});
         EXPECT_EQ(T.Events.ProgressSizes.back(), 100000u);
         EXPECT_EQ(T.Events.ProgressTotals.back(), 100000u);
         const std::string R = T.Remote("a.bin");
         EXPECT_EQ(T.Trace(), (std::vector<std::string>{
                                  "[SFTP] Info: Start download",
                                  "[SFTP] Info: Create socket",
                                  "[SFTP] Info: Connecting socket to host: 127.0.0.1",
                                  "[SFTP] Info: Initializing libssh2",
                                  "[SFTP] Info: Initializing libssh2 session",
                                  "[SFTP] Info: Libssh2 session startup",
                                  "[SFTP] Info: Unknown host key accepted: " + T.Ssh.Fingerprint(),
                                  "[SFTP] Info: Setting session blocking",
                                  "[SFTP] Info: Getting userauth list",
                                  "[SFTP] Info: Checking authentication status",
                                  "[SFTP] Info: Initializing SFTP connection",
                                  "[SFTP] Info: Getting attributes for: " + R,
                                  "[SFTP] Info: Opening file handle for: " + R,
                                  "[SFTP] Info: Copying file a.bin",
                                  "[SFTP] Info: Closed file handle",
                              }));
     }},
    {"Utf8NameAndTargetName",
     [](SftpJob& T) {
         T.PutRemote("Grüße ä.txt", "umlauts");
         T.Download("Grüße ä.txt")->SetTargetFilename("ö.txt");
     },
     {},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Item()->Success());
         EXPECT_EQ(test::ReadFile(T.Target + "/ö.txt"), "umlauts");
     }},
    {"MissingRemoteFile",
     [](SftpJob& T) { T.Download("missing.bin"); },
     {},
     [](SftpJob& T) {
         EXPECT_EQ(T.Events.Lines,
                   (std::vector<std::string>{"BeforeDialogShow", "FileStart 0",
                                             "URLNotFound " + T.Remote("missing.bin"), "FileDone 0",
                                             "CopyDone"}));
         EXPECT_FALSE(T.Item()->Success());
         EXPECT_TRUE(test::ListFolder(T.Target).empty());
     }},
    {"NewerOnlyWithTheSameDateFetchesNothing",
     [](SftpJob& T) {
         T.PutRemote("d.bin", "new");
         test::WriteFile(T.Target + "/d.bin", "mine");
         TWebCopyItem* It = T.Download("d.bin");
         It->SetCopyNewerOnly(true);
         It->SetFileDate(UnixToDateTime(RemoteTime));
     },
     {"BeforeDialogShow", "FileStart 0", "NoNewFileFound d.bin", "FileDone 0", "CopyDone"},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Item()->NoNewVersion());
         EXPECT_FALSE(T.Item()->Success());
         EXPECT_EQ(test::ReadFile(T.Target + "/d.bin"), "mine");
         EXPECT_TRUE(T.Traced("[SFTP] Skipping: No new file"));
     }},
    {"NewerOnlyFromAnOlderDate",
     [](SftpJob& T) {
         T.PutRemote("d.bin", "new");
         T.Download("d.bin")->SetCopyNewerOnly(true);
     },
     {},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Item()->Success());
         EXPECT_DOUBLE_EQ(T.Item()->NewFileDate(), UnixToDateTime(RemoteTime));
         EXPECT_EQ(test::ReadFile(T.Target + "/d.bin"), "new");
     }},
    {"WrongPasswordAfterSeventeenAttempts",
     [](SftpJob& T) { T.Download("a.bin")->SetFTPPassword("wrong"); },
     {"BeforeDialogShow", "FileStart 0", "Error 6",
      "ErrorInfo 6 " + Server + "Authentication failed (username/password)", "FileDone 0",
      "CopyDone"},
     [](SftpJob& T) { EXPECT_EQ(Count(T.Ssh.Log(), "Failed password for kivotest"), 17); }},
    {"HostNameThatDoesNotResolve",
     [](SftpJob& T) { T.Download("a.bin")->SetFTPHost("no-such-host.invalid"); },
     {},
     [](SftpJob& T) {
         const auto& L = T.Events.Lines;
         ASSERT_EQ(L.size(), 8u);
         EXPECT_EQ(L[2], "Error 6");
         EXPECT_EQ(L[3].rfind("ErrorInfo 6 Cannot connect to server no-such-host.invalid: ", 0),
                   0u);
         EXPECT_EQ(L[4], "Error 6");
         EXPECT_EQ(
             L[5].rfind("ErrorInfo 6 Cannot connect to SFTP server no-such-host.invalid: ", 0), 0u);
     }},
    {"PortWithoutServer",
     [](SftpJob& T) { T.Download("a.bin")->SetFTPPort(test::ClosedPort()); },
     {"BeforeDialogShow", "FileStart 0", "Error 6", "ErrorInfo 6 " + Server + "Connection refused",
      "FileDone 0", "CopyDone"},
     [](SftpJob& T) { EXPECT_TRUE(T.Traced("[SFTP] Error: Could not connect socket.")); }},
    {"ServerThatSaysNothingTimesOut",
     [](SftpJob& T) {
         // A listening socket that never answers: the connection is made,
         // the server's greeting never comes.
         T.Silent.emplace();
         T.Download("a.bin")->SetFTPPort(T.Silent->Port());
         T.W.SetTimeout(1);
     },
     {},
     [](SftpJob& T) {
         T.Silent.reset();
         EXPECT_FALSE(T.Item()->Success());
         EXPECT_TRUE(T.Events.Has("Error 6"));
         EXPECT_TRUE(std::any_of(T.Events.Lines.begin(), T.Events.Lines.end(),
                                 [](auto& L) { return L.rfind("ErrorInfo 6 " + Server, 0) == 0; }));
     }},
    {"UploadCreatesTheMissingFolder",
     [](SftpJob& T) {
         test::WriteFile(T.Local / "up.txt", test::Pattern(300000));
         T.Add(wpSftpUpload, T.Local / "up.txt")->SetTargetDir(T.Remote("new"));
     },
     {"BeforeDialogShow", "FileStart 0", "Progress", "FileDone 0", "CopyDone"},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Item()->Success());
         EXPECT_EQ(test::ReadFile(T.Stored("new/up.txt")), test::Pattern(300000));
         EXPECT_EQ(T.Ssh.RemoteMode("new"), 0755u);
         EXPECT_EQ(T.Ssh.RemoteMode("new/up.txt"), 0644u);
         EXPECT_EQ(T.Events.ProgressSizes.back(), 300000u);
     }},
    {"UploadOfAMissingFileLeavesTheRemoteFile",
     [](SftpJob& T) {
         T.PutRemote("keep.txt", "old");
         T.Add(wpSftpUpload, T.Local / "none.txt")->SetTargetDir(T.Ssh.RemoteFiles());
         T.Item()->SetTargetFilename("keep.txt");
     },
     {},
     [](SftpJob& T) {
         EXPECT_EQ(T.Events.Lines,
                   (std::vector<std::string>{"BeforeDialogShow", "FileStart 0", "Error 1",
                                             "ErrorInfo 1 Cannot open source file " +
                                                 T.Local / "none.txt",
                                             "FileDone 0", "CopyDone"}));
         EXPECT_EQ(test::ReadFile(T.Stored("keep.txt")), "old");
     }},
    {"DeleteFile",
     [](SftpJob& T) {
         T.PutRemote("gone.txt", "x");
         T.Add(wpSftpDelete, T.Remote("gone.txt"));
     },
     {"BeforeDialogShow", "FileStart 0", "RemovedFile 0", "FileDone 0", "CopyDone"},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Item()->Success());
         EXPECT_FALSE(test::Exists(T.Stored("gone.txt")));
     }},
    {"DeleteThatFailsStillSucceeds",
     [](SftpJob& T) {
         TWebCopyItem* It = T.Add(wpSftpDelete, "ignored");
         It->SetTargetDir(T.Ssh.RemoteFiles());
         It->SetTargetFilename("absent.txt");
     },
     {"BeforeDialogShow", "FileStart 0", "RemovedFileFailed 0", "FileDone 0", "CopyDone"},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Item()->Success());
         EXPECT_TRUE(T.Traced("[SFTP] Error: Could not remove " + T.Remote("absent.txt")));
     }},
    {"ListingWithAPattern",
     [](SftpJob& T) {
         T.PutRemote("a.txt", "0123456789");
         T.PutRemote("B.TXT", "");
         T.PutRemote("c.bin", "");
         T.PutRemote("ü.txt", "");
         T.Add(wpSftpList, T.Ssh.RemoteFiles() + "/*.txt");
     },
     {},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Item()->Success());
         std::vector<std::string> Names = *T.Item()->FileList();
         std::sort(Names.begin(), Names.end());
         EXPECT_EQ(Names, (std::vector<std::string>{"B.TXT", "a.txt", "ü.txt"}));
         TFileDetailItems& D = *T.Item()->FileDetails();
         ASSERT_EQ(D.Count(), 3);
         for (int I = 0; I < D.Count(); ++I) {
             const uint64_t Time =
                 (uint64_t{D[I]->FileDate().dwHighDateTime} << 32) | D[I]->FileDate().dwLowDateTime;
             EXPECT_EQ(Time, static_cast<uint64_t>(RemoteTime + 11644473600) * 10000000u);
             EXPECT_EQ(D[I]->FileSizeLow(), D[I]->Filename() == "a.txt" ? 10u : 0u);
             EXPECT_NE(D[I]->FileAttributes() & 1u, 0u); // the size is present
         }
     }},
    {"KeyLoginWithoutAPassword",
     [](SftpJob& T) {
         CreateDir(T.Local / ".ssh");
         test::WriteFile(T.Local / ".ssh/id_ed25519", test::ReadFile(T.Ssh.UserKey()));
         test::SetPermissionBits(T.Local / ".ssh/id_ed25519", 0600); // none on Windows
         T.PutRemote("k.txt", "key");
         TWebCopyItem* It = T.Download("k.txt");
         It->SetFTPUserID(test::SshKeyUser);
         It->SetFTPPassword("");
     },
     {},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Item()->Success());
         EXPECT_EQ(test::ReadFile(T.Target + "/k.txt"), "key");
         EXPECT_TRUE(T.Traced("[SFTP] Info: Trying key file " + T.Local / ".ssh/id_ed25519"));
     }},
    {"ChangedHostKeyIsRefusedBeforeAnyPassword",
     [](SftpJob& T) {
         test::WriteFile(T.Local / "known_hosts", T.Ssh.OtherKnownHostsLine());
         T.PutRemote("a.bin", "x");
         T.Download("a.bin");
     },
     {},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Events.Has("ErrorInfo 6 " + Server + "Host key has changed: " +
                                  T.Ssh.Fingerprint() + " differs from the known host key"));
         EXPECT_FALSE(T.Item()->Success());
         EXPECT_TRUE(test::ListFolder(T.Target).empty());
         EXPECT_EQ(T.Ssh.Log().find("password"), std::string::npos) << T.Ssh.Log();
     }},
    {"HashedKnownHostEntryMatches",
     [](SftpJob& T) {
         test::WriteFile(T.Local / "known_hosts", T.Ssh.KnownHostsLine());
         test::TSshServer::HashKnownHosts(T.Local / "known_hosts");
         T.PutRemote("a.bin", "x");
         T.Download("a.bin");
         T.W.SetStrictHostKeyChecking(true);
     },
     {},
     [](SftpJob& T) {
         ASSERT_EQ(test::ReadFile(T.Local / "known_hosts").rfind("|1|", 0), 0u);
         EXPECT_TRUE(T.Item()->Success());
         EXPECT_TRUE(
             T.Traced("[SFTP] Info: Host key matches the known host key " + T.Ssh.Fingerprint()));
     }},
    {"StrictCheckingRefusesAnUnknownHost",
     [](SftpJob& T) {
         T.PutRemote("a.bin", "x");
         T.Download("a.bin");
         T.W.SetStrictHostKeyChecking(true);
     },
     {},
     [](SftpJob& T) {
         EXPECT_TRUE(T.Events.Has("ErrorInfo 6 " + Server +
                                  "Host key is not known: " + T.Ssh.Fingerprint()));
         EXPECT_TRUE(test::ListFolder(T.Target).empty());
     }},
    {"CancelMidDownloadKeepsTheOldFile",
     [](SftpJob& T) {
         T.PutRemote("big.bin", test::Pattern(4 << 20));
         test::WriteFile(T.Target + "/big.bin", "old");
         T.Download("big.bin");
         T.AtFirstBlock([&T] { T.W.CancelCopy(); });
     },
     {},
     [](SftpJob& T) {
         EXPECT_EQ(T.Events.Lines,
                   (std::vector<std::string>{"BeforeDialogShow", "FileStart 0",
                                             "CopyOverWrite " + T.Target + "/big.bin", "Progress",
                                             "CopyDone"}));
         EXPECT_TRUE(T.Item()->Cancelled());
         EXPECT_FALSE(T.Item()->Success());
         EXPECT_EQ(test::ReadFile(T.Target + "/big.bin"), "old");
         EXPECT_EQ(test::ListFolder(T.Target), std::vector<std::string>{"big.bin"});
     }},
    {"ServerKilledMidDownloadKeepsTheOldFile",
     [](SftpJob& T) {
         T.PutRemote("big.bin", test::Pattern(16 << 20));
         test::WriteFile(T.Target + "/big.bin", "old");
         T.Download("big.bin");
         T.AtFirstBlock([&T] { T.Ssh.Kill(); });
     },
     {},
     [](SftpJob& T) {
         EXPECT_FALSE(T.Item()->Success());
         EXPECT_TRUE(T.Events.Has("Error 4"));
         EXPECT_TRUE(std::any_of(T.Events.Lines.begin(), T.Events.Lines.end(), [](auto& L) {
             return L.rfind("ErrorInfo 4 Error while copying file big.bin: ", 0) == 0;
         }));
         EXPECT_TRUE(T.Events.Has("FileDone 0"));
         EXPECT_EQ(test::ReadFile(T.Target + "/big.bin"), "old");
         EXPECT_EQ(test::ListFolder(T.Target), std::vector<std::string>{"big.bin"});
     }},
};

TEST_P(SftpJob, Runs) {
    const TSftpRow& Row = GetParam();
    // Key files and known hosts of the test (Windows takes the profile folder).
    TEnvOverride Home("HOME", Local.Path());
    TEnvOverride Profile("USERPROFILE", Local.Path());
    TEnvOverride Agent("SSH_AUTH_SOCK", std::nullopt);
    Row.Arrange(*this);
    W.Execute();
    if (!Row.Events.empty()) {
        EXPECT_EQ(Events.Lines, Row.Events);
    }
    Row.Check(*this);
}

INSTANTIATE_TEST_SUITE_P(Rows, SftpJob, ::testing::ValuesIn(Rows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------
// kivo-webcopy with sftp:// URLs

class SftpTool;

struct TToolRow {
    const char* Name;
    // Prepares the files and gives the arguments.
    std::function<std::vector<std::string>(SftpTool&)> Arrange;
    int Status;
    std::function<void(SftpTool&, const test::TRun&)> Check;
};

void PrintTo(const TToolRow& Row, std::ostream* Out) {
    *Out << Row.Name;
}

class SftpTool : public ::testing::TestWithParam<TToolRow> {
public:
    void SetUp() override {
        if (!Ssh.Available()) GTEST_SKIP() << Ssh.Why();
    }
    // sftp://kivotest@127.0.0.1:port/<server folder>/Name
    std::string Url(const std::string& Name) const {
        return "sftp://" + std::string(test::SshUser) + "@127.0.0.1:" + std::to_string(Ssh.Port()) +
               Ssh.RemoteFiles() + "/" + Name;
    }
    std::string Remote(const std::string& Name) const { return Ssh.RemoteFiles() + "/" + Name; }
    std::string Stored(const std::string& Name) const { return Ssh.Files() + "/" + Name; }
    // The common options: the password and a known-hosts file of the test.
    std::vector<std::string> With(std::vector<std::string> Args) const {
        for (const char* A : {"--password", test::SshPassword, "--known-hosts"})
            Args.push_back(A);
        Args.push_back(Local / "known_hosts");
        return Args;
    }

    test::TSshServer Ssh;
    test::TTempDir Local;
};

const TToolRow ToolRows[] = {
    {"Get",
     [](SftpTool& T) {
         test::WriteFile(T.Stored("a.bin"), test::Pattern(70000));
         return T.With({"get", T.Url("a.bin"), "-d", T.Local.Path(), "-o", "b.bin"});
     },
     0,
     [](SftpTool& T, const test::TRun& R) {
         EXPECT_EQ(R.Err, "");
         EXPECT_EQ(test::ReadFile(T.Local / "b.bin"), test::Pattern(70000));
     }},
    {"PutIntoAFolderUnderItsOwnName",
     [](SftpTool& T) {
         test::WriteFile(T.Local / "up.txt", "uploaded");
         return T.With({"put", T.Local / "up.txt", T.Url("")});
     },
     0,
     [](SftpTool& T, const test::TRun&) {
         EXPECT_EQ(test::ReadFile(T.Stored("up.txt")), "uploaded");
     }},
    {"PutUnderAnotherName",
     [](SftpTool& T) {
         test::WriteFile(T.Local / "up.txt", "renamed");
         return T.With({"put", T.Local / "up.txt", T.Url("other.txt")});
     },
     0,
     [](SftpTool& T, const test::TRun&) {
         EXPECT_EQ(test::ReadFile(T.Stored("other.txt")), "renamed");
     }},
    {"ListWithAPattern",
     [](SftpTool& T) {
         for (const char* Name : {"one.txt", "two.txt", "three.bin"})
             test::WriteFile(T.Stored(Name), "");
         return T.With({"list", T.Url("*.txt")});
     },
     0,
     [](SftpTool&, const test::TRun& R) {
         std::istringstream In(R.Out);
         std::vector<std::string> Names;
         // "- <size> <date> <time> <name>": the name is what follows the time.
         for (std::string L; std::getline(In, L);)
             Names.push_back(L.substr(L.find(':') + 7));
         std::sort(Names.begin(), Names.end());
         EXPECT_EQ(Names, (std::vector<std::string>{"one.txt", "two.txt"}));
     }},
    {"Delete",
     [](SftpTool& T) {
         test::WriteFile(T.Stored("x.txt"), "");
         return T.With({"delete", T.Url("x.txt")});
     },
     0, [](SftpTool& T, const test::TRun&) { EXPECT_FALSE(test::Exists(T.Stored("x.txt"))); }},
    {"DeleteOfAMissingFileFails",
     [](SftpTool& T) {
         return T.With({"delete", T.Url("absent.txt")});
     },
     1,
     [](SftpTool& T, const test::TRun& R) {
         EXPECT_EQ(R.Err, "kivo-webcopy: sftp://127.0.0.1:" + std::to_string(T.Ssh.Port()) +
                              T.Remote("absent.txt") + ": cannot delete\n");
     }},
    {"MissingFileIsNamed",
     [](SftpTool& T) {
         return T.With({"get", T.Url("none.bin"), "-d", T.Local.Path()});
     },
     1,
     [](SftpTool& T, const test::TRun& R) {
         EXPECT_EQ(R.Err, "kivo-webcopy: sftp://127.0.0.1:" + std::to_string(T.Ssh.Port()) +
                              T.Remote("none.bin") + ": not found\n");
     }},
    {"StrictHostKeyRefusesAnUnknownServer",
     [](SftpTool& T) {
         test::WriteFile(T.Stored("a.bin"), "x");
         std::vector<std::string> Args = T.With({"get", T.Url("a.bin"), "-d", T.Local.Path()});
         Args.push_back("--strict-host-key");
         return Args;
     },
     1,
     [](SftpTool& T, const test::TRun& R) {
         EXPECT_NE(R.Err.find(": error 6: Cannot connect to SFTP server 127.0.0.1: Host key is not "
                              "known: " +
                              T.Ssh.Fingerprint()),
                   std::string::npos)
             << R.Err;
         EXPECT_FALSE(test::Exists(T.Local / "a.bin"));
     }},
    {"UrlWithoutUser",
     [](SftpTool& T) {
         return std::vector<std::string>{"get", "sftp://127.0.0.1/x", "-d", T.Local.Path()};
     },
     2,
     [](SftpTool&, const test::TRun& R) {
         EXPECT_NE(R.Err.find("no user name"), std::string::npos);
     }},
};

TEST_P(SftpTool, Runs) {
    const TToolRow& Row = GetParam();
    const test::TRun R = test::RunProgram(KIVO_WEBCOPY_TOOL, Row.Arrange(*this));
    EXPECT_EQ(R.Status, Row.Status) << R.Err;
    Row.Check(*this, R);
}

INSTANTIATE_TEST_SUITE_P(Rows, SftpTool, ::testing::ValuesIn(ToolRows),
                         [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
