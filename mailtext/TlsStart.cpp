#include "mailtext/TlsStart.h"

#include "mailtext/MailErrors.h"

#include <Poco/Net/Context.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/NetSSL.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/X509Certificate.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <set>

namespace mailtext::net {

namespace {

// What the chain check found, kept per connection until the handshake is over.
struct ChainCheck {
    std::string error;
};

// The handshake always goes on: whether the certificate is taken is decided afterwards, where a
// fingerprint the user accepted can overrule a missing authority. Nothing but the handshake
// passes before that decision.
int recordChainError(int ok, X509_STORE_CTX* store) {
    if (!ok) {
        auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* check = ssl ? static_cast<ChainCheck*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr;
        if (check && check->error.empty())
            check->error = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    }
    return 1;
}

std::string sha256Of(const X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!X509_digest(certificate, EVP_sha256(), digest, &length)) return {};
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

bool madeOutTo(X509* certificate, const std::string& host) {
    Poco::Net::IPAddress ip;
    if (Poco::Net::IPAddress::tryParse(host, ip)) return X509_check_ip_asc(certificate, host.c_str(), 0) == 1;
    return X509_check_host(certificate, host.c_str(), host.size(), 0, nullptr) == 1;
}

std::string namesOf(const Poco::Net::X509Certificate& certificate) {
    std::string commonName;
    std::set<std::string> names;
    certificate.extractNames(commonName, names);
    if (names.empty() && !commonName.empty()) names.insert(commonName);
    std::string out;
    for (const auto& name : names) out += (out.empty() ? "" : ", ") + name;
    return out.empty() ? "no name" : out;
}

}  // namespace

std::string printedFingerprint(const std::string& fingerprint) {
    std::string out;
    for (size_t i = 0; i < fingerprint.size(); ++i) {
        if (i > 0 && i % 2 == 0) out += ':';
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(fingerprint[i])));
    }
    return out;
}

void startTls(WireSocket& wire, const std::string& host, const TlsSettings& tls, const std::string& step) {
    static const bool initialised = [] {
        Poco::Net::initializeSSL();
        return true;
    }();
    (void)initialised;
    Poco::Net::Context::Params params;
    params.verificationMode = Poco::Net::Context::VERIFY_RELAXED;
    params.loadDefaultCAs = true;
    params.cipherList = "DEFAULT";
    // One context per connection: the chain check of the handshake reports into it.
    Poco::Net::Context::Ptr context = new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, params);
    context->requireMinimumProtocol(Poco::Net::Context::PROTO_TLSV1_2);
    // The name is checked below, after the fingerprint had its say.
    context->enableExtendedCertificateVerification(false);
    ChainCheck check;
    // The context may outlive this call inside the socket; it must not keep pointing here.
    struct Reporting {
        SSL_CTX* context;
        ~Reporting() { SSL_CTX_set_app_data(context, nullptr); }
    } reporting{context->sslContext()};
    SSL_CTX_set_app_data(context->sslContext(), &check);
    SSL_CTX_set_verify(context->sslContext(), SSL_VERIFY_PEER, recordChainError);

    Poco::Net::SecureStreamSocket secure = Poco::Net::SecureStreamSocket::attach(wire.socket(), host, context);
    wire.upgrade(secure);
    secure.completeHandshake();

    const Poco::Net::X509Certificate certificate = secure.peerCertificate();
    X509* x509 = const_cast<X509*>(certificate.certificate());
    const std::string fingerprint = sha256Of(x509);
    if (!fingerprint.empty() && fingerprint == NormaliseFingerprint(tls.TrustedCertificate)) return;
    std::string reason;
    if (!check.error.empty()) reason = "no trusted authority vouches for it (" + check.error + ")";
    else if (!madeOutTo(x509, host)) reason = "it is made out to " + namesOf(certificate) + ", not to " + host;
    if (reason.empty()) return;
    throw EMailCertificateError(step + ": the certificate of " + host + " was refused: " + reason +
                                    ". SHA-256 fingerprint: " + printedFingerprint(fingerprint),
                                host, fingerprint);
}

}  // namespace mailtext::net
