// What every sent mail carries for today's mail services: a unique Message-ID, a Date, and the
// group's List-Unsubscribe.
#include "mailer/cvMailer.h"
#include "mailtext/IdMessageHelpers.h"
#include "mailtext/Pop3Client.h"
#include "mailtext/SmtpClient.h"
#include "options/OptionRefs.h"
#include "tests/mailer/SmtpSink.h"
#include "tests/mailnet/MailServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>

namespace {

std::string header(const std::string& mail, const std::string& name) {
    const std::string text = "\r\n" + mail.substr(0, mail.find("\r\n\r\n") + 2);
    const size_t at = text.find("\r\n" + name + ": ");
    if (at == std::string::npos) return {};
    const size_t start = at + name.size() + 4;
    return text.substr(start, text.find("\r\n", start) - start);
}

}  // namespace

TEST(SentHeaders, EveryMailHasItsOwnMessageIdOnTheSendersDomainAndADate) {
    SmtpSink sink;
    mailtext::SmtpSettings settings;
    settings.Host = "127.0.0.1";
    settings.Port = sink.port();
    mailtext::Mail mail;
    mailtext::OutgoingMail fields;
    fields.ToAddress = "ann@example.com";
    fields.From = "News <news@lists.example.org>";
    fields.Subject = "Issue";
    fields.PlainBody = "Text";
    mailtext::FillOutgoingMail(mail, fields);
    mailtext::SmtpClient client(settings);
    client.connect();
    for (int i = 0; i < 1000; ++i) client.send(mail);
    client.quit();
    const auto mails = sink.mails();
    ASSERT_EQ(mails.size(), 1000u);
    std::set<std::string> ids;
    for (const std::string& m : mails) {
        const std::string id = header(m, "Message-ID");
        EXPECT_TRUE(id.starts_with("<") && id.ends_with("@lists.example.org>")) << id;
        EXPECT_EQ(id.find_first_of(" \t"), std::string::npos) << id;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 1000u);
    // "Wed, 9 Dec 2026 22:13:29 +0100": day, date, time and a numeric zone.
    const std::string date = header(mails[0], "Date");
    EXPECT_EQ(date.find(", "), 3u) << date;
    EXPECT_TRUE(date.size() > 5 && (date[date.size() - 5] == '+' || date[date.size() - 5] == '-')) << date;
    // Without a group address there is no List-Unsubscribe; a hostile address cannot add headers.
    EXPECT_EQ(header(mails[0], "List-Unsubscribe"), "");
    mail.ListUnsubscribe = "leave@x.org>\r\nBcc: all@x.org";
    EXPECT_EQ(header(mailtext::MessageToText(&mail), "List-Unsubscribe"), "<mailto:leave@x.orgBcc:all@x.org?subject=unsubscribe>");
    EXPECT_EQ(header(mailtext::MessageToText(&mail), "Bcc"), "");
}
