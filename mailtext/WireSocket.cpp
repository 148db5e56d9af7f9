#include "mailtext/WireSocket.h"

#include "mailtext/SocketConnect.h"
#include "platform/AntiFreeze.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <Poco/Timespan.h>

#include <algorithm>
#include <cstring>

namespace mailtext::net {

WireSocket::WireSocket(Poco::Net::StreamSocket socket) : socket_(std::move(socket)), interruptKey_(socket_.impl()) {}

void WireSocket::upgrade(Poco::Net::StreamSocket secure) {
    if (next_ != end_) throw Poco::IOException("the server sent data before the TLS handshake");
    socket_ = std::move(secure);
    secure_ = true;
}

void WireSocket::close() noexcept {
    if (interruptKey_) platform::unregisterInterrupter(interruptKey_);
    interruptKey_ = nullptr;
    net::closeSocket(socket_);
}

void WireSocket::send(std::string_view bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        const size_t piece = std::min<size_t>(bytes.size() - sent, 1 << 20);
        const int n = socket_.sendBytes(bytes.data() + sent, static_cast<int>(piece));
        if (n <= 0) throw Poco::Net::NetException("the connection closed while sending");
        sent += static_cast<size_t>(n);
    }
}

void WireSocket::sendLine(std::string_view line) {
    std::string text(line);
    text += "\r\n";
    send(text);
}

void WireSocket::startReply(int replyMs) {
    replyMs_ = replyMs;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(replyMs);
}

bool WireSocket::readLine(std::string& line, size_t limit, bool* cut) {
    line.clear();
    if (cut) *cut = false;
    for (;;) {
        const char* begin = buffer_.data() + next_;
        const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', end_ - next_));
        const size_t take = lf ? static_cast<size_t>(lf - begin) : end_ - next_;
        if (line.size() + take <= limit) {
            line.append(begin, take);
        } else if (cut) {
            line.append(begin, limit - line.size());
            *cut = true;
        } else {
            throw Poco::IOException("the server sent a line longer than " + std::to_string(limit) + " bytes");
        }
        next_ += take;
        if (lf) {
            ++next_;
            break;
        }
        if (!receive()) {
            if (line.empty() && !(cut && *cut)) return false;
            throw Poco::Net::NetException("the server closed the connection in the middle of a line");
        }
    }
    if (!line.empty() && line.back() == '\r' && !(cut && *cut)) line.pop_back();
    return true;
}

bool WireSocket::receive() {
    next_ = 0;
    end_ = 0;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - std::chrono::steady_clock::now());
    // Decrypted bytes may wait inside the TLS layer while the descriptor has nothing to read.
    const bool pending = secure_ && socket_.available() > 0;
    if (left.count() <= 0 ||
        (!pending && !socket_.poll(Poco::Timespan(left.count()),
                                   Poco::Net::Socket::SELECT_READ | Poco::Net::Socket::SELECT_ERROR)))
        throw Poco::TimeoutException("no complete reply within " + std::to_string(replyMs_) + " ms");
    const int n = socket_.receiveBytes(buffer_.data(), static_cast<int>(buffer_.size()));
    if (n <= 0) return false;
    end_ = static_cast<size_t>(n);
    return true;
}

}  // namespace mailtext::net
