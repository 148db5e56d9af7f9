#include "platform/Clock.h"
#include "platform/DateTime.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(DateTime, EpochAndKnownDays) {
    EXPECT_DOUBLE_EQ(encodeDate(1899, 12, 30), 0);
    EXPECT_DOUBLE_EQ(encodeDate(1900, 1, 1), 2);
    EXPECT_DOUBLE_EQ(encodeDate(2000, 1, 1), 36526);
    EXPECT_DOUBLE_EQ(encodeDate(1899, 12, 29), -1);
    EXPECT_THROW(encodeDate(2023, 2, 29), std::invalid_argument);
    EXPECT_NO_THROW(encodeDate(2024, 2, 29));
}

TEST(DateTime, DecodeRoundTripsAcrossCenturiesAndTimes) {
    for (int y : {1601, 1899, 1900, 1999, 2000, 2024, 2100, 9999}) {
        for (int m : {1, 2, 12}) {
            const double dt = encodeDateTime(y, m, daysInMonth(y, m), 23, 59, 58, 999);
            const DateParts p = decodeDateTime(dt);
            EXPECT_EQ(p.year, y);
            EXPECT_EQ(p.month, m);
            EXPECT_EQ(p.day, daysInMonth(y, m));
            EXPECT_EQ(p.hour, 23);
            EXPECT_EQ(p.minute, 59);
            EXPECT_EQ(p.second, 58);
            EXPECT_EQ(p.msec, 999);
        }
    }
}

TEST(DateTime, NegativeValuesKeepTheTimeOfDayForwards) {
    // -1.25 is 29 December 1899, 06:00.
    const DateParts p = decodeDateTime(-1.25);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 6);
    EXPECT_DOUBLE_EQ(encodeDateTime(1899, 12, 29, 6), -1.25);
}

TEST(DateTime, DayOfWeekAndDateOf) {
    EXPECT_EQ(dayOfWeek(encodeDate(1899, 12, 30)), 7);  // Saturday
    EXPECT_EQ(dayOfWeek(encodeDate(2026, 12, 9)), 4);   // Wednesday
    EXPECT_EQ(dayOfWeek(encodeDate(1899, 12, 24)), 1);  // Sunday, before the epoch
    EXPECT_EQ(dateOf(encodeDateTime(2026, 12, 9, 23, 59)), static_cast<int32_t>(encodeDate(2026, 12, 9)));
}

TEST(Clock, ManualClockIsInstalledAndWraps) {
    ManualClock manual(encodeDate(2026, 1, 1), 0xFFFFFFF0u);
    {
        ScopedClock guard(manual);
        manual.advanceMs(0x20);
        EXPECT_EQ(tickCount(), 0x10u);
        EXPECT_NEAR(now(), encodeDate(2026, 1, 1) + 0x20 / MSecsPerDay, 1e-12);
    }
    // Back on the system clock: a date well after the epoch.
    EXPECT_GT(now(), encodeDate(2020, 1, 1));
}
