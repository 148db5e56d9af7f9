#include "UiTestSupport.h"

#include "ui/ContactsPage.h"
#include "ui/MessagesPage.h"
#include "ui/frmAdvanced.h"

#include <Qsci/qsciscintilla.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>

namespace {

class MessageEditorTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        w = makeWindow();
        g = addGroup(*w->Setup, "GRP", {"ann@example.com", "bob@example.com"});
        g->Contacts(0)->FirstName = "Ann";
        g->Contacts(0)->LastName = "Lee";
        g->Contacts(1)->FirstName = "Bob";
        addField(*g, "City");
        m = addMessage(*g, "WEL", TcvMessageMode::OneTime, "Welcome");
        m->BodyPlain = "Hello %FirstName";
        m->Subject = "Hi";
        w->Setup->SelectGroup(g);
        g->SelectMessage(m);
    }

    TfmAdvanced* open() {
        w->acMessageAdvanced->trigger();
        return w->Editors().isEmpty() ? nullptr : w->Editors().last().data();
    }
    static bool tabShown(TfmAdvanced& e, QWidget* page) {
        return e.pcMessage->isTabVisible(e.pcMessage->indexOf(page));
    }
    static void deleteClosed() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    QString closeQuestion() const {
        return "You have made changes to this message. Do you want\nto save these changes?";
    }

    std::unique_ptr<TestWindow> w;
    TcvGroup* g = nullptr;
    TcvMessage* m = nullptr;
};

}  // namespace

TEST_F(MessageEditorTest, ClosingAsksOnlyAfterChangesAndYesSavesTheHtmlBody) {
    // Nothing changed: closing asks nothing and frees the window.
    QPointer<TfmAdvanced> e = open();
    ASSERT_TRUE(e);
    e->close();
    deleteClosed();
    EXPECT_TRUE(e.isNull());
    EXPECT_TRUE(w->questions.empty());

    m->BodyHtml = "<p>old</p>";
    e = open();
    e->pcMessage->setCurrentWidget(e->tsHtml);
    e->seHtml->setCursorPosition(0, 3);
    QTest::keyClicks(e->seHtml, "new ");
    EXPECT_TRUE(e->EditorChanged);
    // "Exit (dont save)" still asks; Cancel keeps the window.
    e->acCloseCancel->trigger();
    ASSERT_EQ(w->questions.size(), 1u);
    EXPECT_EQ(w->questions[0].text, closeQuestion());
    EXPECT_EQ(w->questions[0].icon, QMessageBox::Warning);
    EXPECT_EQ(w->questions[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_TRUE(e->isVisible());
    EXPECT_EQ(m->BodyHtml, "<p>old</p>");
    w->Setup->Modified = false;
    w->answers = {QMessageBox::Yes};
    e->close();
    deleteClosed();
    EXPECT_TRUE(e.isNull());
    EXPECT_EQ(m->BodyHtml, "<p>new old</p>");
    // The saved edit is offered for saving when the program ends.
    EXPECT_TRUE(w->Setup->Modified);
    EXPECT_EQ(m->BodyPlain, "Hello %FirstName");

    // No closes without saving.
    e = open();
    e->edSubject->setText("Dropped");
    w->answers = {QMessageBox::No};
    e->acCloseCancel->trigger();
    deleteClosed();
    EXPECT_TRUE(e.isNull());
    EXPECT_EQ(m->Subject, "Hi");
}

TEST_F(MessageEditorTest, MessageTypeDecidesTheEditorTabs) {
    TfmAdvanced* e = open();
    EXPECT_EQ(e->cbbType->currentText(), "Simple");
    EXPECT_TRUE(tabShown(*e, e->tsPlain));
    EXPECT_FALSE(tabShown(*e, e->tsHtml));
    EXPECT_EQ(e->sePlain->text(), "Hello %FirstName");

    // "Html only" shows once the page changes; the plain body edited before is still saved.
    e->sePlain->setText("Changed plain");
    e->cbbType->setCurrentIndex(2);
    EXPECT_TRUE(tabShown(*e, e->tsPlain));
    e->pcMessage->setCurrentWidget(e->tsHtml);
    EXPECT_FALSE(tabShown(*e, e->tsPlain));
    EXPECT_TRUE(tabShown(*e, e->tsHtml));
    // A page change does not throw away what was typed.
    EXPECT_EQ(e->sePlain->text(), "Changed plain");
    e->seHtml->setText("<p>x</p>");
    e->acMessageSave->trigger();
    EXPECT_EQ(m->BodyPlain, "Changed plain");
    EXPECT_EQ(m->BodyHtml, "<p>x</p>");
    e->close();

    m->BodyPlain.clear();
    m->BodyHtml.clear();
    e = open();
    EXPECT_EQ(e->cbbType->currentIndex(), -1);
    EXPECT_TRUE(tabShown(*e, e->tsPlain));
    EXPECT_FALSE(tabShown(*e, e->tsHtml));
    EXPECT_TRUE(tabShown(*e, e->tsPreview));
    m->BodyHtml = "<b>h</b>";
    m->BodyPlain = "p";
    e = open();
    EXPECT_EQ(e->cbbType->currentText(), "Simple and Html");
    EXPECT_TRUE(tabShown(*e, e->tsPlain) && tabShown(*e, e->tsHtml));
}

TEST_F(MessageEditorTest, InsertMenuPutsTheVariableAtTheCaretOfTheActiveEditor) {
    m->BodyHtml = "<p>Dear </p>";
    TfmAdvanced* e = open();
    const QList<QAction*> entries = e->mnuInsertVars->actions();
    ASSERT_EQ(entries.size(), 11);
    EXPECT_EQ(entries[1]->text(), "FullName");
    EXPECT_EQ(entries[10]->text(), "City");

    e->pcMessage->setCurrentWidget(e->tsHtml);
    e->seHtml->setCursorPosition(0, 8);
    entries[1]->trigger();
    EXPECT_EQ(e->seHtml->text(), "<p>Dear %FullName</p>");
    EXPECT_EQ(e->sePlain->text(), "Hello %FirstName");
    EXPECT_TRUE(e->EditorChanged);
    // A selection is replaced.
    e->pcMessage->setCurrentWidget(e->tsPlain);
    e->sePlain->setSelection(0, 0, 0, 5);
    entries[10]->trigger();
    EXPECT_EQ(e->sePlain->text(), "%City %FirstName");
    // On the preview page nothing is inserted anywhere.
    e->pcMessage->setCurrentWidget(e->tsPreview);
    entries[0]->trigger();
    EXPECT_EQ(e->sePlain->text(), "%City %FirstName");
    EXPECT_EQ(e->seHtml->text(), "<p>Dear %FullName</p>");
}

TEST_F(MessageEditorTest, PreviewContactStepsPastTheEndsToNoContact) {
    TfmAdvanced* e = open();
    ASSERT_EQ(e->cbbPreview->count(), 2);
    EXPECT_EQ(e->cbbPreview->currentText(), "ann@example.com");
    EXPECT_EQ(e->lbContact->text(), "Ann Lee");
    e->pcMessage->setCurrentWidget(e->tsPreview);
    EXPECT_TRUE(e->hlPreview->toPlainText().contains("Hello Ann"));

    e->btnNext->click();
    EXPECT_EQ(e->cbbPreview->currentIndex(), 1);
    EXPECT_TRUE(e->hlPreview->toPlainText().contains("Hello Bob"));
    e->btnNext->click();
    EXPECT_EQ(e->cbbPreview->currentIndex(), -1);
    EXPECT_EQ(e->lbContact->text(), "");
    EXPECT_TRUE(e->hlPreview->toPlainText().contains("Hello %FirstName"));
    e->btnNext->click();
    EXPECT_EQ(e->cbbPreview->currentIndex(), 0);
    e->btnPrev->click();
    EXPECT_EQ(e->cbbPreview->currentIndex(), -1);
    e->btnPrev->click();
    EXPECT_EQ(e->cbbPreview->currentIndex(), 1);
    // Choosing in the list shows that contact.
    e->cbbPreview->setCurrentIndex(0);
    EXPECT_TRUE(e->hlPreview->toPlainText().contains("Hello Ann"));
    EXPECT_FALSE(e->EditorChanged);
}

TEST_F(MessageEditorTest, PreviewFollowsLinksOnlyOnAClickAndOnlyToTheWebOrMail) {
    m->BodyHtml = "<a href=\"https://example.com/x\">site</a><img src=\"file:///etc/passwd\">";
    TfmAdvanced* e = open();
    std::vector<QUrl> opened;
    e->OpenLink = [&opened](const QUrl& url) { opened.push_back(url); };
    e->pcMessage->setCurrentWidget(e->tsPreview);
    EXPECT_TRUE(opened.empty());
    emit e->hlPreview->anchorClicked(QUrl("https://example.com/x"));
    emit e->hlPreview->anchorClicked(QUrl("file:///etc/passwd"));
    emit e->hlPreview->anchorClicked(QUrl("javascript:alert(1)"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("https://example.com/x"));
    EXPECT_TRUE(e->hlPreview->source().isEmpty());
}

TEST_F(MessageEditorTest, PreviewInBrowserWritesTheBytesAndOpensThem) {
    m->BodyHtml = "<p>Caf\xE9 %FirstName</p>";
    TfmAdvanced* e = open();
    const QString file = TfrmMain::DataFolder() + "temp.html";
    QFile::remove(file);
    e->mnuPreviewinBrowser->trigger();
    ASSERT_EQ(w->opened.size(), 1);
    EXPECT_EQ(w->opened[0], file);
    EXPECT_EQ(testsupport::readFile(file.toStdString()), "<p>Caf\xE9 Ann</p>");
    QFile::remove(file);

    // A file that cannot be written is reported, and nothing is opened.
    {
        testsupport::FileSizeLimit full(8);
        e->mnuPreviewinBrowser->trigger();
    }
    EXPECT_EQ(w->opened.size(), 1);
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(MessageEditorTest, TestSendGetsTheWorkingCopyAndTheChosenContact) {
    TfmAdvanced* e = open();
    // Unset, the command does nothing.
    e->acTestSend->trigger();
    std::vector<std::pair<std::string, TcvContact*>> sends;
    e->TestSendHandler = [&](const TcvMessage& working, TcvGroup* group, TcvContact* contact) {
        EXPECT_EQ(group, g);
        EXPECT_NE(&working, m);
        sends.emplace_back(working.BodyPlain, contact);
    };
    e->sePlain->setText("Edited");
    leave(e->sePlain);
    e->btnNext->click();
    e->acTestSend->trigger();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].first, "Edited");
    EXPECT_EQ(sends[0].second, g->Contacts(1));
    e->btnNext->click();
    e->acTestSend->trigger();
    EXPECT_EQ(sends.size(), 1u);
    EXPECT_EQ(m->BodyPlain, "Hello %FirstName");
}

TEST_F(MessageEditorTest, SavingKeepsWhatThePageAndTheMailerChangedMeanwhile) {
    TfmAdvanced* e = open();
    int saved = 0;
    auto previous = e->OnSaved;
    e->OnSaved = [&](TfmAdvanced& editor) {
        ++saved;
        previous(editor);
    };
    m->Status = TcvMessageStatus::Live;
    m->SendCount = 7;
    typeAndLeave(w->MessagesPage->edMessageCode, "new");
    e->edSubject->setText("Later subject");
    e->cbbPriority->setCurrentIndex(0);
    e->acMessageSave->trigger();
    EXPECT_EQ(saved, 1);
    EXPECT_EQ(m->Subject, "Later subject");
    EXPECT_EQ(m->Priority, 0);
    EXPECT_EQ(m->Status, TcvMessageStatus::Live);
    EXPECT_EQ(m->SendCount, 7);
    EXPECT_EQ(m->Code, "NEW");
    EXPECT_FALSE(e->EditorChanged);
    // The page shows what was saved.
    EXPECT_EQ(w->MessagesPage->edMessageSubject->text(), "Later subject");
}

TEST_F(MessageEditorTest, AMessageDeletedMeanwhileIsNeverWrittenButItsTextCanBeKept) {
    TfmAdvanced* e = open();
    e->sePlain->setText("Kept text");
    w->acMessageDelete->trigger();
    ASSERT_EQ(g->MessageCount(), 0);
    // No: nothing saved and the window stays open.
    w->answers = {QMessageBox::No};
    EXPECT_FALSE(e->Save());
    ASSERT_EQ(w->questions.size(), 1u);
    EXPECT_TRUE(w->questions[0].text.startsWith("The message \"Welcome\" was deleted while you edited it."));
    EXPECT_EQ(g->MessageCount(), 0);
    EXPECT_TRUE(e->EditorChanged);
    // Yes: a new stopped message of the group with the text and the old code.
    w->answers = {QMessageBox::Yes};
    w->Setup->Modified = false;
    EXPECT_TRUE(e->Save());
    ASSERT_EQ(g->MessageCount(), 1);
    TcvMessage* kept = g->Messages(0);
    EXPECT_EQ(kept->BodyPlain, "Kept text");
    EXPECT_EQ(kept->Code, "WEL");
    EXPECT_EQ(kept->Status, TcvMessageStatus::Stopped);
    EXPECT_TRUE(w->Setup->Modified);
    // Later saves go into that message.
    e->edSubject->setText("Again");
    EXPECT_TRUE(e->Save());
    EXPECT_EQ(kept->Subject, "Again");
    EXPECT_EQ(g->MessageCount(), 1);

    // The whole setup replaced: the text cannot go anywhere.
    e->seHtml->setText("<p>lost</p>");
    w->Setup->Modified = false;
    w->acSetupNew->trigger();
    ASSERT_EQ(w->Setup->GroupCount(), 0);
    w->answers = {QMessageBox::Yes};
    const size_t asked = w->questions.size();
    e->close();
    EXPECT_EQ(w->questions.size(), asked + 1);
    EXPECT_TRUE(e->isVisible());
    ASSERT_FALSE(w->messages.empty());
    EXPECT_TRUE(w->messages.back().contains("cannot be saved"));
    EXPECT_EQ(e->WorkingGroup(), nullptr);
    EXPECT_EQ(e->PreviewContact(), nullptr);
    e->pcMessage->setCurrentWidget(e->tsPreview);
    w->answers = {QMessageBox::No};
    e->close();
    deleteClosed();
    EXPECT_TRUE(w->Editors().isEmpty());
}

TEST_F(MessageEditorTest, ClosingTheMainWindowAsksEachEditorFirst) {
    TfmAdvanced* e = open();
    e->edSubject->setText("Unsaved");
    // Cancel in the editor keeps both windows open.
    w->answers = {QMessageBox::Cancel};
    EXPECT_FALSE(w->close());
    EXPECT_EQ(w->Editors().size(), 1);
    EXPECT_EQ(w->questions.size(), 1u);
    // Yes saves the edit into the setup, which the window then offers to save; No ends without it.
    w->answers = {QMessageBox::Yes, QMessageBox::No};
    options::SaveAtShutdown = false;
    w->Setup->Modified = false;
    EXPECT_TRUE(w->close());
    EXPECT_EQ(m->Subject, "Unsaved");
    EXPECT_EQ(w->questions.size(), 3u);
}

TEST_F(MessageEditorTest, HistoryItemIsPreviewedAsTheContactReceivedIt) {
    TcvContact* bob = g->Contacts(1);
    bob->AddHistory("WEL", 46000);
    bob->AddHistory("GON", 46001);
    g->SelectContact(bob);
    w->lvContacts->selectRow(1);
    ASSERT_EQ(w->SelContact.get(), bob);
    bool shown = false;
    w->onDialog = [&](QDialog& dialog) {
        auto* e = qobject_cast<TfmAdvanced*>(&dialog);
        EXPECT_NE(e, nullptr);
        if (!e) return QDialog::Rejected;
        shown = true;
        EXPECT_TRUE(e->PreviewMode);
        EXPECT_EQ(e->pcMessage->currentWidget(), e->tsPreview);
        EXPECT_FALSE(tabShown(*e, e->tsPlain) || tabShown(*e, e->tsHtml));
        EXPECT_TRUE(e->edSubject->isReadOnly());
        EXPECT_FALSE(e->cbbPreview->isEnabled() || e->btnNext->isEnabled() || e->cbbType->isEnabled());
        EXPECT_TRUE(e->btnTestSend->isHidden());
        EXPECT_EQ(e->lbContact->text(), "Bob");
        EXPECT_TRUE(e->hlPreview->toPlainText().contains("Hello Bob"));
        return QDialog::Rejected;
    };
    selectRows(w->lvContactHistory, {0});
    ASSERT_TRUE(w->acHistPreview->isEnabled());
    w->acHistPreview->trigger();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(w->messages.empty());

    // A code that no longer names a message: reported, no window.
    shown = false;
    selectRows(w->lvContactHistory, {1});
    w->acHistPreview->trigger();
    EXPECT_FALSE(shown);
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "There is no message to show.");
}
