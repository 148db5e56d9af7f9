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

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return std::string(s.substr(b, e - b));
}

}  // namespace platform
