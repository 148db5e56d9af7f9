#include "TestWindowsSupport.h"

#include "tests/mailnet/FaultServer.h"
#include "ui/frmAdvanced.h"
#include "ui/frmTestEmail.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>

namespace {

using TestEmail = ServerWindowTest;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The test mail window as the user sees it, filled by the test and sent or cancelled.
struct Answer {
    QString recipients, subject, body;
    bool send = true;
};

}  // namespace

TEST_F(TestEmail, NeedsASenderSendsWhatWasEnteredAndKeepsItOnlyWhenSent) {
    w->SelectAccount(account);
    ASSERT_TRUE(w->acAccountTestEmail->isEnabled());
    w->acAccountTestEmail->trigger();
    EXPECT_EQ(w->dialogsShown, 0);
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "Please fill in \"sender\" first.");

    account->Sender = "tester@example.com";
    std::vector<QString> proposed;
    Answer answer;
    w->onDialog = [&](QDialog& dialog) {
        auto& window = dynamic_cast<TfmTestEmail&>(dialog);
        EXPECT_EQ(window.windowTitle(), "Send Test Email");
        EXPECT_EQ(window.lbSender->text(), "tester@example.com");
        EXPECT_EQ(window.lbPort->text(), QString::number(servers.SmtpOpenPort));
        EXPECT_EQ(window.lbAuthentication->text(), "None");
        EXPECT_FALSE(window.cbbContentType->isHidden());
        proposed.push_back(window.edRecipients->text());
        window.edRecipients->setText(answer.recipients);
        window.edSubject->setText(answer.subject);
        window.mmBody->setPlainText(answer.body);
        window.cbbContentType->setCurrentText("text/plain");
        return answer.send ? QDialog::Accepted : QDialog::Rejected;
    };

    answer = {"user15@example.com", "Cancelled subject", "not sent", false};
    w->acAccountTestEmail->trigger();
    EXPECT_EQ(options::TestEmailRecipients, "recipient@example.com");
    EXPECT_EQ(options::TestEmailSubject, "Test email subject");
    EXPECT_EQ(w->messages.size(), 1u);

    answer = {"user15@example.com", "Trying the account", "first line\nsecond line", true};
    w->acAccountTestEmail->trigger();
    ASSERT_EQ(w->messages.size(), 2u);
    EXPECT_EQ(w->messages[1], "Message sent OK");
    EXPECT_EQ(options::TestEmailRecipients, "user15@example.com");
    EXPECT_EQ(options::TestEmailSubject, "Trying the account");
    EXPECT_EQ(options::TestEmailBody, "first line\r\nsecond line");
    EXPECT_EQ(options::TestContentType, "text/plain");

    // The next test mail proposes what was sent last.
    answer.send = false;
    w->acAccountTestEmail->trigger();
    EXPECT_EQ(proposed, (std::vector<QString>{"recipient@example.com", "recipient@example.com", "user15@example.com"}));

    const auto arrived = mails(Received);
    ASSERT_EQ(arrived.size(), 1u);
    const auto mail = mailtext::MessageFromText(arrived[0]);
    EXPECT_EQ(mail->Subject, "Trying the account");
    EXPECT_EQ(mail->From.Address, "tester@example.com");
    // Without a reply-to address of its own the account's replies go to its sender.
    ASSERT_EQ(mail->ReplyTo.Items.size(), 1u);
    EXPECT_EQ(mail->ReplyTo.Items[0].Address, "tester@example.com");
    EXPECT_EQ(mail->bodyText(), "first line\r\nsecond line\r\n");
}

TEST_F(TestEmail, ASendingErrorIsShownAndNothingElseHappens) {
    mailnet::FaultServer server([](mailnet::FaultConnection& c) { c.send("554 no service here"); });
    account->Sender = "tester@example.com";
    account->ReplyTo = "replies@example.com";
    account->PortSmtp = server.port();
    w->SelectAccount(account);
    w->onDialog = [](QDialog&) { return QDialog::Accepted; };
    w->acAccountTestEmail->trigger();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_TRUE(w->messages[0].contains("554 no service here")) << w->messages[0].toStdString();
    EXPECT_EQ(w->messageIcons[0], QMessageBox::Critical);
}

class MessageTest : public ServerWindowTest {
protected:
    void SetUp() override {
        ServerWindowTest::SetUp();
        if (!w) return;
        account->Sender = "news@example.com";
        group = addGroup(*w->Setup, "NWS", {"user15@example.com"});
        group->Account = account;
        contact = group->Contacts(0);
        contact->FirstName = "Ann";
        contact->LastName = "Lee";
        message = addMessage(*group, "WEL", TcvMessageMode::Manual);
        message->Subject = "Welcome %FirstName";
        message->BodyPlain = "Dear %FirstName %LastName,\r\nthank you.";
        message->BodyHtml = "<p>not shown</p>";
    }
    void send() { TestMessage(w.get(), *message, group, contact); }

    TcvGroup* group = nullptr;
    TcvContact* contact = nullptr;
    TcvMessage* message = nullptr;
};

TEST_F(MessageTest, SendsThePersonalisedMessageAndRecordsNoHistoryBounceOrMailedLine) {
    options::LogMailerActivity = true;
    w->onDialog = [&](QDialog& dialog) {
        auto& window = dynamic_cast<TfmTestEmail&>(dialog);
        EXPECT_EQ(window.edRecipients->text(), "\"Ann Lee\" <user15@example.com>");
        EXPECT_EQ(window.edSubject->text(), "Welcome Ann");
        EXPECT_EQ(window.mmBody->toPlainText(), "Dear Ann Lee,\nthank you.");
        EXPECT_TRUE(window.edRecipients->isReadOnly());
        EXPECT_TRUE(window.edSubject->isReadOnly());
        EXPECT_TRUE(window.mmBody->isReadOnly());
        EXPECT_TRUE(window.cbbContentType->isHidden());
        EXPECT_TRUE(window.lbContentType->isHidden());
        EXPECT_EQ(window.lbAccountName->text(), "Local");
        return QDialog::Accepted;
    };
    send();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "Message sent OK");
    EXPECT_EQ(contact->HistoryCount(), 0);
    EXPECT_EQ(contact->Bounces, 0);
    EXPECT_EQ(message->SendCount, 1);
    EXPECT_FALSE(contains(logText(), "Mailed"));

    const auto arrived = mails(Received);
    ASSERT_EQ(arrived.size(), 1u);
    const auto mail = mailtext::MessageFromText(arrived[0]);
    EXPECT_EQ(mail->Subject, "Welcome Ann");
    EXPECT_EQ(mail->bodyText(), "Dear Ann Lee,\r\nthank you.\r\n");
    EXPECT_EQ(mail->From.Address, "news@example.com");

    // Cancelled: nothing goes out.
    w->onDialog = [](QDialog&) { return QDialog::Rejected; };
    send();
    EXPECT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(mails(Received).size(), 1u);
}

TEST_F(MessageTest, RefusalsAndErrorsAreShownAsErrors) {
    w->onDialog = [](QDialog&) { return QDialog::Accepted; };
    contact->Frozen = true;
    send();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "Error: Contact does not allow email");
    // Refused before anything else, so not logged.
    EXPECT_EQ(logText(), "");

    contact->Frozen = false;
    mailnet::FaultServer server([](mailnet::FaultConnection& c) {
        mailnet::smtpGreet(c);
        c.readLine();
        c.send("451 try again later");
        c.readLine();
        c.send("250 reset");
    });
    account->PortSmtp = server.port();
    send();
    ASSERT_EQ(w->messages.size(), 2u);
    EXPECT_TRUE(w->messages[1].startsWith("Error: ")) << w->messages[1].toStdString();
    EXPECT_TRUE(w->messages[1].contains("451 try again later")) << w->messages[1].toStdString();
    EXPECT_TRUE(contains(logText(), "Error! NWS WEL ")) << logText();
    EXPECT_EQ(contact->Bounces, 0);
    EXPECT_EQ(contact->HistoryCount(), 0);

    group->Account = nullptr;
    const int shown = w->dialogsShown;
    send();
    EXPECT_EQ(w->dialogsShown, shown);
    EXPECT_EQ(w->messages.back(), "Please select an account for the group first");
}

// A parser or the sweep may delete the contact while the window is open: nothing is sent to it.
TEST_F(MessageTest, AContactDeletedWhileTheWindowIsOpenIsNotTouched) {
    w->onDialog = [&](QDialog&) {
        group->DeleteContact(0);
        return QDialog::Accepted;
    };
    send();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_TRUE(w->messages[0].startsWith("Error: "));
    EXPECT_TRUE(mails(Received).empty());
}

// The editor's Test Send tries the text being edited, for the contact chosen in its preview list.
TEST_F(MessageTest, TheEditorsTestSendSendsItsWorkingCopyToTheChosenContact) {
    w->Setup->SelectGroup(group);
    group->SelectMessage(message);
    w->acMessageAdvanced->trigger();
    ASSERT_FALSE(w->Editors().isEmpty());
    TfmAdvanced* editor = w->Editors().last().data();
    editor->edSubject->setText("Edited for %FirstName");
    editor->acMessageSave->trigger();
    w->onDialog = [&](QDialog& dialog) {
        EXPECT_EQ(dynamic_cast<TfmTestEmail&>(dialog).edSubject->text(), "Edited for Ann");
        return QDialog::Accepted;
    };
    editor->acTestSend->trigger();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "Message sent OK");
    const auto arrived = mails(Received);
    ASSERT_EQ(arrived.size(), 1u);
    EXPECT_EQ(mailtext::MessageFromText(arrived[0])->Subject, "Edited for Ann");
    EXPECT_EQ(contact->HistoryCount(), 0);
    editor->close();
}

TEST_F(MessageTest, Screenshot) {
    const QString folder = CORVANE_SCREENSHOT_DIR;
    ASSERT_TRUE(QDir().mkpath(folder));
    account->Sender = "news@example.com";
    w->SelectAccount(account);
    w->onDialog = [&](QDialog& dialog) {
        dialog.show();
        EXPECT_TRUE(dialog.grab().save(folder + "/dialog-fmTestEmail.png"));
        return QDialog::Rejected;
    };
    w->acAccountTestEmail->trigger();
    w->onDialog = [&](QDialog& dialog) {
        dialog.show();
        EXPECT_TRUE(dialog.grab().save(folder + "/dialog-fmTestEmail-message.png"));
        return QDialog::Rejected;
    };
    send();
    EXPECT_EQ(w->dialogsShown, 2);
}
