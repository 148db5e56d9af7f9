#include "mailtext/SmtpClient.h"

#include "mailtext/MailWire.h"
#include "mailtext/NetGuard.h"
#include "mailtext/SocketConnect.h"
#include "mailtext/TlsStart.h"
#include "mailtext/WireSocket.h"

#include <Poco/Base64Encoder.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/LocalDateTime.h>
#include <Poco/Environment.h>
#include <Poco/Net/MailMessage.h>
#include <Poco/Net/NetException.h>

#include <sstream>

// The dialogue runs on a socket of our own rather than the library's SMTP session class, whose
// reply reader has no bound on the length or number of lines nor on the time of a whole reply.
namespace mailtext {

namespace {

// Far beyond what servers send (512 bytes a line); only a broken or hostile server reaches them.
constexpr size_t MaxReplyLine = 8 * 1024;
constexpr int MaxReplyLines = 100;
constexpr size_t MaxReplyBytes = 64 * 1024;

struct Reply {
    int status = 0;
    // The reply's lines joined by line feeds, control characters replaced.
    std::string text;
    bool positive() const { return status >= 200 && status < 300; }
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// One whole reply, continuation lines included, within the reply time. A reply that is not SMTP
// or breaks the bounds throws the library's SMTP error without a status, which the guard
// translates into a lost connection.
Reply readReply(net::WireSocket& wire, int replyMs) {
    wire.startReply(replyMs);
    Reply reply;
    for (int lines = 1;; ++lines) {
        std::string line;
        if (!wire.readLine(line, MaxReplyLine)) throw Poco::Net::SMTPException("the server closed the connection");
        if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]) ||
            (line.size() > 3 && line[3] != ' ' && line[3] != '-'))
            throw Poco::Net::SMTPException("malformed reply", wire::headerSafe(line.substr(0, 200)));
        if (lines > MaxReplyLines || reply.text.size() + line.size() > MaxReplyBytes)
            throw Poco::Net::SMTPException("the reply has more than " + std::to_string(MaxReplyLines) + " lines or " +
                                           std::to_string(MaxReplyBytes) + " bytes");
        reply.status = std::stoi(line.substr(0, 3));
        if (!reply.text.empty()) reply.text += '\n';
        reply.text += wire::headerSafe(line);
        if (line.size() == 3 || line[3] == ' ') return reply;
    }
}

std::string base64(const std::string& text) {
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << text;
    encoder.close();
    return out.str();
}

// The name the client greets with; a host name that could not go into a command becomes
// "localhost".
std::string greetingName() {
    std::string name;
    try {
        name = Poco::Environment::nodeName();
    } catch (...) {
    }
    for (char c : name)
        if (!(isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.')) return "localhost";
    return name.empty() ? "localhost" : name;
}

// The keywords of an EHLO reply's lines after the first ("STARTTLS", "AUTH LOGIN PLAIN"...), in
// upper case.
std::vector<std::string> extensions(const Reply& ehlo) {
    std::vector<std::string> out;
    size_t start = ehlo.text.find('\n');
    while (start != std::string::npos) {
        const size_t end = ehlo.text.find('\n', start + 1);
        std::string line = ehlo.text.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        line = line.size() > 4 ? line.substr(4) : std::string();
        for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        out.push_back(line);
        start = end;
    }
    return out;
}

bool offers(const std::vector<std::string>& extensions, const std::string& keyword) {
    for (const std::string& e : extensions)
        if (e == keyword || e.rfind(keyword + " ", 0) == 0) return true;
    return false;
}

// The login methods the server names, as " LOGIN PLAIN "; empty when it names none.
std::string authMethods(const std::vector<std::string>& extensions) {
    for (const std::string& e : extensions)
        if (e.rfind("AUTH ", 0) == 0 || e.rfind("AUTH=", 0) == 0) return " " + e.substr(5) + " ";
    return {};
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) out += (out.empty() ? "" : ", ") + item;
    return out;
}

}  // namespace

struct SmtpClient::Session {
    net::WireSocket wire;
    int replyMs = 0;

    Reply command(const std::string& line) {
        wire.sendLine(line);
        return readReply(wire, replyMs);
    }
    // Set when a refused transaction could not be reset: the connection is then of no use.
    bool broken = false;
    // Ends a transaction the server refused part of, so that the next mail starts afresh. The
    // refusal stays the error worth reporting when the reset fails too.
    void reset() noexcept {
        try {
            broken = !command("RSET").positive();
        } catch (...) {
            broken = true;
        }
    }
};

SmtpClient::SmtpClient(SmtpSettings settings) : settings_(std::move(settings)) {}

SmtpClient::~SmtpClient() { drop(); }

bool SmtpClient::connected() const { return session_ != nullptr; }

void SmtpClient::connect() {
    drop();
    auto session = std::make_unique<Session>();
    session->replyMs = settings_.Timeouts.ReplyMs;
    try {
        const std::string where = settings_.Host + ":" + std::to_string(settings_.Port);
        net::guarded("SMTP connect", [&] {
            session->wire = net::WireSocket(
                net::connectSocket(settings_.Host, settings_.Port, settings_.Timeouts, "SMTP connect"));
            // A dialogue of writes each followed by a wait for the reply: with Nagle's algorithm a
            // write that follows one not yet acknowledged waits for the server's delayed ACK, which
            // cost about 40 ms a mail while the mail went out in 1 KB pieces.
            session->wire.socket().setNoDelay(true);
            if (settings_.Tls.Security == MailSecurity::Tls)
                net::startTls(session->wire, settings_.Host, settings_.Tls, "SMTP TLS");
        });
        Reply ehlo;
        const std::string name = greetingName();
        auto greet = [&] {
            ehlo = session->command("EHLO " + name);
            if (!ehlo.positive()) ehlo = session->command("HELO " + name);
            if (!ehlo.positive()) throw EMailProtocolError("SMTP greeting: " + ehlo.text, ehlo.text);
        };
        net::guarded("SMTP greeting", [&] {
            Reply reply = readReply(session->wire, session->replyMs);
            if (!reply.positive()) throw EMailProtocolError("SMTP greeting: " + reply.text, reply.text);
            greet();
        });
        if (settings_.Tls.Security == MailSecurity::StartTls) {
            net::guarded("SMTP STARTTLS", [&] {
                if (!offers(extensions(ehlo), "STARTTLS"))
                    throw EMailSecurityError("SMTP STARTTLS: the server " + where +
                                             " does not offer STARTTLS; the connection was closed before the login");
                const Reply reply = session->command("STARTTLS");
                if (reply.status != 220)
                    throw EMailSecurityError("SMTP STARTTLS: the server " + where + " refused STARTTLS: " + reply.text);
                net::startTls(session->wire, settings_.Host, settings_.Tls, "SMTP STARTTLS");
                // What the server offered in clear may have been tampered with: ask again.
                greet();
            });
        }
        if (settings_.Authentication == SmtpAuthentication::Login) {
            net::guarded("SMTP login", [&] {
                auto refused = [](const Reply& reply) {
                    if (reply.status >= 400 && reply.status < 600)
                        throw EMailAuthError("SMTP login: " + reply.text, reply.text);
                    throw EMailProtocolError("SMTP login: unexpected reply: " + reply.text, reply.text);
                };
                // LOGIN as long as the server names it (or names no method at all), PLAIN when
                // it offers only that.
                const std::string methods = authMethods(extensions(ehlo));
                const bool plain = !methods.empty() && methods.find(" LOGIN ") == std::string::npos &&
                                   methods.find(" PLAIN ") != std::string::npos;
                if (!methods.empty() && !plain && methods.find(" LOGIN ") == std::string::npos)
                    throw EMailAuthError("SMTP login: the server offers no login method the program knows (" +
                                             methods.substr(1, methods.size() - 2) + ")",
                                         "");
                if (plain) {
                    const Reply reply = session->command("AUTH PLAIN " + base64(std::string(1, '\0') + settings_.UserName +
                                                                                std::string(1, '\0') + settings_.Password));
                    if (!reply.positive()) refused(reply);
                    return;
                }
                Reply reply = session->command("AUTH LOGIN");
                if (reply.status != 334) refused(reply);
                reply = session->command(base64(settings_.UserName));
                if (reply.status != 334) refused(reply);
                reply = session->command(base64(settings_.Password));
                if (!reply.positive()) refused(reply);
            });
        }
    } catch (...) {
        session->wire.close();
        throw;
    }
    session_ = std::move(session);
}

void SmtpClient::send(const Mail& mail) {
    std::vector<std::string> recipients;
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
    // Mail services file mail without one as suspect; a fresh one for every mail sent.
    message.set("Message-ID", wire::newMessageId(mail.From.Address));
    // The time of sending in local time with a numeric zone; the library's own says "GMT", a form
    // the standard only keeps for old mail.
    message.set("Date", Poco::DateTimeFormatter::format(Poco::LocalDateTime(), "%w, %e %b %Y %H:%M:%S %Z"));
    // Rendered by the library's writer into memory and sent dot-stuffed in one piece: the
    // library's own transfer pushes every character through two unbuffered stream layers.
    const std::string data = wire::smtpDataBlock(message);
    try {
        net::guarded("SMTP send", [&] {
            Session& session = *session_;
            Reply reply = session.command("MAIL FROM: <" + from + ">");
            if (!reply.positive()) {
                session.reset();
                throw EMailProtocolError("SMTP MAIL FROM: " + reply.text, reply.text);
            }
            std::vector<std::string> refused;
            std::string firstRefusal;
            for (const std::string& address : recipients) {
                reply = session.command("RCPT TO: <" + address + ">");
                if (reply.positive()) continue;
                refused.push_back(address + " (" + reply.text + ")");
                if (firstRefusal.empty()) firstRefusal = reply.text;
            }
            if (refused.size() == recipients.size()) {
                session.reset();
                throw EMailRecipientRefused("SMTP RCPT TO: the server refused " + joined(refused) +
                                                "; the mail was not sent",
                                            firstRefusal, refused, false);
            }
            reply = session.command("DATA");
            if (reply.status != 354) {
                session.reset();
                throw EMailProtocolError("SMTP DATA: " + reply.text, reply.text);
            }
            session.wire.send(data);
            reply = readReply(session.wire, session.replyMs);
            if (!reply.positive())
                throw EMailProtocolError("SMTP send: The server rejected the message: " + reply.text, reply.text);
            if (!refused.empty())
                throw EMailRecipientRefused("SMTP RCPT TO: the server refused " + joined(refused) +
                                                "; the mail went to the other recipients",
                                            firstRefusal, refused, true);
        });
    } catch (const EMailProtocolError&) {
        if (session_ && session_->broken) drop();
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
        // Whatever the server answers, the connection ends here.
        net::guarded("SMTP quit", [&] { session->command("QUIT"); });
    } catch (...) {
        session->wire.close();
        throw;
    }
    session->wire.close();
}

void SmtpClient::drop() noexcept {
    if (!session_) return;
    session_->wire.close();
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
