#include "mailtext/MailSecurity.h"

#include <cctype>

namespace mailtext {

MailSecurity MailSecurityFromInt(int value) {
    if (value == 1) return MailSecurity::StartTls;
    if (value == 2) return MailSecurity::Tls;
    return MailSecurity::None;
}

std::string NormaliseFingerprint(std::string_view text) {
    std::string hex;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ':' || std::isspace(u)) continue;
        if (!std::isxdigit(u)) return {};
        hex += static_cast<char>(std::tolower(u));
    }
    return hex.size() == 64 ? hex : std::string();
}

}  // namespace mailtext
