#pragma once
// Connection security of the SMTP and POP3 clients. Nothing of the network library shows here.
#include <string>
#include <string_view>

namespace mailtext {

// Stored as a number in the setup: 0 none, 1 STARTTLS (POP3 STLS), 2 TLS from the first byte.
enum class MailSecurity { None = 0, StartTls = 1, Tls = 2 };

// The number as stored; anything outside the three choices is None.
MailSecurity MailSecurityFromInt(int value);

struct TlsSettings {
    MailSecurity Security = MailSecurity::None;
    // SHA-256 fingerprint (64 lower-case hex digits) of a certificate the user accepted: that
    // certificate is taken without a vouching authority and whatever names it carries.
    std::string TrustedCertificate;
};

// A SHA-256 fingerprint as 64 lower-case hex digits. Upper case, colons and blanks, as tools
// print fingerprints, are accepted; the empty text for anything that is not a fingerprint.
std::string NormaliseFingerprint(std::string_view text);

}  // namespace mailtext
