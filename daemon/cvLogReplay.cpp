#include "daemon/cvLogReplay.h"

#include "model/cvSetup.h"
#include "platform/DateTime.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

std::string MailedLogText(const std::string& groupCode, const std::string& messageCode, long long size,
                          const std::string& email) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.5lld", size);
    return "Mailed " + groupCode + " " + messageCode + " " + digits + " " + email;
}

const char* ParserEventWord(int action) {
    switch (action) {
    case 0: return "Joined";
    case 1: return "Bounce";
    case 2: return "Unsbsc";
    case 5: return "Freeze";
    default: return "Parsed";
    }
}

std::string ParserEventLogText(int action, const std::string& groupCode, const std::string& email) {
    return std::string(ParserEventWord(action)) + " " + groupCode + " --- ----- " + email;
}

std::vector<std::string> LogLineFields(std::string_view line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t space = line.find(' ', start);
        if (space == std::string_view::npos) {
            fields.emplace_back(line.substr(start));
            break;
        }
        fields.emplace_back(line.substr(start, space - start));
        start = space + 1;
    }
    while (fields.size() < 7) fields.emplace_back();
    return fields;
}

namespace {

// Characters [first, first + count) of a field (1-based first) as a number; false when they are
// missing or not all digits.
bool numberAt(const std::string& field, size_t first, size_t count, int& value) {
    if (field.size() < first - 1 + count) return false;
    value = 0;
    for (size_t i = first - 1; i < first - 1 + count; ++i) {
        const char c = field[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

double LogLineDateTime(const std::string& date, const std::string& time) {
    int year, month, day, hour, minute, second;
    if (!numberAt(date, 1, 4, year) || !numberAt(date, 6, 2, month) || !numberAt(date, 9, 2, day) ||
        !numberAt(time, 1, 2, hour) || !numberAt(time, 4, 2, minute) || !numberAt(time, 7, 2, second))
        return 0;
    double result = 0;
    if (!platform::tryEncodeDate(year, month, day, result)) return 0;
    if (hour > 23 || minute > 59 || second > 59) return 0;
    return result + platform::encodeTime(hour, minute, second, 0);
}

TcvLogReplay::TcvLogReplay(TcvSetup& setup) : setup_(setup) {}

int TcvLogReplay::ApplyLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (OnProcessEvents) OnProcessEvents();
        if (ApplyLine(line)) ++Count;
    }
    return Count;
}

bool TcvLogReplay::ApplyLine(std::string_view line) {
    const std::vector<std::string> f = LogLineFields(line);
    TcvGroup* group = setup_.FindGroup(f[3]);
    if (!group) return false;
    TcvContact* contact = group->FindContact(f[6]);
    TcvMessage* message = group->FindMessage(f[4]);
    const double when = LogLineDateTime(f[0], f[1]);
    const std::string& word = f[2];
    if (word == "Unsbsc" || word == "Delete") {
        if (!contact) return false;
        if (OnStatus) OnStatus("Deleting contact " + contact->Email);
        group->RemoveContact(contact);
        return true;
    }
    if (word == "Mailed") {
        if (!contact || !message) return false;
        contact->AddHistory(message->Code, when);
        if (OnStatus) OnStatus("Adding code " + message->Code + " to history of contact " + contact->Email);
        return true;
    }
    if (word == "Joined") {
        if (!joinAsked_) {
            joinAsked_ = true;
            // Asking lets the user work meanwhile; the group is looked up again afterwards.
            joinAgreed_ = OnAskJoin && OnAskJoin();
            group = setup_.FindGroup(f[3]);
            if (!group) return false;
        }
        if (!joinAgreed_ || f[6].empty() || group->FindContact(f[6])) return false;
        auto added = std::make_unique<TcvContact>();
        added->Email = f[6];
        added->Joined = when;
        if (OnStatus) OnStatus("Adding contact " + added->Email);
        group->AddContact(added.release());
        return true;
    }
    return false;
}

std::vector<std::string> TcvLogReplay::ReadLines(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw std::runtime_error("Cannot open file " + fileName);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}
