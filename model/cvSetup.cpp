#include "model/cvSetup.h"

#include "options/OptionRefs.h"
#include "platform/Clock.h"
#include "platform/Locale.h"

#include <algorithm>
#include <stdexcept>

const char* const AuthenticationNames[2] = {"None", "Login"};
const char* const MessageModeNames[3] = {"OneTime", "Triggered", "Manual"};
const char* const MessageStatusNames[3] = {"Stopped", "Live", "Sent"};
const char* const ParserActionNames[9] = {"Subscribe",     "Bounce",        "Unsubscribe",
                                          "Unsubscribe All", "Delete",      "Freeze",
                                          "User Action 1", "User Action 2", "User Action 3"};
const char* const ContactSourceNames[4] = {"Sender", "EmailVar", "AnyEmail", "DeliveryReport"};
const char* const TriggerUnitNames[7] = {"Seconds", "Minutes", "Hours", "Days", "Weeks", "Months", "Years"};
const char* const TriggerNames[5] = {"OnJoin", "OnUnsubscribe", "UserEvent1", "UserEvent2", "UserEvent3"};
const char* const ContentTypeNames[2] = {"text/plain", "text/html"};
const char* const VariableNames[10] = {"Email",     "FullName",  "FirstName", "LastName", "FriendlyName",
                                       "GroupName", "GroupCode", "Joined",    "JoinedRel", "JoinedDayOfWeek"};
const int32_t UnitSeconds[7] = {1, 60, 3600, 86400, 604800, 2592000, 31536000};

int IndexOfName(const char* const* table, int count, std::string_view name) {
    for (int i = 0; i < count; ++i)
        if (name == table[i]) return i;
    return -1;
}

namespace {

// The local part is the text before the first "@"; the domain the text after it, or the whole
// text when there is none.
void splitAddress(std::string_view address, std::string_view& local, std::string_view& domain) {
    const size_t at = address.find('@');
    if (at == std::string_view::npos) {
        local = {};
        domain = address;
    } else {
        local = address.substr(0, at);
        domain = address.substr(at + 1);
    }
}

// Addresses order by domain first, then by local part.
int compareSplit(std::string_view localA, std::string_view domainA, std::string_view localB,
                 std::string_view domainB) {
    if (const int r = platform::compareText(domainA, domainB)) return r;
    return platform::compareText(localA, localB);
}

template <class T>
T* at(const std::vector<std::unique_ptr<T>>& list, int position) {
    if (position < 0 || position >= static_cast<int>(list.size())) return nullptr;
    return list[static_cast<size_t>(position)].get();
}

template <class T>
int indexOf(const std::vector<std::unique_ptr<T>>& list, const T* item) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].get() == item) return static_cast<int>(i);
    return -1;
}

template <class T>
bool eraseAt(std::vector<std::unique_ptr<T>>& list, int position) {
    if (position < 0 || position >= static_cast<int>(list.size())) return false;
    list.erase(list.begin() + position);
    return true;
}

// Codes of a list, each followed by a tab, skipping one object.
template <class T>
std::string codesExcept(const std::vector<std::unique_ptr<T>>& list, const T* skip) {
    std::string codes;
    for (const auto& item : list) {
        if (item.get() == skip) continue;
        codes += item->Code;
        codes += '\t';
    }
    return codes;
}

std::string logFilePath;

}  // namespace

std::weak_ptr<const void> TcvClass::Alive() const {
    if (!alive_) alive_ = std::make_shared<const char>('\0');
    return alive_;
}

TcvAccount::TcvAccount() = default;

void TcvAccount::Changed() {
    if (!Setup) return;
    Setup->Modified = true;
    Setup->AccountsChanged();
}

void TcvAccount::SetName(const std::string& name) {
    if (name == Name) return;
    Name = name;
    Changed();
}

TcvGroup::TcvGroup() = default;
TcvGroup::~TcvGroup() = default;

void TcvGroup::notify(void (TcvSetup::*changed)()) {
    if (Setup) (Setup->*changed)();
}

void TcvGroup::Changed() { notify(&TcvSetup::GroupsChanged); }

void TcvGroup::SetName(const std::string& name) {
    if (name == Name) return;
    Name = name;
    Code = UniqueCode(CodePrefixOf(name), Setup ? Setup->GroupCodesExcept(this) : std::string());
    Changed();
}

void TcvGroup::SetCode(const std::string& code) {
    if (code == Code) return;
    Code = code;
    Changed();
}

bool TcvGroup::knownSorted() const {
    if (order_ == Order::Unknown) {
        order_ = Order::Sorted;
        const TcvContact* previous = nullptr;
        contacts_.forEach([&](const TcvContact* c) {
            if (previous && CompareEmails(previous->Email, c->Email) > 0) order_ = Order::Unsorted;
            previous = c;
        });
    }
    return order_ == Order::Sorted;
}

std::pair<size_t, size_t> TcvGroup::equalRun(std::string_view address) const {
    // The searched address is split once, not at every comparison.
    std::string_view local, domain;
    splitAddress(address, local, domain);
    const auto compare = [&](std::string_view other) {
        std::string_view otherLocal, otherDomain;
        splitAddress(other, otherLocal, otherDomain);
        return compareSplit(otherLocal, otherDomain, local, domain);
    };
    size_t low = 0, high = contacts_.size();
    while (low < high) {
        const size_t mid = (low + high) / 2;
        if (compare(contacts_[mid]->Email) < 0) low = mid + 1;
        else high = mid;
    }
    size_t end = low;
    while (end < contacts_.size() && compare(contacts_[end]->Email) == 0) ++end;
    return {low, end};
}

namespace {

// Where the insertion search of AddContact ends in a sorted list of count contacts of which
// before sort before the new address and equal compare equal to it. The search stops on the
// first equal contact it probes, so among equal addresses the place depends on the whole list.
size_t sortedInsertPosition(size_t count, size_t before, size_t equal) {
    size_t low = 0, high = count;
    while (low < high) {
        const size_t mid = (low + high) / 2;
        if (mid < before) low = mid + 1;
        else if (mid >= before + equal) high = mid;
        else return mid;
    }
    return low;
}

}  // namespace

int TcvGroup::insertSorted(std::unique_ptr<TcvContact> contact) {
    int low = 0, high = ContactCount(), mid = 0;
    bool equal = false;
    // Contacts that come in order (a saved setup, an export) sort after the last one, where the
    // search would end anyway: appended without it. In a list out of order the search may end
    // elsewhere, so it runs in full there.
    if (high > 0 && order_ == Order::Sorted && CompareEmails(contacts_.back()->Email, contact->Email) < 0) low = high;
    while (low < high) {
        mid = (low + high) / 2;
        const int r = CompareEmails(contacts_[static_cast<size_t>(mid)]->Email, contact->Email);
        if (r < 0) {
            low = mid + 1;
        } else if (r > 0) {
            high = mid;
        } else {
            equal = true;
            break;
        }
    }
    const int position = equal ? mid : low;
    contact->Group = this;
    const TcvContact* added = contact.get();
    members_.insert(added);
    try {
        contacts_.insert(static_cast<size_t>(position), std::move(contact));
    } catch (...) {
        members_.erase(added);
        throw;
    }
    return position;
}

int TcvGroup::AddContact(TcvContact* contact) {
    if (!contact) return -1;
    const int position = insertSorted(std::unique_ptr<TcvContact>(contact));
    notify(&TcvSetup::ContactsChanged);
    return position;
}

void TcvGroup::AddContacts(std::vector<std::unique_ptr<TcvContact>> contacts) {
    std::erase(contacts, nullptr);
    if (contacts.empty()) return;
    if (!knownSorted()) {
        for (auto& contact : contacts) insertSorted(std::move(contact));
        notify(&TcvSetup::ContactsChanged);
        return;
    }
    // The new addresses in order, each distinct one a class; a stable sort keeps equal ones in
    // arrival order, though only the classes matter below. Sorting compares keys made once per
    // address, which order as CompareEmails does.
    std::vector<std::string> keys(contacts.size());
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = EmailSortKey(contacts[i]->Email);
    std::vector<size_t> byAddress(contacts.size());
    for (size_t i = 0; i < byAddress.size(); ++i) byAddress[i] = i;
    std::stable_sort(byAddress.begin(), byAddress.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
    struct Class {
        // The run of contacts already in the list with this address.
        size_t listBegin, listEnd;
        // The run as it becomes: those contacts and the new ones at their places.
        std::vector<TcvContact*> run;
    };
    std::vector<Class> classes;
    std::vector<size_t> classOf(contacts.size());
    for (size_t k = 0; k < byAddress.size(); ++k) {
        const size_t i = byAddress[k];
        if (k == 0 || keys[byAddress[k - 1]] != keys[i]) {
            const auto [begin, end] = equalRun(contacts[i]->Email);
            Class c{begin, end, {}};
            c.run.reserve(end - begin + 1);
            for (size_t p = begin; p < end; ++p) c.run.push_back(contacts_[p]);
            classes.push_back(std::move(c));
        }
        classOf[i] = classes.size() - 1;
    }
    // Each new contact, in arrival order, goes where the one-by-one search would put it, given
    // how many contacts sort before its address by then: those of the list (the start of its
    // run) and the new ones of earlier classes, counted in a Fenwick tree.
    std::vector<size_t> addedBefore(classes.size() + 1, 0);
    auto addOne = [&](size_t c) {
        for (size_t x = c + 1; x < addedBefore.size(); x += x & (~x + 1)) ++addedBefore[x];
    };
    auto countBelow = [&](size_t c) {
        size_t sum = 0;
        for (size_t x = c; x > 0; x -= x & (~x + 1)) sum += addedBefore[x];
        return sum;
    };
    size_t count = contacts_.size();
    for (size_t i = 0; i < contacts.size(); ++i) {
        Class& c = classes[classOf[i]];
        const size_t before = c.listBegin + countBelow(classOf[i]);
        const size_t position = sortedInsertPosition(count, before, c.run.size());
        c.run.insert(c.run.begin() + static_cast<std::ptrdiff_t>(position - before), contacts[i].get());
        addOne(classOf[i]);
        ++count;
    }
    // The list as it becomes, with the runs in place of the old ones.
    std::vector<TcvContact*> merged;
    merged.reserve(count);
    size_t next = 0;
    for (Class& c : classes) {
        for (; next < c.listBegin; ++next) merged.push_back(contacts_[next]);
        next = c.listEnd;
        merged.insert(merged.end(), c.run.begin(), c.run.end());
    }
    for (; next < contacts_.size(); ++next) merged.push_back(contacts_[next]);
    try {
        members_.reserve(count);
        for (const auto& contact : contacts) members_.insert(contact.get());
        contacts_.reorder(merged);
    } catch (...) {
        for (const auto& contact : contacts) members_.erase(contact.get());
        throw;
    }
    for (auto& contact : contacts) {
        contact->Group = this;
        static_cast<void>(contact.release());
    }
    notify(&TcvSetup::ContactsChanged);
}

void TcvGroup::DeleteContact(int position) {
    TcvContact* contact = Contacts(position);
    if (!contact) return;
    AppendLogLine(LogFilePath(), "Delete " + Code + " --- ----- " + contact->Email);
    members_.erase(contact);
    contacts_.extract(static_cast<size_t>(position));
    // Taking a contact away may have been what put the list out of order.
    if (order_ == Order::Unsorted) order_ = Order::Unknown;
    notify(&TcvSetup::ContactsChanged);
}

std::unique_ptr<TcvContact> TcvGroup::ExtractContact(TcvContact* contact) {
    const int position = IndexOfContact(contact);
    if (position < 0) return nullptr;
    std::unique_ptr<TcvContact> owned = contacts_.extract(static_cast<size_t>(position));
    members_.erase(owned.get());
    if (order_ == Order::Unsorted) order_ = Order::Unknown;
    return owned;
}

int TcvGroup::RemoveContact(TcvContact* contact) {
    const int position = IndexOfContact(contact);
    DeleteContact(position);
    return position;
}

int TcvGroup::IndexOfEmail(std::string_view address) const {
    LookUp& last = lastLookUp_;
    if (last.valid && last.changes == contacts_.changes() && last.address == address) return last.position;
    const int position = searchEmail(address);
    last.address.assign(address);
    last.changes = contacts_.changes();
    last.position = position;
    last.valid = true;
    return position;
}

int TcvGroup::searchEmail(std::string_view address) const {
    // In address order every contact with the address sits in the run where a binary search
    // lands, the first of them first: an address equal ignoring case also compares equal.
    if (knownSorted()) {
        const auto [begin, end] = equalRun(address);
        for (size_t i = begin; i < end; ++i)
            if (platform::sameText(contacts_[i]->Email, address)) return static_cast<int>(i);
        return -1;
    }
    for (size_t i = 0; i < contacts_.size(); ++i)
        if (platform::sameText(contacts_[i]->Email, address)) return static_cast<int>(i);
    return -1;
}

TcvContact* TcvGroup::FindContact(std::string_view address) const { return Contacts(IndexOfEmail(address)); }

int TcvGroup::IndexOfContact(const TcvContact* contact) const {
    if (!members_.contains(contact)) return -1;
    // Most often the contact was just found by its address.
    const int last = lastLookUp_.position;
    if (last >= 0 && static_cast<size_t>(last) < contacts_.size() && contacts_[static_cast<size_t>(last)] == contact)
        return last;
    // A contact of this group in a sorted list sits in the run of its own address.
    if (contact->Group == this && knownSorted()) {
        const auto [begin, end] = equalRun(contact->Email);
        for (size_t i = begin; i < end; ++i)
            if (contacts_[i] == contact) return static_cast<int>(i);
        return -1;
    }
    return static_cast<int>(contacts_.indexOf(contact));
}

TcvContact* TcvGroup::Contacts(int position) const {
    if (position < 0 || static_cast<size_t>(position) >= contacts_.size()) return nullptr;
    return contacts_[static_cast<size_t>(position)];
}

void TcvGroup::GetEmails(TStringList& list) const {
    list.clear();
    AppendEmails(&list);
}

void TcvGroup::AppendEmails(TStringList* list) const {
    if (!list) return;
    contacts_.forEach([list](const TcvContact* c) { list->push_back(c->Email); });
}

void TcvGroup::SelectContact(TcvContact* contact) {
    if (Setup && Setup->OnContactSelect) Setup->OnContactSelect(this, contact);
}

int TcvGroup::AddFieldDef(TcvFieldDef* fieldDef) {
    if (!fieldDef) return -1;
    fieldDef->Group = this;
    fieldDefs_.emplace_back(fieldDef);
    notify(&TcvSetup::FieldDefsChanged);
    return FieldDefCount() - 1;
}

void TcvGroup::DeleteFieldDef(int position) {
    if (eraseAt(fieldDefs_, position)) notify(&TcvSetup::FieldDefsChanged);
}

int TcvGroup::IndexOfFieldDef(std::string_view title) const {
    for (size_t i = 0; i < fieldDefs_.size(); ++i)
        if (platform::sameText(fieldDefs_[i]->Title, title)) return static_cast<int>(i);
    return -1;
}

void TcvGroup::ExchangeFieldDefs(int a, int b) {
    if (!FieldDefs(a) || !FieldDefs(b)) return;
    std::swap(fieldDefs_[static_cast<size_t>(a)], fieldDefs_[static_cast<size_t>(b)]);
    notify(&TcvSetup::FieldDefsChanged);
}

TcvFieldDef* TcvGroup::FieldDefs(int position) const { return at(fieldDefs_, position); }

int TcvGroup::AddMessage(TcvMessage* message) {
    if (!message) return -1;
    message->Group = this;
    messages_.emplace_back(message);
    notify(&TcvSetup::MessagesChanged);
    return MessageCount() - 1;
}

void TcvGroup::DeleteMessage(int position) {
    if (eraseAt(messages_, position)) notify(&TcvSetup::MessagesChanged);
}

TcvMessage* TcvGroup::FindMessage(std::string_view code) const {
    for (const auto& m : messages_)
        if (platform::sameText(m->Code, code)) return m.get();
    return nullptr;
}

int TcvGroup::IndexOfMessage(const TcvMessage* message) const { return indexOf(messages_, message); }

TcvMessage* TcvGroup::Messages(int position) const { return at(messages_, position); }

void TcvGroup::SelectMessage(TcvMessage* message) {
    if (Setup && Setup->OnMessageSelect) Setup->OnMessageSelect(this, message);
}

int TcvGroup::AddParser(TcvParser* parser) {
    if (!parser) return -1;
    parser->Group = this;
    parsers_.emplace_back(parser);
    notify(&TcvSetup::ParsersChanged);
    return ParserCount() - 1;
}

void TcvGroup::DeleteParser(int position) {
    if (eraseAt(parsers_, position)) notify(&TcvSetup::ParsersChanged);
}

int TcvGroup::IndexOfParser(const TcvParser* parser) const { return indexOf(parsers_, parser); }

TcvParser* TcvGroup::Parsers(int position) const { return at(parsers_, position); }

void TcvGroup::SelectParser(TcvParser* parser) {
    if (Setup && Setup->OnParserSelect) Setup->OnParserSelect(this, parser);
}

std::string TcvGroup::VariableName(int index) const {
    if (index >= 0 && index < 10) return VariableNames[index];
    const TcvFieldDef* def = FieldDefs(index - 10);
    return def ? def->Title : std::string();
}

std::string TcvGroup::MessageCodesExcept(const TcvMessage* message) const { return codesExcept(messages_, message); }

TcvSetup::TcvSetup() = default;

TcvSetup::~TcvSetup() {
    // Groups refer to accounts, so they go first.
    groups_.clear();
    accounts_.clear();
}

void TcvSetup::Clear() {
    groups_.clear();
    accounts_.clear();
}

int TcvSetup::AddAccount(TcvAccount* account) {
    if (!account) return -1;
    account->Setup = this;
    accounts_.emplace_back(account);
    AccountsChanged();
    return AccountCount() - 1;
}

void TcvSetup::DeleteAccount(int position) {
    TcvAccount* account = Accounts(position);
    if (!account) return;
    for (const auto& group : groups_) {
        for (int i = 0; i < group->ParserCount(); ++i)
            if (group->Parsers(i)->Account == account) group->Parsers(i)->Account = nullptr;
        if (group->Account == account) group->Account = nullptr;
    }
    eraseAt(accounts_, position);
    AccountsChanged();
}

int TcvSetup::IndexOfAccount(const TcvAccount* account) const { return indexOf(accounts_, account); }

TcvAccount* TcvSetup::Accounts(int position) const { return at(accounts_, position); }

int TcvSetup::AddGroup(TcvGroup* group) {
    if (!group) return -1;
    group->Setup = this;
    groups_.emplace_back(group);
    GroupsChanged();
    return GroupCount() - 1;
}

void TcvSetup::DeleteGroup(int position) {
    if (eraseAt(groups_, position)) GroupsChanged();
}

int TcvSetup::IndexOfGroup(const TcvGroup* group) const { return indexOf(groups_, group); }

TcvGroup* TcvSetup::FindGroup(std::string_view code) const {
    for (const auto& g : groups_)
        if (platform::sameText(g->Code, code)) return g.get();
    return nullptr;
}

TcvGroup* TcvSetup::Groups(int position) const { return at(groups_, position); }

std::string TcvSetup::GroupCodesExcept(const TcvGroup* group) const { return codesExcept(groups_, group); }

void TcvSetup::SelectAccount(TcvAccount* account) {
    if (OnAccountSelect) OnAccountSelect(*this, account);
}

void TcvSetup::SelectGroup(TcvGroup* group) {
    if (OnGroupSelect) OnGroupSelect(*this, group);
}

namespace {
void raise(TcvSetup& setup, const TcvSetupEvent& event) {
    setup.Modified = true;
    if (event) event(setup);
}
}  // namespace

void TcvSetup::AccountsChanged() { raise(*this, OnAccountsChanged); }
void TcvSetup::GroupsChanged() { raise(*this, OnGroupsChanged); }
void TcvSetup::MessagesChanged() { raise(*this, OnMessagesChanged); }
void TcvSetup::ContactsChanged() { raise(*this, OnContactsChanged); }
void TcvSetup::FieldDefsChanged() { raise(*this, OnFieldDefsChanged); }
void TcvSetup::ParsersChanged() { raise(*this, OnParsersChanged); }

int CompareEmails(std::string_view a, std::string_view b) {
    std::string_view localA, domainA, localB, domainB;
    splitAddress(a, localA, domainA);
    splitAddress(b, localB, domainB);
    return compareSplit(localA, domainA, localB, domainB);
}

std::string EmailSortKey(std::string_view address) {
    std::string_view local, domain;
    splitAddress(address, local, domain);
    std::string key;
    key.reserve(4 * address.size() + 8);
    platform::appendSortKey(key, domain);
    platform::appendSortKey(key, local);
    return key;
}

int CompareFloat(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

std::string MakeIdentifier(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == ' ') {
            out += '_';
        } else if (c == '#' || c == '-' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                   (c >= 'a' && c <= 'z') || c == '^' || c == '_' || c == '~') {
            out += c;
        }
    }
    return out;
}

std::string CodePrefixOf(std::string_view name) { return platform::asciiUpper(MakeIdentifier(name).substr(0, 3)); }

std::string UniqueCode(std::string_view prefix, std::string_view usedCodes) {
    const std::string used = platform::asciiUpper(usedCodes);
    for (long n = 1;; ++n) {
        std::string candidate;
        if (n == 1) {
            candidate = prefix;
        } else {
            const std::string digits = std::to_string(n);
            const long keep = static_cast<long>(prefix.size()) - static_cast<long>(digits.size());
            candidate = std::string(prefix.substr(0, static_cast<size_t>(std::max(0L, keep)))) + digits;
        }
        if (used.find(platform::asciiUpper(candidate) + '\t') == std::string::npos) return candidate;
    }
}

void SetLogFilePath(const std::string& path) { logFilePath = path; }

const std::string& LogFilePath() { return logFilePath; }

namespace {
TcvTemporarySend temporarySend;
}

void SetTemporarySend(TcvTemporarySend send) { temporarySend = std::move(send); }

void TcvGroup::Unsubscribe(int position) {
    TcvContact* contact = Contacts(position);
    if (!contact) return;
    const std::weak_ptr<const void> contactAlive = contact->Alive();
    const std::weak_ptr<const void> groupAlive = Alive();
    for (int i = 0; i < MessageCount(); ++i) {
        TcvMessage* message = Messages(i);
        if (message->Trigger != TcvTrigger::OnUnsubscribe) continue;
        if (!temporarySend) throw std::runtime_error("No mailer is available to send the unsubscribe message");
        temporarySend(Setup, Account, message, contact);
        // Sending lets the user interface run: the group or the contact may be gone by now.
        if (groupAlive.expired() || contactAlive.expired()) return;
    }
    if (options::KeepUnsubscribed) contact->Unsubscribed = true;
    else DeleteContact(IndexOfContact(contact));
}
