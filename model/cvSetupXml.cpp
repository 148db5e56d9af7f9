#include "model/cvSetup.h"

#include "mailtext/Mail.h"
#include "mailtext/MailSecurity.h"

#include "platform/CodePage.h"
#include "platform/Locale.h"
#include "platform/SafeFile.h"
#include "xml/sdXmlDocuments.h"

#include <QFileDevice>
#include <QSaveFile>
#include <QString>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <vector>

using xml::TXmlNode;

namespace {

// Enumerations are stored by name; a name that matches nothing (or none at all) leaves the field.
template <class Enum, size_t N>
void readName(const TXmlNode& node, const char* element, const char* const (&table)[N], Enum& field) {
    const TXmlNode* child = node.FindChild(element);
    if (!child) return;
    const int index = IndexOfName(table, child->Text());
    if (index >= 0) field = static_cast<Enum>(index);
}

template <class Enum, size_t N>
void writeName(TXmlNode& node, const char* element, const char* const (&table)[N], Enum value) {
    const int index = static_cast<int>(value);
    if (index >= 0 && index < static_cast<int>(N)) node.SetChildText(element, table[index], "");
}

// Lists live in a container element that is always written, also when empty.
TXmlNode& container(TXmlNode& node, const char* name) { return *node.AddChild(name); }

// A document read as UTF-8 holds UTF-8 text; the model keeps the 8-bit code page.
std::string textOf(const TXmlNode& node, const TXmlNode* child) {
    if (!child) return {};
    std::string text = child->Text();
    if (node.document() && node.document()->Utf8Flag) return platform::fromUtf8(text);
    // Returned as it is, not copied.
    return text;
}

std::string readText(const TXmlNode& node, std::string_view name) { return textOf(node, node.FindChild(name)); }

std::unique_ptr<xml::TsdXmlDocument> documentFor(const TcvClass& object) {
    return xml::TsdXmlDocument::CreateWithRoot(object.ClassName());
}

// A stream into a QSaveFile: the new content goes to a temporary file that replaces the target
// only when it was written completely.
class SaveFileStream : public xml::TStream {
public:
    explicit SaveFileStream(QSaveFile& file) : file_(file) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override {
        const qint64 written = file_.write(static_cast<const char*>(buffer), count);
        return written < 0 ? 0 : written;
    }
    int64_t Seek(int64_t offset, xml::SeekOrigin origin) override {
        if (origin == xml::SeekOrigin::Beginning) file_.seek(offset);
        else if (origin == xml::SeekOrigin::Current) file_.seek(file_.pos() + offset);
        else file_.seek(file_.size() + offset);
        return file_.pos();
    }
    void setSize(int64_t newSize) override {
        if (!file_.resize(newSize)) throw xml::EsdStreamError("Cannot write to output stream");
    }

private:
    QSaveFile& file_;
};

QString pathOf(const std::string& fileName) {
    return QString::fromLocal8Bit(fileName.data(), static_cast<qsizetype>(fileName.size()));
}


// Contacts make up nearly all of a large setup file. While a file is parsed, each contact of a
// group's contact list is read as soon as its element is complete, and the element is freed, so
// the tree of the whole file is never held at once. The contacts wait here, by the list element
// they came from, until the group itself is read. Only the elements that reading the finished
// tree would use are taken: Contact children of the first Contacts child of a Group child of the
// Corvane root, matched by name as the tree's searches match.
struct EarlyContacts {
    std::unordered_map<const TXmlNode*, std::vector<std::unique_ptr<TcvContact>>> byList;
    // Groups whose first contact list is complete: any later list is not theirs to read.
    std::unordered_set<const TXmlNode*> listRead;
    // Whether the contacts were decoded as UTF-8; a file that declares its encoding only after
    // its root changes that once parsed, and is then read again from the whole tree.
    bool anyRead = false, readAsUtf8 = false, mixed = false;

    bool take(TXmlNode& element, int level) {
        if (level == 2 && TXmlNode::SameName(element.Name(), "Contacts")) {
            listRead.insert(element.parent());
            return false;
        }
        if (level != 3 || !TXmlNode::SameName(element.Name(), "Contact")) return false;
        const TXmlNode* list = element.parent();
        const TXmlNode* group = list->parent();
        if (!TXmlNode::SameName(list->Name(), "Contacts") || !TXmlNode::SameName(group->Name(), "Group") ||
            group->parent()->Name() != "Corvane" || listRead.count(group))
            return false;
        const bool utf8 = element.document()->Utf8Flag;
        mixed = mixed || (anyRead && utf8 != readAsUtf8);
        anyRead = true;
        readAsUtf8 = utf8;
        auto contact = std::make_unique<TcvContact>();
        contact->ReadXml(element);
        byList[list].push_back(std::move(contact));
        return true;
    }
};

// Set while a setup file that was read that way is turned into the model.
EarlyContacts* earlyContacts = nullptr;

}  // namespace

void TcvClass::Assign(const TcvClass& Source) {
    auto document = documentFor(Source);
    Source.WriteXml(*document->RootNode());
    ReadXml(*document->RootNode());
}

std::string TcvClass::SaveToString() const {
    auto document = documentFor(*this);
    WriteXml(*document->RootNode());
    return document->RenderString();
}

void TcvClass::LoadFromString(const std::string& Text) {
    xml::TsdXmlDocument document;
    document.ParseString(Text);
    if (document.RootNode() && document.RootNode()->Name() == ClassName()) ReadXml(*document.RootNode());
}

void TcvAccount::ReadXml(TXmlNode& node) {
    Name = readText(node, "Name");
    Sender = readText(node, "Sender");
    ReplyTo = readText(node, "ReplyTo");
    ServerName = readText(node, "ServerName");
    PortPop3 = node.GetChildInt("PortPop3", 0);
    PortSmtp = node.GetChildInt("PortSmtp", 0);
    UserName = readText(node, "UserName");
    Password = readText(node, "Password");
    Authentication = node.GetChildInt("Authentication", 0) == 1 ? TcvAuthentication::Login : TcvAuthentication::None;
    CheckInterval = node.GetChildInt("CheckInterval", 0);
    SendPause = node.GetChildInt("SendPause", 0);
    SendReuse = node.GetChildInt("SendReuse", 0);
    UseForReceiving = node.GetChildBool("UseForReceiving", false);
    UseForSending = node.GetChildBool("UseForSending", false);
    SecuritySmtp = static_cast<int32_t>(mailtext::MailSecurityFromInt(node.GetChildInt("SecuritySmtp", 0)));
    SecurityPop3 = static_cast<int32_t>(mailtext::MailSecurityFromInt(node.GetChildInt("SecurityPop3", 0)));
    TrustedCertificate = mailtext::NormaliseFingerprint(readText(node, "TrustedCertificate"));
}

void TcvAccount::WriteXml(TXmlNode& node) const {
    node.SetChildText("Name", Name, "");
    node.SetChildText("Sender", Sender, "");
    node.SetChildText("ReplyTo", ReplyTo, "");
    node.SetChildText("ServerName", ServerName, "");
    node.SetChildInt("PortPop3", PortPop3, 0);
    node.SetChildInt("PortSmtp", PortSmtp, 0);
    node.SetChildText("UserName", UserName, "");
    node.SetChildText("Password", Password, "");
    node.SetChildInt("Authentication", static_cast<int>(Authentication), 0);
    node.SetChildInt("CheckInterval", CheckInterval, 0);
    node.SetChildInt("SendPause", SendPause, 0);
    node.SetChildInt("SendReuse", SendReuse, 0);
    node.SetChildBool("UseForReceiving", UseForReceiving, false);
    node.SetChildBool("UseForSending", UseForSending, false);
    // Written after the older fields and left out at their defaults, so that a plain account is
    // saved exactly as before these existed.
    node.SetChildInt("SecuritySmtp", SecuritySmtp, 0);
    node.SetChildInt("SecurityPop3", SecurityPop3, 0);
    node.SetChildText("TrustedCertificate", TrustedCertificate, "");
}

void TcvFieldDef::ReadXml(TXmlNode& node) {
    Title = readText(node, "Title");
    Checked = node.GetChildBool("Checked", false);
}

void TcvFieldDef::WriteXml(TXmlNode& node) const {
    node.SetChildText("Title", Title, "");
    node.SetChildBool("Checked", Checked, false);
}

void TcvMessage::Assign(const TcvClass& Source) {
    TcvClass::Assign(Source);
    // A detached working copy still needs its group for variables and the sender.
    if (const auto* message = dynamic_cast<const TcvMessage*>(&Source)) Group = message->Group;
}

void TcvMessage::ReadXml(TXmlNode& node) {
    BodyPlain = readText(node, "BodyPlain");
    BodyHtml = readText(node, "BodyHtml");
    Code = readText(node, "Code");
    readName(node, "Status", MessageStatusNames, Status);
    readName(node, "Mode", MessageModeNames, Mode);
    Subject = readText(node, "Subject");
    Title = readText(node, "Title");
    Sender = readText(node, "Sender");
    Receipt = readText(node, "Receipt");
    Priority = node.GetChildInt("Priority", 0);
    readName(node, "Trigger", TriggerNames, Trigger);
    TriggerAmount = node.GetChildInt("TriggerAmount", 0);
    readName(node, "TriggerUnit", TriggerUnitNames, TriggerUnit);
    SendCount = node.GetChildInt("SendCount", 0);
}

void TcvMessage::WriteXml(TXmlNode& node) const {
    node.SetChildText("BodyPlain", BodyPlain, "");
    node.SetChildText("BodyHtml", BodyHtml, "");
    node.SetChildText("Code", Code, "");
    writeName(node, "Status", MessageStatusNames, Status);
    writeName(node, "Mode", MessageModeNames, Mode);
    node.SetChildText("Subject", Subject, "");
    node.SetChildText("Title", Title, "");
    node.SetChildText("Sender", Sender, "");
    node.SetChildText("Receipt", Receipt, "");
    node.SetChildInt("Priority", Priority, 0);
    writeName(node, "Trigger", TriggerNames, Trigger);
    node.SetChildInt("TriggerAmount", TriggerAmount, 0);
    writeName(node, "TriggerUnit", TriggerUnitNames, TriggerUnit);
    node.SetChildInt("SendCount", SendCount, 0);
}

void TcvParser::ReadXml(TXmlNode& node) {
    AccountIndex = node.GetChildInt("AccountIndex", 0);
    readName(node, "Action", ParserActionNames, Action);
    readName(node, "ContactSource", ContactSourceNames, ContactSource);
    ImportVars = node.GetChildBool("ImportVars", false);
    Name = readText(node, "Name");
    TriggerBody = node.GetChildBool("TriggerBody", false);
    TriggerBodyWords = readText(node, "TriggerBodyWords");
    TriggerSubj = node.GetChildBool("TriggerSubj", false);
    TriggerSubjWords = readText(node, "TriggerSubjWords");
    DeleteMethod = node.GetChildInt("DeleteMethod", 0);
    Preprocessor = readText(node, "Preprocessor");
    CountTemporary = node.GetChildBool("CountTemporary", false);
    // A file or clipboard text may name any library: it is loaded only when the parser needs it
    // and the user has accepted it, never merely because it was read.
    releasePreprocessor();
}

void TcvParser::WriteXml(TXmlNode& node) const {
    const TcvSetup* setup = Group ? Group->Setup : nullptr;
    node.SetChildInt("AccountIndex", setup ? setup->IndexOfAccount(Account) : -1, 0);
    writeName(node, "Action", ParserActionNames, Action);
    writeName(node, "ContactSource", ContactSourceNames, ContactSource);
    node.SetChildBool("ImportVars", ImportVars, false);
    node.SetChildText("Name", Name, "");
    node.SetChildBool("TriggerBody", TriggerBody, false);
    node.SetChildText("TriggerBodyWords", TriggerBodyWords, "");
    node.SetChildBool("TriggerSubj", TriggerSubj, false);
    node.SetChildText("TriggerSubjWords", TriggerSubjWords, "");
    node.SetChildInt("DeleteMethod", DeleteMethod, 0);
    node.SetChildText("Preprocessor", Preprocessor, "");
    node.SetChildBool("CountTemporary", CountTemporary, false);
}

void TcvContact::ReadXml(TXmlNode& node) {
    // A large setup is nearly all contacts: their values are found in one pass over the
    // children instead of one search each, the first child of each name counting as before.
    enum { Email_, FirstName_, LastName_, Joined_, ValidDomain_, TotalBytes_, TotalDuration_, Bounces_, Frozen_,
           Unsubscribed_, CustomFields_, FieldCount };
    static constexpr std::string_view Names[FieldCount] = {
        "Email", "FirstName", "LastName", "Joined", "ValidDomain", "TotalBytes",
        "TotalDuration", "Bounces", "Frozen", "Unsubscribed", "CustomFields"};
    const TXmlNode* found[FieldCount] = {};
    // Names of other lengths never match, so most are told apart without a comparison.
    size_t histories = 0;
    for (int i = 0; i < node.childCount(); ++i) {
        const std::string& name = node.child(i)->Name();
        histories += name.size() == 4;
        for (int f = 0; f < FieldCount; ++f) {
            if (!found[f] && name.size() == Names[f].size() && TXmlNode::SameName(name, Names[f])) {
                found[f] = node.child(i);
                break;
            }
        }
    }
    auto number = [&found](int f) { return found[f] ? found[f]->IntValue(0) : 0; };
    auto flag = [&found](int f, bool defaultValue) {
        return found[f] ? found[f]->BoolValue(defaultValue) : defaultValue;
    };
    Email = textOf(node, found[Email_]);
    FirstName = textOf(node, found[FirstName_]);
    LastName = textOf(node, found[LastName_]);
    Joined = found[Joined_] ? found[Joined_]->DateValue(0) : 0;
    ValidDomain = flag(ValidDomain_, true);
    TotalBytes = number(TotalBytes_);
    TotalDuration = number(TotalDuration_);
    Bounces = number(Bounces_);
    Frozen = flag(Frozen_, false);
    Unsubscribed = flag(Unsubscribed_, false);
    const std::string fields = textOf(node, found[CustomFields_]);
    if (!fields.empty()) {
        if (!CustomFields) CustomFields = std::make_unique<TStringList>();
        *CustomFields = mailtext::splitLines(fields);
    }
    Hist.clear();
    Hist.reserve(histories);
    for (int i = 0; i < node.childCount(); ++i) {
        const TXmlNode* child = node.child(i);
        if (child->Kind != xml::nkElement && child->Kind != xml::nkEmptyElement) continue;
        if (!platform::sameText(child->Name(), "Hist")) continue;
        Hist.push_back(TcvHist{readText(*child, "Code"),
                               static_cast<int32_t>(std::trunc(child->GetChildDate("Date", 0)))});
    }
}

namespace {

// A contact's element, written into its node or, while a setup file is saved, straight into the
// output; scratch is room for the custom field text.
void writeChild(TXmlNode& node, const char* name, const auto& write) { write(*node.AddChild(name)); }

void writeChild(xml::TsdXmlWriter& writer, const char* name, const auto& write) {
    writer.BeginElement(name);
    write(writer);
    writer.EndElement();
}

template <class Target> void writeContact(const TcvContact& contact, Target& target, std::string& scratch) {
    target.SetChildText("Email", contact.Email, "");
    target.SetChildText("FirstName", contact.FirstName, "");
    target.SetChildText("LastName", contact.LastName, "");
    target.SetChildDate("Joined", contact.Joined, 0);
    target.SetChildBool("ValidDomain", contact.ValidDomain, true);
    target.SetChildInt("TotalBytes", contact.TotalBytes, 0);
    target.SetChildInt("TotalDuration", contact.TotalDuration, 0);
    target.SetChildInt("Bounces", contact.Bounces, 0);
    target.SetChildBool("Frozen", contact.Frozen, false);
    target.SetChildBool("Unsubscribed", contact.Unsubscribed, false);
    if (contact.CustomFields) {
        scratch.clear();
        for (const std::string& line : *contact.CustomFields) {
            scratch += line;
            scratch += "\r\n";
        }
        target.SetChildText("CustomFields", scratch, "");
    }
    for (const TcvHist& h : contact.Hist) {
        writeChild(target, "Hist", [&h](auto& entry) {
            entry.SetChildText("Code", h.Code, "");
            entry.SetChildDate("Date", h.Date, 0);
        });
    }
}

// Set while a setup file is saved: the document that may take a group's contacts straight into
// its output, never as nodes. Other documents (copies, the clipboard) are read back as trees.
const xml::TsdXmlDocument* streamingDocument = nullptr;

}  // namespace

void TcvContact::WriteXml(TXmlNode& node) const {
    std::string scratch;
    writeContact(*this, node, scratch);
}

void TcvGroup::ReadXml(TXmlNode& node) {
    Name = readText(node, "Name");
    Code = readText(node, "Code");
    Active = node.GetChildBool("Active", false);
    AccountIndex = node.GetChildInt("AccountIndex", 0);
    Purpose = readText(node, "Purpose");
    // Each list is replaced by what the element holds.
    auto readList = [&](const char* listName, const char* itemName, auto make, auto add) {
        const TXmlNode* list = node.FindChild(listName);
        if (!list) return;
        std::vector<TXmlNode*> items;
        list->CollectChildren(itemName, items);
        for (TXmlNode* item : items) {
            auto object = make();
            object->ReadXml(*item);
            add(object.release());
        }
    };
    messages_.clear();
    readList("Messages", "Message", [] { return std::make_unique<TcvMessage>(); },
             [this](TcvMessage* m) { AddMessage(m); });
    fieldDefs_.clear();
    readList("FieldDefs", "FieldDef", [] { return std::make_unique<TcvFieldDef>(); },
             [this](TcvFieldDef* f) { AddFieldDef(f); });
    parsers_.clear();
    readList("Parsers", "Parser", [] { return std::make_unique<TcvParser>(); },
             [this](TcvParser* p) { AddParser(p); });
    contacts_.clear();
    members_.clear();
    order_ = Order::Sorted;
    std::vector<std::unique_ptr<TcvContact>> contacts;
    if (earlyContacts) {
        // The list then holds no Contact element any more.
        const auto early = earlyContacts->byList.find(node.FindChild("Contacts"));
        if (early != earlyContacts->byList.end()) contacts = std::move(early->second);
    }
    readList("Contacts", "Contact", [] { return std::make_unique<TcvContact>(); },
             [&contacts](TcvContact* c) { contacts.emplace_back(c); });
    AddContacts(std::move(contacts));
    UnsubscribeAddress = readText(node, "UnsubscribeAddress");
}

void TcvGroup::WriteXml(TXmlNode& node) const {
    node.SetChildText("Name", Name, "");
    node.SetChildText("Code", Code, "");
    node.SetChildBool("Active", Active, false);
    node.SetChildInt("AccountIndex", Setup ? Setup->IndexOfAccount(Account) : -1, 0);
    node.SetChildText("Purpose", Purpose, "");
    TXmlNode& messages = container(node, "Messages");
    for (const auto& m : messages_) m->WriteXml(*messages.AddChild("Message"));
    TXmlNode& fieldDefs = container(node, "FieldDefs");
    for (const auto& f : fieldDefs_) f->WriteXml(*fieldDefs.AddChild("FieldDef"));
    TXmlNode& parsers = container(node, "Parsers");
    for (const auto& p : parsers_) p->WriteXml(*parsers.AddChild("Parser"));
    TXmlNode& contacts = container(node, "Contacts");
    if (streamingDocument && node.document() == streamingDocument) {
        // The contacts are nearly all of a setup file: written as it is rendered, they need no
        // node each. Nothing runs between this and the rendering that could change them.
        node.document()->SetChildWriter(contacts, [this](xml::TsdXmlWriter& writer) {
            std::string scratch;
            contacts_.forEach([&](const TcvContact* c) {
                writer.BeginElement("Contact");
                writeContact(*c, writer, scratch);
                writer.EndElement();
            });
        });
    } else {
        contacts_.forEach([&contacts](const TcvContact* c) { c->WriteXml(*contacts.AddChild("Contact")); });
    }
    // Last and left out when empty, so a group without one is saved exactly as before.
    node.SetChildText("UnsubscribeAddress", UnsubscribeAddress, "");
}

void TcvSetup::ReadXml(TXmlNode& node) {
    TotalCount = node.GetChildInt("TotalCount", 0);
    // Groups refer to accounts, so they go first.
    groups_.clear();
    accounts_.clear();
    std::vector<TXmlNode*> items;
    node.CollectChildren("Account", items);
    for (TXmlNode* item : items) {
        auto account = std::make_unique<TcvAccount>();
        account->ReadXml(*item);
        AddAccount(account.release());
    }
    items.clear();
    node.CollectChildren("Group", items);
    for (TXmlNode* item : items) {
        auto group = std::make_unique<TcvGroup>();
        group->ReadXml(*item);
        group->Account = Accounts(group->AccountIndex);
        for (int i = 0; i < group->ParserCount(); ++i)
            group->Parsers(i)->Account = Accounts(group->Parsers(i)->AccountIndex);
        AddGroup(group.release());
    }
}

void TcvSetup::WriteXml(TXmlNode& node) const {
    node.SetChildInt("TotalCount", TotalCount, 0);
    for (const auto& a : accounts_) a->WriteXml(*node.AddChild("Account"));
    for (const auto& g : groups_) g->WriteXml(*node.AddChild("Group"));
}

void TcvSetup::LoadFromStream(xml::TStream& stream) {
    xml::TsdXmlDocument document;
    document.OnProgress = OnProgress;
    EarlyContacts early;
    document.OnElementRead = [&early](TXmlNode& element, int level) { return early.take(element, level); };
    document.ElementReadMaxLevel = 3;
    const int64_t start = stream.position();
    document.LoadStream(stream);
    if (early.mixed || (early.anyRead && early.readAsUtf8 != document.Utf8Flag)) {
        early = EarlyContacts();
        document.OnElementRead = nullptr;
        stream.Seek(start, xml::SeekOrigin::Beginning);
        document.LoadStream(stream);
    }
    if (!document.RootNode() || document.RootNode()->Name() != "Corvane")
        throw std::runtime_error("LoadFromStream: not a Corvane setup file");
    struct Scope {
        explicit Scope(EarlyContacts* e) { earlyContacts = e; }
        ~Scope() { earlyContacts = nullptr; }
    } scope(&early);
    ReadXml(*document.RootNode());
}

void TcvSetup::SaveToStream(xml::TStream& stream) {
    auto document = xml::TsdXmlDocument::CreateWithRoot("Corvane");
    stream.setSize(0);
    stream.setPosition(0);
    document->OnProgress = OnProgress;
    document->WriteDefaults = false;
    struct Scope {
        explicit Scope(const xml::TsdXmlDocument* d) { streamingDocument = d; }
        ~Scope() { streamingDocument = nullptr; }
    } scope(document.get());
    WriteXml(*document->RootNode());
    document->SaveStream(stream);
}

void TcvSetup::LoadFromFile(const std::string& fileName) {
    if (fileName.empty()) return;
    xml::TFileStream stream(fileName, xml::TFileStream::fmOpenRead);
    LoadFromStream(stream);
}

void TcvSetup::SaveToFile(const std::string& fileName) {
    if (fileName.empty()) return;
    QSaveFile file(pathOf(fileName));
    if (!file.open(QIODevice::WriteOnly))
        throw xml::EsdStreamError("Cannot create file \"" + fileName + "\". " + file.errorString().toStdString());
    // The file holds account passwords in plain text: only its owner may read it.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    SaveFileStream stream(file);
    SaveToStream(stream);
    try {
        platform::commitSaveFile(file);
    } catch (const platform::FileWriteError& e) {
        throw xml::EsdStreamError(e.what());
    }
}
