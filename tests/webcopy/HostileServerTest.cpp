// Misbehaving servers (canned replies, cut connections, resets, stalls) met
// by the engine and by kivo-webcopy: every failure names the URL without its
// credentials and a reason, and the file the user had stays as it was, with
// nothing left beside it or outside the target folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Internet.h"
#include "runtime/SysMessages.h"
#include "runtime/Text.h"
#include "support/EventLog.h"
#include "support/TestSupport.h"
#include "webcopy/Webcopy.h"

using namespace kivo;
using namespace kivo::webcopy;
using kivo::test::Server;

namespace {

const std::string OldContent = "the file I had";

// The report lines of a run: URL not found and the errors.
std::vector<std::string> Reports(const test::TEventLog& Log) {
    std::vector<std::string> Lines;
    for (const std::string& L : Log.Lines)
        if (L.rfind("URLNotFound", 0) == 0 || L.rfind("Error", 0) == 0) Lines.push_back(L);
    return Lines;
}

// How a download ends: the file arrives, or the job fails with a code whose
// text is the incomplete-download text, the layer's text (after
// OnURLNotFound) or the status text.
enum TOutcome { oFile, oIncomplete, oLayer, oStatus };

struct TReply {
    const char* Name;
    const char* Route; // on the test server; the file name is f.bin
    TOutcome Outcome;
    int32_t Code;
    int32_t Timeout = 0; // seconds, for the engine and the tool
};

void PrintTo(const TReply& R, std::ostream* Os) {
    *Os << R.Name;
}
std::string ReplyName(const testing::TestParamInfo<TReply>& Info) {
    return Info.param.Name;
}

class HostileReply : public testing::TestWithParam<TReply> {
protected:
    void SetUp() override {
        SetMessageLanguage(mlEnglish); // the tool runs in the C locale
        ASSERT_EQ(::mkdir(Target.c_str(), 0755), 0);
        ASSERT_TRUE(test::WriteFile(Target + "/f.bin", OldContent));
    }

    std::string ErrorText() const {
        const TReply& R = GetParam();
        switch (R.Outcome) {
        case oIncomplete: return SIncompleteDownload + Target + "/f.bin";
        case oLayer: return InternetErrorMessage(static_cast<uint32_t>(R.Code));
        case oStatus: return "Returned http error code " + IntToStr(R.Code);
        case oFile: break;
        }
        return std::string();
    }

    // The user's file, alone in the target folder, which is alone in its parent.
    void ExpectOnlyTheFile() const {
        EXPECT_EQ(test::ReadFile(Target + "/f.bin"), GetParam().Outcome == oFile ? "" : OldContent);
        EXPECT_EQ(test::ListFolder(Target), std::vector<std::string>{"f.bin"});
        EXPECT_EQ(Outer.List(), std::vector<std::string>{"target"});
    }

    test::TTempDir Outer;
    const std::string Target = Outer / "target";
};

TEST_P(HostileReply, IsReportedAndKeepsTheUsersFile) {
    const TReply& R = GetParam();
    const std::string Url = Server().Url(R.Route);
    const std::string Code = IntToStr(R.Code);

    TWebCopy W(nullptr);
    test::TEventLog Log(W);
    TWebCopyItem* It = W.Items()->Add();
    It->SetURL(Url);
    It->SetTargetDir(Target);
    W.SetTimeout(R.Timeout);
    W.Execute();
    std::vector<std::string> Expected;
    if (R.Outcome == oLayer) Expected.push_back("URLNotFound " + Url);
    if (R.Outcome != oFile) {
        Expected.push_back("Error " + Code);
        Expected.push_back("ErrorInfo " + Code + " " + ErrorText());
    }
    EXPECT_EQ(It->Success(), R.Outcome == oFile);
    EXPECT_EQ(Reports(Log), Expected);
    ExpectOnlyTheFile();

    std::vector<std::string> Args = {"get", Url, "-d", Target};
    if (R.Timeout > 0) {
        Args.push_back("--timeout");
        Args.push_back(IntToStr(R.Timeout));
    }
    const test::TRun Run = test::RunProgram(KIVO_WEBCOPY_TOOL, Args);
    EXPECT_EQ(Run.Status, R.Outcome == oFile ? 0 : 1);
    EXPECT_EQ(Run.Err, R.Outcome == oFile ? std::string()
                                          : "kivo-webcopy: " + Url + ": error " + Code + ": " +
                                                ErrorText() + "\n");
    ExpectOnlyTheFile();
}

// A body cut short is no file, however it ends.
const TReply CutBodies[] = {
    {"ChunkCutMidChunk", "/raw/chunk-cut/f.bin", oIncomplete, wceIncompleteDownload},
    {"LastChunkMissing", "/chunkedcut/12000/f.bin", oIncomplete, wceIncompleteDownload},
    {"ResetInABodyWithoutLength", "/raw/reset/f.bin", oIncomplete, wceIncompleteDownload},
    {"ShorterThanAnnounced", "/cut/9000/100/f.bin", oIncomplete, wceIncompleteDownload},
    // libcurl does not report a gzip coding that stops early: refused whole.
    {"GzipChunkedThatEndsEarly", "/raw/gzip-chunked/f.bin", oLayer,
     ERROR_HTTP_INVALID_SERVER_RESPONSE},
};
INSTANTIATE_TEST_SUITE_P(BodyCutShort, HostileReply, testing::ValuesIn(CutBodies), ReplyName);

// The outcome is decided before the rename: only an announced empty body is
// an (empty) file.
const TReply EmptyReplies[] = {
    {"AnnouncedEmpty", "/empty/f.bin", oFile, 0},
    {"NoContent", "/raw/no-content/f.bin", oStatus, 204},
    {"LengthInHex", "/raw/length-hex/f.bin", oLayer, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {"EmptyOfUnknownLength", "/raw/empty-unannounced/f.bin", oIncomplete, wceIncompleteDownload},
};
INSTANTIATE_TEST_SUITE_P(NoBody, HostileReply, testing::ValuesIn(EmptyReplies), ReplyName);

// The request asked for no range: a part is no file, even one that covers all.
const TReply PartialReplies[] = {
    {"PartOfALargerFile", "/raw/partial/f.bin", oStatus, 206},
    {"PartThatCoversTheFile", "/raw/partial-all/f.bin", oStatus, 206},
};
INSTANTIATE_TEST_SUITE_P(PartialContent, HostileReply, testing::ValuesIn(PartialReplies),
                         ReplyName);

// Heads that cannot be read are reported, not dropped in silence.
const TReply UnreadableHeads[] = {
    {"NegativeLength", "/raw/length-negative/f.bin", oLayer, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {"LengthInWords", "/raw/length-text/f.bin", oLayer, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {"MegabyteHeaderLine", "/raw/huge-header/f.bin", oLayer, ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {"HundredThousandHeaders", "/raw/many-headers/f.bin", oLayer,
     ERROR_HTTP_INVALID_SERVER_RESPONSE},
    {"NulInAHeader", "/raw/nul-header/f.bin", oLayer, ERROR_HTTP_INVALID_SERVER_RESPONSE},
};
INSTANTIATE_TEST_SUITE_P(UnreadableHead, HostileReply, testing::ValuesIn(UnreadableHeads),
                         ReplyName);

// A server that stops answering ends the job at the time-out: before the
// head as the layer's time-out, in the body as an incomplete download.
const TReply Stalls[] = {
    {"NeverAnswers", "/stall/10000/f.bin", oLayer, ERROR_INTERNET_TIMEOUT, 1},
    {"StallsInTheBody", "/slow/100000/3000/f.bin", oIncomplete, wceIncompleteDownload, 1},
};
INSTANTIATE_TEST_SUITE_P(Stall, HostileReply, testing::ValuesIn(Stalls), ReplyName);

TEST(Stall, TimeoutZeroMeansTheFiniteDefaults) {
    struct TSessionProbe : TWebCopy {
        using TWebCopy::TWebCopy;
        uint32_t Option(uint32_t Which) const {
            uint32_t Ms = 0, Len = sizeof Ms;
            InternetQueryOptionW(FHinternet, Which, &Ms, Len);
            return Ms;
        }
    };
    test::TTempDir Dir;
    TSessionProbe W(nullptr);
    W.Items()->Add()->SetURL(Server().Url("/file/10/f.bin"));
    W.Items()->Items(0)->SetTargetDir(Dir.Path());
    std::vector<uint32_t> Seen;
    W.OnFileStart = [&](TWebCopy*, int32_t) {
        for (uint32_t Option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                INTERNET_OPTION_RECEIVE_TIMEOUT})
            Seen.push_back(W.Option(Option));
    };
    ASSERT_EQ(W.Timeout(), 0);
    W.Execute();
    EXPECT_EQ(Seen, (std::vector<uint32_t>{INTERNET_DEFAULT_CONNECT_TIMEOUT_MS,
                                           INTERNET_DEFAULT_IO_TIMEOUT_MS,
                                           INTERNET_DEFAULT_IO_TIMEOUT_MS}));
}

// ---------------------------------------------------------------------------
// Credentials written into a URL never show.

struct TLeak {
    const char* Name;
    const char* Verb;  // "get" or "put"
    const char* Route; // nullptr: a port nothing listens on
    int32_t Code;      // the error reported; 0 for none (a declined login)
    bool AsksLogin = false;
    bool ViaProxyProperties = false; // the engine's proxy credentials instead (no tool run)
};

void PrintTo(const TLeak& L, std::ostream* Os) {
    *Os << L.Name;
}
std::string LeakName(const testing::TestParamInfo<TLeak>& Info) {
    return Info.param.Name;
}

class Credentials : public testing::TestWithParam<TLeak> {
protected:
    void TearDown() override { SetLoginHook(nullptr); }
    static void ExpectNoSecret(const std::string& Text) {
        EXPECT_EQ(Text.find("alice"), std::string::npos) << Text;
        EXPECT_EQ(Text.find("s3cretPW"), std::string::npos) << Text;
    }
    test::TTempDir Dir;
};

TEST_P(Credentials, NeverReachEventsTraceOrOutput) {
    const TLeak& L = GetParam();
    const bool Upload = std::string(L.Verb) == "put";
    const std::string Host = "127.0.0.1:" + IntToStr(L.Route ? Server().Port() : test::ClosedPort());
    const std::string Plain = "http://" + Host + (L.Route ? L.Route : "/f.bin");
    const std::string Secret = "http://alice:s3cretPW@" + Plain.substr(7);
    ASSERT_TRUE(test::WriteFile(Dir / "f.bin", "upload me"));

    TWebCopy W(nullptr);
    test::TEventLog Log(W);
    std::vector<std::string> Captions;
    SetLoginHook([&](const std::string& Caption, std::string&, std::string&) {
        Captions.push_back(Caption);
        return false;
    });
    W.SetLogfileName(Dir / "trace.log");
    TWebCopyItem* It = W.Items()->Add();
    It->SetProtocol(Upload ? wpHttpUpload : wpHttp);
    It->SetURL(L.ViaProxyProperties ? Plain : Secret);
    It->SetTargetDir(Dir.Path());
    It->SetAuthenticate(L.AsksLogin ? waAuto : waNever);
    if (L.ViaProxyProperties) {
        W.SetProxyUserID("alice");
        W.SetProxyPassword("s3cretPW");
    }
    W.Execute();
    std::string Seen = test::ReadFile(Dir / "trace.log");
    EXPECT_NE(Seen.find(Plain), std::string::npos) << Seen; // the trace names the job
    for (const std::string& Line : Log.Lines)
        Seen += Line + "\n";
    for (const std::string& Caption : Captions)
        Seen += Caption + "\n";
    ExpectNoSecret(Seen);
    EXPECT_EQ(Log.Has("Error " + IntToStr(L.Code)), L.Code != 0);
    if (!L.Route && !Upload) {
        EXPECT_TRUE(Log.Has("URLNotFound " + Plain));
    }
    if (L.AsksLogin) {
        EXPECT_EQ(Captions, std::vector<std::string>{"Connect to " + Host});
    }
    if (L.ViaProxyProperties) return; // the tool has no proxy options

    std::vector<std::string> Args = {L.Verb};
    if (Upload) Args.push_back(Dir / "f.bin");
    Args.push_back(Secret);
    if (!Upload) {
        Args.push_back("-d");
        Args.push_back(Dir / "got");
    }
    if (L.AsksLogin) Args.push_back("--ask-login"); // no terminal: declined
    const test::TRun Run = test::RunProgram(KIVO_WEBCOPY_TOOL, Args);
    EXPECT_EQ(Run.Status, 1);
    ExpectNoSecret(Run.Out + Run.Err);
    if (L.Code == 0) {
        EXPECT_EQ(Run.Err, "");
    } else {
        EXPECT_TRUE(Run.Err.starts_with("kivo-webcopy: " + Plain + ": error " + IntToStr(L.Code)))
            << Run.Err;
    }
}

const TLeak Leaks[] = {
    {"ErrorStatus", "get", "/status/404/f.bin", 404},
    {"NoServer", "get", nullptr, ERROR_INTERNET_CANNOT_CONNECT},
    {"BodyCutShort", "get", "/cut/9000/100/f.bin", wceIncompleteDownload},
    {"LoginAsked", "get", "/auth/u/pw/10/f.bin", 0, true},
    {"ProxyCredentials", "get", nullptr, ERROR_INTERNET_CANNOT_CONNECT, false, true},
    {"UploadRefused", "put", "/reject/403/f.bin", 403},
    {"UploadWithoutServer", "put", nullptr, ERROR_INTERNET_CANNOT_CONNECT},
};
INSTANTIATE_TEST_SUITE_P(InTheUrl, Credentials, testing::ValuesIn(Leaks), LeakName);

// ---------------------------------------------------------------------------
// An upload whose source cannot be read says so and sends nothing.

struct TSource {
    const char* Name;
    bool Folder; // a folder in the file's place, else nothing there
};

void PrintTo(const TSource& S, std::ostream* Os) {
    *Os << S.Name;
}
std::string SourceName(const testing::TestParamInfo<TSource>& Info) {
    return Info.param.Name;
}

class UploadSource : public testing::TestWithParam<TSource> {};

TEST_P(UploadSource, IsReportedAndNothingIsSent) {
    SetMessageLanguage(mlEnglish);
    test::TTempDir Dir;
    const std::string Path = Dir / "up.bin";
    if (GetParam().Folder) {
        ASSERT_EQ(::mkdir(Path.c_str(), 0755), 0);
    }
    const std::string Url = Server().Url("/sink/up.bin");
    const std::string Text = "Cannot open source file " + Path;
    Server().ClearLog();

    TWebCopy W(nullptr);
    test::TEventLog Log(W);
    TWebCopyItem* It = W.Items()->Add();
    It->SetProtocol(wpHttpUpload);
    It->SetURL(Url);
    It->SetTargetDir(Dir.Path());
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_EQ(Reports(Log), (std::vector<std::string>{"Error 1", "ErrorInfo 1 " + Text}));

    const test::TRun Run = test::RunProgram(KIVO_WEBCOPY_TOOL, {"put", Path, Url});
    EXPECT_EQ(Run.Status, 1);
    EXPECT_EQ(Run.Err, "kivo-webcopy: " + Url + ": error 1: " + Text + "\n");
    EXPECT_EQ(Server().RequestLog(), "");
}

const TSource Sources[] = {{"Missing", false}, {"Folder", true}};
INSTANTIATE_TEST_SUITE_P(PutOf, UploadSource, testing::ValuesIn(Sources), SourceName);

} // namespace
