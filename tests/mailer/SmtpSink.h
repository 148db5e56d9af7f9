#pragma once
// A loopback SMTP server for the mailer's tests: takes any number of connections one after the
// other, accepts every mail (or refuses the next ones on request) and records what it saw.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SmtpSink {
public:
    SmtpSink();
    ~SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    int port() const { return port_; }
    int connections() const;
    int quits() const;
    // The DATA of every accepted mail, in order.
    std::vector<std::string> mails() const;
    // The next n mails are answered "554 Transaction failed".
    void refuseNext(int n);
    // Called on the server thread when a DATA command arrives, before the mail is read.
    void onData(std::function<void()> hook);

private:
    void run();
    void serve(int fd);

    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    int connections_ = 0;
    int quits_ = 0;
    int refuse_ = 0;
    std::vector<std::string> mails_;
    std::function<void()> onData_;
};
