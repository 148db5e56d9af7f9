#include "mailtext/DeliveryReport.h"
#include "mailtext/IdMessageHelpers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using mailtext::DeliveryReport;
using mailtext::ReadDeliveryReport;
using mailtext::ReportKind;

namespace {

fs::path bounceFolder() {
    return fs::path(CORVANE_SOURCE_DIR) / ".." / "shared" / "realdata" / "bounce";
}

DeliveryReport readText(const std::string& text, const std::vector<std::string>& own = {}) {
    auto mail = mailtext::MessageFromText(text);
    return ReadDeliveryReport(*mail, own);
}

std::string describe(const DeliveryReport& report) {
    std::string out = "kind " + std::to_string(static_cast<int>(report.Kind)) + ":";
    for (const auto& r : report.Recipients) out += " " + r.Address + (r.Domain.empty() ? "" : "(@" + r.Domain + ")");
    return out;
}

// The one recipient a report names, or a description of what it named instead.
std::string onlyRecipient(const DeliveryReport& report) {
    return report.Recipients.size() == 1 ? report.Recipients[0].Address : describe(report);
}

// Every real report of the shared collection gives the kind and the failed recipients written
// beside it: each expected address is named, and nothing else is.
TEST(DeliveryReportSamples, EverySampleGivesItsExpectedKindAndRecipients) {
    const fs::path folder = bounceFolder();
    if (!fs::exists(folder / "EXPECTED.tsv")) GTEST_SKIP() << "no shared bounce samples";
    std::ifstream table(folder / "EXPECTED.tsv");
    std::string row;
    int checked = 0;
    while (std::getline(table, row)) {
        if (row.empty() || row[0] == '#') continue;
        std::istringstream fields(row);
        std::string file, kind, list;
        std::getline(fields, file, '\t');
        std::getline(fields, kind, '\t');
        std::getline(fields, list, '\t');
        SCOPED_TRACE(file);
        const DeliveryReport report = readText(testsupport::readFile((folder / file).string()));
        if (kind.rfind("skip", 0) == 0) continue;
        ++checked;
        if (kind.rfind("not-bounce", 0) == 0) {
            EXPECT_FALSE(report.isBounce()) << describe(report);
            EXPECT_TRUE(report.Recipients.empty()) << describe(report);
            continue;
        }
        ASSERT_TRUE(report.isBounce()) << describe(report);
        std::vector<std::string> expected;
        std::istringstream words(list);
        for (std::string w; words >> w;) expected.push_back(w);
        for (const auto& address : expected) {
            const bool named = std::any_of(report.Recipients.begin(), report.Recipients.end(),
                                           [&](const auto& r) { return mailtext::RecipientMatches(r, address); });
            EXPECT_TRUE(named) << address << " missing; " << describe(report);
        }
        for (const auto& r : report.Recipients) {
            const bool wanted = std::any_of(expected.begin(), expected.end(),
                                            [&](const auto& a) { return mailtext::RecipientMatches(r, a); });
            EXPECT_TRUE(wanted) << r.Address << " is not a failed recipient; " << describe(report);
        }
    }
    EXPECT_GT(checked, 30);
}

TEST(DeliveryReportSamples, DelaysAreTemporaryAndFinalFailuresPermanent) {
    const fs::path folder = bounceFolder();
    if (!fs::exists(folder / "EXPECTED.tsv")) GTEST_SKIP() << "no shared bounce samples";
    for (const char* file : {"flufl/dsn_05.txt", "flufl/simple_03.txt", "flufl/simple_21.txt"}) {
        SCOPED_TRACE(file);
        const DeliveryReport report = readText(testsupport::readFile((folder / file).string()));
        ASSERT_FALSE(report.Recipients.empty());
        for (const auto& r : report.Recipients) EXPECT_FALSE(r.Permanent);
    }
    for (const char* file : {"bounceparser/aol.unknown.msg", "flufl/exim_01.txt", "flufl/qmail_01.txt",
                             "bounceparser/quota.msg", "bounceparser/misidentified-recipient.msg"}) {
        SCOPED_TRACE(file);
        const DeliveryReport report = readText(testsupport::readFile((folder / file).string()));
        ASSERT_FALSE(report.Recipients.empty());
        for (const auto& r : report.Recipients) EXPECT_TRUE(r.Permanent);
    }
}

const char* const StandardReport =
    "From: Mail Delivery System <MAILER-DAEMON@mx.example.org>\r\n"
    "To: news@list.example.com\r\n"
    "Subject: Undelivered Mail Returned to Sender\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/report; report-type=delivery-status; boundary=\"B\"\r\n"
    "\r\n"
    "--B\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "Your message could not be delivered. Questions: help@example.org\r\n"
    "--B\r\n"
    "Content-Type: message/delivery-status\r\n"
    "\r\n"
    "Reporting-MTA: dns; mx.example.org\r\n"
    "\r\n"
    "Final-Recipient: rfc822; gone@example.org\r\n"
    "Action: failed\r\n"
    "Status: 5.1.1\r\n"
    "\r\n"
    "Final-Recipient: rfc822; full@example.org\r\n"
    "Action: delayed\r\n"
    "Status: 4.2.2\r\n"
    "\r\n"
    "Final-Recipient: rfc822; fine@example.org\r\n"
    "Action: delivered\r\n"
    "Status: 2.0.0\r\n"
    "\r\n"
    "Final-Recipient: rfc822; owner@list.example.com\r\n"
    "Action: failed\r\n"
    "Status: 5.1.1\r\n"
    "--B\r\n"
    "Content-Type: message/rfc822\r\n"
    "\r\n"
    "From: Newsletter <letters@list.example.com>\r\n"
    "To: gone@example.org\r\n"
    "Subject: News\r\n"
    "\r\n"
    "Hello, write to letters@list.example.com\r\n"
    "--B--\r\n";

TEST(DeliveryReportRead, StandardReportNamesFailuresWithTheirPermanenceButNotTheSenderOrOwnAddresses) {
    const DeliveryReport report = readText(StandardReport, {"owner@list.example.com"});
    ASSERT_TRUE(report.isBounce());
    ASSERT_EQ(report.Recipients.size(), 2u) << describe(report);
    EXPECT_EQ(report.Recipients[0].Address, "gone@example.org");
    EXPECT_TRUE(report.Recipients[0].Permanent);
    EXPECT_EQ(report.Recipients[0].Status, "5.1.1");
    EXPECT_EQ(report.Recipients[1].Address, "full@example.org");
    EXPECT_FALSE(report.Recipients[1].Permanent);
}

TEST(DeliveryReportRead, NonBouncesAreToldApart) {
    // A report where every recipient was reached.
    std::string success = StandardReport;
    for (const char* failure : {"Action: failed", "Action: delayed"}) {
        for (size_t pos; (pos = success.find(failure)) != std::string::npos;)
            success.replace(pos, std::string(failure).size(), "Action: relayed");
    }
    EXPECT_EQ(readText(success).Kind, ReportKind::DeliverySuccess);

    std::string feedback = StandardReport;
    feedback.replace(feedback.find("delivery-status;"), 16, "feedback-report;");
    feedback.replace(feedback.find("message/delivery-status"), 23, "message/feedback-report");
    EXPECT_EQ(readText(feedback).Kind, ReportKind::FeedbackReport);

    const std::string vacation =
        "From: Ann <ann@example.org>\r\nTo: letters@list.example.com\r\nSubject: Away\r\n"
        "Auto-Submitted: auto-replied\r\n\r\nI am away. The address bob@example.org is unknown to me.\r\n";
    EXPECT_EQ(readText(vacation).Kind, ReportKind::AutoReply);

    const std::string outOfOffice =
        "From: MAILER-DAEMON@example.org\r\nTo: letters@list.example.com\r\nSubject: Out of Office\r\n"
        "Precedence: auto_reply\r\n\r\nUndeliverable until Monday; ask carol@example.org\r\n";
    EXPECT_EQ(readText(outOfOffice).Kind, ReportKind::AutoReply);

    // A challenge asking to reply to the mailbox it reports.
    std::string challenge = StandardReport;
    challenge.insert(challenge.find("Subject:"), "Reply-To: gone@example.org\r\n");
    const DeliveryReport c = readText(challenge);
    EXPECT_EQ(c.Kind, ReportKind::ChallengeResponse);
    EXPECT_TRUE(c.Recipients.empty());

    // A mail system's digest names addresses but reports no failure.
    const std::string digest =
        "From: postmaster@example.org\r\nTo: letters@list.example.com\r\nSubject: Quarantine summary\r\n\r\n"
        "Held for you:\r\n  promo@shop.example.net   Big sale\r\n";
    EXPECT_FALSE(readText(digest).isBounce());

    const std::string letter = "From: Dan <dan@example.org>\r\nTo: letters@list.example.com\r\nSubject: Hi\r\n\r\n"
                               "Mail to eve@example.org failed, said she.\r\n";
    EXPECT_EQ(readText(letter).Kind, ReportKind::NotReport);
}

TEST(DeliveryReportRead, TextNoticeSkipsSendersHelpDesksAndTheReturnedMail) {
    const std::string notice =
        "From: MAILER-DAEMON@relay.example.net\r\n"
        "To: letters@list.example.com\r\n"
        "Subject: Undeliverable: Automatic reply to your vacation plans\r\n"
        "Auto-Submitted: auto-replied\r\n"
        "\r\n"
        "A message sent by\r\n"
        "\r\n"
        "  <editor@list.example.com>\r\n"
        "\r\n"
        "could not be delivered to:\r\n"
        "\r\n"
        "  frank@example.net\r\n"
        "    (generated from f.old@example.net)\r\n"
        "Questions go to postmaster@relay.example.net.\r\n"
        "\r\n"
        "------ This is a copy of the message ------\r\n"
        "\r\n"
        "Return-Path: <letters@list.example.com>\r\n"
        "From: Letters <letters@list.example.com>\r\n"
        "To: f.old@example.net\r\n"
        "\r\n"
        "Write to grace@example.net anytime.\r\n";
    const DeliveryReport report = readText(notice);
    ASSERT_TRUE(report.isBounce());
    ASSERT_EQ(onlyRecipient(report), "frank@example.net");
    EXPECT_TRUE(mailtext::RecipientMatches(report.Recipients[0], "F.Old@example.net"));
    EXPECT_TRUE(report.Recipients[0].Permanent);
}

TEST(DeliveryReportRead, MalformedReportsNameNoOne) {
    for (const std::string& text : {
             std::string("Content-Type: multipart/report; boundary=x\r\n\r\n--x\r\nContent-Type: message/delivery-status"
                         "\r\n\r\nFinal-Recipient: rfc822;\r\nAction: failed\r\n--x--"),
             std::string("From: <>\r\n\r\nFinal-Recipient: @@@.\r\n a@b\r\n\r\n"),
             std::string("From: postmaster@x.example\r\nSubject: undeliverable\r\n\r\nuser:\r\n\r\n"),
             std::string(100000, '@'),
         }) {
        const DeliveryReport report = readText(text);
        EXPECT_TRUE(report.Recipients.empty()) << describe(report);
    }
}

}  // namespace

namespace {

// Found by fuzzing: a NUL byte before an address was taken as part of its mailbox name.
TEST(DeliveryReportRead, ANulByteIsNoPartOfAnAddress) {
    std::string text = StandardReport;
    text.replace(text.find("rfc822; gone@"), 8, std::string("rfc822;\0", 8));
    text.replace(text.find("Your message"), 4, std::string("\0<x\0", 4));
    const DeliveryReport report = readText(text);
    ASSERT_TRUE(report.isBounce());
    ASSERT_FALSE(report.Recipients.empty());
    EXPECT_EQ(report.Recipients[0].Address, "gone@example.org");
    for (const auto& r : report.Recipients) EXPECT_EQ(r.Address.find('\0'), std::string::npos);
}

}  // namespace

namespace {

TEST(DeliveryReportRead, ServersOwnSignalsDecideOverTheNoticeText) {
    // Exim lists the failed recipients in a header; the notice's other addresses do not count.
    const std::string exim =
        "From: Mail Delivery System <Mailer-Daemon@mx.example.net>\r\nTo: letters@list.example.com\r\n"
        "Subject: Mail delivery failed\r\nX-Failed-Recipients: hal@example.net\r\n\r\n"
        "The following address(es) failed:\r\n\r\n  hal@example.net\r\n    forwarded to ida@example.org\r\n";
    EXPECT_EQ(onlyRecipient(readText(exim)), "hal@example.net");

    // A post of a mailing list is addressed to the list: the list's addresses are never recipients.
    const std::string listPost =
        "From: MAILER-DAEMON@mx.example.net\r\nTo: talk-bounces@lists.example.org\r\nSubject: failure notice\r\n\r\n"
        "Your message to talk@lists.example.org could not be delivered to pat@example.net:\r\n"
        "550 no such user\r\n\r\n--- Below this line is a copy of the message.\r\n\r\n"
        "Return-Path: <talk-bounces@lists.example.org>\r\nFrom: someone@example.com\r\n"
        "To: talk@lists.example.org\r\nList-Post: <mailto:talk@lists.example.org>\r\n\r\nHello all\r\n";
    EXPECT_EQ(onlyRecipient(readText(listPost)), "pat@example.net");

    // A notice that the mail arrived is no bounce, though it names the recipient.
    const std::string delivered =
        "From: postmaster@example.net\r\nTo: letters@list.example.com\r\nSubject: Delivery Status Notification\r\n\r\n"
        "Your message has been successfully relayed to the following recipients:\r\n\r\n   jan@example.net\r\n";
    DeliveryReport report = readText(delivered);
    EXPECT_EQ(report.Kind, ReportKind::DeliverySuccess);
    EXPECT_TRUE(report.Recipients.empty());

    // Sent to one address, failed at the one it forwards to: the report stands for both.
    const std::string forwarded =
        "From: MAILER-DAEMON@mx.example.net\r\nTo: letters@list.example.com\r\nSubject: Undelivered Mail\r\n"
        "Content-Type: multipart/report; report-type=delivery-status; boundary=\"F\"\r\n\r\n"
        "--F\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx.example.net\r\n\r\n"
        "Final-Recipient: rfc822; kim@example.net\r\nAction: failed\r\nStatus: 5.2.1\r\n"
        "--F\r\nContent-Type: message/rfc822\r\n\r\nFrom: letters@list.example.com\r\nTo: gone@example.org\r\n"
        "\r\nHi\r\n--F--\r\n";
    report = readText(forwarded);
    EXPECT_EQ(onlyRecipient(report), "kim@example.net");
    EXPECT_TRUE(!report.Recipients.empty() && mailtext::RecipientMatches(report.Recipients[0], "gone@example.org"));
}

}  // namespace
