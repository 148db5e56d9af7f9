#pragma once
// The rules of name=value extraction from a mail body written out step by step, erasing lines in
// place: quadratic on large bodies, but plainly the rules. The parser's own extraction is checked
// against it in the tests and timed against it in the parser benchmark.
#include "mailtext/Mail.h"
#include "platform/Locale.h"

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

inline std::vector<std::string> stepByStepImportVars(std::string_view body) {
    std::vector<std::string> v = mailtext::splitLines(body);
    for (size_t i = v.size(); i-- > 0;) {
        v[i] = platform::trim(v[i]);
        if (v[i].empty()) v.erase(v.begin() + static_cast<long>(i));
    }
    for (size_t i = v.size() >= 2 ? v.size() - 1 : 0; i-- > 0;) {
        if (!v[i].empty() && v[i].back() == '=' && v[i + 1].find('=') == std::string::npos) {
            v[i] += v[i + 1];
            v.erase(v.begin() + static_cast<long>(i) + 1);
        }
    }
    for (size_t i = v.size(); i-- > 0;) {
        const size_t eq = v[i].find('=');
        if (eq == std::string::npos) v.erase(v.begin() + static_cast<long>(i));
        else v[i] = platform::asciiLower(platform::trim(v[i].substr(0, eq))) + "=" + platform::trim(v[i].substr(eq + 1));
    }
    return v;
}

}  // namespace testsupport
