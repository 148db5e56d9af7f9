#include "mailtext/IdMessageHelpers.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/DateTime.h"
#include "platform/Locale.h"
#include "tests/support/ImportVarsReference.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::unique_ptr<mailtext::Mail> mail(const std::string& from, const std::string& subject, const std::string& body,
                                     const std::string& date = "Tue, 1 Jul 2003 10:52:37 +0000") {
    return mailtext::MessageFromText("From: " + from + "\r\nSubject: " + subject + "\r\nDate: " + date +
                                     "\r\n\r\n" + body + "\r\n");
}

struct ParserFixture : ::testing::Test {
    ParserFixture() {
        options::ResetToDefaults();
        group = new TcvGroup;
        setup.AddGroup(group);
        group->SetName("List");
        parser = new TcvParser;
        group->AddParser(parser);
        setup.OnParserAction = [this](TcvParser*, TcvContact* c, TcvGroup* g, int code) {
            events.push_back(g->Code + ":" + std::to_string(code) + ":" + (c ? c->Email : ""));
        };
    }
    ~ParserFixture() override { options::ResetToDefaults(); }
    TcvContact* addContact(TcvGroup* g, const std::string& email) {
        auto* c = new TcvContact;
        c->Email = email;
        g->AddContact(c);
        return c;
    }
    void addField(const std::string& title) {
        auto* f = new TcvFieldDef;
        f->Title = title;
        group->AddFieldDef(f);
    }
    TcvSetup setup;
    TcvGroup* group;
    TcvParser* parser;
    std::vector<std::string> events;
};

}  // namespace

TEST(ParserText, WordMatchIsASubstringTestOnLowerCase) {
    EXPECT_TRUE(TcvParser::WordMatch("Please UNSUBSCRIBE me", "remove;unsubscribe"));
    EXPECT_FALSE(TcvParser::WordMatch("Hello", "remove;unsubscribe"));
    EXPECT_FALSE(TcvParser::WordMatch("unsubscribe", " unsubscribe"));
    EXPECT_TRUE(TcvParser::WordMatch("removed", "REMOVE"));
    EXPECT_FALSE(TcvParser::WordMatch("anything", ""));
    EXPECT_FALSE(TcvParser::WordMatch("anything", ";;"));
}

TEST(ParserText, ImportVarsJoinValuesOnTheNextLine) {
    TStringList vars;
    TcvParser::ParseImportVars("Hello\r\n  Name = John Smith  \r\n\r\nemail=\nann@example.com\rnote=a=b\n", vars);
    EXPECT_EQ(vars, (TStringList{"name=John Smith", "email=ann@example.com", "note=a=b"}));
    TcvParser::ParseImportVars("", vars);
    EXPECT_TRUE(vars.empty());
    // A value line holding "=" is not joined; the bare name stays with an empty value.
    TcvParser::ParseImportVars("Code=\nx=1", vars);
    EXPECT_EQ(vars, (TStringList{"code=", "x=1"}));
}

TEST(ParserText, ImportVarsAgreeWithTheStepByStepRulesOnVariedBodies) {
    // Pieces chosen to hit every rule: names ending in "=", chains of them, values with "=",
    // blank and control characters around lines, every kind of line break, empty lines.
    const std::vector<std::string> pieces = {"Name", "=", "==", " ", "\t", "\x01", "\r", "\n", "\r\n",
                                             "\n\n", "Email=", "x@y.org", "A = b", "ZZ", "\xE9", "=v"};
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        std::string body;
        const int n = static_cast<int>(random() % 24);
        for (int i = 0; i < n; ++i) body += pieces[random() % pieces.size()];
        TStringList vars;
        TcvParser::ParseImportVars(body, vars);
        ASSERT_EQ(vars, testsupport::stepByStepImportVars(body)) << "body: " << body;
    }
}

TEST_F(ParserFixture, SubscribeAddsAContactPerMailWithImportedNames) {
    addField("Company");
    parser->ImportVars = true;
    const auto m = mail("Ann <ann@example.com>", "join", "firstname=jOHN\r\nCompany = ACME\r\nFirstName=x");
    EXPECT_TRUE(parser->ParseMessage(m.get()));
    EXPECT_TRUE(parser->ParseMessage(m.get()));
    ASSERT_EQ(group->ContactCount(), 2);
    TcvContact* c = group->Contacts(0);
    EXPECT_EQ(c->Email, "ann@example.com");
    EXPECT_EQ(c->FirstName, "John");
    EXPECT_EQ(c->CustomField(0), "ACME");
    int y, mo, d;
    platform::decodeDate(c->Joined, y, mo, d);
    EXPECT_EQ(y, 2003);
    EXPECT_EQ(events, (std::vector<std::string>{"LIS:0:ann@example.com", "LIS:0:ann@example.com"}));
}

TEST_F(ParserFixture, SubscribeReadsJoinedInTheLocaleFormatOrFails) {
    parser->ImportVars = true;
    platform::setDateOrder("dmy");
    const auto ok = mail("a@x.com", "s", "joined=31/12/2025 13:05");
    EXPECT_TRUE(parser->ParseMessage(ok.get()));
    EXPECT_DOUBLE_EQ(group->Contacts(0)->Joined, platform::encodeDateTime(2025, 12, 31, 13, 5));
    const auto bad = mail("b@x.com", "s", "joined=next week");
    EXPECT_THROW(parser->ParseMessage(bad.get()), std::invalid_argument);
    EXPECT_EQ(group->ContactCount(), 2);  // the contact added before the error stays
    platform::setDateOrder("");
}

TEST_F(ParserFixture, TriggersAndContactSources) {
    parser->TriggerSubj = true;
    parser->TriggerSubjWords = "subscribe";
    EXPECT_FALSE(parser->ParseMessage(mail("a@x.com", "Hello", "").get()));
    parser->TriggerBody = true;
    parser->TriggerBodyWords = "yes";
    // Both tests on: both must pass.
    EXPECT_FALSE(parser->ParseMessage(mail("a@x.com", "subscribe", "no").get()));
    EXPECT_FALSE(parser->ParseMessage(mail("a@x.com", "hi", "yes").get()));
    EXPECT_TRUE(parser->ParseMessage(mail("a@x.com", "subscribe", "yes").get()));
    parser->TriggerSubj = parser->TriggerBody = false;
    parser->ContactSource = TcvContactSource::EmailVar;
    EXPECT_TRUE(parser->ParseMessage(mail("a@x.com", "s", "EMAIL = var@x.com").get()));
    EXPECT_FALSE(parser->ParseMessage(mail("a@x.com", "s", "no variables").get()));
    EXPECT_EQ(group->FindContact("var@x.com") != nullptr, true);
    EXPECT_EQ(parser->ParseMessage(nullptr), false);
}

TEST_F(ParserFixture, AnyEmailBounceTriesBodyAddressesAlphabetically) {
    TcvContact* b = addContact(group, "b@x.com");
    TcvContact* c = addContact(group, "c@x.com");
    parser->Action = TcvParserAction::Bounce;
    parser->ContactSource = TcvContactSource::AnyEmail;
    EXPECT_TRUE(parser->ParseMessage(mail("daemon@mx.org", "failure", "to C@x.com and b@x.com failed").get()));
    EXPECT_EQ(b->Bounces, 1);
    EXPECT_EQ(c->Bounces, 0);
    // Nothing in the body: the whole mail (headers too) is searched.
    EXPECT_TRUE(parser->ParseMessage(mail("c@x.com", "failure", "no address here").get()));
    EXPECT_EQ(c->Bounces, 1);
    EXPECT_FALSE(parser->ParseMessage(mail("z@z.org", "failure", "y@y.org").get()));
}

TEST_F(ParserFixture, DeleteFreezeAndUnknownAddresses) {
    addContact(group, "a@x.com");
    TcvContact* frozen = addContact(group, "f@x.com");
    parser->Action = TcvParserAction::Delete;
    EXPECT_TRUE(parser->ApplyAction("nobody@x.com"));  // counts as handled
    EXPECT_FALSE(parser->ApplyAction(""));
    EXPECT_TRUE(parser->ApplyAction("A@X.COM"));
    EXPECT_EQ(group->ContactCount(), 1);
    parser->Action = TcvParserAction::Freeze;
    setup.Modified = false;
    EXPECT_TRUE(parser->ApplyAction("f@x.com"));
    EXPECT_TRUE(frozen->Frozen);
    EXPECT_FALSE(setup.Modified);
    EXPECT_FALSE(parser->ApplyAction("nobody@x.com"));
    parser->Action = TcvParserAction::UserAction2;
    EXPECT_FALSE(parser->ApplyAction("f@x.com"));
    EXPECT_EQ(events, (std::vector<std::string>{"LIS:2:a@x.com", "LIS:5:f@x.com"}));
}

TEST_F(ParserFixture, UnsubscribeAllReachesEveryGroup) {
    options::KeepUnsubscribed = true;
    auto* second = new TcvGroup;
    setup.AddGroup(second);
    second->SetName("Second");
    auto* third = new TcvGroup;
    setup.AddGroup(third);
    third->SetName("Third");
    addContact(group, "u@x.com");
    addContact(second, "u@x.com");
    addContact(third, "u@x.com");
    parser->Action = TcvParserAction::UnsubscribeAll;
    EXPECT_TRUE(parser->ApplyAction("u@x.com"));
    EXPECT_EQ(events.size(), 3u);
    EXPECT_TRUE(second->Contacts(0)->Unsubscribed);
    // Not in the parser's own group: not handled, although another group changed.
    options::KeepUnsubscribed = false;
    addContact(second, "v@x.com");
    EXPECT_FALSE(parser->ApplyAction("v@x.com"));
    EXPECT_EQ(second->FindContact("v@x.com"), nullptr);
}

TEST_F(ParserFixture, MissingPreprocessorFallsBackToTheBody) {
    parser->Preprocessor = "/nonexistent/libnothing.so";
    parser->ContactSource = TcvContactSource::EmailVar;
    EXPECT_FALSE(parser->HasPreprocessor());
    EXPECT_TRUE(parser->ParseMessage(mail("a@x.com", "s", "email=body@x.com").get()));
    EXPECT_NE(group->FindContact("body@x.com"), nullptr);
}

namespace {

// A standard report about a mail the list sent to failedTo; action and status per recipient.
std::unique_ptr<mailtext::Mail> deliveryReport(const std::vector<std::pair<std::string, std::string>>& recipients,
                                               const std::string& returnedTo = "gone@x.com") {
    std::string text =
        "From: Mail Delivery System <MAILER-DAEMON@mx.x.com>\r\nTo: list@lists.org\r\n"
        "Subject: Undelivered Mail Returned to Sender\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/report; report-type=delivery-status; boundary=\"R\"\r\n\r\n"
        "--R\r\nContent-Type: text/plain\r\n\r\nFailed; see also other@x.com and list@lists.org\r\n"
        "--R\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx.x.com\r\n";
    for (const auto& [address, status] : recipients)
        text += "\r\nFinal-Recipient: rfc822; " + address + "\r\nAction: " +
                (status[0] == '5' ? "failed" : "delayed") + "\r\nStatus: " + status + "\r\n";
    text += "--R\r\nContent-Type: message/rfc822\r\n\r\nFrom: List <list@lists.org>\r\nTo: " + returnedTo +
            "\r\nCc: other@x.com\r\nSubject: News\r\n\r\nWrite to list@lists.org\r\n--R--\r\n";
    return mailtext::MessageFromText(text);
}

}  // namespace

TEST_F(ParserFixture, DeliveryReportBouncesEachFailedRecipientOnly) {
    auto* account = new TcvAccount;
    account->Sender = "list@lists.org";
    account->ReplyTo = "owner@lists.org";
    setup.AddAccount(account);
    group->Account = account;
    TcvContact* gone = addContact(group, "gone@x.com");
    TcvContact* also = addContact(group, "also@x.com");
    TcvContact* other = addContact(group, "other@x.com");
    TcvContact* list = addContact(group, "list@lists.org");
    TcvContact* owner = addContact(group, "owner@lists.org");
    parser->Action = TcvParserAction::Bounce;
    parser->ContactSource = TcvContactSource::DeliveryReport;
    // The group's own addresses never count, even when a report names them.
    EXPECT_TRUE(parser->ParseMessage(
        deliveryReport({{"Gone@X.com", "5.1.1"}, {"also@x.com", "5.2.2"}, {"owner@lists.org", "5.1.1"}}).get()));
    EXPECT_EQ(gone->Bounces, 1);
    EXPECT_EQ(also->Bounces, 1);
    EXPECT_EQ(other->Bounces, 0);
    EXPECT_EQ(list->Bounces, 0);
    EXPECT_EQ(owner->Bounces, 0);
    // In the report's order.
    EXPECT_EQ(events, (std::vector<std::string>{"LIS:1:gone@x.com", "LIS:1:also@x.com"}));

    // A delay counts only when the parser counts temporary failures.
    EXPECT_FALSE(parser->ParseMessage(deliveryReport({{"gone@x.com", "4.2.2"}}).get()));
    EXPECT_EQ(gone->Bounces, 1);
    parser->CountTemporary = true;
    EXPECT_TRUE(parser->ParseMessage(deliveryReport({{"gone@x.com", "4.2.2"}}).get()));
    EXPECT_EQ(gone->Bounces, 2);

    // Not a bounce: not handled, whatever addresses it holds, so the next parser gets it.
    EXPECT_FALSE(parser->ParseMessage(mail("other@x.com", "Out of office", "Ask gone@x.com instead").get()));
    // A failed recipient that is no contact is not handled by a bounce.
    EXPECT_FALSE(parser->ParseMessage(deliveryReport({{"stranger@x.com", "5.1.1"}}).get()));
    EXPECT_EQ(other->Bounces, 0);
}

TEST_F(ParserFixture, DeliveryReportActsOnTheContactARecipientStandsFor) {
    addContact(group, "john@old.org");
    addContact(group, "userx@cs.yale.edu");
    parser->Action = TcvParserAction::Delete;
    parser->ContactSource = TcvContactSource::DeliveryReport;
    // Rewritten on the way: the report's original recipient is the contact.
    const std::string rewritten =
        "From: MAILER-DAEMON@mx.new.org\r\nTo: list@lists.org\r\nSubject: failure notice\r\n\r\n"
        "The following address(es) failed:\r\n\r\n  john.b@new.org\r\n    (generated from john@old.org)\r\n";
    // A server naming the mailbox alone, meaning one of its own domain.
    const std::string bareName =
        "From: MAILER-DAEMON@mr2.its.yale.edu\r\nTo: list@lists.org\r\nSubject: Returned mail\r\n\r\n"
        " --------Message not delivered to the following:\r\n\r\n userx    No matches to nameserver query\r\n";
    EXPECT_TRUE(parser->ParseMessage(mailtext::MessageFromText(rewritten).get()));
    EXPECT_TRUE(parser->ParseMessage(mailtext::MessageFromText(bareName).get()));
    EXPECT_EQ(group->ContactCount(), 0);
    EXPECT_EQ(events, (std::vector<std::string>{"LIS:2:john@old.org", "LIS:2:userx@cs.yale.edu"}));
}
