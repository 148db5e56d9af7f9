#pragma once
// Operations on the mail object that need nothing of the setup model: reading and writing raw
// message text, the readable text of a mail, the header summary, forwarding, and filling an
// outgoing mail from ready texts.
#include "mailtext/Mail.h"

#include <memory>
#include <string>
#include <string_view>

namespace mailtext {

// Reads raw message text (headers, blank line, body). A line holding a single "." ends the text,
// and the leading dot of dot-stuffed lines is removed, as on the wire. Malformed input is read as
// far as it goes; never throws for bad input.
std::unique_ptr<Mail> MessageFromText(std::string_view text);

// The raw text (headers and body) the mail goes out as; the empty text for no mail.
std::string MessageToText(const Mail* mail);

// The readable text of a mail: the plain text parts, else the rendered HTML parts, else every text
// part; the body of a mail without parts. Never throws: the empty text instead.
std::string MessageBodyText(const Mail& mail);

// "From: ", "To: ", "Sent: " and "Subject: " lines, each ended by CR LF.
std::string HeaderSummary(const Mail& mail);

// Fills forward as a forward of received: quoted header lines above the readable text, the
// attachments copied, sent from fromAddress (or the mailbox that received it) to toAddresses.
void MakeForward(const Mail& received, Mail& forward, const std::string& fromAddress,
                 const std::string& toAddresses);

// Everything an outgoing mail is made of, with texts already personalised.
struct OutgoingMail {
    std::string ToName;
    std::string ToAddress;
    std::string Subject;
    std::string PlainBody;
    std::string HtmlBody;
    std::string From;
    // Empty: replies go to From.
    std::string ReplyTo;
    int Priority = 2;
    // Empty: no read receipt is asked for.
    std::string Receipt;
    // Empty: the mail carries no List-Unsubscribe header.
    std::string UnsubscribeAddress;
};

// Fills an empty mail: addressed to one recipient, the plain body when it is not empty and the
// HTML body otherwise (only one of them goes out), reply-to, priority, receipt request and the
// unsubscribe address.
void FillOutgoingMail(Mail& mail, const OutgoingMail& fields);

}  // namespace mailtext
