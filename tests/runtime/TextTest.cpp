// UTF-8/UTF-16 conversion, case folding and code-page conversion.
#include "runtime/Text.h"

#include <gtest/gtest.h>

#include "runtime/CodePages.h"

using namespace kivo;

TEST(Utf, RoundTripsEveryPlane) {
    std::string Text = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80z"; // a ä € 😀 z
    std::u16string Wide = Utf8ToUtf16(Text);
    EXPECT_EQ(Wide.size(), 6u) << "the emoji takes a surrogate pair";
    EXPECT_EQ(Utf16ToUtf8(Wide), Text);
    EXPECT_TRUE(IsValidUtf8(Text));
}

TEST(Utf, InvalidInputBecomesReplacementCharacters) {
    EXPECT_FALSE(IsValidUtf8("\xC3\x41"));
    EXPECT_EQ(Utf8ToUtf16("\xC3\x41"), (std::u16string{0xFFFD, u'A'}));
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), (std::u16string{0xFFFD, 0xFFFD})) << "cut-off sequence";
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD})) << "overlong form";
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx") << "lone surrogate";
    EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD")) << "a literal U+FFFD is valid";
}

TEST(CaseFolding, AsciiFoldingLeavesOtherLettersAlone) {
    EXPECT_EQ(AsciiUpperCase("abc\xC3\xA4z"), "ABC\xC3\xA4Z");
    EXPECT_TRUE(SameTextAscii("Setup.EXE", "setup.exe"));
    EXPECT_FALSE(SameTextAscii("\xC3\xA4", "\xC3\x84"));
}

TEST(CaseFolding, LocaleFoldingCoversNonAsciiLetters) {
    EXPECT_EQ(AnsiUpperCase("stra\xC3\x9F"
                            "e \xC3\xA4\xC3\xB6\xC3\xBC"),
              "STRA\xC3\x9F"
              "E \xC3\x84\xC3\x96\xC3\x9C");
    EXPECT_TRUE(AnsiSameText("\xC3\xA4pfel", "\xC3\x84PFEL"));
    EXPECT_EQ(AnsiUpperCase("\xFF"
                            "a"),
              "\xFF"
              "A")
        << "bytes that are not UTF-8 stay as they are";
}

TEST(Trim, RemovesBlanksAndControlCharacters) {
    EXPECT_EQ(Trim(" \t\r\nabc d \x01"), "abc d");
    EXPECT_EQ(TrimLeft("  x "), "x ");
    EXPECT_EQ(TrimRight("  x \n"), "  x");
}

TEST(CodePages, PairFollowsTheLanguageOfTheLocale) {
    auto Pair = [](const char* L) {
        TCodePagePair P = CodePagesForLocale(L);
        return std::to_string(P.Ansi) + "/" + std::to_string(P.Oem);
    };
    EXPECT_EQ(Pair("C"), "1252/437");
    EXPECT_EQ(Pair("POSIX"), "1252/437");
    EXPECT_EQ(Pair("en_US.UTF-8"), "1252/437");
    EXPECT_EQ(Pair("en_GB.UTF-8"), "1252/850");
    EXPECT_EQ(Pair("de_DE.UTF-8"), "1252/850");
    EXPECT_EQ(Pair("de_AT@euro"), "1252/850");
    EXPECT_EQ(Pair("ru_RU.UTF-8"), "1251/866");
    EXPECT_EQ(Pair("pl_PL"), "1250/852");
    EXPECT_EQ(Pair("el_GR.UTF-8"), "1253/737");
    EXPECT_EQ(Pair("tr_TR.UTF-8"), "1254/857");
    EXPECT_EQ(Pair("zh_TW.UTF-8"), "950/950");
    EXPECT_EQ(Pair("zh_CN.UTF-8"), "936/936");
    EXPECT_EQ(Pair("dex_XX"), "1252/437") << "a longer language name is another language";
}

TEST(CodePages, SingleBytePagesRoundTripEveryDefinedByte) {
    for (uint16_t Page : {437, 850, 852, 866, 1250, 1251, 1252}) {
        std::string All;
        for (int B = 0; B < 256; ++B)
            All += static_cast<char>(B);
        std::string Utf8 = CodePageToUtf8(All, Page);
        EXPECT_TRUE(IsValidUtf8(Utf8)) << Page;
        bool Lossy = true;
        EXPECT_EQ(Utf8ToCodePage(Utf8, Page, &Lossy), All) << Page;
        EXPECT_FALSE(Lossy) << Page;
    }
}

TEST(CodePages, KnownCharactersDecodeAsWindowsDoes) {
    EXPECT_EQ(CodePageToUtf8("\x80\xE4", 1252), "\xE2\x82\xAC\xC3\xA4"); // € ä
    EXPECT_EQ(CodePageToUtf8("\x84\x81", 437), "\xC3\xA4\xC3\xBC");      // ä ü
    EXPECT_EQ(CodePageToUtf8("\xE0", 866), "\xD1\x80");                  // р
    // Bytes 1252 leaves undefined map to the code point of the same value.
    EXPECT_EQ(CodePageToUtf8("\x81", 1252), "\xC2\x81");
}

TEST(CodePages, LossyConversionUsesLookAlikesOrQuestionMarks) {
    bool Lossy = false;
    EXPECT_EQ(Utf8ToCodePage("\xC4\x80"
                             "bc",
                             1252, &Lossy),
              "Abc"); // Ā has no 1252 form
    EXPECT_TRUE(Lossy);
    EXPECT_EQ(Utf8ToCodePage("\xE2\x82\xAC", 437, &Lossy), "?"); // € is not in 437
    EXPECT_TRUE(Lossy);
    EXPECT_EQ(Utf8ToCodePage("\xE4\xB8\xAD", 1252), "?");
    EXPECT_EQ(Utf8ToCodePage("\xC3\x41", 1252), "?A") << "invalid UTF-8 costs one '?'";
}

TEST(CodePages, MultiBytePagesConvertThroughIconv) {
    std::string Sjis = "\x93\xFA\x96\x7B"; // 日本 in Shift-JIS
    std::string Utf8 = CodePageToUtf8(Sjis, 932);
    EXPECT_EQ(Utf8, "\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(Utf8ToCodePage(Utf8, 932), Sjis);
}

TEST(CodePages, TestsCanSetTheSystemPair) {
    TCodePagePair Saved = SystemCodePages();
    SetSystemCodePages({1251, 866});
    EXPECT_EQ(AnsiToUtf8("\xE0"), "\xD0\xB0"); // а
    EXPECT_EQ(OemToUtf8("\xA0"), "\xD0\xB0");
    SetSystemCodePages(Saved);
}
