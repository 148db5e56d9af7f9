#include "mailtext/Pop3Client.h"

#include "mailtext/MailWire.h"
#include "mailtext/NetGuard.h"
#include "mailtext/SocketConnect.h"
#include "mailtext/TlsStart.h"
#include "mailtext/WireSocket.h"

#include <algorithm>
#include <climits>
#include <sstream>

// The dialogue runs on a socket of our own rather than the library's POP3 session class: that class
// reads mail data through a stream that turns a time-out or a lost connection into a normal end
// of data, so a truncated mail would pass as complete, and it bounds neither lines nor replies.
namespace mailtext {

namespace {

// Status lines and LIST lines longer than this are not POP3.
constexpr size_t MaxStatusLine = 8 * 1024;

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::string clean(std::string_view s) { return wire::headerSafe(s); }

}  // namespace

struct Pop3Client::Session {
    net::WireSocket wire;
};

Pop3Client::Pop3Client(Pop3Settings settings) : settings_(std::move(settings)) {}

Pop3Client::~Pop3Client() { release(); }

bool Pop3Client::connected() const { return session_ != nullptr; }

template <typename Fn>
void Pop3Client::run(const std::string& step, Fn&& fn) {
    if (!session_) throw EMailError(step + ": not connected");
    try {
        net::guarded(step, std::forward<Fn>(fn));
    } catch (const EMailAuthError&) {
        throw;
    } catch (const EMailTooLarge&) {
        // Read to its end: the dialogue is in step.
        throw;
    } catch (const EMailProtocolError& e) {
        // A "-ERR" answer leaves the dialogue in step; anything else does not.
        if (!startsWith(e.reply(), "-ERR")) release();
        throw;
    } catch (...) {
        release();
        throw;
    }
}

std::string Pop3Client::command(const std::string& step, const std::string& line) {
    if (line.find_first_of("\r\n") != std::string::npos)
        throw EMailInvalid(step + ": line breaks are not allowed in a command");
    std::string reply;
    run(step, [&] {
        session_->wire.sendLine(line);
        session_->wire.startReply(settings_.Timeouts.ReplyMs);
        if (!session_->wire.readLine(reply, MaxStatusLine))
            throw EMailConnectionLost(step + ": the server closed the connection");
        if (startsWith(reply, "-ERR")) throw EMailProtocolError(step + ": " + clean(reply), clean(reply));
        if (!startsWith(reply, "+OK"))
            throw EMailProtocolError(step + ": malformed reply: " + clean(reply.substr(0, 200)),
                                     clean(reply.substr(0, 200)));
    });
    return reply;
}

std::string Pop3Client::multiLine(const std::string& step, const std::string& line, size_t lineLimit) {
    // The data belongs to the reply whose time the command started.
    command(step, line);
    const size_t limit = settings_.MaxMailBytes;
    std::string data;
    run(step, [&] {
        std::string l;
        bool cut = false;
        for (;;) {
            if (!session_->wire.readLine(l, std::min(lineLimit, limit), &cut))
                throw EMailConnectionLost(step + ": the connection closed before the end of the data");
            if (cut) {
                if (lineLimit < limit)
                    throw EMailConnectionLost(step + ": the server sent a line longer than " +
                                              std::to_string(lineLimit) + " bytes");
                break;
            }
            if (l == ".") return;
            const size_t skip = !l.empty() && l[0] == '.' ? 1 : 0;
            if (data.size() + l.size() - skip + 2 > limit) break;
            data.append(l, skip);
            data += "\r\n";
        }
        // Over the limit: the rest is read to its end and dropped, so the session goes on.
        data.clear();
        data.shrink_to_fit();
        while (!(l == "." && !cut))
            if (!session_->wire.readLine(l, 2, &cut))
                throw EMailConnectionLost(step + ": the connection closed before the end of the data");
        throw EMailTooLarge(step + ": larger than the limit of " + std::to_string(limit / 1024) + " KB");
    });
    return data;
}

void Pop3Client::connect() {
    release();
    auto session = std::make_unique<Session>();
    net::guarded("POP3 connect", [&] {
        session->wire = net::WireSocket(net::connectSocket(settings_.Host, settings_.Port, settings_.Timeouts, "POP3 connect"));
        try {
            if (settings_.Tls.Security == MailSecurity::Tls)
                net::startTls(session->wire, settings_.Host, settings_.Tls, "POP3 TLS");
        } catch (...) {
            session->wire.close();
            throw;
        }
    });
    session_ = std::move(session);
    std::string greeting;
    run("POP3 greeting", [&] {
        session_->wire.startReply(settings_.Timeouts.ReplyMs);
        if (!session_->wire.readLine(greeting, MaxStatusLine))
            throw EMailConnectionLost("POP3 greeting: the server closed the connection");
        if (!startsWith(greeting, "+OK"))
            throw EMailProtocolError("POP3 greeting: " + clean(greeting.substr(0, 200)), "");
    });
    if (settings_.Tls.Security == MailSecurity::StartTls) {
        const std::string where = settings_.Host + ":" + std::to_string(settings_.Port);
        try {
            command("POP3 STLS", "STLS");
        } catch (const EMailProtocolError& e) {
            release();
            throw EMailSecurityError("POP3 STLS: the server " + where + " does not offer STLS (" + e.reply() +
                                     "); the connection was closed before the login");
        }
        run("POP3 STLS", [&] { net::startTls(session_->wire, settings_.Host, settings_.Tls, "POP3 STLS"); });
    }
    auto login = [&](const std::string& step, const std::string& line) {
        try {
            command(step, line);
        } catch (const EMailProtocolError& e) {
            release();
            throw EMailAuthError(e.what(), e.reply());
        }
    };
    if (settings_.UserName.find_first_of("\r\n") != std::string::npos ||
        settings_.Password.find_first_of("\r\n") != std::string::npos) {
        release();
        throw EMailInvalid("POP3 login: line breaks are not allowed in the user name or password");
    }
    login("POP3 login (USER)", "USER " + settings_.UserName);
    login("POP3 login (PASS)", "PASS " + settings_.Password);
}

int Pop3Client::messageCount() {
    std::string reply = command("POP3 STAT", "STAT");
    std::istringstream in(reply.substr(3));
    long long count = -1, size = -1;
    in >> count >> size;
    if (!in || count < 0 || count > INT_MAX) {
        release();
        throw EMailProtocolError("POP3 STAT: malformed reply: " + clean(reply), clean(reply));
    }
    return static_cast<int>(count);
}

std::vector<Pop3MessageSize> Pop3Client::listMessages() {
    std::string data = multiLine("POP3 LIST", "LIST", MaxStatusLine);
    std::vector<Pop3MessageSize> list;
    std::istringstream in(data);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        long long number = 0, size = -1;
        if (fields >> number >> size && number >= 1 && number <= INT_MAX && size >= 0)
            list.push_back(Pop3MessageSize{static_cast<int>(number), size});
    }
    return list;
}

long long Pop3Client::mailboxSize() {
    long long total = 0;
    for (const auto& item : listMessages()) total += item.Size;
    return total;
}

long long Pop3Client::messageSize(int number) {
    std::string reply = command("POP3 LIST", "LIST " + std::to_string(number));
    std::istringstream in(reply.substr(3));
    long long n = 0, size = -1;
    in >> n >> size;
    if (!in || size < 0) {
        release();
        throw EMailProtocolError("POP3 LIST: malformed reply: " + clean(reply), clean(reply));
    }
    return size;
}

std::unique_ptr<Mail> Pop3Client::retrieveHeader(int number) {
    return wire::parseHeaders(multiLine("POP3 TOP", "TOP " + std::to_string(number) + " 0", settings_.MaxMailBytes));
}

std::string Pop3Client::retrieveRaw(int number) {
    return multiLine("POP3 RETR", "RETR " + std::to_string(number), settings_.MaxMailBytes);
}

std::unique_ptr<Mail> Pop3Client::retrieve(int number) { return wire::parseMail(retrieveRaw(number)); }

void Pop3Client::deleteMessage(int number) { command("POP3 DELE", "DELE " + std::to_string(number)); }

void Pop3Client::quit() {
    if (!session_) return;
    try {
        command("POP3 QUIT", "QUIT");
    } catch (...) {
        release();
        throw;
    }
    release();
}

void Pop3Client::interrupt() noexcept {
    if (!session_) return;
    // Only shut down, not closed: the waiting call still uses the socket, and the shut-down wakes
    // it. Closing stays with release() once the call has returned.
    try {
        session_->wire.socket().impl()->shutdown();
    } catch (...) {
        // Already shut down: nothing waits on it.
    }
}

void Pop3Client::release() noexcept {
    if (!session_) return;
    session_->wire.close();
    session_.reset();
}

}  // namespace mailtext
