#include "ui/cvClipboard.h"

#include "model/cvSetup.h"
#include "platform/CodePage.h"
#include "xml/sdXmlDocuments.h"

#include <QClipboard>
#include <QGuiApplication>

#include <memory>

namespace clipboard {

std::string Text() { return platform::fromDisplay(QGuiApplication::clipboard()->text()); }

void SetText(const std::string& text) { QGuiApplication::clipboard()->setText(platform::toDisplay(text)); }

bool HasText() { return !QGuiApplication::clipboard()->text().isEmpty(); }

TcvGroup* PasteGroup(TcvSetup& setup, const std::string& text) {
    auto group = std::make_unique<TcvGroup>();
    group->LoadFromString(text);
    group->Account = setup.Accounts(group->AccountIndex);
    for (int i = 0; i < group->ParserCount(); ++i) {
        TcvParser* parser = group->Parsers(i);
        parser->Account = setup.Accounts(parser->AccountIndex);
    }
    TcvGroup* added = group.release();
    setup.AddGroup(added);
    return added;
}

TcvMessage* PasteMessage(TcvGroup& group, const std::string& text) {
    auto message = std::make_unique<TcvMessage>();
    message->LoadFromString(text);
    TcvMessage* added = message.release();
    group.AddMessage(added);
    return added;
}

TcvParser* PasteParser(TcvGroup& group, const std::string& text) {
    auto parser = std::make_unique<TcvParser>();
    parser->LoadFromString(text);
    parser->Account = group.Setup ? group.Setup->Accounts(parser->AccountIndex) : nullptr;
    TcvParser* added = parser.release();
    group.AddParser(added);
    return added;
}

std::string ContactsText(const std::vector<TcvContact*>& contacts) {
    auto document = xml::TsdXmlDocument::CreateWithRoot("Contacts");
    document->Layout = xml::xlIndented;
    for (TcvContact* contact : contacts) contact->WriteXml(*document->RootNode()->AddChild("Contact"));
    return document->RenderString();
}

int PasteContacts(TcvGroup& group, const std::string& text) {
    std::vector<std::unique_ptr<TcvContact>> contacts;
    try {
        xml::TsdXmlDocument document;
        document.ParseString(text);
        const xml::TXmlNode* root = document.RootNode();
        if (!root || root->Name() != "Contacts") return 0;
        for (int i = 0; i < root->childCount(); ++i) {
            xml::TXmlNode* node = root->child(i);
            if (node->Kind != xml::nkElement || node->Name() != "Contact") continue;
            auto contact = std::make_unique<TcvContact>();
            contact->ReadXml(*node);
            contacts.push_back(std::move(contact));
        }
    } catch (...) {
        // Text from other programs: whatever cannot be read is left out.
    }
    const int added = static_cast<int>(contacts.size());
    group.AddContacts(std::move(contacts));
    return added;
}

}  // namespace clipboard
