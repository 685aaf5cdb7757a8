// The Internet layer under the engine: handles, queries, pull reads,
// uploads, time-outs and cancelled waits, against the test server.
#include "platform/Internet.h"

#include <array>
#include <gtest/gtest.h>
#include <memory>

#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"
#include "support/TestSupport.h"

using namespace kivo;
using kivo::test::Server;

namespace {

using THandle = std::unique_ptr<TInternetHandle, TInternetHandleCloser>;

THandle Session() {
    return THandle(InternetOpenW("LayerTest", INTERNET_OPEN_TYPE_DIRECT, "", "", 0));
}

std::string ReadAll(HINTERNET R, bool& Ok, size_t& Largest) {
    std::string Body;
    std::array<char, 4096> Buf;
    uint32_t Got = 0;
    Largest = 0;
    while ((Ok = InternetReadFile(R, Buf.data(), Buf.size(), Got)) && Got > 0) {
        Body.append(Buf.data(), Got);
        Largest = std::max<size_t>(Largest, Got);
    }
    return Body;
}

TEST(InternetLayer, HandlesAndBadUrls) {
    THandle S = Session();
    ASSERT_TRUE(S);
    EXPECT_EQ(InternetOpenUrlW(S.get(), "ftp://127.0.0.1/x", "", 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    EXPECT_EQ(InternetOpenUrlW(S.get(), "no scheme at all", "", 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INVALID_URL);
    EXPECT_EQ(InternetOpenUrlW(nullptr, Server().Url("/file/1/a"), "", 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE_VALUE);

    HINTERNET Raw = InternetOpenW("x", INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
    EXPECT_TRUE(InternetCloseHandle(Raw));
    EXPECT_FALSE(InternetCloseHandle(Raw)); // stale handles are refused, not used
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE_VALUE);
    EXPECT_FALSE(InternetCloseHandle(nullptr));
    EXPECT_FALSE(InternetErrorMessage(ERROR_INTERNET_TIMEOUT).empty());
    EXPECT_FALSE(InternetErrorMessage(ERROR_INTERNET_CANNOT_CONNECT).empty());
}

TEST(InternetLayer, QueriesAndBlockReads) {
    THandle S = Session();
    THandle R(InternetOpenUrlW(S.get(), Server().Url("/dated/1700000000/50000/q.bin"), "", 0, 0));
    ASSERT_TRUE(R);
    uint32_t Status = 0, Len = 4;
    EXPECT_TRUE(HttpQueryInfoW(R.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &Status,
                               Len, nullptr));
    EXPECT_EQ(Status, 200u);
    uint32_t Length = 0;
    Len = 4;
    EXPECT_TRUE(HttpQueryInfoW(R.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &Length,
                               Len, nullptr));
    EXPECT_EQ(Length, 50000u);
    SYSTEMTIME St{};
    Len = sizeof St;
    EXPECT_TRUE(HttpQueryInfoW(R.get(), HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &St,
                               Len, nullptr));
    EXPECT_EQ(St.wYear, 2023);
    EXPECT_EQ(St.wHour, 22); // as sent, in GMT
    EXPECT_EQ(St.wSecond, 20);

    bool Ok = false;
    size_t Largest = 0;
    std::string Body = ReadAll(R.get(), Ok, Largest);
    EXPECT_TRUE(Ok);
    EXPECT_EQ(Body, test::Pattern(50000));
    EXPECT_EQ(Largest, 4096u); // never more than asked for

    // A missing header fails and leaves the buffer alone.
    THandle C(InternetOpenUrlW(S.get(), Server().Url("/chunked/10/c.bin"), "", 0, 0));
    Length = 1234;
    Len = 4;
    EXPECT_FALSE(HttpQueryInfoW(C.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                                &Length, Len, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    EXPECT_EQ(Length, 1234u);
}

TEST(InternetLayer, FinalUrlAfterRedirects) {
    THandle S = Session();
    std::string Url = Server().Url("/redirect/file~5~end.bin/start.bin");
    THandle R(InternetOpenUrlW(S.get(), Url, "", 0, 0));
    ASSERT_TRUE(R);
    std::array<char16_t, 2048> Buf{};
    uint32_t Len = sizeof Buf;
    ASSERT_TRUE(InternetQueryOptionW(R.get(), INTERNET_OPTION_URL, Buf.data(), Len));
    EXPECT_EQ(Utf16ToUtf8(Buf.data()), Server().Url("/file/5/end.bin"));
    std::array<char16_t, 4> Small{};
    Len = sizeof Small;
    EXPECT_FALSE(InternetQueryOptionW(R.get(), INTERNET_OPTION_URL, Small.data(), Len));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER_VALUE);
    EXPECT_GT(Len, sizeof Small);

    // Without a redirect the URL is the one asked for, as given.
    THandle Plain(InternetOpenUrlW(S.get(), Server().Url("/file/5/a b.bin"), "", 0, 0));
    Len = sizeof Buf;
    ASSERT_TRUE(InternetQueryOptionW(Plain.get(), INTERNET_OPTION_URL, Buf.data(), Len));
    EXPECT_EQ(Utf16ToUtf8(Buf.data()), Server().Url("/file/5/a b.bin"));
}

TEST(InternetLayer, TimeoutsAndCancelledWaits) {
    THandle S = Session();
    uint32_t Ms = 300;
    ASSERT_TRUE(InternetSetOptionW(S.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &Ms, sizeof Ms));
    THandle R(InternetOpenUrlW(S.get(), Server().Url("/slow/10000/2000/t.bin"), "", 0, 0));
    ASSERT_TRUE(R);
    bool Ok = true;
    size_t Largest = 0;
    ReadAll(R.get(), Ok, Largest);
    EXPECT_FALSE(Ok);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);

    // 0 (the engine's Timeout 0) gives back the finite default, as a new session has.
    Ms = 0;
    InternetSetOptionW(S.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &Ms, sizeof Ms);
    uint32_t Len = sizeof Ms;
    EXPECT_TRUE(InternetQueryOptionW(S.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &Ms, Len));
    EXPECT_EQ(Ms, INTERNET_DEFAULT_IO_TIMEOUT_MS);
    EXPECT_TRUE(InternetQueryOptionW(Session().get(), INTERNET_OPTION_CONNECT_TIMEOUT, &Ms, Len));
    EXPECT_EQ(Ms, INTERNET_DEFAULT_CONNECT_TIMEOUT_MS);

    // The abort check ends a wait at once.
    bool Abort = false;
    InternetSetAbortCheck(S.get(), [&] { return Abort; });
    THandle R2(InternetOpenUrlW(S.get(), Server().Url("/slow/10000/2000/t.bin"), "", 0, 0));
    Abort = true;
    ReadAll(R2.get(), Ok, Largest);
    EXPECT_FALSE(Ok);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);

    // A handle closed by a message handler during a wait: the wait ends
    // cancelled and the handle is released afterwards.
    InternetSetAbortCheck(S.get(), nullptr);
    HINTERNET R3 = InternetOpenUrlW(S.get(), Server().Url("/slow/10000/2000/t.bin"), "", 0, 0);
    ASSERT_NE(R3, nullptr);
    std::array<char, 4096> Buf;
    uint32_t Got = 0;
    ASSERT_TRUE(InternetReadFile(R3, Buf.data(), Buf.size(), Got)); // the first KiB is there
    SetMessagePump([&] {
        if (R3 != nullptr) {
            EXPECT_TRUE(InternetCloseHandle(R3));
            R3 = nullptr;
        }
    });
    HINTERNET Same = R3;
    EXPECT_FALSE(InternetReadFile(Same, Buf.data(), Buf.size(), Got));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    SetMessagePump(nullptr);
    EXPECT_FALSE(InternetCloseHandle(Same)); // already released
}

TEST(InternetLayer, UploadThroughAConnection) {
    THandle S = Session();
    THandle C(InternetConnectW(S.get(), "127.0.0.1", static_cast<uint16_t>(Server().Port()), "", "",
                               INTERNET_SERVICE_HTTP, 0, 0));
    ASSERT_TRUE(C);
    THandle R(HttpOpenRequestW(C.get(), "PUT", "/sink/layer.bin", "", "", nullptr, 0, 0));
    ASSERT_TRUE(R);
    INTERNET_BUFFERSW B;
    B.dwBufferTotal = 10;
    ASSERT_TRUE(HttpSendRequestExW(R.get(), &B, nullptr, HSR_INITIATE, 0));
    uint32_t Written = 0;
    EXPECT_TRUE(InternetWriteFile(R.get(), "01234", 5, Written));
    EXPECT_EQ(Written, 5u);
    EXPECT_FALSE(InternetWriteFile(R.get(), "5678901", 7, Written)); // beyond the announced length
    EXPECT_TRUE(InternetWriteFile(R.get(), "56789", 5, Written));
    EXPECT_TRUE(HttpEndRequestW(R.get(), nullptr, 0, 0));
    uint32_t Status = 0, Len = 4;
    HttpQueryInfoW(R.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &Status, Len, nullptr);
    EXPECT_EQ(Status, 201u);
    EXPECT_EQ(test::ReadFile(Server().SinkDir() + "/layer.bin"), "0123456789");

    // Ending a short body fails.
    THandle R2(HttpOpenRequestW(C.get(), "PUT", "/sink/short.bin", "", "", nullptr, 0, 0));
    B.dwBufferTotal = 100;
    ASSERT_TRUE(HttpSendRequestExW(R2.get(), &B, nullptr, HSR_INITIATE, 0));
    EXPECT_TRUE(InternetWriteFile(R2.get(), "abc", 3, Written));
    EXPECT_FALSE(HttpEndRequestW(R2.get(), nullptr, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);

    EXPECT_EQ(InternetConnectW(S.get(), "", 80, "", "", INTERNET_SERVICE_HTTP, 0, 0), nullptr);
    EXPECT_EQ(HttpOpenRequestW(C.get(), "BAD VERB", "/x", "", "", nullptr, 0, 0), nullptr);
}

} // namespace
