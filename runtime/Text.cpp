#include "runtime/Text.h"

#include "runtime/OsLocale.h"

namespace kivo {

namespace {

constexpr char32_t Replacement = 0xFFFD;

bool IsContinuation(unsigned char C) {
    return (C & 0xC0) == 0x80;
}

} // namespace

char32_t NextCodePoint(std::string_view Text, size_t& Pos) {
    const auto* S = reinterpret_cast<const unsigned char*>(Text.data());
    size_t N = Text.size();
    unsigned char C = S[Pos];
    if (C < 0x80) {
        ++Pos;
        return C;
    }
    int Extra;
    char32_t Cp;
    char32_t Min;
    if (C >= 0xC2 && C <= 0xDF) {
        Extra = 1, Cp = C & 0x1F, Min = 0x80;
    } else if (C >= 0xE0 && C <= 0xEF) {
        Extra = 2, Cp = C & 0x0F, Min = 0x800;
    } else if (C >= 0xF0 && C <= 0xF4) {
        Extra = 3, Cp = C & 0x07, Min = 0x10000;
    } else {
        ++Pos;
        return Replacement;
    }
    if (Pos + static_cast<size_t>(Extra) >= N) { // sequence cut off by the end
        ++Pos;
        return Replacement;
    }
    for (int i = 1; i <= Extra; ++i) {
        unsigned char D = S[Pos + static_cast<size_t>(i)];
        if (!IsContinuation(D)) {
            ++Pos;
            return Replacement;
        }
        Cp = (Cp << 6) | (D & 0x3F);
    }
    if (Cp < Min || Cp > 0x10FFFF || (Cp >= 0xD800 && Cp <= 0xDFFF)) {
        ++Pos;
        return Replacement;
    }
    Pos += static_cast<size_t>(Extra) + 1;
    return Cp;
}

void AppendUtf8(std::string& Out, char32_t Cp) {
    if (Cp < 0x80) {
        Out += static_cast<char>(Cp);
    } else if (Cp < 0x800) {
        Out += static_cast<char>(0xC0 | (Cp >> 6));
        Out += static_cast<char>(0x80 | (Cp & 0x3F));
    } else if (Cp < 0x10000) {
        if (Cp >= 0xD800 && Cp <= 0xDFFF) Cp = Replacement;
        Out += static_cast<char>(0xE0 | (Cp >> 12));
        Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Cp & 0x3F));
    } else if (Cp <= 0x10FFFF) {
        Out += static_cast<char>(0xF0 | (Cp >> 18));
        Out += static_cast<char>(0x80 | ((Cp >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Cp & 0x3F));
    } else {
        AppendUtf8(Out, Replacement);
    }
}

bool IsValidUtf8(std::string_view Text) {
    size_t Pos = 0;
    while (Pos < Text.size()) {
        size_t Before = Pos;
        char32_t Cp = NextCodePoint(Text, Pos);
        if (Cp == Replacement) {
            // A literal U+FFFD is three bytes; a replacement for bad input is one.
            if (Pos - Before != 3) return false;
        }
    }
    return true;
}

std::u16string Utf8ToUtf16(std::string_view Text) {
    std::u16string Out;
    Out.reserve(Text.size());
    size_t Pos = 0;
    while (Pos < Text.size()) {
        unsigned char C = static_cast<unsigned char>(Text[Pos]);
        if (C < 0x80) {
            Out += static_cast<char16_t>(C);
            ++Pos;
            continue;
        }
        char32_t Cp = NextCodePoint(Text, Pos);
        if (Cp >= 0x10000) {
            Cp -= 0x10000;
            Out += static_cast<char16_t>(0xD800 + (Cp >> 10));
            Out += static_cast<char16_t>(0xDC00 + (Cp & 0x3FF));
        } else {
            Out += static_cast<char16_t>(Cp);
        }
    }
    return Out;
}

std::string Utf16ToUtf8(std::u16string_view Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (size_t i = 0; i < Text.size(); ++i) {
        char32_t Cp = Text[i];
        if (Cp >= 0xD800 && Cp <= 0xDBFF && i + 1 < Text.size() && Text[i + 1] >= 0xDC00 &&
            Text[i + 1] <= 0xDFFF) {
            Cp = 0x10000 + ((Cp - 0xD800) << 10) + (Text[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(Out, Cp);
    }
    return Out;
}

std::string AsciiUpperCase(std::string_view Text) {
    std::string Out(Text);
    for (char& C : Out)
        C = AsciiUpper(C);
    return Out;
}

std::string AsciiLowerCase(std::string_view Text) {
    std::string Out(Text);
    for (char& C : Out)
        C = AsciiLower(C);
    return Out;
}

bool SameTextAscii(std::string_view A, std::string_view B) {
    if (A.size() != B.size()) return false;
    for (size_t i = 0; i < A.size(); ++i) {
        if (AsciiUpper(A[i]) != AsciiUpper(B[i])) return false;
    }
    return true;
}

namespace {

template <typename Map> std::string MapCodePoints(std::string_view Text, Map Fn) {
    std::string Out;
    Out.reserve(Text.size());
    size_t Pos = 0;
    while (Pos < Text.size()) {
        unsigned char C = static_cast<unsigned char>(Text[Pos]);
        if (C < 0x80) {
            Out += static_cast<char>(Fn(C));
            ++Pos;
        } else {
            size_t Start = Pos;
            char32_t Cp = NextCodePoint(Text, Pos);
            if (Cp == Replacement && Pos - Start == 1) {
                Out += Text[Start]; // keep bytes that are not UTF-8 as they are
            } else {
                AppendUtf8(Out, Fn(Cp));
            }
        }
    }
    return Out;
}

} // namespace

// Case mapping of code points beyond ASCII through the system's tables.
std::string AnsiUpperCase(std::string_view Text) {
    return MapCodePoints(Text, [](char32_t Cp) -> char32_t {
        if (Cp < 0x80) return static_cast<char32_t>(AsciiUpper(static_cast<char>(Cp)));
        return os::UpperCaseOf(Cp);
    });
}

std::string AnsiLowerCase(std::string_view Text) {
    return MapCodePoints(Text, [](char32_t Cp) -> char32_t {
        if (Cp < 0x80) return static_cast<char32_t>(AsciiLower(static_cast<char>(Cp)));
        return os::LowerCaseOf(Cp);
    });
}

bool AnsiSameText(std::string_view A, std::string_view B) {
    return AnsiUpperCase(A) == AnsiUpperCase(B);
}

std::string TrimLeft(std::string_view Text) {
    size_t B = 0;
    while (B < Text.size() && static_cast<unsigned char>(Text[B]) <= ' ')
        ++B;
    return std::string(Text.substr(B));
}

std::string TrimRight(std::string_view Text) {
    size_t E = Text.size();
    while (E > 0 && static_cast<unsigned char>(Text[E - 1]) <= ' ')
        --E;
    return std::string(Text.substr(0, E));
}

std::string Trim(std::string_view Text) {
    return TrimRight(TrimLeft(Text));
}

bool StartsText(std::string_view Prefix, std::string_view Text) {
    return Text.size() >= Prefix.size() && SameTextAscii(Text.substr(0, Prefix.size()), Prefix);
}

bool EndsStr(std::string_view Suffix, std::string_view Text) {
    return Text.size() >= Suffix.size() && Text.substr(Text.size() - Suffix.size()) == Suffix;
}

std::string IntToStr(int64_t Value) {
    return std::to_string(Value);
}

std::string StringReplaceAll(std::string_view Text, std::string_view From, std::string_view To) {
    if (From.empty()) return std::string(Text);
    std::string Out;
    Out.reserve(Text.size());
    size_t Pos = 0;
    while (true) {
        size_t Hit = Text.find(From, Pos);
        if (Hit == std::string_view::npos) break;
        Out.append(Text.substr(Pos, Hit - Pos));
        Out.append(To);
        Pos = Hit + From.size();
    }
    Out.append(Text.substr(Pos));
    return Out;
}

} // namespace kivo
