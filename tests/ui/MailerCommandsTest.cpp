#include "UiTestSupport.h"

#include "platform/Clock.h"
#include "platform/DateTime.h"

#include <QComboBox>
#include <QLabel>

namespace {

const QString StartMailerFirst =
    "You must first start the mailer, or it will not be able to send any manual messages.\n\nThe mailer can be "
    "started by clicking the \"Start Mailing\" button.";
const QString EditMessagesFirst = "Please edit the messages first and make at least one of them \"manual\".";

}  // namespace

TEST_F(UiTest, StartBeginsAtTheSelectedGroupAndPauseStops) {
    auto w = makeWindow();
    w->acMailerStart->trigger();
    EXPECT_TRUE(MailerRunning);
    EXPECT_EQ(w->Mailer->GroupIndex, -1);
    EXPECT_EQ(w->StatusText(2), "Mailer: started");
    EXPECT_FALSE(w->acMailerStart->isEnabled());
    EXPECT_TRUE(w->acMailerPause->isEnabled());
    // One step moves from "no group" to the first group.
    addGroup(*w->Setup, "ONE");
    w->Mailer->Step();
    EXPECT_EQ(w->Mailer->GroupIndex, 0);

    w->acMailerPause->trigger();
    EXPECT_FALSE(MailerRunning);
    EXPECT_EQ(w->StatusText(2), "Mailer: paused");
    EXPECT_TRUE(w->acMailerStart->isEnabled());

    addGroup(*w->Setup, "TWO");
    TcvGroup* third = addGroup(*w->Setup, "THR");
    w->Setup->SelectGroup(third);
    w->Mailer->ContactIndex = 5;
    w->acMailerStart->trigger();
    EXPECT_EQ(w->Mailer->GroupIndex, 2);
    EXPECT_EQ(w->Mailer->ContactIndex, 5);
    EXPECT_EQ(w->acMailerStart->toolTip(), "Start mailing");
    EXPECT_EQ(w->acMailerPause->toolTip(), "Pause mailing");
}

TEST_F(UiTest, AutoStartedMailerStepsInTheFirstTick) {
    options::AutoStartMailer = true;
    auto w = makeWindow();
    EXPECT_TRUE(MailerRunning);
    EXPECT_EQ(w->StatusText(2), "Mailer: started");
    w->tmMailerTimer();
    EXPECT_GE(w->Scheduler->LastStepCount, 1);
}

TEST_F(UiTest, ManualSendingNeedsARunningMailerAndAManualMessage) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com"});
    w->acSendManual->setEnabled(true);
    w->acSendManual->trigger();  // no group current
    EXPECT_TRUE(w->messages.empty());

    w->Setup->SelectGroup(g);
    w->lvContacts->selectRow(0);
    w->acSendManual->trigger();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], StartMailerFirst);
    EXPECT_EQ(w->messageSelectShown, 0);

    MailerRunning = true;
    addMessage(*g, "ONE", TcvMessageMode::OneTime);
    w->acSendManual->trigger();
    ASSERT_EQ(w->messages.size(), 2u);
    EXPECT_EQ(w->messages[1], EditMessagesFirst);
    EXPECT_EQ(w->messageSelectShown, 0);

    addMessage(*g, "MAN", TcvMessageMode::Manual);
    w->lvContacts->clearSelection();
    w->acSendManual->setEnabled(true);
    w->acSendManual->trigger();
    EXPECT_EQ(w->messageSelectShown, 0);
    EXPECT_EQ(w->messages.size(), 2u);
}

TEST_F(UiTest, ManualSendingOffersTheManualMessagesAndSendsToTheSelectedContacts) {
    MailerRunning = true;
    auto w = makeWindow();
    // Without an account every send fails: each chosen contact gets a bounce and the history entry.
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com", "b@example.com", "c@example.com"});
    addMessage(*g, "ONE", TcvMessageMode::OneTime);
    addMessage(*g, "MA1", TcvMessageMode::Manual, "First manual");
    TcvMessage* second = addMessage(*g, "MA2", TcvMessageMode::Manual, "Second manual");
    w->Setup->SelectGroup(g);
    w->lvContacts->selectionModel()->select(w->lvContacts->model()->index(2, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    w->lvContacts->selectionModel()->select(w->lvContacts->model()->index(0, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QStringList items;
    QString notice, caption;
    w->onMessageSelect = [&](TfmMessageSelect& dialog) {
        for (int i = 0; i < dialog.cbbMessages->count(); ++i) items << dialog.cbbMessages->itemText(i);
        EXPECT_EQ(dialog.cbbMessages->currentIndex(), 0);
        notice = dialog.lbNotice->text();
        caption = dialog.windowTitle();
        dialog.cbbMessages->setCurrentIndex(1);
        return true;
    };
    w->acSendManual->trigger();
    EXPECT_EQ(items, (QStringList{"[MA1] First manual", "[MA2] Second manual"}));
    EXPECT_EQ(caption, "Select a message for manual send");
    EXPECT_EQ(notice,
              "Notice: you are about to send this message manually\nto 2 selected contacts.\nYou can stop this "
              "process by hitting the \"Pause Mailing\" button.");
    for (const char* email : {"a@example.com", "c@example.com"}) {
        TcvContact* c = g->FindContact(email);
        EXPECT_NE(c->FindHistory(second->Code), nullptr) << email;
        EXPECT_EQ(c->Bounces, 1) << email;
    }
    EXPECT_EQ(g->FindContact("b@example.com")->HistoryCount(), 0);
    EXPECT_NE(logText().find("Error! GRP MA2"), std::string::npos);
}

TEST_F(UiTest, CancelledMessageChoiceSendsNothing) {
    MailerRunning = true;
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com"});
    addMessage(*g, "MAN", TcvMessageMode::Manual);
    w->Setup->SelectGroup(g);
    w->lvContacts->selectRow(0);
    w->acSendManual->trigger();
    EXPECT_EQ(w->messageSelectShown, 1);
    EXPECT_EQ(g->Contacts(0)->HistoryCount(), 0);
    EXPECT_EQ(g->Contacts(0)->Bounces, 0);
}

TEST_F(UiTest, ResendClearsTheCodeFromEveryContactAndStopsTheMessage) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com", "b@example.com"});
    TcvMessage* m = addMessage(*g, "WEL", TcvMessageMode::OneTime);
    m->Status = TcvMessageStatus::Sent;
    for (int i = 0; i < 2; ++i) {
        g->Contacts(i)->AddHistory("WEL", 46000);
        g->Contacts(i)->AddHistory("OTH", 46000);
    }
    w->Setup->SelectGroup(g);
    g->SelectMessage(m);
    ASSERT_TRUE(w->acMessageResend->isEnabled());

    w->answers = {QMessageBox::No};
    w->acMessageResend->trigger();
    EXPECT_EQ(m->Status, TcvMessageStatus::Sent);
    EXPECT_NE(g->Contacts(0)->FindHistory("WEL"), nullptr);
    ASSERT_EQ(w->questions.size(), 1u);
    EXPECT_EQ(w->questions[0].text,
              "If you continue, history data in each contact for this message \nwill be cleared.\nYou will have no "
              "way of knowing which contact already \nreceived this message.\nContinue anyway?");
    EXPECT_EQ(w->questions[0].icon, QMessageBox::Warning);

    w->answers = {QMessageBox::Yes};
    w->acMessageResend->trigger();
    EXPECT_EQ(m->Status, TcvMessageStatus::Stopped);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(g->Contacts(i)->FindHistory("WEL"), nullptr);
        EXPECT_NE(g->Contacts(i)->FindHistory("OTH"), nullptr);
    }
    EXPECT_TRUE(w->acMessageStart->isEnabled());
    EXPECT_FALSE(w->acMessageResend->isEnabled());
}

TEST_F(UiTest, MailedHandlerLogsCountsAndClearsTheMailerState) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com"});
    TcvMessage* m = addMessage(*g, "WEL", TcvMessageMode::OneTime);
    w->Setup->TotalCount = 5;
    w->Mailer->OnSending(*w->Mailer, *g->Contacts(0), *m, "subject", "body");
    EXPECT_EQ(w->StatusText(2), "Mailer: sending WEL to contact a@example.com");
    // 12 + 300 characters: 312.
    w->Mailer->OnMailed(*w->Mailer, *g->Contacts(0), *m, std::string(12, 's'), std::string(300, 'b'));
    EXPECT_EQ(w->StatusText(1), "Session: 1 Total: 6");
    EXPECT_EQ(w->StatusText(2), "");
    // The setup's copy of the handler serves the temporary mailers.
    w->Setup->OnMailed(*w->Mailer, *g->Contacts(0), *m, "", std::string(123456, 'b'));
    EXPECT_EQ(w->StatusText(1), "Session: 2 Total: 7");
    const std::string log = logText();
    EXPECT_NE(log.find(" Mailed GRP WEL 00312 a@example.com\r\n"), std::string::npos);
    EXPECT_NE(log.find(" Mailed GRP WEL 123456 a@example.com\r\n"), std::string::npos);

    options::LogMailerActivity = false;
    w->Mailer->OnMailed(*w->Mailer, *g->Contacts(0), *m, "", "x");
    EXPECT_EQ(logText(), log);
}

TEST_F(UiTest, ParserEventsAreLoggedAndShown) {
    platform::ManualClock clock(platform::encodeDateTime(2024, 3, 5, 14, 7, 9), 0);
    platform::ScopedClock useClock(clock);
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com"});
    w->Setup->OnParserAction(nullptr, g->Contacts(0), g, 0);
    w->Setup->OnParserAction(nullptr, g->Contacts(0), g, 3);
    const std::string log = logText();
    EXPECT_NE(log.find(" Joined GRP --- ----- a@example.com\r\n"), std::string::npos);
    EXPECT_NE(log.find(" Parsed GRP --- ----- a@example.com\r\n"), std::string::npos);
    const QString time = QLocale::system().toString(QTime(14, 7, 9), QLocale::ShortFormat);
    EXPECT_EQ(w->StatusText(0), time + ": Parsed a@example.com in group GRP");

    options::LogMailerActivity = false;
    w->Setup->OnParserAction(nullptr, g->Contacts(0), g, 5);
    EXPECT_EQ(logText(), log);
    EXPECT_EQ(w->StatusText(0), time + ": Freeze a@example.com in group GRP");
}

TEST_F(UiTest, FirstMailPromptIsAModalQuestionOfTheWindow) {
    auto w = makeWindow();
    w->answers = {QMessageBox::Cancel, QMessageBox::Ok};
    EXPECT_FALSE(platform::confirmOkCancel("first\rmail"));
    EXPECT_TRUE(platform::confirmOkCancel("first\rmail"));
    ASSERT_EQ(w->questions.size(), 2u);
    EXPECT_EQ(w->questions[0].text, "first\nmail");
    EXPECT_EQ(w->questions[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    platform::showMessage("Unable to parse message 3");
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "Unable to parse message 3");
    EXPECT_TRUE(platform::recordedMessages().empty());

    // A cancelled prompt pauses the mailer: the pause handler refreshes the commands.
    MailerRunning = false;
    w->Mailer->OnPaused(*w->Mailer);
    EXPECT_TRUE(w->acMailerStart->isEnabled());
}

TEST_F(UiTest, LogViewOpensTheLogFile) {
    auto w = makeWindow();
    w->acLogView->trigger();
    EXPECT_EQ(w->opened, QStringList{QString::fromStdString(dir.file("mailerdeamon.log"))});
}

TEST_F(UiTest, LogApplyAsksChoosesReplaysAndReports) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com", "b@example.com"});
    addMessage(*g, "WEL", TcvMessageMode::OneTime);
    const std::string old = dir.file("old.log");
    testsupport::writeFile(old,
                           "2024/03/05 14:07:09 Mailed GRP WEL 00312 a@example.com\r\n"
                           "2024/03/05 14:08:00 Unsbsc GRP --- ----- b@example.com\r\n"
                           "2024/03/05 14:09:00 Joined GRP --- ----- c@example.com\r\n"
                           "2024/03/05 14:09:01 Joined GRP --- ----- d@example.com\r\n");
    w->answers = {QMessageBox::No};
    w->acLogApply->trigger();
    EXPECT_TRUE(w->openDialogs.empty());

    w->answers = {QMessageBox::Yes, QMessageBox::Yes};
    w->openNames = {QString::fromStdString(old)};
    w->acLogApply->trigger();
    ASSERT_EQ(w->openDialogs.size(), 1u);
    EXPECT_EQ(w->openDialogs[0].title, "Open Log File");
    EXPECT_EQ(w->openDialogs[0].filter, "Log files (*.log);;All Files (*)");
    EXPECT_EQ(w->openDialogs[0].proposed, QString::fromStdString(dir.file("mailerdeamon.log")));
    ASSERT_EQ(w->questions.size(), 3u);
    EXPECT_EQ(w->questions[1].icon, QMessageBox::Information);
    EXPECT_EQ(w->questions[2].text,
              "Do you want to process \"Join\" commands and add contacts?\n(there is no more information than just "
              "the email address)");
    EXPECT_EQ(g->ContactCount(), 3);
    EXPECT_NE(g->FindContact("a@example.com")->FindHistory("WEL"), nullptr);
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0],
              "The log file old.log was successfully analysed and 4 entries were\nverified/updated. You can check "
              "the contacts tab for details.");
    EXPECT_FALSE(w->Updating());

    // A log that names only groups the setup lacks.
    const std::string foreign = dir.file("foreign.log");
    testsupport::writeFile(foreign, "2024/03/05 14:07:09 Mailed XYZ WEL 00312 a@example.com\r\n");
    w->answers = {QMessageBox::Yes};
    w->openNames = {QString::fromStdString(foreign)};
    w->acLogApply->trigger();
    ASSERT_EQ(w->messages.size(), 2u);
    EXPECT_EQ(w->messages[1], "The log file was analysed but no entries were found.");

    // A file that does not exist is not applied.
    w->answers = {QMessageBox::Yes};
    w->openNames = {QString::fromStdString(dir.file("none.log"))};
    w->acLogApply->trigger();
    EXPECT_EQ(w->messages.size(), 2u);
}
