#include "mailtext/IdMessageHelpers.h"

#include "mailtext/HtmlText.h"
#include "mailtext/MailWire.h"

#include <Poco/Net/MailMessage.h>

#include <sstream>

namespace mailtext {

std::unique_ptr<Mail> MessageFromText(std::string_view text) {
    return wire::parseMail(wire::unstuffDotTerminated(text));
}

std::string MessageToText(const Mail* mail) {
    if (!mail) return {};
    Poco::Net::MailMessage message;
    wire::toLibraryMessage(*mail, message);
    std::ostringstream out;
    message.write(out);
    return out.str();
}

std::string MessageBodyText(const Mail& mail) {
    try {
        if (!mail.hasParts()) return mail.bodyText();
        std::string result;
        for (const auto& part : mail.TextParts)
            if (part.headerText().find("text/plain") != std::string::npos) result += part.bodyText();
        if (result.empty()) {
            for (const auto& part : mail.TextParts)
                if (part.headerText().find("text/html") != std::string::npos)
                    result += htmlToText(part.bodyText());
        }
        if (result.empty()) {
            for (const auto& part : mail.TextParts) result += part.bodyText();
        }
        return result;
    } catch (...) {
        return {};
    }
}

std::string HeaderSummary(const Mail& mail) {
    return "From: " + mail.From.text() + "\r\n" + "To: " + mail.Recipients.text() + "\r\n" +
           "Sent: " + mail.Headers.value("date") + "\r\n" + "Subject: " + mail.Subject + "\r\n";
}

void MakeForward(const Mail& received, Mail& forward, const std::string& fromAddress,
                 const std::string& toAddresses) {
    // Read everything first: received and forward may be the same object.
    std::vector<std::string> body = splitLines(MessageBodyText(received));
    std::vector<std::string> quoted = {
        "----- Original Message -----",
        "From: " + received.From.text(),
        "To: " + received.Recipients.text(),
        "Sent: " + received.Headers.value("date"),
        "Subject: " + received.Subject,
        "",
    };
    quoted.insert(quoted.end(), body.begin(), body.end());
    std::vector<Attachment> attachments = received.Attachments;
    std::string receivedTo = received.Recipients.text();
    MailAddress sender = received.From;
    std::string subject = "Fw: " + received.Subject;

    forward.clear();
    forward.Body = std::move(quoted);
    forward.Attachments = std::move(attachments);
    forward.Recipients.setText(toAddresses);
    forward.From.setText(fromAddress.empty() ? receivedTo : fromAddress);
    forward.ReplyTo.clear();
    if (!sender.empty()) forward.ReplyTo.Items.push_back(sender);
    forward.Subject = std::move(subject);
}

void FillOutgoingMail(Mail& mail, const OutgoingMail& fields) {
    mail.Recipients.clear();
    mail.Recipients.add(fields.ToName, fields.ToAddress);
    mail.Subject = fields.Subject;
    if (!fields.PlainBody.empty()) {
        mail.ContentType = "text/plain";
        mail.setBodyText(fields.PlainBody);
    } else {
        mail.ContentType = "text/html";
        mail.setBodyText(fields.HtmlBody);
    }
    mail.From.setText(fields.From);
    mail.ReplyTo.setText(fields.ReplyTo.empty() ? fields.From : fields.ReplyTo);
    mail.Priority = fields.Priority;
    if (!fields.Receipt.empty()) mail.ReceiptRecipient.setText(fields.Receipt);
    mail.ListUnsubscribe = fields.UnsubscribeAddress;
}

}  // namespace mailtext
