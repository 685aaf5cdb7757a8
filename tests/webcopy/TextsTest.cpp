// Base64, the size/rate/time texts and the URL and path helpers.
#include <cstdio>
#include <gtest/gtest.h>
#include <random>

#include "platform/FileSystem.h"
#include "runtime/SysUtils.h"
#include "support/TestSupport.h"
#include "webcopy/WcBase64.h"
#include "webcopy/Webcopy.h"

using namespace kivo;
using namespace kivo::webcopy;

TEST(Base64, EncodesOneBytePerUtf16CodeUnit) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("abc"), "YWJj");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Encode("a"), "YQ==");
    EXPECT_EQ(Base64Encode("\u00e9"), "6Q=="); // its Latin-1 byte
    EXPECT_EQ(Base64Encode("\u0100"), "AA=="); // the high byte is lost
    EXPECT_EQ(Base64Encode("user:secret"), "dXNlcjpzZWNyZXQ=");
    // A character outside the BMP is two code units, two bytes.
    EXPECT_EQ(Base64Encode("\U0001F600").size(), 4u);
    std::string Long(300, 'x');
    EXPECT_EQ(Base64Encode(Long).size(), 400u);
    EXPECT_EQ(Base64Encode(Long).find('\n'), std::string::npos);
}

TEST(Texts, RoundingIsHalfToEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(2.51), 3);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
}

TEST(Texts, SizesUseDecimalSteps) {
    SetDecimalSeparator('.');
    EXPECT_EQ(SizeText(0), "0 bytes");
    EXPECT_EQ(SizeText(999), "999 bytes");
    EXPECT_EQ(SizeText(1000), "1.00 Kb");
    EXPECT_EQ(SizeText(1536), "1.54 Kb");
    EXPECT_EQ(SizeText(12290), "12.29 Kb");
    EXPECT_EQ(SizeText(999999), "1000.00 Kb");
    EXPECT_EQ(SizeText(1000000), "1.00 Mb");
    EXPECT_EQ(SizeText(1073741824), "1.07 Gb");
    EXPECT_EQ(RateText(512), "512 bytes/sec");
    EXPECT_EQ(RateText(2500000), "2.50 Mb/sec");
    EXPECT_EQ(RateText(3000000000LL), "3.00 Gb/sec");
    SetDecimalSeparator(',');
    EXPECT_EQ(SizeText(1536), "1,54 Kb");
    SetDecimalSeparator('.');
}

TEST(Texts, FastFormattingMatchesPrintf) {
    // The per-block formatter must print exactly what "%.2f" prints, ties
    // included (1005 bytes is 1.005, which as a double lies below the tie).
    SetDecimalSeparator('.');
    auto Reference = [](int64_t N) {
        char Buf[64];
        if (N < 1000) return std::to_string(N) + " bytes";
        if (N < 1000000) {
            std::snprintf(Buf, sizeof Buf, "%.2f Kb", static_cast<double>(N) / 1000);
            return std::string(Buf);
        }
        if (N < 1000000000) {
            std::snprintf(Buf, sizeof Buf, "%.2f Mb", static_cast<double>(N) / 1000000);
            return std::string(Buf);
        }
        std::snprintf(Buf, sizeof Buf, "%.2f Gb", static_cast<double>(N) / 1000000000);
        return std::string(Buf);
    };
    for (int64_t N = 0; N < 200000; ++N)
        ASSERT_EQ(SizeText(N), Reference(N)) << N;
    std::mt19937_64 Gen(7);
    for (int I = 0; I < 200000; ++I) {
        int64_t N = static_cast<int64_t>(Gen() % 5000000000000ULL);
        ASSERT_EQ(SizeText(N), Reference(N)) << N;
        // Values right at the decimal ties of each step.
        int64_t Units[] = {10, 10000, 10000000};
        for (int64_t U : Units) {
            int64_t Tie = (N / U) * U + U / 2;
            ASSERT_EQ(SizeText(Tie), Reference(Tie)) << Tie;
        }
    }
}

TEST(Texts, TimeTexts) {
    const std::string Sec = "sec", Min = "minutes";
    EXPECT_EQ(TimeText(30000, 0, 0, Sec, Min), "30 sec.");
    EXPECT_EQ(TimeText(90000, 0, 0, Sec, Min), "2 minutes.");
    EXPECT_EQ(TimeText(150000, 0, 0, Sec, Min), "2 minutes."); // 2.5 rounds to even
    EXPECT_EQ(TimeText(31 * 60000, 0, 0, Sec, Min), "0h 31");
    EXPECT_EQ(TimeText(60 * 60000, 0, 0, Sec, Min), "1h 0");
    EXPECT_EQ(TimeText(29 * 60000, 0, 0, Sec, Min), "29 minutes.");
    EXPECT_EQ(TimeText(0, 0, 0, Sec, Min), "0 sec.");
    // The estimate: 10 s for a quarter leaves 30 s.
    EXPECT_EQ(TimeText(10000, 250, 1000, Sec, Min), "30 sec.");
    // Complete or of unknown size: the elapsed time.
    EXPECT_EQ(TimeText(10000, 1000, 1000, Sec, Min), "10 sec.");
    EXPECT_EQ(TimeText(10000, 500, 0, Sec, Min), "10 sec.");
    EXPECT_EQ(TimeText(20000, 0, 0, "s", "min"), "20 s.");
    EXPECT_EQ(TimeText(45000, 0, 0, "s", "min"), "1 min."); // 0.75 minutes round up
}

TEST(UrlHelpers, FileHostObjectAndServerText) {
    EXPECT_EQ(URLFileName("http://host/dir/file.zip"), "file.zip");
    EXPECT_EQ(URLFileName("http://host/dir/file.zip?x=1&y=/2"), "2");
    EXPECT_EQ(URLFileName("http://host/get?name=a"), "get?name=a");
    EXPECT_EQ(URLFileName("http://host/dir\\sub\\f.txt"), "f.txt");
    EXPECT_EQ(URLFileName("http://host/dir/"), "");
    EXPECT_EQ(URLFileName("plain"), "plain");

    EXPECT_EQ(URLHostName("http://host:8080/dir/f"), "host:8080");
    EXPECT_EQ(URLHostName("HTTP://user:pw@host/dir/f"), "host");
    EXPECT_EQ(URLHostName("http://host/dir/a@b"), "host");
    EXPECT_EQ(URLHostName("http://host"), "host");

    EXPECT_EQ(URLObjectName("http://host:81/up/load.php?x"), "/up/load.php?x");
    EXPECT_EQ(URLObjectName("http://u:p@host/a"), "/a");

    EXPECT_EQ(URLServerText("http://user@host:81/dir"), "user@host:81");
    EXPECT_EQ(URLServerText("http://host\\share/x"), "host");
}

TEST(UrlHelpers, ProxyCredentials) {
    EXPECT_EQ(AddProxyCredentials("http://host/f", "u", "p"), "http://u:p@host/f");
    EXPECT_EQ(AddProxyCredentials("HTTP://host/f", "u", "p"), "http://u:p@host/f");
    EXPECT_EQ(AddProxyCredentials("http://host/f", "u", ""), "http://host/f");
    EXPECT_EQ(AddProxyCredentials("https://host/f", "u", "p"), "https://host/f");
}

TEST(UrlHelpers, PercentDecoding) {
    EXPECT_EQ(URLDecode("a%20b.zip"), "a b.zip");
    EXPECT_EQ(URLDecode("a%2fb"), "ab"); // lower case is not decoded; the escape goes
    EXPECT_EQ(URLDecode("a%2Fb"), "a/b");
    EXPECT_EQ(URLDecode("a+b"), "a+b");
    EXPECT_EQ(URLDecode("x%4"), "x4"); // too short: the "%" is dropped
    EXPECT_EQ(URLDecode("x%"), "x");
    EXPECT_EQ(URLDecode("%C3%A9"), "\u00e9");
}

TEST(UrlHelpers, PathsAndPorts) {
    test::TTempDir Dir;
    test::WriteFile(Dir / "a.zip", "x");
    EXPECT_EQ(UniqueFileName(Dir / "a.zip"), Dir / "a(1).zip");
    test::WriteFile(Dir / "a(1).zip", "x");
    EXPECT_EQ(UniqueFileName(Dir / "a.zip"), Dir / "a(2).zip");
    EXPECT_EQ(UniqueFileName(Dir / "noext"), Dir / "noext(1)");

    ForceDirectories(Dir / "x/y/z/");
    EXPECT_TRUE(test::Exists(Dir / "x/y/z"));

    std::string Server;
    uint16_t Port = 0;
    SplitHostPort("host:8080", Server, Port);
    EXPECT_EQ(Server, "host");
    EXPECT_EQ(Port, 8080);
    SplitHostPort("host", Server, Port);
    EXPECT_EQ(Port, 80);
    SplitHostPort("[::1]:81", Server, Port);
    EXPECT_EQ(Server, "::1");
    EXPECT_EQ(Port, 81);
    SplitHostPort("host:99999", Server, Port);
    EXPECT_EQ(Port, 80);
}
