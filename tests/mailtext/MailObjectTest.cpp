#include "mailtext/IdMessageHelpers.h"
#include "mailtext/Mail.h"

#include <gtest/gtest.h>

using namespace mailtext;

TEST(MailAddress, ReadsTheUsualForms) {
    EXPECT_EQ(MailAddress::parse("a@b.org").Address, "a@b.org");
    MailAddress named = MailAddress::parse("  \"Jo Smith\" <jo@b.org> ");
    EXPECT_EQ(named.Name, "Jo Smith");
    EXPECT_EQ(named.Address, "jo@b.org");
    MailAddress bare = MailAddress::parse("Jo <jo@b.org>");
    EXPECT_EQ(bare.Name, "Jo");
    MailAddress comment = MailAddress::parse("jo@b.org (Jo Smith)");
    EXPECT_EQ(comment.Address, "jo@b.org");
    EXPECT_EQ(comment.Name, "Jo Smith");
    EXPECT_EQ(MailAddress::parse("<jo@b.org>").Name, "");
}

TEST(MailAddress, TextQuotesTheNameAndEscapesItsQuotes) {
    EXPECT_EQ((MailAddress{"Jo Smith", "jo@b.org"}).text(), "\"Jo Smith\" <jo@b.org>");
    EXPECT_EQ((MailAddress{"", "jo@b.org"}).text(), "jo@b.org");
    MailAddress tricky{"Jo \"The\" Boss", "jo@b.org"};
    EXPECT_EQ(MailAddress::parse(tricky.text()).Name, tricky.Name);
}

TEST(AddressList, SplitsAtSeparatorsOutsideQuotesAndBrackets) {
    AddressList list;
    list.setText("\"Smith, Jo\" <jo@b.org>; ann@c.org, <weird,one@d.org>");
    ASSERT_EQ(list.Items.size(), 3u);
    EXPECT_EQ(list.Items[0].Name, "Smith, Jo");
    EXPECT_EQ(list.Items[1].Address, "ann@c.org");
    EXPECT_EQ(list.Items[2].Address, "weird,one@d.org");
    EXPECT_EQ(list.text(), "\"Smith, Jo\" <jo@b.org>, ann@c.org, weird,one@d.org");
}

TEST(AddressList, AnUnpairedQuoteInANameDoesNotSwallowTheList) {
    AddressList list;
    // The compose format does not escape names, so a lone quote can reach here.
    list.setText("\"Jo\"s Bar\" <jo@b.org>, ann@c.org");
    ASSERT_EQ(list.Items.size(), 2u);
    EXPECT_EQ(list.Items[0].Address, "jo@b.org");
    EXPECT_EQ(list.Items[1].Address, "ann@c.org");
}

TEST(AddressList, EmptyTextGivesNoAddresses) {
    AddressList list;
    list.setText(" , ;");
    EXPECT_TRUE(list.empty());
}

TEST(MailBody, SplitsAtAnyLineBreakAndJoinsWithCrLf) {
    Mail m;
    m.setBodyText("one\r\ntwo\nthree\rfour\n");
    ASSERT_EQ(m.Body.size(), 4u);
    EXPECT_EQ(m.bodyText(), "one\r\ntwo\r\nthree\r\nfour\r\n");
    m.setBodyText("");
    EXPECT_TRUE(m.Body.empty());
    m.setBodyText("a\r\n\r\nb");
    EXPECT_EQ(m.Body, (std::vector<std::string>{"a", "", "b"}));
}

TEST(MailHeaders, LookUpIgnoresCase) {
    HeaderList h;
    h.add("Date", "Mon, 1 Jan 2024 10:00:00 +0000");
    h.add("X-A", "1");
    h.add("x-a", "2");
    EXPECT_EQ(h.value("date"), "Mon, 1 Jan 2024 10:00:00 +0000");
    EXPECT_EQ(h.value("X-A"), "1");
    EXPECT_EQ(h.value("missing"), "");
}

TEST(MailObject, ClearRestoresDefaults) {
    Mail m;
    m.Subject = "x";
    m.Priority = 0;
    m.ContentType = "text/html";
    m.Attachments.push_back({});
    m.clear();
    EXPECT_EQ(m.Subject, "");
    EXPECT_EQ(m.Priority, 2);
    EXPECT_EQ(m.ContentType, "text/plain");
    EXPECT_FALSE(m.hasParts());
}

TEST(FillOutgoingMail, PlainBodyWinsOverHtml) {
    Mail m;
    OutgoingMail f;
    f.ToName = "Jo Smith";
    f.ToAddress = "jo@b.org";
    f.Subject = "Hi";
    f.PlainBody = "plain";
    f.HtmlBody = "<b>html</b>";
    f.From = "me@a.org";
    FillOutgoingMail(m, f);
    EXPECT_EQ(m.ContentType, "text/plain");
    EXPECT_EQ(m.bodyText(), "plain\r\n");
    EXPECT_EQ(m.Recipients.text(), "\"Jo Smith\" <jo@b.org>");
    EXPECT_EQ(m.ReplyTo.text(), "me@a.org");
    EXPECT_EQ(m.Priority, 2);
    EXPECT_TRUE(m.ReceiptRecipient.empty());
}

TEST(FillOutgoingMail, HtmlBodyWhenPlainIsEmptyAndExplicitReplyTo) {
    Mail m;
    OutgoingMail f;
    f.ToName = "jo";
    f.ToAddress = "jo@b.org";
    f.Subject = "Hi";
    f.HtmlBody = "<b>html</b>";
    f.From = "\"Me\" <me@a.org>";
    f.ReplyTo = "replies@a.org";
    f.Priority = 0;
    f.Receipt = "rcpt@a.org";
    FillOutgoingMail(m, f);
    EXPECT_EQ(m.ContentType, "text/html");
    EXPECT_EQ(m.bodyText(), "<b>html</b>\r\n");
    EXPECT_EQ(m.From.Address, "me@a.org");
    EXPECT_EQ(m.ReplyTo.text(), "replies@a.org");
    EXPECT_EQ(m.Priority, 0);
    EXPECT_EQ(m.ReceiptRecipient.Address, "rcpt@a.org");
}

TEST(FillOutgoingMail, BothBodiesEmptyStillGivesAnHtmlMail) {
    Mail m;
    OutgoingMail f;
    f.ToName = "jo";
    f.ToAddress = "jo@b.org";
    f.From = "me@a.org";
    FillOutgoingMail(m, f);
    EXPECT_EQ(m.ContentType, "text/html");
    EXPECT_TRUE(m.Body.empty());
}
