#include "mailtext/HtmlText.h"
#include "mailtext/IdMessageHelpers.h"

#include <gtest/gtest.h>

using namespace mailtext;

namespace {

TextPart textPart(const std::string& type, const std::string& body) {
    TextPart p;
    p.Headers.add("Content-Type", type);
    p.Body = splitLines(body);
    return p;
}

}  // namespace

TEST(MessageBodyText, MailWithoutPartsGivesItsBody) {
    Mail m;
    m.setBodyText("a\nb");
    EXPECT_EQ(MessageBodyText(m), "a\r\nb\r\n");
    Mail empty;
    EXPECT_EQ(MessageBodyText(empty), "");
}

TEST(MessageBodyText, PlainPartsWinAndAreJoinedInOrder) {
    Mail m;
    m.TextParts.push_back(textPart("text/html", "<b>html</b>"));
    m.TextParts.push_back(textPart("text/plain; charset=us-ascii", "first"));
    m.TextParts.push_back(textPart("text/plain", "second"));
    m.Attachments.push_back({{}, "a.txt", "text/plain", "attached"});
    EXPECT_EQ(MessageBodyText(m), "first\r\nsecond\r\n");
}

TEST(MessageBodyText, HtmlOnlyMailIsRendered) {
    Mail m;
    m.TextParts.push_back(textPart("text/html",
        "<html><head><title>T</title><style>p{color:red}</style></head>"
        "<body><p>Dear &amp; <b>valued</b>\n   reader,</p><p>caf&eacute; &euro;5<br>next</p>"
        "<script>alert(1)</script><ul><li>one</li><li>two</li></ul></body></html>"));
    EXPECT_EQ(MessageBodyText(m), "Dear & valued reader,\r\n\r\ncaf\xE9 \x80" "5\r\nnext\r\n\r\none\r\ntwo\r\n");
}

TEST(MessageBodyText, TypeSearchIsCaseSensitiveAndFallsBackToEveryTextPart) {
    Mail m;
    // "TEXT/PLAIN" is not found by the exact search, so the third pass takes every text part.
    m.TextParts.push_back(textPart("TEXT/PLAIN", "upper"));
    m.TextParts.push_back(textPart("text/enriched", "rich"));
    EXPECT_EQ(MessageBodyText(m), "upper\r\nrich\r\n");
}

TEST(MessageBodyText, OnlyAttachmentsGiveEmptyText) {
    Mail m;
    m.Attachments.push_back({{}, "a.bin", "application/octet-stream", "xx"});
    EXPECT_EQ(MessageBodyText(m), "");
}

TEST(HtmlToText, MalformedHtmlIsReadAsFarAsPossible) {
    EXPECT_EQ(htmlToText("<p>open <b>bold <i>both</p> tail"), "open bold both\r\n\r\ntail\r\n");
    EXPECT_EQ(htmlToText(""), "");
    EXPECT_EQ(htmlToText("a < b & c > d;"), "a < b & c > d;\r\n");
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<div>";
    deep += "deep";
    EXPECT_EQ(htmlToText(deep), "deep\r\n");
}

TEST(HtmlToText, PreformattedTextKeepsItsLayout) {
    EXPECT_EQ(htmlToText("<pre>a  b\n  c</pre>"), "a  b\r\n  c\r\n");
}

TEST(MakeForward, QuotesTheHeadersAndCopiesAttachments) {
    auto received = MessageFromText(
        "From: \"Ann\" <ann@x.org>\r\nTo: box@y.org\r\nSubject: Order 7\r\n"
        "Date: Wed, 3 Jan 2024 08:00:00 +0000\r\n"
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\n\r\nthe text\r\n"
        "--b\r\nContent-Type: image/png\r\nContent-Disposition: attachment; filename=a.png\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\niVBORw==\r\n"
        "--b\r\nContent-Type: application/zip; name=b.zip\r\n\r\nzipdata\r\n--b--\r\n");
    ASSERT_EQ(received->Attachments.size(), 2u);
    Mail forward;
    forward.Subject = "old";
    forward.Priority = 0;
    MakeForward(*received, forward, "", "boss@z.org, clerk@z.org");
    EXPECT_EQ(forward.Subject, "Fw: Order 7");
    EXPECT_EQ(forward.Priority, 2);
    EXPECT_EQ(forward.bodyText(),
              "----- Original Message -----\r\nFrom: \"Ann\" <ann@x.org>\r\nTo: box@y.org\r\n"
              "Sent: Wed, 3 Jan 2024 08:00:00 +0000\r\nSubject: Order 7\r\n\r\nthe text\r\n");
    ASSERT_EQ(forward.Attachments.size(), 2u);
    EXPECT_EQ(forward.Attachments[0].FileName, "a.png");
    EXPECT_EQ(forward.Attachments[0].Data, received->Attachments[0].Data);
    EXPECT_EQ(forward.Attachments[1].FileName, "b.zip");
    EXPECT_EQ(forward.Recipients.Items.size(), 2u);
    // No from address: sent in the name of the mailbox that received it.
    EXPECT_EQ(forward.From.Address, "box@y.org");
    EXPECT_EQ(forward.ReplyTo.text(), "\"Ann\" <ann@x.org>");

    MakeForward(*received, forward, "me@z.org", "boss@z.org");
    EXPECT_EQ(forward.From.Address, "me@z.org");

    // The written forward carries both attachments.
    auto again = MessageFromText(MessageToText(&forward));
    EXPECT_EQ(again->Attachments.size(), 2u);
    EXPECT_EQ(again->Subject, "Fw: Order 7");
}

TEST(MakeForward, ForwardingAMailIntoItselfKeepsItsContent) {
    auto m = MessageFromText("From: a@x.org\r\nTo: b@y.org\r\nSubject: S\r\n\r\nbody\r\n");
    MakeForward(*m, *m, "", "c@z.org");
    EXPECT_EQ(m->Subject, "Fw: S");
    EXPECT_EQ(m->Body.back(), "body");
    EXPECT_EQ(m->ReplyTo.text(), "a@x.org");
}
