// Feeds arbitrary bytes to Preprocess through its C entry point. The first byte chooses the
// shape: the whole rest as body, or the rest cut at NUL bytes into sender, subject and body.
// Besides memory errors it traps on any result that breaks the output form the host relies on.
#include "plugins/ordwell/OrdwellExports.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// Entries ended by CR LF, each holding "=", no name twice, at most the 26 fields plus two.
void checkResult(const char* result)
{
    check(result != nullptr);
    const std::string_view text(result);
    check(text.substr(0, 20) == "RegService=Ordwell\r\n");
    std::vector<std::string_view> names;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find("\r\n", start);
        check(end != std::string_view::npos);
        const auto line = text.substr(start, end - start);
        check(line.find('\r') == std::string_view::npos && line.find('\n') == std::string_view::npos);
        const auto eq = line.find('=');
        check(eq != std::string_view::npos && eq > 0);
        const auto name = line.substr(0, eq);
        for (auto seen : names)
            check(!sameName(seen, name));
        names.push_back(name);
        start = end + 2;
    }
    check(names.size() <= 27);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string sender, subject, body;
    if (data[0] & 1) {
        const auto first = input.find('\0');
        const auto second = first == std::string::npos ? std::string::npos : input.find('\0', first + 1);
        sender = input.substr(0, first);
        if (first != std::string::npos)
            subject = input.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        if (second != std::string::npos)
            body = input.substr(second + 1);
    } else {
        body = input;
    }

    char* result = Preprocess(sender.c_str(), subject.c_str(), body.c_str());
    checkResult(result);
    FreePointer(result);
    return 0;
}
