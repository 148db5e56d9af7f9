#include "mailtext/Mail.h"

#include <cctype>

namespace mailtext {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isSpace(s[b])) ++b;
    while (e > b && isSpace(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Removes one pair of enclosing quotes and the backslashes of quoted pairs.
std::string unquote(std::string_view s) {
    std::string t = trim(s);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"') {
        std::string out;
        for (size_t i = 1; i + 1 < t.size(); ++i) {
            if (t[i] == '\\' && i + 2 < t.size() && (t[i + 1] == '"' || t[i + 1] == '\\')) ++i;
            out += t[i];
        }
        return out;
    }
    return t;
}

bool quotesBalanced(std::string_view s) {
    bool inQuote = false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (inQuote && s[i] == '\\') ++i;
        else if (s[i] == '"') inQuote = !inQuote;
    }
    return !inQuote;
}

}  // namespace

std::string MailAddress::text() const {
    if (Name.empty()) return Address;
    std::string out = "\"";
    for (char c : Name) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += "\" <";
    out += Address;
    out += '>';
    return out;
}

MailAddress MailAddress::parse(std::string_view text) {
    MailAddress a;
    std::string t = trim(text);
    if (!t.empty() && t.back() == '>') {
        size_t open = t.rfind('<');
        if (open != std::string::npos) {
            a.Address = trim(std::string_view(t).substr(open + 1, t.size() - open - 2));
            a.Name = unquote(std::string_view(t).substr(0, open));
            return a;
        }
    }
    // a@b (Name)
    if (!t.empty() && t.back() == ')') {
        size_t open = t.find('(');
        if (open != std::string::npos && open > 0) {
            a.Address = trim(std::string_view(t).substr(0, open));
            a.Name = trim(std::string_view(t).substr(open + 1, t.size() - open - 2));
            return a;
        }
    }
    a.Address = t;
    return a;
}

void MailAddress::setText(std::string_view text) { *this = parse(text); }

void AddressList::add(std::string name, std::string address) {
    Items.push_back(MailAddress{std::move(name), std::move(address)});
}

void AddressList::setText(std::string_view text) {
    Items.clear();
    // A name with an unpaired quote would swallow the rest of the list; then quotes are ignored.
    bool honourQuotes = quotesBalanced(text);
    bool inQuote = false;
    int angle = 0;
    size_t start = 0;
    auto take = [&](size_t end) {
        std::string item = trim(text.substr(start, end - start));
        if (!item.empty()) Items.push_back(MailAddress::parse(item));
        start = end + 1;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inQuote) {
            if (c == '\\') ++i;
            else if (c == '"') inQuote = false;
        } else if (c == '"' && honourQuotes) {
            inQuote = true;
        } else if (c == '<') {
            ++angle;
        } else if (c == '>') {
            if (angle > 0) --angle;
        } else if ((c == ',' || c == ';') && angle == 0) {
            take(i);
        }
    }
    take(text.size());
}

std::string AddressList::text() const {
    std::string out;
    for (const auto& a : Items) {
        if (!out.empty()) out += ", ";
        out += a.text();
    }
    return out;
}

void HeaderList::add(std::string name, std::string value) {
    Items.emplace_back(std::move(name), std::move(value));
}

std::string HeaderList::value(std::string_view name) const {
    for (const auto& [n, v] : Items)
        if (equalsIgnoreCase(n, name)) return v;
    return {};
}

bool HeaderList::contains(std::string_view name) const {
    for (const auto& item : Items)
        if (equalsIgnoreCase(item.first, name)) return true;
    return false;
}

std::string HeaderList::text() const {
    std::string out;
    for (const auto& [n, v] : Items) {
        out += n;
        out += ": ";
        out += v;
        out += "\r\n";
    }
    return out;
}

std::string TextPart::bodyText() const { return joinLines(Body); }

void Mail::clear() { *this = Mail(); }

void Mail::setBodyText(std::string_view text) { Body = splitLines(text); }

std::string Mail::bodyText() const { return joinLines(Body); }

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    // Every break character may end a line: room for them all costs less than growing.
    size_t breaks = 0;
    for (char c : text) breaks += c == '\r' || c == '\n';
    lines.reserve(breaks + 1);
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    size_t size = 0;
    for (const auto& l : lines) size += l.size() + 2;
    out.reserve(size);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

}  // namespace mailtext
