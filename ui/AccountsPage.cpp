#include "ui/AccountsPage.h"

#include "mailtext/MailErrors.h"
#include "mailtext/MailSecurity.h"
#include "mailtext/Pop3Client.h"
#include "mailtext/SmtpClient.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/CodePage.h"
#include "ui/cvMain.h"
#include "ui/cvPageTools.h"
#include "ui/cvReportModel.h"
#include "ui/frmTestCheck.h"
#include "ui/frmTestEmail.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {

QString text(const std::string& s) { return platform::toDisplay(s); }
std::string bytes(const QLineEdit* field) { return platform::fromDisplay(field->text()); }

QFrame* separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// A field followed by the text that explains it.
QWidget* withText(QWidget* parent, QWidget* field, const QString& after) {
    QHBoxLayout* row = nullptr;
    QWidget* box = pages::InlineRow(parent, &row);
    row->addWidget(field);
    row->addWidget(new QLabel(after, box), 1);
    return box;
}

QComboBox* securityChoice(QWidget* parent, const char* name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->addItems({"None", "STARTTLS", "TLS"});
    box->setToolTip("None: everything in clear. STARTTLS: encrypted after the greeting (SMTP 587, POP3 110). "
                    "TLS: encrypted from the start (SMTP 465, POP3 995).");
    return box;
}

// A port field followed by the security choice that goes with it.
QWidget* portRow(QWidget* parent, QLineEdit* port, QComboBox* security) {
    QHBoxLayout* row = nullptr;
    QWidget* box = pages::InlineRow(parent, &row);
    row->addWidget(port);
    row->addWidget(new QLabel("Security:", box));
    row->addWidget(security);
    row->addStretch();
    return box;
}

}  // namespace

int TAccountsPage::UsualPort(bool smtp, int security) {
    static const int smtpPorts[] = {25, 587, 465};
    static const int pop3Ports[] = {110, 110, 995};
    if (security < 0 || security > 2) return 0;
    return smtp ? smtpPorts[security] : pop3Ports[security];
}

TAccountsPage::TAccountsPage(TfrmMain& main, QWidget* page) : QObject(page), main_(main) {
    setObjectName("AccountsPage");
    Model = new TcvReportModel({"Name", "Server", "Username"}, this);
    Model->RowCount = [&main] { return main.Setup ? main.Setup->AccountCount() : 0; };
    Model->RowObject = [&main](int row) -> const void* { return main.Setup->Accounts(row); };
    Model->Cell = [&main](int row, int column) {
        const TcvAccount* a = main.Setup->Accounts(row);
        if (!a) return QString();
        return text(column == 0 ? a->Name : column == 1 ? a->ServerName : a->UserName);
    };
    Model->Icon = [](int) { return QVariant(pages::AccountIcon()); };
    Model->Updating = [&main] { return main.Updating(); };
    Model->EditCell = [this, &main](int row, const QString& name) {
        if (main.Updating()) return;
        if (TcvAccount* a = main.Setup->Accounts(row)) a->SetName(platform::fromDisplay(name));
        edited();
    };
    lvAccounts = pages::ReportList(page, "lvAccounts", Model, false);
    lvAccounts->setEditTriggers(QAbstractItemView::EditKeyPressed);
    for (int i = 0; i < 3; ++i) lvAccounts->setColumnWidth(i, 120);

    QVBoxLayout* column = pages::RecordPage(page, lvAccounts);
    btnAccountNew = pages::CommandButton(page, "btnAccountNew", main.acAccountNew);
    btnAccountDelete = pages::CommandButton(page, "btnAccountDelete", main.acAccountDelete);
    btnAccountTestEmail = pages::CommandButton(page, "btnAccountTestEmail", main.acAccountTestEmail);
    btnTestCheck = pages::CommandButton(page, "btnTestCheck", main.acAccountCheck);
    for (QAbstractButton* b : {btnAccountNew, btnAccountDelete, btnAccountTestEmail, btnTestCheck})
        column->addWidget(b);

    auto* details = new QGroupBox("Account Details", page);
    details->setObjectName("gbAccountDetails");
    auto* form = new QFormLayout(details);
    edAccountName = pages::Field(details, "edAccountName");
    edAccountSender = pages::Field(details, "edAccountSender");
    edAccountServer = pages::Field(details, "edAccountServer");
    edAccountReplyTo = pages::Field(details, "edAccountReplyTo");
    rbAuthNone = pages::RadioButton(details, "rbAuthNone", "None");
    rbAuthLogin = pages::RadioButton(details, "rbAuthLogin", "Requires login/pwd");
    edAccountUserName = pages::Field(details, "edAccountUserName");
    edAccountPassword = pages::Field(details, "edAccountPassword");
    // Masked passwords show one "*" per character.
    edAccountPassword->setStyleSheet("lineedit-password-character: 42");
    chbMask = new QCheckBox("Mask", details);
    chbMask->setObjectName("chbMask");
    chbSendEmails = new QCheckBox("Send emails with this account (SMTP)", details);
    chbSendEmails->setObjectName("chbSendEmails");
    edAccountPortSmtp = pages::Field(details, "edAccountPortSmtp");
    edSendPause = pages::Field(details, "edSendPause");
    edSendReuse = pages::Field(details, "edSendReuse");
    chbReceiveEmails = new QCheckBox("Receive emails with this account (POP3)", details);
    chbReceiveEmails->setObjectName("chbReceiveEmails");
    edAccountPortPop3 = pages::Field(details, "edAccountPortPop3");
    edAccountCheckInterval = pages::Field(details, "edAccountCheckInterval");
    for (QLineEdit* number : {edAccountPortSmtp, edSendPause, edSendReuse, edAccountPortPop3, edAccountCheckInterval})
        number->setMaximumWidth(70);
    cbbSecuritySmtp = securityChoice(details, "cbbSecuritySmtp");
    cbbSecurityPop3 = securityChoice(details, "cbbSecurityPop3");
    edTrustedCertificate = pages::Field(details, "edTrustedCertificate");
    edTrustedCertificate->setPlaceholderText("SHA-256 fingerprint");
    auto* check = new QPushButton("Check Certificate", details);
    check->setObjectName("btnCheckCertificate");
    btnCheckCertificate = check;

    QHBoxLayout* authRow = nullptr;
    QWidget* auth = pages::InlineRow(details, &authRow);
    authRow->addWidget(rbAuthNone);
    authRow->addWidget(rbAuthLogin);
    authRow->addStretch();
    QHBoxLayout* passwordRow = nullptr;
    QWidget* password = pages::InlineRow(details, &passwordRow);
    passwordRow->addWidget(edAccountPassword, 1);
    passwordRow->addWidget(chbMask);
    form->addRow("Name:", edAccountName);
    form->addRow("Default Sender:", edAccountSender);
    form->addRow("Server:", edAccountServer);
    form->addRow("Reply To (if different):", edAccountReplyTo);
    form->addRow("Authentication:", auth);
    form->addRow("Username:", edAccountUserName);
    form->addRow("Password:", password);
    form->addRow(separator(details));
    form->addRow(chbSendEmails);
    form->addRow("Port:", portRow(details, edAccountPortSmtp, cbbSecuritySmtp));
    form->addRow(withText(details, edSendPause, "millisec pause between each email"));
    form->addRow(withText(details, edSendReuse, "emails sent between logoff/logon"));
    form->addRow(separator(details));
    form->addRow(chbReceiveEmails);
    form->addRow("Port:", portRow(details, edAccountPortPop3, cbbSecurityPop3));
    form->addRow("Check mail every", withText(details, edAccountCheckInterval, "seconds"));
    form->addRow(separator(details));
    QHBoxLayout* certificateRow = nullptr;
    QWidget* certificate = pages::InlineRow(details, &certificateRow);
    certificateRow->addWidget(edTrustedCertificate, 1);
    certificateRow->addWidget(btnCheckCertificate);
    form->addRow("Accepted certificate:", certificate);
    column->addWidget(details, 1);

    connect(lvAccounts->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { rowStateChanged(); });
    onLeave(edAccountName, [](TAccountsPage& p, TcvAccount& a) {
        const std::string name = bytes(p.edAccountName);
        if (name != a.Name) a.SetName(name);
    });
    onLeave(edAccountSender, [](TAccountsPage& p, TcvAccount& a) { a.Sender = bytes(p.edAccountSender); });
    onLeave(edAccountServer, [](TAccountsPage& p, TcvAccount& a) { a.ServerName = bytes(p.edAccountServer); });
    onLeave(edAccountReplyTo, [](TAccountsPage& p, TcvAccount& a) { a.ReplyTo = bytes(p.edAccountReplyTo); });
    onLeave(edAccountUserName, [](TAccountsPage& p, TcvAccount& a) { a.UserName = bytes(p.edAccountUserName); });
    onLeave(edAccountPassword, [](TAccountsPage& p, TcvAccount& a) { a.Password = bytes(p.edAccountPassword); });
    onLeave(edAccountPortSmtp,
            [](TAccountsPage& p, TcvAccount& a) { a.PortSmtp = pages::IntegerOr(p.edAccountPortSmtp->text(), 0); });
    onLeave(edAccountPortPop3,
            [](TAccountsPage& p, TcvAccount& a) { a.PortPop3 = pages::IntegerOr(p.edAccountPortPop3->text(), 0); });
    onLeave(edSendPause, [](TAccountsPage& p, TcvAccount& a) { a.SendPause = pages::IntegerOr(p.edSendPause->text(), 200); });
    onLeave(edSendReuse, [](TAccountsPage& p, TcvAccount& a) { a.SendReuse = pages::IntegerOr(p.edSendReuse->text(), 10); });
    onLeave(edAccountCheckInterval, [](TAccountsPage& p, TcvAccount& a) {
        a.CheckInterval = pages::IntegerOr(p.edAccountCheckInterval->text(), 60);
    });
    // The two check boxes are applied when the user leaves them, to the account current then.
    onLeave(chbSendEmails, [](TAccountsPage& p, TcvAccount& a) { a.UseForSending = p.chbSendEmails->isChecked(); });
    onLeave(chbReceiveEmails,
            [](TAccountsPage& p, TcvAccount& a) { a.UseForReceiving = p.chbReceiveEmails->isChecked(); });
    auto authClicked = [this](TcvAuthentication value) {
        TcvAccount* account = editedAccount();
        if (!account) return;
        account->Authentication = value;
        edited();
    };
    connect(rbAuthNone, &QRadioButton::clicked, this, [authClicked] { authClicked(TcvAuthentication::None); });
    connect(rbAuthLogin, &QRadioButton::clicked, this, [authClicked] { authClicked(TcvAuthentication::Login); });
    connect(cbbSecuritySmtp, &QComboBox::activated, this, [this](int index) { securityChosen(true, index); });
    connect(cbbSecurityPop3, &QComboBox::activated, this, [this](int index) { securityChosen(false, index); });
    onLeave(edTrustedCertificate, [](TAccountsPage& p, TcvAccount& a) {
        const std::string typed = bytes(p.edTrustedCertificate);
        const std::string fingerprint = mailtext::NormaliseFingerprint(typed);
        if (!fingerprint.empty() || typed.find_first_not_of(" \t") == std::string::npos) {
            if (fingerprint != a.TrustedCertificate) {
                a.TrustedCertificate = fingerprint;
                a.Changed();
            }
            return;
        }
        p.main_.ShowMessage("\"" + p.edTrustedCertificate->text() +
                                "\" is not a SHA-256 fingerprint: 64 hexadecimal digits, with or without colons.",
                            QMessageBox::Warning);
    });
    connect(btnCheckCertificate, &QAbstractButton::clicked, this, [this] { checkCertificates(); });
    connect(chbMask, &QCheckBox::clicked, this, [this](bool checked) {
        if (main_.Updating()) return;
        options::MaskPasswords = checked;
        Refresh();
    });
}

void TAccountsPage::onLeave(QWidget* control, void (*write)(TAccountsPage&, TcvAccount&)) {
    pages::OnLeave(control, [this, write] {
        TcvAccount* account = editedAccount();
        if (!account) return;
        write(*this, *account);
        edited();
    });
}

void TAccountsPage::securityChosen(bool smtp, int security) {
    TcvAccount* account = editedAccount();
    if (!account) return;
    QLineEdit* portField = smtp ? edAccountPortSmtp : edAccountPortPop3;
    int32_t& port = smtp ? account->PortSmtp : account->PortPop3;
    (smtp ? account->SecuritySmtp : account->SecurityPop3) = security;
    // A port the user chose stays; one that is still the usual port of another choice follows.
    const int shown = pages::IntegerOr(portField->text(), -1);
    const int usual = UsualPort(smtp, security);
    for (int other = 0; other <= 2; ++other)
        if (UsualPort(smtp, other) != usual && shown == UsualPort(smtp, other)) port = usual;
    // Unlike its neighbours, a change of security is worth a question before closing unsaved.
    account->Changed();
    edited();
}

void TAccountsPage::checkCertificates() {
    TcvRef<TcvAccount> account;
    account = editedAccount();
    if (!account) return;
    if (account->SecuritySmtp == 0 && account->SecurityPop3 == 0) {
        main_.ShowMessage("Neither sending nor receiving uses STARTTLS or TLS: there is no certificate to check.");
        return;
    }
    struct Service {
        bool smtp;
        const char* name;
    };
    for (const Service service : {Service{true, "SMTP"}, Service{false, "POP3"}}) {
        if (!account) return;
        if ((service.smtp ? account->SecuritySmtp : account->SecurityPop3) == 0) continue;
        try {
            // No login is tried: SMTP ends after the encrypted greeting, POP3 offers an empty user
            // name, which servers refuse.
            if (service.smtp) {
                mailtext::SmtpSettings settings = SmtpSettingsOf(*account);
                settings.Authentication = mailtext::SmtpAuthentication::None;
                mailtext::SmtpClient client(settings);
                client.connect();
                client.quit();
            } else {
                mailtext::Pop3Settings settings = Pop3SettingsOf(*account);
                settings.UserName.clear();
                mailtext::Pop3Client client(settings);
                try {
                    client.connect();
                } catch (const mailtext::EMailAuthError&) {
                    // The certificate was taken before the empty user name was refused.
                }
            }
            if (!account) return;
            main_.ShowMessage(QString("%1: the certificate of %2 is trusted.").arg(service.name, text(account->ServerName)));
        } catch (const mailtext::EMailCertificateError& e) {
            const QString question = TfrmMain::DisplayText(e.what()) +
                                     "\n\nAccept exactly this certificate for the account from now on, also when no "
                                     "authority vouches for it? Only do this when you know the server uses it.";
            if (main_.Ask(question, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
                return;
            // The question let the user change or delete anything meanwhile.
            if (!account) return;
            account->TrustedCertificate = e.Fingerprint;
            account->Changed();
            edited();
        } catch (const mailtext::EMailError& e) {
            main_.ShowMessage(TfrmMain::DisplayText(e.what()), QMessageBox::Warning);
            return;
        }
    }
}

TcvAccount* TAccountsPage::editedAccount() const { return main_.Updating() ? nullptr : main_.SelAccount.get(); }

void TAccountsPage::edited() {
    main_.RefreshCommands();
    Refresh();
}

void TAccountsPage::rowStateChanged() {
    if (main_.Updating()) return;
    const QModelIndexList rows = lvAccounts->selectionModel()->selectedRows();
    main_.SelectAccount(rows.isEmpty() ? nullptr : main_.Setup->Accounts(rows.first().row()));
}

void TAccountsPage::Refresh() {
    if (main_.Updating()) return;
    main_.BeginUpdate();
    TcvAccount* account = main_.SelAccount;
    const int count = main_.Setup->AccountCount();
    main_.pnlAccountsTitle->setText(account ? QString(" %1 accounts [%2]").arg(count).arg(text(account->Name))
                                            : QString(" %1 accounts").arg(count));
    Model->Refresh();
    pages::ShowCurrentRow(lvAccounts, account ? main_.Setup->IndexOfAccount(account) : -1);

    chbMask->setChecked(options::MaskPasswords);
    edAccountPassword->setEchoMode(options::MaskPasswords ? QLineEdit::Password : QLineEdit::Normal);
    if (account) {
        edAccountName->setText(text(account->Name));
        edAccountSender->setText(text(account->Sender));
        edAccountServer->setText(text(account->ServerName));
        edAccountReplyTo->setText(text(account->ReplyTo));
        edAccountUserName->setText(text(account->UserName));
        edAccountPassword->setText(text(account->Password));
        edAccountPortSmtp->setText(QString::number(account->PortSmtp));
        edSendPause->setText(QString::number(account->SendPause));
        edSendReuse->setText(QString::number(account->SendReuse));
        edAccountPortPop3->setText(QString::number(account->PortPop3));
        edAccountCheckInterval->setText(QString::number(account->CheckInterval));
        (account->Authentication == TcvAuthentication::Login ? rbAuthLogin : rbAuthNone)->setChecked(true);
        chbSendEmails->setChecked(account->UseForSending);
        chbReceiveEmails->setChecked(account->UseForReceiving);
        cbbSecuritySmtp->setCurrentIndex(static_cast<int>(mailtext::MailSecurityFromInt(account->SecuritySmtp)));
        cbbSecurityPop3->setCurrentIndex(static_cast<int>(mailtext::MailSecurityFromInt(account->SecurityPop3)));
        edTrustedCertificate->setText(QString::fromStdString(account->TrustedCertificate));
    } else {
        for (QLineEdit* field : {edAccountName, edAccountSender, edAccountServer, edAccountReplyTo, edAccountUserName,
                                 edAccountPassword, edAccountPortSmtp, edSendPause, edSendReuse, edAccountPortPop3,
                                 edAccountCheckInterval, edTrustedCertificate})
            field->clear();
        cbbSecuritySmtp->setCurrentIndex(0);
        cbbSecurityPop3->setCurrentIndex(0);
        rbAuthNone->setChecked(true);
        chbSendEmails->setChecked(false);
        chbReceiveEmails->setChecked(false);
    }
    main_.EndUpdate();
}

void TAccountsPage::acAccountNewExecute() {
    auto* account = new TcvAccount;
    account->SetName("NewAccount" + std::to_string(main_.Setup->AccountCount() + 1));
    main_.Setup->AddAccount(account);
    main_.Setup->SelectAccount(account);
}

void TAccountsPage::acAccountDeleteExecute() {
    const int position = main_.Setup->IndexOfAccount(main_.SelAccount);
    main_.SelectAccount(nullptr);
    main_.Setup->DeleteAccount(position);
    main_.Setup->SelectAccount(main_.Setup->Accounts(position));
}

void TAccountsPage::acAccountTestEmailExecute() { AccountTestEmail(main_, main_.SelAccount); }

void TAccountsPage::acAccountCheckExecute() { OpenTestCheck(main_, main_.SelAccount); }
