#include "import/StoredMail.h"

#include "mailtext/IdMessageHelpers.h"
#include "model/cvSetup.h"

#include <memory>

bool ParseStoredMail(TcvGroup& group, const std::string& text) {
    if (text.empty()) return false;
    // The text is read as a mail arriving on the wire, which a lone "." line would end.
    std::unique_ptr<mailtext::Mail> mail;
    try {
        mail = mailtext::MessageFromText(text + "\r\n.\r\n");
    } catch (const std::exception&) {
    }
    if (!mail) mail = std::make_unique<mailtext::Mail>();
    const std::weak_ptr<const void> groupAlive = group.Alive();
    for (int i = 0; i < group.ParserCount(); ++i) {
        TcvParser* parser = group.Parsers(i);
        if (!parser || !parser->Started) continue;
        if (parser->ParseMessage(mail.get())) return true;
        if (groupAlive.expired()) return false;
    }
    return false;
}
