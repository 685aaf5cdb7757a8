#include "platform/FtpListing.h"

#include <array>

namespace kivo {

namespace {

bool IsDigit(char C) {
    return C >= '0' && C <= '9';
}

char LowerAscii(char C) {
    return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

bool SameTextAscii(std::string_view A, std::string_view B) {
    if (A.size() != B.size()) return false;
    for (size_t I = 0; I < A.size(); ++I)
        if (LowerAscii(A[I]) != LowerAscii(B[I])) return false;
    return true;
}

// The number written by Text when it is digits only and fits MaxDigits.
bool ReadNumber(std::string_view Text, size_t MaxDigits, uint64_t& Value) {
    if (Text.empty() || Text.size() > MaxDigits) return false;
    Value = 0;
    for (char C : Text) {
        if (!IsDigit(C)) return false;
        Value = Value * 10 + static_cast<uint64_t>(C - '0');
    }
    return true;
}

int Digits(std::string_view Text, size_t Pos, size_t Count) {
    int Value = 0;
    for (size_t I = Pos; I < Pos + Count; ++I)
        Value = Value * 10 + (Text[I] - '0');
    return Value;
}

bool AllDigits(std::string_view Text) {
    if (Text.empty()) return false;
    for (char C : Text)
        if (!IsDigit(C)) return false;
    return true;
}

int64_t DaysFromCivil(int Year, int Month, int Day) {
    // Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
    const int64_t Y = Year - (Month <= 2 ? 1 : 0);
    const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
    const int64_t YoE = Y - Era * 400;
    const int64_t DoY = (153 * (Month + (Month > 2 ? -3 : 9)) + 2) / 5 + Day - 1;
    const int64_t DoE = YoE * 365 + YoE / 4 - YoE / 100 + DoY;
    return Era * 146097 + DoE - 719468;
}

int MonthNumber(std::string_view Name) {
    static const std::array<const char*, 12> Names = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
    for (size_t I = 0; I < Names.size(); ++I)
        if (SameTextAscii(Name, Names[I])) return static_cast<int>(I) + 1;
    return 0;
}

// A word of a line and where it starts.
struct TWord {
    std::string_view Text;
    size_t Pos = 0;
};

std::vector<TWord> SplitWords(std::string_view Line, size_t MaxWords) {
    std::vector<TWord> Words;
    size_t P = 0;
    while (P < Line.size() && Words.size() < MaxWords) {
        while (P < Line.size() && (Line[P] == ' ' || Line[P] == '\t'))
            ++P;
        if (P >= Line.size()) break;
        size_t E = P;
        while (E < Line.size() && Line[E] != ' ' && Line[E] != '\t')
            ++E;
        Words.push_back({Line.substr(P, E - P), P});
        P = E;
    }
    return Words;
}

// "hh:mm" as hours and minutes.
bool ReadClock(std::string_view Text, int& Hour, int& Minute) {
    if (Text.size() != 5 || Text[2] != ':' || !IsDigit(Text[0]) || !IsDigit(Text[1]) ||
        !IsDigit(Text[3]) || !IsDigit(Text[4]))
        return false;
    Hour = Digits(Text, 0, 2);
    Minute = Digits(Text, 3, 2);
    return Hour < 24 && Minute < 60;
}

// A year for "Mon dd hh:mm": the date lies within the last six months, so
// it is this year unless that would put it more than a day ahead of today.
int GuessYear(const TFtpToday& Today, int Month, int Day) {
    const int64_t ThisYear = DaysFromCivil(Today.Year, Month, Day);
    const int64_t Now = DaysFromCivil(Today.Year, Today.Month, Today.Day);
    return ThisYear > Now + 1 ? Today.Year - 1 : Today.Year;
}

bool AcceptName(std::string_view Name) {
    return !Name.empty() && Name != "." && Name != ".." &&
           Name.find_first_of(std::string_view("\0/", 2)) == std::string_view::npos;
}

// Unix: "drwxr-xr-x 2 owner group 4096 Mar  5 12:30 name", the group may be
// missing; the size is the number before the month.
bool ParseUnixLine(std::string_view Line, const TFtpToday& Today, TFtpListEntry& Entry) {
    static const std::string_view Kinds = "-dlbcpsD";
    if (Line.size() < 11 || Kinds.find(Line[0]) == std::string_view::npos) return false;
    const std::vector<TWord> Words = SplitWords(Line, 9);
    // perms, links, owner, [group,] size, month, day, time-or-year, name
    for (size_t M = 3; M + 3 < Words.size() + 1 && M + 2 < Words.size(); ++M) {
        const int Month = MonthNumber(Words[M].Text);
        uint64_t Size = 0, DayValue = 0;
        if (Month == 0 || !ReadNumber(Words[M - 1].Text, 19, Size) ||
            !ReadNumber(Words[M + 1].Text, 2, DayValue) || DayValue < 1 || DayValue > 31)
            continue;
        const TWord& When = Words[M + 2];
        const size_t NameStart = When.Pos + When.Text.size() + 1;
        if (NameStart >= Line.size()) return false;
        int Year = 0, Hour = 0, Minute = 0;
        uint64_t YearValue = 0;
        if (ReadClock(When.Text, Hour, Minute))
            Year = GuessYear(Today, Month, static_cast<int>(DayValue));
        else if (When.Text.size() == 4 && ReadNumber(When.Text, 4, YearValue))
            Year = static_cast<int>(YearValue);
        else
            return false;
        std::string_view Name = Line.substr(NameStart);
        if (Line[0] == 'l') {
            const size_t Arrow = Name.find(" -> ");
            if (Arrow != std::string_view::npos) Name = Name.substr(0, Arrow);
        }
        if (!AcceptName(Name)) return false;
        Entry.Name = std::string(Name);
        Entry.IsDirectory = Line[0] == 'd' || Line[0] == 'D';
        Entry.Size = Entry.IsDirectory ? 0 : Size;
        Entry.FileTime = FtpFileTime(Year, Month, static_cast<int>(DayValue), Hour, Minute, 0);
        return true;
    }
    return false;
}

// DOS: "03-05-24  12:30PM       <DIR>          name" or "... 1234 name"; the
// year has two or four digits.
bool ParseDosLine(std::string_view Line, TFtpListEntry& Entry) {
    const std::vector<TWord> Words = SplitWords(Line, 4);
    if (Words.size() < 4) return false;
    const std::string_view Date = Words[0].Text, Clock = Words[1].Text, What = Words[2].Text;
    if ((Date.size() != 8 && Date.size() != 10) || Date[2] != '-' || Date[5] != '-') return false;
    if (!AllDigits(Date.substr(0, 2)) || !AllDigits(Date.substr(3, 2)) ||
        !AllDigits(Date.substr(6)))
        return false;
    int Month = Digits(Date, 0, 2), Day = Digits(Date, 3, 2);
    int Year = Digits(Date, 6, Date.size() - 6);
    if (Date.size() == 8) Year += Year < 70 ? 2000 : 1900;
    int Hour = 0, Minute = 0;
    if (Clock.size() != 7 || !ReadClock(Clock.substr(0, 5), Hour, Minute)) return false;
    const std::string_view Half = Clock.substr(5);
    if (Hour < 1 || Hour > 12) return false;
    if (SameTextAscii(Half, "PM"))
        Hour = Hour % 12 + 12;
    else if (SameTextAscii(Half, "AM"))
        Hour = Hour % 12;
    else
        return false;
    uint64_t Size = 0;
    const bool IsDirectory = What == "<DIR>";
    if (!IsDirectory && !ReadNumber(What, 19, Size)) return false;
    const std::string_view Name = Line.substr(Words[3].Pos);
    if (!AcceptName(Name)) return false;
    Entry.Name = std::string(Name);
    Entry.IsDirectory = IsDirectory;
    Entry.Size = Size;
    Entry.FileTime = FtpFileTime(Year, Month, Day, Hour, Minute, 0);
    return true;
}

// "YYYYMMDDHHMMSS" with optional fractions, as MLSD's modify fact (UTC).
uint64_t MlsdTime(std::string_view Value) {
    if (Value.size() < 14 || !AllDigits(Value.substr(0, 14))) return 0;
    return FtpFileTime(Digits(Value, 0, 4), Digits(Value, 4, 2), Digits(Value, 6, 2),
                       Digits(Value, 8, 2), Digits(Value, 10, 2), Digits(Value, 12, 2));
}

} // namespace

uint64_t FtpFileTime(int Year, int Month, int Day, int Hour, int Minute, int Second) {
    if (Year < 1601 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > 31 || Hour < 0 ||
        Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 60)
        return 0;
    // 1601-01-01 lies 134774 days before 1970-01-01.
    const int64_t Days = DaysFromCivil(Year, Month, Day) + 134774;
    const int64_t Seconds = Days * 86400 + Hour * 3600 + Minute * 60 + Second;
    return static_cast<uint64_t>(Seconds) * 10000000u;
}

bool ParseMlsdLine(std::string_view Line, TFtpListEntry& Entry) {
    const size_t Space = Line.find(' ');
    if (Space == std::string_view::npos) return false;
    std::string_view Facts = Line.substr(0, Space);
    const std::string_view Name = Line.substr(Space + 1);
    TFtpListEntry Out;
    bool HaveType = false;
    while (!Facts.empty()) {
        const size_t End = Facts.find(';');
        const std::string_view Fact = Facts.substr(0, End);
        Facts = End == std::string_view::npos ? std::string_view() : Facts.substr(End + 1);
        const size_t Eq = Fact.find('=');
        if (Eq == std::string_view::npos) continue;
        const std::string_view Key = Fact.substr(0, Eq), Value = Fact.substr(Eq + 1);
        if (SameTextAscii(Key, "type")) {
            if (SameTextAscii(Value, "cdir") || SameTextAscii(Value, "pdir")) return false;
            Out.IsDirectory = SameTextAscii(Value, "dir");
            HaveType = true;
        } else if (SameTextAscii(Key, "size")) {
            if (!ReadNumber(Value, 19, Out.Size)) Out.Size = 0;
        } else if (SameTextAscii(Key, "modify")) {
            Out.FileTime = MlsdTime(Value);
        }
    }
    if (!HaveType || !AcceptName(Name)) return false;
    if (Out.IsDirectory) Out.Size = 0;
    Out.Name = std::string(Name);
    Entry = std::move(Out);
    return true;
}

bool ParseListLine(std::string_view Line, const TFtpToday& Today, TFtpListEntry& Entry) {
    if (Line.size() >= 6 && SameTextAscii(Line.substr(0, 6), "total ")) return false;
    if (!Line.empty() && IsDigit(Line[0])) return ParseDosLine(Line, Entry);
    return ParseUnixLine(Line, Today, Entry);
}

std::vector<TFtpListEntry> ParseFtpListing(std::string_view Text, bool Mlsd,
                                           const TFtpToday& Today) {
    std::vector<TFtpListEntry> Entries;
    size_t P = 0;
    while (P < Text.size()) {
        size_t E = Text.find('\n', P);
        if (E == std::string_view::npos) E = Text.size();
        std::string_view Line = Text.substr(P, E - P);
        if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
        P = E + 1;
        TFtpListEntry Entry;
        if (Mlsd ? ParseMlsdLine(Line, Entry) : ParseListLine(Line, Today, Entry))
            Entries.push_back(std::move(Entry));
    }
    return Entries;
}

bool FtpNameMatches(std::string_view Pattern, std::string_view Name) {
    if (Pattern.empty() || Pattern == "*" || Pattern == "*.*") return true;
    // Iterative match with one remembered star: linear in practice, and
    // never more than |Pattern| x |Name| steps.
    size_t P = 0, N = 0, Star = std::string_view::npos, Mark = 0;
    while (N < Name.size()) {
        if (P < Pattern.size() && (Pattern[P] == '?' || Pattern[P] == Name[N])) {
            ++P;
            ++N;
        } else if (P < Pattern.size() && Pattern[P] == '*') {
            Star = P++;
            Mark = N;
        } else if (Star != std::string_view::npos) {
            P = Star + 1;
            N = ++Mark;
        } else {
            return false;
        }
    }
    while (P < Pattern.size() && Pattern[P] == '*')
        ++P;
    return P == Pattern.size();
}

} // namespace kivo
