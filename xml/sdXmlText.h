#pragma once
// Small text helpers shared by the node, reader and writer code of the XML layer.
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

}  // namespace xml::detail
