#pragma once
// The message editor: the plain and HTML bodies in two source editors, the sender, subject,
// priority and receipt address, and a preview personalised for any contact of the message's group.
// It edits a private copy and writes it into the message only when the user saves. In preview mode
// the same window only shows a message as a contact received it.
#include "model/cvSetup.h"

#include <QDialog>

#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class QTextBrowser;
class QsciScintilla;
class TfrmMain;

class TfmAdvanced : public QDialog {
    Q_OBJECT
public:
    explicit TfmAdvanced(TfrmMain& main);
    ~TfmAdvanced() override;

    // Edits the message: saving writes into it. Raises when there is no message.
    void EditMessage(TcvMessage* message);
    // Shows the message without a message to save into. Raises when there is no message.
    void LoadMessage(const TcvMessage* message);
    void SetPreviewMode();
    // Chooses the contact's position in its group as the preview contact.
    void SetPreviewContact(const TcvContact* contact);

    // Writes the edits into the message; false when nothing could be saved (the message is gone
    // and the user did not keep the text as a new message).
    bool Save();
    // The message text shown in the preview: personalised for the chosen contact when there is one.
    std::string PreviewText();
    // The group of the working copy while it exists.
    TcvGroup* WorkingGroup();
    // The contact chosen in the preview list, or none.
    TcvContact* PreviewContact();
    // The message saving writes into, while it exists.
    TcvMessage* Target() const;

    bool PreviewMode = false;
    TcvMessage Working;
    int EditorUpdateCount = 0;
    bool EditorChanged = false;
    std::function<void(TfmAdvanced&)> OnSaved;
    // Runs the message test for the working copy and a contact of its group; unset, Test Send does
    // nothing.
    std::function<void(const TcvMessage& working, TcvGroup* group, TcvContact* contact)> TestSendHandler;
    // Opens a clicked link; the desktop's program for it unless replaced.
    std::function<void(const QUrl& url)> OpenLink;

    QLineEdit *edSender, *edReceipt, *edSubject;
    QComboBox *cbbPreview, *cbbPriority, *cbbType;
    QPushButton *btnPrev, *btnNext, *btnTestSend;
    QLabel* lbContact;
    QTabWidget* pcMessage;
    QWidget *tsPlain, *tsHtml, *tsPreview;
    QsciScintilla *sePlain, *seHtml;
    QTextBrowser* hlPreview;
    QAction *acMessageSave, *acCloseSave, *acCloseCancel, *acTestSend, *mnuPreviewinBrowser;
    QMenu* mnuInsertVars;

    void acTestSendExecute();
    void PreviewInBrowser();
    void InsertVariable(const QString& name);
    void Refresh();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Esc closes through the close question, like the window's close button.
    void reject() override;

private:
    bool updating() const { return EditorUpdateCount > 0; }
    void userChanged();
    void step(int delta);
    // The message is gone: offers to keep the text as a new message of its group.
    bool saveAsNewMessage();

    TfrmMain& main_;
    TcvMessage* target_ = nullptr;
    std::weak_ptr<const void> targetAlive_;
    std::weak_ptr<const void> groupAlive_;
};
