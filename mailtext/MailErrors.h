#pragma once
// The mail layer's failures. Errors of the network library are translated into these at the
// layer's boundary, keeping the library's or the server's message text.
#include <stdexcept>
#include <string>
#include <vector>

namespace mailtext {

class EMailError : public std::runtime_error {
public:
    explicit EMailError(const std::string& message) : std::runtime_error(message) {}
};

// The server could not be reached: refused, unknown host, or no answer within the connect time.
class EMailConnectError : public EMailError {
public:
    using EMailError::EMailError;
};

// The server answered with a negative reply; the reply text is part of the message.
class EMailProtocolError : public EMailError {
public:
    EMailProtocolError(const std::string& message, const std::string& reply)
        : EMailError(message), reply_(reply) {}
    const std::string& reply() const { return reply_; }

private:
    std::string reply_;
};

// The server refused recipients of a mail: Refused names each with the server's reply. When it
// accepted others, the mail went to them (Delivered).
class EMailRecipientRefused : public EMailProtocolError {
public:
    EMailRecipientRefused(const std::string& message, const std::string& reply, std::vector<std::string> refused,
                          bool delivered)
        : EMailProtocolError(message, reply), Refused(std::move(refused)), Delivered(delivered) {}
    std::vector<std::string> Refused;
    bool Delivered;
};

// The server refused the user name or password.
class EMailAuthError : public EMailProtocolError {
public:
    using EMailProtocolError::EMailProtocolError;
};

// The server did not answer within the reply time.
class EMailTimeout : public EMailError {
public:
    using EMailError::EMailError;
};

// The connection broke or the server's answer could not be understood.
class EMailConnectionLost : public EMailError {
public:
    using EMailError::EMailError;
};

// A mail or reply larger than the limit set for it. It was read to its end and dropped, so the
// connection stays usable.
class EMailTooLarge : public EMailError {
public:
    using EMailError::EMailError;
};

// The connection could not be made secure as the account asks: the server offers no STARTTLS
// (STLS), or the TLS handshake failed. Nothing was sent in clear, the password least of all.
class EMailSecurityError : public EMailError {
public:
    using EMailError::EMailError;
};

// The server's certificate was refused: no trusted authority vouches for it, or it is made out to
// another name. Fingerprint (SHA-256, 64 lower-case hex digits) is what the user may choose to
// accept for that server from then on.
class EMailCertificateError : public EMailSecurityError {
public:
    EMailCertificateError(const std::string& message, std::string host, std::string fingerprint)
        : EMailSecurityError(message), Host(std::move(host)), Fingerprint(std::move(fingerprint)) {}
    std::string Host;
    std::string Fingerprint;
};

// A mail that cannot be sent as it stands (no recipients, an address that would corrupt the
// dialogue with the server).
class EMailInvalid : public EMailError {
public:
    using EMailError::EMailError;
};

}  // namespace mailtext
