#pragma once
// An SMTP connection for sending prepared mails. Nothing of the network library shows here.
#include "mailtext/Mail.h"
#include "mailtext/MailSecurity.h"
#include "mailtext/NetTimeouts.h"

#include <memory>
#include <string>

namespace mailtext {

// Stored as a number in the setup: 0 none, 1 log in (AUTH LOGIN, or AUTH PLAIN when the server
// offers only that).
enum class SmtpAuthentication { None = 0, Login = 1 };

struct SmtpSettings {
    std::string Host;
    int Port = 25;
    std::string UserName;
    std::string Password;
    SmtpAuthentication Authentication = SmtpAuthentication::None;
    NetTimeouts Timeouts;
    TlsSettings Tls;
};

// Every call blocks through the anti-freeze and throws EMailError kinds. Every reply must arrive
// whole within the reply time and within bounded size. After a time-out, a broken connection or
// a reply that is not SMTP the client has already dropped the connection; after a negative reply
// the transaction has been reset (RSET), the client is still connected and the caller chooses
// send(), quit() or drop(). The destructor drops without QUIT.
class SmtpClient {
public:
    explicit SmtpClient(SmtpSettings settings);
    ~SmtpClient();
    SmtpClient(const SmtpClient&) = delete;
    SmtpClient& operator=(const SmtpClient&) = delete;

    // Connects, greets the server, secures the connection as Tls asks and logs in when
    // authentication is set. With STARTTLS asked for, a server that does not offer it ends in
    // EMailSecurityError before any login; a refused certificate in EMailCertificateError.
    void connect();
    bool connected() const;
    // MAIL FROM, RCPT TO for every recipient, DATA with the mail. Throws EMailInvalid before
    // talking to the server when the mail has no recipient or an unusable address. Recipients the
    // server refuses do not stop the mail going to those it accepted; the refused ones are then
    // reported by EMailRecipientRefused after the mail went out (or instead, when none remains).
    void send(const Mail& mail);
    // Says goodbye (QUIT) and closes; the connection is gone afterwards even when QUIT fails.
    void quit();
    // Closes without QUIT.
    void drop() noexcept;

private:
    struct Session;
    SmtpSettings settings_;
    std::unique_ptr<Session> session_;
};

// One complete connection for one mail: connect, send, QUIT. A mail the server refuses still ends
// with QUIT; a time-out or a broken connection ends with the connection dropped. The error goes on
// to the caller in every case.
void SendOneMail(const SmtpSettings& settings, const Mail& mail);

}  // namespace mailtext
