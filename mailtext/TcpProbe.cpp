#include "mailtext/TcpProbe.h"

#include "mailtext/NetGuard.h"
#include "mailtext/SocketConnect.h"

namespace mailtext {

void TcpConnectAndClose(const std::string& host, int port, const NetTimeouts& timeouts) {
    net::guarded("Connect", [&] {
        Poco::Net::StreamSocket socket = net::connectSocket(host, port, timeouts, "Connect");
        net::closeSocket(socket);
    });
}

}  // namespace mailtext
