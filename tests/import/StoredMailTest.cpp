#include "import/StoredMail.h"

#include "model/cvSetup.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

class StoredMailTest : public ::testing::Test {
protected:
    void SetUp() override { setup.AddGroup(group); }
    TcvParser* addParser(TcvParserAction action, bool started, const std::string& subjectWords = "") {
        auto* parser = new TcvParser;
        parser->Action = action;
        parser->Started = started;
        parser->TriggerSubj = !subjectWords.empty();
        parser->TriggerSubjWords = subjectWords;
        group->AddParser(parser);
        return parser;
    }
    static std::string mail(const std::string& from, const std::string& subject) {
        return "From: " + from + "\r\nSubject: " + subject + "\r\n\r\nHello\r\n";
    }

    testsupport::ScopedRegistry registry;
    TcvSetup setup;
    TcvGroup* group = new TcvGroup;
};

TEST_F(StoredMailTest, OnlyStartedParsersAreOfferedTheMailAndTheFirstThatHandlesItEndsTheOffer) {
    addParser(TcvParserAction::Subscribe, false);
    addParser(TcvParserAction::Subscribe, true, "join");
    addParser(TcvParserAction::Subscribe, true, "hello");
    addParser(TcvParserAction::Subscribe, true);
    EXPECT_TRUE(ParseStoredMail(*group, mail("ann@example.com", "hello there")));
    ASSERT_EQ(group->ContactCount(), 1);
    EXPECT_EQ(group->Contacts(0)->Email, "ann@example.com");
}

TEST_F(StoredMailTest, WithoutAStartedParserOrTextNothingIsHandled) {
    addParser(TcvParserAction::Subscribe, false);
    EXPECT_FALSE(ParseStoredMail(*group, mail("ann@example.com", "hi")));
    addParser(TcvParserAction::Subscribe, true);
    EXPECT_FALSE(ParseStoredMail(*group, ""));
    EXPECT_EQ(group->ContactCount(), 0);
}

TEST_F(StoredMailTest, ABrokenMailIsOfferedAsFarAsItWasRead) {
    addParser(TcvParserAction::Subscribe, true);
    EXPECT_TRUE(ParseStoredMail(*group, "From: bob@example.com\r\nContent-Type: multipart/mixed; boundary=\"x\r\n\r\n--x\r\n"));
    EXPECT_EQ(group->ContactCount(), 1);
    // A lone dot line in a stored mail ends it, as on the wire, and the rest is not read.
    EXPECT_TRUE(ParseStoredMail(*group, "From: cy@example.com\r\n\r\n.\r\nFrom: dan@example.com\r\n"));
    EXPECT_NE(group->FindContact("cy@example.com"), nullptr);
}

TEST_F(StoredMailTest, AParserActionThatDeletesTheGroupEndsTheOffer) {
    addParser(TcvParserAction::Subscribe, true, "never");
    addParser(TcvParserAction::Subscribe, true);
    int actions = 0;
    setup.OnParserAction = [&](TcvParser*, TcvContact*, TcvGroup*, int) {
        ++actions;
        setup.DeleteGroup(0);
    };
    ParseStoredMail(*group, mail("ann@example.com", "x"));
    EXPECT_EQ(actions, 1);
    EXPECT_EQ(setup.GroupCount(), 0);
}

}  // namespace
