#pragma once
// Turns the body of an order notification into "name=value" lines under fixed field names.
#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ordwell {

struct TFieldRec {
    std::string_view Label;      // as written in the mail, matched case-sensitively
    std::string_view FieldName;  // name produced in the output
};

inline constexpr std::size_t FieldCount = 26;
extern const std::array<TFieldRec, FieldCount> FieldTable;

inline constexpr std::string_view ServiceField = "RegService";
inline constexpr std::string_view ServiceValue = "Ordwell";
inline constexpr std::string_view VerifyLinkField = "VerifyLink";

// Removes every character with a code of 32 or less from both ends.
std::string_view trim(std::string_view text);

// Ordered "name=value" entries with names unique ignoring case. The list never holds more than
// the table's names plus two, so the linear lookup keeps setting a value constant-time.
class TVarList {
public:
    void set(std::string_view name, std::string_view value);
    std::string text() const;  // each entry followed by CR LF

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

std::string fieldnamesText();
std::string preprocessText(std::string_view body);

}  // namespace ordwell
