// Misbehaving servers (canned replies, cut connections, resets, stalls) met
// by the engine and by kivo-webcopy, with credentials in every URL: each
// failure names the URL without them and gives a reason, and the file the
// user had stays as it was, with nothing beside it or outside its folder.
#include <cstdio>
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
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
constexpr int32_t InvalidReply = ERROR_HTTP_INVALID_SERVER_RESPONSE;

// How a job ends: the file arrives, or it fails with a code whose text is
// the incomplete-download text, the layer's text (after OnURLNotFound), the
// status text, or the upload's source text.
enum TOutcome { oFile, oIncomplete, oLayer, oStatus, oSource };

struct TReply {
    const char* Name;
    const char* Route; // on the test server, nullptr for a port nothing listens on
    TOutcome Outcome;
    int32_t Code;
    int32_t Timeout = 0; // seconds, for the engine and the tool
};

std::string RowName(const testing::TestParamInfo<TReply>& Info) {
    return Info.param.Name;
}

class Hostile : public testing::TestWithParam<TReply> {
protected:
    void SetUp() override {
        SetMessageLanguage(mlEnglish); // the tool runs in the C locale
        kivo::CreateDir(Target);
        test::WriteFile(File, OldContent);
        const char* Route = GetParam().Route;
        Url = Route ? Server().Url(Route)
                    : "http://127.0.0.1:" + IntToStr(test::ClosedPort()) + "/f.bin";
        Secret = "http://alice:s3cretPW@" + Url.substr(7);
    }
    void TearDown() override { SetLoginHook(nullptr); }

    // Runs the job through the engine with a trace log and gives the reports
    // (URL not found, errors). The trace names the URL; no event, login
    // caption or trace line shows the credentials.
    std::vector<std::string> RunEngine(TWebCopy& W, TWebCopyItem* It) {
        test::TEventLog Log(W);
        SetLoginHook([&](const std::string& Caption, std::string&, std::string&) {
            Captions.push_back(Caption);
            return false;
        });
        W.SetLogfileName(Logs / "trace.log");
        W.SetTimeout(GetParam().Timeout);
        It->SetTargetDir(Target);
        W.Execute();
        std::string Seen = test::ReadFile(Logs / "trace.log");
        EXPECT_NE(Seen.find(Url), std::string::npos) << Seen;
        std::vector<std::string> Reports;
        for (const std::string& L : Log.Lines) {
            if (L.rfind("URLNotFound", 0) == 0 || L.rfind("Error", 0) == 0) Reports.push_back(L);
            Seen += L + "\n";
        }
        for (const std::string& C : Captions)
            Seen += C + "\n";
        ExpectNoSecret(Seen);
        return Reports;
    }
    std::vector<std::string> ExpectedReports() const {
        const std::string Code = IntToStr(GetParam().Code);
        std::vector<std::string> Lines;
        if (GetParam().Outcome == oLayer) Lines.push_back("URLNotFound " + Url);
        if (GetParam().Outcome == oFile) return Lines;
        Lines.push_back("Error " + Code);
        Lines.push_back("ErrorInfo " + Code + " " + ErrorText());
        return Lines;
    }
    std::string ErrorText() const {
        const int32_t Code = GetParam().Code;
        switch (GetParam().Outcome) {
        case oIncomplete: return SIncompleteDownload + File;
        case oLayer: return InternetErrorMessage(static_cast<uint32_t>(Code));
        case oStatus: return "Returned http error code " + IntToStr(Code);
        case oSource: return "Cannot open source file " + File;
        case oFile: break;
        }
        return std::string();
    }
    // The tool's own words for the failures users meet most, else the engine's text.
    std::string ToolText() const {
        switch (GetParam().Code) {
        case 12029: return "connection refused";
        case 12002: return "timed out";
        default: return ErrorText();
        }
    }
    // kivo-webcopy with the credentials in the URL: exit status 1 and one
    // line with the URL without them, the code and the text (0 and nothing
    // when the file arrives).
    void RunTool(std::vector<std::string> Args) const {
        const TReply& R = GetParam();
        if (R.Timeout > 0) Args.insert(Args.end(), {std::string("--timeout"), IntToStr(R.Timeout)});
        const test::TRun Run = test::RunProgram(KIVO_WEBCOPY_TOOL, Args);
        EXPECT_EQ(Run.Status, R.Outcome == oFile ? 0 : 1);
        EXPECT_EQ(Run.Err, R.Outcome == oFile ? std::string()
                                              : "kivo-webcopy: " + Url + ": error " +
                                                    IntToStr(R.Code) + ": " + ToolText() + "\n");
        ExpectNoSecret(Run.Out + Run.Err);
    }
    // The user's file, alone in the target folder, which is alone in its parent.
    void ExpectOnlyTheFile() const {
        EXPECT_EQ(test::ReadFile(File), GetParam().Outcome == oFile ? "" : OldContent);
        EXPECT_EQ(test::ListFolder(Target), std::vector<std::string>{"f.bin"});
        EXPECT_EQ(Outer.List(), std::vector<std::string>{"target"});
    }
    static void ExpectNoSecret(const std::string& Text) {
        EXPECT_EQ(Text.find("alice"), std::string::npos) << Text;
        EXPECT_EQ(Text.find("s3cretPW"), std::string::npos) << Text;
    }

    test::TTempDir Outer, Logs;
    const std::string Target = Outer / "target";
    const std::string File = Target + "/f.bin";
    std::string Url, Secret;
    std::vector<std::string> Captions; // of the login dialogs asked for
};

using Download = Hostile;

TEST_P(Download, IsReportedAndKeepsTheUsersFile) {
    if (GetParam().Route != nullptr && test::HostileReplyUndetected(GetParam().Route))
        GTEST_SKIP() << "the system's Internet library lets this reply through";
    TWebCopy W(nullptr);
    TWebCopyItem* It = W.Items()->Add();
    It->SetURL(Secret);
    EXPECT_EQ(RunEngine(W, It), ExpectedReports());
    EXPECT_EQ(It->Success(), GetParam().Outcome == oFile);
    ExpectOnlyTheFile();
    RunTool({"get", Secret, "-d", Target});
    ExpectOnlyTheFile();
}

// A body cut short is no file, however it ends.
const TReply CutBodies[] = {
    {"ChunkCutMidChunk", "/raw/chunk-cut/f.bin", oIncomplete, wceIncompleteDownload},
    {"LastChunkMissing", "/chunkedcut/12000/f.bin", oIncomplete, wceIncompleteDownload},
    {"CutInAChunkSize", "/raw/chunk-cut-in-size/f.bin", oIncomplete, wceIncompleteDownload},
    {"CutBeforeAChunksLineEnd", "/raw/chunk-cut-before-line-end/f.bin", oIncomplete,
     wceIncompleteDownload},
    {"LastChunkUnfinished", "/raw/chunk-end-unfinished/f.bin", oIncomplete, wceIncompleteDownload},
    {"ResetInABodyWithoutLength", "/raw/reset/f.bin", oIncomplete, wceIncompleteDownload},
    {"ShorterThanAnnounced", "/cut/9000/100/f.bin", oIncomplete, wceIncompleteDownload},
    // libcurl does not report a gzip coding that stops early: refused whole.
    {"GzipChunked", "/raw/gzip-chunked/f.bin", oLayer, InvalidReply},
};
INSTANTIATE_TEST_SUITE_P(BodyCutShort, Download, testing::ValuesIn(CutBodies), RowName);

// The outcome comes before the rename: only an announced empty body is a file.
const TReply EmptyReplies[] = {
    {"AnnouncedEmpty", "/empty/f.bin", oFile, 0},
    {"NoContent", "/raw/no-content/f.bin", oStatus, 204},
    {"LengthInHex", "/raw/length-hex/f.bin", oLayer, InvalidReply},
    {"EmptyOfUnknownLength", "/raw/empty-unannounced/f.bin", oIncomplete, wceIncompleteDownload},
};
INSTANTIATE_TEST_SUITE_P(NoBody, Download, testing::ValuesIn(EmptyReplies), RowName);

// The request asked for no range: a part is no file, even one that covers all.
const TReply PartialReplies[] = {
    {"PartOfALargerFile", "/raw/partial/f.bin", oStatus, 206},
    {"PartThatCoversTheFile", "/raw/partial-all/f.bin", oStatus, 206},
};
INSTANTIATE_TEST_SUITE_P(PartialContent, Download, testing::ValuesIn(PartialReplies), RowName);

// Replies that fail before a body, each with a word (the status and the
// missing server show the other paths of a URL into a report).
const TReply HeadFailures[] = {
    {"NegativeLength", "/raw/length-negative/f.bin", oLayer, InvalidReply},
    {"LengthInWords", "/raw/length-text/f.bin", oLayer, InvalidReply},
    {"MegabyteHeaderLine", "/raw/huge-header/f.bin", oLayer, InvalidReply},
    {"HundredThousandHeaders", "/raw/many-headers/f.bin", oLayer, InvalidReply},
    {"NulInAHeader", "/raw/nul-header/f.bin", oLayer, InvalidReply},
    {"NotFound", "/status/404/f.bin", oStatus, 404},
    {"NoServer", nullptr, oLayer, ERROR_INTERNET_CANNOT_CONNECT},
};
INSTANTIATE_TEST_SUITE_P(FailureWithAWord, Download, testing::ValuesIn(HeadFailures), RowName);

// A server that stops answering ends the job at the time-out: before the
// head as the layer's time-out, in the body as an incomplete download.
const TReply Stalls[] = {
    {"NeverAnswers", "/stall/10000/f.bin", oLayer, ERROR_INTERNET_TIMEOUT, 1},
    {"StallsInTheBody", "/slow/100000/3000/f.bin", oIncomplete, wceIncompleteDownload, 1},
};
INSTANTIATE_TEST_SUITE_P(Stall, Download, testing::ValuesIn(Stalls), RowName);

// The paths only credentials take: the login caption (the login is declined,
// so a 401 is not reported) and the engine's proxy credentials.
using Credentials = Hostile;

TEST_P(Credentials, StayHidden) {
    const bool AsksLogin = GetParam().Code == 401;
    TWebCopy W(nullptr);
    TWebCopyItem* It = W.Items()->Add();
    It->SetURL(Secret);
    It->SetAuthenticate(waAuto);
    EXPECT_EQ(RunEngine(W, It), AsksLogin ? std::vector<std::string>() : ExpectedReports());
    EXPECT_EQ(Captions.size(), AsksLogin ? 1u : 0u);

    TWebCopy Proxied(nullptr);
    Proxied.SetProxyUserID("alice");
    Proxied.SetProxyPassword("s3cretPW");
    TWebCopyItem* Plain = Proxied.Items()->Add();
    Plain->SetURL(Url);
    EXPECT_EQ(RunEngine(Proxied, Plain), ExpectedReports());
    ExpectOnlyTheFile();
}

const TReply Logins[] = {
    {"LoginAsked", "/auth/u/pw/10/f.bin", oStatus, 401},
    {"NoServer", nullptr, oLayer, ERROR_INTERNET_CANNOT_CONNECT},
};
INSTANTIATE_TEST_SUITE_P(InTheUrl, Credentials, testing::ValuesIn(Logins), RowName);

// Uploads of the user's file: a source that cannot be read is reported and
// nothing is sent.
using Upload = Hostile;

TEST_P(Upload, IsReported) {
    const bool NoSource = GetParam().Outcome == oSource;
    if (NoSource) std::remove(File.c_str());
    if (std::string(GetParam().Name) == "Folder") kivo::CreateDir(File);
    Server().ClearLog();
    TWebCopy W(nullptr);
    TWebCopyItem* It = W.Items()->Add();
    It->SetProtocol(wpHttpUpload);
    It->SetURL(Secret);
    EXPECT_EQ(RunEngine(W, It), ExpectedReports());
    RunTool({"put", File, Secret});
    EXPECT_EQ(Server().RequestLog().empty(), NoSource);
}

const TReply Sources[] = {
    {"Missing", "/sink/f.bin", oSource, wceOpenSource},
    {"Folder", "/sink/f.bin", oSource, wceOpenSource},
    {"Refused", "/reject/403/f.bin", oStatus, 403},
};
INSTANTIATE_TEST_SUITE_P(PutOf, Upload, testing::ValuesIn(Sources), RowName);

} // namespace
