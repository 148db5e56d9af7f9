// Arbitrary bytes as a store file: listed as folders and as mails, and the text of every mail found
// read with and without the preview limit, as the import window does.
#include "import/uoexpress.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uoexpress::TDbxMemorySource source(std::string_view(reinterpret_cast<const char*>(data), size));
    TDbxItemList folders, mails;
    uoexpress::ReadDbxItems(source, true, folders);
    uoexpress::ReadDbxItems(source, false, mails);
    std::string text;
    for (const auto& item : mails) {
        const auto* mail = dynamic_cast<const Toe5_MessageInfo*>(item.get());
        if (!mail) __builtin_trap();
        uoexpress::ReadMessageText(source, mail->FirstBlock, text, 10000);
        if (text.size() > 10000 + 511) __builtin_trap();
        uoexpress::ReadMessageText(source, mail->FirstBlock, text, 0);
        if (text.size() > size) __builtin_trap();
        FileTimeToLocal(mail->ReceivedTime);
    }
    // A chain may start anywhere a record points.
    if (size >= 4) uoexpress::ReadMessageText(source, static_cast<int32_t>(data[size - 1] | data[size - 2] << 8), text, 0);
    return 0;
}
