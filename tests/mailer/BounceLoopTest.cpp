// One real loop for bounces: the mailer sends a message to a contact, a mail server reports it
// undeliverable to the list's mailbox, and a started parser reading delivery reports counts the
// bounce on that contact alone.
#include "mailer/cvMailer.h"
#include "mailtext/Pop3Client.h"
#include "options/OptionRefs.h"
#include "tests/mailnet/MailServers.h"

#include <Poco/Net/DialogSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <gtest/gtest.h>

namespace {

mailtext::Pop3Settings mailbox(const mailnet::MailServers& servers, const std::string& user) {
    mailtext::Pop3Settings pop;
    pop.Host = "127.0.0.1";
    pop.Port = servers.Pop3Port;
    pop.UserName = user;
    pop.Password = servers.MailboxPassword;
    return pop;
}

void empty(const mailtext::Pop3Settings& pop) {
    mailtext::Pop3Client client(pop);
    client.connect();
    for (int n = client.messageCount(); n > 0; --n) client.deleteMessage(n);
    client.quit();
}

// Delivers raw message text with a null envelope sender, as mail servers send their reports.
void deliverReport(int port, const std::string& to, const std::string& text) {
    Poco::Net::DialogSocket smtp(Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)));
    std::string reply;
    ASSERT_EQ(smtp.receiveStatusMessage(reply), 220) << reply;
    for (const auto& [command, code] : std::vector<std::pair<std::string, int>>{
             {"EHLO mx.example.net", 250}, {"MAIL FROM:<>", 250}, {"RCPT TO:<" + to + ">", 250}, {"DATA", 354}}) {
        smtp.sendMessage(command);
        ASSERT_EQ(smtp.receiveStatusMessage(reply), code) << command << ": " << reply;
    }
    std::string data;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        data += (line.rfind('.', 0) == 0 ? "." : "") + line + "\r\n";
        start = end + 2;
    }
    smtp.sendString(data);
    smtp.sendMessage(".");
    ASSERT_EQ(smtp.receiveStatusMessage(reply), 250) << reply;
    smtp.sendMessage("QUIT");
    smtp.receiveStatusMessage(reply);
}

TEST(BounceLoop, AReportOnASentMailRaisesExactlyThatContactsBounceCount) {
    options::ResetToDefaults();
    const auto servers = mailnet::MailServers::load();
    if (!servers) GTEST_SKIP() << "CORVANE_MAILSERVERS is not set: run through ctest";
    const mailtext::Pop3Settings listBox = mailbox(*servers, "user10");
    const mailtext::Pop3Settings contactBox = mailbox(*servers, "user11");
    empty(listBox);
    empty(contactBox);

    TcvSetup setup;
    auto* account = new TcvAccount;
    account->ServerName = "127.0.0.1";
    account->PortSmtp = servers->SmtpOpenPort;
    account->PortPop3 = servers->Pop3Port;
    account->UserName = "user10";
    account->Password = servers->MailboxPassword;
    account->Sender = "user10@example.com";
    account->ReplyTo = "owner@example.com";
    account->SendPause = 0;
    account->SendReuse = 1;
    setup.AddAccount(account);
    auto* group = new TcvGroup;
    setup.AddGroup(group);
    group->SetName("Members");
    group->Account = account;
    auto* message = new TcvMessage;
    group->AddMessage(message);
    message->SetTitle("Welcome");
    message->Subject = "Welcome %FirstName";
    message->BodyPlain = "Hello %FirstName, write to owner@example.com or see other@example.com.";
    // The list's own addresses and another subscriber are contacts too, as in a real list.
    std::vector<TcvContact*> contacts;
    for (const char* email : {"user11@example.com", "other@example.com", "user10@example.com", "owner@example.com"}) {
        auto* c = new TcvContact;
        c->Email = email;
        c->FirstName = "Ann";
        group->AddContact(c);
        contacts.push_back(c);
    }
    TcvContact* target = contacts[0];

    TcvMailer mailer(&setup);
    mailer.SendToContact(account, message, target);
    std::string sent;
    {
        mailtext::Pop3Client client(contactBox);
        client.connect();
        ASSERT_EQ(client.messageCount(), 1);
        sent = client.retrieveRaw(1);
        client.deleteMessage(1);
        client.quit();
    }
    const std::string report =
        "From: Mail Delivery System <MAILER-DAEMON@mx.example.net>\r\n"
        "To: user10@example.com\r\n"
        "Subject: Undelivered Mail Returned to Sender\r\n"
        "Auto-Submitted: auto-replied\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: multipart/report; report-type=delivery-status; boundary=\"NDR.1\"\r\n"
        "\r\n"
        "--NDR.1\r\n"
        "Content-Type: text/plain; charset=us-ascii\r\n"
        "\r\n"
        "Your message could not be delivered to one or more recipients.\r\n"
        "\r\n"
        "<user11@example.com>: host mx.example.net said: 550 5.1.1 mailbox unavailable\r\n"
        "\r\n"
        "--NDR.1\r\n"
        "Content-Type: message/delivery-status\r\n"
        "\r\n"
        "Reporting-MTA: dns; mx.example.net\r\n"
        "\r\n"
        "Final-Recipient: rfc822; user11@example.com\r\n"
        "Action: failed\r\n"
        "Status: 5.1.1\r\n"
        "Diagnostic-Code: smtp; 550 5.1.1 mailbox unavailable\r\n"
        "\r\n"
        "--NDR.1\r\n"
        "Content-Type: message/rfc822\r\n"
        "\r\n" +
        sent +
        "\r\n--NDR.1--\r\n";
    deliverReport(servers->SmtpOpenPort, "user10@example.com", report);

    auto* subscribe = new TcvParser;
    group->AddParser(subscribe);
    subscribe->Account = account;
    subscribe->Started = true;
    subscribe->TriggerSubj = true;
    subscribe->TriggerSubjWords = "subscribe";
    auto* bounces = new TcvParser;
    group->AddParser(bounces);
    bounces->Account = account;
    bounces->Action = TcvParserAction::Bounce;
    bounces->ContactSource = TcvContactSource::DeliveryReport;
    bounces->Started = true;
    std::vector<std::string> events;
    setup.OnParserAction = [&](TcvParser* p, TcvContact* c, TcvGroup*, int code) {
        events.push_back((p == bounces ? "bounces:" : "other:") + std::to_string(code) + ":" + c->Email);
    };
    // The first parser does not take the report; it goes on to the next one reading the mailbox.
    subscribe->CheckMailbox();
    EXPECT_EQ(events, std::vector<std::string>{"bounces:1:user11@example.com"});
    EXPECT_EQ(target->Bounces, 1);
    for (size_t i = 1; i < contacts.size(); ++i) EXPECT_EQ(contacts[i]->Bounces, 0) << contacts[i]->Email;
    // Handled, so removed from the server.
    mailtext::Pop3Client client(listBox);
    client.connect();
    EXPECT_EQ(client.messageCount(), 0);
    client.quit();
    options::ResetToDefaults();
}

}  // namespace
