// The clock and the local time-zone rules through the C library.
#include <sys/time.h>
#include <time.h>

#include "runtime/OsClock.h"

namespace kivo::os {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t Year, int Month, int Day) {
    Year -= Month <= 2 ? 1 : 0;
    const int64_t Era = (Year >= 0 ? Year : Year - 399) / 400;
    const int64_t YearOfEra = Year - Era * 400;
    const int64_t DayOfYear = (153 * (Month + (Month > 2 ? -3 : 9)) + 2) / 5 + Day - 1;
    const int64_t DayOfEra = YearOfEra * 365 + YearOfEra / 4 - YearOfEra / 100 + DayOfYear;
    return Era * 146097 + DayOfEra - 719468;
}

} // namespace

void CurrentUnixTime(int64_t& Seconds, int& Milliseconds) {
    timeval Tv{};
    ::gettimeofday(&Tv, nullptr);
    Seconds = static_cast<int64_t>(Tv.tv_sec);
    Milliseconds = static_cast<int>(Tv.tv_usec / 1000);
}

uint64_t MonotonicMilliseconds() {
    timespec Ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &Ts);
    return static_cast<uint64_t>(Ts.tv_sec) * 1000u + static_cast<uint64_t>(Ts.tv_nsec) / 1000000u;
}

bool LocalTimeOf(int64_t UnixTime, std::tm& Local, int64_t& UtcOffset) {
    const auto T = static_cast<time_t>(UnixTime);
    if (::localtime_r(&T, &Local) == nullptr) return false;
    UtcOffset = static_cast<int64_t>(Local.tm_gmtoff);
    return true;
}

int64_t UnixTimeOfLocal(const std::tm& Local) {
    // mktime reads the zone's rules from the file system again on every call
    // (a path look-up under the C library's time-zone lock, per extracted
    // file). Where the zone's offset is the same a day before and a day after
    // the fields read as UTC, exactly one moment has these fields and it
    // follows from that offset; only times near a change of offset take mktime.
    if (Local.tm_mon >= 0 && Local.tm_mon < 12 && Local.tm_mday >= 1 && Local.tm_mday <= 31 &&
        Local.tm_hour >= 0 && Local.tm_hour < 24 && Local.tm_min >= 0 && Local.tm_min < 60 &&
        Local.tm_sec >= 0 && Local.tm_sec < 60) {
        const int64_t AsUtc =
            DaysFromCivil(Local.tm_year + 1900LL, Local.tm_mon + 1, Local.tm_mday) * 86400 +
            Local.tm_hour * 3600 + Local.tm_min * 60 + Local.tm_sec;
        std::tm Fields{};
        int64_t Before = 0;
        int64_t After = 0;
        int64_t At = 0;
        if (LocalTimeOf(AsUtc - 86400, Fields, Before) &&
            LocalTimeOf(AsUtc + 86400, Fields, After) && Before == After &&
            LocalTimeOf(AsUtc - Before, Fields, At) && At == Before)
            return AsUtc - Before;
    }
    std::tm Fields = Local;
    Fields.tm_isdst = -1;
    return static_cast<int64_t>(::mktime(&Fields));
}

} // namespace kivo::os
