#pragma once
// Locale services: separators for time stamps and the locale-aware, case-insensitive comparison
// used for addresses, codes and titles.
#include <string>
#include <string_view>

namespace platform {

// The user's date and time separators ('/' and ':' when the locale gives none usable).
char dateSeparator();
char timeSeparator();
// Overrides the separators (tests); '\0' goes back to the locale's.
void setSeparators(char date, char time);

// Locale-aware comparison of two 8-bit strings ignoring letter case: -1, 0 or 1.
int compareText(std::string_view a, std::string_view b);
inline bool sameText(std::string_view a, std::string_view b) { return compareText(a, b) == 0; }
// Appends a key for the text whose byte order (as unsigned bytes) is the order of compareText:
// texts that compare equal get equal keys, and no key is the start of another, so keys of
// several texts appended one after another order like comparing the texts in turn.
void appendSortKey(std::string& key, std::string_view text);

// Case changes of the ASCII letters only.
std::string asciiUpper(std::string_view s);
std::string asciiLower(std::string_view s);

// Trims characters up to and including the blank from both ends.
std::string trim(std::string_view s);
// The same, as a view into s.
std::string_view trimView(std::string_view s);

}  // namespace platform

namespace platform {

// Reads a date, optionally followed by a time, written in the user's short date order (for
// example 12/31/2026 13:05 or 31.12.2026 13:05:10) into a local date-time. Two-digit years fall
// within fifty years of today; a missing year is this year. False when the text is not such a date.
bool parseDateTime(std::string_view text, double& result);
// The user's order of day, month and year as three letters of "dmy" ("mdy", "dmy", "ymd"...).
std::string dateOrder();
// Overrides the order (tests); empty goes back to the locale's.
void setDateOrder(const std::string& order);

}  // namespace platform
