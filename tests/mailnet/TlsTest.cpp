// Encrypted connections against the real test servers (aiosmtpd with STARTTLS and with TLS from
// the start, dovecot with STLS and POP3S, all with a certificate from the run's own authority) and
// against scripted servers that do not offer encryption. Mails go to user13 and are found again by
// their subject, so these tests may run beside each other.
#include "mailtext/IdMessageHelpers.h"
#include "mailtext/MailErrors.h"
#include "mailtext/Pop3Client.h"
#include "mailtext/SmtpClient.h"
#include "tests/mailnet/FaultServer.h"
#include "tests/mailnet/MailServers.h"
#include "tests/mailnet/QuitDuringCall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace mailtext;

namespace {

class TlsServers : public ::testing::Test {
protected:
    void SetUp() override {
        auto loaded = mailnet::MailServers::load();
        if (!loaded) GTEST_SKIP() << "CORVANE_MAILSERVERS is not set: run through ctest";
        servers = *loaded;
    }

    SmtpSettings smtp(int port, MailSecurity security) const {
        SmtpSettings s;
        s.Host = "127.0.0.1";
        s.Port = port;
        s.UserName = servers.SmtpLogin;
        s.Password = servers.SmtpPassword;
        s.Authentication = SmtpAuthentication::Login;
        s.Tls.Security = security;
        s.Timeouts.ConnectMs = 30000;
        s.Timeouts.ReplyMs = 30000;
        return s;
    }

    Pop3Settings pop3(int port, MailSecurity security) const {
        Pop3Settings s;
        s.Host = "127.0.0.1";
        s.Port = port;
        s.UserName = "user13";
        s.Password = servers.MailboxPassword;
        s.Tls.Security = security;
        s.Timeouts.ConnectMs = 30000;
        s.Timeouts.ReplyMs = 30000;
        return s;
    }

    static std::string uniqueSubject(const std::string& what) {
        return what + " " + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    }

    static Mail mailWith(const std::string& subject) {
        Mail m;
        OutgoingMail f;
        f.ToName = "Ann";
        f.ToAddress = "user13@corvane.test";
        f.Subject = subject;
        f.PlainBody = "Sent encrypted.\n.\nThe end.\n";
        f.From = "Lists <lists@corvane.test>";
        f.UnsubscribeAddress = "leave@corvane.test";
        FillOutgoingMail(m, f);
        return m;
    }

    // Reads the mail with that subject out of the mailbox and removes it.
    std::unique_ptr<Mail> take(const Pop3Settings& settings, const std::string& subject) {
        Pop3Client pop(settings);
        pop.connect();
        std::unique_ptr<Mail> found;
        for (int n = pop.messageCount(); n > 0 && !found; --n) {
            if (pop.retrieveHeader(n)->Subject != subject) continue;
            found = pop.retrieve(n);
            pop.deleteMessage(n);
        }
        pop.quit();
        return found;
    }

    mailnet::MailServers servers;
};

std::string expectCertificateRefused(const SmtpSettings& settings) {
    SmtpClient client(settings);
    try {
        client.connect();
    } catch (const EMailCertificateError& e) {
        EXPECT_FALSE(client.connected());
        EXPECT_EQ(e.Host, "127.0.0.1");
        EXPECT_EQ(e.Fingerprint.size(), 64u);
        EXPECT_NE(std::string(e.what()).find("the certificate of 127.0.0.1 was refused"), std::string::npos) << e.what();
        return e.what();
    }
    ADD_FAILURE() << "the certificate was taken";
    return {};
}

// Settings for a scripted server on the loopback: a login as "someone" with "secret".
template <typename Settings>
Settings scripted(int port, MailSecurity security) {
    Settings s;
    s.Host = "127.0.0.1";
    s.Port = port;
    s.UserName = "someone";
    s.Password = "secret";
    s.Tls.Security = security;
    return s;
}

}  // namespace

TEST_F(TlsServers, StartTlsLoginSendsAndStlsReadsBackWithTheNewHeaders) {
    const std::string subject = uniqueSubject("STARTTLS");
    SendOneMail(smtp(servers.SmtpStartTlsPort, MailSecurity::StartTls), mailWith(subject));
    auto mail = take(pop3(servers.Pop3StlsPort, MailSecurity::StartTls), subject);
    ASSERT_TRUE(mail);
    EXPECT_EQ(mail->bodyText(), "Sent encrypted.\r\n.\r\nThe end.\r\n");
    EXPECT_EQ(mail->Headers.value("List-Unsubscribe"), "<mailto:leave@corvane.test?subject=unsubscribe>");
    const std::string id = mail->Headers.value("Message-ID");
    EXPECT_EQ(id.front(), '<');
    EXPECT_TRUE(id.ends_with("@corvane.test>")) << id;
    // RFC 5322 form: "Wed, 9 Dec 2026 22:13:29 +0000".
    EXPECT_NE(mail->Headers.value("Date").find(','), std::string::npos) << mail->Headers.value("Date");
}

TEST_F(TlsServers, TlsFromTheStartSendsAndPop3sReadsBack) {
    const std::string subject = uniqueSubject("SMTPS");
    SmtpClient client(smtp(servers.SmtpsPort, MailSecurity::Tls));
    client.connect();
    client.send(mailWith(subject));
    client.send(mailWith(subject + " second"));
    client.quit();
    auto mail = take(pop3(servers.Pop3sPort, MailSecurity::Tls), subject);
    ASSERT_TRUE(mail);
    EXPECT_EQ(mail->bodyText(), "Sent encrypted.\r\n.\r\nThe end.\r\n");
    EXPECT_TRUE(take(pop3(servers.Pop3sPort, MailSecurity::Tls), subject + " second"));
}

TEST_F(TlsServers, WithoutStartTlsTheServerRefusesTheLogin) {
    // The account is plain while the server insists: the login fails, nothing goes out encrypted
    // by surprise and the plain dialogue is what it always was.
    SmtpClient client(smtp(servers.SmtpStartTlsPort, MailSecurity::None));
    EXPECT_THROW(client.connect(), EMailAuthError);
    // A TLS account on a port that speaks in clear fails in the handshake, never in clear.
    SmtpClient wrongPort(smtp(servers.SmtpStartTlsPort, MailSecurity::Tls));
    EXPECT_THROW(wrongPort.connect(), EMailSecurityError);
    EXPECT_FALSE(wrongPort.connected());
}

TEST_F(TlsServers, AnUntrustedCertificateIsRefusedUnlessItsFingerprintWasAccepted) {
    SmtpSettings settings = smtp(servers.SmtpsUntrustedPort, MailSecurity::Tls);
    const std::string message = expectCertificateRefused(settings);
    EXPECT_NE(message.find("self-signed"), std::string::npos) << message;
    EXPECT_NE(message.find(servers.UntrustedFingerprint), std::string::npos) << message;

    // Accepted as tools print it, that certificate and only that one is taken.
    settings.Tls.TrustedCertificate = servers.UntrustedFingerprint;
    SmtpClient client(settings);
    client.connect();
    EXPECT_TRUE(client.connected());
    client.quit();
    SmtpSettings other = smtp(servers.SmtpsWrongNamePort, MailSecurity::Tls);
    other.Tls.TrustedCertificate = servers.UntrustedFingerprint;
    expectCertificateRefused(other);
}

TEST_F(TlsServers, ACertificateMadeOutToAnotherNameIsRefused) {
    const std::string message = expectCertificateRefused(smtp(servers.SmtpsWrongNamePort, MailSecurity::Tls));
    EXPECT_NE(message.find("elsewhere.corvane.test"), std::string::npos) << message;
}

TEST(TlsDowngrade, AServerWithoutStartTlsIsRefusedBeforeAnyPassword) {
    mailnet::FaultServer server([](mailnet::FaultConnection& c) {
        c.send("220 fault.test ESMTP");
        c.readLine();
        // Offers a login but no STARTTLS, as a server would whose answer was tampered with.
        c.send("250-fault.test\r\n250 AUTH LOGIN PLAIN");
    });
    SmtpSettings s = scripted<SmtpSettings>(server.port(), MailSecurity::StartTls);
    s.Authentication = SmtpAuthentication::Login;
    SmtpClient client(s);
    try {
        client.connect();
        ADD_FAILURE() << "connected without STARTTLS";
    } catch (const EMailSecurityError& e) {
        EXPECT_NE(std::string(e.what()).find("does not offer STARTTLS"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(server.clientClosed());
    for (const std::string& line : server.lines()) {
        EXPECT_EQ(line.find("AUTH"), std::string::npos) << line;
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
    }
}

TEST(TlsDowngrade, APop3ServerWithoutStlsIsRefusedBeforeTheUserName) {
    mailnet::FaultServer server([](mailnet::FaultConnection& c) {
        c.send("+OK fault.test POP3");
        c.readLine();
        c.send("-ERR unknown command");
    });
    Pop3Client client(scripted<Pop3Settings>(server.port(), MailSecurity::StartTls));
    EXPECT_THROW(client.connect(), EMailSecurityError);
    EXPECT_FALSE(client.connected());
    EXPECT_TRUE(server.clientClosed());
    EXPECT_EQ(server.lines(), std::vector<std::string>{"STLS"});
}

TEST(TlsHandshake, AServerThatNeverAnswersTheHandshakeEndsInATimeout) {
    // Accepts the connection and stays silent.
    mailnet::FaultServer server([](mailnet::FaultConnection&) {});
    Pop3Settings s = scripted<Pop3Settings>(server.port(), MailSecurity::Tls);
    s.Timeouts.ReplyMs = 300;
    Pop3Client client(s);
    try {
        client.connect();
        ADD_FAILURE() << "connected to a silent server";
    } catch (const EMailTimeout& e) {
        EXPECT_EQ(std::string(e.what()).rfind("POP3 connect", 0), 0u) << e.what();
    }
    EXPECT_FALSE(client.connected());
}

TEST(TlsHandshake, QuittingTheProgramWakesAWaitingHandshake) {
    // Accepts and never answers the handshake.
    std::atomic<bool> accepted{false};
    mailnet::FaultServer server([&](mailnet::FaultConnection&) { accepted = true; });
    SmtpSettings settings = scripted<SmtpSettings>(server.port(), MailSecurity::Tls);
    settings.Timeouts.ReplyMs = 600000;  // far beyond the test's own time limit
    const mailnet::QuitOutcome outcome = mailnet::quitDuring([&] { return accepted.load(); }, [&] {
        SmtpClient client(settings);
        client.connect();
    });
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_FALSE(outcome.timedOut) << *outcome.error;
    EXPECT_EQ(outcome.error->rfind("SMTP connect", 0), 0u) << *outcome.error;
}

TEST(SmtpLoginMethod, PlainWhenTheServerOffersOnlyThatAndNoneWhenItOffersNothingKnown) {
    mailnet::FaultServer plainOnly([](mailnet::FaultConnection& c) {
        c.send("220 fault.test ESMTP");
        c.readLine();
        c.send("250-fault.test\r\n250 AUTH CRAM-MD5 PLAIN");
        c.readLine();
        c.send("235 2.7.0 Authentication successful");
        c.readLine();
        c.send("221 bye");
    });
    SmtpSettings s = scripted<SmtpSettings>(plainOnly.port(), MailSecurity::None);
    s.UserName = "ann";
    s.Password = "pw";
    s.Authentication = SmtpAuthentication::Login;
    {
        SmtpClient client(s);
        client.connect();
        client.quit();
    }
    const auto lines = plainOnly.lines();
    ASSERT_GE(lines.size(), 2u);
    // base64 of NUL "ann" NUL "pw".
    EXPECT_EQ(lines[1], "AUTH PLAIN AGFubgBwdw==");

    mailnet::FaultServer unknown([](mailnet::FaultConnection& c) {
        c.send("220 fault.test ESMTP");
        c.readLine();
        c.send("250-fault.test\r\n250 AUTH XOAUTH2");
    });
    s.Port = unknown.port();
    SmtpClient client(s);
    try {
        client.connect();
        ADD_FAILURE() << "logged in without a known method";
    } catch (const EMailAuthError& e) {
        EXPECT_NE(std::string(e.what()).find("XOAUTH2"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(unknown.clientClosed());
    EXPECT_EQ(unknown.lines().size(), 1u);
}
