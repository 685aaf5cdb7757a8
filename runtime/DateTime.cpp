#include "runtime/DateTime.h"

#include <cmath>

#include "runtime/OsClock.h"
#include "runtime/SysUtils.h"

namespace kivo {

namespace {

constexpr int MonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                  {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

// Days from 0001-01-01 to 1899-12-30.
constexpr int DateDelta = 693594;

// Splits a date-time into whole days and milliseconds of the day, rounding
// to the nearest millisecond. Negative values count the fraction away from
// the day (-1.25 is 1899-12-29 06:00), as the date-time format defines.
void SplitDateTime(TDateTime Value, int64_t& Days, int64_t& MSecs) {
    double Whole = std::trunc(Value);
    double Fraction = std::fabs(Value - Whole);
    int64_t Ms = static_cast<int64_t>(std::llround(Fraction * MSecsPerDay));
    Days = static_cast<int64_t>(Whole);
    if (Ms >= static_cast<int64_t>(MSecsPerDay)) {
        Ms -= static_cast<int64_t>(MSecsPerDay);
        Days += (Value < 0) ? -1 : 1;
    }
    MSecs = Ms;
}

} // namespace

bool IsLeapYear(int Year) {
    return (Year % 4 == 0) && ((Year % 100 != 0) || (Year % 400 == 0));
}

int DaysInMonth(int Year, int Month) {
    return MonthDays[IsLeapYear(Year) ? 1 : 0][Month - 1];
}

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result) {
    if (Year < 1 || Year > 9999 || Month < 1 || Month > 12) return false;
    if (Day < 1 || Day > DaysInMonth(Year, Month)) return false;
    int Leap = IsLeapYear(Year) ? 1 : 0;
    for (int M = 1; M < Month; ++M)
        Day += MonthDays[Leap][M - 1];
    int Y = Year - 1;
    int64_t Days = static_cast<int64_t>(Y) * 365 + Y / 4 - Y / 100 + Y / 400 + Day - DateDelta;
    Result = static_cast<double>(Days);
    return true;
}

bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result) {
    if (Hour < 0 || Hour >= 24 || Min < 0 || Min >= 60 || Sec < 0 || Sec >= 60 || MSec < 0 ||
        MSec >= 1000) {
        return false;
    }
    Result = (((Hour * 60.0 + Min) * 60.0 + Sec) * 1000.0 + MSec) / MSecsPerDay;
    return true;
}

bool TryEncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec,
                       TDateTime& Result) {
    TDateTime D, T;
    if (!TryEncodeDate(Year, Month, Day, D) || !TryEncodeTime(Hour, Min, Sec, MSec, T))
        return false;
    Result = D < 0 ? D - T : D + T;
    return true;
}

TDateTime EncodeDate(int Year, int Month, int Day) {
    TDateTime R;
    if (!TryEncodeDate(Year, Month, Day, R))
        throw EArgumentException("Ungültiges Argument zum Codieren des Datums");
    return R;
}

TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec) {
    TDateTime R;
    if (!TryEncodeTime(Hour, Min, Sec, MSec, R))
        throw EArgumentException("Ungültiges Argument zum Codieren der Uhrzeit");
    return R;
}

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec) {
    TDateTime D = EncodeDate(Year, Month, Day);
    TDateTime T = EncodeTime(Hour, Min, Sec, MSec);
    return D < 0 ? D - T : D + T;
}

void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec,
                    int& MSec) {
    int64_t Days, Ms;
    SplitDateTime(Value, Days, Ms);
    // Civil-from-days (proleptic Gregorian), counting from 0001-01-01.
    int64_t T = Days + DateDelta - 1; // whole days since 0001-01-01
    if (T < 0) {
        Year = Month = Day = 0;
    } else {
        int64_t Y = 1;
        int64_t D400 = T / 146097;
        T %= 146097;
        Y += D400 * 400;
        int64_t D100 = T / 36524;
        if (D100 == 4) D100 = 3;
        T -= D100 * 36524;
        Y += D100 * 100;
        int64_t D4 = T / 1461;
        T %= 1461;
        Y += D4 * 4;
        int64_t D1 = T / 365;
        if (D1 == 4) D1 = 3;
        T -= D1 * 365;
        Y += D1;
        int Leap = IsLeapYear(static_cast<int>(Y)) ? 1 : 0;
        int M = 1;
        while (T >= MonthDays[Leap][M - 1]) {
            T -= MonthDays[Leap][M - 1];
            ++M;
        }
        Year = static_cast<int>(Y);
        Month = M;
        Day = static_cast<int>(T) + 1;
    }
    Hour = static_cast<int>(Ms / 3600000);
    Min = static_cast<int>(Ms / 60000 % 60);
    Sec = static_cast<int>(Ms / 1000 % 60);
    MSec = static_cast<int>(Ms % 1000);
}

void DecodeDate(TDateTime Value, int& Year, int& Month, int& Day) {
    int H, M, S, Ms;
    DecodeDateTime(Value, Year, Month, Day, H, M, S, Ms);
}

void DecodeTime(TDateTime Value, int& Hour, int& Min, int& Sec, int& MSec) {
    int Y, Mo, D;
    DecodeDateTime(Value, Y, Mo, D, Hour, Min, Sec, MSec);
}

TSystemTime DateTimeToSystemTime(TDateTime Value) {
    int Y, Mo, D, H, Mi, S, Ms;
    DecodeDateTime(Value, Y, Mo, D, H, Mi, S, Ms);
    TSystemTime St;
    St.Year = static_cast<uint16_t>(Y);
    St.Month = static_cast<uint16_t>(Mo);
    St.Day = static_cast<uint16_t>(D);
    St.Hour = static_cast<uint16_t>(H);
    St.Minute = static_cast<uint16_t>(Mi);
    St.Second = static_cast<uint16_t>(S);
    St.Milliseconds = static_cast<uint16_t>(Ms);
    // 1899-12-30 was a Saturday (6); Sunday is 0.
    int64_t Days = static_cast<int64_t>(std::floor(Value));
    St.DayOfWeek = static_cast<uint16_t>(((Days % 7) + 7 + 6) % 7);
    return St;
}

TDateTime SystemTimeToDateTime(const TSystemTime& Value) {
    return EncodeDateTime(Value.Year, Value.Month, Value.Day, Value.Hour, Value.Minute,
                          Value.Second, Value.Milliseconds);
}

TDateTime Now() {
    int64_t Secs = 0;
    int MSecs = 0;
    os::CurrentUnixTime(Secs, MSecs);
    tm Local{};
    int64_t UtcOffset = 0;
    os::LocalTimeOf(Secs, Local, UtcOffset);
    return EncodeDateTime(Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday, Local.tm_hour,
                          Local.tm_min, Local.tm_sec, MSecs);
}

TDateTime UnixToDateTime(int64_t UnixTime) {
    int64_t Days = UnixTime >= 0 ? UnixTime / 86400 : -((-UnixTime + 86399) / 86400);
    int64_t Secs = UnixTime - Days * 86400;
    return static_cast<double>(Days + UnixDateDelta) + static_cast<double>(Secs) / SecsPerDay;
}

int64_t DateTimeToUnix(TDateTime Value) {
    // Positive date-times only in practice; round to the nearest second.
    return static_cast<int64_t>(std::llround((Value - UnixDateDelta) * SecsPerDay));
}

int64_t LocalUtcOffset(int64_t UnixTime) {
    tm Local{};
    int64_t UtcOffset = 0;
    return os::LocalTimeOf(UnixTime, Local, UtcOffset) ? UtcOffset : 0;
}

TDateTime UnixToLocalDateTime(int64_t UnixTime) {
    tm Local{};
    int64_t UtcOffset = 0;
    if (!os::LocalTimeOf(UnixTime, Local, UtcOffset)) return UnixToDateTime(UnixTime);
    return UnixToDateTime(UnixTime + UtcOffset);
}

int64_t LocalDateTimeToUnix(TDateTime Value) {
    int Y, Mo, D, H, Mi, S, Ms;
    DecodeDateTime(Value, Y, Mo, D, H, Mi, S, Ms);
    tm Local{};
    Local.tm_year = Y - 1900;
    Local.tm_mon = Mo - 1;
    Local.tm_mday = D;
    Local.tm_hour = H;
    Local.tm_min = Mi;
    Local.tm_sec = S;
    return os::UnixTimeOfLocal(Local);
}

std::string FormatDateTimeIso(TDateTime Value) {
    int Y, Mo, D, H, Mi, S, Ms;
    DecodeDateTime(Value, Y, Mo, D, H, Mi, S, Ms);
    return Format("%04d-%02d-%02d %02d:%02d:%02d", Y, Mo, D, H, Mi, S);
}

} // namespace kivo
