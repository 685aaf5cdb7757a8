// The clock and the local time-zone rules through the system's time calls.
#include <windows.h>

#include "runtime/OsClock.h"

namespace kivo::os {

namespace {

// 100-nanosecond ticks between 1601-01-01 (FILETIME) and 1970-01-01.
constexpr int64_t UnixEpochTicks = 116444736000000000LL;
constexpr int64_t TicksPerSecond = 10000000LL;

int64_t TicksOf(const FILETIME& Ft) {
    return static_cast<int64_t>((static_cast<uint64_t>(Ft.dwHighDateTime) << 32) |
                                Ft.dwLowDateTime);
}

FILETIME FileTimeOf(int64_t Ticks) {
    FILETIME Ft;
    Ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(Ticks) & 0xFFFFFFFFu);
    Ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(Ticks) >> 32);
    return Ft;
}

} // namespace

void CurrentUnixTime(int64_t& Seconds, int& Milliseconds) {
    FILETIME Ft;
    ::GetSystemTimePreciseAsFileTime(&Ft);
    const int64_t Ticks = TicksOf(Ft) - UnixEpochTicks;
    Seconds = Ticks / TicksPerSecond;
    Milliseconds = static_cast<int>((Ticks % TicksPerSecond) / 10000);
}

uint64_t MonotonicMilliseconds() {
    return static_cast<uint64_t>(::GetTickCount64());
}

bool LocalTimeOf(int64_t UnixTime, std::tm& Local, int64_t& UtcOffset) {
    if (UnixTime < -11644473600LL || UnixTime > 910692730085LL) return false;
    const FILETIME Utc = FileTimeOf(UnixTime * TicksPerSecond + UnixEpochTicks);
    SYSTEMTIME UtcFields, LocalFields;
    if (!::FileTimeToSystemTime(&Utc, &UtcFields) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &UtcFields, &LocalFields))
        return false;
    FILETIME LocalFt;
    if (!::SystemTimeToFileTime(&LocalFields, &LocalFt)) return false;
    UtcOffset = (TicksOf(LocalFt) - TicksOf(Utc)) / TicksPerSecond;
    Local = std::tm{};
    Local.tm_year = LocalFields.wYear - 1900;
    Local.tm_mon = LocalFields.wMonth - 1;
    Local.tm_mday = LocalFields.wDay;
    Local.tm_hour = LocalFields.wHour;
    Local.tm_min = LocalFields.wMinute;
    Local.tm_sec = LocalFields.wSecond;
    Local.tm_wday = LocalFields.wDayOfWeek;
    return true;
}

int64_t UnixTimeOfLocal(const std::tm& Local) {
    std::tm Fields = Local;
    Fields.tm_isdst = -1;
    return static_cast<int64_t>(::mktime(&Fields));
}

} // namespace kivo::os
