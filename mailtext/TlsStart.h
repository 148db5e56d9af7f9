#pragma once
// Turning a connected dialogue socket into a TLS one and checking the server's certificate.
// Internal to mailtext.
#include "mailtext/MailSecurity.h"
#include "mailtext/WireSocket.h"

#include <string>

namespace mailtext::net {

// Runs the TLS handshake on the wire's socket (bounded by the socket's time-outs, and woken by the
// wire's interrupter) and continues the wire over it. The certificate is taken when its SHA-256
// fingerprint is the trusted one, or else when the system's authorities vouch for it and it is
// made out to host. Throws EMailCertificateError (naming the host, the reason and the fingerprint)
// when it is refused, and the library's SSL errors when the handshake fails.
void startTls(WireSocket& wire, const std::string& host, const TlsSettings& tls, const std::string& step);

// The fingerprint as tools print it: upper-case hex pairs separated by colons.
std::string printedFingerprint(const std::string& fingerprint);

}  // namespace mailtext::net
