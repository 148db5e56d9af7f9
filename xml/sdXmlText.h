#pragma once
// Small text helpers shared by the node, reader and writer code of the XML layer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace xml::detail {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool isQuote(char c) { return c == '"' || c == '\''; }

std::string_view trimBlanks(std::string_view s);
// Case-insensitive in the user's locale; plain ASCII names take a quick path.
bool sameName(std::string_view a, std::string_view b);
// Strict decimal with an optional sign; false when it is not a number or out of range.
bool parseInt64(std::string_view s, int64_t& value);
// Puts the value in double quotes, or single quotes when it holds a double quote, doubling the
// quote character inside.
std::string quoted(std::string_view s);
// Removes one pair of enclosing quotes (the first character decides); a doubled quote inside
// stands for one. Text without a leading quote is returned as it is.
std::string dequoted(std::string_view s);

// The characters that written text holds as entities: "&", "<", ">", "'" and the double quote.
inline constexpr std::array<bool, 256> EscapedChars = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : std::string_view("&<>'\"")) table[c] = true;
    return table;
}();
// The first position at or after from whose character is written as an entity; s.size() if none.
inline size_t findEscape(std::string_view s, size_t from) {
    const char* p = s.data();
    const size_t n = s.size();
    while (from < n && !EscapedChars[static_cast<unsigned char>(p[from])]) ++from;
    return from;
}
// The entity of one of those characters.
std::string_view entityOf(char c);

// Room for the longest text formatDateTime makes.
inline constexpr size_t DateTextMax = 64;
// The text form of a date-time (see DateTimeToXmlText) into out; returns its length.
size_t formatDateTime(double value, char* out);

}  // namespace xml::detail
