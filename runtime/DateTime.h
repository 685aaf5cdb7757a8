// TDateTime: days since 1899-12-30 00:00 as a double, the time of day in the
// fraction; local time unless a caller says otherwise.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace kivo {

using TDateTime = double;

constexpr double MSecsPerDay = 86400000.0;
constexpr double SecsPerDay = 86400.0;
constexpr int32_t UnixDateDelta = 25569; // 1970-01-01 as a TDateTime

struct TSystemTime {
    uint16_t Year = 0, Month = 0, DayOfWeek = 0, Day = 0;
    uint16_t Hour = 0, Minute = 0, Second = 0, Milliseconds = 0;
};

bool IsLeapYear(int Year);
int DaysInMonth(int Year, int Month);

// Encoding fails (returns false) for out-of-range parts; years 1..9999.
bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result);
bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result);
bool TryEncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec,
                       TDateTime& Result);
// Throwing forms: EArgumentException for invalid parts.
TDateTime EncodeDate(int Year, int Month, int Day);
TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec);
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec);

// Decoding rounds to the nearest millisecond.
void DecodeDate(TDateTime Value, int& Year, int& Month, int& Day);
void DecodeTime(TDateTime Value, int& Hour, int& Min, int& Sec, int& MSec);
void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec,
                    int& MSec);
TSystemTime DateTimeToSystemTime(TDateTime Value);
TDateTime SystemTimeToDateTime(const TSystemTime& Value);

// The current local date and time.
TDateTime Now();

// Local wall-clock time <-> seconds since the Unix epoch (UTC), through the
// time zone rules in force at that moment.
TDateTime UnixToLocalDateTime(int64_t UnixTime);
int64_t LocalDateTimeToUnix(TDateTime Value);
// Seconds the local time is ahead of UTC at that moment (0 when unknown).
int64_t LocalUtcOffset(int64_t UnixTime);
// UTC <-> TDateTime without any zone.
TDateTime UnixToDateTime(int64_t UnixTime);
int64_t DateTimeToUnix(TDateTime Value);

// "YYYY-MM-DD hh:mm:ss"
std::string FormatDateTimeIso(TDateTime Value);

} // namespace kivo
