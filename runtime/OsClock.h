// The operating system's clock and time-zone rules, one implementation per
// system (runtime/posix/Clock.cpp). Internal to the runtime: other modules
// use DateTime.
#pragma once

#include <cstdint>
#include <ctime>

namespace kivo::os {

// The current time: seconds since the Unix epoch (UTC) and the milliseconds
// of that second.
void CurrentUnixTime(int64_t& Seconds, int& Milliseconds);
// The local calendar fields of a Unix time, with the zone's offset from UTC
// in seconds at that moment; false when the time cannot be converted.
bool LocalTimeOf(int64_t UnixTime, std::tm& Local, int64_t& UtcOffset);
// The Unix time of local calendar fields (tm_year to tm_sec; tm_isdst is
// not read) as mktime gives it with tm_isdst -1; -1 when it cannot say.
int64_t UnixTimeOfLocal(const std::tm& Local);
// Milliseconds of a clock that never goes back (not the time of day).
uint64_t MonotonicMilliseconds();

} // namespace kivo::os
