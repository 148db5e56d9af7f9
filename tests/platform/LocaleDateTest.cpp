#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Locale.h"
#include "platform/UiHooks.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {
struct DateOrderGuard {
    explicit DateOrderGuard(const std::string& order) { setDateOrder(order); }
    ~DateOrderGuard() {
        setDateOrder("");
        setSeparators('\0', '\0');
    }
};
}  // namespace

TEST(LocaleDate, ReadsTheUsersDateOrderWithOptionalTime) {
    ManualClock clock(encodeDate(2026, 12, 9));
    ScopedClock guard(clock);
    DateOrderGuard order("dmy");
    double v = 0;
    ASSERT_TRUE(parseDateTime("31/12/2025", v));
    EXPECT_DOUBLE_EQ(v, encodeDate(2025, 12, 31));
    ASSERT_TRUE(parseDateTime(" 1.2.2024 7:05:09 ", v));
    EXPECT_DOUBLE_EQ(v, encodeDateTime(2024, 2, 1, 7, 5, 9));
    ASSERT_TRUE(parseDateTime("3/4", v));  // this year
    EXPECT_DOUBLE_EQ(v, encodeDate(2026, 4, 3));
    ASSERT_TRUE(parseDateTime("3/4/80", v));  // two digits: within fifty years of today
    EXPECT_DOUBLE_EQ(v, encodeDate(1980, 4, 3));
    ASSERT_TRUE(parseDateTime("3/4/30 1:00 PM", v));
    EXPECT_DOUBLE_EQ(v, encodeDateTime(2030, 4, 3, 13));
    setDateOrder("ymd");
    ASSERT_TRUE(parseDateTime("2025-12-31", v));
    EXPECT_DOUBLE_EQ(v, encodeDate(2025, 12, 31));
    for (const char* bad : {"", "next week", "31/02/2025", "12", "1/2/2025 25:00", "1/2/2025 10:00 xyz", "1//2"})
        EXPECT_FALSE(parseDateTime(bad, v)) << bad;
}

TEST(UiHooks, HeadlessRecordsMessagesAndAcceptsQuestions) {
    recordedMessages().clear();
    showMessage("hello");
    EXPECT_TRUE(confirmOkCancel("sure?"));
    processEvents();
    EXPECT_EQ(recordedMessages(), std::vector<std::string>{"hello"});
    std::vector<std::string> shown;
    UiHooks previous = setUiHooks(UiHooks{[&](const std::string& t) { shown.push_back(t); },
                                          [](const std::string&) { return false; }, nullptr});
    showMessage("to the window");
    EXPECT_FALSE(confirmOkCancel("sure?"));
    setUiHooks(previous);
    EXPECT_EQ(shown, std::vector<std::string>{"to the window"});
    EXPECT_EQ(recordedMessages().size(), 1u);
}
