// FTP jobs against real servers on 127.0.0.1 (vsftpd for LIST listings,
// logins and both data-connection modes; a Python server for MLSD and a
// transfer that breaks off): results, events, trace lines, what is left on
// disk on both sides, and how often the client logs in.
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "runtime/DateTime.h"
#include "support/EventLog.h"
#include "support/FtpTestServer.h"
#include "support/TestSupport.h"
#include "tests/common/TestSystem.h"
#include "webcopy/Webcopy.h"

using namespace kivo;
using namespace kivo::webcopy;
using kivo::test::FtpTestPassword;
using kivo::test::FtpTestUser;

namespace {

// 2020-01-02 03:04:00 UTC; vsftpd lists it as "Jan 02  2020" (midnight).
constexpr int64_t OldStamp = 1577934240;

std::string TestName() {
    const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string Name = std::string(Info->test_suite_name()) + "-" + Info->name();
    for (char& C : Name)
        if (C == '/') C = '-';
    return Name;
}

// Puts Data at Root/Rel (folders made as needed), readable by the server.
void PutRemote(const std::string& Root, const std::string& Rel, const std::string& Data) {
    std::string Path = Root;
    size_t P = 0;
    while ((P = Rel.find('/', P)) != std::string::npos) {
        test::MakeServerFolder(Root + "/" + Rel.substr(0, P), 0777);
        ++P;
    }
    ASSERT_TRUE(test::WriteFile(Root + "/" + Rel, Data));
    test::SetServerFile(Root + "/" + Rel, 0666, OldStamp); // the test account may replace it
}

class FtpJob : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Server().SkipReason().empty()) GTEST_SKIP() << Server().SkipReason();
        Remote = TestName();
        W.SetShowDialog(false);
        W.SetFTPPassive(true);
        W.OnRemovedFile = [this](TWebCopy*, int32_t I) {
            Log.Add("RemovedFile " + std::to_string(I));
        };
        W.OnRemovedFileFailed = [this](TWebCopy*, int32_t I) {
            Log.Add("RemovedFileFailed " + std::to_string(I));
        };
    }
    virtual test::TTestFtpServer& Server() { return test::Vsftpd(); }

    TWebCopyItem* Job(TWebCopyProtocol Protocol, const std::string& URL, bool User = false) {
        TWebCopyItem* It = W.Items()->Add();
        It->SetProtocol(Protocol);
        It->SetFTPHost("127.0.0.1");
        It->SetFTPPort(Server().Port());
        It->SetURL(URL);
        It->SetTargetDir(Dir.Path());
        if (User) {
            It->SetFTPUserID(FtpTestUser);
            It->SetFTPPassword(FtpTestPassword);
        }
        return It;
    }

    std::string Remote; // this test's folder on the server
    test::TTempDir Dir;
    TWebCopy W{nullptr};
    test::TEventLog Log{W};
};

// ---------------------------------------------------------------------------
// A whole round in both data-connection modes: upload into new folders,
// list, download, delete.

class FtpModes : public FtpJob, public ::testing::WithParamInterface<bool> {};

TEST_P(FtpModes, UploadListDownloadDelete) {
    W.SetFTPPassive(GetParam());
    const std::string Data = test::Pattern(300000);
    ASSERT_TRUE(test::WriteFile(Dir / "up.bin", Data));
    TWebCopyItem* Up = Job(wpFtpUpload, Dir / "up.bin", true);
    Up->SetTargetDir(Remote + "/a/b");
    TWebCopyItem* List = Job(wpFtpList, Remote + "/a/b/*.bin", true);
    TWebCopyItem* Down = Job(wpFtp, Remote + "/a/b/up.bin", true);
    Down->SetTargetFilename("down.bin");
    TWebCopyItem* Del = Job(wpFtpDelete, "up.bin", true);
    Del->SetTargetDir(Remote + "/a/b");
    W.Execute();

    EXPECT_TRUE(Up->Success());
    EXPECT_TRUE(List->Success());
    EXPECT_TRUE(Down->Success());
    EXPECT_TRUE(Del->Success());
    EXPECT_TRUE(Log.Has("RemovedFile 3"));
    ASSERT_NE(List->FileList(), nullptr);
    EXPECT_EQ(*List->FileList(), std::vector<std::string>{"up.bin"});
    ASSERT_EQ(List->FileDetails()->Count(), 1);
    EXPECT_EQ(List->FileDetails()->Items(0)->FileSizeLow(), 300000u);
    EXPECT_EQ(List->FileDetails()->Items(0)->FileAttributes(), 0x80u);
    EXPECT_EQ(test::ReadFile(Dir / "down.bin"), Data);
    EXPECT_FALSE(test::Exists(Server().UserRoot() + "/" + Remote + "/a/b/up.bin"));
    EXPECT_TRUE(test::Exists(Server().UserRoot() + "/" + Remote + "/a/b"));
    // WinINet asks for the IPv4 forms of both modes.
    const char* Command = GetParam() ? (test::OnWindows ? "\"PASV\"" : "\"EPSV\"")
                                     : (test::OnWindows ? "\"PORT" : "\"EPRT");
    EXPECT_NE(Server().Log().find(Command), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Ftp, FtpModes, ::testing::Values(true, false),
                         [](const auto& I) { return I.param ? "Passive" : "Active"; });

// ---------------------------------------------------------------------------
// What each failure looks like to the user, and what stays on both sides.

struct TFailureRow {
    const char* Name;
    std::function<TWebCopyItem*(FtpJob&, const std::string& Remote)> Make;
    bool Success;
    // "{dir}" stands for the local folder, "{remote}" for the test's folder
    // on the server.
    std::vector<std::string> Events;
};

class FtpFailures : public FtpJob, public ::testing::WithParamInterface<TFailureRow> {
public:
    using FtpJob::Job;
    test::TTestFtpServer& Ftp() { return Server(); }
    test::TTempDir& Local() { return Dir; }
};

std::string Expand(std::string Text, const std::string& Dir, const std::string& Remote) {
    for (size_t P; (P = Text.find("{dir}")) != std::string::npos;)
        Text.replace(P, 5, Dir);
    for (size_t P; (P = Text.find("{remote}")) != std::string::npos;)
        Text.replace(P, 8, Remote);
    return Text;
}

TEST_P(FtpFailures, AreReportedAndLeaveFilesAlone) {
    PutRemote(Server().UserRoot(), Remote + "/keep.bin", "remote data");
    ASSERT_TRUE(test::WriteFile(Dir / "keep.bin", "local data"));
    TWebCopyItem* It = GetParam().Make(*this, Remote);
    W.Execute();

    std::vector<std::string> Expected = {"FileStart 0"};
    for (const std::string& E : GetParam().Events)
        Expected.push_back(Expand(E, Dir.Path(), Remote));
    Expected.emplace_back("FileDone 0");
    Expected.emplace_back("CopyDone");
    std::vector<std::string> Seen;
    for (const std::string& L : Log.Lines)
        if (L != "BeforeDialogShow" && L != "Progress") Seen.push_back(L);
    EXPECT_EQ(Seen, Expected);
    EXPECT_EQ(It->Success(), GetParam().Success);
    EXPECT_EQ(test::ReadFile(Dir / "keep.bin"), "local data");
    EXPECT_EQ(test::ReadFile(Server().UserRoot() + "/" + Remote + "/keep.bin"), "remote data");
}

const TFailureRow FailureRows[] = {
    {"WrongPassword",
     [](FtpJob& T, const std::string& R) {
         auto* It = static_cast<FtpFailures&>(T).Job(wpFtp, R + "/keep.bin", true);
         It->SetFTPPassword("wrong");
         return It;
     },
     false,
     {"Error 6", "ErrorInfo 6 Cannot connect to FTP server 127.0.0.1"}},
    {"NoServer",
     [](FtpJob& T, const std::string& R) {
         auto& F = static_cast<FtpFailures&>(T);
         auto* It = F.Job(wpFtpUpload, F.Local() / "keep.bin");
         It->SetTargetDir(R);
         It->SetFTPPort(test::ClosedPort());
         return It;
     },
     false,
     {"Error 6", "ErrorInfo 6 Cannot connect to FTP server 127.0.0.1"}},
    {"RemoteFileMissing",
     [](FtpJob& T, const std::string& R) {
         return static_cast<FtpFailures&>(T).Job(wpFtp, R + "/none.bin", true);
     },
     false,
     {"URLNotFound {remote}/none.bin"}},
    {"RemoteFolderMissing",
     [](FtpJob& T, const std::string& R) {
         return static_cast<FtpFailures&>(T).Job(wpFtp, R + "/no/keep.bin", true);
     },
     false,
     {"URLNotFound {remote}/no/keep.bin"}},
    {"LocalFileCannotBeCreated",
     [](FtpJob& T, const std::string& R) {
         auto* It = static_cast<FtpFailures&>(T).Job(wpFtp, R + "/keep.bin", true);
         It->SetTargetFilename("keep.bin/inner.bin"); // a file stands where a folder must be
         return It;
     },
     false,
     {"Error 3", "ErrorInfo 3 Cannot create target file {dir}/keep.bin/inner.bin"}},
    {"UploadSourceMissing",
     [](FtpJob& T, const std::string& R) {
         auto& F = static_cast<FtpFailures&>(T);
         auto* It = F.Job(wpFtpUpload, F.Local() / "missing.bin", true);
         It->SetTargetDir(R);
         It->SetTargetFilename("keep.bin");
         return It;
     },
     false,
     {"URLNotFound {dir}/missing.bin", "Error 1",
      "ErrorInfo 1 Cannot open source file {dir}/missing.bin"}},
    {"UploadIntoAFile",
     [](FtpJob& T, const std::string& R) {
         auto& F = static_cast<FtpFailures&>(T);
         auto* It = F.Job(wpFtpUpload, F.Local() / "keep.bin", true);
         It->SetTargetDir(R + "/keep.bin/sub"); // cannot be made
         return It;
     },
     false,
     {}},
    {"DeleteMissingFile",
     [](FtpJob& T, const std::string& R) {
         auto* It = static_cast<FtpFailures&>(T).Job(wpFtpDelete, "none.bin", true);
         It->SetTargetDir(R);
         return It;
     },
     true,
     {"RemovedFileFailed 0"}},
    {"DeleteInMissingFolder",
     [](FtpJob& T, const std::string& R) {
         auto* It = static_cast<FtpFailures&>(T).Job(wpFtpDelete, "keep.bin", true);
         It->SetTargetDir(R + "/no");
         return It;
     },
     false,
     {}},
    {"ListWithoutMatches",
     [](FtpJob& T, const std::string& R) {
         return static_cast<FtpFailures&>(T).Job(wpFtpList, R + "/*.zip", true);
     },
     true,
     {}},
    {"TestWithWrongPassword",
     [](FtpJob& T, const std::string&) {
         auto* It = static_cast<FtpFailures&>(T).Job(wpFtpTest, "", true);
         It->SetFTPPassword("wrong");
         return It;
     },
     false,
     {"Error 6", "ErrorInfo 6 Cannot connect to FTP server 127.0.0.1"}},
};

std::string RowName(const ::testing::TestParamInfo<TFailureRow>& I) {
    return I.param.Name;
}

INSTANTIATE_TEST_SUITE_P(Ftp, FtpFailures, ::testing::ValuesIn(FailureRows), RowName);

// ---------------------------------------------------------------------------
// Newer-only: equal dates skip a download and let an upload through; a newer
// remote file is not replaced.

TEST_F(FtpJob, NewerOnlyComparesWithTheListedDate) {
    PutRemote(Server().UserRoot(), Remote + "/d.bin", "server copy");
    TWebCopyItem* First = Job(wpFtp, Remote + "/d.bin", true);
    First->SetCopyNewerOnly(true);
    W.Execute();
    ASSERT_TRUE(First->Success());
    const TDateTime Listed = First->NewFileDate();
    const bool Midnight = test::FtpListingReader().DatesStartAtMidnight;
    EXPECT_DOUBLE_EQ(Midnight ? Listed : std::floor(Listed), EncodeDate(2020, 1, 2));

    ASSERT_TRUE(test::WriteFile(Dir / "d.bin", "mine"));
    First->SetFileDate(Listed);
    TWebCopyItem* Up = Job(wpFtpUpload, Dir / "d.bin", true);
    Up->SetTargetDir(Remote);
    Up->SetCopyNewerOnly(true);
    Up->SetFileDate(Listed);
    W.Execute();
    EXPECT_FALSE(First->Success());
    EXPECT_TRUE(First->NoNewVersion());
    EXPECT_TRUE(Log.Has("NoNewFileFound d.bin"));
    EXPECT_TRUE(Up->Success());
    EXPECT_FALSE(Up->NoNewVersion());
    EXPECT_EQ(test::ReadFile(Server().UserRoot() + "/" + Remote + "/d.bin"), "mine");

    // A remote file newer than the caller's date is not replaced.
    PutRemote(Server().UserRoot(), Remote + "/d.bin", "server copy");
    W.Items()->Clear();
    TWebCopyItem* Older = Job(wpFtpUpload, Dir / "d.bin", true);
    Older->SetTargetDir(Remote);
    Older->SetCopyNewerOnly(true);
    Older->SetFileDate(Listed - 1);
    W.Execute();
    EXPECT_FALSE(Older->Success());
    EXPECT_TRUE(Older->NoNewVersion());
    EXPECT_DOUBLE_EQ(Older->NewFileDate(), Listed);
    EXPECT_EQ(test::ReadFile(Server().UserRoot() + "/" + Remote + "/d.bin"), "server copy");
}

// ---------------------------------------------------------------------------
// The kept connection: consecutive jobs on one server and login share one
// login; another login in between costs its own.

struct TReuseRow {
    const char* Name;
    bool SecondAnonymous;
    int Logins;
};

class FtpReuse : public FtpJob, public ::testing::WithParamInterface<TReuseRow> {};

TEST_P(FtpReuse, CountsLogins) {
    PutRemote(Server().UserRoot(), Remote + "/1.bin", "one");
    PutRemote(Server().UserRoot(), Remote + "/2.bin", "two");
    PutRemote(Server().AnonRoot(), Remote + "/2.bin", "two");
    Job(wpFtp, Remote + "/1.bin", true);
    Job(wpFtp, Remote + "/2.bin", !GetParam().SecondAnonymous);
    const int Before = Server().Logins();
    W.Execute();
    EXPECT_TRUE(W.Items()->Items(0)->Success());
    EXPECT_TRUE(W.Items()->Items(1)->Success());
    EXPECT_EQ(Server().Logins() - Before, GetParam().Logins);
    EXPECT_EQ(test::ReadFile(Dir / "2.bin"), "two");
}

INSTANTIATE_TEST_SUITE_P(Ftp, FtpReuse,
                         ::testing::Values(TReuseRow{"SameLogin", false, 1},
                                           TReuseRow{"OtherLogin", true, 2}),
                         [](const auto& I) { return I.param.Name; });

// ---------------------------------------------------------------------------
// Multi-file jobs, ASCII type, trace lines, cancellation.

TEST_F(FtpJob, MultiFileDownloadTakesEveryMatchFromTheListedFolder) {
    // A name with a blank where the listing keeps it whole.
    const std::string B = test::FtpListingReader().KeepsBlanksInNames ? "b c.zip" : "b.zip";
    PutRemote(Server().UserRoot(), Remote + "/m/a.zip", "A");
    PutRemote(Server().UserRoot(), Remote + "/m/" + B, "B");
    PutRemote(Server().UserRoot(), Remote + "/m/x.txt", "X");
    std::vector<std::string> Done;
    W.OnMultiFTPFileDone = [&](TWebCopy*, const std::string& N) { Done.push_back(N); };
    TWebCopyItem* It = Job(wpMultiFtp, Remote + "/m/*.zip", true);
    W.Execute();
    EXPECT_TRUE(It->Success());
    std::sort(Done.begin(), Done.end());
    EXPECT_EQ(Done, (std::vector<std::string>{"a.zip", B}));
    EXPECT_EQ(Dir.List(), (std::vector<std::string>{"a.zip", B}));
    EXPECT_EQ(test::ReadFile(Dir / B), "B");
}

TEST_F(FtpJob, CancelDuringAMultiFileDownloadStopsIt) {
    for (const char* Name : {"1.bin", "2.bin", "3.bin"})
        PutRemote(Server().UserRoot(), Remote + "/c/" + Name, test::Pattern(4 << 20));
    W.OnCopyProgress = [&](TWebCopy* S, int32_t, uint32_t Size, uint32_t) {
        if (Size >= (1u << 20)) S->CancelCopy();
    };
    int FilesDone = 0;
    W.OnMultiFTPFileDone = [&](TWebCopy*, const std::string&) { ++FilesDone; };
    TWebCopyItem* It = Job(wpMultiFtp, Remote + "/c/*.bin", true);
    W.Execute();
    EXPECT_TRUE(It->Cancelled());
    EXPECT_FALSE(It->Success());
    EXPECT_EQ(FilesDone, 1);
    EXPECT_TRUE(Dir.List().empty());
}

TEST_F(FtpJob, MultiFileUploadMakesTheFolderAndSendsEveryMatch) {
    test::TTempDir Src;
    ASSERT_TRUE(test::WriteFile(Src / "1.log", "one"));
    ASSERT_TRUE(test::WriteFile(Src / "2.log", "two"));
    ASSERT_TRUE(test::WriteFile(Src / "3.txt", "three"));
    kivo::CreateDir(Src / "dir.log");
    TWebCopyItem* It = Job(wpMultiFtpUpload, Src / "*.log", true);
    It->SetTargetDir(Remote + "/logs");
    const int Before = Server().Logins();
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(Server().Logins() - Before, 1);
    const std::string Folder = Server().UserRoot() + "/" + Remote + "/logs";
    EXPECT_EQ(test::ListFolder(Folder), (std::vector<std::string>{"1.log", "2.log"}));
    EXPECT_EQ(test::ReadFile(Folder + "/2.log"), "two");
}

TEST_F(FtpJob, AsciiTypeIsAskedFor) {
    PutRemote(Server().UserRoot(), Remote + "/t.txt", "a\nb\n");
    W.SetFTPMode(fmASCII);
    TWebCopyItem* It = Job(wpFtp, Remote + "/t.txt", true);
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_NE(Server().Log().find("\"TYPE A\""), std::string::npos);
    // The text arrives with the local line ends.
    const std::string End = test::OnWindows ? "\r\n" : "\n";
    EXPECT_EQ(test::ReadFile(Dir / "t.txt"), "a" + End + "b" + End);
}

TEST_F(FtpJob, UploadWritesItsTraceLines) {
    ASSERT_TRUE(test::WriteFile(Dir / "t.bin", test::Pattern(5000)));
    W.SetLogfileName(Dir / "trace.log");
    TWebCopyItem* It = Job(wpFtpUpload, Dir / "t.bin", true);
    It->SetTargetDir(Remote);
    W.Execute();
    EXPECT_TRUE(It->Success());
    std::vector<std::string> Messages;
    const std::string Trace = test::ReadFile(Dir / "trace.log");
    for (size_t P = 0; P < Trace.size();) {
        size_t E = Trace.find("\r\n", P);
        const std::string Line = Trace.substr(P, E - P);
        Messages.push_back(Line.substr(Line.find(" : ") + 3));
        P = E + 2;
    }
    EXPECT_EQ(Messages,
              (std::vector<std::string>{"start ftp upload", "connected to server:127.0.0.1",
                                        "start to upload file:" + (Dir / "t.bin"), "filesize:5000",
                                        "uploaded:4096", "uploaded:5000", "uploaded:5000",
                                        "done upload:5000", "done ftp upload"}));
}

TEST_F(FtpJob, CancelMidwayKeepsTheOldTarget) {
    PutRemote(Server().UserRoot(), Remote + "/big.bin", test::Pattern(32 << 20));
    ASSERT_TRUE(test::WriteFile(Dir / "big.bin", "old"));
    W.OnCopyProgress = [&](TWebCopy* S, int32_t, uint32_t Size, uint32_t) {
        if (Size >= (1u << 20)) S->CancelCopy();
    };
    TWebCopyItem* It = Job(wpFtp, Remote + "/big.bin", true);
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(It->Cancelled());
    EXPECT_EQ(test::ReadFile(Dir / "big.bin"), "old");
    EXPECT_EQ(Dir.List(), std::vector<std::string>{"big.bin"});
}

// ---------------------------------------------------------------------------
// A server that offers MLSD, and one that breaks off a transfer.

class PythonFtpJob : public FtpJob {
protected:
    test::TTestFtpServer& Server() override { return test::PythonFtp(); }
};

TEST_F(PythonFtpJob, BrokenOffDownloadFailsAndKeepsTheOldTarget) {
    PutRemote(Server().AnonRoot(), Remote + "/drop-x.bin", test::Pattern(4 << 20));
    ASSERT_TRUE(test::WriteFile(Dir / "drop-x.bin", "old"));
    TWebCopyItem* It = Job(wpFtp, Remote + "/drop-x.bin");
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(Log.Has("Error 7"));
    EXPECT_TRUE(Log.Has("ErrorInfo 7 Incomplete download of file " + (Dir / "drop-x.bin")));
    EXPECT_EQ(test::ReadFile(Dir / "drop-x.bin"), "old");
    EXPECT_EQ(Dir.List(), std::vector<std::string>{"drop-x.bin"});
}

TEST_F(PythonFtpJob, ListingUsesMlsd) {
    if (!test::FtpListingReader().UsesMlsd) GTEST_SKIP() << test::FtpListingReader().Why;
    PutRemote(Server().AnonRoot(), Remote + "/f one.bin", "12345");
    test::MakeServerFolder(Server().AnonRoot() + "/" + Remote + "/sub", 0755);
    TWebCopyItem* It = Job(wpFtpList, Remote + "/*");
    W.Execute();
    ASSERT_TRUE(It->Success());
    EXPECT_NE(Server().Log().find("MLSD"), std::string::npos);
    std::vector<std::string> Names = *It->FileList();
    std::sort(Names.begin(), Names.end());
    EXPECT_EQ(Names, (std::vector<std::string>{"f one.bin", "sub"}));
    for (int I = 0; I < It->FileDetails()->Count(); ++I) {
        const TFileDetailItem* D = It->FileDetails()->Items(I);
        const bool IsDir = D->Filename() == "sub";
        EXPECT_EQ(D->FileAttributes(), IsDir ? 0x10u : 0x80u);
        if (!IsDir) {
            EXPECT_EQ(D->FileSizeLow(), 5u);
            // 2020-01-02 03:04:00 as 100 ns steps since 1601.
            const uint64_t Steps =
                (uint64_t(D->FileDate().dwHighDateTime) << 32) | D->FileDate().dwLowDateTime;
            EXPECT_EQ(Steps, (uint64_t(OldStamp) + 11644473600ull) * 10000000ull);
        }
    }
}

// What every build reads from a LIST listing: names, folders, sizes and the
// day (non-ASCII names in UTF-8, as the server keeps them).
TEST_F(FtpJob, ListingGivesNamesFoldersSizesAndDays) {
    PutRemote(Server().AnonRoot(), Remote + "/f.bin", "12345");
    PutRemote(Server().AnonRoot(), Remote + "/Grüße.txt", "");
    test::MakeServerFolder(Server().AnonRoot() + "/" + Remote + "/sub", 0755);
    TWebCopyItem* It = Job(wpFtpList, Remote + "/*");
    W.Execute();
    ASSERT_TRUE(It->Success());
    std::vector<std::string> Names = *It->FileList();
    std::sort(Names.begin(), Names.end());
    EXPECT_EQ(Names, (std::vector<std::string>{"Grüße.txt", "f.bin", "sub"}));
    for (int I = 0; I < It->FileDetails()->Count(); ++I) {
        const TFileDetailItem* D = It->FileDetails()->Items(I);
        const bool IsDir = D->Filename() == "sub";
        EXPECT_EQ(D->FileAttributes(), IsDir ? 0x10u : 0x80u);
        if (IsDir) continue;
        EXPECT_EQ(D->FileSizeLow(), D->Filename() == "f.bin" ? 5u : 0u);
        const uint64_t Steps =
            (uint64_t(D->FileDate().dwHighDateTime) << 32) | D->FileDate().dwLowDateTime;
        const uint64_t Day = 86400ull * 10000000ull;
        const uint64_t Midnight = (uint64_t(OldStamp) + 11644473600ull) * 10000000ull / Day * Day;
        if (test::FtpListingReader().DatesStartAtMidnight)
            EXPECT_EQ(Steps, Midnight);
        else
            EXPECT_EQ(Steps / Day * Day, Midnight);
    }
}

TEST_F(FtpJob, NonAsciiNameIsDownloaded) {
    PutRemote(Server().UserRoot(), Remote + "/Grüße.bin", "umlauts");
    TWebCopyItem* It = Job(wpFtp, Remote + "/Grüße.bin", true);
    It->SetTargetFilename("ö.bin");
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(test::ReadFile(Dir / "ö.bin"), "umlauts");
}

TEST_F(FtpJob, ListingOfTenThousandEntries) {
    const std::string Folder = Server().AnonRoot() + "/" + Remote;
    kivo::CreateDir(Folder);
    for (int I = 0; I < 10000; ++I)
        ASSERT_TRUE(test::WriteFile(Folder + "/f" + std::to_string(I) + ".dat", ""));
    TWebCopyItem* It = Job(wpFtpList, Remote + "/*.dat");
    // The Windows build bounds the whole listing call by the time-out (Wine's
    // WinINet reads these lines slowly); Linux only a stall.
    W.SetTimeout(600);
    W.Execute();
    ASSERT_TRUE(It->Success());
    EXPECT_EQ(It->FileList()->size(), 10000u);
    EXPECT_EQ(It->FileDetails()->Count(), 10000);
}

} // namespace
