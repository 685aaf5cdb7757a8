// HTTP downloads against a real server on 127.0.0.1: results, events and
// what is left on disk after each path.
#include <cmath>
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "runtime/Application.h"
#include "runtime/DateTime.h"
#include "support/EventLog.h"
#include "support/TestSupport.h"
#include "webcopy/Webcopy.h"

using namespace kivo;
using namespace kivo::webcopy;
using kivo::test::Server;

namespace {

class HttpDownload : public ::testing::Test {
protected:
    void SetUp() override { Server().ClearLog(); }
    void TearDown() override { SetLoginHook(nullptr); }

    TWebCopyItem* Job(const std::string& Path) {
        TWebCopyItem* It = W.Items()->Add();
        It->SetProtocol(wpHttp);
        It->SetURL(Server().Url(Path));
        It->SetTargetDir(Dir.Path());
        return It;
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(Server().Port()); }

    test::TTempDir Dir;
    TWebCopy W{nullptr};
    test::TEventLog Log{W};
};

TEST_F(HttpDownload, PlainFileArrivesWithEventsInOrder) {
    TWebCopyItem* It = Job("/file/10000/a.bin");
    std::string FileLine;
    W.OnCopyProgress = [&](TWebCopy* S, int32_t Num, uint32_t Size, uint32_t Total) {
        FileLine = S->ProgressFileLabel()->Caption();
        EXPECT_EQ(Num, 1);
        EXPECT_EQ(Total, 10000u);
        Log.ProgressSizes.push_back(Size);
        if (Log.Lines.back() != "Progress") Log.Lines.push_back("Progress");
    };
    W.Execute();

    EXPECT_TRUE(It->Success());
    EXPECT_FALSE(It->Cancelled());
    EXPECT_FALSE(It->NoNewVersion());
    EXPECT_EQ(test::ReadFile(Dir / "a.bin"), test::Pattern(10000));
    EXPECT_EQ(Dir.List(), std::vector<std::string>{"a.bin"}); // no temporary file left
    EXPECT_EQ(Log.Lines, (std::vector<std::string>{"BeforeDialogShow", "FileStart 0", "Progress",
                                                   "FileDone 0", "CopyDone"}));
    ASSERT_FALSE(Log.ProgressSizes.empty());
    EXPECT_EQ(Log.ProgressSizes.back(), 10000u);
    EXPECT_EQ(FileLine, "File : a.bin from " + Host());
    EXPECT_EQ(W.ProgressForm(), nullptr); // closed and freed at the end of the run
    EXPECT_EQ(W.LastUpdateStatus(), wusSuccess);

    std::string Requests = Server().RequestLog();
    EXPECT_NE(Requests.find("GET /file/10000/a.bin"), std::string::npos);
    EXPECT_NE(Requests.find("User-Agent: WebCopy"), std::string::npos);
    EXPECT_NE(Requests.find("Pragma: no-cache"), std::string::npos);
    EXPECT_EQ(Requests.find("Authorization"), std::string::npos);
}

TEST_F(HttpDownload, NewerOnlyComparesWithTheServerDate) {
    const TDateTime ServerDate = EncodeDateTime(2023, 11, 14, 22, 13, 20, 0); // 1700000000, as sent

    // FileDate 0 always downloads and takes the server's date.
    TWebCopyItem* It = Job("/dated/1700000000/100/d.bin");
    It->SetCopyNewerOnly(true);
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_DOUBLE_EQ(It->NewFileDate(), ServerDate);

    // The same date: nothing is fetched, the file stays as it is.
    test::WriteFile(Dir / "d.bin", "mine");
    It->SetFileDate(ServerDate);
    Log.Lines.clear();
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(It->NoNewVersion());
    EXPECT_DOUBLE_EQ(It->NewFileDate(), ServerDate);
    EXPECT_TRUE(Log.Has("NoNewFileFound d.bin"));
    EXPECT_TRUE(Log.Has("FileDone 0"));
    EXPECT_EQ(test::ReadFile(Dir / "d.bin"), "mine");

    // A later local date is not older either.
    It->SetFileDate(ServerDate + 1);
    W.Execute();
    EXPECT_TRUE(It->NoNewVersion());
    EXPECT_EQ(test::ReadFile(Dir / "d.bin"), "mine");
}

TEST_F(HttpDownload, WithoutLastModifiedTheRemoteDateIsNow) {
    TWebCopyItem* It = Job("/file/100/n.bin");
    It->SetCopyNewerOnly(true);
    It->SetFileDate(Now() - 1);
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_LT(std::fabs(It->NewFileDate() - Now()), 0.01);
}

TEST_F(HttpDownload, FileDateCheckReplacesTheComparison) {
    TWebCopyItem* It = Job("/dated/1700000000/100/c.bin");
    It->SetFileDate(EncodeDateTime(2030, 1, 1, 0, 0, 0, 0)); // would be "not newer"
    TDateTime Seen = 0;
    W.OnFileDateCheck = [&](TWebCopy*, int32_t Idx, TDateTime NewDate, bool& Allow) {
        EXPECT_EQ(Idx, 0);
        EXPECT_TRUE(Allow);
        Seen = NewDate;
    };
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_DOUBLE_EQ(Seen, EncodeDateTime(2023, 11, 14, 22, 13, 20, 0));

    // Refused: no download, no report, and no "no new version" either.
    W.OnFileDateCheck = [](TWebCopy*, int32_t, TDateTime, bool& Allow) { Allow = false; };
    test::WriteFile(Dir / "c.bin", "old");
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_FALSE(It->NoNewVersion());
    EXPECT_FALSE(Log.Has("NoNewFileFound c.bin"));
    EXPECT_DOUBLE_EQ(It->NewFileDate(), Seen);
    EXPECT_EQ(test::ReadFile(Dir / "c.bin"), "old");
}

TEST_F(HttpDownload, ErrorStatusIsReportedAndCreatesNoFile) {
    TWebCopyItem* It = Job("/status/404/missing.bin");
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_EQ(Log.Lines, (std::vector<std::string>{"BeforeDialogShow", "FileStart 0", "Error 404",
                                                   "ErrorInfo 404 Returned http error code 404",
                                                   "FileDone 0", "CopyDone"}));
    EXPECT_TRUE(Dir.List().empty());

    Log.Lines.clear();
    Job("/status/503/busy.bin");
    It->SetActive(false);
    W.Execute();
    EXPECT_TRUE(Log.Has("ErrorInfo 503 Returned http error code 503"));
    EXPECT_EQ(W.LastUpdateStatus(), wusFailed);
}

TEST_F(HttpDownload, UnreachableServerRaisesURLNotFound) {
    std::string Url = "http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/x.bin";
    TWebCopyItem* It = W.Items()->Add();
    It->SetURL(Url);
    It->SetTargetDir(Dir.Path());
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(Log.Has("URLNotFound " + Url));
    EXPECT_TRUE(Dir.List().empty());
}

TEST_F(HttpDownload, BasicAuthenticationAndTheLoginDialog) {
    // waNever: a 401 is an error like any other status.
    TWebCopyItem* It = Job("/auth/user/secret/64/p.bin");
    W.Execute();
    EXPECT_TRUE(Log.Has("ErrorInfo 401 Returned http error code 401"));
    EXPECT_FALSE(It->Success());

    // waAuto: the 401 brings up the login; the request is repeated with the header.
    std::vector<std::string> Captions;
    SetLoginHook([&](const std::string& Caption, std::string& User, std::string& Password) {
        Captions.push_back(Caption);
        User = "user";
        Password = "secret";
        return true;
    });
    It->SetAuthenticate(waAuto);
    Server().ClearLog();
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(Captions, std::vector<std::string>{"Connect to " + Host()});
    EXPECT_EQ(test::ReadFile(Dir / "p.bin"), test::Pattern(64));
    EXPECT_NE(Server().RequestLog().find("Authorization: Basic dXNlcjpzZWNyZXQ="),
              std::string::npos);
    // The entered credentials are for this job only.
    EXPECT_EQ(It->HTTPUserID(), "");

    // waAlways with an empty password asks before the first request.
    Captions.clear();
    Server().ClearLog();
    It->SetAuthenticate(waAlways);
    It->SetHTTPUserID("user");
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(Captions.size(), 1u);
    std::string Requests = Server().RequestLog();
    EXPECT_EQ(Requests.find("GET "), Requests.rfind("GET ")); // one request only

    // A cancelled login ends the job quietly.
    SetLoginHook([](const std::string&, std::string&, std::string&) { return false; });
    It->SetHTTPUserID("");
    It->SetAuthenticate(waAuto);
    Log.Lines.clear();
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_FALSE(Log.Has("Error 401"));
    EXPECT_TRUE(Log.Has("FileDone 0"));

    // Credentials of the item are sent without asking.
    It->SetAuthenticate(waNever);
    It->SetHTTPUserID("user");
    It->SetHTTPPassword("secret");
    W.Execute();
    EXPECT_TRUE(It->Success());
}

TEST_F(HttpDownload, ProxyCredentialsGoIntoTheURL) {
    TWebCopyItem* It = Job("/auth/px/pw/10/q.bin");
    W.SetProxyUserID("px");
    W.SetProxyPassword("pw");
    std::string FileLine;
    W.OnCopyProgress = [&](TWebCopy* S, int32_t, uint32_t, uint32_t) {
        FileLine = S->ProgressFileLabel()->Caption();
    };
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(FileLine, "File : q.bin from " + Host());
}

TEST_F(HttpDownload, TheFinalURLOfARedirectNamesTheFile) {
    TWebCopyItem* It = Job("/redirect/file~77~final.bin/start.bin");
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(Dir.List(), std::vector<std::string>{"final.bin"});
    EXPECT_EQ(test::ReadFile(Dir / "final.bin"), test::Pattern(77));

    // TargetFilename wins over any URL.
    It->SetTargetFilename("chosen.bin");
    W.Execute();
    EXPECT_TRUE(test::Exists(Dir / "chosen.bin"));
}

TEST_F(HttpDownload, BodyWithoutLengthRunsAMarqueeBar) {
    TWebCopyItem* It = Job("/chunked/20000/c.bin");
    TProgressBarStyle Style = pbstNormal;
    std::string SizeLine;
    uint32_t Whole = 1;
    W.OnCopyProgress = [&](TWebCopy* S, int32_t, uint32_t, uint32_t Total) {
        Style = S->ProgressBar()->Style();
        SizeLine = S->ProgressSizeLabel()->Caption();
        Whole = Total;
        if (Total == 0) {
            EXPECT_EQ(S->TimeLeftStr(), S->ElapsedTimeStr());
        }
    };
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(Whole, 0u);
    EXPECT_EQ(Style, pbstMarquee);
    EXPECT_EQ(SizeLine, "Progress : 20.00 Kb");
    EXPECT_EQ(test::ReadFile(Dir / "c.bin"), test::Pattern(20000));

    // A preset FileSize stands in for the missing length.
    It->SetFileSize(20000);
    W.Execute();
    EXPECT_EQ(Style, pbstNormal);
    EXPECT_EQ(Whole, 20000u);
    EXPECT_EQ(SizeLine, "Progress : 20.00 Kb of 20.00 Kb");
}

TEST_F(HttpDownload, TruncatedBodyFailsAndKeepsTheOldFile) {
    test::WriteFile(Dir / "x.bin", "the file I had");
    TWebCopyItem* It = Job("/cut/100000/30000/x.bin");
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_FALSE(It->Cancelled());
    EXPECT_TRUE(Log.Has("Error 7"));
    EXPECT_TRUE(Log.Has("ErrorInfo 7 Incomplete download of file " + Dir / "x.bin"));
    EXPECT_EQ(test::ReadFile(Dir / "x.bin"), "the file I had");
    EXPECT_EQ(Dir.List(), std::vector<std::string>{"x.bin"});

    // Without a file before, nothing is left behind.
    TWebCopyItem* Second = Job("/cut/50000/1000/y.bin");
    It->SetActive(false);
    W.Execute();
    EXPECT_FALSE(Second->Success());
    EXPECT_EQ(Dir.List(), std::vector<std::string>{"x.bin"});
}

TEST_F(HttpDownload, DroppedBodyOfUnknownLengthFailsAndKeepsNothing) {
    // The chunked body stops without its last chunk: what arrived is no file.
    TWebCopyItem* It = Job("/chunkedcut/12000/cc.bin");
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(Log.Has("ErrorInfo 7 Incomplete download of file " + Dir / "cc.bin"));
    EXPECT_TRUE(Dir.List().empty());
}

TEST_F(HttpDownload, CancellingKeepsTheOldFileAndStopsTheRun) {
    test::WriteFile(Dir / "s.bin", "keep me");
    TWebCopyItem* First = Job("/slow/400000/20/s.bin");
    TWebCopyItem* Later = Job("/file/10/later.bin");
    W.OnCopyProgress = [&](TWebCopy* S, int32_t, uint32_t Size, uint32_t) {
        if (Size > 0 && S->ProgressForm() != nullptr)
            static_cast<TButton*>(S->ProgressForm()->FindControl("CancelButton"))->Click();
    };
    W.Execute();
    EXPECT_TRUE(First->Cancelled());
    EXPECT_FALSE(First->Success());
    EXPECT_FALSE(Later->Success());
    EXPECT_FALSE(Later->Cancelled());
    EXPECT_TRUE(Log.Has("CopyCancel"));
    EXPECT_FALSE(Log.Has("FileDone 0"));
    EXPECT_FALSE(Log.Has("FileStart 1"));
    EXPECT_EQ(Log.Lines.back(), "CopyDone");
    EXPECT_EQ(test::ReadFile(Dir / "s.bin"), "keep me");
    EXPECT_EQ(Dir.List(), std::vector<std::string>{"s.bin"});

    // CancelCopy before Execute has no effect: the dialog build clears it.
    W.OnCopyProgress = nullptr;
    First->SetActive(false);
    W.CancelCopy();
    W.Execute();
    EXPECT_TRUE(Later->Success());
}

TEST_F(HttpDownload, CancelWorksWhileWaitingForTheServer) {
    // The Cancel button is serviced by the message pump during the wait
    // for an answer; the wait ends at once and nothing is reported.
    TWebCopyItem* It = Job("/stall/5000/w.bin");
    int Pumped = 0;
    SetMessagePump([&] {
        if (++Pumped == 3 && W.ProgressForm() != nullptr)
            static_cast<TButton*>(W.ProgressForm()->FindControl("CancelButton"))->Click();
    });
    W.Execute();
    SetMessagePump(nullptr);
    EXPECT_TRUE(It->Cancelled());
    EXPECT_FALSE(Log.Has("URLNotFound " + It->URL()));
    EXPECT_TRUE(Dir.List().empty());
}

TEST_F(HttpDownload, BodyAnnouncedEmptyIsAnEmptyFile) {
    // 200 with Content-Length: 0 is a whole file of no bytes.
    TWebCopyItem* It = Job("/empty/e.bin");
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_TRUE(test::Exists(Dir / "e.bin"));
    EXPECT_EQ(test::ReadFile(Dir / "e.bin"), "");
}

TEST_F(HttpDownload, NamesTheTargetCannotTake) {
    // A URL ending in "/" gives no name: the file cannot be created.
    TWebCopyItem* It = Job("/file/10/");
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(Log.Has("ErrorInfo 3 Cannot create file " + Dir.Path() + "/"));

    // A decoded separator never leads out of the target folder.
    test::TTempDir Outer;
    It->SetTargetDir(Outer / "in");
    It->SetURL(Server().Url("/file/10/..%2Fescaped.bin"));
    W.SetAutoURLDecode(true);
    Log.Lines.clear();
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(Log.Has("Error 3"));
    EXPECT_FALSE(test::Exists(Outer / "escaped.bin"));
    EXPECT_FALSE(test::Exists(Outer / "in"));

    // A directory in the target's place.
    It->SetURL(Server().Url("/file/10/sub"));
    It->SetTargetDir(Dir.Path());
    kivo::CreateDir(Dir / "sub");
    Log.Lines.clear();
    W.Execute();
    EXPECT_TRUE(Log.Has("ErrorInfo 3 Cannot create file " + Dir / "sub"));
}

TEST_F(HttpDownload, PercentDecodingOfTheName) {
    TWebCopyItem* It = Job("/file/5/a%20b.zip");
    W.Execute();
    EXPECT_TRUE(test::Exists(Dir / "a%20b.zip"));
    W.SetAutoURLDecode(true);
    W.Execute();
    EXPECT_TRUE(test::Exists(Dir / "a b.zip"));
    It->SetURL(Server().Url("/file/5/a%2fb"));
    W.Execute();
    EXPECT_TRUE(test::Exists(Dir / "ab"));
}

TEST_F(HttpDownload, MissingFoldersAreCreated) {
    TWebCopyItem* It = Job("/file/30/deep.bin");
    It->SetTargetDir(Dir / "one/two/three");
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(test::ReadFile(Dir / "one/two/three/deep.bin"), test::Pattern(30));
}

TEST_F(HttpDownload, OverwriteQuestionAndUniqueNames) {
    test::WriteFile(Dir / "a.zip", "old");
    TWebCopyItem* It = Job("/file/10/a.zip");
    W.OnCopyOverWrite = [&](TWebCopy*, const std::string& Path, bool& Allow) {
        Log.Add("CopyOverWrite " + Path);
        Allow = false;
    };
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(Log.Has("CopyOverWrite " + Dir / "a.zip"));
    EXPECT_FALSE(Log.Has("Error 3"));
    EXPECT_EQ(test::ReadFile(Dir / "a.zip"), "old");

    W.OnCopyOverWrite = nullptr;
    W.SetCreateUniqueFilenames(true);
    W.Execute();
    W.Execute();
    EXPECT_EQ(test::ReadFile(Dir / "a.zip"), "old");
    EXPECT_EQ(Dir.List(), (std::vector<std::string>{"a(1).zip", "a(2).zip", "a.zip"}));

    // Allowed without unique names: replaced.
    W.SetCreateUniqueFilenames(false);
    W.Execute();
    EXPECT_EQ(test::ReadFile(Dir / "a.zip"), test::Pattern(10));
}

TEST_F(HttpDownload, CounterCountsActiveJobsOnly) {
    Job("/file/10/a.bin")->SetActive(false);
    Job("/file/10/b.bin");
    TWebCopyItem* C = Job("/file/10/c.bin");
    C->SetDisplayURL("Shown name");
    std::vector<std::string> FileLines;
    W.OnCopyProgress = [&](TWebCopy* S, int32_t Num, uint32_t Size, uint32_t) {
        if (Size == 0) return;
        FileLines.push_back(std::to_string(Num) + "|" + S->ProgressFileLabel()->Caption());
    };
    W.SetShowServer(false);
    W.Execute();
    ASSERT_FALSE(FileLines.empty());
    EXPECT_EQ(FileLines.front(), "1|File : 1 of 2 : b.bin");
    EXPECT_EQ(FileLines.back(), "2|File : 2 of 2 : Shown name");
    EXPECT_FALSE(Log.Has("FileStart 0"));
    EXPECT_TRUE(Log.Has("FileStart 2"));
    EXPECT_EQ(W.Items()->SuccessCount(), 2);
    EXPECT_EQ(W.LastUpdateStatus(), wusFailed); // the inactive item never succeeded
}

TEST_F(HttpDownload, SessionTimeoutEndsAStalledBody) {
    TWebCopyItem* It = Job("/slow/100000/1500/t.bin");
    W.SetTimeout(1);
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(Log.Has("Error 7")); // the body ended early
    EXPECT_TRUE(Dir.List().empty());
}

} // namespace
