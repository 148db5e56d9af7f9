#pragma once
// Reads a received mail as a report about the delivery of a mail sent earlier: which of its
// recipients could not be reached, and whether the failure is final. Standard delivery status
// notifications are read field by field; the older plain-text notices of mail servers are read
// by their layout (a notice listing addresses, then possibly the returned mail). Auto-replies,
// feedback reports, delivery success notices and challenge-response mails are told apart so that
// they are never taken for bounces.
#include "mailtext/Mail.h"

#include <string>
#include <string_view>
#include <vector>

namespace mailtext {

enum class ReportKind {
    // An ordinary mail, or a notice that cannot be read as a report.
    NotReport,
    Bounce,
    AutoReply,
    FeedbackReport,
    DeliverySuccess,
    ChallengeResponse,
};

struct FailedRecipient {
    // Lower case. A bare local part when the notice named the mailbox without a domain; Domain then
    // holds the domain of the mail system that sent the notice.
    std::string Address;
    std::string Domain;
    // Other forms of the same recipient: the address as first given when the report also names the
    // one it was rewritten to.
    std::vector<std::string> Aliases;
    // False for a delay or a failure the server will retry.
    bool Permanent = true;
    // The enhanced status code ("5.1.1") when the report gives one.
    std::string Status;
};

struct DeliveryReport {
    ReportKind Kind = ReportKind::NotReport;
    // Only for a bounce; may be empty when the notice names no one.
    std::vector<FailedRecipient> Recipients;

    bool isBounce() const { return Kind == ReportKind::Bounce; }
};

// ownAddresses are the addresses the bounced mail went out from (the account's sender and
// reply-to address): they are never reported as failed. Never throws for malformed input.
DeliveryReport ReadDeliveryReport(const Mail& mail, const std::vector<std::string>& ownAddresses = {});

// Whether the recipient stands for that address: the address itself, one of its aliases, or,
// for a bare local part, the same mailbox name in the reporting organisation's domain.
bool RecipientMatches(const FailedRecipient& recipient, std::string_view address);

}  // namespace mailtext
