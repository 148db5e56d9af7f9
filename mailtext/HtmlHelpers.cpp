#include "mailtext/HtmlHelpers.h"

#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Locale.h"

#include <algorithm>
#include <array>
#include <set>

namespace mailtext {

namespace {

constexpr std::size_t NoPos = std::string_view::npos;

// One text in its published order; lookups go through a sorted copy built once.
constexpr std::string_view DomainTableText =
    "ac|ad|ae|af|ag|ai|al|am|an|ao|aq|ar|as|at|au|aw|az|ba|bb|bd|be|bf|bg|bh|bi|bj|bm|bn|bo|br|"
    "bs|bt|bv|bw|by|bz|ca|cc|cd|cf|cg|ch|ci|ck|cl|cm|cn|co|cr|cu|cv|cx|cy|cz|de|dj|dk|dm|do|dz|"
    "ec|ee|eg|eh|er|es|et|fi|fj|fk|fm|fo|fr|ga|gd|ge|gf|gg|gh|gi|gl|gm|gn|gp|gq|gr|gs|gt|gu|gw|"
    "gy|hk|hm|hn|hr|ht|hu|id|ie|il|im|in|io|iq|ir|is|it|je|jm|jo|jp|ke|kg|kh|ki|km|kn|kp|kr|kw|"
    "ky|kz|la|lb|lc|li|lk|lr|ls|lt|lu|lv|ly|ma|mc|md|mg|mh|mk|ml|mm|mn|mo|mp|mq|mr|ms|mt|mu|mv|"
    "mw|mx|my|mz|na|nc|ne|nf|ng|ni|nl|no|np|nr|nu|nz|om|pa|pe|pf|pg|ph|pk|pl|pm|pn|pr|ps|pt|pw|"
    "py|qa|re|ro|ru|rw|sa|sb|sc|sd|se|sg|sh|si|sj|sk|sl|sm|sn|so|sr|st|sv|sy|sz|tc|td|tf|tg|th|"
    "tj|tk|tm|tn|to|tp|tr|tt|tv|tw|tz|ua|ug|uk|um|us|uy|uz|va|vc|ve|vg|vi|vn|vu|wf|ws|ye|yt|yu|"
    "za|zm|zr|zw|biz|com|edu|gov|int|mil|net|org|pro|info|name|coop|aero|museum|agent|arts|"
    "auction|chat|church|club|family|free|game|golf|inc|kids|law|llc|llp|love|ltd|med|mp3|"
    "school|scifi|shop|soc|sport|tech|travel|video|xxx|agente|amor|artes|cia|deporte|escuela|"
    "familia|gratis|hola|iglesia|juego|ley|subasta|tec|tienda|viaje|amour|boutique|cie|eglise|"
    "enchere|famille|gratuit|jeu|loi|resto|voyage|clube|escola|esporte|igreja|jogo|lei|leilao|"
    "loja|tec|viagem|auktion|familie|ges|gmbh|kirche|kunst|liebe|makler|recht|reise|shule|"
    "spiel|verein|amore|arte|asta|chiesa|ciao|ditta|famiglia|legge|scuola|turismo|";

const std::array<const char*, 8> ValidationMessages = {
    "",
    "Empty email",
    "Error: no @ sign",
    "Error: no dot in domain",
    "Error: not a valid domain extension",
    "Error: contains illegal character",
    "Error: cannot start with dash or dot",
    "Error: double dash or double dot",
};

const std::array<const char*, 12> MonthNames = {"January", "February", "March",     "April",
                                                "May",     "June",     "July",      "August",
                                                "September", "October", "November", "December"};

const std::array<const char*, 7> DayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday"};

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isAddressChar(char c) {
    return isAsciiLetter(c) || isDigit(c) || c == '-' || c == '.' || c == '_';
}

bool isLinkLeadChar(char c) { return isAsciiLetter(c) || c == '/' || c == ':'; }

bool isLinkChar(char c) {
    switch (c) {
    case '&': case '-': case '.': case '/': case '=': case '?': case '_': case '~':
        return true;
    default:
        return isAsciiLetter(c) || isDigit(c);
    }
}

bool allAddressChars(std::string_view s) { return std::all_of(s.begin(), s.end(), isAddressChar); }

bool startsWithDashOrDot(std::string_view s) {
    return !s.empty() && (s.front() == '-' || s.front() == '.');
}

bool contains(std::string_view s, std::string_view what) { return s.find(what) != NoPos; }

std::string_view localPartOf(std::string_view address) {
    const std::size_t at = address.find('@');
    return at == NoPos ? std::string_view() : address.substr(0, at);
}

std::string_view domainPartOf(std::string_view address) {
    const std::size_t at = address.find('@');
    return at == NoPos ? address : address.substr(at + 1);
}

const std::vector<std::string_view>& sortedDomainTable() {
    static const std::vector<std::string_view> sorted = [] {
        std::vector<std::string_view> v = DomainTable();
        std::sort(v.begin(), v.end());
        return v;
    }();
    return sorted;
}

// Plain text going into the page must not be read as markup: a received mail could otherwise
// bring its own tags and links (clicked links are handed to the shell) into the viewer.
void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
}

// Finds the address around the first "@" at or after a moving start position. The runs of
// address characters around an "@" are measured once per "@", so converting or scanning a text
// stays linear however many links or broken addresses come before the "@".
class EmailScanner {
public:
    explicit EmailScanner(std::string_view text) : text_(text) {}

    // Positions in the result are those of the whole text; from must never decrease.
    TextMatch find(std::size_t from) {
        if (!searched_ || (at_ != NoPos && from > at_)) locate(from);
        TextMatch m;
        if (at_ == NoPos) {
            m.start = m.end = from;
            return m;
        }
        const std::size_t start = std::max(runStart_, from);
        if (start == at_ || !dotAfter_) {
            m.start = at_;
            m.end = start == at_ ? at_ + 1 : runEnd_;
            return m;
        }
        if (start != checkedStart_) {
            checkedStart_ = start;
            const std::string_view address = text_.substr(start, runEnd_ - start);
            checked_.found = ValidateAddress(address) == AddressValid;
            checked_.start = start;
            checked_.end = runEnd_;
            checked_.target = checked_.found ? std::string(address) : std::string();
        }
        return checked_;
    }

    bool atFound() const { return at_ != NoPos; }

private:
    void locate(std::size_t from) {
        searched_ = true;
        checkedStart_ = NoPos;
        at_ = text_.find('@', from);
        if (at_ == NoPos) return;
        runStart_ = at_;
        while (runStart_ > 0 && isAddressChar(text_[runStart_ - 1])) --runStart_;
        runEnd_ = at_ + 1;
        dotAfter_ = false;
        while (runEnd_ < text_.size() && isAddressChar(text_[runEnd_])) {
            if (text_[runEnd_] == '.') dotAfter_ = true;
            ++runEnd_;
        }
    }

    std::string_view text_;
    bool searched_ = false;
    std::size_t at_ = NoPos;
    std::size_t runStart_ = 0;
    std::size_t runEnd_ = 0;
    bool dotAfter_ = false;
    std::size_t checkedStart_ = NoPos;
    TextMatch checked_;
};

TextMatch findLinkFrom(std::string_view text, std::size_t from) {
    TextMatch m;
    const std::size_t dot = text.find('.', from);
    if (dot == NoPos) {
        m.start = m.end = from;
        return m;
    }
    std::size_t end = dot + 1;
    bool secondDot = false;
    while (end < text.size() && isLinkChar(text[end])) {
        if (text[end] == '.') secondDot = true;
        ++end;
    }
    std::size_t start = dot;
    while (start > from && isLinkLeadChar(text[start - 1])) --start;
    m.start = start;
    m.end = end;
    if (!secondDot) return m;
    const std::string_view piece = text.substr(start, end - start);
    if (!contains(piece, "http:") && !contains(piece, "https:") && !contains(piece, "www.") &&
        !contains(piece, ".com") && !contains(piece, ".htm"))
        return m;
    m.found = true;
    // Only a piece that starts with its web scheme keeps it; anything else ("file://http...")
    // is taken as a host name, so a received text cannot make the shell open something else.
    const bool hasScheme = piece.starts_with("http:") || piece.starts_with("https:");
    m.target = hasScheme ? std::string(piece) : "http://" + std::string(piece);
    return m;
}

std::string plural(int n, const char* one, const char* many) {
    return n == 1 ? std::string(one) : std::to_string(n) + many;
}

}  // namespace

int ValidateAddress(std::string_view address) {
    if (address.empty()) return AddressEmpty;
    if (address.find('@') == NoPos) return AddressNoAt;
    const std::string_view domain = domainPartOf(address);
    const std::size_t lastDot = domain.rfind('.');
    if (lastDot == NoPos) return AddressNoDot;
    if (!IsDomainExtension(platform::asciiLower(domain.substr(lastDot + 1))))
        return AddressBadExtension;
    if (!allAddressChars(domain)) return AddressIllegalChar;
    const std::string_view local = localPartOf(address);
    // An address without a local part has always been let through once its domain passes.
    if (local.empty()) return AddressValid;
    if (!allAddressChars(local)) return AddressIllegalChar;
    if (startsWithDashOrDot(local) || startsWithDashOrDot(domain)) return AddressBadStart;
    if (HasDoubled(domain, '.') || HasDoubled(domain, '-') || HasDoubled(local, '.') ||
        HasDoubled(local, '-'))
        return AddressDoubled;
    return AddressValid;
}

std::string ValidationMessage(int result) {
    if (result < 0 || result >= static_cast<int>(ValidationMessages.size())) return {};
    return ValidationMessages[static_cast<std::size_t>(result)];
}

std::string LocalPart(std::string_view address) { return std::string(localPartOf(address)); }

std::string DomainPart(std::string_view address) { return std::string(domainPartOf(address)); }

bool HasDoubled(std::string_view text, char c) {
    for (std::size_t i = 1; i < text.size(); ++i)
        if (text[i] == c && text[i - 1] == c) return true;
    return false;
}

const std::vector<std::string_view>& DomainTable() {
    static const std::vector<std::string_view> entries = [] {
        std::vector<std::string_view> v;
        std::size_t pos = 0;
        while (pos < DomainTableText.size()) {
            const std::size_t bar = DomainTableText.find('|', pos);
            v.push_back(DomainTableText.substr(pos, bar - pos));
            pos = bar + 1;
        }
        return v;
    }();
    return entries;
}

bool IsDomainExtension(std::string_view extension) {
    const auto& sorted = sortedDomainTable();
    return std::binary_search(sorted.begin(), sorted.end(), extension);
}

TextMatch FindEmail(std::string_view text) { return EmailScanner(text).find(0); }

TextMatch FindLink(std::string_view text) { return findLinkFrom(text, 0); }

std::string LineToHtml(std::string_view line) {
    std::string out;
    out.reserve(line.size() + 16);
    EmailScanner emails(line);
    std::size_t rest = 0;
    while (rest < line.size()) {
        const TextMatch email = emails.find(rest);
        if (email.found) {
            appendEscaped(out, line.substr(rest, email.start - rest));
            out += "<a href=\"mailto:" + email.target + "\">" + email.target + "</a>";
            rest = email.end;
            continue;
        }
        const TextMatch link = findLinkFrom(line, rest);
        if (link.found) {
            appendEscaped(out, line.substr(rest, link.start - rest));
            out += "<a href=\"";
            appendEscaped(out, link.target);
            out += "\">";
            appendEscaped(out, line.substr(link.start, link.end - link.start));
            out += "</a>";
            rest = link.end;
            continue;
        }
        appendEscaped(out, line.substr(rest));
        break;
    }
    const std::size_t spaces = std::min(out.find_first_not_of(' '), out.size());
    std::string html;
    html.reserve(out.size() + spaces * 5 + 4);
    for (std::size_t i = 0; i < spaces; ++i) html += "&nbsp;";
    html.append(out, spaces, NoPos);
    html += "<br>";
    return html;
}

std::string TextToHtml(std::string_view text) {
    std::string html = "<html><body text=\"#000000\" bgcolor=\"#FFFFFF\">\r\n"
                       "<font face=\"Courier New, Courier, mono\" size=\"2\">\r\n";
    html.reserve(text.size() * 2 + 128);
    // A line ends at CR LF, LF or CR; a break at the very end opens no further line.
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find_first_of("\r\n", pos);
        if (eol == NoPos) eol = text.size();
        html += LineToHtml(text.substr(pos, eol - pos));
        html += "\r\n";
        pos = eol;
        if (pos < text.size() && text[pos] == '\r') ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
    }
    html += "</font>\r\n</body></html>\r\n";
    return html;
}

void ExtractEmails(std::string_view text, std::vector<std::string>* target) {
    if (!target) return;
    struct TextLess {
        bool operator()(const std::string& a, const std::string& b) const {
            return platform::compareText(a, b) < 0;
        }
    };
    std::set<std::string, TextLess> found(target->begin(), target->end());
    EmailScanner emails(text);
    std::size_t rest = 0;
    for (;;) {
        const TextMatch email = emails.find(rest);
        if (!emails.atFound()) break;
        if (email.found) found.insert(platform::asciiLower(email.target));
        rest = email.end;
    }
    target->assign(found.begin(), found.end());
}

std::string DateText(double date) {
    int year = 0, month = 0, day = 0;
    platform::decodeDate(date, year, month, day);
    int thisYear = 0, thisMonth = 0, today = 0;
    platform::decodeDate(platform::now(), thisYear, thisMonth, today);
    std::string text = std::to_string(day) + " " + MonthNames[static_cast<std::size_t>(month - 1)];
    if (year != thisYear) text += " " + std::to_string(year);
    return text;
}

std::string RelativeDate(double date) {
    int year = 0, month = 0, day = 0;
    platform::decodeDate(date, year, month, day);
    int thisYear = 0, thisMonth = 0, today = 0;
    platform::decodeDate(platform::now(), thisYear, thisMonth, today);
    // Months count 30 days and years 365: the phrase only needs to be roughly right.
    const int n = std::max(0, (today - day) + (thisMonth - month) * 30 + (thisYear - year) * 365);
    if (n == 0) return "today";
    if (n <= 10) return plural(n, "1 day ago", " days ago");
    if (n <= 40) return plural(n / 7, "1 week ago", " weeks ago");
    if (n <= 365) return plural(n / 30, "1 month ago", " months ago");
    return plural(n / 365, "1 year ago", " years ago");
}

std::string DayName(double date) {
    return DayNames[static_cast<std::size_t>(platform::dayOfWeek(date) - 1)];
}

}  // namespace mailtext
