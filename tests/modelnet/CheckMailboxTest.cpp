#include "mailtext/IdMessageHelpers.h"
#include "mailtext/MailErrors.h"
#include "mailtext/Pop3Client.h"
#include "mailtext/SmtpClient.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/Clock.h"
#include "platform/UiHooks.h"
#include "tests/mailnet/FaultServer.h"
#include "tests/mailnet/MailServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// Each test owns its mailbox, so the tests may run in parallel with the other net tests.
class Mailbox : public ::testing::Test {
protected:
    void SetUp() override {
        options::ResetToDefaults();
        const auto loaded = mailnet::MailServers::load();
        if (!loaded) GTEST_SKIP() << "CORVANE_MAILSERVERS is not set: run through ctest";
        servers = *loaded;
        account = new TcvAccount;
        account->ServerName = "127.0.0.1";
        account->PortPop3 = servers.Pop3Port;
        account->Password = servers.MailboxPassword;
        setup.AddAccount(account);
        group = new TcvGroup;
        setup.AddGroup(group);
        group->SetName("Subscribers");
        group->Account = account;
        parser = addParser();
    }
    TcvParser* addParser() {
        auto* p = new TcvParser;
        group->AddParser(p);
        p->Account = account;
        p->Started = true;
        return p;
    }
    void useMailbox(const std::string& user) {
        account->UserName = user;
        mailtext::Pop3Client pop(Pop3SettingsOf(*account));
        pop.connect();
        for (int n = pop.messageCount(); n > 0; --n) pop.deleteMessage(n);
        pop.quit();
    }
    // Sends a mail as a subscriber would, through the real SMTP server.
    void deliver(const std::string& from, const std::string& subject, const std::string& body) {
        mailnet::Deliver(servers, account->UserName + "@example.com", from, subject, body);
    }
    int left() {
        mailtext::Pop3Client pop(Pop3SettingsOf(*account));
        pop.connect();
        const int n = pop.messageCount();
        pop.quit();
        return n;
    }

    mailnet::MailServers servers;
    TcvSetup setup;
    TcvAccount* account = nullptr;
    TcvGroup* group = nullptr;
    TcvParser* parser = nullptr;
};

}  // namespace

TEST_F(Mailbox, SubscriptionsBecomeContactsAndOnlyHandledMailsLeave) {
    useMailbox("user7");
    parser->TriggerSubj = true;
    parser->TriggerSubjWords = "subscribe";
    parser->ImportVars = true;
    auto* field = new TcvFieldDef;
    field->Title = "Company";
    group->AddFieldDef(field);
    deliver("Ann <ann@example.org>", "Subscribe me", "firstname=ANN\r\ncompany = ACME");
    deliver("Ann <ann@example.org>", "subscribe", "again");
    deliver("bob@example.org", "Hello there", "not for the parser");
    int events = 0;
    setup.OnParserAction = [&](TcvParser*, TcvContact*, TcvGroup*, int code) { events += code == 0; };
    platform::ManualClock clock(46000);
    platform::ScopedClock guard(clock);
    parser->CheckMailbox();
    EXPECT_DOUBLE_EQ(parser->LastCheck, 46000);
    ASSERT_EQ(group->ContactCount(), 2);
    EXPECT_EQ(events, 2);
    EXPECT_EQ(group->Contacts(0)->Email, "ann@example.org");
    EXPECT_EQ(group->Contacts(1)->Email, "ann@example.org");
    const TcvContact* first = group->Contacts(0)->FirstName == "Ann" ? group->Contacts(0) : group->Contacts(1);
    EXPECT_EQ(first->CustomField(0), "ACME");
    EXPECT_GT(first->Joined, 40000);  // the mail's date
    EXPECT_EQ(left(), 1);  // delete method 0 keeps the unhandled mail
    parser->DeleteMethod = 1;
    parser->CheckMailbox();
    EXPECT_EQ(left(), 0);
}

TEST_F(Mailbox, UnhandledMailStaysWhileAParserOnTheAccountIsStopped) {
    useMailbox("user8");
    parser->Action = TcvParserAction::Bounce;
    parser->DeleteMethod = 1;
    TcvParser* stopped = addParser();
    stopped->Started = false;
    deliver("daemon@example.org", "failure", "nobody we know");
    parser->CheckMailbox();
    EXPECT_EQ(left(), 1);
    stopped->Started = true;
    parser->CheckMailbox();
    EXPECT_EQ(left(), 0);
}

TEST_F(Mailbox, OrderNotificationSubscribesTheBuyerThroughOrdwell) {
    useMailbox("user9");
    testsupport::ScopedRegistry registry;
    AcceptPreprocessor(ORDWELL_LIBRARY_PATH);
    parser->Preprocessor = ORDWELL_LIBRARY_PATH;
    parser->ContactSource = TcvContactSource::EmailVar;
    parser->ImportVars = true;
    parser->AddPluginFields();
    deliver("orders@shop.example.org", "New order",
            "Order ID: A-1001\r\nProduct Name: Vantrel Pro\r\nQuantity: 2\r\nName: Ann Smith\r\n"
            "Email: buyer@example.net\r\nCountry: Netherlands\r\n");
    parser->CheckMailbox();
    TcvContact* buyer = group->FindContact("buyer@example.net");
    ASSERT_NE(buyer, nullptr);
    EXPECT_EQ(buyer->CustomField(group->IndexOfFieldDef("OrderID")), "A-1001");
    EXPECT_EQ(buyer->CustomField(group->IndexOfFieldDef("ProductName")), "Vantrel Pro");
    EXPECT_EQ(buyer->CustomField(group->IndexOfFieldDef("Country")), "Netherlands");
    EXPECT_EQ(left(), 0);
}

namespace {
// Answers STAT and LIST for n mails of 100 bytes each.
void statAndList(mailnet::FaultConnection& c, int n) {
    c.readLine();
    c.send("+OK " + std::to_string(n) + " " + std::to_string(n * 100));
    c.readLine();
    std::string list = "+OK\r\n";
    for (int i = 1; i <= n; ++i) list += std::to_string(i) + " 100\r\n";
    c.sendRaw(list + ".\r\n");
}

// A group whose one parser reads the POP3 server on the given local port.
TcvParser* parserOn(TcvSetup& setup, int port) {
    auto* account = new TcvAccount;
    account->ServerName = "127.0.0.1";
    account->PortPop3 = port;
    setup.AddAccount(account);
    auto* group = new TcvGroup;
    setup.AddGroup(group);
    auto* parser = new TcvParser;
    group->AddParser(parser);
    parser->Account = account;
    return parser;
}
}  // namespace

TEST(MailboxFaults, AMailThatCannotBeRetrievedIsReportedAndLeft) {
    using mailnet::FaultConnection;
    const std::string mail = "From: a@example.org\r\nSubject: s\r\n\r\nbody\r\n.\r\n";
    mailnet::FaultServer server([&](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        statAndList(c, 3);
        for (int i = 1; i <= 3; ++i) {
            const std::string retr = c.readLine();
            if (i == 2) {
                c.send("-ERR message is gone");
                continue;
            }
            c.sendRaw("+OK\r\n" + mail);
            c.readLine();  // DELE
            c.send("+OK");
        }
        c.readLine();
        c.send("+OK bye");
    });
    TcvSetup setup;
    TcvParser* parser = parserOn(setup, server.port());
    TcvGroup* group = parser->Group;
    platform::recordedMessages().clear();
    parser->CheckMailbox();
    EXPECT_EQ(platform::recordedMessages(), std::vector<std::string>{"Unable to parse message 2"});
    EXPECT_EQ(group->ContactCount(), 2);
    EXPECT_TRUE(server.received("DELE 1"));
    EXPECT_FALSE(server.received("DELE 2"));
    EXPECT_TRUE(server.received("DELE 3"));
    EXPECT_TRUE(server.received("QUIT"));
}

TEST(MailboxFaults, AnErrorInAnActionEndsTheCheckWithoutQuit) {
    using mailnet::FaultConnection;
    mailnet::FaultServer server([](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        statAndList(c, 2);
        c.readLine();
        c.sendRaw("+OK\r\nFrom: a@example.org\r\nSubject: s\r\n\r\nfirst\r\n.\r\n");
        c.readLine();
        c.send("+OK");
        c.readLine();
        c.sendRaw("+OK\r\nFrom: b@example.org\r\nSubject: s\r\n\r\njoined=not a date\r\n.\r\n");
    });
    TcvSetup setup;
    TcvParser* parser = parserOn(setup, server.port());
    TcvGroup* group = parser->Group;
    parser->ImportVars = true;
    EXPECT_THROW(parser->CheckMailbox(), std::invalid_argument);
    EXPECT_NE(parser->LastCheck, 0);
    EXPECT_EQ(group->ContactCount(), 2);  // the second contact was added before the error
    EXPECT_TRUE(server.clientClosed());
    EXPECT_FALSE(server.received("QUIT"));  // the server keeps the mail marked in this check
}

TEST(MailboxFaults, NoServerIsAnErrorAndStillStampsTheCheck) {
    TcvParser lonely;
    lonely.CheckMailbox();  // no account: nothing, not even the stamp
    EXPECT_EQ(lonely.LastCheck, 0);
    TcvSetup setup;
    TcvParser* parser = parserOn(setup, 1);  // nothing listens there
    EXPECT_THROW(parser->CheckMailbox(), mailtext::EMailError);
    EXPECT_NE(parser->LastCheck, 0);
}

TEST(MailboxFaults, TheGroupDeletedWhileAnActionSendsEndsTheCheckCleanly) {
    using mailnet::FaultConnection;
    const std::string mail = "From: a@example.org\r\nSubject: s\r\n\r\nbody\r\n.\r\n";
    mailnet::FaultServer server([&](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        statAndList(c, 2);
        c.readLine();
        c.sendRaw("+OK\r\n" + mail);
        for (std::string line = c.readLine(); line != "QUIT"; line = c.readLine()) c.send("+OK");
        c.send("+OK bye");
    });
    options::ResetToDefaults();
    TcvSetup setup;
    TcvParser* parser = parserOn(setup, server.port());
    TcvGroup* group = parser->Group;
    parser->Action = TcvParserAction::Unsubscribe;
    auto* contact = new TcvContact;
    contact->Email = "a@example.org";
    group->AddContact(contact);
    auto* goodbye = new TcvMessage;
    goodbye->Trigger = TcvTrigger::OnUnsubscribe;
    group->AddMessage(goodbye);
    // Sending the goodbye lets the interface run; the user deletes the whole group meanwhile.
    SetTemporarySend([&](TcvSetup* s, TcvAccount*, TcvMessage*, TcvContact*) { s->DeleteGroup(0); });
    parser->CheckMailbox();
    SetTemporarySend(nullptr);
    EXPECT_EQ(setup.GroupCount(), 0);
    EXPECT_TRUE(server.received("DELE 1"));  // the handled mail still leaves the server
    EXPECT_FALSE(server.received("RETR 2"));
    EXPECT_TRUE(server.received("QUIT"));
}

namespace {
// Answers RETR n with what the map gives (a mail is sent dot-terminated, "-ERR..." as it is),
// every other command with +OK, until QUIT.
void answerUntilQuit(mailnet::FaultConnection& c, const std::map<int, std::string>& retr) {
    for (std::string line = c.readLine(); line != "QUIT"; line = c.readLine()) {
        const auto it = line.rfind("RETR ", 0) == 0 ? retr.find(std::stoi(line.substr(5))) : retr.end();
        if (it == retr.end()) c.send("+OK");
        else if (it->second.rfind("-ERR", 0) == 0) c.send(it->second);
        else c.sendRaw("+OK\r\n" + it->second + ".\r\n");
    }
    c.send("+OK bye");
}

const std::string Subscription = "From: a@example.org\r\nSubject: s\r\n\r\nbody\r\n";
}  // namespace

TEST(MailboxFaults, FailuresInARowEndTheCheckWithOneMessage) {
    mailnet::FaultServer server([&](mailnet::FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        statAndList(c, 5);
        answerUntilQuit(c, {{1, Subscription}, {2, "-ERR gone"}, {3, "-ERR gone"}, {4, "-ERR gone"}, {5, Subscription}});
    });
    TcvSetup setup;
    TcvParser* parser = parserOn(setup, server.port());
    platform::recordedMessages().clear();
    parser->CheckMailbox();
    EXPECT_EQ(platform::recordedMessages(),
              std::vector<std::string>{"Unable to parse message 2\rUnable to parse message 3\rUnable to parse message 4\r"
                                       "The mailbox check was ended after 3 messages in a row could not be retrieved"});
    EXPECT_EQ(parser->Group->ContactCount(), 1);
    EXPECT_TRUE(server.received("DELE 1"));
    EXPECT_FALSE(server.received("RETR 5"));
    EXPECT_TRUE(server.received("QUIT"));  // the handled mail leaves the server
}

TEST(MailboxFaults, MailsOverTheSizeLimitAreReportedAndLeftWhileTheCheckGoesOn) {
    options::ResetToDefaults();
    options::MailMaxSize = 64;
    const std::string huge = "From: b@example.org\r\nSubject: s\r\n\r\n" + std::string(200 * 1024, 'x') + "\r\n";
    mailnet::FaultServer server([&](mailnet::FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        c.send("+OK 4 400");
        c.readLine();
        // Mail 2 is listed as too large; mail 3 is listed small but is not; mail 9 is not in STAT's count.
        c.sendRaw("+OK\r\n1 100\r\n2 999999999\r\n3 100\r\n4 100\r\n9 100\r\n.\r\n");
        answerUntilQuit(c, {{1, Subscription}, {2, huge}, {3, huge}, {4, Subscription}, {9, Subscription}});
    });
    TcvSetup setup;
    TcvParser* parser = parserOn(setup, server.port());
    parser->DeleteMethod = 1;
    platform::recordedMessages().clear();
    parser->CheckMailbox();
    options::ResetToDefaults();
    EXPECT_EQ(platform::recordedMessages(),
              std::vector<std::string>{"Message 2 is larger than 64 KB and was left on the server\r"
                                       "Message 3 is larger than 64 KB and was left on the server"});
    EXPECT_EQ(parser->Group->ContactCount(), 2);
    EXPECT_FALSE(server.received("RETR 2"));
    EXPECT_FALSE(server.received("RETR 9"));
    EXPECT_FALSE(server.received("DELE 2"));
    EXPECT_FALSE(server.received("DELE 3"));
    EXPECT_TRUE(server.received("DELE 1"));
    EXPECT_TRUE(server.received("DELE 4"));
    EXPECT_TRUE(server.received("QUIT"));
}
