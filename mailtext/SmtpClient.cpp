#include "mailtext/SmtpClient.h"

#include "mailtext/MailWire.h"
#include "mailtext/NetGuard.h"
#include "mailtext/SocketConnect.h"

#include <Poco/Net/MailMessage.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SMTPClientSession.h>

#include <algorithm>

namespace mailtext {

namespace {

// The library's session with its dialogue socket reachable, so that a mail rendered beforehand
// can go out as one block and its reply be read on the same buffered socket.
class LibrarySession : public Poco::Net::SMTPClientSession {
public:
    using SMTPClientSession::SMTPClientSession;
    using SMTPClientSession::socket;
};

}  // namespace

struct SmtpClient::Session {
    Poco::Net::StreamSocket socket;
    std::unique_ptr<LibrarySession> smtp;
};

SmtpClient::SmtpClient(SmtpSettings settings) : settings_(std::move(settings)) {}

SmtpClient::~SmtpClient() { drop(); }

bool SmtpClient::connected() const { return session_ != nullptr; }

void SmtpClient::connect() {
    drop();
    auto session = std::make_unique<Session>();
    try {
        net::guarded("SMTP connect", [&] {
            session->socket = net::connectSocket(settings_.Host, settings_.Port, settings_.Timeouts, "SMTP connect");
            // A dialogue of writes each followed by a wait for the reply: with Nagle's algorithm a
            // write that follows one not yet acknowledged waits for the server's delayed ACK, which
            // cost about 40 ms a mail while the mail went out in 1 KB pieces.
            session->socket.setNoDelay(true);
            session->smtp = std::make_unique<LibrarySession>(session->socket);
            session->smtp->setTimeout(Poco::Timespan(static_cast<Poco::Timespan::TimeDiff>(settings_.Timeouts.ReplyMs) * 1000));
        });
        if (settings_.Authentication == SmtpAuthentication::Login) {
            std::string user = settings_.UserName, password = settings_.Password;
            net::guarded("SMTP login", [&] {
                try {
                    session->smtp->login(Poco::Net::SMTPClientSession::AUTH_LOGIN, user, password);
                } catch (const Poco::Net::SMTPException& e) {
                    if (e.code() >= 400 && e.code() < 600)
                        throw EMailAuthError("SMTP login: " + e.message(), e.message());
                    throw;
                }
            });
        } else {
            net::guarded("SMTP greeting", [&] { session->smtp->login(); });
        }
    } catch (...) {
        net::closeSocket(session->socket);
        throw;
    }
    session_ = std::move(session);
}

void SmtpClient::send(const Mail& mail) {
    Poco::Net::SMTPClientSession::Recipients recipients;
    for (const auto& r : mail.Recipients.Items) {
        std::string address = wire::envelopeAddress(r.Address);
        if (address.empty()) throw EMailInvalid("SMTP: a recipient has no address");
        recipients.push_back(address);
    }
    if (recipients.empty()) throw EMailInvalid("SMTP: the mail has no recipients");
    const std::string from = wire::envelopeAddress(mail.From.Address);
    if (!session_) throw EMailError("SMTP: not connected");
    Poco::Net::MailMessage message;
    wire::toLibraryMessage(mail, message);
    // The library's own transfer pushes every character through two unbuffered stream layers and
    // sends 1 KB at a time, which was most of the mailer's time per mail: the mail is rendered by
    // the same writer into memory and goes out dot-stuffed in one piece.
    const std::string data = wire::smtpDataBlock(message);
    try {
        net::guarded("SMTP send", [&] {
            LibrarySession& smtp = *session_->smtp;
            smtp.sendAddresses(from, recipients);
            smtp.sendData();
            Poco::Net::DialogSocket& socket = smtp.socket();
            for (size_t sent = 0; sent < data.size();) {
                const size_t piece = std::min<size_t>(data.size() - sent, 1 << 20);
                const int n = socket.sendBytes(data.data() + sent, static_cast<int>(piece));
                if (n <= 0) throw Poco::Net::NetException("the connection closed while the mail was sent");
                sent += static_cast<size_t>(n);
            }
            std::string reply;
            const int status = socket.receiveStatusMessage(reply);
            // Without a status there was no reply line: translated as a lost connection.
            if (status < 200 || status >= 300)
                throw Poco::Net::SMTPException("The server rejected the message", reply, status);
        });
    } catch (const EMailProtocolError&) {
        throw;
    } catch (...) {
        drop();
        throw;
    }
}

void SmtpClient::quit() {
    if (!session_) return;
    std::unique_ptr<Session> session = std::move(session_);
    try {
        net::guarded("SMTP quit", [&] { session->smtp->close(); });
    } catch (...) {
        net::closeSocket(session->socket);
        throw;
    }
    net::closeSocket(session->socket);
}

void SmtpClient::drop() noexcept {
    if (!session_) return;
    // Closing the socket first keeps the session's own destructor from sending QUIT.
    net::closeSocket(session_->socket);
    session_.reset();
}

void SendOneMail(const SmtpSettings& settings, const Mail& mail) {
    SmtpClient client(settings);
    client.connect();
    try {
        client.send(mail);
    } catch (const EMailProtocolError&) {
        try {
            client.quit();
        } catch (const EMailError&) {
            // The refusal is the error worth reporting.
        }
        throw;
    } catch (const EMailInvalid&) {
        try {
            client.quit();
        } catch (const EMailError&) {
        }
        throw;
    }
    client.quit();
}

}  // namespace mailtext
