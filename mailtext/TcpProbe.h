#pragma once
// A plain TCP connection that is opened and closed again, to see whether a server listens.
#include "mailtext/NetTimeouts.h"

#include <string>

namespace mailtext {

// Connects and closes at once. Throws EMailConnectError with the reason when no connection is made
// within the connect time.
void TcpConnectAndClose(const std::string& host, int port, const NetTimeouts& timeouts = {});

}  // namespace mailtext
