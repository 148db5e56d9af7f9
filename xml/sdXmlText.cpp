#include "xml/sdXmlText.h"

#include "xml/sdXmlDocuments.h"

#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "platform/Locale.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace xml {

namespace detail {

std::string_view trimBlanks(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool sameName(std::string_view a, std::string_view b) {
    if (a == b) return true;
    // Names of different lengths never match, in the locale's comparison either: most names a
    // search passes are told apart here.
    if (a.size() != b.size()) return false;
    bool ascii = true;
    for (char c : a) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    for (char c : b) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii) return platform::sameText(a, b);
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool parseInt64(std::string_view s, int64_t& value) {
    if (!s.empty() && s[0] == '+') {
        s.remove_prefix(1);
        if (!s.empty() && s[0] == '-') return false;
    }
    if (s.empty()) return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
    return ec == std::errc() && end == s.data() + s.size();
}

std::string quoted(std::string_view s) {
    const char q = s.find('"') == std::string_view::npos ? '"' : '\'';
    std::string out(1, q);
    for (char c : s) {
        if (c == q) out += q;
        out += c;
    }
    out += q;
    return out;
}

std::string dequoted(std::string_view s) {
    if (s.empty() || !isQuote(s[0])) return std::string(s);
    const char q = s[0];
    std::string out;
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i] == q) {
            if (i + 1 < s.size() && s[i + 1] == q) {
                out += q;
                ++i;
                continue;
            }
            break;
        }
        out += s[i];
    }
    return out;
}

}  // namespace detail

std::string_view detail::entityOf(char c) {
    switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '\'': return "&apos;";
    default: return "&quot;";
    }
}

std::string EscapeText(std::string_view s) {
    using detail::findEscape;
    size_t at = findEscape(s, 0);
    if (at == s.size()) return std::string(s);
    std::string out;
    out.reserve(s.size() + 16);
    size_t from = 0;
    // Runs without any such character are copied at once.
    while (at < s.size()) {
        out.append(s.data() + from, at - from);
        out.append(detail::entityOf(s[at]));
        from = at + 1;
        at = findEscape(s, from);
    }
    out.append(s.data() + from, s.size() - from);
    return out;
}

namespace {

bool decodeNumber(std::string_view digits, bool utf8, std::string& out) {
    if (digits.empty()) return false;
    int base = 10;
    if (digits[0] == 'x' || digits[0] == 'X') {
        base = 16;
        digits.remove_prefix(1);
        if (digits.empty()) return false;
    }
    int64_t n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n, base);
    if (ec != std::errc() || end != digits.data() + digits.size() || n < 0) return false;
    if (!utf8) {
        if (n > 254) return false;
        out += static_cast<char>(n);
        return true;
    }
    if (n > 65534) return false;
    platform::appendUtf8(out, static_cast<char32_t>(n));
    return true;
}

}  // namespace

std::string UnescapeText(std::string_view s, bool utf8) {
    size_t amp = s.find('&');
    if (amp == std::string_view::npos) return std::string(s);
    std::string out;
    out.reserve(s.size());
    size_t pos = 0;
    while (amp != std::string_view::npos) {
        out.append(s, pos, amp - pos);
        const size_t semi = s.find(';', amp);
        if (semi == std::string_view::npos) {
            pos = amp;
            break;
        }
        const std::string_view candidate = s.substr(amp, semi - amp + 1);
        bool done = false;
        if (candidate.size() >= 2 && candidate[1] == '#') {
            done = decodeNumber(candidate.substr(2, candidate.size() - 3), utf8, out);
        } else {
            static const struct {
                std::string_view entity;
                char c;
            } Entities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&quot;", '"'}};
            for (const auto& e : Entities) {
                if (candidate == e.entity) {
                    out += e.c;
                    done = true;
                    break;
                }
            }
        }
        if (!done) out.append(candidate);
        pos = semi + 1;
        amp = s.find('&', pos);
    }
    if (pos < s.size()) out.append(s, pos, std::string_view::npos);
    return out;
}

size_t detail::formatDateTime(double value, char* text) {
    const platform::DateParts p = platform::decodeDateTime(value);
    const bool dateOnly = value == std::trunc(value);
    // Every contact of a saved setup has several dates; formatting them through snprintf was a
    // third of saving. Parts in their usual ranges are written digit by digit, the same text.
    auto fits = [](int v, int max) { return v >= 0 && v <= max; };
    if (fits(p.year, 9999) && fits(p.month, 99) && fits(p.day, 99) &&
        (dateOnly || (fits(p.hour, 99) && fits(p.minute, 99) && fits(p.second, 99) && fits(p.msec, 999)))) {
        char* out = text;
        auto put = [&out](int v, int digits, char after) {
            for (int i = digits - 1; i >= 0; --i, v /= 10) out[i] = static_cast<char>('0' + v % 10);
            out += digits;
            if (after) *out++ = after;
        };
        put(p.year, 4, '-');
        put(p.month, 2, '-');
        put(p.day, 2, dateOnly ? '\0' : 'T');
        if (!dateOnly) {
            put(p.hour, 2, ':');
            put(p.minute, 2, ':');
            put(p.second, 2, '.');
            put(p.msec, 3, 'Z');
        }
        return static_cast<size_t>(out - text);
    }
    int n = 0;
    if (dateOnly)
        n = std::snprintf(text, DateTextMax, "%.4d-%.2d-%.2d", p.year, p.month, p.day);
    else
        n = std::snprintf(text, DateTextMax, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ", p.year, p.month, p.day, p.hour,
                          p.minute, p.second, p.msec);
    return n < 0 ? 0 : std::min(static_cast<size_t>(n), DateTextMax - 1);
}

std::string DateTimeToXmlText(double value) {
    char text[detail::DateTextMax];
    return std::string(text, detail::formatDateTime(value, text));
}

bool XmlTextToDateTime(std::string_view text, double& value) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    const size_t size = text.size();
    // The two forms the writer produces, with digits wherever a number stands, are read
    // directly; the general reading below gives the same parts for them.
    bool plain = size >= 10 && (size <= 16 || size >= 23);
    auto digit = [&text, &plain](size_t i) {
        const unsigned d = static_cast<unsigned char>(text[i]) - unsigned{'0'};
        plain = plain && d <= 9;
        return static_cast<int>(d);
    };
    auto two = [&digit](size_t i) { return digit(i) * 10 + digit(i + 1); };
    if (plain) {
        year = two(0) * 100 + two(2);
        month = two(5);
        day = two(8);
        if (size > 16) {
            hour = two(11);
            minute = two(14);
            second = two(17);
            msec = two(20) * 10 + digit(22);
        }
    }
    if (!plain) {
        // Fixed positions; characters past the end count as missing.
        auto part = [&](size_t from, size_t length, int& out) {
            const std::string_view s = from < size ? text.substr(from, length) : std::string_view();
            int64_t n = 0;
            if (!detail::parseInt64(s, n) || n < INT32_MIN || n > INT32_MAX) return false;
            out = static_cast<int>(n);
            return true;
        };
        hour = minute = second = msec = 0;
        if (!part(0, 4, year) || !part(5, 2, month) || !part(8, 2, day)) return false;
        if (size > 16) {
            if (!part(11, 2, hour) || !part(14, 2, minute)) return false;
            if (!part(17, 2, second)) second = 0;
            if (!part(20, 3, msec)) msec = 0;
        }
    }
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
        return false;
    double date = 0;
    if (!platform::tryEncodeDate(year, month, day, date)) return false;
    // As encodeDateTime: before the epoch the time still counts forwards from midnight of that day.
    const double time = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / platform::MSecsPerDay;
    value = date >= 0 ? date + time : date - time;
    return true;
}

}  // namespace xml
