// Feeds arbitrary bytes to the mail reader and everything that works on what it read. Any
// exception escaping, crash or sanitizer report is a finding.
#include "mailtext/IdMessageHelpers.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto mail = mailtext::MessageFromText(text);
    mailtext::MessageBodyText(*mail);
    mailtext::HeaderSummary(*mail);
    mailtext::Mail forward;
    mailtext::MakeForward(*mail, forward, "", "a@b.org");
    mailtext::MessageToText(&forward);
    mailtext::MessageToText(mail.get());
    return 0;
}
