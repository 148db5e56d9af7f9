#pragma once
// A main window with one account on the real test servers: SMTP without login on the open port,
// POP3 on a mailbox of its own (user15 receives, user16 is the mailbox that is checked).
#include "mailtext/IdMessageHelpers.h"
#include "mailtext/Pop3Client.h"
#include "mailtext/SmtpClient.h"
#include "tests/mailnet/MailServers.h"
#include "tests/ui/UiTestSupport.h"

#include <QCoreApplication>
#include <QEvent>

#include <string>
#include <vector>

class ServerWindowTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        const auto loaded = mailnet::MailServers::load();
        if (!loaded) GTEST_SKIP() << "CORVANE_MAILSERVERS is not set: run through ctest";
        servers = *loaded;
        w = makeWindow();
        account = addAccount(*w->Setup, "Local");
        account->ServerName = "127.0.0.1";
        account->PortSmtp = servers.SmtpOpenPort;
        account->PortPop3 = servers.Pop3Port;
        account->UserName = Checked;
        account->Password = servers.MailboxPassword;
        account->UseForReceiving = true;
        empty(Received);
        empty(Checked);
    }
    void TearDown() override {
        w.reset();
        flushDeletions();
        UiTest::TearDown();
    }

    static void flushDeletions() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    mailtext::Pop3Settings mailbox(const std::string& user) const { return servers.Mailbox(user); }
    void empty(const std::string& user) const {
        mailtext::Pop3Client pop(mailbox(user));
        pop.connect();
        for (int n = pop.messageCount(); n > 0; --n) pop.deleteMessage(n);
        pop.quit();
    }
    // The raw text of every mail in the mailbox, in order; nothing is deleted.
    std::vector<std::string> mails(const std::string& user) const {
        mailtext::Pop3Client pop(mailbox(user));
        pop.connect();
        std::vector<std::string> all;
        for (int n = 1, count = pop.messageCount(); n <= count; ++n) all.push_back(pop.retrieveRaw(n));
        pop.quit();
        return all;
    }
    // A mail from someone else arriving in the mailbox.
    void deliver(const std::string& user, const std::string& subject, const std::string& body) const {
        mailnet::Deliver(servers, user + "@example.com", "sender@example.org", subject, body);
    }

    static constexpr const char* Received = "user15";
    static constexpr const char* Checked = "user16";
    mailnet::MailServers servers;
    std::unique_ptr<TestWindow> w;
    TcvAccount* account = nullptr;
};
