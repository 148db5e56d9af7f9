#pragma once
// Connecting a TCP socket with a time-out; the sessions of the network library connect without one.
// Internal to mailtext.
#include "mailtext/NetTimeouts.h"

#include <Poco/Net/StreamSocket.h>

#include <string>

namespace mailtext::net {

// Throws EMailConnectError (keeping the library's text) when the server cannot be reached.
Poco::Net::StreamSocket connectSocket(const std::string& host, int port, const NetTimeouts& timeouts,
                                      const std::string& step);

// Shuts the socket down and closes it; never throws.
void closeSocket(Poco::Net::StreamSocket& socket) noexcept;

}  // namespace mailtext::net
