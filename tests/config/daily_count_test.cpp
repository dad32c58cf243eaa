#include <gtest/gtest.h>

#include <cstdint>

#include "config/port_config.h"
#include "support/config_dir.h"

using kavex::config::DayKeyAt;

namespace {

// 2024-01-01 00:00 UTC.
constexpr std::uint32_t kNewYear = 1704067200u;
constexpr std::uint32_t kHour = 3600u;

std::uint32_t g_now = 0;
std::uint32_t TestClock() { return g_now; }

class DailyCountTest : public ::testing::Test {
protected:
    void SetUp() override { kavex::config::SetClockSource(TestClock); }
    void TearDown() override { kavex::config::SetClockSource(nullptr); }
    kavex::test::ConfigDirectory directory;
};

TEST(DayKeyTest, IsTheUtcPlus8MidnightThatBeganYesterday) {
    // 2024-01-02 10:00 UTC is 18:00 on 2 January in UTC+8; yesterday there
    // began at 2023-12-31 16:00 UTC.
    EXPECT_EQ(DayKeyAt(kNewYear + 24 * kHour + 10 * kHour), kNewYear - 8 * kHour);
    // The key turns at 16:00 UTC, midnight in UTC+8.
    EXPECT_EQ(DayKeyAt(kNewYear + 24 * kHour + 16 * kHour - 1), kNewYear - 8 * kHour);
    EXPECT_EQ(DayKeyAt(kNewYear + 24 * kHour + 16 * kHour), kNewYear + 16 * kHour);
    // Regardless of the machine's time zone: the function takes UTC seconds.
    EXPECT_EQ(DayKeyAt(kNewYear), DayKeyAt(kNewYear + 15 * kHour));
    EXPECT_NE(DayKeyAt(kNewYear), DayKeyAt(kNewYear + 16 * kHour));
}

TEST_F(DailyCountTest, ANewDayStartsAtOneAndTheSameDayAdds) {
    g_now = kNewYear + 3 * kHour;
    CPortConfig config;
    config.m_pRecord->DailyCountDay = DayKeyAt(g_now) - 86400u;  // an older day
    config.m_pRecord->DailyCount = 50;
    EXPECT_EQ(config.GetDailyCount(), 0);
    EXPECT_EQ(config.AddDailyCount(5), 1);
    EXPECT_EQ(config.m_pRecord->DailyCountDay, DayKeyAt(g_now));
    EXPECT_EQ(config.GetDailyCount(), 1);  // 1, not 5
    EXPECT_EQ(config.AddDailyCount(5), 1);
    EXPECT_EQ(config.GetDailyCount(), 6);
    EXPECT_EQ(CPortConfig().GetDailyCount(), 6);  // saved

    g_now = kNewYear + 16 * kHour - 1;  // still the same UTC+8 day
    EXPECT_EQ(config.GetDailyCount(), 6);
    g_now = kNewYear + 16 * kHour;  // midnight in UTC+8
    EXPECT_EQ(config.GetDailyCount(), 0);
    EXPECT_EQ(config.AddDailyCount(3), 1);
    EXPECT_EQ(config.GetDailyCount(), 1);
}

TEST_F(DailyCountTest, AKeyFromTheFutureAlsoRestartsTheCount) {
    g_now = kNewYear + 3 * kHour;
    CPortConfig config;
    config.m_pRecord->DailyCountDay = DayKeyAt(g_now) + 86400u;  // the clock was set back
    config.m_pRecord->DailyCount = 9;
    EXPECT_EQ(config.GetDailyCount(), 0);
    EXPECT_EQ(config.AddDailyCount(5), 1);
    EXPECT_EQ(config.GetDailyCount(), 1);
}

TEST_F(DailyCountTest, UsesTheRealClockByDefault) {
    kavex::config::SetClockSource(nullptr);
    CPortConfig config;
    EXPECT_EQ(config.AddDailyCount(1), 1);
    // Unless this ran across 16:00 UTC, today's key is stored.
    EXPECT_GE(config.GetDailyCount(), 0);
    EXPECT_LE(config.GetDailyCount(), 1);
    EXPECT_NE(config.m_pRecord->DailyCountDay, 0u);
}

}  // namespace
