#include "model/cvGroupCompare.h"

#include "platform/Locale.h"

#include <algorithm>

namespace {

bool before(const std::string& a, const std::string& b) { return platform::compareText(a, b) < 0; }

// The group's addresses sorted, each once.
TStringList distinctEmails(const TcvGroup& group) {
    TStringList emails;
    group.GetEmails(emails);
    // Stable, so that of the spellings of one address the first in the group's list is kept.
    std::stable_sort(emails.begin(), emails.end(), before);
    emails.erase(std::unique(emails.begin(), emails.end(),
                             [](const std::string& a, const std::string& b) { return platform::sameText(a, b); }),
                 emails.end());
    return emails;
}

bool holds(const TStringList& sorted, const std::string& email) {
    return std::binary_search(sorted.begin(), sorted.end(), email, before);
}

void removeAll(TStringList& sorted, const TStringList& sortedOut) {
    sorted.erase(std::remove_if(sorted.begin(), sorted.end(),
                                [&](const std::string& email) { return holds(sortedOut, email); }),
                 sorted.end());
}

}  // namespace

TcvGroupComparison CompareGroupEmails(const TcvGroup& group1, const TcvGroup& group2) {
    TcvGroupComparison result;
    result.Unique1 = distinctEmails(group1);
    result.Unique2 = distinctEmails(group2);
    for (const std::string& email : result.Unique1)
        if (holds(result.Unique2, email)) result.Common.push_back(email);
    removeAll(result.Unique1, result.Common);
    removeAll(result.Unique2, result.Common);
    return result;
}

int DeleteContactsWithEmails(TcvGroup& group, const TStringList& emails) {
    int deleted = 0;
    for (const std::string& email : emails) {
        for (int position = group.IndexOfEmail(email); position >= 0; position = group.IndexOfEmail(email)) {
            const int before = group.ContactCount();
            group.DeleteContact(position);
            // A deletion that took nothing away would find the same contact for ever.
            if (group.ContactCount() >= before) break;
            ++deleted;
        }
    }
    return deleted;
}
