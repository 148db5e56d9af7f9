#include "mailtext/HtmlHelpers.h"

#include "platform/Clock.h"
#include "platform/DateTime.h"

#include <gtest/gtest.h>

using namespace mailtext;
using platform::encodeDate;
using platform::encodeDateTime;

TEST(DatePhrases, RelativeDateAndDateTextAgainstToday) {
    platform::ManualClock clock(encodeDateTime(2024, 6, 20, 15, 30));
    platform::ScopedClock scoped(clock);
    const std::pair<double, const char*> cases[] = {
        {encodeDateTime(2024, 6, 20, 8, 0), "today"},
        {encodeDate(2025, 1, 1), "today"},
        {encodeDate(2024, 6, 19), "1 day ago"},
        {encodeDate(2024, 6, 10), "10 days ago"},
        {encodeDate(2024, 6, 9), "1 week ago"},
        {encodeDate(2024, 6, 7), "1 week ago"},
        {encodeDate(2024, 6, 6), "2 weeks ago"},
        {encodeDate(2024, 5, 9), "1 month ago"},   // counted as 41 days
        {encodeDate(2024, 4, 21), "1 month ago"},  // 59
        {encodeDate(2024, 4, 20), "2 months ago"},
        {encodeDate(2023, 6, 20), "12 months ago"},
        {encodeDate(2023, 6, 19), "1 year ago"},
        {encodeDate(2022, 6, 20), "2 years ago"},
    };
    for (const auto& [date, text] : cases) EXPECT_EQ(RelativeDate(date), text) << text;

    EXPECT_EQ(DateText(encodeDateTime(2024, 3, 5, 23, 59)), "5 March");
    EXPECT_EQ(DateText(encodeDate(2019, 3, 5)), "5 March 2019");
    EXPECT_EQ(DateText(encodeDate(2025, 12, 31)), "31 December 2025");

    // A month counts 30 days: 31 December to 2 January reads as six days.
    clock.setNow(encodeDate(2024, 1, 2));
    EXPECT_EQ(RelativeDate(encodeDate(2023, 12, 31)), "6 days ago");
}

TEST(DatePhrases, DayNameOfEveryWeekday) {
    const char* names[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday",
                           "Saturday"};
    for (int i = 0; i < 7; ++i)  // 16 June 2024 was a Sunday
        EXPECT_EQ(DayName(encodeDateTime(2024, 6, 16 + i, 18, 0)), names[i]);
}
