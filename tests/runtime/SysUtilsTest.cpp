// Runtime error messages, system texts, formatting and command-line splitting.
#include "runtime/SysUtils.h"

#include <cerrno>
#include <gtest/gtest.h>

#include "runtime/Application.h"
#include "runtime/SysMessages.h"

using namespace kivo;

namespace {

struct LanguageGuard {
    explicit LanguageGuard(TMessageLanguage L) : Saved(MessageLanguage()) { SetMessageLanguage(L); }
    ~LanguageGuard() { SetMessageLanguage(Saved); }
    TMessageLanguage Saved;
};

} // namespace

TEST(OSError, MessageCarriesCodeAndTrimmedSystemText) {
    LanguageGuard G(mlEnglish);
    EOSError E(5);
    EXPECT_EQ(E.ErrorCode, 5u);
    EXPECT_EQ(E.Message(), "Systemfehler.  Code: 5.\r\nAccess is denied");
    EXPECT_EQ(EOSError(1223).Message(),
              "Systemfehler.  Code: 1223.\r\nThe operation was canceled by the user");
    EXPECT_EQ(EOSError(0).Message(), "Ein Aufruf einer Betriebssystemfunktion ist fehlgeschlagen");
    EXPECT_EQ(EOSError(99999).Message(), "Systemfehler.  Code: 99999.\r\n")
        << "a code without text";
    EXPECT_EQ(EOSError(0x80004005u).Message().substr(0, 31), "Systemfehler.  Code: -214746725")
        << "signed";
}

TEST(OSError, GermanSystemTextsFollowTheLanguage) {
    LanguageGuard G(mlGerman);
    EXPECT_EQ(EOSError(5).Message(), "Systemfehler.  Code: 5.\r\nZugriff verweigert");
    EXPECT_EQ(EOSError(2).Message(),
              "Systemfehler.  Code: 2.\r\nDas System kann die angegebene Datei nicht finden");
}

TEST(OSError, EveryCodeTheProgramPassesAroundHasAText) {
    for (uint32_t Code : {0u, 2u, 3u, 5u, 31u, 127u, 259u, 1223u}) {
        for (TMessageLanguage L : {mlEnglish, mlGerman}) {
            LanguageGuard G(L);
            EXPECT_FALSE(SysErrorMessage(Code).empty()) << Code;
        }
    }
}

TEST(OSError, SystemTextTrimmingDropsBlanksControlsAndPeriods) {
    EXPECT_EQ(TrimSystemText("Access is denied. \r\n"), "Access is denied");
    EXPECT_EQ(TrimSystemText("Wait...\t"), "Wait");
    EXPECT_EQ(TrimSystemText(""), "");
}

TEST(OSError, LastErrorRaisesAndErrnoMaps) {
    SetLastError(3);
    try {
        RaiseLastOSError();
        FAIL();
    } catch (const EOSError& E) {
        EXPECT_EQ(E.ErrorCode, 3u);
    }
    EXPECT_EQ(WinErrorFromErrno(ENOENT), 2u);
    EXPECT_EQ(WinErrorFromErrno(EACCES), 5u);
    EXPECT_EQ(WinErrorFromErrno(ECANCELED), 1223u);
    EXPECT_EQ(WinErrorFromErrno(EDOM), 31u);
    EXPECT_EQ(SetLastErrorFromErrno(ENOTDIR), 3u);
    EXPECT_EQ(GetLastError(), 3u);
}

TEST(Assertion, FormatNamesMessageFileAndLine) {
    const int Line = __LINE__ + 2;
    try {
        KIVO_ASSERT(1 + 1 == 3, "arithmetic broke");
        FAIL();
    } catch (const EAssertionFailed& E) {
        EXPECT_EQ(E.Message(), Format("arithmetic broke (SysUtilsTest.cpp, Zeile %d)", Line));
    }
}

TEST(InOutError, CarriesErrnoAndItsText) {
    LanguageGuard G(mlEnglish);
    EInOutError E(ENOENT);
    EXPECT_EQ(E.ErrorCode, ENOENT);
    EXPECT_EQ(E.Message(), "No such file or directory");
}

TEST(Formatting, FixedTwoDecimalsUseTheUsersSeparator) {
    char Saved = DecimalSeparator();
    SetDecimalSeparator('.');
    EXPECT_EQ(FormatFixed2(1.536), "1.54");
    EXPECT_EQ(FormatFixed2(1000 / 1000.0), "1.00");
    SetDecimalSeparator(',');
    EXPECT_EQ(FormatFixed2(12.294), "12,29");
    SetDecimalSeparator(Saved);
    EXPECT_STREQ(BoolToStr(true), "True");
    EXPECT_STREQ(BoolToStr(false), "False");
    EXPECT_EQ(Format("%s-%d", "a", 7), "a-7");
    EXPECT_EQ(Format("%s", std::string(1000, 'x').c_str()).size(), 1000u);
}

TEST(CommandLine, SplitsAtBlanksAndHonoursQuotes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine("/SW /home/u/KIVO Profile;/regserver"),
              (V{"/SW", "/home/u/KIVO", "Profile;/regserver"}));
    EXPECT_EQ(SplitCommandLine("  a\t\tb  "), (V{"a", "b"})) << "tabs and runs separate once";
    EXPECT_EQ(SplitCommandLine("\"a b\" c\"d e\"f"), (V{"a b", "cd ef"}));
    EXPECT_EQ(SplitCommandLine("\"\" x"), (V{"x"})) << "an empty quoted pair is skipped";
    EXPECT_EQ(SplitCommandLine("say \"hi"), (V{"say", "hi"})) << "an open quote runs to the end";
    EXPECT_EQ(SplitCommandLine(""), V{});
}

TEST(MessagePump, ProcessMessagesRunsTheInstalledPump) {
    int Calls = 0;
    ProcessMessages(); // nothing installed: nothing happens
    SetMessagePump([&] { ++Calls; });
    ProcessMessages();
    ProcessMessages();
    SetMessagePump(nullptr);
    ProcessMessages();
    EXPECT_EQ(Calls, 2);
}

TEST(TickCount, IsMonotonic) {
    uint64_t A = GetTickCount64();
    uint64_t B = GetTickCount64();
    EXPECT_LE(A, B);
}
