#pragma once
// The program's own mail object: the members the program reads and writes, with no network
// library types. Strings are 8-bit text in the system code page.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mailtext {

struct MailAddress {
    std::string Name;
    std::string Address;

    bool empty() const { return Name.empty() && Address.empty(); }
    // "Name" <address>, or the bare address when there is no name.
    std::string text() const;
    // Reads one address in any of the usual forms: a@b, <a@b>, Name <a@b>, "Name" <a@b>, a@b (Name).
    void setText(std::string_view text);
    static MailAddress parse(std::string_view text);
};

class AddressList {
public:
    std::vector<MailAddress> Items;

    bool empty() const { return Items.empty(); }
    void clear() { Items.clear(); }
    void add(std::string name, std::string address);
    // Reads addresses separated by commas or semicolons; quoted names may contain either.
    void setText(std::string_view text);
    // The addresses joined by ", ".
    std::string text() const;
};

// Name/value lines in the order they were read; names are compared ignoring case.
class HeaderList {
public:
    std::vector<std::pair<std::string, std::string>> Items;

    bool empty() const { return Items.empty(); }
    void clear() { Items.clear(); }
    void add(std::string name, std::string value);
    // The value of the first header of that name, or the empty text.
    std::string value(std::string_view name) const;
    bool contains(std::string_view name) const;
    // Every header as "Name: value", ended by CR LF.
    std::string text() const;
};

// A text part of a received mail: its own header lines and its decoded body lines.
struct TextPart {
    HeaderList Headers;
    std::vector<std::string> Body;

    std::string headerText() const { return Headers.text(); }
    std::string bodyText() const;
};

struct Attachment {
    HeaderList Headers;
    std::string FileName;
    std::string ContentType;
    // The decoded bytes.
    std::string Data;
};

class Mail {
public:
    AddressList Recipients;
    MailAddress From;
    AddressList ReplyTo;
    std::string Subject;
    std::string ContentType = "text/plain";
    std::vector<std::string> Body;
    // 0 highest, 1 high, 2 normal, 3 low, 4 lowest.
    int Priority = 2;
    MailAddress ReceiptRecipient;
    std::vector<TextPart> TextParts;
    std::vector<Attachment> Attachments;
    // Every header of a received mail.
    HeaderList Headers;
    // The address recipients can write to with the subject "unsubscribe"; an outgoing mail names
    // it in its List-Unsubscribe header when it is not empty.
    std::string ListUnsubscribe;

    // Back to the state of a new mail.
    void clear();
    bool hasParts() const { return !TextParts.empty() || !Attachments.empty(); }
    // Splits the text at CR LF, LF or CR.
    void setBodyText(std::string_view text);
    // Every line ended by CR LF.
    std::string bodyText() const;
};

// Lines of a text split at CR LF, LF or CR; a final line break adds no empty line.
std::vector<std::string> splitLines(std::string_view text);
// Every line ended by CR LF.
std::string joinLines(const std::vector<std::string>& lines);

}  // namespace mailtext
