// The mailer's timer, its commands and event handlers, and the log commands of the main window.
#include "mailer/cvMailer.h"
#include "model/cvSetup.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "daemon/cvLogReplay.h"
#include "ui/cvMain.h"
#include "daemon/cvScheduler.h"
#include "ui/frmMessageSelect.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QTime>
#include <QUrl>

#include <memory>

namespace {

const char* const StartMailerFirstText =
    "You must first start the mailer, or it will not be able to send any manual messages.\r\rThe mailer can "
    "be started by clicking the \"Start Mailing\" button.";
const char* const NoManualMessageText =
    "Please edit the messages first and make at least one of them \"manual\".";
const char* const ManualNoticeFormat =
    "Notice: you are about to send this message manually\r\nto %1 selected contacts.\rYou can stop this process "
    "by hitting the \"Pause Mailing\" button.";
const char* const ResendText =
    "If you continue, history data in each contact for this message \r\nwill be cleared.\r\nYou will have no way "
    "of knowing which contact already \r\nreceived this message.\r\nContinue anyway?";
const char* const LogApplyText =
    "With this command you can select a log file and apply all its \rinformation (e.g. mailed messages) to your "
    "setup. \r\rThis is ideal for power-outage situations to get the setup up to \rdate.\r\rDo you want to "
    "continue?";
const char* const JoinQuestionText =
    "Do you want to process \"Join\" commands and add contacts?\r(there is no more information than just the "
    "email address)";
const char* const NoEntriesText = "The log file was analysed but no entries were found.";
const char* const LogAppliedFormat =
    "The log file %1 was successfully analysed and %2 entries were\rverified/updated. You can check the "
    "contacts tab for details.";

QString text(const char* s) { return TfrmMain::DisplayText(s); }

}  // namespace

void TfrmMain::tmMailerTimer() {
    if (fileBusy_) return;
    try {
        Scheduler->Tick();
    } catch (const std::exception& e) {
        ReportError(e);
    }
}

void TfrmMain::acMailerStartExecute() {
    if (ReadOnly) {
        ShowMessage(text("This setup is open read-only because another copy of Vantrel writes it: the mailer does "
                         "not run on it."));
        return;
    }
    Mailer->GroupIndex = SelGroup ? Setup->IndexOfGroup(SelGroup) : -1;
    MailerRunning = true;
    RefreshCommands();
    SetStatusText(2, "Mailer: started");
}

void TfrmMain::acMailerPauseExecute() {
    MailerRunning = false;
    RefreshCommands();
    SetStatusText(2, "Mailer: paused");
}

void TfrmMain::acSendManualExecute() {
    TcvGroup* group = SelGroup;
    if (!group) return;
    if (!MailerRunning) {
        ShowMessage(text(StartMailerFirstText));
        return;
    }
    TfmMessageSelect dialog(this);
    std::vector<TcvMessage*> messages;
    for (int i = 0; i < group->MessageCount(); ++i) {
        TcvMessage* m = group->Messages(i);
        if (m->Mode != TcvMessageMode::Manual) continue;
        messages.push_back(m);
        dialog.cbbMessages->addItem(
            QString("[%1] %2").arg(platform::toDisplay(m->Code), platform::toDisplay(m->Title)));
    }
    if (messages.empty()) {
        ShowMessage(text(NoManualMessageText));
        return;
    }
    dialog.cbbMessages->setCurrentIndex(0);
    const std::vector<TcvContact*> contacts = SelectedContacts();
    if (contacts.empty()) return;
    dialog.lbNotice->setText(LineBreaks(QString(ManualNoticeFormat).arg(contacts.size())));

    // The dialog lets the user work meanwhile: keep handles to check that nothing chosen was freed.
    std::vector<std::weak_ptr<const void>> messageAlive, contactAlive;
    for (TcvMessage* m : messages) messageAlive.push_back(m->Alive());
    for (TcvContact* c : contacts) contactAlive.push_back(c->Alive());
    if (!ExecMessageSelect(dialog)) return;
    const int chosen = dialog.cbbMessages->currentIndex();
    if (chosen < 0 || chosen >= static_cast<int>(messages.size()) || messageAlive[chosen].expired()) return;
    std::vector<TcvContact*> living;
    for (size_t i = 0; i < contacts.size(); ++i)
        if (!contactAlive[i].expired()) living.push_back(contacts[i]);

    TcvMailer manual(Setup.get());
    manual.OnSending = Mailer->OnSending;
    manual.OnMailed = Mailer->OnMailed;
    manual.SendManual(&living, messages[chosen]);
}

bool TfrmMain::ExecMessageSelect(TfmMessageSelect& dialog) { return dialog.exec() == QDialog::Accepted; }

void TfrmMain::acMessageResendExecute() {
    TcvMessage* message = SelMessage;
    if (!message) return;
    if (Ask(text(ResendText), QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) !=
        QMessageBox::Yes)
        return;
    // The question let the user work meanwhile.
    message = SelMessage;
    TcvGroup* group = SelGroup;
    if (!message || !group) return;
    for (int i = 0; i < group->ContactCount(); ++i) {
        TcvContact* contact = group->Contacts(i);
        const int position = contact->IndexOfHistory(message->Code);
        if (position >= 0) contact->DeleteHistory(position);
    }
    message->Status = TcvMessageStatus::Stopped;
    RefreshCommands();
    RefreshContactsPage();
    RefreshMessagesPage();
}

void TfrmMain::MailerSending(TcvContact& contact, TcvMessage& message) {
    SetStatusText(2, QString("Mailer: sending %1 to contact %2")
                         .arg(platform::toDisplay(message.Code), platform::toDisplay(contact.Email)));
}

void TfrmMain::MailerMailed(TcvContact& contact, TcvMessage& message, const std::string& subject,
                            const std::string& bodies) {
    if (options::LogMailerActivity) {
        const std::string groupCode = contact.Group ? contact.Group->Code : std::string();
        AppendLogLine(LogFilePath(), MailedLogText(groupCode, message.Code,
                                                   static_cast<long long>(bodies.size() + subject.size()),
                                                   contact.Email));
    }
    RefreshContactsPage();
    RefreshMessagesPage();
    ++Setup->SessionCount;
    ++Setup->TotalCount;
    SetStatusText(1, QString("Session: %1 Total: %2").arg(Setup->SessionCount).arg(Setup->TotalCount));
    SetStatusText(2, QString());
}

void TfrmMain::MailerPaused() {
    RefreshCommands();
    RefreshOptionsPage();
}

void TfrmMain::ParserAction(TcvContact* contact, TcvGroup* group, int action) {
    const std::string email = contact ? contact->Email : std::string();
    const std::string code = group ? group->Code : std::string();
    if (options::LogMailerActivity) AppendLogLine(LogFilePath(), ParserEventLogText(action, code, email));
    RefreshContactsPage();
    RefreshMessagesPage();
    int hour, minute, second, msec;
    platform::decodeTime(platform::now(), hour, minute, second, msec);
    const QString time = QLocale::system().toString(QTime(hour, minute, second), QLocale::ShortFormat);
    SetStatusText(0, QString("%1: %2 %3 in group %4")
                         .arg(time, ParserEventWord(action), platform::toDisplay(email), platform::toDisplay(code)));
    QCoreApplication::processEvents();
}

void TfrmMain::OpenWithDesktop(const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

void TfrmMain::acLogViewExecute() { OpenWithDesktop(QString::fromStdString(LogFilePath())); }

void TfrmMain::acLogApplyExecute() {
    if (Ask(text(LogApplyText), QMessageBox::Information, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    const QString path = ChooseOpenFile("Open Log File", DialogFilter("Log files (*.log)|*.log|All Files|*.*"),
                                        QString::fromStdString(LogFilePath()));
    if (path.isEmpty() || !QFileInfo::exists(path)) return;

    TcvLogReplay replay(*Setup);
    replay.OnStatus = [this](const std::string& status) { SetStatusText(0, platform::toDisplay(status)); };
    replay.OnAskJoin = [this] {
        return Ask(text(JoinQuestionText), QMessageBox::Question,
                   QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) == QMessageBox::Yes;
    };
    replay.OnProcessEvents = [] { QCoreApplication::processEvents(); };
    QApplication::setOverrideCursor(Qt::WaitCursor);
    BeginUpdate();
    try {
        replay.ApplyLines(TcvLogReplay::ReadLines(path.toStdString()));
    } catch (const std::exception& e) {
        EndUpdate();
        QApplication::restoreOverrideCursor();
        RefreshAll();
        ReportError(e);
        return;
    }
    EndUpdate();
    QApplication::restoreOverrideCursor();
    RefreshAll();
    if (replay.Count == 0) ShowMessage(text(NoEntriesText));
    else ShowMessage(LineBreaks(QString(LogAppliedFormat).arg(QFileInfo(path).fileName()).arg(replay.Count)));
}
