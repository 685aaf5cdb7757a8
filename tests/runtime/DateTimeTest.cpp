// TDateTime encoding, decoding and the Unix-time conversions.
#include "runtime/DateTime.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

#include "runtime/SysUtils.h"
#include "tests/common/TestEnv.h"

using namespace kivo;
using kivo::test::TScopedTimeZone;

TEST(DateTime, KnownDaysEncodeToTheirSerialNumbers) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1980, 1, 1), 29221.0);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(EncodeDate(1970, 1, 1), static_cast<double>(UnixDateDelta));
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 18, 0, 0, 0), 36526.75);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25)
        << "before the epoch the time counts away";
}

TEST(DateTime, InvalidPartsAreRejected) {
    TDateTime D;
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, D));
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, D));
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29, D));
    EXPECT_TRUE(TryEncodeDate(2000, 2, 29, D));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, D));
    EXPECT_FALSE(TryEncodeDateTime(2021, 13, 1, 0, 0, 0, 0, D));
    EXPECT_THROW(EncodeDate(0, 1, 1), EArgumentException);
}

TEST(DateTime, DecodeRoundTripsToTheMillisecond) {
    for (int Year : {1601, 1899, 1900, 1980, 2000, 2038, 2107, 9999}) {
        TDateTime V = EncodeDateTime(Year, 7, 31, 23, 59, 58, 999);
        int Y, Mo, D, H, Mi, S, Ms;
        DecodeDateTime(V, Y, Mo, D, H, Mi, S, Ms);
        EXPECT_EQ(Y, Year);
        EXPECT_EQ(Mo, 7);
        EXPECT_EQ(D, 31);
        EXPECT_EQ(H, 23);
        EXPECT_EQ(Mi, 59);
        EXPECT_EQ(S, 58);
        EXPECT_EQ(Ms, 999);
    }
    EXPECT_EQ(FormatDateTimeIso(EncodeDateTime(2021, 6, 15, 12, 34, 56, 0)), "2021-06-15 12:34:56");
    EXPECT_EQ(DateTimeToSystemTime(EncodeDate(2026, 12, 9)).DayOfWeek, 3) << "a Wednesday";
}

TEST(DateTime, UnixTimeConvertsThroughTheLocalZone) {
    TScopedTimeZone Zone("Europe/Berlin");
    if (!Zone.Applied()) GTEST_SKIP() << "the local time zone is a system setting here";
    // 2020-09-13 12:26:40 UTC is 14:26:40 in Berlin (summer time).
    EXPECT_EQ(FormatDateTimeIso(UnixToLocalDateTime(1600000000)), "2020-09-13 14:26:40");
    EXPECT_EQ(LocalDateTimeToUnix(EncodeDateTime(2020, 9, 13, 14, 26, 40, 0)), 1600000000);
    EXPECT_EQ(FormatDateTimeIso(UnixToDateTime(1600000000)), "2020-09-13 12:26:40");
    EXPECT_EQ(DateTimeToUnix(UnixToDateTime(-86401)), -86401);
}

// Local times around the zones' changes of offset, and far from them: the
// conversion gives what mktime gives (it takes a faster road where the
// offset is the same for a day around the time).
struct TLocalCase {
    const char* Name;
    const char* Zone;
    int Year, Month, Day, Hour, Minute, Second;
};

class LocalToUnix : public ::testing::TestWithParam<TLocalCase> {};

TEST_P(LocalToUnix, GivesWhatMktimeGives) {
    const TLocalCase& C = GetParam();
    TScopedTimeZone Zone(C.Zone);
    if (!Zone.Applied()) GTEST_SKIP() << "the local time zone is a system setting here";
    std::tm Fields{};
    Fields.tm_year = C.Year - 1900;
    Fields.tm_mon = C.Month - 1;
    Fields.tm_mday = C.Day;
    Fields.tm_hour = C.Hour;
    Fields.tm_min = C.Minute;
    Fields.tm_sec = C.Second;
    Fields.tm_isdst = -1;
    const auto Expected = static_cast<int64_t>(std::mktime(&Fields));
    EXPECT_EQ(
        LocalDateTimeToUnix(EncodeDateTime(C.Year, C.Month, C.Day, C.Hour, C.Minute, C.Second, 0)),
        Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocalToUnix,
    ::testing::Values(
        TLocalCase{"BerlinWinter", "Europe/Berlin", 2021, 1, 15, 12, 0, 0},
        TLocalCase{"BerlinSummer", "Europe/Berlin", 2020, 9, 13, 14, 26, 40},
        TLocalCase{"BerlinBeforeSpringChange", "Europe/Berlin", 2021, 3, 28, 1, 59, 58},
        TLocalCase{"BerlinInTheSkippedHour", "Europe/Berlin", 2021, 3, 28, 2, 30, 0},
        TLocalCase{"BerlinAfterSpringChange", "Europe/Berlin", 2021, 3, 28, 3, 0, 0},
        TLocalCase{"BerlinInTheRepeatedHour", "Europe/Berlin", 2021, 10, 31, 2, 30, 0},
        TLocalCase{"BerlinDayAfterAutumnChange", "Europe/Berlin", 2021, 11, 1, 2, 30, 0},
        TLocalCase{"NewYorkRepeatedHour", "America/New_York", 2021, 11, 7, 1, 30, 0},
        TLocalCase{"NewYorkSummer", "America/New_York", 1999, 7, 4, 23, 59, 58},
        TLocalCase{"UtcFirstDosTime", "UTC", 1980, 1, 1, 0, 0, 0},
        TLocalCase{"TokyoLastDosYear", "Asia/Tokyo", 2107, 12, 31, 23, 59, 58},
        TLocalCase{"LeapDay", "Australia/Sydney", 2024, 2, 29, 12, 0, 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });
