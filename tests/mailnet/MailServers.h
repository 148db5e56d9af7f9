#pragma once
// Settings of the real test mail servers, read from the file the mailservers fixture writes.
#include "mailtext/IdMessageHelpers.h"
#include "mailtext/Pop3Client.h"
#include "mailtext/SmtpClient.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>

namespace mailnet {

struct MailServers {
    int SmtpAuthPort = 0;
    int SmtpOpenPort = 0;
    int Pop3Port = 0;
    std::string SmtpLogin;
    std::string SmtpPassword;
    std::string MailboxPassword;
    int SmtpStartTlsPort = 0;
    int SmtpsPort = 0;
    int SmtpsWrongNamePort = 0;
    int SmtpsUntrustedPort = 0;
    int Pop3StlsPort = 0;
    int Pop3sPort = 0;
    // As openssl prints it: upper-case pairs separated by colons.
    std::string UntrustedFingerprint;

    // Empty when the tests run outside ctest (no CORVANE_MAILSERVERS); throws when the file the
    // variable names cannot be read, since then the fixture failed. The test servers' throw-away
    // authority becomes the one the TLS layer trusts (in place of the system's).
    static std::optional<MailServers> load() {
        const char* file = std::getenv("CORVANE_MAILSERVERS");
        if (!file || !*file) return std::nullopt;
        std::ifstream in(file);
        if (!in) throw std::runtime_error(std::string("cannot read ") + file);
        std::map<std::string, std::string> v;
        for (std::string line; std::getline(in, line);) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) v[line.substr(0, eq)] = line.substr(eq + 1);
        }
        MailServers s;
        s.SmtpAuthPort = std::stoi(v.at("SMTP_AUTH_PORT"));
        s.SmtpOpenPort = std::stoi(v.at("SMTP_OPEN_PORT"));
        s.Pop3Port = std::stoi(v.at("POP3_PORT"));
        s.SmtpLogin = v.at("SMTP_LOGIN");
        s.SmtpPassword = v.at("SMTP_PASSWORD");
        s.MailboxPassword = v.at("MAILBOX_PASSWORD");
        s.SmtpStartTlsPort = std::stoi(v.at("SMTP_STARTTLS_PORT"));
        s.SmtpsPort = std::stoi(v.at("SMTPS_PORT"));
        s.SmtpsWrongNamePort = std::stoi(v.at("SMTPS_WRONGNAME_PORT"));
        s.SmtpsUntrustedPort = std::stoi(v.at("SMTPS_UNTRUSTED_PORT"));
        s.Pop3StlsPort = std::stoi(v.at("POP3_STLS_PORT"));
        s.Pop3sPort = std::stoi(v.at("POP3S_PORT"));
        s.UntrustedFingerprint = v.at("UNTRUSTED_FINGERPRINT");
        ::setenv("SSL_CERT_FILE", v.at("TLS_CA_FILE").c_str(), 1);
        return s;
    }

    // The POP3 settings of one of the test mailboxes.
    mailtext::Pop3Settings Mailbox(const std::string& user) const {
        mailtext::Pop3Settings pop;
        pop.Host = "127.0.0.1";
        pop.Port = Pop3Port;
        pop.UserName = user;
        pop.Password = MailboxPassword;
        return pop;
    }
};

// Delivers a plain-text mail as anyone outside would send it: through the server's port that asks
// for a login.
inline void Deliver(const MailServers& servers, const std::string& to, const std::string& from,
                    const std::string& subject, const std::string& body) {
    mailtext::Mail mail;
    mailtext::OutgoingMail fields;
    fields.ToAddress = to;
    fields.From = from;
    fields.Subject = subject;
    fields.PlainBody = body;
    mailtext::FillOutgoingMail(mail, fields);
    mailtext::SmtpSettings smtp;
    smtp.Host = "127.0.0.1";
    smtp.Port = servers.SmtpAuthPort;
    smtp.UserName = servers.SmtpLogin;
    smtp.Password = servers.SmtpPassword;
    smtp.Authentication = mailtext::SmtpAuthentication::Login;
    mailtext::SendOneMail(smtp, mail);
}

}  // namespace mailnet
