// ParseDateTime over a table of texts, natively in two time zones (one
// with daylight saving), and its zone-free properties everywhere.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "settings/version_config.h"

namespace {

TEST(ParseDateTimeTest, RefusesWhatItDoesNotAccept) {
    for (const char* text :
         {"2008-08-19 10:20", "2008-13-01", "2008-00-10", "1969-12-31", "2099-01-01", "1970-01-01 07:59:59",
          "1970-01-01 00:00:00", "2008-08-32", "2008-08-00", "2008-08-19 24:00:00", "2008-08-19 10:60:00",
          "2008-08-19 10:20:60", "2008-08", "2008", "", "2008-08-1900000000", "0000002008-08-19",
          "2008-08-19 0000000010:20:30", "-2008-08-19"}) {
        EXPECT_EQ(ParseDateTime(text), 0u) << text;
    }
    EXPECT_EQ(ParseDateTime(nullptr), 0u);
}

TEST(ParseDateTimeTest, ReadsPartsByTheirLeadingDigits) {
    const std::uint32_t day = ParseDateTime("2008-08-19");
    ASSERT_NE(day, 0u);
    EXPECT_EQ(ParseDateTime("2008-08-19 lunchtime"), day);
    EXPECT_EQ(ParseDateTime("2008-08-19 ab:cd:ef"), day);
    EXPECT_EQ(ParseDateTime(" 2008-+08-19"), day);
    EXPECT_EQ(ParseDateTime("2008-8-19x"), day);
    EXPECT_EQ(ParseDateTime("2008-08-19 10:20:30"), day + 37230u);
    EXPECT_EQ(ParseDateTime("2008-08-19 10:20:30 local"), day + 37230u);
    EXPECT_EQ(ParseDateTime("2008-8-9"), ParseDateTime("2008-08-09"));
    EXPECT_EQ(ParseDateTime("2008-02-30"), ParseDateTime("2008-03-01"));  // rolls into the next month
    EXPECT_EQ(ParseDateTime("1970-01-01"), ParseDateTime("1970-01-01 08:00:00"));
    EXPECT_EQ(ParseDateTime("2098-12-31 23:59:59") - ParseDateTime("2098-12-31"), 86399u);
    // Past 2038, where 32-bit seconds of a signed time run out.
    EXPECT_EQ(ParseDateTime("2038-01-20") - ParseDateTime("2038-01-19"), 86400u);
    EXPECT_GT(ParseDateTime("2098-12-31"), 0x80000000u);
}

#ifndef _WIN32
// Seconds since 1970 of a UTC date and time (days from the civil calendar,
// independent of the C library's conversions).
long long UtcSeconds(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::uint32_t Seconds(long long value) { return static_cast<std::uint32_t>(value); }

class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        if (old != nullptr) old_ = old, hadOld_ = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (hadOld_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::string old_;
    bool hadOld_ = false;
};

TEST(ParseDateTimeTest, IsLocalTimeInEachZone) {
    struct Case {
        const char* text;
        long long utc;  // the same fields as UTC
    };
    const Case cases[] = {
        {"2008-08-19 10:20:30", UtcSeconds(2008, 8, 19, 10, 20, 30)},
        {"2008-08-19", UtcSeconds(2008, 8, 19)},
        {"2008-01-15 12:00:00", UtcSeconds(2008, 1, 15, 12)},
        {"2008-02-30", UtcSeconds(2008, 3, 1)},
        {"1970-01-01", UtcSeconds(1970, 1, 1, 8)},
        {"2038-01-19 11:14:08", UtcSeconds(2038, 1, 19, 11, 14, 8)},
        {"2098-12-31 23:59:59", UtcSeconds(2098, 12, 31, 23, 59, 59)},
    };
    {
        TimeZone china("CST-8");  // UTC+8 all year
        for (const Case& c : cases) EXPECT_EQ(ParseDateTime(c.text), Seconds(c.utc - 8 * 3600)) << c.text;
    }
    {
        TimeZone newYork("EST5EDT,M3.2.0,M11.1.0");  // UTC-5, UTC-4 from March to November
        for (const Case& c : cases) {
            const std::string text = c.text;
            const bool summer = text.rfind("2008-08", 0) == 0;
            EXPECT_EQ(ParseDateTime(c.text), Seconds(c.utc + (summer ? 4 : 5) * 3600)) << c.text;
        }
    }
    {
        // East of UTC+8, 08:00 on the first day is before 1970 in UTC.
        TimeZone tokyo("JST-9");
        EXPECT_EQ(ParseDateTime("1970-01-01"), 0u);
        EXPECT_EQ(ParseDateTime("1970-01-01 09:00:00"), 0u);
        EXPECT_EQ(ParseDateTime("1970-01-01 09:00:01"), 1u);
    }
}
#endif

}  // namespace
