// The FTP calls of the Internet layer against vsftpd: what a caller gets back
// for a refused login, a busy connection, and names that would smuggle a
// second command onto the control connection.
#include <functional>
#include <gtest/gtest.h>

#include "platform/Internet.h"
#include "runtime/SysUtils.h"
#include "support/FtpTestServer.h"
#include "support/TestSupport.h"

using namespace kivo;

namespace {

class FtpLayer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::Vsftpd().SkipReason().empty()) GTEST_SKIP() << test::Vsftpd().SkipReason();
        Session.reset(InternetOpenW("test", INTERNET_OPEN_TYPE_DIRECT, "", "", 0));
        ASSERT_TRUE(Session);
    }
    HINTERNET Connect(const std::string& Password) {
        return InternetConnectW(Session.get(), "127.0.0.1",
                                static_cast<uint16_t>(test::Vsftpd().Port()), test::FtpTestUser,
                                Password, INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
    }
    TInternetHandlePtr Session;
};

TEST_F(FtpLayer, RefusedLoginFailsAtConnect) {
    EXPECT_EQ(Connect("wrong"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_LOGIN_FAILURE);
}

TEST_F(FtpLayer, OneTransferAtATimePerConnection) {
    const std::string Name = "busy.bin";
    ASSERT_TRUE(test::WriteFile(test::Vsftpd().UserRoot() + "/" + Name, test::Pattern(1 << 20)));
    TInternetHandlePtr C(Connect(test::FtpTestPassword));
    ASSERT_TRUE(C);
    TInternetHandlePtr File(
        FtpOpenFileW(C.get(), Name, GENERIC_READ_ACCESS, FTP_TRANSFER_TYPE_BINARY, 0));
    ASSERT_TRUE(File);
    uint32_t High = 0;
    EXPECT_EQ(FtpGetFileSize(File.get(), &High), 1u << 20);
    EXPECT_FALSE(FtpSetCurrentDirectoryW(C.get(), "/"));
    EXPECT_EQ(GetLastError(), ERROR_FTP_TRANSFER_IN_PROGRESS);
    File.reset();
    EXPECT_TRUE(FtpSetCurrentDirectoryW(C.get(), "/"));
    std::string Dir;
    EXPECT_TRUE(FtpGetCurrentDirectoryW(C.get(), Dir));
    EXPECT_EQ(Dir, "/");
}

// Every call that names a path refuses CR, LF and NUL before sending.
struct TNameCall {
    const char* Name;
    std::function<bool(HINTERNET, const std::string&)> Call;
};

class FtpNames : public FtpLayer, public ::testing::WithParamInterface<TNameCall> {};

TEST_P(FtpNames, WithLineBreaksAreRefusedUnsent) {
    TInternetHandlePtr C(Connect(test::FtpTestPassword));
    ASSERT_TRUE(C);
    for (const std::string& Name :
         {std::string("x\r\nDELE keep"), std::string("x\nRMD y"), std::string("x\0y", 3)}) {
        const size_t Before = test::Vsftpd().Log().size();
        EXPECT_FALSE(GetParam().Call(C.get(), Name));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER_VALUE);
        EXPECT_EQ(test::Vsftpd().Log().size(), Before); // nothing reached the server
    }
}

const TNameCall NameCalls[] = {
    {"SetCurrentDirectory",
     [](HINTERNET C, const std::string& N) { return FtpSetCurrentDirectoryW(C, N); }},
    {"CreateDirectory",
     [](HINTERNET C, const std::string& N) { return FtpCreateDirectoryW(C, N); }},
    {"DeleteFile", [](HINTERNET C, const std::string& N) { return FtpDeleteFileW(C, N); }},
    {"OpenFile",
     [](HINTERNET C, const std::string& N) {
         TInternetHandlePtr F(
             FtpOpenFileW(C, N, GENERIC_WRITE_ACCESS, FTP_TRANSFER_TYPE_BINARY, 0));
         return static_cast<bool>(F);
     }},
    {"FindFirstFile",
     [](HINTERNET C, const std::string& N) {
         WIN32_FIND_DATAW Data;
         TInternetHandlePtr F(FtpFindFirstFileW(C, N, Data, 0, 0));
         return static_cast<bool>(F);
     }},
};

INSTANTIATE_TEST_SUITE_P(Ftp, FtpNames, ::testing::ValuesIn(NameCalls),
                         [](const auto& I) { return std::string(I.param.Name); });

} // namespace
