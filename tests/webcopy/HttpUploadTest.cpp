// HTTP uploads with PUT and POST against a real server that records what
// arrived.
#include <gtest/gtest.h>

#include "platform/Internet.h"
#include "support/EventLog.h"
#include "support/TestSupport.h"
#include "webcopy/Webcopy.h"

using namespace kivo;
using namespace kivo::webcopy;
using kivo::test::Server;

namespace {

class HttpUpload : public ::testing::Test {
protected:
    void SetUp() override { Server().ClearLog(); }

    TWebCopyItem* Job(const std::string& Path, const std::string& Local,
                      TWebCopyHTTPCommand Command) {
        TWebCopyItem* It = W.Items()->Add();
        It->SetProtocol(wpHttpUpload);
        It->SetURL(Server().Url(Path));
        It->SetTargetDir(Dir.Path());
        It->SetTargetFilename(Local);
        It->SetHTTPCommand(Command);
        return It;
    }

    test::TTempDir Dir;
    TWebCopy W{nullptr};
    test::TEventLog Log{W};
};

TEST_F(HttpUpload, PutStoresTheFileOnTheServer) {
    const std::string Data = test::Pattern(100000);
    test::WriteFile(Dir / "up.bin", Data);
    TWebCopyItem* It = Job("/sink/put.bin", "up.bin", hcPut);
    std::string Caption;
    int Clip = 0;
    W.OnCopyProgress = [&](TWebCopy* S, int32_t, uint32_t Size, uint32_t Total) {
        Caption = S->ProgressForm()->Caption();
        Clip = static_cast<TAnimate*>(S->ProgressForm()->FindControl("Animate"))->ResId();
        Log.ProgressSizes.push_back(Size);
        EXPECT_EQ(Total, 100000u);
    };
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(test::ReadFile(Server().SinkDir() + "/put.bin"), Data);
    EXPECT_EQ(Caption, "Uploading ...");
    EXPECT_EQ(Clip, ClipUpload);
    EXPECT_EQ(Log.ProgressSizes.back(), 100000u);
    EXPECT_EQ(Log.ProgressSizes.size(), 25u); // 24 full blocks and the rest
    std::string Requests = Server().RequestLog();
    EXPECT_NE(Requests.find("PUT /sink/put.bin"), std::string::npos);
    EXPECT_NE(Requests.find("Content-Length: 100000"), std::string::npos);
    EXPECT_EQ(Requests.find("Expect:"), std::string::npos);
}

TEST_F(HttpUpload, PostOfAnExactMultipleOfTheBlockSize) {
    // 8192 bytes: two full reads and a third of zero bytes.
    const std::string Data = test::Pattern(8192);
    test::WriteFile(Dir / "post.bin", Data);
    TWebCopyItem* It = Job("/sink/post.bin", "", hcPost);
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(Log.ProgressCount, 3);
    EXPECT_EQ(Log.ProgressSizes, (std::vector<uint32_t>{4096, 8192, 8192}));
    EXPECT_EQ(test::ReadFile(Server().SinkDir() + "/post.bin"), Data);
    EXPECT_NE(Server().RequestLog().find("POST /sink/post.bin"), std::string::npos);
}

TEST_F(HttpUpload, EmptyFileUploads) {
    test::WriteFile(Dir / "empty.bin", "");
    TWebCopyItem* It = Job("/sink/empty.bin", "empty.bin", hcPut);
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_TRUE(test::Exists(Server().SinkDir() + "/empty.bin"));
}

TEST_F(HttpUpload, MissingSourceSendsNothing) {
    TWebCopyItem* It = Job("/sink/none.bin", "not-there.bin", hcPut);
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_FALSE(Log.Has("Error 6"));
    EXPECT_TRUE(Log.Has("ErrorInfo 1 Cannot open source file " + Dir / "not-there.bin"));
    EXPECT_EQ(Server().RequestLog(), "");
}

TEST_F(HttpUpload, ConnectionFailureReportsTheLayerError) {
    test::WriteFile(Dir / "c.bin", "data");
    TWebCopyItem* It = W.Items()->Add();
    It->SetProtocol(wpHttpUpload);
    It->SetURL("http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/sink/c.bin");
    It->SetTargetDir(Dir.Path());
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(Log.Has("Error 12029"));
    EXPECT_TRUE(Log.Has("ErrorInfo 12029 " + InternetErrorMessage(ERROR_INTERNET_CANNOT_CONNECT)));

    // A URL without a host cannot even open a request.
    It->SetURL("http:///sink/c.bin");
    Log.Lines.clear();
    W.Execute();
    EXPECT_TRUE(Log.Has("ErrorInfo 6 Cannot connect to server "));
}

TEST_F(HttpUpload, RefusedUploadIsNoSuccess) {
    test::WriteFile(Dir / "r.bin", test::Pattern(5000));
    TWebCopyItem* It = Job("/reject/403/r.bin", "r.bin", hcPut);
    W.Execute();
    EXPECT_FALSE(It->Success());
    EXPECT_TRUE(Log.Has("ErrorInfo 403 Returned http error code 403"));
}

} // namespace
