#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/DateTime.h"
#include "tests/support/TestSupport.h"
#include "daemon/cvLogReplay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class LogReplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        options::ResetToDefaults();
        SetLogFilePath(dir.file("current.log"));
        group = new TcvGroup;
        group->Code = "NEW";
        setup.AddGroup(group);
        for (const char* email : {"ann@example.com", "bob@example.com", "cy@example.org"}) {
            auto* c = new TcvContact;
            c->Email = email;
            group->AddContact(c);
        }
        message = new TcvMessage;
        message->Code = "WEL";
        group->AddMessage(message);
        replay.OnAskJoin = [this] {
            ++joinQuestions;
            return agreeToJoin;
        };
        replay.OnStatus = [this](const std::string& s) { statuses.push_back(s); };
    }
    void TearDown() override { SetLogFilePath(""); }

    testsupport::TempDir dir;
    TcvSetup setup;
    TcvGroup* group = nullptr;
    TcvMessage* message = nullptr;
    TcvLogReplay replay{setup};
    int joinQuestions = 0;
    bool agreeToJoin = true;
    std::vector<std::string> statuses;
};

const std::vector<std::string> Log = {
    "2024/03/05 14:07:09 Mailed new wel 00312 ANN@example.com",
    "2024/03/05 14:07:10 Error! NEW WEL Connection refused",
    "2024/03/05 14:08:00 Unsbsc NEW --- ----- bob@example.com",
    "2024/03/05 14:09:00 Joined NEW --- ----- dee@example.net",
    "2024/03/05 14:09:30 Bounce NEW --- ----- cy@example.org",
    "2024/03/05 14:10:00 Delete NEW --- ----- cy@example.org",
    "",
};

}  // namespace

TEST(LogLines, MailedSizeHasAtLeastFiveDigits) {
    EXPECT_EQ(MailedLogText("NEW", "WEL", 312, "a@b.com"), "Mailed NEW WEL 00312 a@b.com");
    EXPECT_EQ(MailedLogText("NEW", "WEL", 123456, "a@b.com"), "Mailed NEW WEL 123456 a@b.com");
}

TEST(LogLines, ParserEventWordsByActionNumber) {
    EXPECT_EQ(ParserEventLogText(0, "NEW", "a@b.com"), "Joined NEW --- ----- a@b.com");
    EXPECT_STREQ(ParserEventWord(1), "Bounce");
    EXPECT_STREQ(ParserEventWord(2), "Unsbsc");
    EXPECT_STREQ(ParserEventWord(5), "Freeze");
    EXPECT_STREQ(ParserEventWord(3), "Parsed");
    EXPECT_STREQ(ParserEventWord(8), "Parsed");
}

TEST(LogLines, FieldsAndTimeStampAreReadFromFixedPositions) {
    const auto fields = LogLineFields("2024/03/05 14:07:09 Mailed NEW");
    ASSERT_EQ(fields.size(), 7u);
    EXPECT_EQ(fields[2], "Mailed");
    EXPECT_EQ(fields[6], "");
    EXPECT_DOUBLE_EQ(LogLineDateTime("2024/03/05", "14:07:09"), platform::encodeDateTime(2024, 3, 5, 14, 7, 9));
    // Locale separators do not matter: only the digit positions are read.
    EXPECT_DOUBLE_EQ(LogLineDateTime("2024-03-05", "14.07.09"), platform::encodeDateTime(2024, 3, 5, 14, 7, 9));
    EXPECT_EQ(LogLineDateTime("2024/02/30", "14:07:09"), 0);
    EXPECT_EQ(LogLineDateTime("2024/03/05", "1x:07:09"), 0);
    EXPECT_EQ(LogLineDateTime("", ""), 0);
}

TEST_F(LogReplayTest, MailedUnsubscribedDeletedAndJoinedLinesAreApplied) {
    EXPECT_EQ(replay.ApplyLines(Log), 4);
    TcvContact* ann = group->FindContact("ann@example.com");
    ASSERT_NE(ann, nullptr);
    const TcvHist* hist = ann->FindHistory("WEL");
    ASSERT_NE(hist, nullptr);
    EXPECT_EQ(hist->Date, platform::dateOf(platform::encodeDate(2024, 3, 5)));
    EXPECT_EQ(group->FindContact("bob@example.com"), nullptr);
    EXPECT_EQ(group->FindContact("cy@example.org"), nullptr);
    TcvContact* dee = group->FindContact("dee@example.net");
    ASSERT_NE(dee, nullptr);
    EXPECT_DOUBLE_EQ(dee->Joined, platform::encodeDateTime(2024, 3, 5, 14, 9, 0));
    EXPECT_EQ(joinQuestions, 1);
    EXPECT_EQ(statuses, (std::vector<std::string>{"Adding code WEL to history of contact ann@example.com",
                                                   "Deleting contact bob@example.com",
                                                   "Adding contact dee@example.net",
                                                   "Deleting contact cy@example.org"}));
    // Deleting a contact writes its own line to the current log.
    EXPECT_NE(testsupport::readFile(dir.file("current.log")).find("Delete NEW --- ----- bob@example.com"),
              std::string::npos);
}

TEST_F(LogReplayTest, ReplayingTwiceAddsNothingTwiceButStillCountsTheMailedEntries) {
    replay.ApplyLines(Log);
    TcvLogReplay again(setup);
    again.OnAskJoin = [] { return true; };
    EXPECT_EQ(again.ApplyLines(Log), 1);  // the mailed line, already in the history
    EXPECT_EQ(group->ContactCount(), 2);
    EXPECT_EQ(group->FindContact("ann@example.com")->HistoryCount(), 1);
}

TEST_F(LogReplayTest, JoinsAreAskedOnceAndRefusedUnlessAgreed) {
    agreeToJoin = false;
    const std::vector<std::string> joins = {
        "2024/03/05 14:09:00 Joined NEW --- ----- dee@example.net",
        "2024/03/05 14:09:01 Joined NEW --- ----- eve@example.net",
    };
    EXPECT_EQ(replay.ApplyLines(joins), 0);
    EXPECT_EQ(joinQuestions, 1);
    EXPECT_EQ(group->ContactCount(), 3);
}

TEST_F(LogReplayTest, UnsubscribedLineDeletesEvenWhenUnsubscribedContactsAreKept) {
    options::KeepUnsubscribed = true;
    EXPECT_TRUE(replay.ApplyLine("2024/03/05 14:08:00 Unsbsc NEW --- ----- bob@example.com"));
    EXPECT_EQ(group->FindContact("bob@example.com"), nullptr);
}

TEST_F(LogReplayTest, LinesNamingOnlyUnknownGroupsOrMissingObjectsApplyNothing) {
    const std::vector<std::string> unknown = {
        "2024/03/05 14:07:09 Mailed OLD WEL 00312 ann@example.com",
        "2024/03/05 14:08:00 Unsbsc XYZ --- ----- bob@example.com",
        "2024/03/05 14:09:00 Joined OLD --- ----- dee@example.net",
        "2024/03/05 14:07:09 Mailed NEW BYE 00312 ann@example.com",
        "2024/03/05 14:08:00 Delete NEW --- ----- nobody@example.com",
        "garbage",
    };
    EXPECT_EQ(replay.ApplyLines(unknown), 0);
    EXPECT_EQ(joinQuestions, 0);
    EXPECT_EQ(group->ContactCount(), 3);
    EXPECT_EQ(group->FindContact("ann@example.com")->HistoryCount(), 0);
}

TEST_F(LogReplayTest, LinesWithUnreadableTimeStampsAreAppliedWithDateZero) {
    EXPECT_TRUE(replay.ApplyLine("yesterday noon Mailed NEW WEL 00312 ann@example.com"));
    ASSERT_NE(group->FindContact("ann@example.com")->FindHistory("WEL"), nullptr);
    EXPECT_EQ(group->FindContact("ann@example.com")->FindHistory("WEL")->Date, 0);
}

TEST_F(LogReplayTest, FileLinesEndWithCrLfOrLf) {
    testsupport::writeFile(dir.file("old.log"), "a b\r\nc d\ne f\r\n");
    EXPECT_EQ(TcvLogReplay::ReadLines(dir.file("old.log")), (std::vector<std::string>{"a b", "c d", "e f"}));
    EXPECT_THROW(TcvLogReplay::ReadLines(dir.file("missing.log")), std::runtime_error);
}
