// Arbitrary mail text through a parser's handling of one mail, with every contact source and the
// actions that change the group, variables imported into custom fields.
#include "mailtext/IdMessageHelpers.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    options::KeepUnsubscribed = (data[0] & 0x40) != 0;
    TcvSetup setup;
    auto* group = new TcvGroup;
    setup.AddGroup(group);
    for (const char* title : {"Company", "firstname", "OrderID"}) {
        auto* field = new TcvFieldDef;
        field->Title = title;
        group->AddFieldDef(field);
    }
    for (const char* email : {"a@example.com", "b@example.com", "bounce@example.org"}) {
        auto* contact = new TcvContact;
        contact->Email = email;
        group->AddContact(contact);
    }
    auto* parser = new TcvParser;
    group->AddParser(parser);
    parser->Action = static_cast<TcvParserAction>(data[0] % 9);
    parser->ContactSource = static_cast<TcvContactSource>((data[0] >> 4) % 3);
    parser->ImportVars = true;
    parser->TriggerBody = (data[0] & 0x80) != 0;
    parser->TriggerBodyWords = "order;remove";
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    auto mail = mailtext::MessageFromText(text);
    try {
        parser->ParseMessage(mail.get());
    } catch (const std::invalid_argument&) {
        // A "joined" variable that is not a date is reported to the caller.
    }
    return 0;
}
