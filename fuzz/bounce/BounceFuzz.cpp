// Feeds arbitrary bytes, read as a received mail, to the reader of delivery reports. Any escaping
// exception, crash, sanitizer report or time-out is a finding; so is a recipient that is not a
// well-formed lower-case address or bare mailbox name.
#include "mailtext/DeliveryReport.h"
#include "mailtext/IdMessageHelpers.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto mail = mailtext::MessageFromText(text);
    const mailtext::DeliveryReport report = mailtext::ReadDeliveryReport(*mail, {"list@example.org"});
    for (const auto& r : report.Recipients) {
        if (!report.isBounce() || r.Address.empty() || r.Address == "list@example.org") std::abort();
        for (char c : r.Address)
            if (c >= 'A' && c <= 'Z') std::abort();
        if (!mailtext::RecipientMatches(r, r.Domain.empty() ? r.Address : r.Address + "@" + r.Domain)) std::abort();
    }
    return 0;
}
