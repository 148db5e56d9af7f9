#include "ui/frmTestEmail.h"

#include "mailer/cvMailer.h"
#include "mailtext/Mail.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/CodePage.h"
#include "ui/cvMain.h"
#include "ui/cvPageTools.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

namespace {

const char* const SentText = "Message sent OK";

QString text(const std::string& s) { return TfrmMain::DisplayText(s); }

QLabel* fact(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// The windows and messages of a test go through the main window, whose dialogs tests answer;
// without one they are shown directly.
int execDialog(TfrmMain* main, QDialog& dialog) { return main ? main->ExecDialog(dialog) : dialog.exec(); }

void showMessage(TfrmMain* main, const QString& message, QMessageBox::Icon icon = QMessageBox::Information) {
    if (main) {
        main->ShowMessage(message, icon);
        return;
    }
    QMessageBox box(icon, TfrmMain::ProductName, message, QMessageBox::Ok);
    box.exec();
}

// Runs a window modally. Its owner may be destroyed during the wait (and the window with it):
// null then, otherwise the window, now owned by the caller, when the user accepted it.
std::unique_ptr<TfmTestEmail> runModally(TfrmMain* main, TfmTestEmail* created) {
    QPointer<TfmTestEmail> window = created;
    const int result = execDialog(main, *window);
    if (!window) return nullptr;
    std::unique_ptr<TfmTestEmail> owned(window.data());
    if (result != QDialog::Accepted) return nullptr;
    return owned;
}

}  // namespace

TfmTestEmail::TfmTestEmail(QWidget* parent) : QDialog(parent) {
    setObjectName("fmTestEmail");
    setWindowTitle("Send Test Email");

    auto* mail = new QFormLayout;
    edRecipients = pages::Field(this, "edRecipients");
    edSubject = pages::Field(this, "edSubject");
    mmBody = new QPlainTextEdit(this);
    mmBody->setObjectName("mmBody");
    cbbContentType = new QComboBox(this);
    cbbContentType->setObjectName("cbbContentType");
    // What the user types goes out as it stands.
    cbbContentType->setEditable(true);
    cbbContentType->addItems({"text/plain", "text/html"});
    lbContentType = new QLabel("Content type:", this);
    lbContentType->setObjectName("lbContentType");
    mail->addRow("To:", edRecipients);
    mail->addRow("Subject:", edSubject);
    mail->addRow("Body:", mmBody);
    mail->addRow(lbContentType, cbbContentType);

    auto* box = new QGroupBox("Account", this);
    box->setObjectName("gbAccount");
    auto* facts = new QFormLayout(box);
    lbAccountName = fact(box, "lbAccountName");
    lbServer = fact(box, "lbServer");
    lbSender = fact(box, "lbSender");
    lbReplyTo = fact(box, "lbReplyTo");
    lbPort = fact(box, "lbPort");
    lbAuthentication = fact(box, "lbAuthentication");
    facts->addRow("Name:", lbAccountName);
    facts->addRow("Server:", lbServer);
    facts->addRow("Sender:", lbSender);
    facts->addRow("Reply To:", lbReplyTo);
    facts->addRow("Port:", lbPort);
    facts->addRow("Authentication:", lbAuthentication);

    QHBoxLayout* buttons = pages::OkCancelRow(this, &btnSend, &btnCancel);
    btnSend->setObjectName("btnSend");
    btnSend->setText("Send");

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(mail, 1);
    layout->addWidget(box);
    layout->addLayout(buttons);
    resize(480, 440);
}

void TfmTestEmail::ShowAccount(const TcvAccount& account) {
    lbAccountName->setText(text(account.Name));
    lbServer->setText(text(account.ServerName));
    lbSender->setText(text(account.Sender));
    lbReplyTo->setText(text(account.ReplyTo));
    lbPort->setText(QString::number(account.PortSmtp));
    lbAuthentication->setText(account.Authentication == TcvAuthentication::Login ? "Login" : "None");
}

void TfmTestEmail::SetFixedContent() {
    edRecipients->setReadOnly(true);
    edSubject->setReadOnly(true);
    mmBody->setReadOnly(true);
    lbContentType->hide();
    cbbContentType->hide();
}

std::string TfmTestEmail::BodyText() const {
    QString body = mmBody->toPlainText();
    body.replace('\n', "\r\n");
    return platform::fromDisplay(body);
}

void AccountTestEmail(TfrmMain& main, TcvAccount* account) {
    if (!account) return;
    if (account->Sender.empty()) {
        main.ShowMessage("Please fill in \"sender\" first.");
        return;
    }
    TcvRef<TcvAccount> sender;
    sender = account;
    auto* created = new TfmTestEmail(&main);
    created->edRecipients->setText(text(options::TestEmailRecipients));
    created->edSubject->setText(text(options::TestEmailSubject));
    created->mmBody->setPlainText(text(options::TestEmailBody));
    created->cbbContentType->setCurrentText(text(options::TestContentType));
    created->ShowAccount(*account);
    const std::unique_ptr<TfmTestEmail> window = runModally(&main, created);
    if (!window) return;

    mailtext::Mail mail;
    options::TestEmailRecipients = platform::fromDisplay(window->edRecipients->text());
    options::TestEmailSubject = platform::fromDisplay(window->edSubject->text());
    options::TestEmailBody = window->BodyText();
    options::TestContentType = platform::fromDisplay(window->cbbContentType->currentText());
    mail.Recipients.setText(options::TestEmailRecipients);
    mail.Subject = options::TestEmailSubject;
    mail.ContentType = options::TestContentType;
    mail.setBodyText(options::TestEmailBody);
    // The modal wait let the window's timer run; the account is looked up again.
    account = sender;
    if (!account) {
        main.ReportError(std::runtime_error("The account was deleted before the test mail was sent"));
        return;
    }
    mail.From.setText(account->Sender);
    mail.ReplyTo.setText(account->ReplyTo.empty() ? account->Sender : account->ReplyTo);
    const QPointer<TfrmMain> shown = &main;
    try {
        pages::BusyCursor busy;
        // Takes the account's settings before it waits: the account is not touched afterwards.
        account->SendMail(mail);
    } catch (const std::exception& e) {
        if (shown) main.ReportError(e);
        return;
    }
    if (shown) main.ShowMessage(SentText);
}

// The number of mails sent.
static int testMessage(QWidget* parent, const TcvMessage& message, TcvGroup* group, TcvContact* contact) {
    if (!group || !contact) return 0;
    QPointer<TfrmMain> main = MainWindowOf(parent);
    if (!group->Account) {
        showMessage(main, "Please select an account for the group first");
        return 0;
    }
    TcvRef<TcvGroup> groupRef;
    TcvRef<TcvContact> contactRef;
    groupRef = group;
    contactRef = contact;
    // A copy of its own: the caller's message may be freed while this test waits.
    TcvMessage copy;
    copy.Assign(message);
    copy.Group = group;

    auto* created = new TfmTestEmail(parent ? parent : main.data());
    created->edRecipients->setText(
        QString("\"%1\" <%2>").arg(platform::toDisplay(contact->FullName()), platform::toDisplay(contact->Email)));
    created->edSubject->setText(text(contact->Personalise(copy.Subject)));
    created->mmBody->setPlainText(text(contact->Personalise(copy.BodyPlain)));
    created->ShowAccount(*group->Account);
    created->SetFixedContent();
    if (!runModally(main, created)) return 0;

    // The modal wait let the timer run: a parser or the sweep may have deleted the contact.
    group = groupRef;
    contact = contactRef;
    if (!group || !contact) {
        showMessage(main, "Error: The contact was deleted before the mail was sent", QMessageBox::Critical);
        return 0;
    }
    const int before = copy.SendCount;
    QString result = SentText;
    QMessageBox::Icon icon = QMessageBox::Information;
    {
        // No event handlers: the test leaves no history and no "Mailed" line.
        TcvMailer mailer(group->Setup);
        pages::BusyCursor busy;
        try {
            mailer.SendToContact(group->Account, &copy, contact);
        } catch (const std::exception& e) {
            result = "Error: " + text(e.what());
            icon = QMessageBox::Critical;
        }
    }
    showMessage(main, result, icon);
    return copy.SendCount - before;
}

void TestMessage(QWidget* parent, TcvMessage& message, TcvGroup* group, TcvContact* contact) {
    const std::weak_ptr<const void> alive = message.Alive();
    const int sent = testMessage(parent, message, group, contact);
    if (!alive.expired()) message.SendCount += sent;
}

void TestMessage(QWidget* parent, const TcvMessage& message, TcvGroup* group, TcvContact* contact) {
    testMessage(parent, message, group, contact);
}

TfrmMain* MainWindowOf(QWidget* widget) {
    for (QWidget* w = widget; w; w = w->parentWidget())
        if (auto* main = qobject_cast<TfrmMain*>(w)) return main;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* main = qobject_cast<TfrmMain*>(w)) return main;
    return nullptr;
}
