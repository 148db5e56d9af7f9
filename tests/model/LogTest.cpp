#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Locale.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

class ActivityLog : public ::testing::Test {
protected:
    void SetUp() override {
        options::ResetToDefaults();
        platform::setSeparators('/', ':');
        path = dir.file("mailerdeamon.log");
    }
    void TearDown() override {
        options::ResetToDefaults();
        platform::setSeparators('\0', '\0');
        SetLogFilePath("");
    }
    testsupport::TempDir dir;
    std::string path;
    platform::ManualClock clock{platform::encodeDateTime(2026, 3, 4, 5, 6, 7)};
    platform::ScopedClock guard{clock};
};

}  // namespace

TEST_F(ActivityLog, LinesCarryTheLocaleTimeStamp) {
    AppendLogLine(path, "first");
    platform::setSeparators('.', '-');
    AppendLogLine(path, "second");
    EXPECT_EQ(testsupport::readFile(path), "2026/03/04 05:06:07 first\r\n2026.03.04 05-06-07 second\r\n");
    AppendLogLine("", "nowhere");  // empty path: nothing, no error
    AppendLogLine(dir.file("missing/folder/log"), "lost");  // errors are swallowed
    EXPECT_FALSE(testsupport::fileExists(dir.file("missing/folder/log")));
}

TEST_F(ActivityLog, TrimsFromTheTopPastTheLimitOnlyWhenLimited) {
    options::LogMaxSize = 10;  // 10240 bytes
    const std::string text(80, 'x');  // 20 + 80 + 2 = 102 bytes a line
    for (int i = 0; i < 110; ++i) AppendLogLine(path, text);
    // 110 lines = 11220 bytes, still below 1.1 x 10240 = 11264.
    EXPECT_EQ(testsupport::readFile(path).size(), 11220u);
    AppendLogLine(path, text);
    const size_t trimmed = testsupport::readFile(path).size();
    EXPECT_LT(trimmed, 9216u);
    EXPECT_GE(trimmed + 102, 9216u);  // no more removed than needed
    const std::string content = testsupport::readFile(path);
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");

    options::LogLimitSize = false;
    for (int i = 0; i < 60; ++i) AppendLogLine(path, text);
    EXPECT_EQ(testsupport::readFile(path).size(), trimmed + 60 * 102);
}

TEST_F(ActivityLog, DeletingAContactLogsItEvenWithMailerLoggingOff) {
    options::LogMailerActivity = false;
    TcvGroup g;
    g.Code = "NEW";
    auto* c = new TcvContact;
    c->Email = "ann@example.com";
    g.AddContact(c);
    auto* c2 = new TcvContact;
    c2->Email = "bob@example.com";
    g.AddContact(c2);
    g.DeleteContact(0);  // no log path yet: no line, no error
    EXPECT_FALSE(testsupport::fileExists(path));
    SetLogFilePath(path);
    EXPECT_EQ(g.RemoveContact(c2), 0);
    EXPECT_EQ(testsupport::readFile(path), "2026/03/04 05:06:07 Delete NEW --- ----- bob@example.com\r\n");
    EXPECT_EQ(g.ContactCount(), 0);
    EXPECT_EQ(g.RemoveContact(c2), -1);
}
