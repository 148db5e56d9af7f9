#include "mailtext/DeliveryReport.h"
#include "mailtext/HtmlHelpers.h"
#include "mailtext/IdMessageHelpers.h"
#include "mailtext/Mail.h"
#include "mailtext/MailDate.h"
#include "mailtext/MailErrors.h"
#include "mailtext/Pop3Client.h"
#include "model/cvSetup.h"
#include "platform/Clock.h"
#include "platform/Locale.h"
#include "platform/SharedLibrary.h"
#include "platform/UiHooks.h"

#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

std::string nameOf(const std::string& variable) { return variable.substr(0, variable.find('=')); }

std::string valueOf(const std::string& variable) {
    const size_t eq = variable.find('=');
    return eq == std::string::npos ? std::string() : variable.substr(eq + 1);
}

bool fileExists(const std::string& path) {
    return !path.empty() && QFileInfo(QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()))).isFile();
}

// Copies a string the plug-in returned and hands the pointer back to it, exactly once.
std::string takePluginText(char* p, TFreePointer freePointer) {
    std::string text = p ? std::string(p) : std::string();
    freePointer(p);
    return text;
}

// The address of the group's contact that a failed recipient stands for: the recipient's own
// address first, then the forms it was derived from. A recipient no contact stands for keeps its
// own address, so that actions which need no contact still see it; a bare mailbox name without
// a contact gives nothing.
std::string contactAddressOf(const TcvGroup& group, const mailtext::FailedRecipient& recipient) {
    if (recipient.Domain.empty()) {
        if (recipient.Aliases.empty() || group.IndexOfEmail(recipient.Address) >= 0) return recipient.Address;
        for (const std::string& alias : recipient.Aliases)
            if (group.IndexOfEmail(alias) >= 0) return alias;
        return recipient.Address;
    }
    for (int i = 0; i < group.ContactCount(); ++i)
        if (mailtext::RecipientMatches(recipient, group.Contacts(i)->Email)) return group.Contacts(i)->Email;
    return {};
}

}  // namespace

mailtext::Pop3Settings Pop3SettingsOf(const TcvAccount& account) {
    mailtext::Pop3Settings settings;
    settings.Host = account.ServerName;
    settings.Port = account.PortPop3;
    settings.UserName = account.UserName;
    settings.Password = account.Password;
    return settings;
}

TcvParser::TcvParser() = default;
TcvParser::~TcvParser() = default;

void TcvParser::Changed() {
    if (!Group) return;
    Group->Changed();
    if (Group->Setup) Group->Setup->ParsersChanged();
}

void TcvParser::SetName(const std::string& name) {
    if (name == Name) return;
    Name = name;
    Changed();
}

double TcvParser::CheckIntervalDays() const { return Account ? Account->CheckInterval / 86400.0 : 0; }

bool TcvParser::WordMatch(std::string_view text, std::string_view words) {
    const std::string lowered = platform::asciiLower(text);
    std::string list(words);
    for (char& c : list)
        if (c == ';') c = '\n';
    for (const std::string& word : mailtext::splitLines(list))
        if (!word.empty() && lowered.find(platform::asciiLower(word)) != std::string::npos) return true;
    return false;
}

void TcvParser::ParseImportVars(std::string_view body, TStringList& variables) {
    variables = mailtext::splitLines(body);
    for (size_t i = variables.size(); i-- > 0;) {
        variables[i] = platform::trim(variables[i]);
        if (variables[i].empty()) variables.erase(variables.begin() + static_cast<long>(i));
    }
    // A value written on the line after its name is joined to the name.
    for (size_t i = variables.size() >= 2 ? variables.size() - 1 : 0; i-- > 0;) {
        if (!variables[i].empty() && variables[i].back() == '=' &&
            variables[i + 1].find('=') == std::string::npos) {
            variables[i] += variables[i + 1];
            variables.erase(variables.begin() + static_cast<long>(i) + 1);
        }
    }
    for (size_t i = variables.size(); i-- > 0;) {
        const size_t eq = variables[i].find('=');
        if (eq == std::string::npos) {
            variables.erase(variables.begin() + static_cast<long>(i));
            continue;
        }
        variables[i] = platform::asciiLower(platform::trim(variables[i].substr(0, eq))) + "=" +
                       platform::trim(variables[i].substr(eq + 1));
    }
}

void TcvParser::LoadPreprocessor() {
    GetFieldnames = nullptr;
    Preprocess = nullptr;
    FreePointer = nullptr;
    LibraryHandle.reset();
    if (!fileExists(Preprocessor)) return;
    LibraryHandle = platform::SharedLibrary::load(Preprocessor);
    if (!LibraryHandle) return;
    GetFieldnames = reinterpret_cast<TGetFieldnames>(LibraryHandle->symbol("GetFieldnames"));
    Preprocess = reinterpret_cast<TPreprocess>(LibraryHandle->symbol("Preprocess"));
    FreePointer = reinterpret_cast<TFreePointer>(LibraryHandle->symbol("FreePointer"));
}

bool TcvParser::HasPreprocessor() {
    if (!LibraryHandle && !Preprocessor.empty()) LoadPreprocessor();
    return LibraryHandle && !Preprocessor.empty();
}

void TcvParser::AddPluginFields() {
    if (!Group || !HasPreprocessor() || !GetFieldnames || !FreePointer) return;
    for (const std::string& line : mailtext::splitLines(takePluginText(GetFieldnames(), FreePointer))) {
        if (line.empty() || platform::sameText(line, "email") || Group->IndexOfFieldDef(line) >= 0) continue;
        auto* def = new TcvFieldDef;
        def->Title = line;
        def->Checked = true;
        Group->AddFieldDef(def);
    }
}

bool TcvParser::triggersPass(const std::string& subject, const std::string& body) const {
    // With both tests on, a mail must pass both: a rule that unsubscribes or deletes contacts
    // should rather leave a mail alone than act on one that only half matches.
    if (TriggerSubj && !WordMatch(subject, TriggerSubjWords)) return false;
    if (TriggerBody && !WordMatch(body, TriggerBodyWords)) return false;
    return true;
}

void TcvParser::readVariables(const std::string& sender, const std::string& subject, const std::string& body) {
    variables_.clear();
    if (!HasPreprocessor()) {
        ParseImportVars(body, variables_);
        return;
    }
    if (!Preprocess || !FreePointer) return;
    variables_ = mailtext::splitLines(takePluginText(Preprocess(sender.c_str(), subject.c_str(), body.c_str()), FreePointer));
}

std::string TcvParser::variableValue(std::string_view name) const {
    for (const std::string& v : variables_)
        if (platform::sameText(nameOf(v), name)) return valueOf(v);
    return {};
}

bool TcvParser::tryAddresses(const std::vector<std::string>& addresses) {
    const std::weak_ptr<const void> self = Alive();
    for (const std::string& address : addresses) {
        if (ApplyAction(address)) return true;
        if (self.expired()) return false;
    }
    return false;
}

bool TcvParser::ParseMessage(const mailtext::Mail* mail) {
    if (!mail || !Group) return false;
    std::string address = ContactSource == TcvContactSource::Sender ? mail->From.Address : std::string();
    std::string body;
    try {
        body = mailtext::MessageBodyText(*mail);
    } catch (...) {
        body.clear();
    }
    if (!triggersPass(mail->Subject, body)) return false;
    // The mail and its variables serve the actions of this call only.
    struct Current {
        TcvParser& parser;
        std::weak_ptr<const void> alive;
        ~Current() {
            if (alive.expired()) return;
            parser.mail_ = nullptr;
            parser.variables_.clear();
        }
    } current{*this, Alive()};
    mail_ = mail;
    readVariables(address, mail->Subject, body);
    bool handled = false;
    if (ContactSource == TcvContactSource::EmailVar) address = variableValue("email");
    if (ContactSource == TcvContactSource::DeliveryReport) {
        handled = applyToFailedRecipients(*mail);
    } else if (ContactSource == TcvContactSource::AnyEmail) {
        std::vector<std::string> addresses;
        mailtext::ExtractEmails(body, &addresses);
        handled = tryAddresses(addresses);
        if (!handled) {
            addresses.clear();
            mailtext::ExtractEmails(mailtext::MessageToText(mail), &addresses);
            handled = tryAddresses(addresses);
        }
    } else {
        handled = ApplyAction(address);
    }
    return handled;
}

bool TcvParser::applyToFailedRecipients(const mailtext::Mail& mail) {
    // The bounced mail went out from the group's account, or from a message's own sender.
    std::vector<std::string> own;
    for (const TcvAccount* account : {Group->Account, Account}) {
        if (!account) continue;
        own.push_back(account->Sender);
        own.push_back(account->ReplyTo);
    }
    for (int m = 0; m < Group->MessageCount(); ++m) own.push_back(Group->Messages(m)->Sender);
    const mailtext::DeliveryReport report = mailtext::ReadDeliveryReport(mail, own);
    if (!report.isBounce()) return false;
    const std::weak_ptr<const void> self = Alive();
    std::vector<std::string> done;
    bool handled = false;
    for (const mailtext::FailedRecipient& recipient : report.Recipients) {
        if (!recipient.Permanent && !CountTemporary) continue;
        const std::string address = contactAddressOf(*Group, recipient);
        if (address.empty() || std::find(done.begin(), done.end(), platform::asciiLower(address)) != done.end()) continue;
        done.push_back(platform::asciiLower(address));
        if (ApplyAction(address)) handled = true;
        // An action may send mail, and the interface runs while it waits.
        if (self.expired() || !Group) break;
    }
    return handled;
}

void TcvParser::raiseAction(TcvContact* contact, TcvGroup* group, int code) {
    TcvSetup* setup = Group ? Group->Setup : nullptr;
    if (setup && setup->OnParserAction) setup->OnParserAction(this, contact, group, code);
}

bool TcvParser::ApplyAction(const std::string& address) {
    if (!Group) return false;
    TcvGroup* group = Group;
    // Subscribing never looks for an existing contact; the search is linear, so skip it there.
    const int found = Action == TcvParserAction::Subscribe ? -1 : group->IndexOfEmail(address);
    switch (Action) {
    case TcvParserAction::Subscribe: {
        if (address.empty()) return false;
        auto* contact = new TcvContact;
        contact->Email = address;
        // A mail without a readable date joins now rather than in 1899, which would put every
        // trigger of the contact out of reach.
        double joined = 0;
        contact->Joined = mail_ && mailtext::MailDate(*mail_, joined) ? joined : platform::now();
        group->AddContact(contact);
        if (ImportVars) {
            for (const std::string& v : variables_) {
                const std::string name = nameOf(v);
                const std::string value = variableValue(name);
                contact->SetCustomField(group->IndexOfFieldDef(name), value);
                if (name == "firstname") contact->SetFirstName(value);
                if (name == "lastname") contact->SetLastName(value);
                if (name == "joined" && !platform::parseDateTime(value, contact->Joined))
                    throw std::invalid_argument("'" + value + "' is not a valid date and time");
            }
        }
        raiseAction(contact, group, 0);
        return true;
    }
    case TcvParserAction::Bounce:
        if (found < 0) return false;
        group->Contacts(found)->SetBounces(group->Contacts(found)->Bounces + 1);
        raiseAction(group->Contacts(found), group, 1);
        return true;
    case TcvParserAction::Unsubscribe:
        if (found < 0) return false;
        raiseAction(group->Contacts(found), group, 2);
        group->Unsubscribe(group->IndexOfEmail(address));
        return true;
    case TcvParserAction::UnsubscribeAll: {
        TcvSetup* setup = group->Setup;
        if (!setup) return found >= 0;
        const std::weak_ptr<const void> self = Alive();
        for (int g = 0; g < setup->GroupCount() && !self.expired(); ++g) {
            TcvGroup* other = setup->Groups(g);
            const int position = other->IndexOfEmail(address);
            if (position < 0) continue;
            raiseAction(other->Contacts(position), other, 2);
            other->Unsubscribe(other->IndexOfEmail(address));
        }
        return found >= 0;
    }
    case TcvParserAction::Delete:
        if (found >= 0) {
            raiseAction(group->Contacts(found), group, 2);
            group->DeleteContact(group->IndexOfEmail(address));
        }
        return found >= 0 || !address.empty();
    case TcvParserAction::Freeze:
        if (found < 0) return false;
        group->Contacts(found)->Frozen = true;
        raiseAction(group->Contacts(found), group, 5);
        return true;
    default:
        return false;
    }
}

void TcvParser::CheckMailbox() {
    if (!Account) return;
    const std::weak_ptr<const void> self = Alive();
    // LastCheck is stamped however the check ends; the parser may have been deleted meanwhile.
    struct Stamp {
        TcvParser* parser;
        const std::weak_ptr<const void>& alive;
        ~Stamp() {
            if (!alive.expired()) parser->LastCheck = platform::now();
        }
    } stamp{this, self};

    TcvGroup* group = Group;
    const std::weak_ptr<const void> groupAlive = group ? group->Alive() : std::weak_ptr<const void>();
    mailtext::Pop3Client client(Pop3SettingsOf(*Account));
    client.connect();
    const int count = client.messageCount();
    for (int i = 1; i <= count; ++i) {
        platform::processEvents();
        if (self.expired() || !group || groupAlive.expired()) break;
        std::unique_ptr<mailtext::Mail> mail;
        try {
            mail = client.retrieve(i);
        } catch (const mailtext::EMailError&) {
            // A mail the server cannot give is left there; a lost connection ends the check.
            if (!client.connected()) throw;
            char text[64];
            std::snprintf(text, sizeof text, "Unable to parse message %d", i);
            platform::showMessage(text);
            continue;
        }
        if (self.expired() || groupAlive.expired()) break;
        bool handled = ParseMessage(mail.get());
        bool allTried = true;
        // Actions may send mail, and the interface runs while they wait: re-check before each use.
        for (int p = 0; !handled && !self.expired() && !groupAlive.expired() && p < group->ParserCount(); ++p) {
            TcvParser* other = group->Parsers(p);
            if (other->Account != group->Account) continue;
            if (other->Started) handled = other->ParseMessage(mail.get());
            else allTried = false;
        }
        if (self.expired() || groupAlive.expired()) {
            if (handled) client.deleteMessage(i);
            break;
        }
        if (handled || (DeleteMethod != 0 && allTried)) client.deleteMessage(i);
    }
    client.quit();
}
