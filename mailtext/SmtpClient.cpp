#include "mailtext/SmtpClient.h"

#include "mailtext/MailWire.h"
#include "mailtext/NetGuard.h"
#include "mailtext/SocketConnect.h"

#include <Poco/Net/MailMessage.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SMTPClientSession.h>

namespace mailtext {

struct SmtpClient::Session {
    Poco::Net::StreamSocket socket;
    std::unique_ptr<Poco::Net::SMTPClientSession> smtp;
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
            session->smtp = std::make_unique<Poco::Net::SMTPClientSession>(session->socket);
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
    wire::envelopeAddress(mail.From.Address);
    if (!session_) throw EMailError("SMTP: not connected");
    Poco::Net::MailMessage message;
    wire::toLibraryMessage(mail, message);
    try {
        net::guarded("SMTP send", [&] { session_->smtp->sendMessage(message, recipients); });
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
