#include "runtime/CodePages.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "runtime/OsCodePages.h"
#include "runtime/Text.h"

namespace kivo {

namespace {

// ---------------------------------------------------------------------------
// Choice of the pair from the locale, as Windows pairs them per language.

struct TLanguagePages {
    const char* Prefix; // language, or language_TERRITORY
    uint16_t Ansi;
    uint16_t Oem;
};

constexpr TLanguagePages LanguagePages[] = {
    {"en_US", 1252, 437}, {"en", 1252, 850},   {"de", 1252, 850}, {"fr", 1252, 850},
    {"it", 1252, 850},    {"es", 1252, 850},   {"pt", 1252, 850}, {"nl", 1252, 850},
    {"da", 1252, 850},    {"sv", 1252, 850},   {"nb", 1252, 850}, {"nn", 1252, 850},
    {"no", 1252, 850},    {"fi", 1252, 850},   {"is", 1252, 850}, {"ca", 1252, 850},
    {"eu", 1252, 850},    {"gl", 1252, 850},   {"ga", 1252, 850}, {"af", 1252, 850},
    {"id", 1252, 850},    {"ms", 1252, 850},   {"sw", 1252, 437}, {"cs", 1250, 852},
    {"hu", 1250, 852},    {"pl", 1250, 852},   {"ro", 1250, 852}, {"hr", 1250, 852},
    {"sk", 1250, 852},    {"sl", 1250, 852},   {"sq", 1250, 852}, {"bs", 1250, 852},
    {"ru", 1251, 866},    {"uk", 1251, 866},   {"be", 1251, 866}, {"bg", 1251, 866},
    {"mk", 1251, 866},    {"sr", 1251, 855},   {"kk", 1251, 866}, {"el", 1253, 737},
    {"tr", 1254, 857},    {"az", 1254, 857},   {"he", 1255, 862}, {"ar", 1256, 720},
    {"fa", 1256, 720},    {"ur", 1256, 720},   {"et", 1257, 775}, {"lv", 1257, 775},
    {"lt", 1257, 775},    {"vi", 1258, 1258},  {"th", 874, 874},  {"ja", 932, 932},
    {"zh_TW", 950, 950},  {"zh_HK", 950, 950}, {"zh", 936, 936},  {"ko", 949, 949},
};

TCodePagePair PairFromEnvironment() {
    const char* Names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char* Name : Names) {
        const char* Value = std::getenv(Name);
        if (Value != nullptr && Value[0] != '\0') return CodePagesForLocale(Value);
    }
    return TCodePagePair{};
}

TCodePagePair& PairSlot() {
    static TCodePagePair Pair = PairFromEnvironment();
    return Pair;
}

// ---------------------------------------------------------------------------
// Conversion tables

bool IsSingleByte(uint16_t CodePage) {
    return CodePage != 932 && CodePage != 936 && CodePage != 949 && CodePage != 950;
}

// Best-fit ASCII look-alikes for Latin letters with diacritics, used when a
// code page lacks the precomposed letter ('?' where none fits).
constexpr char Latin1Fit[] = // U+00C0..U+00FF
    "AAAAAA?CEEEEIIII"
    "DNOOOOOxOUUUUY??"
    "aaaaaa?ceeeeiiii"
    "dnooooo?ouuuuy?y";
constexpr char LatinExtAFit[] = // U+0100..U+017F
    "AaAaAaCcCcCcCcDd"
    "DdEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "Ii??JjKkkLlLlLlL"
    "lLlNnNnNnnNnOoOo"
    "Oo??RrRrRrSsSsSs"
    "SsTtTtTtUuUuUuUu"
    "UuUuWwYyYZzZzZzs";

char BestFit(char32_t Cp) {
    if (Cp >= 0xC0 && Cp <= 0xFF) return Latin1Fit[Cp - 0xC0];
    if (Cp >= 0x100 && Cp <= 0x17F) return LatinExtAFit[Cp - 0x100];
    switch (Cp) {
    case 0xA0: return ' ';
    case 0x2018:
    case 0x2019:
    case 0x201B:
    case 0x2032: return '\'';
    case 0x201A: return ',';
    case 0x201C:
    case 0x201D:
    case 0x201F:
    case 0x2033: return '"';
    case 0x201E: return '"';
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2013:
    case 0x2014:
    case 0x2212: return '-';
    case 0x2039: return '<';
    case 0x203A: return '>';
    default: return '?';
    }
}

class TSingleByteTable {
public:
    explicit TSingleByteTable(uint16_t CodePage) {
        // Undefined bytes keep the code point of their own value.
        for (size_t B = 0; B < 256; ++B)
            FToUnicode[B] = static_cast<char32_t>(B);
        os::SingleByteCodePoints(CodePage, FToUnicode);
        for (size_t B = 0; B < 256; ++B)
            AppendUtf8(FToUtf8[B], FToUnicode[B]);
        // The reverse map; the first byte that yields a code point wins.
        for (int B = 255; B >= 0; --B)
            FFromUnicode[FToUnicode[static_cast<size_t>(B)]] = static_cast<uint8_t>(B);
    }

    std::string Decode(std::string_view Bytes) const {
        std::string Out;
        Out.reserve(Bytes.size() + Bytes.size() / 2);
        for (unsigned char C : Bytes) {
            if (C < 0x80)
                Out += static_cast<char>(C);
            else
                Out += FToUtf8[C];
        }
        return Out;
    }

    std::string Encode(std::string_view Text, bool* UsedDefault) const {
        std::string Out;
        Out.reserve(Text.size());
        bool Lossy = false;
        size_t Pos = 0;
        while (Pos < Text.size()) {
            unsigned char C = static_cast<unsigned char>(Text[Pos]);
            if (C < 0x80 && FToUnicode[C] == C) {
                Out += static_cast<char>(C);
                ++Pos;
                continue;
            }
            char32_t Cp = NextCodePoint(Text, Pos);
            auto It = FFromUnicode.find(Cp);
            if (It != FFromUnicode.end()) {
                Out += static_cast<char>(It->second);
            } else {
                Out += BestFit(Cp);
                Lossy = true;
            }
        }
        if (UsedDefault != nullptr) *UsedDefault = Lossy;
        return Out;
    }

private:
    std::array<char32_t, 256> FToUnicode{};
    std::array<std::string, 256> FToUtf8{};
    std::unordered_map<char32_t, uint8_t> FFromUnicode;
};

std::mutex TablesLock;

const TSingleByteTable& TableFor(uint16_t CodePage) {
    static std::unordered_map<uint16_t, std::unique_ptr<TSingleByteTable>> Tables;
    std::lock_guard<std::mutex> Guard(TablesLock);
    auto& Slot = Tables[CodePage];
    if (!Slot) Slot = std::make_unique<TSingleByteTable>(CodePage);
    return *Slot;
}

} // namespace

TCodePagePair CodePagesForLocale(std::string_view LocaleName) {
    std::string_view Name = LocaleName.substr(0, LocaleName.find_first_of(".@"));
    const TLanguagePages* Best = nullptr;
    size_t BestLen = 0;
    for (const TLanguagePages& Entry : LanguagePages) {
        std::string_view Prefix = Entry.Prefix;
        if (Name.substr(0, Prefix.size()) != Prefix) continue;
        bool Whole = Name.size() == Prefix.size() || Name[Prefix.size()] == '_';
        if (Whole && Prefix.size() > BestLen) {
            Best = &Entry;
            BestLen = Prefix.size();
        }
    }
    if (Best == nullptr) return TCodePagePair{};
    return TCodePagePair{Best->Ansi, Best->Oem};
}

TCodePagePair SystemCodePages() {
    return PairSlot();
}
void SetSystemCodePages(TCodePagePair Pair) {
    PairSlot() = Pair;
}

bool IsSupportedCodePage(uint16_t CodePage) {
    return os::CodePageAvailable(CodePage);
}

std::string CodePageToUtf8(std::string_view Bytes, uint16_t CodePage) {
    // Multi-byte pages (the East Asian ones) go through the system directly.
    if (!IsSingleByte(CodePage)) return os::MultiByteToUtf8(Bytes, CodePage, nullptr);
    return TableFor(CodePage).Decode(Bytes);
}

std::string Utf8ToCodePage(std::string_view Text, uint16_t CodePage, bool* UsedDefault) {
    if (!IsSingleByte(CodePage)) return os::Utf8ToMultiByte(Text, CodePage, UsedDefault);
    return TableFor(CodePage).Encode(Text, UsedDefault);
}

} // namespace kivo
