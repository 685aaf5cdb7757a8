// The locale through the C library's locale objects (never the process-wide
// locale, which is not ours to change).
#include <cwctype>
#include <langinfo.h>
#include <locale.h>
#include <string.h>
#include <wctype.h>

#include "runtime/OsLocale.h"

namespace kivo::os {

namespace {

// The first character of a date or time pattern that separates two fields:
// not a conversion ("%d"), not a letter, not a blank.
char PatternSeparator(const char* Pattern, char Fallback) {
    for (const char* P = Pattern; *P != '\0'; ++P) {
        if (*P == '%') {
            if (P[1] != '\0') ++P;
            continue;
        }
        if (*P != ' ' && !(*P >= 'a' && *P <= 'z') && !(*P >= 'A' && *P <= 'Z')) return *P;
    }
    return Fallback;
}

char SeparatorFromLocale(int Category, nl_item Item, char Fallback, bool Pattern) {
    locale_t Loc = newlocale(Category, "", static_cast<locale_t>(nullptr));
    if (Loc == static_cast<locale_t>(nullptr)) return Fallback;
    char Result = Fallback;
    if (const char* Text = nl_langinfo_l(Item, Loc)) {
        if (Pattern)
            Result = PatternSeparator(Text, Fallback);
        else if (Text[0] != '\0' && Text[1] == '\0')
            Result = Text[0];
    }
    freelocale(Loc);
    return Result;
}

// A UTF-8 locale for the wide-character case tables, so that every letter
// is known, not only ASCII.
locale_t CaseLocale() {
    static locale_t Loc = [] {
        const char* Candidates[] = {"C.UTF-8", "en_US.UTF-8", "de_DE.UTF-8", ""};
        for (const char* Name : Candidates) {
            locale_t L = newlocale(LC_CTYPE_MASK, Name, static_cast<locale_t>(nullptr));
            if (L != static_cast<locale_t>(nullptr)) return L;
        }
        return static_cast<locale_t>(nullptr);
    }();
    return Loc;
}

} // namespace

char LocaleDecimalSeparator(char Fallback) {
    return SeparatorFromLocale(LC_NUMERIC_MASK, RADIXCHAR, Fallback, false);
}

char LocaleDateSeparator(char Fallback) {
    return SeparatorFromLocale(LC_TIME_MASK, D_FMT, Fallback, true);
}

char LocaleTimeSeparator(char Fallback) {
    return SeparatorFromLocale(LC_TIME_MASK, T_FMT, Fallback, true);
}

char32_t UpperCaseOf(char32_t CodePoint) {
    locale_t L = CaseLocale();
    return L ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(CodePoint), L)) : CodePoint;
}

char32_t LowerCaseOf(char32_t CodePoint) {
    locale_t L = CaseLocale();
    return L ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(CodePoint), L)) : CodePoint;
}

std::string ErrorNumberText(int Err, bool German) {
    // strerror_l does not depend on the process locale and is thread-safe.
    locale_t Loc =
        newlocale(LC_MESSAGES_MASK, German ? "de_DE.UTF-8" : "C", static_cast<locale_t>(nullptr));
    if (Loc == static_cast<locale_t>(nullptr))
        Loc = newlocale(LC_MESSAGES_MASK, "C", static_cast<locale_t>(nullptr));
    std::string Text = strerror_l(Err, Loc);
    freelocale(Loc);
    return Text;
}

} // namespace kivo::os
