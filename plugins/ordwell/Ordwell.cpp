#include "Ordwell.h"

#include <algorithm>
#include <optional>

namespace ordwell {

const std::array<TFieldRec, FieldCount> FieldTable = {{
    {"Order ID", "OrderID"},
    {"Tracking ID", "TrackingID"},
    {"Registration Date", "RegDate"},
    {"Product Name", "ProductName"},
    {"Product ID", "ProductID"},
    {"Order Type", "OrderType"},
    {"Quantity", "Quantity"},
    {"Registration Total", "RegTotal"},
    {"PriceCode Used", "PriceCode"},
    {"CD Delivery Selected", "CDDelivery"},
    {"Extended Download", "ExtDownload"},
    {"Name", "Name"},
    {"Company", "Company"},
    {"Email", "Email"},
    {"Address1", "Address1"},
    {"Address2", "Address2"},
    {"Address3", "Address3"},
    {"City", "City"},
    {"State", "State"},
    {"Country", "Country"},
    {"Country Code", "CountryCode"},
    {"Zip", "ZIP"},
    {"Phone", "Phone"},
    {"Serial Number", "Serial"},
    {"Serial Numbers Left", "SerialLeft"},
    {"VerifyLink", "VerifyLink"},
}};

namespace {

// Bytes above 127 are letters of the 8-bit code page, not blanks: compare unsigned.
bool isBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

bool rowMatches(std::size_t row, std::string_view line)
{
    return line.find(FieldTable[row].Label) != std::string_view::npos;
}

void takeValue(std::size_t row, std::string_view line, TVarList& vars)
{
    const auto colon = line.find(':');
    const auto value = trim(colon == std::string_view::npos ? line : line.substr(colon + 1));
    if (!value.empty())
        vars.set(FieldTable[row].FieldName, value);
}

// Calls visit for each line of text; CR, LF and CR LF each end a line.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            visit(text.substr(start));
            return;
        }
        visit(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
}

}  // namespace

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

void TVarList::set(std::string_view name, std::string_view value)
{
    for (auto& entry : entries_) {
        if (sameName(entry.first, name)) {
            entry.second.assign(value);
            return;
        }
    }
    entries_.emplace_back(std::string(name), std::string(value));
}

std::string TVarList::text() const
{
    std::size_t size = 0;
    for (const auto& [name, value] : entries_)
        size += name.size() + value.size() + 3;
    std::string result;
    result.reserve(size);
    for (const auto& [name, value] : entries_) {
        result += name;
        result += '=';
        result += value;
        result += "\r\n";
    }
    return result;
}

std::string fieldnamesText()
{
    std::string result(ServiceField);
    result += "\r\n";
    for (const auto& row : FieldTable) {
        result += row.FieldName;
        result += "\r\n";
    }
    return result;
}

std::string preprocessText(std::string_view body)
{
    TVarList vars;
    vars.set(ServiceField, ServiceValue);

    // The expected row lets a label that contains a shorter one (Serial Numbers Left, Product
    // Name) win while the mail keeps the table's order; 27 means "start again at row 0".
    std::size_t expected = 0;
    std::optional<std::string_view> lastLine;
    forEachLine(body, [&](std::string_view line) {
        if (trim(line).empty())
            return;
        lastLine = line;
        if (expected >= FieldCount)
            expected = 0;
        if (rowMatches(expected, line)) {
            takeValue(expected, line, vars);
            ++expected;
            return;
        }
        expected = FieldCount + 1;
        for (std::size_t row = 0; row < FieldCount; ++row) {
            if (rowMatches(row, line)) {
                takeValue(row, line, vars);
                expected = row + 1;
                break;
            }
        }
    });

    if (lastLine && lastLine->find("http") != std::string_view::npos)
        vars.set(VerifyLinkField, *lastLine);
    return vars.text();
}

}  // namespace ordwell
