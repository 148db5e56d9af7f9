#include "tests/mailer/SmtpSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

bool sendLine(int fd, const std::string& line) {
    const std::string out = line + "\r\n";
    return ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size());
}

// Reads one line (without CR LF); false when the peer closed or stayed silent for 10 s.
bool readLine(int fd, std::string& buffer, std::string& line) {
    for (;;) {
        const size_t eol = buffer.find("\r\n");
        if (eol != std::string::npos) {
            line = buffer.substr(0, eol);
            buffer.erase(0, eol + 2);
            return true;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(n));
    }
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

SmtpSink::SmtpSink() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 8) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("cannot listen on loopback");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

SmtpSink::~SmtpSink() {
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    ::close(listenFd_);
}

int SmtpSink::connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

int SmtpSink::quits() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return quits_;
}

std::vector<std::string> SmtpSink::mails() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mails_;
}

void SmtpSink::refuseNext(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    refuse_ = n;
}

void SmtpSink::onData(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    onData_ = std::move(hook);
}

void SmtpSink::run() {
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++connections_;
        }
        serve(fd);
        ::close(fd);
    }
}

void SmtpSink::serve(int fd) {
    std::string buffer, line;
    if (!sendLine(fd, "220 sink ready")) return;
    while (!stopping_ && readLine(fd, buffer, line)) {
        const std::string command = upper(line.substr(0, 4));
        if (command == "EHLO" || command == "HELO") {
            sendLine(fd, "250-sink");
            sendLine(fd, "250 AUTH LOGIN");
        } else if (command == "AUTH") {
            sendLine(fd, "334 VXNlcm5hbWU6");
            readLine(fd, buffer, line);
            sendLine(fd, "334 UGFzc3dvcmQ6");
            readLine(fd, buffer, line);
            sendLine(fd, "235 ok");
        } else if (command == "DATA") {
            std::function<void()> hook;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                hook = onData_;
            }
            if (hook) hook();
            sendLine(fd, "354 go ahead");
            std::string data;
            while (readLine(fd, buffer, line) && line != ".") data += line + "\r\n";
            std::lock_guard<std::mutex> lock(mutex_);
            if (refuse_ > 0) {
                --refuse_;
                sendLine(fd, "554 Transaction failed");
            } else {
                mails_.push_back(data);
                sendLine(fd, "250 accepted");
            }
        } else if (command == "QUIT") {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++quits_;
            }
            sendLine(fd, "221 bye");
            return;
        } else {
            sendLine(fd, "250 ok");
        }
    }
}
