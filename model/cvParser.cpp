#include "mailtext/DeliveryReport.h"
#include "mailtext/HtmlHelpers.h"
#include "mailtext/IdMessageHelpers.h"
#include "mailtext/Mail.h"
#include "mailtext/MailDate.h"
#include "mailtext/MailErrors.h"
#include "mailtext/Pop3Client.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Locale.h"
#include "platform/Registry.h"
#include "platform/SharedLibrary.h"
#include "platform/UiHooks.h"

#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <set>
#include <stdexcept>

namespace {

// A mailbox check ends after this many mails in a row could not be retrieved.
constexpr int MaxFailuresInRow = 3;
// The end-of-check report names at most this many mails.
constexpr int MaxReportedMails = 10;

std::string nameOf(const std::string& variable) { return variable.substr(0, variable.find('=')); }

std::string valueOf(const std::string& variable) {
    const size_t eq = variable.find('=');
    return eq == std::string::npos ? std::string() : variable.substr(eq + 1);
}

// Paths of the model are in the code page; the file system wants them as Unicode.
QString filePath(const std::string& path) { return platform::toDisplay(path); }

const std::string PluginKey = std::string(options::RegistryBase) + "\\Plugins";

// Libraries the user declined during this run: asked about once, not at every mail.
std::set<std::string>& declinedThisRun() {
    static std::set<std::string> paths;
    return paths;
}

std::string acceptQuestion(const std::string& parserName, const std::string& path) {
    return "The parser \"" + parserName + "\" wants to load the plug-in library\r" + path +
           "\rwhich has not been accepted on this computer. A plug-in runs with all your rights: load it only "
           "if you trust it.\r\rLoad it, and accept this library from now on?";
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
    settings.Tls.Security = mailtext::MailSecurityFromInt(account.SecurityPop3);
    settings.Tls.TrustedCertificate = account.TrustedCertificate;
    // Below 64 KB even ordinary mails would be refused.
    settings.MaxMailBytes = static_cast<size_t>(std::max<int32_t>(options::MailMaxSize, 64)) * 1024;
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
    // One pass over views of the body, never erasing inside a list: erasing made a large body
    // quadratic, and any sender can make a parser read one.
    std::vector<std::string_view> lines;
    for (size_t start = 0, i = 0; start < body.size(); start = i) {
        while (i < body.size() && body[i] != '\r' && body[i] != '\n') ++i;
        const std::string_view line = platform::trimView(body.substr(start, i - start));
        if (!line.empty()) lines.push_back(line);
        if (i < body.size()) i += body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n' ? 2 : 1;
    }
    // A value written on the line after its name is joined to the name. Walking from the end, the
    // line after the current one is the last one kept so far; a joined line holds "=" and so is
    // never joined again.
    struct Joined {
        std::string_view line, next;
    };
    std::vector<Joined> joined;
    joined.reserve(lines.size());
    for (size_t i = lines.size(); i-- > 0;) {
        Joined j{lines[i], {}};
        if (!joined.empty() && j.line.back() == '=' && joined.back().next.empty() &&
            joined.back().line.find('=') == std::string_view::npos) {
            j.next = joined.back().line;
            joined.pop_back();
        }
        joined.push_back(j);
    }
    variables.clear();
    for (size_t i = joined.size(); i-- > 0;) {
        const auto [line, next] = joined[i];
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        // A joined line ends with "=" and its next line is trimmed already, so the value is the
        // trimmed rest of the line followed by the next line.
        const std::string_view value = platform::trimView(line.substr(eq + 1));
        const std::string_view name = platform::trimView(line.substr(0, eq));
        std::string variable;
        variable.reserve(name.size() + 1 + value.size() + next.size());
        for (char c : name) variable += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        variable += '=';
        variable += value;
        variable += next;
        variables.push_back(std::move(variable));
    }
}

bool PreprocessorAccepted(const std::string& path) {
    if (path.empty()) return false;
    const auto key = platform::RegistryKey::openExisting(PluginKey);
    return key && key->valueType(path) == platform::RegType::Dword && key->readDword(path) != 0;
}

void AcceptPreprocessor(const std::string& path) {
    if (path.empty()) return;
    declinedThisRun().erase(path);
    auto key = platform::RegistryKey::openCreate(PluginKey);
    if (!key) throw std::runtime_error("Cannot store the accepted plug-in library in the options");
    key->writeDword(path, 1);
    key->close();
}

void TcvParser::releasePreprocessor() {
    GetFieldnames = nullptr;
    Preprocess = nullptr;
    FreePointer = nullptr;
    LibraryHandle.reset();
}

void TcvParser::LoadPreprocessor() {
    releasePreprocessor();
    // A library runs with the user's rights the moment it loads: only a file named by its full
    // path, that the user accepted on this computer, is ever loaded.
    const QFileInfo file(filePath(Preprocessor));
    if (Preprocessor.empty() || file.isRelative() || !file.isFile() || !PreprocessorAccepted(Preprocessor)) return;
    LibraryHandle = platform::SharedLibrary::load(platform::toUtf8(Preprocessor));
    if (!LibraryHandle) return;
    GetFieldnames = reinterpret_cast<TGetFieldnames>(LibraryHandle->symbol("GetFieldnames"));
    Preprocess = reinterpret_cast<TPreprocess>(LibraryHandle->symbol("Preprocess"));
    FreePointer = reinterpret_cast<TFreePointer>(LibraryHandle->symbol("FreePointer"));
}

bool TcvParser::HasPreprocessor() {
    if (!LibraryHandle && !Preprocessor.empty()) LoadPreprocessor();
    return LibraryHandle && !Preprocessor.empty();
}

bool TcvParser::askForPreprocessor() {
    if (LibraryHandle || Preprocessor.empty() || declinedThisRun().count(Preprocessor)) return true;
    const QFileInfo file(filePath(Preprocessor));
    if (file.isRelative() || !file.isFile() || PreprocessorAccepted(Preprocessor)) return true;
    const std::string path = Preprocessor;
    const std::weak_ptr<const void> self = Alive();
    const std::weak_ptr<const void> groupAlive = Group ? Group->Alive() : std::weak_ptr<const void>();
    // Never accepted without a user to ask.
    const bool accepted = platform::confirmOkCancel(acceptQuestion(Name, path), false);
    if (accepted) AcceptPreprocessor(path);
    else declinedThisRun().insert(path);
    // The question let the user work meanwhile.
    return !self.expired() && !groupAlive.expired();
}

void TcvParser::AddPluginFields() {
    if (!Group || !askForPreprocessor()) return;
    if (!HasPreprocessor() || !GetFieldnames || !FreePointer) return;
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
    if (!askForPreprocessor() || !Group) return false;
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

bool TcvParser::raiseAction(TcvContact* contact, TcvGroup* group, int code) {
    TcvSetup* setup = group ? group->Setup : nullptr;
    if (!setup || !setup->OnParserAction) return true;
    const std::weak_ptr<const void> groupAlive = group->Alive();
    const std::weak_ptr<const void> contactAlive = contact ? contact->Alive() : std::weak_ptr<const void>();
    setup->OnParserAction(this, contact, group, code);
    return !groupAlive.expired() && (!contact || !contactAlive.expired());
}

bool TcvParser::ApplyAction(const std::string& address) {
    if (!Group) return false;
    TcvGroup* group = Group;
    // Subscribing never looks for an existing contact.
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
        // The handler may let the user work: the group or contact may be gone afterwards.
        if (raiseAction(group->Contacts(found), group, 2)) group->Unsubscribe(group->IndexOfEmail(address));
        return true;
    case TcvParserAction::UnsubscribeAll: {
        TcvSetup* setup = group->Setup;
        if (!setup) return found >= 0;
        const std::weak_ptr<const void> self = Alive();
        for (int g = 0; g < setup->GroupCount() && !self.expired(); ++g) {
            TcvGroup* other = setup->Groups(g);
            const int position = other->IndexOfEmail(address);
            if (position < 0) continue;
            if (raiseAction(other->Contacts(position), other, 2)) other->Unsubscribe(other->IndexOfEmail(address));
        }
        return found >= 0;
    }
    case TcvParserAction::Delete:
        if (found >= 0) {
            if (raiseAction(group->Contacts(found), group, 2)) group->DeleteContact(group->IndexOfEmail(address));
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
    const mailtext::Pop3Settings settings = Pop3SettingsOf(*Account);
    mailtext::Pop3Client client(settings);
    client.connect();
    // Mails that could not be taken in are reported once, when the check ends, rather than in a
    // box each: a broken or hostile server would otherwise keep the user clicking.
    std::string report, ending;
    int reported = 0;
    auto note = [&](const std::string& line) {
        if (++reported <= MaxReportedMails) report += (report.empty() ? "" : "\r") + line;
    };
    auto tooLarge = [&](int number) {
        return "Message " + std::to_string(number) + " is larger than " + std::to_string(settings.MaxMailBytes / 1024) +
               " KB and was left on the server";
    };
    auto showReport = [&] {
        if (reported > MaxReportedMails) report += "\rand " + std::to_string(reported - MaxReportedMails) + " more";
        if (!ending.empty()) report += "\r" + ending;
        if (!report.empty()) platform::showMessage(report);
        report.clear();
    };
    try {
        // The server's count holds only as far as its list agrees, in increasing order: numbers it
        // does not list are never asked for, whatever STAT said.
        const int count = client.messageCount();
        std::vector<mailtext::Pop3MessageSize> listed;
        if (count > 0)
            for (const auto& item : client.listMessages())
                if (item.Number <= count && (listed.empty() || item.Number > listed.back().Number)) listed.push_back(item);
        int failedInRow = 0;
        for (const auto& [i, size] : listed) {
            platform::processEvents();
            if (self.expired() || !group || groupAlive.expired()) break;
            if (static_cast<unsigned long long>(size) > settings.MaxMailBytes) {
                note(tooLarge(i));
                continue;
            }
            std::unique_ptr<mailtext::Mail> mail;
            try {
                mail = client.retrieve(i);
                failedInRow = 0;
            } catch (const mailtext::EMailTooLarge&) {
                note(tooLarge(i));
                continue;
            } catch (const mailtext::EMailError&) {
                // A mail the server cannot give is left there; a lost connection ends the check.
                if (!client.connected()) throw;
                char text[64];
                std::snprintf(text, sizeof text, "Unable to parse message %d", i);
                note(text);
                if (++failedInRow < MaxFailuresInRow) continue;
                ending = "The mailbox check was ended after " + std::to_string(failedInRow) +
                         " messages in a row could not be retrieved";
                break;
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
        // The deletions are committed before the user is kept by the report.
        client.quit();
    } catch (...) {
        showReport();
        throw;
    }
    showReport();
}
