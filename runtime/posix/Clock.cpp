// The clock and the local time-zone rules through the C library.
#include <sys/time.h>
#include <time.h>

#include "runtime/OsClock.h"

namespace kivo::os {

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

} // namespace kivo::os
