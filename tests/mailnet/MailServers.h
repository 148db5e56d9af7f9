#pragma once
// Settings of the real test mail servers, read from the file the mailservers fixture writes.
#include "mailtext/Pop3Client.h"

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

    // Empty when the tests run outside ctest (no CORVANE_MAILSERVERS); throws when the file the
    // variable names cannot be read, since then the fixture failed.
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

}  // namespace mailnet
