#pragma once
// A window on an account's POP3 mailbox: lists the mails by their headers over a connection of
// its own, kept between commands, and lets the user view, delete or forward them. Several may be
// open at once; none blocks the main window.
#include "ui/cvMain.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QLabel;
class QToolButton;
class QTreeWidget;
namespace mailtext {
class Pop3Client;
}

class TfmTestCheck : public QMainWindow {
    Q_OBJECT
public:
    // The window belongs to the main window, whose dialogs and messages it uses; the account is
    // not owned, and is only read when a check starts.
    TfmTestCheck(TfrmMain& main, TcvAccount& account);
    ~TfmTestCheck() override;

    void acAccountCheckExecute();
    void acAccountCancelExecute();
    void acMessageDeleteExecute();
    void acMessageViewExecute();
    void acMessageViewRawExecute();
    void acMessageForwardExecute();

    // A check or another command waits on the server, a viewer is open, or the window says goodbye
    // to the server.
    bool Busy() const { return busy_ > 0; }
    bool Checking() const { return checking_; }
    // The main window goes away: a command under way ends at its next step (a wait on the server
    // is woken at once) and the window frees itself once it has ended, at once when none runs.
    // Nothing of the setup is touched afterwards, and the server is not told goodbye.
    void Abandon();

    QLabel *lbServer, *lbPort, *lbUser, *lbStatus, *lbMessages;
    QTreeWidget* lvMessages;
    QAction *acAccountCheck, *acAccountCancel, *acClose, *acMessageDelete, *acMessageView, *acMessageViewRaw,
        *acMessageForward;
    QToolButton *btnCheck, *btnClose, *btnMessageDelete, *btnMessageView, *btnMessageViewRaw, *btnMessageForward;
    // The window's own connection, kept between commands.
    std::unique_ptr<mailtext::Pop3Client> Pop;

protected:
    // Says goodbye to the server, which commits the deletions; refused while a command runs.
    void closeEvent(QCloseEvent* event) override;

private:
    class BusyScope;
    void view(bool raw);
    // The enabled commands: only cancel during a check, nothing during another command, otherwise
    // by the selection.
    void updateCommands();
    void report(const std::exception& error);
    // True when the command under way must stop: cancelled, or the window abandoned.
    bool stopped() const { return cancelled_ || abandoned_; }

    QPointer<TfrmMain> main_;
    TcvRef<TcvAccount> account_;
    int busy_ = 0;
    bool checking_ = false;
    bool cancelled_ = false;
    bool abandoned_ = false;
};

// Opens a check window for the account; nothing happens without one.
TfmTestCheck* OpenTestCheck(TfrmMain& main, TcvAccount* account);
// The main window closes: idle check windows close as with their Close command, busy ones are
// abandoned.
void CloseTestChecks(TfrmMain& main);
// The main window is being destroyed: busy check windows are detached from it and abandoned, so
// that they outlive it until their command has ended; idle ones go with it.
void ReleaseTestChecks(TfrmMain& main);
