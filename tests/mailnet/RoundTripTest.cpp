#include "mailtext/IdMessageHelpers.h"
#include "mailtext/MailErrors.h"
#include "mailtext/Pop3Client.h"
#include "mailtext/SmtpClient.h"
#include "mailtext/TcpProbe.h"
#include "tests/mailnet/MailServers.h"

#include <gtest/gtest.h>

using namespace mailtext;

namespace {

// Each test owns one mailbox (userN@corvane.test), so tests may run in parallel.
class RealServers : public ::testing::Test {
protected:
    void SetUp() override {
        auto loaded = mailnet::MailServers::load();
        if (!loaded) GTEST_SKIP() << "CORVANE_MAILSERVERS is not set: run through ctest";
        servers = *loaded;
    }

    SmtpSettings smtp(bool authenticate = true) const {
        SmtpSettings s;
        s.Host = "127.0.0.1";
        s.Port = authenticate ? servers.SmtpAuthPort : servers.SmtpOpenPort;
        s.UserName = servers.SmtpLogin;
        s.Password = servers.SmtpPassword;
        s.Authentication = authenticate ? SmtpAuthentication::Login : SmtpAuthentication::None;
        // Generous: the real servers answer at once, but the machine may be busy.
        s.Timeouts.ConnectMs = 30000;
        s.Timeouts.ReplyMs = 30000;
        return s;
    }

    Pop3Settings pop3(const std::string& user) const {
        Pop3Settings s;
        s.Host = "127.0.0.1";
        s.Port = servers.Pop3Port;
        s.UserName = user;
        s.Password = servers.MailboxPassword;
        // Generous: the real servers answer at once, but the machine may be busy.
        s.Timeouts.ConnectMs = 30000;
        s.Timeouts.ReplyMs = 30000;
        return s;
    }

    static Mail mailTo(const std::string& user, const std::string& subject) {
        Mail m;
        OutgoingMail f;
        f.ToName = "Jo \"Q\" Smith";
        f.ToAddress = user + "@corvane.test";
        f.Subject = subject;
        f.PlainBody = "Dear Jo,\n.\n..two\nCr\xE8me \x80" "5\n";
        f.From = "\"Vantrel Sender\" <sender@corvane.test>";
        FillOutgoingMail(m, f);
        return m;
    }

    // Removes whatever an earlier run left in the mailbox.
    void empty(const std::string& user) {
        Pop3Client pop(pop3(user));
        pop.connect();
        for (int n = pop.messageCount(); n > 0; --n) pop.deleteMessage(n);
        pop.quit();
    }

    mailnet::MailServers servers;
};

}  // namespace

TEST_F(RealServers, MailSentWithAuthLoginReadsBackOverPop3) {
    empty("user1");
    Mail sent = mailTo("user1", "Round trip caf\xE9");
    sent.Priority = 0;
    sent.ReceiptRecipient.setText("receipts@corvane.test");
    SendOneMail(smtp(), sent);

    Pop3Client pop(pop3("user1"));
    pop.connect();
    ASSERT_EQ(pop.messageCount(), 1);
    auto got = pop.retrieve(1);
    pop.quit();
    ASSERT_EQ(got->Recipients.Items.size(), 1u);
    EXPECT_EQ(got->Recipients.Items[0].Address, "user1@corvane.test");
    EXPECT_EQ(got->Recipients.Items[0].Name, "Jo \"Q\" Smith");
    EXPECT_EQ(got->From.Address, "sender@corvane.test");
    EXPECT_EQ(got->ReplyTo.Items.at(0).Address, "sender@corvane.test");
    EXPECT_EQ(got->Subject, "Round trip caf\xE9");
    EXPECT_EQ(got->bodyText(), "Dear Jo,\r\n.\r\n..two\r\nCr\xE8me \x80" "5\r\n");
    EXPECT_EQ(got->ContentType, "text/plain; charset=windows-1252");
    EXPECT_EQ(got->Headers.value("X-Priority"), "1");
    EXPECT_EQ(got->Priority, 0);
    EXPECT_EQ(got->Headers.value("Disposition-Notification-To"), "receipts@corvane.test");
    EXPECT_EQ(got->ReceiptRecipient.Address, "receipts@corvane.test");
    EXPECT_FALSE(got->Headers.value("date").empty());
}

TEST_F(RealServers, NormalPriorityAndHtmlGoOutWithoutXPriority) {
    empty("user2");
    Mail sent = mailTo("user2", "html");
    sent.ContentType = "text/html";
    sent.setBodyText("<p>Hello <b>Jo</b></p>");
    SendOneMail(smtp(), sent);
    Pop3Client pop(pop3("user2"));
    pop.connect();
    ASSERT_EQ(pop.messageCount(), 1);
    auto got = pop.retrieve(1);
    pop.deleteMessage(1);
    pop.quit();
    EXPECT_FALSE(got->Headers.contains("X-Priority"));
    EXPECT_FALSE(got->Headers.contains("Disposition-Notification-To"));
    EXPECT_EQ(got->ContentType, "text/html; charset=windows-1252");
    EXPECT_EQ(got->bodyText(), "<p>Hello <b>Jo</b></p>\r\n");
}

TEST_F(RealServers, DeleteIsCommittedByQuitAndKeptWhenTheSessionIsDropped) {
    empty("user3");
    SendOneMail(smtp(), mailTo("user3", "keep or delete"));
    {
        Pop3Client pop(pop3("user3"));
        pop.connect();
        ASSERT_EQ(pop.messageCount(), 1);
        pop.deleteMessage(1);
        pop.release();
    }
    Pop3Client pop(pop3("user3"));
    pop.connect();
    ASSERT_EQ(pop.messageCount(), 1) << "a dropped session must not delete";
    pop.deleteMessage(1);
    pop.quit();
    pop.connect();
    EXPECT_EQ(pop.messageCount(), 0);
    pop.quit();
}

TEST_F(RealServers, StatListAndTopDescribeTheMailbox) {
    empty("user4");
    SendOneMail(smtp(), mailTo("user4", "first"));
    SendOneMail(smtp(), mailTo("user4", "second"));
    Pop3Client pop(pop3("user4"));
    pop.connect();
    ASSERT_EQ(pop.messageCount(), 2);
    auto list = pop.listMessages();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_GT(list[0].Size, 100);
    EXPECT_EQ(pop.mailboxSize(), list[0].Size + list[1].Size);
    EXPECT_EQ(pop.messageSize(2), list[1].Size);
    auto header = pop.retrieveHeader(2);
    EXPECT_EQ(header->Subject, "second");
    EXPECT_TRUE(header->Body.empty());
    // The raw text is about the size the server announced (line ends may differ).
    std::string raw = pop.retrieveRaw(1);
    EXPECT_GE(static_cast<long long>(raw.size()), list[0].Size - 20);
    pop.quit();
}

TEST_F(RealServers, WrongCredentialsAreAuthErrors) {
    SmtpSettings badSmtp = smtp();
    badSmtp.Password = "wrong";
    EXPECT_THROW(SendOneMail(badSmtp, mailTo("user5", "x")), EMailAuthError);

    Pop3Settings badPop = pop3("user5");
    badPop.Password = "wrong";
    Pop3Client pop(badPop);
    EXPECT_THROW(pop.connect(), EMailAuthError);
    EXPECT_FALSE(pop.connected());
}

TEST_F(RealServers, WithoutAuthenticationTheOpenPortAcceptsAndTheGuardedPortRefuses) {
    empty("user6");
    SendOneMail(smtp(false), mailTo("user6", "no auth"));
    SmtpSettings guarded = smtp(false);
    guarded.Port = servers.SmtpAuthPort;
    EXPECT_THROW(SendOneMail(guarded, mailTo("user6", "refused")), EMailProtocolError);
    Mail unknown = mailTo("nobody-here", "unknown");
    EXPECT_THROW(SendOneMail(smtp(), unknown), EMailProtocolError);

    Pop3Client pop(pop3("user6"));
    pop.connect();
    EXPECT_EQ(pop.messageCount(), 1);
    pop.quit();
}

TEST_F(RealServers, PlainTcpConnectReachesTheServer) {
    EXPECT_NO_THROW(TcpConnectAndClose("127.0.0.1", servers.Pop3Port));
}
