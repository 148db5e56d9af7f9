#pragma once
// Address checks and text helpers: the syntactic address validation with its fixed table of
// domain extensions, plain text to HTML with clickable addresses and links, address extraction
// and the date phrases of the personalisation variables.
// All texts are 8-bit byte strings; only ASCII letters count as letters.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mailtext {

// Results of ValidateAddress; ValidationMessage gives the text shown for each.
enum AddressResult : int {
    AddressValid = 0,
    AddressEmpty = 1,
    AddressNoAt = 2,
    AddressNoDot = 3,
    AddressBadExtension = 4,
    AddressIllegalChar = 5,
    AddressBadStart = 6,
    AddressDoubled = 7,
};

// 0 for a valid address, otherwise the first failing check (1 to 7).
int ValidateAddress(std::string_view address);
// The message of a result; the empty text for 0 and for numbers outside 0..7.
std::string ValidationMessage(int result);
// The text before the first "@"; empty when there is none.
std::string LocalPart(std::string_view address);
// The text after the first "@"; the whole text when there is none.
std::string DomainPart(std::string_view address);
// True when two consecutive characters of the text are both c.
bool HasDoubled(std::string_view text, char c);

// The domain extensions accepted, in table order (346 entries, "tec" twice).
const std::vector<std::string_view>& DomainTable();
// Whether an already lower-cased extension is in the table.
bool IsDomainExtension(std::string_view extension);

// A piece found in a text: 0-based, running from start up to, not including, end.
// When nothing was found, end is just past what was examined (0 when there was nothing to
// examine), so a further search may continue from there.
struct TextMatch {
    bool found = false;
    std::size_t start = 0;
    std::size_t end = 0;
    // The address, or the link target.
    std::string target;
};

// The valid address around the first "@" of the text.
TextMatch FindEmail(std::string_view text);
// A web link around the first "." of the text; the target gets "http://" unless it starts with
// "http:" or "https:".
TextMatch FindLink(std::string_view text);

// One line as HTML: addresses and links become anchors, leading spaces "&nbsp;", then "<br>".
std::string LineToHtml(std::string_view line);
// A whole text as a simple HTML page in a fixed-width font, lines ended by CR LF.
std::string TextToHtml(std::string_view text);
// Adds the valid addresses of the text in lower case to the list, which ends up sorted
// (locale-aware, ignoring case) without duplicates. Does nothing for a null list.
void ExtractEmails(std::string_view text, std::vector<std::string>* target);

// "5 March" in the current year, "5 March 2019" otherwise.
std::string DateText(double date);
// "today", "3 days ago", "2 weeks ago"... counting a month as 30 days and a year as 365.
std::string RelativeDate(double date);
// The English weekday name of the date.
std::string DayName(double date);

}  // namespace mailtext
