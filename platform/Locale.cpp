#include "platform/Locale.h"

#include "platform/CodePage.h"

#include <QCollator>
#include <QLocale>

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

const QCollator& collator() {
    static const QCollator c = [] {
        QCollator col(QLocale::system());
        col.setCaseSensitivity(Qt::CaseInsensitive);
        col.setNumericMode(false);
        col.setIgnorePunctuation(false);
        return col;
    }();
    return c;
}

bool isAscii(std::string_view s) {
    for (char ch : s)
        if (static_cast<unsigned char>(ch) >= 0x80) return false;
    return true;
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
    // Identical bytes are equal under any collation; this is by far the common case of a search.
    if (a == b) return 0;
    QString qa, qb;
    if (isAscii(a) && isAscii(b)) {
        qa = QString::fromLatin1(a.data(), static_cast<qsizetype>(a.size()));
        qb = QString::fromLatin1(b.data(), static_cast<qsizetype>(b.size()));
    } else {
        qa = toDisplay(a);
        qb = toDisplay(b);
    }
    const int r = collator().compare(qa, qb);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
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
