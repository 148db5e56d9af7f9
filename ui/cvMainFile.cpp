// The setup file commands of the main window, and its close check.
#include "mailer/cvMailer.h"
#include "model/cvSetup.h"
#include "platform/CodePage.h"
#include "daemon/cvSetupFile.h"
#include "ui/cvMain.h"
#include "daemon/cvScheduler.h"
#include "ui/frmTestCheck.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>

#include <stdexcept>

namespace {

const char* const SaveFirstText = "The current setup has changed. Do you want to save first?";
const char* const SaveBeforeClosingText = "The current setup has changed. Do you want to save before closing?";

const char* const HeldFormat =
    "The setup %1 is open in another copy of %2 (%3).\r\rOpen it read-only? You can look at it and save it "
    "under another name, but it is not saved under this name, and nothing is sent or polled from it.";
const char* const SaveAsHeldFormat = "The setup %1 is open in another copy of %2 (%3): it cannot be saved under that name.";

QString setupFilter() { return QString("%1 files (*%2)|*%3").arg(TfrmMain::ProductName, ".xml", ".xml"); }

}  // namespace

std::shared_ptr<void> TfrmMain::beginFileOperation(const QString& text) {
    ProgressBytes = 0;
    OperationText = text;
    SetStatusText(0, OperationText);
    QCoreApplication::processEvents();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    fileBusy_ = true;
    return std::shared_ptr<void>(nullptr, [this](void*) {
        QApplication::restoreOverrideCursor();
        fileBusy_ = false;
        SetStatusText(0, QString());
    });
}

void TfrmMain::LoadSetup(const QString& path) {
    const auto operation = beginFileOperation(QString("Loading project %1...").arg(QFileInfo(path).fileName()));
    BeginUpdate();
    try {
        Setup->Clear();
        ClearSelection();
        if (!path.isEmpty()) Setup->LoadFromFile(path.toStdString());
    } catch (...) {
        // Nothing of the emptied setup is worth keeping.
        EndUpdate();
        Setup->Modified = false;
        throw;
    }
    EndUpdate();
    Setup->Modified = false;
}

void TfrmMain::SaveSetup(const QString& path) {
    if (path.isEmpty()) throw std::runtime_error("Filename is empty!");
    const auto operation = beginFileOperation(QString("Saving project %1...").arg(QFileInfo(path).fileName()));

    // The name always holds a complete setup; the old content stays as the ".bak".
    SaveSetupFile(*Setup, path.toStdString());
    RefreshCommands();
}

bool TfrmMain::ClaimSetupFile(const QString& path) {
    const std::string lockName = LockNameOf(path.toStdString());
    if (SetupLock && SetupLock->path() == lockName) return true;
    platform::LockHolder holder;
    std::unique_ptr<platform::FileLock> lock;
    try {
        lock = LockSetupFile(path.toStdString(), &holder);
    } catch (const std::exception&) {
        // A folder that takes no lock file takes no saved setup either: its saves report that.
        SetupLock.reset();
        ReadOnly = false;
        Scheduler->Passive = false;
        return true;
    }
    if (!lock) {
        const QString text = QString(HeldFormat).arg(path, ProductName, QString::fromStdString(HolderText(holder)));
        if (Ask(LineBreaks(text), QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No) !=
            QMessageBox::Yes)
            return false;
        SetupLock.reset();
        ReadOnly = true;
        Scheduler->Passive = true;
        MailerRunning = false;
        SetStatusText(2, "Mailer: not active");
        return true;
    }
    SetupLock = std::move(lock);
    ReadOnly = false;
    Scheduler->Passive = false;
    return true;
}

void TfrmMain::OpenAtStart(const QString& path) {
    options::SetupName = QFileInfo(path).absoluteFilePath().toStdString();
    FailedLoadName.clear();
    Scheduler->LoadPending = true;
}

bool TfrmMain::SaveCommand() {
    // A setup another program writes is saved only under another name.
    if (options::SetupName.empty() || ReadOnly) return SaveAsCommand();
    try {
        SaveSetup(QString::fromStdString(options::SetupName));
        FailedLoadName.clear();
        return true;
    } catch (const std::exception& e) {
        ReportError(e);
        RefreshCommands();
        return false;
    }
}

bool TfrmMain::SaveAsCommand() {
    const QString chosen = ChooseSaveFile("Save setup as...", DialogFilter(setupFilter()));
    if (chosen.isEmpty()) return false;
    const QString path = ChangeFileExt(chosen, ".xml");
    // Saved under a new name, the setup is this window's to write there, and only there.
    std::unique_ptr<platform::FileLock> lock;
    if (!SetupLock || SetupLock->path() != LockNameOf(path.toStdString())) {
        platform::LockHolder holder;
        try {
            lock = LockSetupFile(path.toStdString(), &holder);
            if (!lock) {
                ShowMessage(QString(SaveAsHeldFormat).arg(path, ProductName, QString::fromStdString(HolderText(holder))),
                            QMessageBox::Warning);
                return false;
            }
        } catch (const std::exception&) {
            // No lock file there: the save itself reports what it cannot write.
        }
    }
    try {
        SaveSetup(path);
    } catch (const std::exception& e) {
        ReportError(e);
        RefreshCommands();
        return false;
    }
    if (lock) SetupLock = std::move(lock);
    ReadOnly = false;
    Scheduler->Passive = false;
    options::SetupName = path.toStdString();
    FailedLoadName.clear();
    RefreshCommands();
    return true;
}

bool TfrmMain::SaveBeforeReplacing() {
    if (!Setup->Modified) return true;
    const auto answer =
        Ask(SaveFirstText, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Cancel) return false;
    // The user asked for the changes to be kept: when they were not saved, nothing is replaced.
    if (answer == QMessageBox::Yes) return SaveAsCommand();
    return answer == QMessageBox::No;
}

void TfrmMain::acSetupNewExecute() {
    if (!SaveBeforeReplacing()) return;
    BeginUpdate();
    Setup->Clear();
    Setup->Modified = false;
    ClearSelection();
    options::SetupName.clear();
    SetupLock.reset();
    ReadOnly = false;
    Scheduler->Passive = false;
    FailedLoadName.clear();
    EndUpdate();
    RefreshAll();
}

void TfrmMain::acSetupLoadExecute() {
    if (!SaveBeforeReplacing()) return;
    const QString path = ChooseOpenFile("Open a saved setup", DialogFilter(setupFilter() + "|All files|*.*"),
                                        QString::fromStdString(options::SetupName));
    if (path.isEmpty()) return;
    if (!ClaimSetupFile(path)) return;
    ClearSelection();
    try {
        LoadSetup(path);
        options::SetupName = path.toStdString();
        FailedLoadName.clear();
    } catch (const std::exception& e) {
        // The setup is empty now: it must not be saved over any file under the old name.
        options::SetupName.clear();
        SetupLock.reset();
        RefreshAll();
        ReportError(e);
        return;
    }
    RefreshAll();
}

void TfrmMain::LoadPendingSetup() {
    if (options::SetupName.empty()) return;
    const QString path = QString::fromStdString(options::SetupName);
    if (!ClaimSetupFile(path)) {
        options::SetupName.clear();
        FailedLoadName = path;
        RefreshAll();
        return;
    }
    try {
        LoadSetup(path);
    } catch (...) {
        SetupLock.reset();
        // Untitled from now on, so that no save writes the empty setup over the file; the name is
        // offered again at the next start.
        options::SetupName.clear();
        FailedLoadName = path;
        RefreshAll();
        throw;
    }
    RefreshAll();
}

void TfrmMain::ShowProgress(int64_t bytes) {
    if (bytes - ProgressBytes <= 5120) return;
    SetStatusText(0, OperationText + QString("(%1 Kb)").arg(bytes / 1024));
    QCoreApplication::processEvents();
    ProgressBytes = bytes;
}

QString TfrmMain::ChooseOpenFile(const QString& title, const QString& filter, const QString& proposed) {
    return QFileDialog::getOpenFileName(this, title, proposed, filter);
}

QString TfrmMain::ChooseSaveFile(const QString& title, const QString& filter) {
    return QFileDialog::getSaveFileName(this, title, QString(), filter);
}

bool TfrmMain::CloseQuery() {
    savedOnClose_ = false;
    if (!Setup->Modified) return true;
    // Saved by the shut-down without asking; an untitled setup has nowhere to go and is asked for.
    if (options::SaveAtShutdown && !options::SetupName.empty() && !ReadOnly) return true;
    const auto answer = Ask(SaveBeforeClosingText, QMessageBox::Warning,
                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::No) return true;
    if (answer != QMessageBox::Yes) return false;
    // A save that fails or whose file dialog is cancelled keeps the window open.
    savedOnClose_ = SaveCommand();
    return savedOnClose_;
}

bool TfrmMain::ShutDown() {
    if (options::SaveAtShutdown && !options::SetupName.empty() && !savedOnClose_ && !ReadOnly) {
        try {
            SaveSetup(QString::fromStdString(options::SetupName));
        } catch (const std::exception& e) {
            ReportError(e);
            return false;
        }
    }
    tmMailer->stop();
    if (windowState() == Qt::WindowNoState) {
        const QRect r = geometry();
        options::MainWindow = {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    if (options::SetupName.empty() && !FailedLoadName.isEmpty())
        options::SetupName = FailedLoadName.toStdString();
    try {
        OptionStore.SaveToRegistry(options::RegistryBase);
    } catch (const std::exception& e) {
        ReportError(e);
    }
    return true;
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (shutDown_) {
        event->accept();
        return;
    }
    // An editor's changes are saved into the setup before the setup itself is asked about.
    if (!CloseEditors() || !CloseQuery() || !ShutDown()) {
        event->ignore();
        return;
    }
    shutDown_ = true;
    event->accept();
    CloseTestChecks(*this);
}
