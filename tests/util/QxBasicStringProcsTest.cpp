#include "util/QxBasicStringProcs.h"

#include <array>
#include <gtest/gtest.h>
#include <string>

namespace kivo {
namespace {

const std::string X = "X";

struct FieldRow {
    const char* Input;
    std::array<const char*, 3> Fields; // nullptr: the default comes back
};

// Delimiter ';', de-quoting on, default "X".
const FieldRow Rows[] = {
    {R"(a;"b;c";d)", {"a", "b;c", "d"}},
    {"a;;c", {"a", "", "c"}},
    {";b", {"", "b", nullptr}},
    {"a;", {"a", nullptr, nullptr}},
    {R"("a""b";c)", {R"(a""b)", "c", nullptr}},
    {R"(k="v;w";m="n")", {R"(k="v;w")", R"(m="n")", nullptr}},
    {R"(x="";y;z)", {R"(x="";y)", "z", nullptr}},
    {R"("a;b)", {R"("a;b)", nullptr, nullptr}},
    {"<pa>x;y</pa>;z", {"<pa>x;y</pa>", "z", nullptr}},
    {"<b>x;y</b>;z", {"<b>x", "y</b>", "z"}},
    {"<PA>x;y</PA>;z", {"<PA>x", "y</PA>", "z"}},
};

TEST(GetDelimitedField, ExampleTableAllFields) {
    for (const FieldRow& Row : Rows) {
        for (int Field = 1; Field <= 3; ++Field) {
            const char* Want = Row.Fields[Field - 1];
            EXPECT_EQ(GetDelimitedField(Row.Input, Field, X, true, u';'), Want ? Want : X)
                << "input " << Row.Input << " field " << Field;
            // The short form de-quotes and splits at ';' as well.
            EXPECT_EQ(GetDelimitedField(Row.Input, Field, X), Want ? Want : X)
                << "short form, input " << Row.Input << " field " << Field;
        }
    }
}

TEST(GetDelimitedField, EmptyInputGivesDefaultForEveryIndex) {
    for (int Index : {-3, 0, 1, 2, 50})
        EXPECT_EQ(GetDelimitedField("", Index, X), X);
}

TEST(GetDelimitedField, IndexBelowOneActsAsOne) {
    EXPECT_EQ(GetDelimitedField("a;b", 0, X), "a");
    EXPECT_EQ(GetDelimitedField("a;b", -7, X), "a");
}

TEST(GetDelimitedField, InputWithoutDelimiterIsItsOwnFirstField) {
    EXPECT_EQ(GetDelimitedField("plain", 1, X), "plain");
    EXPECT_EQ(GetDelimitedField("plain", 2, X), X);
    EXPECT_EQ(GetDelimitedField(R"("quoted whole")", 1, X), "quoted whole");
    EXPECT_EQ(GetDelimitedField(R"("quoted whole")", 1, X, false, u';'), R"("quoted whole")");
    EXPECT_EQ(GetDelimitedField(R"("")", 1, X), "");
    // A single quote is too short to lose its quotes.
    EXPECT_EQ(GetDelimitedField(R"(")", 1, X), R"(")");
}

TEST(GetDelimitedField, EmptyQuotedValueBetweenDelimiters) {
    EXPECT_EQ(GetDelimitedField(R"(a;"";b)", 1, X), "a");
    EXPECT_EQ(GetDelimitedField(R"(a;"";b)", 2, X), "");
    EXPECT_EQ(GetDelimitedField(R"(a;"";b)", 3, X), "b");
}

TEST(GetDelimitedField, UnbalancedQuotesSuppressLaterDelimiters) {
    // An opening quote that is never closed.
    EXPECT_EQ(GetDelimitedField(R"(a;"b;c;d)", 2, X), R"("b;c;d)");
    EXPECT_EQ(GetDelimitedField(R"(a;"b;c;d)", 3, X), X);
    // A closing quote without an opening one: the depth turns negative.
    EXPECT_EQ(GetDelimitedField(R"(ab";c;d)", 1, X), R"(ab";c;d)");
    EXPECT_EQ(GetDelimitedField(R"(ab";c;d)", 2, X), X);
}

TEST(GetDelimitedField, PartlyQuotedFieldIsNotDequoted) {
    EXPECT_EQ(GetDelimitedField(R"(x="a";b)", 1, X), R"(x="a")");
    EXPECT_EQ(GetDelimitedField(R"(x="a";b)", 2, X), "b");
    // Only the outer quotes go; a quote inside stays.
    EXPECT_EQ(GetDelimitedField(R"("a"b")", 1, X), R"(a"b)");
}

TEST(GetDelimitedField, MarkupElementsHideDelimitersOnlyInLowerCaseAndBeforeOtherTags) {
    EXPECT_EQ(GetDelimitedField("<format>1;2</format>;3", 1, X), "<format>1;2</format>");
    EXPECT_EQ(GetDelimitedField("<format>1;2</format>;3", 2, X), "3");
    // A complete tag of another name read first keeps later elements open.
    EXPECT_EQ(GetDelimitedField("<i>a;<pa>x;y</pa>;z", 3, X), "y</pa>");
    // After a closed element the next one is recognised again.
    EXPECT_EQ(GetDelimitedField("<pa>a;b</pa>;<pa>c;d</pa>;e", 2, X), "<pa>c;d</pa>");
    EXPECT_EQ(GetDelimitedField("<pa>a;b</pa>;<pa>c;d</pa>;e", 3, X), "e");
}

TEST(GetDelimitedField, InstallerParameterString) {
    // The elevated action's parameters: install folder with a blank, then the switch.
    const std::string Params = "/home/u/Public/KIVO Profile;/regserver";
    EXPECT_EQ(GetDelimitedField(Params, 1, ""), "/home/u/Public/KIVO Profile");
    EXPECT_EQ(GetDelimitedField(Params, 2, ""), "/regserver");
    EXPECT_EQ(GetDelimitedField(R"("/a;b/KIVO Profile";/unregserver)", 1, ""), "/a;b/KIVO Profile");
    EXPECT_EQ(GetDelimitedField(R"("/a;b/KIVO Profile";/unregserver)", 2, ""), "/unregserver");
}

TEST(GetDelimitedField, OtherDelimiter) {
    EXPECT_EQ(GetDelimitedField(R"(a,"b,c",d)", 2, X, true, u','), "b,c");
    EXPECT_EQ(GetDelimitedField("a;b,c", 2, X, true, u','), "c");
    EXPECT_EQ(GetDelimitedField("a;b,c", 1, X, true, u','), "a;b");
}

TEST(GetDelimitedField, PositionsCountUtf16CodeUnits) {
    // Non-ASCII text before and inside fields must not shift the mask.
    EXPECT_EQ(GetDelimitedField("Größe;\"ä;ö\";ü", 1, X), "Größe");
    EXPECT_EQ(GetDelimitedField("Größe;\"ä;ö\";ü", 2, X), "ä;ö");
    EXPECT_EQ(GetDelimitedField("Größe;\"ä;ö\";ü", 3, X), "ü");
    // A character outside the BMP is two code units.
    EXPECT_EQ(GetDelimitedField("\xF0\x9F\x98\x80;\"x;y\";z", 2, X), "x;y");
    EXPECT_EQ(GetDelimitedField("<pa>\xF0\x9F\x98\x80;y</pa>;z", 2, X), "z");
}

TEST(BlankMarkupTags, KeepsLengthAndPositions) {
    EXPECT_EQ(BlankMarkupTags("no markup; here"), "no markup; here");
    EXPECT_EQ(BlankMarkupTags("<pa>x;y</pa>;z"), "            ;z");
    EXPECT_EQ(BlankMarkupTags("<b>x;y</b>;z"), "< >x;y</b>;z");
    EXPECT_EQ(BlankMarkupTags("<PA>x;y</PA>;z"), "<  >x;y</PA>;z");
    const std::u16string In = u"<format>ä;\U0001F600</format>;z";
    EXPECT_EQ(BlankMarkupTags(In).size(), In.size());
    EXPECT_EQ(BlankMarkupTags(In), std::u16string(In.size() - 2, u' ') + u";z");
}

TEST(BlankMarkupTags, LastCharacterIsNeverATagStart) {
    EXPECT_EQ(BlankMarkupTags("ab<"), "ab<");
    EXPECT_EQ(BlankMarkupTags("<"), "<");
    // A tag name cut off by the end of the text opens no element.
    EXPECT_EQ(BlankMarkupTags("x<pa"), "x< a");
}

TEST(BlankMarkupTags, LongTagNamesAreCutAtOneHundredCharacters) {
    const std::string Long = "<" + std::string(150, 'a') + ">;x";
    const std::string Out = BlankMarkupTags(Long);
    ASSERT_EQ(Out.size(), Long.size());
    EXPECT_EQ(Out.substr(Out.size() - 2), ";x");
}

TEST(BuildDelimiterMask, MarksOnlySeparatingDelimiters) {
    EXPECT_EQ(BuildDelimiterMask(R"(a;"b;c";d)", u';'), " ;     ; ");
    EXPECT_EQ(BuildDelimiterMask(R"(x="";y;z)", u';'), "      ; ");
    // The quote after "=" may only close; with nothing to close, the depth
    // turns negative and no later delimiter separates.
    EXPECT_EQ(BuildDelimiterMask(R"(x=";y;z)", u';'), "       ");
    EXPECT_EQ(BuildDelimiterMask("", u';'), "");
    EXPECT_EQ(BuildDelimiterMask(u"a;\"\";b", u';'), u" ;  ; ");
}

} // namespace
} // namespace kivo
