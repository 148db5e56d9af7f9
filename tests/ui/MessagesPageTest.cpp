#include "UiTestSupport.h"

#include "ui/MessagesPage.h"
#include "ui/cvReportModel.h"
#include "ui/frmAdvanced.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>

namespace {

QString cell(TfrmMain& w, int row, int column) {
    return w.lvMessages->model()->data(w.lvMessages->model()->index(row, column)).toString();
}

// Types into the body field as the user does (which marks it changed) and leaves it.
void typeBody(TMessagesPage& page, const QString& text) {
    page.reMessageBody->selectAll();
    page.reMessageBody->insertPlainText(text);
    leave(page.reMessageBody);
}

}  // namespace

TEST_F(UiTest, MessageRowsShowTitleCodeStatusAndTypeTexts) {
    auto w = makeWindow();
    TMessagesPage& page = *w->MessagesPage;
    EXPECT_EQ(w->pnlMessagesTitle->text(), " Select group first");
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    addMessage(*g, "ONE", TcvMessageMode::OneTime, "Once");
    TcvMessage* later = addMessage(*g, "LAT", TcvMessageMode::Triggered, "Later");
    later->TriggerAmount = 3;
    later->TriggerUnit = TcvTriggerUnit::Days;
    later->Trigger = TcvTrigger::OnUnsubscribe;
    later->Status = TcvMessageStatus::Live;
    later->Subject = "See you";
    later->BodyPlain = "plain";
    later->BodyHtml = "<p>html</p>\r\n<p>two</p>";
    addMessage(*g, "MAN", TcvMessageMode::Manual, "By hand")->Status = TcvMessageStatus::Sent;
    addMessage(*g, "ODD", static_cast<TcvMessageMode>(7), "Odd");
    w->Setup->SelectGroup(g);

    QAbstractItemModel* model = w->lvMessages->model();
    const QStringList headers = {"Title", "Code", "Status", "Type"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(model->headerData(i, Qt::Horizontal).toString(), headers[i]);
    EXPECT_EQ(w->lvMessages->columnWidth(0), 100);
    EXPECT_EQ(w->lvMessages->columnWidth(2), 60);
    EXPECT_EQ(cell(*w, 0, 3), "One-Time only");
    EXPECT_EQ(cell(*w, 1, 3), "Triggered 3 Days after OnUnsubscribe");
    EXPECT_EQ(cell(*w, 2, 3), "Manual");
    EXPECT_EQ(cell(*w, 3, 3), "Unknown");
    EXPECT_EQ(cell(*w, 1, 1), "LAT");
    EXPECT_EQ(cell(*w, 1, 2), "Live");
    EXPECT_EQ(cell(*w, 2, 2), "Sent");
    EXPECT_EQ(w->pnlMessagesTitle->text(), " 4 messages in group GRP group ");
    // Without a message: empty details, one-time checked, the trigger controls off at their first entries.
    EXPECT_TRUE(page.rbOneTime->isChecked());
    EXPECT_FALSE(page.edMessageAmount->isEnabled());
    EXPECT_EQ(page.cbbTriggerUnits->currentIndex(), 0);

    w->lvMessages->selectRow(1);
    EXPECT_EQ(w->SelMessage.get(), later);
    EXPECT_EQ(w->pnlMessagesTitle->text(), " 4 messages in group GRP group [Later]");
    EXPECT_EQ(page.cbbMessageTitle->currentText(), "Later");
    EXPECT_EQ(page.edMessageCode->text(), "LAT");
    EXPECT_TRUE(page.rbTriggered->isChecked());
    EXPECT_TRUE(page.edMessageAmount->isEnabled());
    EXPECT_TRUE(page.cbbTrigger->isEnabled());
    EXPECT_EQ(page.edMessageAmount->text(), "3");
    EXPECT_EQ(page.cbbTriggerUnits->currentText(), "Days");
    EXPECT_EQ(page.cbbTrigger->currentText(), "OnUnsubscribe");
    EXPECT_EQ(page.edMessageSubject->text(), "See you");
    // An HTML body is what the field shows, as text/html.
    EXPECT_EQ(page.reMessageBody->toPlainText(), "<p>html</p>\n<p>two</p>");
    EXPECT_EQ(page.cbbContentType->currentText(), "text/html");
    EXPECT_TRUE(w->acMessageStop->isEnabled());
    EXPECT_FALSE(w->acMessageStart->isEnabled());

    w->lvMessages->selectRow(3);
    EXPECT_FALSE(page.rbOneTime->isChecked() || page.rbTriggered->isChecked() || page.rbManual->isChecked());
    w->lvMessages->selectRow(0);
    EXPECT_EQ(page.cbbContentType->currentText(), "text/plain");
    EXPECT_FALSE(page.edMessageAmount->isEnabled());
}

TEST_F(UiTest, NewDeleteStartAndStopMessages) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    addMessage(*g, "NEW", TcvMessageMode::OneTime, "First");
    addMessage(*g, "SEC", TcvMessageMode::OneTime, "Second");
    w->Setup->SelectGroup(g);
    w->Setup->Modified = false;
    w->acMessageNew->trigger();
    ASSERT_EQ(g->MessageCount(), 3);
    TcvMessage* made = g->Messages(2);
    EXPECT_EQ(made->Title, "NewMessage3");
    // The code comes from the title, made unique in the group.
    EXPECT_EQ(made->Code, "NE2");
    EXPECT_EQ(w->SelMessage.get(), made);
    EXPECT_TRUE(w->lvMessages->selectionModel()->isRowSelected(2, {}));
    EXPECT_TRUE(w->Setup->Modified);

    w->Setup->Modified = false;
    w->acMessageStart->trigger();
    EXPECT_EQ(made->Status, TcvMessageStatus::Live);
    EXPECT_EQ(cell(*w, 2, 2), "Live");
    w->acMessageStop->trigger();
    EXPECT_EQ(made->Status, TcvMessageStatus::Stopped);
    EXPECT_FALSE(w->Setup->Modified);

    w->lvMessages->selectRow(0);
    w->acMessageDelete->trigger();
    ASSERT_EQ(g->MessageCount(), 2);
    EXPECT_EQ(w->SelMessage.get(), g->Messages(0));
    EXPECT_EQ(g->Messages(0)->Title, "Second");
    EXPECT_TRUE(w->Setup->Modified);
    w->lvMessages->selectRow(1);
    w->acMessageDelete->trigger();
    EXPECT_EQ(w->SelMessage.get(), nullptr);
    EXPECT_EQ(w->MessagesPage->edMessageCode->text(), "");
}

TEST_F(UiTest, TitleAndCodeRulesOfTheMessageDetails) {
    auto w = makeWindow();
    TMessagesPage& page = *w->MessagesPage;
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    TcvMessage* first = addMessage(*g, "WEL", TcvMessageMode::OneTime, "Welcome");
    addMessage(*g, "ABC", TcvMessageMode::OneTime, "Other");
    w->Setup->SelectGroup(g);
    g->SelectMessage(first);

    w->Setup->Modified = false;
    typeAndLeave(page.edMessageCode, "xyz");
    EXPECT_EQ(first->Code, "XYZ");
    EXPECT_EQ(first->Title, "Welcome");
    EXPECT_EQ(page.edMessageCode->text(), "XYZ");
    EXPECT_TRUE(w->Setup->Modified);
    // Another message has the code: a numbered variant.
    typeAndLeave(page.edMessageCode, "abc");
    EXPECT_EQ(first->Code, "AB2");
    EXPECT_EQ(cell(*w, 0, 1), "AB2");

    w->Setup->Modified = false;
    typeAndLeave(page.cbbMessageTitle->lineEdit(), "Reminder");
    EXPECT_EQ(first->Title, "Reminder");
    EXPECT_EQ(first->Code, "REM");
    EXPECT_TRUE(w->Setup->Modified);
    // Leaving the title unchanged keeps the code the user chose.
    typeAndLeave(page.edMessageCode, "kep");
    leave(page.cbbMessageTitle->lineEdit());
    EXPECT_EQ(first->Code, "KEP");

    // The title edited in place in the list goes through the same rule.
    w->lvMessages->model()->setData(w->lvMessages->model()->index(0, 0), "Goodbye");
    EXPECT_EQ(first->Title, "Goodbye");
    EXPECT_EQ(first->Code, "GOO");
}

TEST_F(UiTest, MessageDetailsAreWrittenWithoutMarkingTheSetup) {
    auto w = makeWindow();
    TMessagesPage& page = *w->MessagesPage;
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    TcvMessage* m = addMessage(*g, "WEL", TcvMessageMode::OneTime, "Welcome");
    m->BodyPlain = "Hello";
    w->Setup->SelectGroup(g);
    g->SelectMessage(m);
    w->Setup->Modified = false;

    page.rbTriggered->click();
    EXPECT_EQ(m->Mode, TcvMessageMode::Triggered);
    EXPECT_TRUE(page.cbbTriggerUnits->isEnabled());
    typeAndLeave(page.edMessageAmount, "twelve");
    EXPECT_EQ(m->TriggerAmount, 1);
    typeAndLeave(page.edMessageAmount, "12");
    EXPECT_EQ(m->TriggerAmount, 12);
    page.cbbTriggerUnits->setCurrentIndex(4);
    emit page.cbbTriggerUnits->activated(4);
    page.cbbTrigger->setCurrentIndex(2);
    emit page.cbbTrigger->activated(2);
    EXPECT_EQ(m->TriggerUnit, TcvTriggerUnit::Weeks);
    EXPECT_EQ(m->Trigger, TcvTrigger::UserEvent1);
    EXPECT_EQ(cell(*w, 0, 3), "Triggered 12 Weeks after UserEvent1");
    typeAndLeave(page.edMessageSubject, "Hi %FirstName");
    EXPECT_EQ(m->Subject, "Hi %FirstName");
    page.rbManual->click();
    EXPECT_EQ(m->Mode, TcvMessageMode::Manual);
    EXPECT_FALSE(page.edMessageAmount->isEnabled());

    // "Send as:" alone changes nothing, not even when the body is left unchanged.
    page.cbbContentType->setCurrentIndex(1);
    emit page.cbbContentType->activated(1);
    leave(page.reMessageBody);
    EXPECT_EQ(m->BodyPlain, "Hello");
    EXPECT_EQ(m->BodyHtml, "");
    // A changed body goes where "Send as:" says, and the other body is emptied.
    page.cbbContentType->setCurrentIndex(1);
    typeBody(page, "<b>Hello</b>\nthere");
    EXPECT_EQ(m->BodyHtml, "<b>Hello</b>\r\nthere");
    EXPECT_EQ(m->BodyPlain, "");
    EXPECT_EQ(page.cbbContentType->currentText(), "text/html");
    page.cbbContentType->setCurrentIndex(0);
    typeBody(page, "Plain again");
    EXPECT_EQ(m->BodyPlain, "Plain again");
    EXPECT_EQ(m->BodyHtml, "");
    EXPECT_FALSE(w->Setup->Modified);
}

TEST_F(UiTest, AMailSentKeepsTheListSelectionAndWhatTheUserIsTyping) {
    auto w = makeWindow();
    TMessagesPage& page = *w->MessagesPage;
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"ann@example.com"});
    TcvMessage* a = addMessage(*g, "AAA", TcvMessageMode::OneTime, "Alpha");
    TcvMessage* b = addMessage(*g, "BBB", TcvMessageMode::OneTime, "Beta");
    w->Setup->SelectGroup(g);
    g->SelectMessage(b);
    QSignalSpy resets(w->MessagesModel, &QAbstractItemModel::modelReset);
    QSignalSpy changes(w->MessagesModel, &QAbstractItemModel::dataChanged);
    // The user is half-way through new texts.
    page.edMessageSubject->setText("Half typed");
    page.edMessageSubject->setModified(true);
    page.reMessageBody->setPlainText("draft");
    page.reMessageBody->document()->setModified(true);

    a->Status = TcvMessageStatus::Sent;
    w->MailerMailed(*g->Contacts(0), *a, "s", "b");
    EXPECT_EQ(resets.count(), 0);
    EXPECT_GE(changes.count(), 1);
    EXPECT_EQ(cell(*w, 0, 2), "Sent");
    EXPECT_TRUE(w->lvMessages->selectionModel()->isRowSelected(1, {}));
    EXPECT_EQ(w->SelMessage.get(), b);
    EXPECT_EQ(page.edMessageSubject->text(), "Half typed");
    EXPECT_EQ(page.reMessageBody->toPlainText(), "draft");
    leave(page.edMessageSubject);
    leave(page.reMessageBody);
    EXPECT_EQ(b->Subject, "Half typed");
    EXPECT_EQ(b->BodyPlain, "draft");
    // Once taken, the field shows the message again.
    b->Subject = "Changed by the editor";
    w->RefreshMessagesPage();
    EXPECT_EQ(page.edMessageSubject->text(), "Changed by the editor");

    // Another message shows its own texts.
    page.edMessageSubject->setText("not taken");
    page.edMessageSubject->setModified(true);
    w->lvMessages->selectRow(0);
    EXPECT_EQ(page.edMessageSubject->text(), "");
}

TEST_F(UiTest, AdvancedOpensAnEditorOfItsOwnOnTheCurrentMessage) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    TcvMessage* m = addMessage(*g, "WEL", TcvMessageMode::OneTime, "Welcome");
    TcvMessage* other = addMessage(*g, "OTH", TcvMessageMode::OneTime, "Other");
    w->Setup->SelectGroup(g);
    // Nothing to edit: reported, no window.
    w->acMessageAdvanced->trigger();
    EXPECT_TRUE(w->Editors().isEmpty());
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "There is no message to edit.");

    g->SelectMessage(m);
    w->acMessageAdvanced->trigger();
    g->SelectMessage(other);
    w->acMessageAdvanced->trigger();
    ASSERT_EQ(w->Editors().size(), 2);
    QPointer<TfmAdvanced> first = w->Editors()[0];
    TfmAdvanced* second = w->Editors()[1];
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());
    EXPECT_EQ(first->windowTitle(), "Advanced Message Editor");
    EXPECT_EQ(first->edSubject->text(), "");
    EXPECT_EQ(second->Working.Title, "Other");

    // The first editor saves into the message it was opened on, though another one is current now.
    w->Setup->Modified = false;
    first->edSubject->setText("Welcome aboard");
    first->acCloseSave->trigger();
    EXPECT_EQ(m->Subject, "Welcome aboard");
    EXPECT_EQ(other->Subject, "");
    EXPECT_TRUE(w->Setup->Modified);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(w->Editors().size(), 1);
}
