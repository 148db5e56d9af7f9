#pragma once
// The dialogue socket of the SMTP and POP3 clients. Every reply is bounded: all of its bytes must
// arrive within one deadline however slowly they trickle in, and no line may grow past the limit
// its reader sets, so a hostile or broken server can neither hold the program nor fill its memory.
// Internal to mailtext.
#include <Poco/Net/StreamSocket.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace mailtext::net {

class WireSocket {
public:
    WireSocket() = default;
    // Takes a socket made by connectSocket, whose interrupter is registered under its impl.
    explicit WireSocket(Poco::Net::StreamSocket socket);

    Poco::Net::StreamSocket& socket() { return socket_; }

    // Continues the dialogue over the TLS socket built on this one. Throws Poco::IOException when
    // the server sent bytes that were not asked for yet: they came in clear and could otherwise
    // pass as part of the protected dialogue.
    void upgrade(Poco::Net::StreamSocket secure);
    bool secure() const { return secure_; }

    // Shuts the connection down and closes it, releasing its interrupter; never throws.
    void close() noexcept;

    // Sends all the bytes; each blocked send waits at most the socket's send time-out.
    void send(std::string_view bytes);
    void sendLine(std::string_view line);

    // Starts the time for the next reply: every line read until the next call must have arrived
    // within replyMs from now. Poco::TimeoutException once it has passed.
    void startReply(int replyMs);

    // One line without its line end; false when the connection closed before the line began.
    // A line longer than limit throws Poco::IOException, or, when cut is given, is cut to the
    // limit and read to its end with *cut set.
    bool readLine(std::string& line, size_t limit, bool* cut = nullptr);

private:
    bool receive();

    Poco::Net::StreamSocket socket_;
    // The plain socket the interrupter was registered for; TLS keeps using its descriptor.
    Poco::Net::SocketImpl* interruptKey_ = nullptr;
    bool secure_ = false;
    // Lines are cut out of whole reads rather than taken a byte at a time.
    std::vector<char> buffer_ = std::vector<char>(16 * 1024);
    size_t next_ = 0;
    size_t end_ = 0;
    int replyMs_ = 0;
    std::chrono::steady_clock::time_point deadline_;
};

}  // namespace mailtext::net
