#pragma once
// One mail sent through an account's SMTP server to try the account: a free test mail from the
// Accounts page, or the personalised version of a message for one contact (the message test).
#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TcvAccount;
class TcvContact;
class TcvGroup;
class TcvMessage;
class TfrmMain;

class TfmTestEmail : public QDialog {
    Q_OBJECT
public:
    explicit TfmTestEmail(QWidget* parent = nullptr);

    // The read-only facts of the account the mail goes out through.
    void ShowAccount(const TcvAccount& account);
    // The message test's form: recipients, subject and body are fixed, the content type is not
    // offered.
    void SetFixedContent();
    // The body as lines joined by CR LF.
    std::string BodyText() const;

    QLineEdit *edRecipients, *edSubject;
    QPlainTextEdit* mmBody;
    QComboBox* cbbContentType;
    QLabel *lbContentType, *lbAccountName, *lbServer, *lbSender, *lbReplyTo, *lbPort, *lbAuthentication;
    QPushButton *btnSend, *btnCancel;
};

// The account test mail: refused without a sender; the four test-data options are offered and,
// only when the user sends, stored back. A sending error is reported by the window.
void AccountTestEmail(TfrmMain& main, TcvAccount* account);

// The message test: the message personalised for the contact, sent through the group's account by
// a mailer of its own, as the sweep would send it but without history, bounce or "Mailed" line.
// The test works on a copy, so the message may be freed meanwhile (an editor's working copy); a
// message that can be written and still exists afterwards counts the mail in its SendCount. The
// windows and messages go through the main window that the parent belongs to.
void TestMessage(QWidget* parent, TcvMessage& message, TcvGroup* group, TcvContact* contact);
void TestMessage(QWidget* parent, const TcvMessage& message, TcvGroup* group, TcvContact* contact);

// The main window a widget belongs to: its own window's ancestors first, otherwise the one main
// window of the application; null when there is none.
TfrmMain* MainWindowOf(QWidget* widget);
