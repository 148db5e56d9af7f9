#include "mailtext/Pop3Client.h"

#include "mailtext/MailWire.h"
#include "mailtext/NetGuard.h"
#include "mailtext/SocketConnect.h"

#include <Poco/Net/DialogSocket.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

// The dialogue runs on the library's DialogSocket rather than its POP3 session class: that class
// reads mail data through a stream that turns a time-out or a lost connection into a normal end
// of data, so a truncated mail would pass as complete.
namespace mailtext {

namespace {

// Status lines longer than this are not POP3.
constexpr size_t MaxStatusLine = 64 * 1024;

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::string clean(std::string_view s) { return wire::headerSafe(s); }

}  // namespace

struct Pop3Client::Session {
    Poco::Net::StreamSocket socket;
    Poco::Net::DialogSocket dialog;
    // Received bytes, of which [next, end) are not yet handed out as lines: lines are cut out of
    // whole reads rather than taken a byte at a time, which dominated the client's time on RETR.
    std::vector<char> buffer = std::vector<char>(16 * 1024);
    size_t next = 0;
    size_t end = 0;

    // One line without its CR LF; false when the connection closed before a line began.
    bool readLine(std::string& line, size_t limit) {
        line.clear();
        for (;;) {
            const char* begin = buffer.data() + next;
            const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', end - next));
            const size_t take = lf ? static_cast<size_t>(lf - begin) : end - next;
            line.append(begin, take);
            next += take;
            if (limit && line.size() > limit) throw EMailProtocolError("reply line too long", clean(line.substr(0, 200)));
            if (lf) {
                ++next;
                break;
            }
            if (!receive()) {
                if (line.empty()) return false;
                throw EMailConnectionLost("the server closed the connection in the middle of a line");
            }
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }

private:
    // Refills the consumed buffer with the next bytes from the server; false at the end of the
    // connection. The dialog socket hands out what it buffered itself first.
    bool receive() {
        next = 0;
        end = 0;
        const int n = dialog.receiveRawBytes(buffer.data(), static_cast<int>(buffer.size()));
        if (n <= 0) return false;
        end = static_cast<size_t>(n);
        return true;
    }
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
        session_->dialog.sendMessage(line);
        if (!session_->readLine(reply, MaxStatusLine))
            throw EMailConnectionLost(step + ": the server closed the connection");
        if (startsWith(reply, "-ERR")) throw EMailProtocolError(step + ": " + clean(reply), clean(reply));
        if (!startsWith(reply, "+OK"))
            throw EMailProtocolError(step + ": malformed reply: " + clean(reply.substr(0, 200)),
                                     clean(reply.substr(0, 200)));
    });
    return reply;
}

std::string Pop3Client::multiLine(const std::string& step, const std::string& line) {
    command(step, line);
    std::string data;
    run(step, [&] {
        std::string l;
        for (;;) {
            if (!session_->readLine(l, 0))
                throw EMailConnectionLost(step + ": the connection closed before the end of the data");
            if (l == ".") break;
            if (!l.empty() && l[0] == '.') data.append(l, 1);
            else data += l;
            data += "\r\n";
        }
    });
    return data;
}

void Pop3Client::connect() {
    release();
    auto session = std::make_unique<Session>();
    net::guarded("POP3 connect", [&] {
        session->socket = net::connectSocket(settings_.Host, settings_.Port, settings_.Timeouts, "POP3 connect");
        session->dialog = Poco::Net::DialogSocket(session->socket);
    });
    session_ = std::move(session);
    std::string greeting;
    run("POP3 greeting", [&] {
        if (!session_->readLine(greeting, MaxStatusLine))
            throw EMailConnectionLost("POP3 greeting: the server closed the connection");
        if (!startsWith(greeting, "+OK"))
            throw EMailProtocolError("POP3 greeting: " + clean(greeting.substr(0, 200)), "");
    });
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
    if (!in || count < 0) {
        release();
        throw EMailProtocolError("POP3 STAT: malformed reply: " + clean(reply), clean(reply));
    }
    return static_cast<int>(count);
}

std::vector<Pop3MessageSize> Pop3Client::listMessages() {
    std::string data = multiLine("POP3 LIST", "LIST");
    std::vector<Pop3MessageSize> list;
    std::istringstream in(data);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Pop3MessageSize item;
        if (fields >> item.Number >> item.Size) list.push_back(item);
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
    return wire::parseHeaders(multiLine("POP3 TOP", "TOP " + std::to_string(number) + " 0"));
}

std::string Pop3Client::retrieveRaw(int number) {
    return multiLine("POP3 RETR", "RETR " + std::to_string(number));
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

void Pop3Client::release() noexcept {
    if (!session_) return;
    net::closeSocket(session_->socket);
    session_.reset();
}

}  // namespace mailtext
