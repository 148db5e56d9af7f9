#include "TestWindowsSupport.h"

#include "tests/mailnet/FaultServer.h"
#include "ui/AccountsPage.h"
#include "ui/frmHtmlViewer.h"
#include "ui/frmTestCheck.h"

#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QPointer>
#include <QTreeWidget>

#include <atomic>

namespace {

class TestCheck : public ServerWindowTest {
protected:
    // The window the Accounts page opens for the account.
    TfmTestCheck* open() {
        w->SelectAccount(account);
        EXPECT_TRUE(w->acAccountCheck->isEnabled());
        const auto before = w->findChildren<TfmTestCheck*>();
        w->acAccountCheck->trigger();
        for (TfmTestCheck* window : w->findChildren<TfmTestCheck*>())
            if (!before.contains(window)) return window;
        return nullptr;
    }
    static QStringList column(const TfmTestCheck& check, int c) {
        QStringList texts;
        for (int i = 0; i < check.lvMessages->topLevelItemCount(); ++i)
            texts << check.lvMessages->topLevelItem(i)->text(c);
        return texts;
    }
    static void select(TfmTestCheck& check, const std::vector<int>& rows) {
        check.lvMessages->clearSelection();
        for (int row : rows) check.lvMessages->topLevelItem(row)->setSelected(true);
    }
    static std::vector<bool> enabled(const TfmTestCheck& check) {
        return {check.acMessageDelete->isEnabled(), check.acMessageForward->isEnabled(),
                check.acMessageView->isEnabled(), check.acMessageViewRaw->isEnabled()};
    }
    std::vector<std::string> subjects(const std::string& user) const {
        std::vector<std::string> list;
        for (const std::string& raw : mails(user)) list.push_back(mailtext::MessageFromText(raw)->Subject);
        return list;
    }
    void deliverNumbered(int count) const {
        for (int i = 1; i <= count; ++i)
            deliver(Checked, "Mail " + std::to_string(i), "Body of mail " + std::to_string(i));
    }
};

}  // namespace

TEST_F(TestCheck, ListsTheMailsAndViewsThem) {
    deliverNumbered(3);
    QPointer<TfmTestCheck> check = open();
    ASSERT_TRUE(check);
    EXPECT_EQ(check->windowTitle(), "Check POP3 account");
    EXPECT_EQ(check->lbServer->text(), "127.0.0.1");
    EXPECT_EQ(check->lbPort->text(), QString::number(servers.Pop3Port));
    EXPECT_EQ(check->lbUser->text(), Checked);
    EXPECT_EQ(check->lbStatus->text(), "");
    EXPECT_EQ(check->lbMessages->text(), "");
    EXPECT_EQ(enabled(*check), (std::vector<bool>{false, false, false, false}));

    check->acAccountCheck->trigger();
    EXPECT_EQ(check->lbStatus->text(), "Check succeeded");
    mailtext::Pop3Client pop(mailbox(Checked));
    pop.connect();
    const auto sizes = pop.listMessages();
    pop.release();
    ASSERT_EQ(sizes.size(), 3u);
    EXPECT_EQ(check->lbMessages->text(),
              QString::asprintf("3 items (%3.1fKb)", (sizes[0].Size + sizes[1].Size + sizes[2].Size) / 1024.0));
    EXPECT_EQ(column(*check, 0), (QStringList{"Mail 1", "Mail 2", "Mail 3"}));
    EXPECT_EQ(column(*check, 1), (QStringList{"sender@example.org", "sender@example.org", "sender@example.org"}));
    EXPECT_EQ(column(*check, 3), (QStringList{QString::number(sizes[0].Size), QString::number(sizes[1].Size),
                                              QString::number(sizes[2].Size)}));
    EXPECT_FALSE(column(*check, 2)[0].isEmpty());
    EXPECT_TRUE(check->acAccountCheck->isEnabled());
    EXPECT_TRUE(check->acClose->isEnabled());
    EXPECT_FALSE(check->acAccountCancel->isEnabled());

    select(*check, {1});
    EXPECT_EQ(enabled(*check), (std::vector<bool>{true, true, true, true}));
    select(*check, {0, 2});
    EXPECT_EQ(enabled(*check), (std::vector<bool>{true, true, false, false}));

    select(*check, {1});
    QString title, html;
    w->onDialog = [&](QDialog& dialog) {
        auto& viewer = dynamic_cast<TfmHtmlViewer&>(dialog);
        title = viewer.windowTitle();
        html = viewer.Html;
        return QDialog::Accepted;
    };
    check->acMessageView->trigger();
    EXPECT_EQ(title, "Mail 2");
    EXPECT_TRUE(html.contains("From: <a href=\"mailto:sender@example.org\">")) << html.toStdString();
    EXPECT_TRUE(html.contains("Subject: Mail 2"));
    EXPECT_TRUE(html.contains("Body of mail 2"));
    html.clear();
    check->acMessageViewRaw->trigger();
    EXPECT_TRUE(html.contains("Content-Type: text/plain")) << html.toStdString();
    EXPECT_TRUE(html.contains("Body of mail 2"));

    const QString folder = CORVANE_SCREENSHOT_DIR;
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(check->grab().save(folder + "/window-fmTestCheck.png"));
}

TEST_F(TestCheck, AnEmptyMailbox) {
    QPointer<TfmTestCheck> check = open();
    ASSERT_TRUE(check);
    check->acAccountCheck->trigger();
    EXPECT_EQ(check->lbMessages->text(), "0 items (0.0Kb)");
    EXPECT_EQ(check->lbStatus->text(), "Check succeeded");
    EXPECT_EQ(check->lvMessages->topLevelItemCount(), 0);
}

// Cancelled while the fourth mail is due; two of the three listed are deleted, which only the
// goodbye of Close makes final.
TEST_F(TestCheck, CancelAfterThreeMailsThenDeleteTwoAndClose) {
    deliverNumbered(5);
    QPointer<TfmTestCheck> check = open();
    ASSERT_TRUE(check);
    std::vector<bool> closeDuringCheck;
    // Run at the next point where the check lets events through, as a click would be.
    QObject::connect(
        check->lvMessages->model(), &QAbstractItemModel::rowsInserted, check,
        [&] {
            closeDuringCheck.push_back(check->acClose->isEnabled());
            if (check->lvMessages->topLevelItemCount() == 3) check->acAccountCancel->trigger();
        },
        Qt::QueuedConnection);
    check->acAccountCheck->trigger();
    EXPECT_EQ(check->lbStatus->text(), "Check cancelled");
    EXPECT_EQ(column(*check, 0), (QStringList{"Mail 1", "Mail 2", "Mail 3"}));
    EXPECT_EQ(closeDuringCheck, (std::vector<bool>{false, false, false}));

    select(*check, {0, 2});
    check->acMessageDelete->trigger();
    EXPECT_EQ(column(*check, 0), (QStringList{"Mail 2"}));
    // Marked only: another session still sees every mail.
    EXPECT_EQ(mails(Checked).size(), 5u);

    check->acClose->trigger();
    flushDeletions();
    EXPECT_FALSE(check);
    EXPECT_EQ(subjects(Checked), (std::vector<std::string>{"Mail 2", "Mail 4", "Mail 5"}));
}

TEST_F(TestCheck, ForwardsTheSelectedMailsToTheRecipientsAsked) {
    deliverNumbered(3);
    QPointer<TfmTestCheck> check = open();
    ASSERT_TRUE(check);
    check->acAccountCheck->trigger();
    select(*check, {0, 2});

    check->acMessageForward->trigger();
    EXPECT_EQ(w->messages, (std::vector<QString>{"Please select a group and a group account first"}));

    TcvGroup* group = addGroup(*w->Setup, "FWD");
    group->Account = account;
    w->SelectGroup(group);
    QString prompt;
    w->onDialog = [&](QDialog& dialog) {
        auto& box = dynamic_cast<QInputDialog&>(dialog);
        prompt = box.windowTitle() + "|" + box.labelText() + "|" + box.textValue();
        box.setTextValue("user15@example.com");
        return QDialog::Accepted;
    };
    check->acMessageForward->trigger();
    EXPECT_EQ(prompt, "Specify recipient|Recipient(s)|recipient@example.com");
    EXPECT_EQ(check->lbStatus->text(), "Forward succeeded");
    EXPECT_EQ(options::TestEmailRecipients, "user15@example.com");
    const auto arrived = mails(Received);
    ASSERT_EQ(arrived.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const auto mail = mailtext::MessageFromText(arrived[i]);
        EXPECT_EQ(mail->Subject, i == 0 ? "Fw: Mail 1" : "Fw: Mail 3");
        ASSERT_FALSE(mail->Body.empty());
        EXPECT_EQ(mail->Body[0], "----- Original Message -----");
    }

    // A cancelled box forwards to the proposal, which was the last answer.
    w->onDialog = [](QDialog&) { return QDialog::Rejected; };
    select(*check, {1});
    check->acMessageForward->trigger();
    EXPECT_EQ(subjects(Received).back(), "Fw: Mail 2");
}

// The account is deleted while the check lists the mails: the window finishes with its own
// connection and never touches the account again.
TEST_F(TestCheck, TheAccountDeletedDuringACheck) {
    deliverNumbered(3);
    QPointer<TfmTestCheck> check = open();
    ASSERT_TRUE(check);
    bool deleted = false;
    QObject::connect(
        check->lvMessages->model(), &QAbstractItemModel::rowsInserted, check,
        [&] {
            if (deleted) return;
            deleted = true;
            w->SelectAccount(account);
            w->AccountsPage->acAccountDeleteExecute();
        },
        Qt::QueuedConnection);
    check->acAccountCheck->trigger();
    ASSERT_TRUE(deleted);
    EXPECT_EQ(w->Setup->AccountCount(), 0);
    EXPECT_EQ(check->lbStatus->text(), "Check succeeded");
    EXPECT_EQ(check->lvMessages->topLevelItemCount(), 3);

    select(*check, {0});
    check->acMessageDelete->trigger();
    check->acAccountCheck->trigger();
    EXPECT_EQ(check->lbStatus->text(), "Check failed: the account was deleted");
    check->acClose->trigger();
    flushDeletions();
    EXPECT_FALSE(check);
    EXPECT_EQ(subjects(Checked), (std::vector<std::string>{"Mail 2", "Mail 3"}));
}

namespace {

// A mailbox of two mails whose server stops answering at the second mail's headers, and says
// when it got there.
mailnet::FaultServer::Script stallingAtSecondMail(std::atomic<bool>& reached) {
    return [&reached](mailnet::FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        c.send("+OK 2 400");
        c.readLine();
        c.sendRaw("+OK\r\n1 200\r\n2 200\r\n.\r\n");
        c.readLine();
        c.sendRaw("+OK\r\nSubject: first\r\nFrom: a@example.org\r\n\r\n.\r\n");
        c.readLine();
        c.send("+OK 1 200");
        c.readLine();
        reached = true;
    };
}

// Runs the action once the flag is set, from the event processing of a wait.
void whenSet(QTimer& timer, std::atomic<bool>& flag, std::function<void()> action) {
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&timer, &flag, action] {
        if (!flag) return;
        timer.stop();
        action();
    });
    timer.start();
}

}  // namespace

// The main window goes away while a check waits on a server that does not answer: the wait is
// woken rather than timed out, the window frees itself, and nothing of the freed setup is touched.
TEST_F(TestCheck, TheMainWindowDestroyedDuringACheck) {
    std::atomic<bool> reached{false};
    mailnet::FaultServer server(stallingAtSecondMail(reached));
    account->PortPop3 = server.port();
    QPointer<TfmTestCheck> check = open();
    ASSERT_TRUE(check);
    QTimer timer;
    whenSet(timer, reached, [&] { w.reset(); });
    check->acAccountCheck->trigger();
    EXPECT_FALSE(w);
    ASSERT_TRUE(check);
    EXPECT_FALSE(check->isVisible());
    EXPECT_TRUE(check->lbStatus->text().startsWith("Check failed: ")) << check->lbStatus->text().toStdString();
    EXPECT_FALSE(check->lbStatus->text().contains("in time")) << check->lbStatus->text().toStdString();
    flushDeletions();
    EXPECT_FALSE(check);
    EXPECT_TRUE(server.clientClosed());
    EXPECT_FALSE(server.received("QUIT"));
}

// Closing the main window closes its mailbox windows: an idle one says goodbye (committing its
// deletion), a busy one ends its check and closes after it.
TEST_F(TestCheck, TheMainWindowClosedWithOneWindowIdleAndOneChecking) {
    deliverNumbered(2);
    QPointer<TfmTestCheck> idle = open();
    ASSERT_TRUE(idle);
    idle->acAccountCheck->trigger();
    select(*idle, {0});
    idle->acMessageDelete->trigger();

    std::atomic<bool> reached{false};
    mailnet::FaultServer server(stallingAtSecondMail(reached));
    TcvAccount* stalling = addAccount(*w->Setup, "Stalling");
    stalling->ServerName = "127.0.0.1";
    stalling->PortPop3 = server.port();
    stalling->UseForReceiving = true;
    w->SelectAccount(stalling);
    w->acAccountCheck->trigger();
    QPointer<TfmTestCheck> busy;
    for (TfmTestCheck* window : w->findChildren<TfmTestCheck*>())
        if (window != idle) busy = window;
    ASSERT_TRUE(busy);

    QTimer timer;
    bool closed = false;
    // The untitled setup is not saved.
    w->answers.push_back(QMessageBox::No);
    whenSet(timer, reached, [&] { closed = w->close(); });
    busy->acAccountCheck->trigger();
    EXPECT_TRUE(closed);
    flushDeletions();
    EXPECT_FALSE(idle);
    EXPECT_FALSE(busy);
    EXPECT_TRUE(server.clientClosed());
    EXPECT_EQ(subjects(Checked), (std::vector<std::string>{"Mail 2"}));
}
