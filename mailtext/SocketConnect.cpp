#include "mailtext/SocketConnect.h"

#include "mailtext/MailErrors.h"

#include "platform/AntiFreeze.h"

#include <Poco/AutoPtr.h>
#include <Poco/Exception.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Timespan.h>

#include <csignal>

namespace mailtext::net {

namespace {

Poco::Timespan millis(int ms) { return Poco::Timespan(static_cast<Poco::Timespan::TimeDiff>(ms) * 1000); }

}  // namespace

Poco::Net::StreamSocket connectSocket(const std::string& host, int port, const NetTimeouts& timeouts,
                                      const std::string& step) {
    // A write to a connection the server has closed must become an error, not end the program.
    static const bool sigpipeIgnored = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)sigpipeIgnored;
    if (port <= 0 || port > 65535)
        throw EMailConnectError(step + ": invalid port " + std::to_string(port));
    try {
        Poco::Net::SocketAddress address(host, static_cast<Poco::UInt16>(port));
        Poco::Net::StreamSocket socket(address.family());
        // Quitting the program wakes whatever this socket waits for, from the first SYN on.
        Poco::AutoPtr<Poco::Net::SocketImpl> impl(socket.impl(), true);
        if (!platform::registerInterrupter(impl.get(), [impl]() mutable {
                try {
                    impl->shutdown();
                } catch (...) {
                    // Not connected yet or already closed: nothing waits on it.
                }
            }))
            throw EMailConnectError(step + ": the program is closing");
        struct Unregister {
            Poco::Net::StreamSocket& socket;
            bool keep = false;
            ~Unregister() {
                if (!keep) platform::unregisterInterrupter(socket.impl());
            }
        } unregister{socket};
        socket.connect(address, millis(timeouts.ConnectMs));
        socket.setReceiveTimeout(millis(timeouts.ReplyMs));
        socket.setSendTimeout(millis(timeouts.ReplyMs));
        unregister.keep = true;
        return socket;
    } catch (const Poco::TimeoutException& e) {
        throw EMailConnectError(step + ": no connection to " + host + ":" + std::to_string(port) +
                                " within " + std::to_string(timeouts.ConnectMs) + " ms (" + e.displayText() + ")");
    } catch (const Poco::Exception& e) {
        throw EMailConnectError(step + ": cannot connect to " + host + ":" + std::to_string(port) + " (" +
                                e.displayText() + ")");
    }
}

void closeSocket(Poco::Net::StreamSocket& socket) noexcept {
    platform::unregisterInterrupter(socket.impl());
    try {
        socket.shutdown();
    } catch (...) {
        // Already shut down or never connected.
    }
    try {
        socket.close();
    } catch (...) {
    }
}

}  // namespace mailtext::net
