// A whole follow-up campaign set up through the window as a user does it, then run against the
// real mail servers: a subscription mail comes in, its sender joins, and the triggered HTML
// message reaches the new contact.
#include "mailtext/IdMessageHelpers.h"
#include "mailtext/Pop3Client.h"
#include "tests/mailnet/MailServers.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/AccountsPage.h"
#include "ui/GroupsPage.h"
#include "ui/MessagesPage.h"
#include "ui/ParsersPage.h"
#include "ui/VariablesPage.h"
#include "ui/cvPageTools.h"
#include "ui/frmAdvanced.h"

#include <Qsci/qsciscintilla.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QRadioButton>
#include <QTabWidget>

namespace {

const char* const Mailbox = "user18@example.com";

mailtext::Pop3Settings mailbox(const mailnet::MailServers& servers) {
    mailtext::Pop3Settings pop;
    pop.Host = "127.0.0.1";
    pop.Port = servers.Pop3Port;
    pop.UserName = "user18";
    pop.Password = servers.MailboxPassword;
    return pop;
}

void emptyMailbox(const mailnet::MailServers& servers) {
    mailtext::Pop3Client pop(mailbox(servers));
    pop.connect();
    for (int n = pop.messageCount(); n > 0; --n) pop.deleteMessage(n);
    pop.quit();
}

// Chooses an entry of a drop-down list as the user does.
void choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void setEditTextAndLeave(QComboBox* combo, const QString& text) {
    combo->setEditText(text);
    leave(combo->lineEdit());
}

// Runs timer ticks until the condition holds; a bounded number, so a broken run fails.
template <class Condition>
bool tickUntil(TfrmMain& w, Condition done) {
    for (int i = 0; i < 400 && !done(); ++i) {
        w.tmMailerTimer();
        QCoreApplication::processEvents();
    }
    return done();
}

void screenshot(QWidget& widget, const QString& name) {
    const QString folder = CORVANE_SCREENSHOT_DIR;
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(widget.grab().save(folder + "/" + name + ".png")) << name.toStdString();
}

}  // namespace

TEST_F(UiTest, ACampaignSetUpInTheWindowWelcomesANewSubscriber) {
    const auto servers = mailnet::MailServers::load();
    if (!servers) GTEST_SKIP() << "CORVANE_MAILSERVERS is not set: run through ctest";
    emptyMailbox(*servers);
    platform::ManualClock clock(platform::SystemClock().now(), 1000);
    platform::ScopedClock useClock(clock);
    options::WarnBeforeFirstMail = false;
    auto w = makeWindow();
    w->resize(800, 600);
    w->show();

    // The account: sends through the server's open port, receives from the mailbox.
    w->acAccountNew->trigger();
    TAccountsPage& accounts = *w->AccountsPage;
    typeAndLeave(accounts.edAccountName, "Local");
    typeAndLeave(accounts.edAccountSender, "list@example.com");
    typeAndLeave(accounts.edAccountServer, "127.0.0.1");
    typeAndLeave(accounts.edAccountUserName, "user18");
    typeAndLeave(accounts.edAccountPassword, QString::fromStdString(servers->MailboxPassword));
    typeAndLeave(accounts.edAccountPortSmtp, QString::number(servers->SmtpOpenPort));
    typeAndLeave(accounts.edAccountPortPop3, QString::number(servers->Pop3Port));
    typeAndLeave(accounts.edSendPause, "0");
    accounts.chbReceiveEmails->setChecked(true);
    leave(accounts.chbReceiveEmails);
    ASSERT_EQ(w->Setup->AccountCount(), 1);
    TcvAccount* account = w->Setup->Accounts(0);
    EXPECT_TRUE(account->UseForReceiving && account->UseForSending);

    // The group, sending through that account, with a custom field.
    w->acGroupNew->trigger();
    typeAndLeave(w->GroupsPage->edGroupName, "Campaign");
    setEditTextAndLeave(w->GroupsPage->cbbGroupAccount, "Local");
    ASSERT_EQ(w->Setup->GroupCount(), 1);
    TcvGroup* group = w->Setup->Groups(0);
    EXPECT_EQ(group->Account, account);
    w->acFieldNew->trigger();
    w->clbFieldDefs->setCurrentRow(0);
    typeAndLeave(w->VariablesPage->edFieldTitle, "City");
    ASSERT_EQ(group->FieldDefCount(), 1);
    EXPECT_EQ(group->FieldDefs(0)->Title, "City");

    // The message: triggered one minute after joining, its HTML body written in the editor.
    w->pcMain->setCurrentWidget(w->tsMessages);
    w->acMessageNew->trigger();
    TMessagesPage& messages = *w->MessagesPage;
    setEditTextAndLeave(messages.cbbMessageTitle, "Welcome");
    messages.rbTriggered->click();
    typeAndLeave(messages.edMessageAmount, "1");
    choose(messages.cbbTriggerUnits, 1);
    choose(messages.cbbTrigger, 0);
    typeAndLeave(messages.edMessageSubject, "Welcome %FirstName");
    w->acMessageStart->trigger();
    ASSERT_EQ(group->MessageCount(), 1);
    TcvMessage* message = group->Messages(0);
    EXPECT_EQ(message->Code, "WEL");
    EXPECT_EQ(messages.TypeText(*message), "Triggered 1 Minutes after OnJoin");
    w->acMessageAdvanced->trigger();
    ASSERT_EQ(w->Editors().size(), 1);
    TfmAdvanced* editor = w->Editors()[0];
    editor->cbbType->setCurrentIndex(2);
    editor->pcMessage->setCurrentWidget(editor->tsHtml);
    editor->seHtml->setText("<html><body><p>Hello </p><p>Greetings to ");
    editor->seHtml->setCursorPosition(0, 21);
    editor->mnuInsertVars->actions()[2]->trigger();  // FirstName
    editor->seHtml->append("%City!</p></body></html>");
    editor->pcMessage->setCurrentWidget(editor->tsPreview);
    screenshot(*editor, "editor-fmAdvanced-preview");
    editor->pcMessage->setCurrentWidget(editor->tsHtml);
    screenshot(*editor, "editor-fmAdvanced-html");
    editor->acCloseSave->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w->Editors().isEmpty());
    EXPECT_EQ(message->BodyHtml, "<html><body><p>Hello %FirstName</p><p>Greetings to %City!</p></body></html>");
    EXPECT_EQ(message->BodyPlain, "");
    screenshot(*w, "main-tsMessages-campaign");

    // The parser: subscribes the sender of every mail whose subject says so, with its fields.
    w->pcMain->setCurrentWidget(w->tsParsers);
    w->acParserNew->trigger();
    TParsersPage& parsers = *w->ParsersPage;
    setEditTextAndLeave(parsers.cbbParserAccount, "Local");
    choose(parsers.cbbParserAction, 0);
    parsers.chbTriggerSubject->click();
    typeAndLeave(parsers.edTriggerSubject, "subscribe");
    parsers.chbParserImport->click();
    parsers.rbRemoveFromServer->click();
    w->acParserStart->trigger();
    ASSERT_EQ(group->ParserCount(), 1);
    TcvParser* parser = group->Parsers(0);
    EXPECT_EQ(parser->Account, account);
    EXPECT_TRUE(parser->Started && parser->TriggerSubj && parser->ImportVars);
    screenshot(*w, "main-tsParsers-campaign");
    w->pcMain->setCurrentWidget(w->tsVariables);
    screenshot(*w, "main-tsVariables-campaign");

    // Someone asks to join.
    mailnet::Deliver(*servers, Mailbox, Mailbox, "Please subscribe me", "firstname=Zoe\r\ncity=Leeds\r\n");
    w->acMailerStart->trigger();
    ASSERT_TRUE(tickUntil(*w, [&] { return group->ContactCount() == 1; })) << w->StatusText(0).toStdString();
    TcvContact* zoe = group->Contacts(0);
    EXPECT_EQ(zoe->Email, Mailbox);
    EXPECT_EQ(zoe->FirstName, "Zoe");
    EXPECT_EQ(zoe->CustomField(0), "Leeds");
    // The welcome is not due before its minute has passed.
    w->tmMailerTimer();
    EXPECT_EQ(zoe->FindHistory("WEL"), nullptr);
    w->pcMain->setCurrentWidget(w->tsParsers);
    w->acParserStop->trigger();

    clock.setNow(zoe->Joined + 1.2 * message->TriggerDelay());
    ASSERT_TRUE(tickUntil(*w, [&] { return zoe->FindHistory("WEL") != nullptr; })) << w->StatusText(2).toStdString();
    EXPECT_EQ(message->SendCount, 1);
    EXPECT_NE(logText().find("Mailed"), std::string::npos);

    // The mail in the mailbox is the personalised HTML message.
    mailtext::Pop3Client pop(mailbox(*servers));
    pop.connect();
    bool found = false;
    for (int n = 1; n <= pop.messageCount() && !found; ++n) {
        const auto mail = mailtext::MessageFromText(pop.retrieveRaw(n));
        if (mail->Subject != "Welcome Zoe") continue;
        found = true;
        EXPECT_EQ(mail->ContentType.find("text/html"), 0u) << mail->ContentType;
        const std::string body = mail->bodyText();
        EXPECT_NE(body.find("<p>Hello Zoe</p><p>Greetings to Leeds!</p>"), std::string::npos) << body;
    }
    pop.quit();
    EXPECT_TRUE(found);

    // The editor shows the real message as Zoe received it.
    w->pcMain->setCurrentWidget(w->tsMessages);
    group->SelectMessage(message);
    w->acMessageAdvanced->trigger();
    ASSERT_EQ(w->Editors().size(), 1);
    editor = w->Editors()[0];
    editor->pcMessage->setCurrentWidget(editor->tsPreview);
    EXPECT_EQ(editor->lbContact->text(), "Zoe");
    screenshot(*editor, "editor-fmAdvanced-sent");
    editor->close();
}
