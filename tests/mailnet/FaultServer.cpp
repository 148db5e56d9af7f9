#include "tests/mailnet/FaultServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace mailnet {

namespace {

struct ClientGone : std::runtime_error {
    ClientGone() : std::runtime_error("client closed the connection") {}
};

// How long the server waits for the client to connect or to close; only bounds a broken test.
constexpr int WaitLimitMs = 15000;

}  // namespace

void FaultConnection::send(const std::string& line) { sendRaw(line + "\r\n"); }

void FaultConnection::sendRaw(const std::string& bytes) {
    if (fd_ < 0) return;
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) throw ClientGone();
        sent += static_cast<size_t>(n);
    }
}

void FaultConnection::trickle(const std::string& bytes, int pauseMs) {
    for (char c : bytes) {
        sendRaw(std::string(1, c));
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, pauseMs) <= 0) continue;
        char probe;
        if (::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) throw ClientGone();
        // The client sent something instead of closing: keep the pace all the same.
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
}

std::string FaultConnection::readLine() {
    for (;;) {
        size_t eol = buffer_.find('\n');
        if (eol != std::string::npos) {
            std::string line = buffer_.substr(0, eol);
            buffer_.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
            return line;
        }
        if (fd_ < 0) throw ClientGone();
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, WaitLimitMs) <= 0) throw ClientGone();
        char chunk[4096];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) throw ClientGone();
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

std::vector<std::string> FaultConnection::readData() {
    std::vector<std::string> data;
    for (std::string line = readLine(); line != "."; line = readLine()) data.push_back(line);
    return data;
}

void FaultConnection::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

FaultServer::FaultServer(Script script) : script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 4) != 0)
        throw std::runtime_error("fault server cannot listen");
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

FaultServer::~FaultServer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

void FaultServer::run() {
    auto stopping = [this] {
        std::lock_guard lock(mutex_);
        return stop_;
    };
    int fd = -1;
    for (int waited = 0; fd < 0 && waited < WaitLimitMs && !stopping(); waited += 50) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) fd = ::accept(listenFd_, nullptr, nullptr);
    }
    bool closedByClient = false;
    if (fd >= 0) {
        FaultConnection c(fd, lines_, mutex_);
        try {
            script_(c);
        } catch (const ClientGone&) {
            closedByClient = !c.closed();
        }
        // Silent until the client closes: a script that ends without answering is a stall.
        for (int waited = 0; !c.closed() && !closedByClient && waited < WaitLimitMs && !stopping(); waited += 50) {
            pollfd p{c.fd(), POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                char chunk[4096];
                ssize_t n = ::recv(c.fd(), chunk, sizeof chunk, 0);
                if (n <= 0) closedByClient = true;
            }
        }
        c.close();
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    clientClosed_ = closedByClient;
    done_.notify_all();
}

std::vector<std::string> FaultServer::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool FaultServer::received(const std::string& line) const {
    for (const auto& l : lines())
        if (l == line) return true;
    return false;
}

bool FaultServer::clientClosed() {
    std::unique_lock lock(mutex_);
    done_.wait_for(lock, std::chrono::milliseconds(WaitLimitMs + 1000), [this] { return finished_; });
    return clientClosed_;
}

void smtpGreet(FaultConnection& c) {
    c.send("220 fault.test ESMTP");
    c.readLine();
    c.send("250-fault.test\r\n250 SIZE 1000000");
}

void smtpGreetAndLogin(FaultConnection& c) {
    c.send("220 fault.test ESMTP");
    c.readLine();
    c.send("250-fault.test\r\n250 AUTH LOGIN PLAIN");
    c.readLine();
    c.send("334 VXNlcm5hbWU6");
    c.readLine();
    c.send("334 UGFzc3dvcmQ6");
    c.readLine();
    c.send("235 2.7.0 Authentication successful");
}

void pop3GreetAndLogin(FaultConnection& c) {
    c.send("+OK fault POP3 ready");
    c.readLine();
    c.send("+OK user");
    c.readLine();
    c.send("+OK logged in");
}

}  // namespace mailnet
