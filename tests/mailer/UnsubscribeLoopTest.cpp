// What every sent mail carries for today's mail services (a unique Message-ID, a Date, and the
// group's List-Unsubscribe), and one real loop over encrypted connections: a mail sent over
// STARTTLS with List-Unsubscribe, the recipient's "unsubscribe" answer sent to that address,
// read over POP3S by the group's Unsubscribe parser, the contact unsubscribed.
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

mailtext::Pop3Settings mailbox(const mailnet::MailServers& servers, const std::string& user) {
    mailtext::Pop3Settings pop;
    pop.Host = "127.0.0.1";
    pop.Port = servers.Pop3sPort;
    pop.UserName = user;
    pop.Password = servers.MailboxPassword;
    pop.Tls.Security = mailtext::MailSecurity::Tls;
    return pop;
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

TEST(UnsubscribeLoop, TheAnswerToListUnsubscribeTakesTheContactOffTheList) {
    options::ResetToDefaults();
    const auto servers = mailnet::MailServers::load();
    if (!servers) GTEST_SKIP() << "CORVANE_MAILSERVERS is not set: run through ctest";
    options::KeepUnsubscribed = true;
    // user14 is the list's unsubscribe mailbox, user13 the subscriber's (shared with other tests,
    // so the mail is found by its subject).
    const mailtext::Pop3Settings listBox = mailbox(*servers, "user14");
    {
        mailtext::Pop3Client client(listBox);
        client.connect();
        for (int n = client.messageCount(); n > 0; --n) client.deleteMessage(n);
        client.quit();
    }
    TcvSetup setup;
    auto* sending = new TcvAccount;
    sending->ServerName = "127.0.0.1";
    sending->PortSmtp = servers->SmtpStartTlsPort;
    sending->SecuritySmtp = 1;
    sending->Authentication = TcvAuthentication::Login;
    sending->UserName = servers->SmtpLogin;
    sending->Password = servers->SmtpPassword;
    sending->Sender = "news@corvane.test";
    sending->SendPause = 0;
    setup.AddAccount(sending);
    auto* receiving = new TcvAccount;
    receiving->ServerName = "127.0.0.1";
    receiving->PortPop3 = servers->Pop3sPort;
    receiving->SecurityPop3 = 2;
    receiving->UserName = "user14";
    receiving->Password = servers->MailboxPassword;
    setup.AddAccount(receiving);
    auto* group = new TcvGroup;
    setup.AddGroup(group);
    group->SetName("Members");
    group->Account = sending;
    group->UnsubscribeAddress = "user14@corvane.test";
    auto* message = new TcvMessage;
    group->AddMessage(message);
    message->SetTitle("Welcome");
    const std::string subject = "Welcome " + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    message->Subject = subject;
    message->BodyPlain = "Hello %FirstName";
    auto* contact = new TcvContact;
    contact->Email = "user13@corvane.test";
    contact->FirstName = "Ann";
    group->AddContact(contact);
    auto* parser = new TcvParser;
    group->AddParser(parser);
    parser->Account = receiving;
    parser->Action = TcvParserAction::Unsubscribe;
    parser->TriggerSubj = true;
    parser->TriggerSubjWords = "remove;unsubscribe";
    parser->Started = true;

    TcvMailer mailer(&setup);
    mailer.SendToContact(sending, message, contact);

    // The subscriber's mail program follows the header.
    std::string listUnsubscribe;
    {
        mailtext::Pop3Client client(mailbox(*servers, "user13"));
        client.connect();
        for (int n = client.messageCount(); n > 0 && listUnsubscribe.empty(); --n) {
            const auto mail = client.retrieveHeader(n);
            if (mail->Subject != subject) continue;
            listUnsubscribe = mail->Headers.value("List-Unsubscribe");
            client.deleteMessage(n);
        }
        client.quit();
    }
    ASSERT_EQ(listUnsubscribe, "<mailto:user14@corvane.test?subject=unsubscribe>");
    const std::string to = listUnsubscribe.substr(8, listUnsubscribe.find('?') - 8);
    mailtext::Mail answer;
    mailtext::OutgoingMail fields;
    fields.ToAddress = to;
    fields.From = "Ann <user13@corvane.test>";
    fields.Subject = "unsubscribe";
    mailtext::FillOutgoingMail(answer, fields);
    mailtext::SmtpSettings smtp = SmtpSettingsOf(*sending);
    mailtext::SendOneMail(smtp, answer);

    ASSERT_FALSE(contact->Unsubscribed);
    parser->CheckMailbox();
    ASSERT_EQ(group->ContactCount(), 1);
    EXPECT_TRUE(group->Contacts(0)->Unsubscribed);
    options::ResetToDefaults();
}
