#pragma once
// Conversions between the mail object and the network library's message, shared by the readers,
// the writer and the SMTP and POP3 clients. Internal to mailtext: other folders include
// IdMessageHelpers.h, SmtpClient.h and Pop3Client.h instead, which show no library types.
#include "mailtext/Mail.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Poco::Net {
class MailMessage;
}

namespace mailtext::wire {

// Fills an empty library message with the mail's headers and content, ready to be written.
// Header values are cleaned of control characters, names are quoted or word-encoded, and text
// declares the code page as its charset.
void toLibraryMessage(const Mail& mail, Poco::Net::MailMessage& out);

// Reads raw message text (headers, blank line, body; no end-of-data line, not dot-stuffed).
// Reads as far as the text allows and never throws for malformed input.
std::unique_ptr<Mail> parseMail(std::string_view raw);

// Reads only the header block of raw message text into the mail's header members.
std::unique_ptr<Mail> parseHeaders(std::string_view raw);

// A header value with every control character replaced by a space, so it cannot start a line.
std::string headerSafe(std::string_view value);

// Address as it goes into a header: "name" <address>, with an encoded name where needed.
std::string headerAddress(const MailAddress& address);

// The address for MAIL FROM or RCPT TO; throws EMailInvalid when it could corrupt the dialogue.
std::string envelopeAddress(const std::string& address);

// The text that follows an accepted DATA command: the message as the library writes it, a dot
// doubled at the start of every line, and the line holding a single dot that ends the data.
std::string smtpDataBlock(const Poco::Net::MailMessage& message);

// A Message-ID ("<unique@domain>") on the domain of the given address, or on this host's name
// when the address has none. Unique across calls, threads and processes.
std::string newMessageId(const std::string& fromAddress);

// Line ends made CR LF, bare CR and bare LF alike.
std::string normaliseLineEnds(std::string_view text);

// Raw text up to (not including) a line holding a single ".", with the leading dot of dot-stuffed
// lines removed. Line ends become CR LF.
std::string unstuffDotTerminated(std::string_view text);

}  // namespace mailtext::wire
