#include "mailtext/HtmlHelpers.h"
#include "model/cvSetup.h"
#include "platform/Locale.h"

#include <algorithm>
#include <cmath>

namespace {

bool isUpperAscii(char c) { return c >= 'A' && c <= 'Z'; }

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool isNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.';
}

bool usableName(const std::string& name) { return name.size() >= 2 && name.find('.') == std::string::npos; }

// A value with a line break would become two values when the setup is saved and read back,
// shifting every later field of the contact; such breaks are stored as blanks instead.
std::string singleLine(const std::string& value) {
    if (value.find_first_of("\r\n") == std::string::npos) return value;
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
            out += ' ';
        } else {
            out += value[i];
        }
    }
    return out;
}

}  // namespace

std::string CapitalizeName(std::string_view text) {
    std::string s = platform::trim(platform::asciiLower(text));
    if (s.empty()) return s;
    s[0] = upperAscii(s[0]);
    for (size_t i = 0; i + 1 < s.size(); ++i)
        if (s[i] == ' ' || s[i] == '.') s[i + 1] = upperAscii(s[i + 1]);
    size_t i = 0;
    while (i + 1 < s.size()) {
        if (isUpperAscii(s[i]) && s[i + 1] == ' ') s.insert(i + 1, 1, '.');
        if (s[i] == ' ' && s[i + 1] == ' ') s.erase(i + 1, 1);
        else ++i;
    }
    if (isUpperAscii(s.back())) s += '.';
    return s;
}

void TcvAddress::written() {
    if (owner_ && owner_->Group) owner_->Group->addressWritten();
}

TcvContact::TcvContact() { Email.owner_ = this; }

std::string TcvContact::CustomField(int index) const {
    if (!CustomFields || index < 0 || index >= static_cast<int>(CustomFields->size())) return {};
    return (*CustomFields)[static_cast<size_t>(index)];
}

void TcvContact::SetCustomField(int index, const std::string& value) {
    if (!Group) return;
    if (!CustomFields) CustomFields = std::make_unique<TStringList>();
    if (index < 0 || index >= Group->FieldDefCount()) return;
    if (static_cast<int>(CustomFields->size()) <= index) CustomFields->resize(static_cast<size_t>(index) + 1);
    (*CustomFields)[static_cast<size_t>(index)] = singleLine(value);
}

void TcvContact::DeleteCustomField(int index) {
    if (!CustomFields || index < 0 || index >= static_cast<int>(CustomFields->size())) return;
    CustomFields->erase(CustomFields->begin() + index);
}

void TcvContact::ExchangeCustomFields(int a, int b) {
    if (!CustomFields || !Group) return;
    const int count = Group->FieldDefCount();
    if (a < 0 || a >= count || b < 0 || b >= count) return;
    if (CustomField(a).empty() && CustomField(b).empty()) return;
    const size_t needed = static_cast<size_t>(std::max(a, b)) + 1;
    if (CustomFields->size() < needed) CustomFields->resize(needed);
    std::swap((*CustomFields)[static_cast<size_t>(a)], (*CustomFields)[static_cast<size_t>(b)]);
}

void TcvContact::SetEmail(const std::string& address) {
    if (address == Email) return;
    TcvGroup* group = Group;
    // Only a contact that is really in its group's list is taken out and put back in order.
    std::unique_ptr<TcvContact> self = group ? group->ExtractContact(this) : nullptr;
    // Out of the list, the address changes without touching the group's order.
    static_cast<std::string&>(Email) = address;
    if (self) group->AddContact(self.release());
}

void TcvContact::SetFirstName(const std::string& name) {
    if (name == FirstName) return;
    FirstName = CapitalizeName(name);
}

void TcvContact::SetLastName(const std::string& name) {
    if (name == LastName) return;
    LastName = CapitalizeName(name);
}

std::string TcvContact::FullName() const {
    std::string full = platform::trim(FirstName + " " + LastName);
    return full.empty() ? mailtext::LocalPart(Email) : full;
}

std::string TcvContact::FriendlyName() const {
    if (usableName(FirstName)) return " " + FirstName;
    if (usableName(LastName)) return " Mr/Mrs " + LastName;
    const std::string local = mailtext::LocalPart(Email);
    return local.empty() ? std::string() : " " + local;
}

bool TcvContact::HasValidEmail() const { return mailtext::ValidateAddress(Email) == 0; }

std::string TcvContact::StatusText() const {
    std::string text;
    if (Bounces > 0) text = "Bounced";
    if (Frozen) text = "Frozen";
    if (Unsubscribed) text = "Unsubscribed";
    return text;
}

void TcvContact::SetBounces(int32_t count) {
    if (count == Bounces) return;
    Bounces = count;
    Changed();
}

double TcvContact::AverageSpeed() const {
    if (TotalDuration <= 0) return 0;
    return static_cast<double>(TotalBytes) / TotalDuration * 1000.0 / 1024.0;
}

void TcvContact::Changed() {
    if (Group) Group->Changed();
}

void TcvContact::AddHistory(const std::string& code, double dateTime) {
    if (FindHistory(code)) return;
    Hist.push_back(TcvHist{code, static_cast<int32_t>(std::trunc(dateTime))});
    Changed();
}

const TcvHist* TcvContact::FindHistory(const std::string& code) const {
    const int i = IndexOfHistory(code);
    return i < 0 ? nullptr : &Hist[static_cast<size_t>(i)];
}

int TcvContact::IndexOfHistory(const std::string& code) const {
    for (size_t i = 0; i < Hist.size(); ++i)
        if (Hist[i].Code == code) return static_cast<int>(i);
    return -1;
}

void TcvContact::DeleteHistory(int position) {
    if (position < 0 || position >= HistoryCount()) return;
    Hist.erase(Hist.begin() + position);
}

const TcvHist* TcvContact::HistoryItem(int position) const {
    if (position < 0 || position >= HistoryCount()) return nullptr;
    return &Hist[static_cast<size_t>(position)];
}

std::string TcvContact::HistoryText() const {
    std::string text;
    for (size_t i = 0; i < Hist.size(); ++i) {
        if (i) text += ", ";
        text += Hist[i].Code;
    }
    return text;
}

std::string TcvContact::Personalise(std::string_view text) const {
    std::string result;
    if (text.empty()) return result;
    result.reserve(text.size() + text.size() / 4);
    std::string buffer;
    bool inVariable = false;
    for (char c : text) {
        if (inVariable && (buffer.size() >= 99 || !isNameChar(c))) {
            inVariable = false;
            result += VariableValue("%" + buffer);
            buffer.clear();
        }
        if (c == '%') {
            result += buffer;
            buffer.clear();
            inVariable = true;
        } else {
            buffer += c;
        }
    }
    if (inVariable) result += VariableValue("%" + buffer);
    else result += buffer;
    return result;
}

std::string TcvContact::VariableValue(std::string_view token) const {
    const std::string_view name = token.empty() ? token : token.substr(1);
    int index = -1;
    for (int i = 0; i < 10 && index < 0; ++i)
        if (platform::sameText(name, VariableNames[i])) index = i;
    switch (index) {
    case 0:
        return Email;
    case 1:
        return FullName();
    case 2:
        return FirstName;
    case 3:
        return LastName;
    case 4:
        return FriendlyName();
    case 5:
        return Group ? Group->Name : std::string(token);
    case 6:
        return Group ? Group->Code : std::string(token);
    case 7:
        return mailtext::DateText(Joined);
    case 8:
        return mailtext::RelativeDate(Joined);
    case 9:
        return mailtext::DayName(Joined);
    default:
        break;
    }
    if (Group) {
        const int field = Group->IndexOfFieldDef(name);
        if (field >= 0) return CustomField(field);
    }
    return std::string(token);
}
