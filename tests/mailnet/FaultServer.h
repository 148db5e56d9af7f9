#pragma once
// A scripted loopback server for one connection: the script reads the client's lines and answers,
// fails, drops or stalls at will. Everything the client sent is recorded. When the script ends
// without closing, the server keeps the connection open and silent until the client closes it.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mailnet {

class FaultConnection {
public:
    explicit FaultConnection(int fd, std::vector<std::string>& lines, std::mutex& mutex)
        : fd_(fd), lines_(lines), mutex_(mutex) {}
    // Sends the text followed by CR LF.
    void send(const std::string& line);
    void sendRaw(const std::string& bytes);
    // Sends the bytes one at a time with a pause after each, as a server that trickles its reply;
    // ends early (as the client having gone) once the client closes the connection.
    void trickle(const std::string& bytes, int pauseMs);
    // The next line without its CR LF; throws when the client closed the connection.
    std::string readLine();
    // Lines up to the "." line (not included), still dot-stuffed as they came.
    std::vector<std::string> readData();
    // Closes the connection at once.
    void close();
    bool closed() const { return fd_ < 0; }
    int fd() const { return fd_; }

private:
    int fd_;
    std::string buffer_;
    std::vector<std::string>& lines_;
    std::mutex& mutex_;
};

class FaultServer {
public:
    using Script = std::function<void(FaultConnection&)>;
    explicit FaultServer(Script script);
    ~FaultServer();

    int port() const { return port_; }
    // Every line the client sent, in order.
    std::vector<std::string> lines() const;
    bool received(const std::string& line) const;
    // Waits (bounded) until the client has closed the connection; false if it never did.
    bool clientClosed();

private:
    void run();

    Script script_;
    int listenFd_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable done_;
    std::vector<std::string> lines_;
    bool finished_ = false;
    bool clientClosed_ = false;
    bool stop_ = false;
};

// SMTP greeting, EHLO offering AUTH LOGIN, and an accepted login.
void smtpGreetAndLogin(FaultConnection& c);
// SMTP greeting and EHLO without authentication.
void smtpGreet(FaultConnection& c);
// POP3 greeting and accepted USER/PASS.
void pop3GreetAndLogin(FaultConnection& c);

}  // namespace mailnet
