#include "platform/Locale.h"

#include "platform/CodePage.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace platform {

namespace {

char overrideDate = '\0';
char overrideTime = '\0';

char separatorIn(const QString& format, char fallback) {
    for (QChar c : format) {
        if (c == u'/' || c == u'.' || c == u'-' || c == u':') return static_cast<char>(c.unicode());
    }
    return fallback;
}

// Comparing through the collator for every pair is far too slow for sorting large contact lists,
// so the collator is asked once to rank the 256 bytes of the code page. Strings are then compared
// by those ranks in two passes, as collations do: first by base letter (accents and case
// ignored), then by accent; letter case never counts.
struct Weights {
    uint16_t primary[256];
    uint16_t secondary[256];
};

Weights buildWeights() {
    QCollator col(QLocale::system());
    col.setCaseSensitivity(Qt::CaseInsensitive);
    col.setNumericMode(false);
    col.setIgnorePunctuation(false);

    auto rankBy = [&](auto keyOf, uint16_t* out) {
        std::vector<int> order(256);
        for (int i = 0; i < 256; ++i) order[static_cast<size_t>(i)] = i;
        std::vector<QString> keys(256);
        for (int i = 0; i < 256; ++i) keys[static_cast<size_t>(i)] = keyOf(static_cast<unsigned char>(i));
        std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
            return col.compare(keys[static_cast<size_t>(x)], keys[static_cast<size_t>(y)]) < 0;
        });
        uint16_t rank = 0;
        for (size_t k = 0; k < order.size(); ++k) {
            if (k > 0 && col.compare(keys[static_cast<size_t>(order[k - 1])], keys[static_cast<size_t>(order[k])]) != 0)
                ++rank;
            out[order[k]] = rank;
        }
    };

    Weights w{};
    auto exact = [](unsigned char b) { return QString(QChar(static_cast<char16_t>(byteToUnicode(b)))).toLower(); };
    auto base = [&](unsigned char b) {
        const QChar c(static_cast<char16_t>(byteToUnicode(b)));
        const QString d = c.decomposition();
        if (c.decompositionTag() == QChar::Canonical && !d.isEmpty()) return QString(d.at(0)).toLower();
        return exact(b);
    };
    rankBy(base, w.primary);
    rankBy(exact, w.secondary);
    return w;
}

const Weights& weights() {
    static const Weights w = buildWeights();
    return w;
}

int compareBy(const uint16_t* table, std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const uint16_t x = table[static_cast<unsigned char>(a[i])];
        const uint16_t y = table[static_cast<unsigned char>(b[i])];
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace

char dateSeparator() {
    if (overrideDate) return overrideDate;
    static const char sep = separatorIn(QLocale::system().dateFormat(QLocale::ShortFormat), '/');
    return sep;
}

char timeSeparator() {
    if (overrideTime) return overrideTime;
    static const char sep = separatorIn(QLocale::system().timeFormat(QLocale::ShortFormat), ':');
    return sep;
}

void setSeparators(char date, char time) {
    overrideDate = date;
    overrideTime = time;
}

int compareText(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    const Weights& w = weights();
    if (int r = compareBy(w.primary, a, b)) return r;
    return compareBy(w.secondary, a, b);
}

void appendSortKey(std::string& key, std::string_view text) {
    const Weights& w = weights();
    // Each weight as two bytes, one above its real value so that the two zero bytes that end a
    // pass sort below every character: a shorter text before a longer one it starts.
    const size_t start = key.size();
    key.resize(start + 2 * (2 * text.size() + 2));
    char* out = key.data() + start;
    auto pass = [&](const uint16_t* table) {
        for (char c : text) {
            const unsigned v = table[static_cast<unsigned char>(c)] + 1u;
            *out++ = static_cast<char>(v >> 8);
            *out++ = static_cast<char>(v & 0xFF);
        }
        *out++ = '\0';
        *out++ = '\0';
    };
    pass(w.primary);
    pass(w.secondary);
}

std::string asciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view trimView(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::string trim(std::string_view s) { return std::string(trimView(s)); }

}  // namespace platform

#include "platform/Clock.h"
#include "platform/DateTime.h"

namespace platform {

namespace {

std::string overrideOrder;

std::string orderOf(const QString& format) {
    std::string order;
    for (QChar c : format) {
        const char letter = c == u'd' ? 'd' : c == u'M' ? 'm' : c == u'y' ? 'y' : '\0';
        if (letter && order.find(letter) == std::string::npos) order += letter;
    }
    return order.size() == 3 ? order : std::string("mdy");
}

bool readNumber(std::string_view s, size_t& pos, int& value, int maxDigits) {
    const size_t start = pos;
    value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && pos - start < static_cast<size_t>(maxDigits))
        value = value * 10 + (s[pos++] - '0');
    return pos > start;
}

bool isDateSeparator(char c) { return c == '/' || c == '.' || c == '-' || c == dateSeparator(); }

}  // namespace

std::string dateOrder() {
    if (!overrideOrder.empty()) return overrideOrder;
    static const std::string order = orderOf(QLocale::system().dateFormat(QLocale::ShortFormat));
    return order;
}

void setDateOrder(const std::string& order) { overrideOrder = order.empty() ? order : orderOf(QString::fromStdString(order).replace('m', 'M')); }

bool parseDateTime(std::string_view text, double& result) {
    const std::string s = trim(text);
    size_t pos = 0;
    int parts[3] = {0, 0, 0};
    int count = 0;
    int yearDigits = 0;
    while (count < 3) {
        const size_t start = pos;
        if (!readNumber(s, pos, parts[count], 4)) return false;
        const std::string order = dateOrder();
        if (order[static_cast<size_t>(count)] == 'y') yearDigits = static_cast<int>(pos - start);
        ++count;
        if (pos < s.size() && isDateSeparator(s[pos]) && count < 3) {
            ++pos;
            continue;
        }
        break;
    }
    if (count < 2) return false;
    const std::string order = dateOrder();
    const size_t di = order.find('d') % 3, mi = order.find('m') % 3, yi = order.find('y') % 3;
    int day = 0, month = 0, year = 0;
    DateParts today = decodeDateTime(now());
    if (count == 2) {
        // Day and month in the order they have, this year.
        day = parts[di < mi ? 0 : 1];
        month = parts[mi < di ? 0 : 1];
        year = today.year;
    } else {
        day = parts[di];
        month = parts[mi];
        year = parts[yi];
        if (yearDigits <= 2) {
            const int century = today.year / 100 * 100;
            year += century;
            if (year > today.year + 49) year -= 100;
            else if (year < today.year - 50) year += 100;
        }
    }
    int hour = 0, minute = 0, second = 0, msec = 0;
    while (pos < s.size() && s[pos] == ' ') ++pos;
    if (pos < s.size()) {
        if (!readNumber(s, pos, hour, 2) || pos >= s.size() || (s[pos] != timeSeparator() && s[pos] != ':'))
            return false;
        ++pos;
        if (!readNumber(s, pos, minute, 2)) return false;
        if (pos < s.size() && (s[pos] == timeSeparator() || s[pos] == ':')) {
            ++pos;
            if (!readNumber(s, pos, second, 2)) return false;
            if (pos < s.size() && s[pos] == '.') {
                ++pos;
                if (!readNumber(s, pos, msec, 3)) return false;
            }
        }
        while (pos < s.size() && s[pos] == ' ') ++pos;
        const std::string rest = asciiUpper(s.substr(pos));
        if (rest == "PM" || rest == "AM") {
            if (hour < 1 || hour > 12) return false;
            hour = hour % 12 + (rest == "PM" ? 12 : 0);
        } else if (!rest.empty()) {
            return false;
        }
    }
    if (!isValidDate(year, month, day) || hour > 23 || minute > 59 || second > 59) return false;
    result = encodeDateTime(year, month, day, hour, minute, second, msec);
    return true;
}

}  // namespace platform
