#include "mailtext/DeliveryReport.h"

#include "mailtext/HtmlText.h"
#include "mailtext/MailWire.h"
#include "platform/Locale.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <set>

namespace mailtext {

namespace {

using platform::asciiLower;
using platform::trim;

// Notices longer than this are read only this far: the failed addresses come first, and a
// hostile mail must not make the reader walk megabytes of returned content line by line.
constexpr size_t MaxNoticeLines = 2000;
constexpr size_t MaxLineLength = 4096;

bool isAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\xa0'; }

// strchr also finds the terminating NUL, which a mail may well contain.
bool oneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

bool contains(std::string_view text, std::string_view what) { return text.find(what) != std::string_view::npos; }

bool containsAny(std::string_view text, std::initializer_list<std::string_view> words) {
    return std::any_of(words.begin(), words.end(), [&](std::string_view w) { return contains(text, w); });
}

std::string mediaType(const HeaderList& headers) {
    std::string type = headers.value("Content-Type");
    return asciiLower(trim(type.substr(0, type.find(';'))));
}

bool localChar(char c) { return isAlnum(c) || oneOf(c, "._%+-"); }
bool domainChar(char c) { return isAlnum(c) || c == '.' || c == '-'; }

// A mailbox name and a host name with a dotted, alphabetic top-level domain. Rejects what only
// looks like one: host names of a single label, doubled or edge dots, masked addresses.
bool plausibleAddress(std::string_view local, std::string_view domain) {
    if (local.empty() || local.size() > 64 || domain.size() < 3 || domain.size() > 255) return false;
    if (local.front() == '.' || local.back() == '.' || contains(local, "..")) return false;
    if (domain.front() == '.' || domain.front() == '-' || contains(domain, "..")) return false;
    const size_t dot = domain.rfind('.');
    if (dot == std::string_view::npos) return false;
    std::string_view tld = domain.substr(dot + 1);
    if (tld.empty() || !std::all_of(tld.begin(), tld.end(), isAlpha)) return false;
    for (size_t start = 0; start <= domain.size();) {
        size_t end = domain.find('.', start);
        if (end == std::string_view::npos) end = domain.size();
        std::string_view label = domain.substr(start, end - start);
        if (label.empty() || label.front() == '-' || label.back() == '-') return false;
        start = end + 1;
    }
    return true;
}

struct Found {
    std::string address;  // lower case
    size_t begin = 0;
    size_t end = 0;
};

// Every address written in a line of text, in order.
std::vector<Found> scanAddresses(std::string_view line) {
    std::vector<Found> result;
    size_t from = 0;
    while (from < line.size()) {
        const size_t at = line.find('@', from);
        if (at == std::string_view::npos) break;
        size_t b = at;
        while (b > 0 && localChar(line[b - 1])) --b;
        size_t e = at + 1;
        while (e < line.size() && domainChar(line[e])) ++e;
        // A sentence may end right after the address.
        size_t domainEnd = e;
        while (domainEnd > at + 1 && (line[domainEnd - 1] == '.' || line[domainEnd - 1] == '-')) --domainEnd;
        std::string_view local = line.substr(b, at - b);
        std::string_view domain = line.substr(at + 1, domainEnd - at - 1);
        if (plausibleAddress(local, domain)) result.push_back({asciiLower(line.substr(b, domainEnd - b)), b, domainEnd});
        from = std::max(e, at + 1);
    }
    return result;
}

// The address of a header value such as "Name <a@b.c>", or of a report field "rfc822; a@b.c".
std::string firstAddress(std::string_view text) {
    auto found = scanAddresses(text.substr(0, MaxLineLength));
    return found.empty() ? std::string() : found.front().address;
}

std::string localPartOf(std::string_view address) { return std::string(address.substr(0, address.find('@'))); }

std::string domainOf(std::string_view address) {
    const size_t at = address.find('@');
    return at == std::string_view::npos ? std::string() : std::string(address.substr(at + 1));
}

// Mailboxes that belong to mail systems and help desks, never to a list's subscriber.
bool isRoleMailbox(std::string_view address) {
    const std::string local = asciiLower(localPartOf(address));
    static const std::array<std::string_view, 16> roles = {
        "postmaster", "mailer-daemon", "mailer_daemon", "mailerdaemon", "mail-daemon", "maildaemon",
        "mdaemon",    "abuse",         "hostmaster",    "webmaster",    "noreply",     "no-reply",
        "donotreply", "do-not-reply",  "root",          "daemon"};
    return std::find(roles.begin(), roles.end(), local) != roles.end();
}

// The registrable part of a host name: two labels, or three under a country's generic second
// level (co.uk, com.au, ...).
std::string organisationDomain(std::string_view host) {
    std::vector<std::string_view> labels;
    for (size_t start = 0; start <= host.size();) {
        size_t end = host.find('.', start);
        if (end == std::string_view::npos) end = host.size();
        labels.push_back(host.substr(start, end - start));
        start = end + 1;
    }
    if (labels.size() < 2) return std::string(host);
    size_t keep = 2;
    static const std::array<std::string_view, 10> generic = {"co", "com", "ac", "org", "net", "gov", "edu", "ne", "or", "go"};
    if (labels.size() >= 3 && labels.back().size() == 2 &&
        std::find(generic.begin(), generic.end(), labels[labels.size() - 2]) != generic.end())
        keep = 3;
    std::string out;
    for (size_t i = labels.size() - keep; i < labels.size(); ++i) {
        if (!out.empty()) out += '.';
        out += labels[i];
    }
    return out;
}

// A mail written by a mail system rather than by a person.
bool fromMailSystem(const Mail& mail) {
    const std::string address = asciiLower(mail.From.Address);
    const std::string name = asciiLower(mail.From.Name);
    if (address.empty() || address == "<>") return true;
    const std::string local = localPartOf(address);
    if (containsAny(local, {"mailer-daemon", "mailer_daemon", "mailerdaemon", "mail-daemon", "maildaemon", "mdaemon",
                            "postmaster"}))
        return true;
    return containsAny(name, {"mail delivery", "mailer-daemon", "mailer daemon", "postmaster", "mail administrator",
                              "mail system"});
}

// What subjects of non-delivery notices say, in the languages such notices are commonly sent in.
bool bounceSubject(std::string_view subject) {
    const std::string s = asciiLower(subject);
    return containsAny(s, {"undeliver", "nondeliver", "non-deliver", "delivery fail", "delivery status",
                           "delivery problem", "delivery error", "failed delivery", "delivery has failed",
                           "returned mail", "returned to sender", "failure notice", "delivery notification",
                           "not delivered", "could not be delivered", "could not deliver", "unable to deliver",
                           "mail delivery", "non remis", "unzustellbar", "no entregado", "non recapitabile"});
}

bool replyOrForward(std::string_view subject) {
    const std::string s = asciiLower(trim(subject));
    for (std::string_view prefix : {"re:", "re :", "fw:", "fwd:", "aw:", "wg:", "tr:", "sv:", "vs:"})
        if (s.rfind(prefix, 0) == 0) return true;
    return false;
}

// Headers by which auto-responders (vacation notices and the like) mark their mails.
bool autoResponderMarked(const Mail& mail) {
    if (asciiLower(trim(mail.Headers.value("Precedence"))) == "auto_reply") return true;
    for (const char* name : {"X-Autoreply", "X-Autorespond", "X-Vacation"})
        if (mail.Headers.contains(name)) return true;
    return false;
}

// Subjects of auto-replies. Only asked of mails from people: a mail server's notice repeats the
// subject of the returned mail, which may say anything.
bool autoReplySubject(const Mail& mail) {
    const std::string s = asciiLower(mail.Subject);
    return containsAny(s, {"out of office", "out of the office", "auto-reply", "autoreply", "auto reply",
                           "automatic reply", "automatic response", "autoresponse", "auto response", "vacation",
                           "abwesenheit", "absence"});
}

bool autoSubmitted(const Mail& mail) {
    if (!mail.Headers.contains("Auto-Submitted")) return false;
    const std::string value = asciiLower(trim(mail.Headers.value("Auto-Submitted")));
    return !value.empty() && value != "no";
}

// The text of a part as lines, HTML rendered to what a reader sees.
std::vector<std::string> readableLines(const HeaderList& headers, const std::vector<std::string>& body) {
    if (mediaType(headers) == "text/html") return splitLines(htmlToText(joinLines(body)));
    return body;
}

// Headers a mailing list adds, naming the list's own addresses: a mail posted to a list is
// addressed to the list, and a report passed on by a list carries them too.
constexpr const char* ListHeaders[] = {"List-Post",  "List-Help",   "List-Subscribe", "List-Unsubscribe",
                                       "List-Owner", "X-BeenThere", "Errors-To"};

// Header fields of a returned mail, with the addresses that show who sent it and to whom.
struct ReturnedMail {
    std::set<std::string> senders;
    std::set<std::string> recipients;

    void read(const HeaderList& headers) {
        for (const char* name : ListHeaders)
            for (const auto& [n, v] : headers.Items)
                if (platform::sameText(n, name))
                    for (const Found& f : scanAddresses(std::string_view(v).substr(0, MaxLineLength)))
                        senders.insert(f.address);
        for (const char* name : {"From", "Sender", "Reply-To", "Return-Path"})
            for (const auto& [n, v] : headers.Items)
                if (platform::sameText(n, name))
                    for (const Found& f : scanAddresses(std::string_view(v).substr(0, MaxLineLength)))
                        senders.insert(f.address);
        for (const auto& [n, v] : headers.Items) {
            if (platform::sameText(n, "To") || platform::sameText(n, "Cc")) {
                for (const Found& f : scanAddresses(std::string_view(v).substr(0, MaxLineLength)))
                    recipients.insert(f.address);
            } else if (platform::sameText(n, "Received")) {
                // "... for <a@b.c>; date": the mailbox a relay delivered to.
                const std::string lowered = asciiLower(std::string_view(v).substr(0, MaxLineLength));
                const size_t forPos = lowered.rfind(" for ");
                if (forPos != std::string::npos) {
                    auto found = scanAddresses(std::string_view(lowered).substr(forPos));
                    if (!found.empty()) recipients.insert(found.front().address);
                }
            }
        }
    }

    void readText(std::string_view text) {
        auto mail = wire::parseHeaders(text);
        read(mail->Headers);
    }
};

// Names of header fields; a line "Name: value" starting with one is taken for a header.
bool headerName(std::string_view line, std::string& name) {
    size_t i = 0;
    while (i < line.size() && (isAlnum(line[i]) || line[i] == '-')) ++i;
    if (i == 0 || i >= line.size() || line[i] != ':' || !isAlpha(line[0])) return false;
    name = asciiLower(line.substr(0, i));
    return true;
}

// A quoted header block starts the returned mail in notices that include it after their text.
bool startsReturnedMail(const std::vector<std::string>& lines, size_t i) {
    std::string_view line = lines[i];
    while (!line.empty() && line.front() == '>') line.remove_prefix(1);
    std::string name;
    if (!headerName(line, name)) return false;
    static const std::array<std::string_view, 9> strong = {
        "return-path",        "received",     "delivered-to", "message-id",          "mime-version",
        "dkim-signature", "x-original-to", "envelope-to", "domainkey-signature"};
    if (std::find(strong.begin(), strong.end(), name) != strong.end()) return true;
    if (name != "from" && name != "date" && name != "subject") return false;
    // Two header lines in a row at the margin, as a mail's own header block has them.
    if (i + 1 >= lines.size()) return false;
    std::string_view next = lines[i + 1];
    while (!next.empty() && next.front() == '>') next.remove_prefix(1);
    std::string nextName;
    return headerName(next, nextName) && nextName != name;
}

// A line that repeats a field of the returned mail ("To: ...", "Subject: ..."): its addresses are
// the returned mail's, not failed recipients.
bool echoesHeader(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && (isSpace(line[i]) || line[i] == '>')) ++i;
    std::string name;
    if (!headerName(line.substr(i), name)) return false;
    static const std::array<std::string_view, 12> echoed = {"to",   "cc",         "bcc",         "from",
                                                            "sent", "subject",    "date",        "reply-to",
                                                            "sender", "return-path", "message-id", "received"};
    return std::find(echoed.begin(), echoed.end(), name) != echoed.end();
}

// A separator line announcing the returned mail ("----- Original message -----").
bool announcesReturnedMail(std::string_view line) {
    const std::string lowered = asciiLower(trim(line));
    if (lowered.empty() || contains(lowered, "@")) return false;
    size_t marks = 0;
    while (marks < lowered.size() && oneOf(lowered[marks], "-=_*")) ++marks;
    if (marks >= 2 && contains(lowered, "message") && lowered.back() != ':') return true;
    return lowered.size() < 80 && (lowered.rfind("original message", 0) == 0 ||
                                   containsAny(lowered, {"copy of the message", "copy of your message",
                                                         "copy of the original", "original message follows",
                                                         "original message attached"}));
}

// The word before position pos in the line, or the last word of the previous line when no word
// precedes the address on its own.
std::string previousWord(std::string_view line, size_t pos, std::string_view previousLine) {
    std::string_view before = line.substr(0, pos);
    auto lastWord = [](std::string_view text) {
        size_t e = text.size();
        while (e > 0 && (isSpace(text[e - 1]) || oneOf(text[e - 1], "<\"':,;("))) --e;
        size_t b = e;
        while (b > 0 && !isSpace(text[b - 1]) && !oneOf(text[b - 1], "<\"'(")) --b;
        return asciiLower(text.substr(b, e - b));
    };
    std::string word = lastWord(before);
    if (word.empty()) word = lastWord(previousLine);
    return word;
}

bool insideParentheses(std::string_view line, size_t pos) {
    const size_t open = line.substr(0, pos).rfind('(');
    if (open == std::string_view::npos) return false;
    return line.substr(open, pos - open).find(')') == std::string_view::npos;
}

struct EnhancedStatus {
    int klass = 0;  // 2, 4 or 5; 0 when absent
    std::string code;
};

EnhancedStatus parseStatus(std::string_view text) {
    for (size_t i = 0; i + 4 < text.size(); ++i) {
        const char c = text[i];
        if ((c != '2' && c != '4' && c != '5') || text[i + 1] != '.') continue;
        if (i > 0 && (std::isdigit(static_cast<unsigned char>(text[i - 1])) || text[i - 1] == '.')) continue;
        size_t j = i + 2;
        size_t digits = 0;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])) && digits < 3) ++j, ++digits;
        if (digits == 0 || j >= text.size() || text[j] != '.') continue;
        size_t k = j + 1;
        digits = 0;
        while (k < text.size() && std::isdigit(static_cast<unsigned char>(text[k])) && digits < 3) ++k, ++digits;
        if (digits == 0) continue;
        return {c - '0', std::string(text.substr(i, k - i))};
    }
    return {};
}

// An SMTP reply code of the permanent class ("550 ", "#550", "554-") in a line of a notice.
bool permanentReplyCode(std::string_view line) {
    for (size_t i = 0; i + 3 <= line.size(); ++i) {
        if (line[i] != '5' || !std::isdigit(static_cast<unsigned char>(line[i + 1])) ||
            !std::isdigit(static_cast<unsigned char>(line[i + 2])))
            continue;
        const bool before = i == 0 || isSpace(line[i - 1]) || line[i - 1] == '#' || line[i - 1] == ':';
        const bool after = i + 3 == line.size() || isSpace(line[i + 3]) || line[i + 3] == '-';
        if (before && after) return true;
    }
    return false;
}

struct Exclusions {
    std::set<std::string> addresses;

    bool excluded(const std::string& address) const { return addresses.count(address) != 0; }
    void add(std::string_view text) {
        for (const Found& f : scanAddresses(text.substr(0, MaxLineLength))) addresses.insert(f.address);
    }
};

// One recipient block of a delivery status report.
struct DsnRecipient {
    std::string finalRecipient;
    std::string originalRecipient;
    std::string action;
    EnhancedStatus status;
};

// The groups of "Field: value" lines of a message/delivery-status body; a group ends at a blank
// line. Continuation lines belong to the field before them.
std::vector<DsnRecipient> readDeliveryStatus(std::string_view body) {
    std::vector<DsnRecipient> recipients;
    DsnRecipient current;
    bool hasRecipient = false;
    std::string lastField;
    auto flush = [&] {
        if (hasRecipient) recipients.push_back(current);
        current = DsnRecipient();
        hasRecipient = false;
        lastField.clear();
    };
    size_t lines = 0;
    for (const std::string& raw : splitLines(body)) {
        if (++lines > MaxNoticeLines) break;
        std::string_view line = std::string_view(raw).substr(0, MaxLineLength);
        if (trim(line).empty()) {
            flush();
            continue;
        }
        if (isSpace(line.front())) {
            if (lastField == "status" && current.status.klass == 0) current.status = parseStatus(line);
            continue;
        }
        std::string name;
        if (!headerName(line, name)) continue;
        const std::string value = trim(line.substr(line.find(':') + 1));
        lastField = name;
        if (name == "final-recipient" || name == "original-recipient") {
            // A new recipient field of a kind the block already has starts the next recipient:
            // some servers leave out the blank line between recipients.
            const std::string& slot = name == "final-recipient" ? current.finalRecipient : current.originalRecipient;
            if (hasRecipient && !slot.empty()) flush();
            std::string& target = name == "final-recipient" ? current.finalRecipient : current.originalRecipient;
            const size_t semicolon = value.find(';');
            target = firstAddress(semicolon == std::string::npos ? value : value.substr(semicolon + 1));
            hasRecipient = true;
        } else if (name == "action") {
            current.action = asciiLower(trim(value.substr(0, value.find_first_of(" \t("))));
        } else if (name == "status") {
            current.status = parseStatus(value);
        }
    }
    flush();
    return recipients;
}

enum class DsnOutcome { Failed, Delayed, Delivered, Unknown };

DsnOutcome outcomeOf(const DsnRecipient& r) {
    const std::string& a = r.action;
    if (a == "failed") return DsnOutcome::Failed;
    if (a == "delayed") return DsnOutcome::Delayed;
    if (a == "delivered" || a == "relayed" || a == "expanded") return DsnOutcome::Delivered;
    if (a.empty()) {
        // Every recipient block must say what happened; without that only a permanent status is
        // trusted as a failure.
        return r.status.klass == 5 ? DsnOutcome::Failed : DsnOutcome::Unknown;
    }
    if (r.status.klass == 2) return DsnOutcome::Delivered;
    if (r.status.klass == 4) return DsnOutcome::Delayed;
    return DsnOutcome::Failed;
}

void addRecipient(std::vector<FailedRecipient>& list, FailedRecipient recipient) {
    for (FailedRecipient& r : list) {
        if (r.Address != recipient.Address) continue;
        for (std::string& alias : recipient.Aliases)
            if (std::find(r.Aliases.begin(), r.Aliases.end(), alias) == r.Aliases.end()) r.Aliases.push_back(alias);
        r.Permanent = r.Permanent || recipient.Permanent;
        return;
    }
    list.push_back(std::move(recipient));
}

class ReportReader {
public:
    ReportReader(const Mail& mail, const std::vector<std::string>& own) : mail_(mail) {
        for (const std::string& a : own) exclusions_.add(a);
        for (const char* name : {"From", "To", "Cc", "Reply-To", "Sender", "Return-Path", "Delivered-To",
                                 "X-Original-To", "Envelope-To", "Resent-From", "Resent-Sender"})
            for (const auto& [n, v] : mail.Headers.Items)
                if (platform::sameText(n, name)) exclusions_.add(v);
        for (const char* name : ListHeaders)
            for (const auto& [n, v] : mail.Headers.Items)
                if (platform::sameText(n, name)) exclusions_.add(v);
    }

    DeliveryReport read() {
        DeliveryReport report;
        collectParts();
        if (feedback_) {
            report.Kind = ReportKind::FeedbackReport;
            return report;
        }
        // A read receipt says a mail arrived.
        if (receipt_) return report;
        for (const std::string& a : returned_.senders) exclusions_.addresses.insert(a);

        // A challenge-response system asks the sender to prove they are a person, typically by
        // replying to the very mailbox it reports as unreachable; a mail server never does.
        const std::string replyTo = firstAddress(mail_.Headers.value("Reply-To"));
        for (const DsnRecipient& r : dsn_) {
            if (!replyTo.empty() && (r.finalRecipient == replyTo || r.originalRecipient == replyTo)) {
                report.Kind = ReportKind::ChallengeResponse;
                return report;
            }
        }
        bool anyDelivered = false;
        bool anyFailed = false;
        for (const DsnRecipient& r : dsn_) {
            const DsnOutcome outcome = outcomeOf(r);
            if (outcome == DsnOutcome::Delivered) anyDelivered = true;
            if (outcome != DsnOutcome::Failed && outcome != DsnOutcome::Delayed) continue;
            anyFailed = true;
            FailedRecipient failed;
            // The final address is the one the failure is about; the original one is how the
            // sender wrote it, and serves when the final one is missing or not a real address.
            failed.Address = r.finalRecipient.empty() ? r.originalRecipient : r.finalRecipient;
            if (!r.originalRecipient.empty() && r.originalRecipient != failed.Address)
                failed.Aliases.push_back(r.originalRecipient);
            if (failed.Address.empty() || exclusions_.excluded(failed.Address)) continue;
            failed.Permanent = outcome == DsnOutcome::Failed;
            failed.Status = r.status.code;
            addRecipient(report.Recipients, std::move(failed));
        }
        // A report whose failures are all about the sender's own addresses names no one; its text
        // would only repeat them.
        if (anyFailed) {
            report.Kind = ReportKind::Bounce;
            addReturnedAddress(report.Recipients);
            return report;
        }
        if (anyDelivered) {
            report.Kind = ReportKind::DeliverySuccess;
            return report;
        }
        const bool mailSystem = fromMailSystem(mail_);
        if (autoResponderMarked(mail_) || (!mailSystem && (autoSubmitted(mail_) || autoReplySubject(mail_)))) {
            report.Kind = ReportKind::AutoReply;
            return report;
        }
        // Gateways and filters send notices from addresses of their own; their subject still says
        // what the mail is. A person's reply or forward of such a notice is not one.
        if (!mailSystem && !(bounceSubject(mail_.Subject) && !replyOrForward(mail_.Subject))) return report;
        readNotice(report);
        return report;
    }

private:
    void collectParts() {
        const std::string mailType = asciiLower(mail_.ContentType);
        if (contains(mailType, "feedback-report")) feedback_ = true;
        if (contains(mailType, "disposition-notification")) receipt_ = true;
        for (const Attachment& a : mail_.Attachments) {
            const std::string type = asciiLower(a.ContentType);
            if (type == "message/feedback-report") feedback_ = true;
            else if (type == "message/disposition-notification") receipt_ = true;
            else if (type == "message/delivery-status" || type == "message/global-delivery-status") {
                auto found = readDeliveryStatus(a.Data);
                dsn_.insert(dsn_.end(), found.begin(), found.end());
            } else if (type == "message/rfc822" || type == "message/global" || type == "text/rfc822-headers") {
                returned_.readText(a.Data);
                returnedFound_ = true;
            }
        }
        if (!mail_.hasParts()) {
            notice_ = readableLines(mail_.Headers, mail_.Body);
            return;
        }
        bool plain = false;
        for (const TextPart& p : mail_.TextParts) plain = plain || mediaType(p.Headers) == "text/plain";
        for (const TextPart& p : mail_.TextParts) {
            const std::string type = mediaType(p.Headers);
            if (type == "text/rfc822-headers") {
                returned_.readText(joinLines(p.Body));
                returnedFound_ = true;
                continue;
            }
            // Servers send their notice as plain text and HTML alternatives: read one of them.
            if (plain && type == "text/html") continue;
            auto lines = readableLines(p.Headers, p.Body);
            notice_.insert(notice_.end(), lines.begin(), lines.end());
            if (notice_.size() > MaxNoticeLines) break;
        }
    }

    void readNotice(DeliveryReport& report) {
        report.Kind = ReportKind::Bounce;
        std::vector<FailedRecipient> found;
        bool permanentSign = false;
        bool temporarySign = false;
        std::string previous;
        const size_t count = std::min(notice_.size(), MaxNoticeLines);
        size_t i = 0;
        size_t firstNamed = count;
        for (; i < count; ++i) {
            std::string_view line = std::string_view(notice_[i]).substr(0, MaxLineLength);
            if (startsReturnedMail(notice_, i)) {
                readInlineReturnedMail(i, count);
                break;
            }
            if (!found.empty() && announcesReturnedMail(line)) {
                for (size_t j = i + 1; j < count && j <= i + 4; ++j)
                    if (startsReturnedMail(notice_, j)) {
                        readInlineReturnedMail(j, count);
                        break;
                    }
                break;
            }
            noteSigns(line, permanentSign, temporarySign);
            if (!echoesHeader(line)) collectAddresses(line, previous, found);
            if (!found.empty() && firstNamed == count) firstNamed = i;
            if (!trim(line).empty()) previous = std::string(line);
        }
        noteSigns(mail_.Subject, permanentSign, temporarySign);
        for (const std::string& a : returned_.senders) {
            found.erase(std::remove_if(found.begin(), found.end(),
                                       [&](const FailedRecipient& r) { return r.Address == a; }),
                        found.end());
        }
        // Exim names the failed recipients in a header of their own.
        std::vector<FailedRecipient> listed;
        for (const auto& [name, value] : mail_.Headers.Items) {
            if (!platform::sameText(name, "X-Failed-Recipients")) continue;
            for (const Found& f : scanAddresses(std::string_view(value).substr(0, MaxLineLength))) {
                if (exclusions_.excluded(f.address)) continue;
                FailedRecipient r;
                r.Address = f.address;
                for (const FailedRecipient& scanned : found)
                    if (scanned.Address == f.address) r.Aliases = scanned.Aliases;
                addRecipient(listed, std::move(r));
            }
        }
        if (!listed.empty()) found = std::move(listed);
        keepReturnedRecipients(found);
        // A notice whose first list names bare mailboxes explains itself with example addresses
        // further on; those are not recipients.
        std::vector<FailedRecipient> bare = bareRecipients(std::min(i, firstNamed), true);
        if (!bare.empty()) found = std::move(bare);
        else if (found.empty()) found = bareRecipients(i, false);
        const bool permanent = permanentSign || !temporarySign;
        for (FailedRecipient& r : found) {
            r.Permanent = permanent;
            addRecipient(report.Recipients, std::move(r));
        }
        addReturnedAddress(report.Recipients);
        // A notice that only says where the mail arrived names its recipients too.
        if (succeeded_ && !failureWords_) {
            report.Kind = ReportKind::DeliverySuccess;
            report.Recipients.clear();
        }
        // Mail systems send other notices too (quarantine digests, say): a bounce either says that
        // delivery failed or returns the mail.
        if (!failureWords_ && !returnedFound_ && report.Kind == ReportKind::Bounce) {
            report.Kind = ReportKind::NotReport;
            report.Recipients.clear();
        }
    }

    void noteSigns(std::string_view line, bool& permanent, bool& temporary) {
        const std::string lowered = asciiLower(line);
        const EnhancedStatus status = parseStatus(lowered);
        if (status.klass == 5 || status.klass == 4 || permanentReplyCode(lowered) ||
            containsAny(lowered, {"permanent", "fatal", "given up", "gave up", "giving up", "fail", "undeliver",
                                  "unable", "could not", "couldn't", "not be delivered", "not delivered",
                                  "wasn't delivered", "not yet", "delay", "unknown", "no such", "reject",
                                  "did not reach", "not reach", "exceed", "quota", "denied"}))
            failureWords_ = true;
        if (status.klass == 5 || permanentReplyCode(lowered) ||
            containsAny(lowered, {"permanent", "fatal", "given up", "gave up", "giving up"}))
            permanent = true;
        if (status.klass == 4 ||
            containsAny(lowered, {"not yet been delivered", "will continue", "will keep trying", "will retry",
                                  "will be retried", "still trying", "delayed", "is being retried", "will try again",
                                  "temporary failure", "transient", "no action is required"}))
            temporary = true;
        for (std::string_view phrase : {"was delivered", "been delivered", "delivery succeeded", "successfully delivered",
                                        "successfully relayed", "relayed successfully", "recipients succeeded",
                                        "delivery was successful"}) {
            const size_t at = lowered.find(phrase);
            if (at == std::string::npos) continue;
            // "has not yet been delivered" says the opposite.
            const std::string_view before = std::string_view(lowered).substr(at > 16 ? at - 16 : 0, at > 16 ? 16 : at);
            if (!containsAny(before, {"not", "n't", "yet", "never"})) succeeded_ = true;
        }
    }

    void collectAddresses(std::string_view line, const std::string& previousLine, std::vector<FailedRecipient>& found) {
        for (const Found& f : scanAddresses(line)) {
            if (exclusions_.excluded(f.address) || isRoleMailbox(f.address)) continue;
            const std::string word = previousWord(line, f.begin, previousLine);
            if (word == "from" || word == "by") {
                // "(expanded from: a@b.c)": the address the failed one was derived from.
                if (insideParentheses(line, f.begin) && !found.empty()) {
                    auto& aliases = found.back().Aliases;
                    if (f.address != found.back().Address &&
                        std::find(aliases.begin(), aliases.end(), f.address) == aliases.end())
                        aliases.push_back(f.address);
                }
                continue;
            }
            FailedRecipient r;
            r.Address = f.address;
            // An address named as the original of another is still a failed recipient when the
            // notice also names it on its own.
            for (FailedRecipient& other : found) {
                auto& aliases = other.Aliases;
                aliases.erase(std::remove(aliases.begin(), aliases.end(), f.address), aliases.end());
            }
            addRecipient(found, std::move(r));
        }
    }

    void readInlineReturnedMail(size_t start, size_t count) {
        std::string block;
        for (size_t j = start; j < count && !trim(notice_[j]).empty(); ++j) {
            std::string_view line = notice_[j];
            while (!line.empty() && line.front() == '>') line.remove_prefix(1);
            block.append(line);
            block += "\r\n";
        }
        block += "\r\n";
        returned_.readText(block);
        returnedFound_ = true;
    }

    // A mail sent to one address that failed at another was forwarded or rewritten on its way:
    // the address it was sent to stands for the same recipient.
    void addReturnedAddress(std::vector<FailedRecipient>& recipients) const {
        if (recipients.size() != 1 || returned_.recipients.size() != 1 || !recipients[0].Domain.empty()) return;
        const std::string& sentTo = *returned_.recipients.begin();
        FailedRecipient& r = recipients[0];
        if (sentTo == r.Address || exclusions_.excluded(sentTo) ||
            std::find(r.Aliases.begin(), r.Aliases.end(), sentTo) != r.Aliases.end())
            return;
        r.Aliases.push_back(sentTo);
    }

    // When the returned mail shows whom it was addressed to, the notice's addresses that stand
    // for one of those are the failed ones; other addresses in the text are help desks, hosts and
    // the like.
    void keepReturnedRecipients(std::vector<FailedRecipient>& found) const {
        if (returned_.recipients.empty()) return;
        auto addressed = [&](const FailedRecipient& r) {
            if (returned_.recipients.count(r.Address)) return true;
            return std::any_of(r.Aliases.begin(), r.Aliases.end(),
                               [&](const std::string& a) { return returned_.recipients.count(a) != 0; });
        };
        if (std::none_of(found.begin(), found.end(), addressed)) return;
        found.erase(std::remove_if(found.begin(), found.end(), [&](const FailedRecipient& r) { return !addressed(r); }),
                    found.end());
    }

    // Some servers list the mailbox name alone ("userx"), meaning a mailbox of their own domain:
    // the first word after a line that introduces a list (ends with ":"), looked for before line
    // end; with firstListOnly, only the notice's first list counts.
    std::vector<FailedRecipient> bareRecipients(size_t end, bool firstListOnly) const {
        const std::string domain = organisationDomain(asciiLower(domainOf(mail_.From.Address)));
        if (domain.empty() || !contains(domain, ".")) return {};
        for (size_t i = 0; i + 1 < end; ++i) {
            const std::string intro = trim(notice_[i]);
            if (intro.empty() || intro.back() != ':' || echoesHeader(intro)) continue;
            size_t j = i + 1;
            while (j < end && trim(notice_[j]).empty()) ++j;
            if (j >= end) return {};
            std::string_view line = notice_[j];
            size_t b = 0;
            while (b < line.size() && (isSpace(line[b]) || line[b] == '<' || line[b] == '"')) ++b;
            size_t e = b;
            while (e < line.size() && localChar(line[e])) ++e;
            std::string_view word = line.substr(b, e - b);
            std::string_view rest = line.substr(e);
            const bool alone = trim(rest).empty() || rest.rfind("  ", 0) == 0 || rest.front() == '\t' ||
                               rest.front() == '>';
            if (word.size() < 2 || !std::any_of(word.begin(), word.end(), isAlpha) || !alone ||
                word.front() == '.' || word.back() == '.') {
                if (firstListOnly) return {};
                continue;
            }
            FailedRecipient r;
            r.Address = asciiLower(word);
            r.Domain = domain;
            if (isRoleMailbox(r.Address + "@" + domain)) return {};
            return {r};
        }
        return {};
    }

    const Mail& mail_;
    Exclusions exclusions_;
    ReturnedMail returned_;
    bool feedback_ = false;
    bool receipt_ = false;
    bool returnedFound_ = false;
    bool failureWords_ = false;
    bool succeeded_ = false;
    std::vector<DsnRecipient> dsn_;
    std::vector<std::string> notice_;
};

}  // namespace

DeliveryReport ReadDeliveryReport(const Mail& mail, const std::vector<std::string>& ownAddresses) {
    try {
        return ReportReader(mail, ownAddresses).read();
    } catch (...) {
        // A report that cannot be read names no one.
        return {};
    }
}

bool RecipientMatches(const FailedRecipient& recipient, std::string_view address) {
    const std::string lowered = asciiLower(trim(address));
    if (lowered.empty()) return false;
    if (recipient.Domain.empty()) {
        if (lowered == recipient.Address) return true;
        return std::find(recipient.Aliases.begin(), recipient.Aliases.end(), lowered) != recipient.Aliases.end();
    }
    if (localPartOf(lowered) != recipient.Address) return false;
    const std::string domain = domainOf(lowered);
    return domain == recipient.Domain ||
           (domain.size() > recipient.Domain.size() && domain.ends_with("." + recipient.Domain));
}

}  // namespace mailtext
