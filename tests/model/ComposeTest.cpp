#include "mailtext/IdMessageHelpers.h"
#include "mailtext/Mail.h"
#include "model/cvSetup.h"

#include <gtest/gtest.h>

namespace {

struct Compose : ::testing::Test {
    Compose() {
        account = new TcvAccount;
        account->Sender = "news@example.com";
        setup.AddAccount(account);
        group = new TcvGroup;
        setup.AddGroup(group);
        group->Account = account;
        message = new TcvMessage;
        group->AddMessage(message);
        contact.Email = "ann.b@example.com";
    }
    std::string text(const mailtext::Mail& m) { return mailtext::MessageToText(&m); }
    TcvSetup setup;
    TcvAccount* account;
    TcvGroup* group;
    TcvMessage* message;
    TcvContact contact;
};

}  // namespace

TEST_F(Compose, PlainBodyWinsAndHtmlGoesOutOnlyWhenPlainIsEmpty) {
    mailtext::Mail plain;
    ComposeMail(plain, contact, *message, account, "Subject", "plain text", "<p>html</p>");
    EXPECT_EQ(plain.ContentType, "text/plain");
    EXPECT_EQ(plain.bodyText(), "plain text\r\n");
    mailtext::Mail html;
    ComposeMail(html, contact, *message, account, "Subject", "", "<p>html</p>");
    EXPECT_EQ(html.ContentType, "text/html");
    EXPECT_EQ(html.bodyText(), "<p>html</p>\r\n");
    mailtext::Mail empty;
    ComposeMail(empty, contact, *message, account, "Subject", "", "");
    EXPECT_EQ(empty.ContentType, "text/html");
}

TEST_F(Compose, AddressesNamesPriorityAndReceipt) {
    mailtext::Mail m;
    ComposeMail(m, contact, *message, account, "Hi", "x", "");
    ASSERT_EQ(m.Recipients.Items.size(), 1u);
    EXPECT_EQ(m.Recipients.Items[0].Name, "ann.b");  // no names: the local part
    EXPECT_EQ(m.Recipients.Items[0].Address, "ann.b@example.com");
    EXPECT_EQ(m.From.Address, "news@example.com");
    EXPECT_EQ(m.ReplyTo.text(), "news@example.com");  // falls back to the sender
    const std::string normal = text(m);
    EXPECT_EQ(normal.find("X-Priority"), std::string::npos);
    EXPECT_EQ(normal.find("Disposition-Notification-To"), std::string::npos);
    EXPECT_NE(normal.find("To: \"ann.b\" <ann.b@example.com>"), std::string::npos);

    contact.FirstName = "Ann";
    contact.LastName = "Smith";
    account->ReplyTo = "replies@example.com";
    message->Sender = "me@example.com";
    message->Priority = 4;
    message->Receipt = "receipts@example.com";
    mailtext::Mail n;
    ComposeMail(n, contact, *message, account, "Hi", "x", "");
    const std::string full = text(n);
    EXPECT_NE(full.find("\"Ann Smith\" <ann.b@example.com>"), std::string::npos);
    EXPECT_NE(full.find("X-Priority: 5"), std::string::npos);
    EXPECT_NE(full.find("Disposition-Notification-To: receipts@example.com"), std::string::npos);
    EXPECT_NE(full.find("Reply-To: replies@example.com"), std::string::npos);
    EXPECT_NE(full.find("From: me@example.com"), std::string::npos);
}

TEST_F(Compose, PersonalisedValuesCannotAddHeaders) {
    contact.FirstName = "Ann\r\nBcc: victim@example.org";
    contact.LastName = "\"Q\"";
    mailtext::Mail m;
    ComposeMail(m, contact, *message, account, contact.Personalise("Hello %FirstName"), "x", "");
    const std::string raw = text(m);
    EXPECT_EQ(raw.find("\r\nBcc:"), std::string::npos);
    EXPECT_EQ(raw.find("\nBcc:"), std::string::npos);
    const mailtext::Mail back = *mailtext::MessageFromText(raw);
    ASSERT_EQ(back.Recipients.Items.size(), 1u);
    EXPECT_EQ(back.Recipients.Items[0].Address, "ann.b@example.com");
}
