#pragma once
// The Accounts page: the setup's mail accounts and the details of the current one.
#include <QObject>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QTableView;
class QWidget;
class TcvAccount;
class TcvReportModel;
class TfrmMain;

class TAccountsPage : public QObject {
    Q_OBJECT
public:
    TAccountsPage(TfrmMain& main, QWidget* page);

    void Refresh();

    void acAccountNewExecute();
    void acAccountDeleteExecute();
    // The test windows, for the current account.
    void acAccountTestEmailExecute();
    void acAccountCheckExecute();

    TcvReportModel* Model;
    QTableView* lvAccounts;
    QAbstractButton *btnAccountNew, *btnAccountDelete, *btnAccountTestEmail, *btnTestCheck;
    QLineEdit *edAccountName, *edAccountSender, *edAccountServer, *edAccountReplyTo, *edAccountUserName,
        *edAccountPassword, *edAccountPortSmtp, *edSendPause, *edSendReuse, *edAccountPortPop3,
        *edAccountCheckInterval;
    QRadioButton *rbAuthNone, *rbAuthLogin;
    QCheckBox *chbMask, *chbSendEmails, *chbReceiveEmails;
    // Connection security beside each port: "None", "STARTTLS", "TLS".
    QComboBox *cbbSecuritySmtp, *cbbSecurityPop3;
    // The SHA-256 fingerprint of the one certificate accepted for the account.
    QLineEdit* edTrustedCertificate;
    // Connects to the account's encrypted services and offers to accept a certificate refused.
    QAbstractButton* btnCheckCertificate;

    // The usual port of a security choice, or 0 when that choice has none.
    static int UsualPort(bool smtp, int security);

private:
    TcvAccount* editedAccount() const;
    void rowStateChanged();
    // Writes a field of the current account when the user leaves the control.
    void onLeave(QWidget* control, void (*write)(TAccountsPage&, TcvAccount&));
    void edited();
    void securityChosen(bool smtp, int security);
    void checkCertificates();

    TfrmMain& main_;
};
