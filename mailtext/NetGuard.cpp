#include "mailtext/NetGuard.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SSLException.h>

#include <exception>

namespace mailtext::net {

namespace {

std::string text(const Poco::Exception& e) { return e.displayText(); }

}  // namespace

void rethrowTranslated(const std::string& step) {
    try {
        throw;
    } catch (const EMailError&) {
        throw;
    } catch (const Poco::TimeoutException& e) {
        throw EMailTimeout(step + ": the server did not answer in time (" + text(e) + ")");
    } catch (const Poco::Net::ConnectionRefusedException& e) {
        throw EMailConnectError(step + ": " + text(e));
    } catch (const Poco::Net::DNSException& e) {
        throw EMailConnectError(step + ": " + text(e));
    } catch (const Poco::Net::InvalidAddressException& e) {
        throw EMailConnectError(step + ": " + text(e));
    } catch (const Poco::Net::SMTPException& e) {
        // The library passes the reply's status as the code; without one there was no reply at
        // all (the connection closed) or none that could be read.
        if (e.code() >= 400 && e.code() < 600) throw EMailProtocolError(step + ": " + e.message(), e.message());
        throw EMailConnectionLost(step + ": no valid reply from the server (" + e.message() + ")");
    } catch (const Poco::Net::POP3Exception& e) {
        throw EMailProtocolError(step + ": " + e.message(), e.message());
    } catch (const Poco::Net::SSLException& e) {
        // Never followed by a retry in clear: the caller only sees the failure.
        throw EMailSecurityError(step + ": the TLS connection failed (" + text(e) + ")");
    } catch (const Poco::Net::NetException& e) {
        throw EMailConnectionLost(step + ": " + text(e));
    } catch (const Poco::IOException& e) {
        throw EMailConnectionLost(step + ": " + text(e));
    } catch (const Poco::Exception& e) {
        throw EMailError(step + ": " + text(e));
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        throw EMailError(step + ": " + e.what());
    } catch (...) {
        // Whatever else was thrown still ends as an error of the mail layer, never past this
        // function's promise not to return.
        throw EMailError(step + ": unexpected error");
    }
}

}  // namespace mailtext::net
