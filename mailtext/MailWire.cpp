#include "mailtext/MailWire.h"

#include "mailtext/MailErrors.h"
#include "platform/CodePage.h"

#include <Poco/Exception.h>
#include <Poco/Net/MailMessage.h>
#include <Poco/Net/MessageHeader.h>
#include <Poco/Net/StringPartSource.h>
#include <Poco/TextConverter.h>
#include <Poco/TextEncoding.h>
#include <Poco/UTF8Encoding.h>

#include <Poco/Environment.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

#include <unistd.h>
#include <cctype>
#include <cstring>
#include <sstream>

namespace mailtext::wire {

namespace {

using Poco::Net::MessageHeader;

// Nested multiparts deeper than this are kept as attachments rather than walked.
constexpr int MaxNesting = 32;
// Parts of one mail; hostile mails can otherwise declare millions of empty parts.
constexpr int MaxParts = 10000;
// Header fields of one block: mails that crossed many relays carry long Received chains.
constexpr size_t TopHeaderLimit = 1000;
// Longer header values are cut: no real header needs more.
constexpr size_t MaxHeaderValue = 64 * 1024;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        if (c < 0x80) extra = 0;
        else if (c >= 0xC2 && c < 0xE0) extra = 1;
        else if (c >= 0xE0 && c < 0xF0) extra = 2;
        else if (c >= 0xF0 && c < 0xF5) extra = 3;
        else return false;
        if (s.size() - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

// The library hands decoded encoded-words over as UTF-8, while raw 8-bit header bytes stay as they
// came; only the former is converted.
std::string headerToCodePage(std::string_view value) {
    if (isAscii(value) || !isValidUtf8(value)) return std::string(value);
    return platform::fromUtf8(value);
}

std::string bodyToCodePage(const std::string& bytes, const std::string& charset) {
    std::string cs = lower(trim(charset));
    if (cs.empty() || isAscii(bytes) || cs == "us-ascii" || cs == "windows-1252" || cs == "cp1252" ||
        cs == "iso-8859-1" || cs == "latin1" || cs == "iso8859-1")
        return bytes;
    if (cs == "utf-8" || cs == "utf8") return platform::fromUtf8(bytes);
    try {
        Poco::TextEncoding& from = Poco::TextEncoding::byName(cs);
        Poco::UTF8Encoding utf8;
        Poco::TextConverter converter(from, utf8);
        std::string converted;
        converter.convert(bytes, converted);
        return platform::fromUtf8(converted);
    } catch (const Poco::Exception&) {
        // An unknown charset: the bytes are still the best guess at the text.
        return bytes;
    }
}

struct ContentInfo {
    std::string mediaType;  // lower case type/subtype
    std::string charset;
    std::string boundary;
    std::string name;
};

ContentInfo contentInfo(const HeaderList& headers) {
    ContentInfo info;
    std::string value = headers.value("Content-Type");
    try {
        Poco::Net::NameValueCollection params;
        std::string type;
        MessageHeader::splitParameters(value, type, params);
        info.mediaType = lower(trim(type));
        info.charset = params.get("charset", "");
        info.boundary = params.get("boundary", "");
        info.name = params.get("name", "");
    } catch (const Poco::Exception&) {
        info.mediaType = lower(trim(value.substr(0, value.find(';'))));
    }
    return info;
}

std::string dispositionFileName(const HeaderList& headers, bool& isAttachment) {
    std::string value = headers.value("Content-Disposition");
    isAttachment = false;
    if (value.empty()) return {};
    try {
        Poco::Net::NameValueCollection params;
        std::string disposition;
        MessageHeader::splitParameters(value, disposition, params);
        isAttachment = lower(trim(disposition)) == "attachment";
        return params.get("filename", "");
    } catch (const Poco::Exception&) {
        isAttachment = lower(value).rfind("attachment", 0) == 0;
        return {};
    }
}

bool isHeaderName(std::string_view line, size_t& colon) {
    colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c <= 0x20 || c >= 0x7F) return false;
    }
    return true;
}

std::string decodeHeaderValue(const std::string& value) {
    std::string decoded = value;
    if (value.find("=?") != std::string::npos) {
        try {
            decoded = MessageHeader::decodeWord(value, "UTF-8");
        } catch (const Poco::Exception&) {
            // An encoded word the library cannot read stays as written.
        }
    }
    std::string text = headerToCodePage(decoded);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return text;
}

// Reads the header block at the start of text: field lines and their continuations, up to an
// empty line or the first line that is neither (which then starts the body). Returns where the
// body begins. Expects CR LF line ends.
size_t readHeaderBlock(std::string_view text, HeaderList& headers) {
    size_t pos = 0;
    std::string name, value;
    bool open = false;
    auto flush = [&] {
        if (open && headers.Items.size() < TopHeaderLimit)
            headers.add(name, decodeHeaderValue(trim(value)));
        open = false;
    };
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        size_t next = end == std::string_view::npos ? text.size() : end + 2;
        std::string_view line = text.substr(pos, (end == std::string_view::npos ? text.size() : end) - pos);
        if (line.empty()) {
            flush();
            return next;
        }
        size_t colon = 0;
        if ((line[0] == ' ' || line[0] == '\t') && open) {
            if (value.size() < MaxHeaderValue) value.append(line.substr(0, MaxHeaderValue));
        } else if (isHeaderName(line, colon)) {
            flush();
            name = std::string(line.substr(0, colon));
            value = std::string(line.substr(colon + 1, MaxHeaderValue));
            open = true;
        } else {
            flush();
            return pos;
        }
        pos = next;
    }
    flush();
    return pos;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Skips characters outside the alphabet and stops at padding, so a damaged line costs only itself.
std::string decodeBase64(std::string_view in) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(in.size() * 3 / 4);
    unsigned bits = 0;
    int count = 0;
    auto flushPartial = [&] {
        if (count == 2) out += static_cast<char>((bits >> 4) & 0xFF);
        if (count == 3) {
            out += static_cast<char>((bits >> 10) & 0xFF);
            out += static_cast<char>((bits >> 2) & 0xFF);
        }
        bits = 0;
        count = 0;
    };
    for (char c : in) {
        if (c == '=') {
            // Padding ends a group; another may follow where encodings were concatenated.
            flushPartial();
            continue;
        }
        size_t v = alphabet.find(c);
        if (v == std::string::npos) continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        if (++count == 4) {
            out += static_cast<char>((bits >> 16) & 0xFF);
            out += static_cast<char>((bits >> 8) & 0xFF);
            out += static_cast<char>(bits & 0xFF);
            bits = 0;
            count = 0;
        }
    }
    flushPartial();
    return out;
}

// "=" followed by anything but two hex digits or a line end is kept as written.
std::string decodeQuotedPrintable(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c != '=') {
            out += c;
            continue;
        }
        if (i + 2 < in.size() && in[i + 1] == '\r' && in[i + 2] == '\n') {
            i += 2;
        } else if (i + 1 < in.size() && in[i + 1] == '\n') {
            i += 1;
        } else if (i + 2 < in.size() && hexValue(in[i + 1]) >= 0 && hexValue(in[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(in[i + 1]) * 16 + hexValue(in[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string decodeTransfer(std::string_view raw, const HeaderList& headers) {
    std::string cte = lower(trim(headers.value("Content-Transfer-Encoding")));
    if (cte == "base64") return decodeBase64(raw);
    if (cte == "quoted-printable") return decodeQuotedPrintable(raw);
    return std::string(raw);
}

// The bodies between the delimiter lines of a multipart body. A delimiter is "--" and the
// boundary alone on its line (trailing white space allowed): a longer boundary that merely starts
// with this one does not count. Preamble and epilogue are dropped; a missing closing delimiter
// ends the last part at the end of the text.
std::vector<std::string_view> splitMultipart(std::string_view body, std::string boundary) {
    std::vector<std::string_view> parts;
    if (boundary.empty()) {
        // No boundary declared: take the first line that looks like a delimiter.
        size_t pos = 0;
        while (pos < body.size()) {
            size_t end = body.find("\r\n", pos);
            if (end == std::string_view::npos) end = body.size();
            std::string_view line = body.substr(pos, end - pos);
            if (line.size() > 2 && line.substr(0, 2) == "--") {
                boundary = trim(line.substr(2));
                break;
            }
            pos = end + 2;
        }
        if (boundary.empty()) return parts;
    }
    const std::string delimiter = "--" + boundary;
    size_t pos = 0;
    size_t partStart = std::string_view::npos;
    while (pos <= body.size()) {
        size_t end = body.find("\r\n", pos);
        if (end == std::string_view::npos) end = body.size();
        std::string_view line = body.substr(pos, end - pos);
        if (line.size() >= delimiter.size() && line.substr(0, delimiter.size()) == delimiter) {
            std::string_view rest = line.substr(delimiter.size());
            bool closing = rest.size() >= 2 && rest.substr(0, 2) == "--";
            if (closing) rest = rest.substr(2);
            if (trim(rest).empty()) {
                if (partStart != std::string_view::npos) {
                    // The line break before a delimiter belongs to the delimiter.
                    size_t partEnd = pos >= partStart + 2 ? pos - 2 : partStart;
                    parts.push_back(body.substr(partStart, partEnd - partStart));
                }
                if (closing) return parts;
                partStart = end + 2 <= body.size() ? end + 2 : body.size();
            }
        }
        if (end >= body.size()) break;
        pos = end + 2;
    }
    if (partStart != std::string_view::npos && partStart < body.size())
        parts.push_back(body.substr(partStart));
    return parts;
}

// Sorts the parts of a received mail into text parts and attachments, walking nested multiparts.
class PartCollector {
public:
    explicit PartCollector(Mail& mail) : mail_(mail) {}

    // Returns false when the body held no part at all.
    bool walk(std::string_view body, const std::string& boundary, int depth) {
        bool any = false;
        for (std::string_view raw : splitMultipart(body, boundary)) {
            if (++parts_ > MaxParts) return any;
            any = true;
            HeaderList headers;
            size_t bodyStart = readHeaderBlock(raw, headers);
            addPart(headers, raw.substr(std::min(bodyStart, raw.size())), depth);
        }
        return any;
    }

private:
    void addPart(const HeaderList& headers, std::string_view raw, int depth) {
        ContentInfo info = contentInfo(headers);
        if (info.mediaType.rfind("multipart/", 0) == 0 && depth < MaxNesting) {
            if (walk(raw, info.boundary, depth + 1)) return;
        }
        std::string body = decodeTransfer(raw, headers);
        bool attachmentDisposition = false;
        std::string fileName = dispositionFileName(headers, attachmentDisposition);
        if (fileName.empty()) fileName = info.name;
        bool text = info.mediaType.empty() || info.mediaType.rfind("text/", 0) == 0 ||
                    info.mediaType.rfind("multipart/", 0) == 0;
        if (text && !attachmentDisposition && fileName.empty()) {
            TextPart part;
            part.Headers = headers;
            part.Body = splitLines(bodyToCodePage(body, info.charset));
            mail_.TextParts.push_back(std::move(part));
            return;
        }
        Attachment a;
        a.Headers = headers;
        a.FileName = fileName;
        a.ContentType = info.mediaType.empty() ? "application/octet-stream" : info.mediaType;
        a.Data = std::move(body);
        mail_.Attachments.push_back(std::move(a));
    }

    Mail& mail_;
    int parts_ = 0;
};

int priorityFromHeader(const std::string& value) {
    for (char c : value) {
        if (c >= '1' && c <= '5') return c - '1';
        if (!std::isspace(static_cast<unsigned char>(c))) break;
    }
    return 2;
}

void fillFromHeaders(Mail& mail, HeaderList headers) {
    mail.Headers = std::move(headers);
    mail.Subject = mail.Headers.value("Subject");
    mail.From = MailAddress::parse(mail.Headers.value("From"));
    mail.Recipients.setText(mail.Headers.value("To"));
    mail.ReplyTo.setText(mail.Headers.value("Reply-To"));
    std::string type = mail.Headers.value("Content-Type");
    mail.ContentType = type.empty() ? "text/plain" : trim(type);
    mail.Priority = priorityFromHeader(mail.Headers.value("X-Priority"));
    mail.ReceiptRecipient = MailAddress::parse(mail.Headers.value("Disposition-Notification-To"));
}

// Words made only of characters that need no quoting in a display name.
bool isPlainPhrase(std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == ' ' ||
               std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr;
    });
}

// RFC 2047 "Q" encoding for a display name: everything but letters and digits is encoded, so
// quotes, brackets and commas cannot change the structure of the header.
std::string encodePhrase(std::string_view name) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    std::string word;
    auto flush = [&] {
        if (word.empty()) return;
        if (!out.empty()) out += ' ';
        out += "=?";
        out += platform::codePageName();
        out += "?Q?";
        out += word;
        out += "?=";
        word.clear();
    };
    for (char ch : name) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (std::isalnum(c)) word += ch;
        else if (c == ' ') word += '_';
        else {
            word += '=';
            word += hex[c >> 4];
            word += hex[c & 15];
        }
        // Encoded words are limited to 75 characters.
        if (word.size() > 50) flush();
    }
    flush();
    return out;
}

std::string mediaTypeOf(const HeaderList& headers) {
    std::string type = headers.value("Content-Type");
    type = lower(trim(type.substr(0, type.find(';'))));
    return type.empty() ? "text/plain" : type;
}

// Text bodies are held in the code page whatever charset they arrived in, so a text type always
// declares the code page and any charset it carried is dropped.
std::string withCodePageCharset(const std::string& contentType) {
    std::string type = trim(headerSafe(contentType));
    if (type.empty() || lower(type).rfind("multipart/", 0) == 0) type = "text/plain";
    if (lower(type).rfind("text/", 0) != 0) return type;
    return trim(type.substr(0, type.find(';'))) + "; charset=" + platform::codePageName();
}

std::string cleanFileName(const std::string& name) {
    std::string safe = headerSafe(name);
    std::replace(safe.begin(), safe.end(), '"', '\'');
    return Poco::Net::MailMessage::encodeWord(safe, platform::codePageName());
}

// Every CR is followed by LF and every LF preceded by CR.
bool crLfOnly(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 >= text.size() || text[i + 1] != '\n') return false;
            ++i;
        } else if (text[i] == '\n') {
            return false;
        }
    }
    return true;
}

// An address reduced to what may stand inside a mailto URL in a header: no blanks, controls,
// brackets or URL delimiters that would change its meaning.
std::string envelopeLike(std::string_view address) {
    std::string out;
    for (char c : trim(address)) {
        const auto u = static_cast<unsigned char>(c);
        if (u > 0x20 && u < 0x7F && !std::strchr("<>?&#%\"\\,;", c)) out += c;
    }
    return out;
}

// A host or domain name reduced to letters, digits, hyphens and dots.
std::string domainSafe(std::string_view name) {
    std::string out;
    for (char c : name)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.') out += c;
    while (!out.empty() && out.front() == '.') out.erase(0, 1);
    while (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

}  // namespace

std::string newMessageId(const std::string& fromAddress) {
    static std::atomic<uint64_t> counter{0};
    // Tells this process from others that send at the same millisecond.
    static const uint64_t salt = [] {
        std::random_device device;
        return (static_cast<uint64_t>(device()) << 32) ^ device() ^ static_cast<uint64_t>(::getpid());
    }();
    const size_t at = fromAddress.rfind('@');
    std::string domain = at == std::string::npos ? std::string() : domainSafe(fromAddress.substr(at + 1));
    if (domain.empty()) {
        try {
            domain = domainSafe(Poco::Environment::nodeName());
        } catch (...) {
        }
    }
    if (domain.empty()) domain = "localhost";
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    char local[64];
    std::snprintf(local, sizeof local, "%llx.%llx.%016llx", static_cast<unsigned long long>(now),
                  static_cast<unsigned long long>(counter.fetch_add(1)), static_cast<unsigned long long>(salt));
    return "<" + std::string(local) + "@" + domain + ">";
}

std::string headerSafe(std::string_view value) {
    std::string out(value);
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = ' ';
    }
    return out;
}

std::string headerAddress(const MailAddress& address) {
    std::string addr;
    for (char c : address.Address) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u > 0x20 && u != 0x7F && c != '<' && c != '>') addr += c;
    }
    std::string name = trim(headerSafe(address.Name));
    if (name.empty()) return addr;
    std::string phrase;
    if (!isAscii(name) || name.find_first_of("<>") != std::string::npos) {
        phrase = encodePhrase(name);
    } else if (isPlainPhrase(name)) {
        phrase = "\"" + name + "\"";
    } else {
        phrase = "\"";
        for (char c : name) {
            if (c == '"' || c == '\\') phrase += '\\';
            phrase += c;
        }
        phrase += '"';
    }
    return phrase + " <" + addr + ">";
}

std::string envelopeAddress(const std::string& address) {
    std::string a = trim(address);
    for (char c : a) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F || c == '<' || c == '>')
            throw EMailInvalid("Invalid e-mail address: \"" + headerSafe(address) + "\"");
    }
    return a;
}

std::string normaliseLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string smtpDataBlock(const Poco::Net::MailMessage& message) {
    std::ostringstream rendered;
    message.write(rendered);
    const std::string text = rendered.str();
    std::string out;
    out.reserve(text.size() + text.size() / 64 + 8);
    // A line begins after any LF, so that a server reading bare LF as a line end cannot see the
    // end of the data early either.
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = c == '\n';
    }
    if (!out.empty() && !out.ends_with("\r\n")) out += "\r\n";
    out += ".\r\n";
    return out;
}

std::string unstuffDotTerminated(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const std::string& line : splitLines(text)) {
        if (line == ".") break;
        if (!line.empty() && line[0] == '.') out.append(line, 1);
        else out += line;
        out += "\r\n";
    }
    return out;
}

void toLibraryMessage(const Mail& mail, Poco::Net::MailMessage& out) {
    using Poco::Net::MailMessage;
    out.setSender(headerAddress(mail.From));
    // The To header is written here rather than from the library's recipient list, which puts
    // display names in quotes without escaping them.
    std::string to;
    for (const auto& a : mail.Recipients.Items) {
        if (!to.empty()) to += ", ";
        to += headerAddress(a);
    }
    if (!to.empty()) out.set("To", to);
    std::string replyTo;
    for (const auto& a : mail.ReplyTo.Items) {
        if (!replyTo.empty()) replyTo += ", ";
        replyTo += headerAddress(a);
    }
    if (!replyTo.empty()) out.set("Reply-To", replyTo);
    out.setSubject(MailMessage::encodeWord(headerSafe(mail.Subject), platform::codePageName()));
    int priority = std::clamp(mail.Priority, 0, 4);
    if (priority != 2) out.set("X-Priority", std::to_string(priority + 1));
    if (!mail.ReceiptRecipient.Address.empty())
        out.set("Disposition-Notification-To", headerAddress(mail.ReceiptRecipient));
    if (const std::string address = envelopeLike(mail.ListUnsubscribe); !address.empty())
        out.set("List-Unsubscribe", "<mailto:" + address + "?subject=unsubscribe>");

    if (!mail.hasParts()) {
        out.setContentType(withCodePageCharset(mail.ContentType));
        out.set("MIME-Version", "1.0");
        out.setContent(normaliseLineEnds(mail.bodyText()), MailMessage::ENCODING_QUOTED_PRINTABLE);
        return;
    }
    if (!mail.Body.empty()) {
        out.addContent(new Poco::Net::StringPartSource(normaliseLineEnds(mail.bodyText()),
                                                       withCodePageCharset(mail.ContentType)),
                       MailMessage::ENCODING_QUOTED_PRINTABLE);
    }
    for (const auto& part : mail.TextParts) {
        out.addContent(new Poco::Net::StringPartSource(normaliseLineEnds(part.bodyText()),
                                                       withCodePageCharset(mediaTypeOf(part.Headers))),
                       MailMessage::ENCODING_QUOTED_PRINTABLE);
    }
    for (const auto& a : mail.Attachments) {
        std::string type = headerSafe(a.ContentType.empty() ? "application/octet-stream" : a.ContentType);
        std::string file = cleanFileName(a.FileName);
        out.addAttachment(file, new Poco::Net::StringPartSource(a.Data, type, file),
                          MailMessage::ENCODING_BASE64);
    }
}

std::unique_ptr<Mail> parseMail(std::string_view raw) {
    auto mail = std::make_unique<Mail>();
    // Mails off the wire already end their lines with CR LF: read those in place.
    std::string normalised;
    std::string_view text = raw;
    if (!crLfOnly(raw)) {
        normalised = normaliseLineEnds(raw);
        text = normalised;
    }
    // A mail kept in a mailbox file starts with its envelope line ("From sender date"), which is
    // no header field and would otherwise end the header block before it began.
    if (text.rfind("From ", 0) == 0) {
        const size_t lineEnd = text.find("\r\n");
        text = lineEnd == std::string_view::npos ? std::string_view() : text.substr(lineEnd + 2);
    }
    HeaderList headers;
    size_t bodyStart = std::min(readHeaderBlock(text, headers), text.size());
    std::string_view body = text.substr(bodyStart);
    fillFromHeaders(*mail, std::move(headers));
    ContentInfo info = contentInfo(mail->Headers);
    if (info.mediaType.rfind("multipart/", 0) == 0) {
        PartCollector parts(*mail);
        // A multipart whose parts cannot be found keeps its raw body, so its text is not lost.
        if (parts.walk(body, info.boundary, 1)) return mail;
        mail->setBodyText(body);
        return mail;
    }
    mail->setBodyText(bodyToCodePage(decodeTransfer(body, mail->Headers), info.charset));
    return mail;
}

std::unique_ptr<Mail> parseHeaders(std::string_view raw) {
    auto mail = std::make_unique<Mail>();
    HeaderList headers;
    if (crLfOnly(raw)) readHeaderBlock(raw, headers);
    else readHeaderBlock(normaliseLineEnds(raw), headers);
    fillFromHeaders(*mail, std::move(headers));
    return mail;
}

}  // namespace mailtext::wire
