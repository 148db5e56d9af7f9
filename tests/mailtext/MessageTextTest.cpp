#include "mailtext/IdMessageHelpers.h"

#include <gtest/gtest.h>

#include <regex>

using namespace mailtext;

namespace {

Mail composed() {
    Mail m;
    OutgoingMail f;
    f.ToName = "Jo Smith";
    f.ToAddress = "jo@b.org";
    f.Subject = "Hello";
    f.PlainBody = "line one\nline two\n";
    f.From = "\"Sender\" <me@a.org>";
    FillOutgoingMail(m, f);
    return m;
}

// The header block of raw text, unfolded, one header per entry.
std::vector<std::string> headerLines(const std::string& raw) {
    std::vector<std::string> lines;
    size_t end = raw.find("\r\n\r\n");
    std::string head = raw.substr(0, end);
    size_t start = 0;
    while (start <= head.size()) {
        size_t e = head.find("\r\n", start);
        if (e == std::string::npos) e = head.size();
        std::string line = head.substr(start, e - start);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty()) lines.back() += line;
        else lines.push_back(line);
        start = e + 2;
    }
    return lines;
}

bool hasHeaderLineStarting(const std::string& raw, const std::string& prefix) {
    for (const auto& l : headerLines(raw))
        if (l.rfind(prefix, 0) == 0) return true;
    return false;
}

}  // namespace

TEST(MessageToText, NullMailGivesEmptyText) { EXPECT_EQ(MessageToText(nullptr), ""); }

TEST(MessageToText, ComposedMailRoundTrips) {
    Mail m = composed();
    m.Priority = 0;
    m.ReceiptRecipient.setText("receipts@a.org");
    std::string raw = MessageToText(&m);
    EXPECT_NE(raw.find("\r\nX-Priority: 1\r\n"), std::string::npos);
    EXPECT_NE(raw.find("Disposition-Notification-To: receipts@a.org\r\n"), std::string::npos);
    EXPECT_NE(raw.find("To: \"Jo Smith\" <jo@b.org>\r\n"), std::string::npos);

    auto back = MessageFromText(raw);
    EXPECT_EQ(back->Recipients.text(), "\"Jo Smith\" <jo@b.org>");
    EXPECT_EQ(back->From.Address, "me@a.org");
    EXPECT_EQ(back->From.Name, "Sender");
    EXPECT_EQ(back->ReplyTo.text(), "\"Sender\" <me@a.org>");
    EXPECT_EQ(back->Subject, "Hello");
    EXPECT_EQ(back->bodyText(), "line one\r\nline two\r\n");
    EXPECT_EQ(back->Priority, 0);
    EXPECT_EQ(back->ReceiptRecipient.Address, "receipts@a.org");
    EXPECT_FALSE(back->Headers.value("date").empty());
}

TEST(MessageToText, NormalPriorityWritesNoXPriorityAndEveryOtherPriorityIsShifted) {
    Mail m = composed();
    EXPECT_EQ(MessageToText(&m).find("X-Priority"), std::string::npos);
    for (int p : {0, 1, 3, 4}) {
        m.Priority = p;
        std::string raw = MessageToText(&m);
        EXPECT_NE(raw.find("X-Priority: " + std::to_string(p + 1) + "\r\n"), std::string::npos) << p;
        EXPECT_EQ(MessageFromText(raw)->Priority, p);
    }
}

TEST(MessageToText, DeclaresTheCodePageAndEncodesEightBitText) {
    Mail m = composed();
    m.Subject = "Caf\xE9 \x80 offer";
    m.setBodyText("Cr\xE8me br\xFBl\xE9" "e\n");
    std::string raw = MessageToText(&m);
    EXPECT_NE(raw.find("Content-Type: text/plain; charset=windows-1252\r\n"), std::string::npos);
    EXPECT_NE(raw.find("MIME-Version: 1.0"), std::string::npos);
    for (unsigned char c : raw) EXPECT_LT(c, 0x80) << "8-bit byte on the wire";
    auto back = MessageFromText(raw);
    EXPECT_EQ(back->Subject, "Caf\xE9 \x80 offer");
    EXPECT_EQ(back->bodyText(), "Cr\xE8me br\xFBl\xE9" "e\r\n");
    EXPECT_EQ(back->ContentType, "text/plain; charset=windows-1252");
}

TEST(MessageToText, HtmlMailKeepsItsContentType) {
    Mail m = composed();
    m.ContentType = "text/html";
    m.setBodyText("<p>x</p>");
    EXPECT_NE(MessageToText(&m).find("Content-Type: text/html; charset=windows-1252\r\n"), std::string::npos);
}

TEST(HeaderInjection, ControlCharactersNeverStartAHeaderLine) {
    Mail m = composed();
    m.Subject = "Hi\r\nBcc: victim@evil.org";
    m.Recipients.clear();
    m.Recipients.add("Jo\r\nCc: a@evil.org", "jo@b.org\r\nX-Injected: 1");
    m.From.setText("me@a.org\nX-From-Injected: 1");
    m.ReplyTo.setText("r@a.org\rX-Reply-Injected: 1");
    m.ReceiptRecipient = {"Name\n", "rr@a.org\r\nX-Receipt-Injected: 1"};
    std::string raw = MessageToText(&m);
    for (const char* bad : {"Bcc:", "Cc:", "X-Injected", "X-From-Injected", "X-Reply-Injected", "X-Receipt-Injected"})
        EXPECT_FALSE(hasHeaderLineStarting(raw, bad)) << bad << "\n" << raw;
    auto back = MessageFromText(raw);
    EXPECT_FALSE(back->Headers.contains("Bcc"));
    EXPECT_FALSE(back->Headers.contains("Cc"));
    EXPECT_EQ(back->Recipients.Items.size(), 1u);
}

TEST(HeaderInjection, OtherControlCharactersAreCleaned) {
    Mail m = composed();
    m.Subject = std::string("a\0b\x1b" "c\x7f" "d", 7);
    std::string raw = MessageToText(&m);
    EXPECT_EQ(MessageFromText(raw)->Subject, "a b c d");
}

TEST(HeaderInjection, ADisplayNameWithQuotesCannotBreakTheToHeader) {
    for (std::string name : {"Jo \"Boss\" Smith", "Jo\" <evil@x.org>, \"x", "Smith, Jo", "a\\\"b", "\xC9mile \"E\""}) {
        Mail m = composed();
        m.Recipients.clear();
        m.Recipients.add(name, "jo@b.org");
        auto back = MessageFromText(MessageToText(&m));
        ASSERT_EQ(back->Recipients.Items.size(), 1u) << name;
        EXPECT_EQ(back->Recipients.Items[0].Address, "jo@b.org") << name;
        EXPECT_EQ(back->Recipients.Items[0].Name, name);
    }
}

TEST(HeaderInjection, TheComposeFormatWithAnUnescapedQuoteStillAddressesOneRecipient) {
    Mail m = composed();
    // What the "\"%s\" <%s>" format produces for a name holding a quote.
    m.Recipients.setText("\"Jo \"Q\" Smith\" <jo@b.org>");
    auto back = MessageFromText(MessageToText(&m));
    ASSERT_EQ(back->Recipients.Items.size(), 1u);
    EXPECT_EQ(back->Recipients.Items[0].Address, "jo@b.org");
}

TEST(MessageFromText, DotLineEndsTheTextAndStuffedLinesAreUnstuffed) {
    auto m = MessageFromText("Subject: s\r\n\r\n..leading dot\r\nmiddle\r\n.\r\nafter the end\r\n");
    EXPECT_EQ(m->bodyText(), ".leading dot\r\nmiddle\r\n");
    auto lf = MessageFromText("Subject: s\n\nx\n.\ny\n");
    EXPECT_EQ(lf->bodyText(), "x\r\n");
}

TEST(MessageToText, TextIsNotDotStuffedButItsWireFormRoundTrips) {
    Mail m = composed();
    m.setBodyText(".\n..\n.x\nend");
    std::string raw = MessageToText(&m);
    // Stuffing belongs to the wire, where the library adds it; the text form shows the body as is.
    EXPECT_NE(raw.find("\r\n\r\n.\r\n..\r\n.x\r\n"), std::string::npos) << raw;
    std::string stuffed;
    for (const auto& line : splitLines(raw)) stuffed += (line.rfind(".", 0) == 0 ? "." : "") + line + "\r\n";
    EXPECT_EQ(MessageFromText(stuffed)->bodyText(), ".\r\n..\r\n.x\r\nend\r\n");
}

TEST(MessageFromText, DecodesTransferEncodingsCharsetsAndEncodedWords) {
    std::string raw =
        "From: =?utf-8?q?Ren=C3=A9e?= <renee@x.org>\r\n"
        "To: a@b.org, \"B\" <b@b.org>\r\n"
        "Subject: =?iso-8859-1?q?caf=E9?= and =?utf-8?b?4oKsNQ==?=\r\n"
        "Date: Tue, 2 Jan 2024 09:00:00 +0100\r\n"
        "X-Priority: 5 (Lowest)\r\n"
        "Content-Type: text/plain; charset=utf-8\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "\r\n"
        "Q3LDqG1lCmJyw7tsw6llCg==\r\n";
    auto m = MessageFromText(raw);
    EXPECT_EQ(m->From.Name, "Ren\xE9" "e");
    EXPECT_EQ(m->Subject, "caf\xE9 and \x80" "5");
    EXPECT_EQ(m->Recipients.Items.size(), 2u);
    EXPECT_EQ(m->Priority, 4);
    EXPECT_EQ(m->bodyText(), "Cr\xE8me\r\nbr\xFBl\xE9" "e\r\n");
    EXPECT_EQ(HeaderSummary(*m),
              "From: \"Ren\xE9" "e\" <renee@x.org>\r\nTo: a@b.org, \"B\" <b@b.org>\r\n"
              "Sent: Tue, 2 Jan 2024 09:00:00 +0100\r\nSubject: caf\xE9 and \x80" "5\r\n");
}

TEST(MessageFromText, WalksNestedMultipartsIntoTextPartsAndAttachments) {
    std::string raw =
        "Subject: nested\r\n"
        "Content-Type: multipart/mixed; boundary=\"outer\"\r\n"
        "\r\n"
        "preamble\r\n"
        "--outer\r\n"
        "Content-Type: multipart/alternative; boundary=inner\r\n"
        "\r\n"
        "--inner\r\n"
        "Content-Type: text/plain; charset=us-ascii\r\n"
        "\r\n"
        "plain text\r\n"
        "--inner\r\n"
        "Content-Type: text/html\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n"
        "\r\n"
        "<p>html =3D text</p>\r\n"
        "--inner--\r\n"
        "--outer\r\n"
        "Content-Type: application/pdf; name=\"doc.pdf\"\r\n"
        "Content-Disposition: attachment; filename=\"doc.pdf\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "\r\n"
        "AAECAwQ=\r\n"
        "--outer--\r\n";
    auto m = MessageFromText(raw);
    ASSERT_EQ(m->TextParts.size(), 2u);
    EXPECT_EQ(m->TextParts[0].bodyText(), "plain text\r\n");
    EXPECT_NE(m->TextParts[1].headerText().find("text/html"), std::string::npos);
    EXPECT_EQ(m->TextParts[1].bodyText(), "<p>html = text</p>\r\n");
    ASSERT_EQ(m->Attachments.size(), 1u);
    EXPECT_EQ(m->Attachments[0].FileName, "doc.pdf");
    EXPECT_EQ(m->Attachments[0].ContentType, "application/pdf");
    EXPECT_EQ(m->Attachments[0].Data, std::string("\0\1\2\3\4", 5));
    EXPECT_EQ(MessageBodyText(*m), "plain text\r\n");
}

TEST(MessageFromText, MultipartWrittenWithAttachmentsReadsBack) {
    Mail m = composed();
    m.Attachments.push_back({{}, "data.bin", "application/octet-stream", std::string("\0\xFF\r\n.", 5)});
    m.Attachments.push_back({{}, "r\xE9sum\xE9.txt", "text/plain", "cv"});
    auto back = MessageFromText(MessageToText(&m));
    ASSERT_EQ(back->Attachments.size(), 2u);
    EXPECT_EQ(back->Attachments[0].Data, std::string("\0\xFF\r\n.", 5));
    EXPECT_EQ(back->Attachments[1].FileName, "r\xE9sum\xE9.txt");
    ASSERT_EQ(back->TextParts.size(), 1u);
    EXPECT_EQ(back->TextParts[0].bodyText(), "line one\r\nline two\r\n");
}

TEST(MessageToText, ARewrittenMailDeclaresTheCodePageItsTextIsNowIn) {
    auto received = MessageFromText(
        "Subject: s\r\nContent-Type: text/plain; charset=utf-8; format=flowed\r\n"
        "Content-Transfer-Encoding: 8bit\r\n\r\ncaf\xC3\xA9\r\n");
    EXPECT_EQ(received->bodyText(), "caf\xE9\r\n");
    auto again = MessageFromText(MessageToText(received.get()));
    EXPECT_EQ(again->ContentType, "text/plain; charset=windows-1252");
    EXPECT_EQ(again->bodyText(), "caf\xE9\r\n");
}
