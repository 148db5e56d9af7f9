#pragma once
// The setup model: one setup owns mail accounts and groups; a group owns its messages, custom
// field definitions, parsers and contacts. Every object keeps a plain back-reference to its owner.
// Contacts are kept sorted by address (domain first, then local part).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <unordered_set>
#include <vector>

// The three exports of a preprocessor plug-in: the contract shared with plug-in libraries.
#include "model/cvContactList.h"
#include "platform/PluginInterface.h"

namespace xml {
class TXmlNode;
class TsdXmlDocument;
class TStream;
}  // namespace xml
using xml::TsdXmlDocument;
using xml::TXmlNode;
class TcvSetup;
class TcvAccount;
class TcvGroup;
class TcvContact;
class TcvFieldDef;
class TcvMessage;
class TcvParser;
class TcvMailer;
namespace mailtext {
class Mail;
}

using TStringList = std::vector<std::string>;

enum class TcvAuthentication : int32_t { None = 0, Login = 1 };
enum class TcvMessageMode : int32_t { OneTime = 0, Triggered = 1, Manual = 2 };
enum class TcvMessageStatus : int32_t { Stopped = 0, Live = 1, Sent = 2 };
enum class TcvParserAction : int32_t {
    Subscribe = 0,
    Bounce = 1,
    Unsubscribe = 2,
    UnsubscribeAll = 3,
    Delete = 4,
    Freeze = 5,
    UserAction1 = 6,
    UserAction2 = 7,
    UserAction3 = 8,
};
// DeliveryReport: every failed recipient that a bounce names (the sender of the bounced mail and
// the group's own addresses never count).
enum class TcvContactSource : int32_t { Sender = 0, EmailVar = 1, AnyEmail = 2, DeliveryReport = 3 };
enum class TcvTriggerUnit : int32_t { Seconds = 0, Minutes, Hours, Days, Weeks, Months, Years };
enum class TcvTrigger : int32_t { OnJoin = 0, OnUnsubscribe, UserEvent1, UserEvent2, UserEvent3 };
// What happens to mails no parser handled: 0 leave on server, 1 remove, 2 remove and put in
// "lost+found" (which has no store of its own and so acts as 1). Stored as its number.
using TcvDeleteMethod = int32_t;

// Name tables, indexed by value: the persisted form in the setup file and the texts shown.
extern const char* const AuthenticationNames[2];
extern const char* const MessageModeNames[3];
extern const char* const MessageStatusNames[3];
extern const char* const ParserActionNames[9];
extern const char* const ContactSourceNames[4];
extern const char* const TriggerUnitNames[7];
extern const char* const TriggerNames[5];
extern const char* const ContentTypeNames[2];
// The built-in personalisation variables.
extern const char* const VariableNames[10];
// Length of each trigger unit in seconds (a month is 30 days, a year 365).
extern const int32_t UnitSeconds[7];

// Finds a name in a table, case-sensitively; -1 when absent.
int IndexOfName(const char* const* table, int count, std::string_view name);
template <size_t N>
int IndexOfName(const char* const (&table)[N], std::string_view name) {
    return IndexOfName(table, static_cast<int>(N), name);
}

// Events. An unset event is not raised.
using TcvSetupEvent = std::function<void(TcvSetup&)>;
using TcvParserActionEvent = std::function<void(TcvParser*, TcvContact*, TcvGroup*, int)>;
// The mailer, the contact, the message, the personalised subject, and the personalised plain body
// immediately followed by the personalised HTML body.
using TcvMailEvent =
    std::function<void(TcvMailer&, TcvContact&, TcvMessage&, const std::string&, const std::string&)>;
// The XML document and the stream position reached.
using TcvProgressEvent = std::function<void(TsdXmlDocument&, int64_t)>;

class TcvClass {
public:
    TcvClass() = default;
    TcvClass(const TcvClass&) = delete;
    TcvClass& operator=(const TcvClass&) = delete;
    virtual ~TcvClass() = default;

    // The class name used as the root of the object's XML form ("TcvGroup"...).
    virtual const char* ClassName() const = 0;
    // Copies through the XML form: exactly the persisted fields. Both must be of the same class.
    virtual void Assign(const TcvClass& Source);
    virtual void ReadXml(TXmlNode& Node) {}
    virtual void WriteXml(TXmlNode& Node) const {}

    // The object as an XML document whose root is named after the class (clipboard copies).
    std::string SaveToString() const;
    // Reads such a document; one whose root is not this class's name is ignored. Raises the XML
    // layer's errors for text that is not XML.
    void LoadFromString(const std::string& Text);

    // Tells whether this object still exists. Operations that wait on the network (and so let
    // user commands run meanwhile) keep one and check it before touching the object again.
    std::weak_ptr<const void> Alive() const;

private:
    mutable std::shared_ptr<const char> alive_;
};

class TcvAccount : public TcvClass {
public:
    TcvAccount();
    const char* ClassName() const override { return "TcvAccount"; }
    void ReadXml(TXmlNode& Node) override;
    void WriteXml(TXmlNode& Node) const override;

    void Changed();
    void SetName(const std::string& name);
    // One complete SMTP connection for one prepared mail; raises on failure.
    void SendMail(const mailtext::Mail& mail) const;

    TcvAuthentication Authentication = TcvAuthentication::None;
    std::string UserName;
    std::string ServerName;
    int32_t PortPop3 = 110;
    int32_t PortSmtp = 25;
    std::string Password;
    std::string Sender;
    std::string Name;
    TcvSetup* Setup = nullptr;
    std::string ReplyTo;
    int32_t CheckInterval = 60;
    int32_t SendPause = 200;
    int32_t SendReuse = 10;
    bool UseForReceiving = false;
    bool UseForSending = true;
    // Connection security for sending and for receiving: 0 none, 1 STARTTLS (POP3 STLS), 2 TLS
    // from the first byte.
    int32_t SecuritySmtp = 0;
    int32_t SecurityPop3 = 0;
    // SHA-256 fingerprint (64 lower-case hex digits) of the one server certificate the user
    // accepted without a vouching authority; empty when none.
    std::string TrustedCertificate;
};

struct TcvHist {
    std::string Code;
    int32_t Date = 0;
};

class TcvFieldDef : public TcvClass {
public:
    const char* ClassName() const override { return "TcvFieldDef"; }
    void ReadXml(TXmlNode& Node) override;
    void WriteXml(TXmlNode& Node) const override;

    std::string Title;
    bool Checked = false;
    TcvGroup* Group = nullptr;
};

// A contact's address. It reads as a std::string; writing it tells the contact's group, which
// keeps its contacts in address order and searches them by halving only while that order is
// known to hold.
class TcvAddress : public std::string {
public:
    TcvAddress() = default;
    // A copy, or an address made from text, belongs to no contact.
    TcvAddress(const TcvAddress& other) : std::string(other) {}
    template <class T>
        requires std::is_constructible_v<std::string, T&&>
    TcvAddress(T&& value) : std::string(std::forward<T>(value)) {}
    TcvAddress& operator=(const TcvAddress& other) { return *this = static_cast<const std::string&>(other); }
    template <class T>
        requires std::is_assignable_v<std::string&, T&&>
    TcvAddress& operator=(T&& value) {
        std::string::operator=(std::forward<T>(value));
        written();
        return *this;
    }

private:
    friend class TcvContact;
    void written();
    TcvContact* owner_ = nullptr;
};

class TcvContact : public TcvClass {
public:
    TcvContact();
    const char* ClassName() const override { return "TcvContact"; }
    void ReadXml(TXmlNode& Node) override;
    void WriteXml(TXmlNode& Node) const override;

    std::string CustomField(int index) const;
    void SetCustomField(int index, const std::string& value);
    void DeleteCustomField(int index);
    void ExchangeCustomFields(int a, int b);
    bool HasCustomFields() const { return CustomFields != nullptr; }

    void SetEmail(const std::string& address);
    void SetFirstName(const std::string& name);
    void SetLastName(const std::string& name);
    std::string FullName() const;
    std::string FriendlyName() const;

    bool AllowsMail() const { return !Frozen && !Unsubscribed; }
    bool HasValidEmail() const;
    std::string StatusText() const;
    void SetBounces(int32_t count);
    double AverageSpeed() const;
    void Changed();

    virtual void AddHistory(const std::string& code, double dateTime);
    virtual const TcvHist* FindHistory(const std::string& code) const;
    virtual void DeleteHistory(int position);
    virtual int IndexOfHistory(const std::string& code) const;
    int HistoryCount() const { return static_cast<int>(Hist.size()); }
    const TcvHist* HistoryItem(int position) const;
    std::string HistoryText() const;

    std::string Personalise(std::string_view text) const;
    std::string VariableValue(std::string_view token) const;

    // Created on first need; value i belongs to the group's field definition i.
    std::unique_ptr<TStringList> CustomFields;
    TcvAddress Email;
    std::vector<TcvHist> Hist;
    TcvGroup* Group = nullptr;
    double Joined = 0;
    std::string FirstName;
    std::string LastName;
    bool ValidDomain = true;
    int32_t TotalBytes = 0;
    int32_t TotalDuration = 0;
    int32_t Bounces = 0;
    bool Frozen = false;
    bool Unsubscribed = false;
};

class TcvMessage : public TcvClass {
public:
    TcvMessage();
    const char* ClassName() const override { return "TcvMessage"; }
    // Also keeps the source message's group, so a detached copy resolves group variables.
    void Assign(const TcvClass& Source) override;
    void ReadXml(TXmlNode& Node) override;
    void WriteXml(TXmlNode& Node) const override;

    void Changed();
    void SetCode(const std::string& code);
    void SetTitle(const std::string& title);
    std::string GetSender() const;
    std::string HtmlView() const;
    double TriggerDelay() const;
    int AttachmentCount() const { return 0; }
    virtual void CheckAllSent();

    std::string BodyPlain;
    std::string BodyHtml;
    std::string Code;
    TcvMessageMode Mode = TcvMessageMode::OneTime;
    TcvGroup* Group = nullptr;
    int32_t Priority = 2;
    std::string Receipt;
    std::string Sender;
    TcvMessageStatus Status = TcvMessageStatus::Stopped;
    std::string Subject;
    std::string Title;
    TcvTrigger Trigger = TcvTrigger::OnJoin;
    int32_t TriggerAmount = 1;
    TcvTriggerUnit TriggerUnit = TcvTriggerUnit::Seconds;
    int32_t SendCount = 0;
};


namespace platform {
class SharedLibrary;
}

class TcvParser : public TcvClass {
public:
    TcvParser();
    ~TcvParser() override;
    const char* ClassName() const override { return "TcvParser"; }
    void ReadXml(TXmlNode& Node) override;
    void WriteXml(TXmlNode& Node) const override;

    void Changed();
    void SetName(const std::string& name);
    double CheckIntervalDays() const;

    // Processes the account's mailbox once. Connection and mailbox errors end it with that error.
    virtual void CheckMailbox();
    // Tests one mail and applies the action; true when the mail was handled.
    bool ParseMessage(const mailtext::Mail* mail);
    // Applies the action to one address, with the mail and variables of the ParseMessage call.
    bool ApplyAction(const std::string& address);
    static bool WordMatch(std::string_view text, std::string_view words);
    // The body's name=value lines, names trimmed and lower-cased, values trimmed.
    static void ParseImportVars(std::string_view body, TStringList& variables);

    // Loads only an accepted library named by its full path (see AcceptPreprocessor).
    void LoadPreprocessor();
    bool HasPreprocessor();
    void AddPluginFields();

    TGetFieldnames GetFieldnames = nullptr;
    TPreprocess Preprocess = nullptr;
    TFreePointer FreePointer = nullptr;
    TcvAccount* Account = nullptr;
    TcvParserAction Action = TcvParserAction::Subscribe;
    TcvContactSource ContactSource = TcvContactSource::Sender;
    TcvDeleteMethod DeleteMethod = 0;
    TcvGroup* Group = nullptr;
    bool ImportVars = false;
    double LastCheck = 0;
    std::string Name;
    bool Started = false;
    bool TriggerBody = false;
    std::string TriggerBodyWords;
    bool TriggerSubj = false;
    std::string TriggerSubjWords;
    std::string Preprocessor;
    // With the DeliveryReport source, delays and failures the server retries count as well.
    bool CountTemporary = false;
    std::unique_ptr<platform::SharedLibrary> LibraryHandle;
    // Account position read from XML, until the owner resolves it into Account.
    int32_t AccountIndex = -1;

private:
    bool triggersPass(const std::string& subject, const std::string& body) const;
    void readVariables(const std::string& sender, const std::string& subject, const std::string& body);
    void releasePreprocessor();
    // Asks the user, once, whether a library not yet accepted may be loaded. False when the parser
    // or its group was deleted while the question was open.
    bool askForPreprocessor();
    // Raises OnParserAction; false when its handler deleted the group or the contact meanwhile.
    bool raiseAction(TcvContact* contact, TcvGroup* group, int code);
    std::string variableValue(std::string_view name) const;
    bool tryAddresses(const std::vector<std::string>& addresses);
    bool applyToFailedRecipients(const mailtext::Mail& mail);

    // The mail and variables of the ParseMessage call in progress.
    const mailtext::Mail* mail_ = nullptr;
    TStringList variables_;
};

class TcvGroup : public TcvClass {
public:
    TcvGroup();
    ~TcvGroup() override;
    const char* ClassName() const override { return "TcvGroup"; }
    void ReadXml(TXmlNode& Node) override;
    void WriteXml(TXmlNode& Node) const override;

    void Changed();
    void SetName(const std::string& name);
    void SetCode(const std::string& code);

    // Takes ownership of the contact.
    int AddContact(TcvContact* contact);
    // Adds many contacts (loading, pasting, importing) at the places that adding them one by one
    // in the given order would give them, sorting once instead of moving the list for each;
    // raises ContactsChanged once when any was added. Null entries are skipped.
    void AddContacts(std::vector<std::unique_ptr<TcvContact>> contacts);
    void DeleteContact(int position);
    // Takes the contact out of the list without freeing it and without notification; the caller
    // owns it from then on.
    std::unique_ptr<TcvContact> ExtractContact(TcvContact* contact);
    int RemoveContact(TcvContact* contact);
    // The first contact in list order whose address equals the given one ignoring case.
    int IndexOfEmail(std::string_view address) const;
    TcvContact* FindContact(std::string_view address) const;
    int IndexOfContact(const TcvContact* contact) const;
    int ContactCount() const { return static_cast<int>(contacts_.size()); }
    TcvContact* Contacts(int position) const;
    void GetEmails(TStringList& list) const;
    void AppendEmails(TStringList* list) const;
    void SelectContact(TcvContact* contact);
    // Sends the messages triggered by unsubscription, then flags or deletes the contact.
    void Unsubscribe(int position);

    int AddFieldDef(TcvFieldDef* fieldDef);
    void DeleteFieldDef(int position);
    int IndexOfFieldDef(std::string_view title) const;
    void ExchangeFieldDefs(int a, int b);
    int FieldDefCount() const { return static_cast<int>(fieldDefs_.size()); }
    TcvFieldDef* FieldDefs(int position) const;

    int AddMessage(TcvMessage* message);
    void DeleteMessage(int position);
    TcvMessage* FindMessage(std::string_view code) const;
    int IndexOfMessage(const TcvMessage* message) const;
    int MessageCount() const { return static_cast<int>(messages_.size()); }
    TcvMessage* Messages(int position) const;
    void SelectMessage(TcvMessage* message);

    int AddParser(TcvParser* parser);
    void DeleteParser(int position);
    int IndexOfParser(const TcvParser* parser) const;
    int ParserCount() const { return static_cast<int>(parsers_.size()); }
    TcvParser* Parsers(int position) const;
    void SelectParser(TcvParser* parser);

    int VariableCount() const { return FieldDefCount() + 10; }
    std::string VariableName(int index) const;
    // Codes of every other message of the group, each followed by a tab (for UniqueCode).
    std::string MessageCodesExcept(const TcvMessage* message) const;

    TcvAccount* Account = nullptr;
    bool Active = true;
    std::string Name;
    TcvSetup* Setup = nullptr;
    std::string Purpose;
    std::string Code;
    // Account position read from XML, until the owner resolves it into Account.
    int32_t AccountIndex = -1;
    // Where recipients of the group's mails can ask to be taken off the list; named in every
    // mail's List-Unsubscribe header when not empty.
    std::string UnsubscribeAddress;

private:
    friend class TcvAddress;
    // Whether the contact list is in address order. Insertions keep whatever holds; an address
    // written in place makes it unknown until the next search checks the list once.
    enum class Order : uint8_t { Sorted, Unknown, Unsorted };

    void notify(void (TcvSetup::*changed)());
    int insertSorted(std::unique_ptr<TcvContact> contact);
    void addressWritten() {
        order_ = Order::Unknown;
        lastLookUp_.valid = false;
    }
    bool knownSorted() const;
    int searchEmail(std::string_view address) const;
    // The run of contacts whose address compares equal to the given one; only for a sorted list.
    std::pair<size_t, size_t> equalRun(std::string_view address) const;

    TcvContactList contacts_;
    // The contacts of the list by identity: a look-up by identity may be handed a contact that was
    // freed meanwhile, and must answer -1 without reading it.
    std::unordered_set<const TcvContact*> members_;
    mutable Order order_ = Order::Sorted;
    // The last look-up, answered again while the list and its addresses stay unchanged: a parser
    // action looks the same address up several times, around handlers that may change the list.
    struct LookUp {
        std::string address;
        uint64_t changes = 0;
        int position = -1;
        bool valid = false;
    };
    mutable LookUp lastLookUp_;
    std::vector<std::unique_ptr<TcvFieldDef>> fieldDefs_;
    std::vector<std::unique_ptr<TcvMessage>> messages_;
    std::vector<std::unique_ptr<TcvParser>> parsers_;
};

class TcvSetup : public TcvClass {
public:
    TcvSetup();
    ~TcvSetup() override;
    const char* ClassName() const override { return "TcvSetup"; }
    void ReadXml(TXmlNode& Node) override;
    void WriteXml(TXmlNode& Node) const override;

    void Clear();

    int AddAccount(TcvAccount* account);
    void DeleteAccount(int position);
    int IndexOfAccount(const TcvAccount* account) const;
    int AccountCount() const { return static_cast<int>(accounts_.size()); }
    TcvAccount* Accounts(int position) const;

    int AddGroup(TcvGroup* group);
    void DeleteGroup(int position);
    int IndexOfGroup(const TcvGroup* group) const;
    TcvGroup* FindGroup(std::string_view code) const;
    int GroupCount() const { return static_cast<int>(groups_.size()); }
    TcvGroup* Groups(int position) const;

    // Codes of every other group, each followed by a tab (for UniqueCode).
    std::string GroupCodesExcept(const TcvGroup* group) const;

    void SelectAccount(TcvAccount* account);
    void SelectGroup(TcvGroup* group);

    // Loading replaces the whole content; on any failure the setup keeps its previous content.
    // An empty file name does nothing. Raises the XML layer's errors, file errors, and
    // "LoadFromStream: not a Corvane setup file".
    void LoadFromFile(const std::string& fileName);
    void LoadFromStream(xml::TStream& stream);
    // Writes a new file next to the old one and replaces it only when complete, so a failure
    // leaves the previous file as it was. An empty file name does nothing.
    void SaveToFile(const std::string& fileName);
    void SaveToStream(xml::TStream& stream);

    void AccountsChanged();
    void GroupsChanged();
    void MessagesChanged();
    void ContactsChanged();
    void FieldDefsChanged();
    void ParsersChanged();

    bool Modified = false;
    int32_t TotalCount = 0;
    int32_t SessionCount = 0;

    TcvSetupEvent OnGroupsChanged;
    std::function<void(TcvSetup&, TcvGroup*)> OnGroupSelect;
    TcvSetupEvent OnAccountsChanged;
    TcvParserActionEvent OnParserAction;
    std::function<void(TcvSetup&, TcvAccount*)> OnAccountSelect;
    TcvSetupEvent OnMessagesChanged;
    std::function<void(TcvGroup*, TcvMessage*)> OnMessageSelect;
    TcvSetupEvent OnContactsChanged;
    std::function<void(TcvGroup*, TcvContact*)> OnContactSelect;
    TcvSetupEvent OnFieldDefsChanged;
    TcvSetupEvent OnParsersChanged;
    std::function<void(TcvGroup*, TcvParser*)> OnParserSelect;
    TcvMailEvent OnSending;
    TcvMailEvent OnMailed;
    TcvProgressEvent OnProgress;

private:
    std::vector<std::unique_ptr<TcvAccount>> accounts_;
    std::vector<std::unique_ptr<TcvGroup>> groups_;
};

// Plug-in libraries the user accepted on this computer, kept in the per-user options store by
// their full path. A library picked in the plug-in dialog is accepted by that choice.
bool PreprocessorAccepted(const std::string& path);
void AcceptPreprocessor(const std::string& path);

// -1, 0 or 1: domains compared ignoring case (locale-aware), then the local parts.
int CompareEmails(std::string_view a, std::string_view b);
// A key per address whose byte order is the order of CompareEmails (equal keys for addresses
// that compare equal), for sorting many addresses.
std::string EmailSortKey(std::string_view address);
int CompareFloat(double a, double b);
// Keeps '#', '-', digits, ASCII letters, '^', '_' and '~'; blanks become '_'.
std::string MakeIdentifier(std::string_view text);
// The prefix from which a group's or message's code is made: the first three identifier
// characters of its name, in upper case.
std::string CodePrefixOf(std::string_view name);
// usedCodes holds every code in use, each followed by a tab.
std::string UniqueCode(std::string_view prefix, std::string_view usedCodes);
std::string CapitalizeName(std::string_view text);

// Fills an empty mail for one contact from texts already personalised for it; the account is the
// one the mail goes out through (its reply-to address is used).
void ComposeMail(mailtext::Mail& mail, const TcvContact& contact, const TcvMessage& message,
                 const TcvAccount* account, const std::string& subject, const std::string& plainBody,
                 const std::string& htmlBody);

namespace mailtext {
struct SmtpSettings;
struct Pop3Settings;
}
// The connection settings of an account's servers.
mailtext::SmtpSettings SmtpSettingsOf(const TcvAccount& account);
mailtext::Pop3Settings Pop3SettingsOf(const TcvAccount& account);

// Sends one message to one contact over a connection of its own; used by the unsubscribe
// operation, which sends the messages triggered by unsubscription. The mailer installs it.
using TcvTemporarySend = std::function<void(TcvSetup*, TcvAccount*, TcvMessage*, TcvContact*)>;
void SetTemporarySend(TcvTemporarySend send);

// The activity log: its path is empty until the main window sets it at start-up.
void SetLogFilePath(const std::string& path);
const std::string& LogFilePath();
// Sees every line written to the activity log (a headless run mirrors them on its output).
void SetLogObserver(std::function<void(const std::string& line)> observer);
// Appends one time-stamped line; trims the file from the top when it grows past the size limit.
// Never reports an error.
void AppendLogLine(const std::string& path, std::string_view text);
