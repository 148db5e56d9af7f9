#include "ui/frmTestCheck.h"

#include "mailtext/HtmlHelpers.h"
#include "mailtext/IdMessageHelpers.h"
#include "mailtext/MailDate.h"
#include "mailtext/Pop3Client.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "ui/cvPageTools.h"
#include "ui/frmHtmlViewer.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <stdexcept>

namespace {

enum Column { ColSubject, ColFrom, ColDate, ColBytes };
constexpr int NumberRole = Qt::UserRole;

QString text(const std::string& s) { return platform::toDisplay(s); }

QString dateText(const mailtext::Mail& mail) {
    double when = 0;
    if (!mailtext::MailDate(mail, when)) return {};
    const platform::DateParts d = platform::decodeDateTime(when);
    const QDateTime dateTime(QDate(d.year, d.month, d.day), QTime(d.hour, d.minute, d.second));
    return QLocale::system().toString(dateTime, QLocale::ShortFormat);
}

QToolButton* button(QWidget* parent, const char* name, QAction* command) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setDefaultAction(command);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return b;
}

QAction* command(QObject* parent, const char* name, const char* caption) {
    auto* a = new QAction(caption, parent);
    a->setObjectName(name);
    return a;
}

QLabel* label(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    return l;
}

}  // namespace

// Keeps the window from being freed and from starting another command while one waits; frees an
// abandoned window once the last command has ended.
class TfmTestCheck::BusyScope {
public:
    explicit BusyScope(TfmTestCheck& window) : window_(window) {
        ++window_.busy_;
        window_.updateCommands();
    }
    ~BusyScope() {
        if (--window_.busy_ > 0) return;
        window_.updateCommands();
        if (window_.abandoned_) {
            window_.Pop.reset();
            window_.deleteLater();
        }
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    TfmTestCheck& window_;
};

TfmTestCheck::TfmTestCheck(TfrmMain& main, TcvAccount& account) : QMainWindow(&main), main_(&main) {
    account_ = &account;
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName("fmTestCheck");
    setWindowTitle("Check POP3 account");

    acAccountCheck = command(this, "acAccountCheck", "Check Account");
    acAccountCancel = command(this, "acAccountCancel", "Cancel Check");
    acClose = command(this, "acClose", "Close");
    acMessageDelete = command(this, "acMessageDelete", "Delete Message");
    acMessageView = command(this, "acMessageView", "View Message");
    acMessageViewRaw = command(this, "acMessageViewRaw", "View Raw Message");
    acMessageForward = command(this, "acMessageForward", "Forward Message");
    connect(acAccountCheck, &QAction::triggered, this, [this] { acAccountCheckExecute(); });
    connect(acAccountCancel, &QAction::triggered, this, [this] { acAccountCancelExecute(); });
    connect(acClose, &QAction::triggered, this, [this] { close(); });
    connect(acMessageDelete, &QAction::triggered, this, [this] { acMessageDeleteExecute(); });
    connect(acMessageView, &QAction::triggered, this, [this] { acMessageViewExecute(); });
    connect(acMessageViewRaw, &QAction::triggered, this, [this] { acMessageViewRawExecute(); });
    connect(acMessageForward, &QAction::triggered, this, [this] { acMessageForwardExecute(); });

    QMenu* file = menuBar()->addMenu("File");
    file->addAction(acClose);
    QMenu* accountMenu = menuBar()->addMenu("Account");
    accountMenu->addAction(acAccountCheck);
    accountMenu->addAction(acAccountCancel);
    QMenu* message = menuBar()->addMenu("Message");
    for (QAction* a : {acMessageView, acMessageViewRaw, acMessageForward, acMessageDelete}) message->addAction(a);

    auto* centre = new QWidget(this);
    setCentralWidget(centre);
    lbServer = label(centre, "lbServer");
    lbPort = label(centre, "lbPort");
    lbUser = label(centre, "lbUser");
    lbStatus = label(centre, "lbStatus");
    lbMessages = label(centre, "lbMessages");
    lbServer->setText(text(account.ServerName));
    lbPort->setText(QString::number(account.PortPop3));
    lbUser->setText(text(account.UserName));
    auto* facts = new QFormLayout;
    facts->addRow("Server:", lbServer);
    facts->addRow("Port:", lbPort);
    facts->addRow("User:", lbUser);
    facts->addRow("Status:", lbStatus);
    facts->addRow("Mailbox:", lbMessages);

    lvMessages = new QTreeWidget(centre);
    lvMessages->setObjectName("lvMessages");
    lvMessages->setRootIsDecorated(false);
    lvMessages->setUniformRowHeights(true);
    lvMessages->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvMessages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvMessages->setHeaderLabels({"Subject", "From", "Date", "Bytes"});
    lvMessages->setColumnWidth(ColSubject, 150);
    lvMessages->setColumnWidth(ColFrom, 150);
    lvMessages->setColumnWidth(ColDate, 100);
    connect(lvMessages, &QTreeWidget::itemSelectionChanged, this, [this] { updateCommands(); });
    connect(lvMessages, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (acMessageView->isEnabled()) acMessageView->trigger();
    });

    auto* buttons = new QVBoxLayout;
    btnCheck = button(centre, "btnCheck", acAccountCheck);
    btnMessageView = button(centre, "btnMessageView", acMessageView);
    btnMessageViewRaw = button(centre, "btnMessageViewRaw", acMessageViewRaw);
    btnMessageForward = button(centre, "btnMessageForward", acMessageForward);
    btnMessageDelete = button(centre, "btnMessageDelete", acMessageDelete);
    btnClose = button(centre, "btnClose", acClose);
    for (QToolButton* b : {btnCheck, btnMessageView, btnMessageViewRaw, btnMessageForward, btnMessageDelete})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(btnClose);

    auto* body = new QHBoxLayout;
    body->addWidget(lvMessages, 1);
    body->addLayout(buttons);
    auto* layout = new QVBoxLayout(centre);
    layout->addLayout(facts);
    layout->addLayout(body, 1);
    resize(620, 400);
    updateCommands();
}

// Without a goodbye: the server keeps what was marked for deletion.
TfmTestCheck::~TfmTestCheck() = default;

void TfmTestCheck::updateCommands() {
    const bool idle = busy_ == 0;
    acAccountCheck->setEnabled(idle && !abandoned_);
    acClose->setEnabled(idle);
    acAccountCancel->setEnabled(checking_ && !cancelled_);
    // One command at a time on the button, so that it offers no menu of the other.
    if (QAction* shown = checking_ ? acAccountCancel : acAccountCheck; btnCheck->defaultAction() != shown) {
        btnCheck->removeAction(btnCheck->defaultAction());
        btnCheck->setDefaultAction(shown);
    }
    const qsizetype selected = idle ? lvMessages->selectedItems().size() : 0;
    acMessageDelete->setEnabled(selected >= 1);
    acMessageForward->setEnabled(selected >= 1);
    acMessageView->setEnabled(selected == 1);
    acMessageViewRaw->setEnabled(selected == 1);
}

void TfmTestCheck::report(const std::exception& error) {
    if (main_) main_->ReportError(error);
    else QMessageBox(QMessageBox::Critical, TfrmMain::ProductName, text(error.what()), QMessageBox::Ok).exec();
}

void TfmTestCheck::acAccountCheckExecute() {
    if (busy_ > 0 || abandoned_) return;
    lbStatus->setText("Checking...");
    lvMessages->clear();
    cancelled_ = false;
    checking_ = true;
    BusyScope busy(*this);
    pages::BusyCursor cursor;
    try {
        if (Pop && Pop->connected()) Pop->quit();
        TcvAccount* account = account_;
        if (!account) throw std::runtime_error("the account was deleted");
        // Nothing of the account is needed after this: the waits below may let it be deleted.
        Pop = std::make_unique<mailtext::Pop3Client>(Pop3SettingsOf(*account));
        if (!stopped()) Pop->connect();
        int count = 0;
        if (!stopped()) count = Pop->messageCount();
        if (!stopped()) {
            const long long size = Pop->mailboxSize();
            lbMessages->setText(QString::asprintf("%d items (%3.1fKb)", count, size / 1024.0));
        }
        for (int i = 1; i <= count && !stopped(); ++i) {
            lbStatus->setText(QString::asprintf("Retrieving %d of %d", i, count));
            QCoreApplication::processEvents();
            if (stopped()) break;
            const std::unique_ptr<mailtext::Mail> header = Pop->retrieveHeader(i);
            const long long bytes = Pop->messageSize(i);
            auto* row = new QTreeWidgetItem(lvMessages);
            row->setText(ColSubject, text(header->Subject));
            row->setText(ColFrom, text(header->From.text()));
            row->setText(ColDate, dateText(*header));
            row->setText(ColBytes, QString::number(bytes));
            row->setData(ColSubject, NumberRole, i);
        }
        lbStatus->setText(stopped() ? "Check cancelled" : "Check succeeded");
    } catch (const std::exception& e) {
        lbStatus->setText(QString("Check failed: %1").arg(text(e.what())));
    }
    checking_ = false;
}

void TfmTestCheck::acAccountCancelExecute() {
    if (!checking_) return;
    cancelled_ = true;
    updateCommands();
}

void TfmTestCheck::Abandon() {
    abandoned_ = true;
    cancelled_ = true;
    if (Pop) Pop->interrupt();
    if (busy_ > 0) {
        hide();
        return;
    }
    Pop.reset();
    deleteLater();
}

void TfmTestCheck::acMessageDeleteExecute() {
    if (busy_ > 0 || !Pop) return;
    // Taken before the first wait: the rows are removed as their mails are marked.
    std::vector<QTreeWidgetItem*> rows;
    for (int i = lvMessages->topLevelItemCount() - 1; i >= 0; --i)
        if (QTreeWidgetItem* row = lvMessages->topLevelItem(i); row->isSelected()) rows.push_back(row);
    BusyScope busy(*this);
    for (QTreeWidgetItem* row : rows) {
        try {
            Pop->deleteMessage(row->data(ColSubject, NumberRole).toInt());
        } catch (const std::exception& e) {
            if (!abandoned_) report(e);
            return;
        }
        if (abandoned_) return;
        delete row;
    }
}

void TfmTestCheck::acMessageViewExecute() { view(false); }

void TfmTestCheck::acMessageViewRawExecute() { view(true); }

void TfmTestCheck::view(bool raw) {
    const QList<QTreeWidgetItem*> rows = lvMessages->selectedItems();
    if (busy_ > 0 || !Pop || rows.size() != 1) return;
    // Held until the viewer closes, so that this window outlives it.
    BusyScope busy(*this);
    std::string html;
    std::string subject;
    try {
        const std::unique_ptr<mailtext::Mail> mail = Pop->retrieve(rows.front()->data(ColSubject, NumberRole).toInt());
        if (abandoned_) return;
        subject = mail->Subject;
        html = mailtext::TextToHtml(raw ? mailtext::MessageToText(mail.get())
                                        : mailtext::HeaderSummary(*mail) + "\r\n" + mailtext::MessageBodyText(*mail));
    } catch (const std::exception& e) {
        if (!abandoned_) report(e);
        return;
    }
    TfmHtmlViewer viewer(this);
    viewer.setWindowTitle(text(subject));
    viewer.ShowHtml(text(html));
    if (main_) main_->ExecDialog(viewer);
    else viewer.exec();
}

void TfmTestCheck::acMessageForwardExecute() {
    if (busy_ > 0 || !Pop) return;
    const char* const NoAccount = "Please select a group and a group account first";
    // The group and its account as the main window shows them now; null once either is gone.
    const auto sendingAccount = [this]() -> TcvAccount* {
        if (!main_ || !main_->SelGroup) return nullptr;
        return main_->SelGroup->Account;
    };
    if (!sendingAccount()) {
        if (main_) main_->ShowMessage(NoAccount);
        return;
    }
    BusyScope busy(*this);
    const std::string proposal = options::TestEmailRecipients;
    QInputDialog box(this);
    box.setWindowTitle("Specify recipient");
    box.setLabelText("Recipient(s)");
    box.setTextValue(text(proposal));
    const bool answered = main_->ExecDialog(box) == QDialog::Accepted;
    const std::string recipients = answered ? platform::fromDisplay(box.textValue()) : proposal;
    options::TestEmailRecipients = recipients;

    std::vector<int> numbers;
    for (int i = 0; i < lvMessages->topLevelItemCount(); ++i)
        if (QTreeWidgetItem* row = lvMessages->topLevelItem(i); row->isSelected())
            numbers.push_back(row->data(ColSubject, NumberRole).toInt());
    pages::BusyCursor cursor;
    int done = 0;
    for (int number : numbers) {
        if (abandoned_) return;
        ++done;
        lbStatus->setText(QString::asprintf("Forwarding message %d of %d...", done, static_cast<int>(numbers.size())));
        std::unique_ptr<mailtext::Mail> received;
        try {
            received = Pop->retrieve(number);
        } catch (const std::exception& e) {
            if (!abandoned_) report(e);
            return;
        }
        // The wait may have let the user delete the group or its account, or close the window.
        TcvAccount* account = abandoned_ ? nullptr : sendingAccount();
        if (!account) {
            if (!abandoned_ && main_) main_->ShowMessage(NoAccount);
            return;
        }
        mailtext::Mail forward;
        mailtext::MakeForward(*received, forward, "", recipients);
        try {
            account->SendMail(forward);
        } catch (const std::exception& e) {
            if (!abandoned_) report(e);
            return;
        }
    }
    if (!abandoned_) lbStatus->setText("Forward succeeded");
}

void TfmTestCheck::closeEvent(QCloseEvent* event) {
    if (busy_ > 0 && !abandoned_) {
        event->ignore();
        return;
    }
    if (!abandoned_ && Pop && Pop->connected()) {
        BusyScope busy(*this);
        try {
            Pop->quit();
        } catch (const std::exception& e) {
            // The deletions the user asked for may not have been made.
            if (!abandoned_) report(e);
        }
    }
    Pop.reset();
    event->accept();
}

TfmTestCheck* OpenTestCheck(TfrmMain& main, TcvAccount* account) {
    if (!account) return nullptr;
    auto* window = new TfmTestCheck(main, *account);
    window->show();
    return window;
}

void CloseTestChecks(TfrmMain& main) {
    // Closing one says goodbye to its server, a wait during which another may go away.
    std::vector<QPointer<TfmTestCheck>> windows;
    for (TfmTestCheck* window : main.findChildren<TfmTestCheck*>(Qt::FindDirectChildrenOnly)) windows.emplace_back(window);
    for (const QPointer<TfmTestCheck>& window : windows) {
        if (!window) continue;
        if (window->Busy()) window->Abandon();
        else window->close();
    }
}

void ReleaseTestChecks(TfrmMain& main) {
    for (TfmTestCheck* window : main.findChildren<TfmTestCheck*>(Qt::FindDirectChildrenOnly)) {
        if (!window->Busy()) continue;
        window->setParent(nullptr);
        window->Abandon();
    }
}
