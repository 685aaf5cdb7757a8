#include "util/QxBasicStringProcs.h"

#include <vector>

#include "platform/FileSystem.h"
#include "runtime/Text.h"

namespace kivo {

namespace {

constexpr char16_t Quote = u'"';
constexpr char16_t Blank = u' ';
constexpr size_t MaxTagNameLength = 100;

bool IsAsciiAlnum(char16_t C) {
    return (C >= u'a' && C <= u'z') || (C >= u'A' && C <= u'Z') || (C >= u'0' && C <= u'9');
}
bool IsAsciiLetter(char16_t C) {
    return (C >= u'a' && C <= u'z') || (C >= u'A' && C <= u'Z');
}

// The positions below are 1-based as in the description of the passes; At()
// turns them into indexes of the 0-based strings.
struct Text1 {
    std::u16string& S;
    char16_t& operator[](size_t I) { return S[I - 1]; }
    size_t Length() const { return S.size(); }
};

// Replaces every non-overlapping occurrence of From (left to right) by To,
// which has the same length.
void ReplaceSameLength(std::u16string& S, std::u16string_view From, std::u16string_view To) {
    size_t P = S.find(From);
    while (P != std::u16string::npos) {
        S.replace(P, From.size(), To);
        P = S.find(From, P + From.size());
    }
}

// Depth profile: number of '<' minus number of '>' up to and including each position.
std::vector<int> DepthProfile(const std::u16string& M) {
    std::vector<int> Depth(M.size());
    int D = 0;
    for (size_t I = 0; I < M.size(); ++I) {
        if (M[I] == u'<')
            ++D;
        else if (M[I] == u'>')
            --D;
        Depth[I] = D;
    }
    return Depth;
}

} // namespace

std::u16string BlankMarkupTags(std::u16string_view Source) {
    std::u16string Result(Source);
    if (Source.find(u'<') == std::u16string_view::npos) return Result;
    Text1 T{Result};
    const size_t N = T.Length();

    // Element pass: blank a whole <format>...</format> or <pa>...</pa>
    // element. A new tag name is read only while no element is open.
    std::u16string Name;
    size_t Start = 1;
    size_t I = 1;
    while (I < N) {
        if (T[I] == u'<') {
            if (T[I + 1] == u'/' && (Name == u"format" || Name == u"pa")) {
                const size_t L = Name.size();
                const std::u16string Closing = u"/" + Name + u">";
                if (Result.compare(I, L + 2, Closing) == 0) { // 0-based I = 1-based I+1
                    for (size_t K = Start; K <= I + L + 2; ++K)
                        T[K] = Blank;
                    Name.clear();
                }
            } else if (Name.empty()) {
                Start = I;
                ++I;
                while (I < N && Name.size() < MaxTagNameLength &&
                       (IsAsciiAlnum(T[I]) || T[I] == u'>')) {
                    if (T[I] == u'>') {
                        ++I;
                        break;
                    }
                    Name += T[I];
                    ++I;
                }
                // Only a tag that ends right after its name opens an element.
                if (T[I - 1] != u'>') Name.clear();
            }
        }
        ++I; // also skips the character after a tag's '>'
    }

    // Tag-name pass: blank the letters that follow each '<'.
    I = 1;
    while (I < N) {
        if (T[I] == u'<') {
            ++I;
            while (I < N && T[I] != u'>' && IsAsciiLetter(T[I])) {
                T[I] = Blank;
                ++I;
            }
        }
        ++I;
    }
    return Result;
}

std::string BlankMarkupTags(std::string_view Source) {
    return Utf16ToUtf8(BlankMarkupTags(Utf8ToUtf16(Source)));
}

std::u16string BuildDelimiterMask(std::u16string_view Source, char16_t Delimiter) {
    std::u16string TText = BlankMarkupTags(Source);
    std::u16string QText = TText;
    // An empty value assigned right before a delimiter (x="";) and an equals
    // sign right before a quote and a delimiter (x=";) are no quoted values.
    ReplaceSameLength(QText, u"=\"\";", u"@@@@");
    ReplaceSameLength(QText, u"=\";", u"@\";");
    Text1 T{TText};
    Text1 Q{QText};
    const size_t N = TText.size();

    // Quotes that may open a value, forward: quotes and delimiters from T, '=' from Q.
    std::u16string FText(N, Blank);
    Text1 F{FText};
    bool Open = true;
    for (size_t I = 1; I <= N; ++I) {
        const bool Opening = T[I] == Quote && Open;
        Open = T[I] == Delimiter || Q[I] == u'=' || Opening;
        if (Opening && I != N) F[I] = u'<';
    }

    // Quotes that may close a value, backward, all from Q.
    std::u16string BText(N, Blank);
    Text1 B{BText};
    bool Close = true;
    for (size_t I = N; I >= 1; --I) {
        const bool Closing = Q[I] == Quote && Close;
        Close = Q[I] == Delimiter || Q[I] == u'=' || Closing;
        if (Closing && I != 1) B[I] = u'>';
    }

    std::u16string MText(N, Blank);
    Text1 M{MText};
    for (size_t I = 1; I <= N; ++I) {
        if (F[I] == Blank)
            M[I] = B[I];
        else if (F[I] == u'<' && B[I] == u'>')
            M[I] = u'|';
        else
            M[I] = F[I];
    }

    std::vector<int> Depth = DepthProfile(MText);
    if (MText.find(u'|') != std::u16string::npos) {
        // Runs of quotes that qualify both ways: empty quoted values.
        ReplaceSameLength(MText, u"||||||", u"<<<>>>");
        ReplaceSameLength(MText, u"||||", u"<<>>");
        ReplaceSameLength(MText, u"||", u"<>");
    }
    size_t Bar;
    while ((Bar = MText.find(u'|')) != std::u16string::npos) {
        MText[Bar] = MText.back() > u'0' ? u'<' : u'>';
        Depth = DepthProfile(MText);
    }

    std::u16string Mask(N, Blank);
    for (size_t I = 0; I < N; ++I)
        if (Depth[I] == 0 && QText[I] == Delimiter) Mask[I] = Delimiter;
    return Mask;
}

std::string BuildDelimiterMask(std::string_view Source, char16_t Delimiter) {
    return Utf16ToUtf8(BuildDelimiterMask(Utf8ToUtf16(Source), Delimiter));
}

std::string GetDelimitedField(std::string_view Source, int32_t Index, const std::string& Default,
                              bool DeQuote, char16_t Delimiter) {
    if (Source.empty()) return Default;
    const std::u16string S = Utf8ToUtf16(Source);
    const std::u16string M = BuildDelimiterMask(S, Delimiter);
    const size_t N = S.size();

    int32_t Field = 1;
    size_t P = 0; // 0-based
    while (Field < Index && P < N) {
        if (M[P] == Delimiter) ++Field;
        ++P;
    }
    if (P >= N) return Default;
    size_t End = M.find(Delimiter, P);
    if (End == std::u16string::npos) End = N;
    std::u16string_view Result(S.data() + P, End - P);
    if (DeQuote && Result.size() >= 2 && Result.front() == Quote && Result.back() == Quote)
        Result = Result.substr(1, Result.size() - 2);
    return Utf16ToUtf8(Result);
}

std::string AddTrailingBackslash(std::string_view Text) {
    std::string Result(Text);
    if (Result.empty() || Result.back() != PathDelim) Result += PathDelim;
    return Result;
}

} // namespace kivo
