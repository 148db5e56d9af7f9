// The main window's import commands: contacts from a text file, and stored mails run through the
// current group's parsers.
#include "ui/ContactsPage.h"
#include "ui/cvMain.h"
#include "ui/frmImportTxt.h"
#include "ui/frmOEImport.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>

namespace {

// Repainting after every line would make a long import spend its time drawing.
constexpr qint64 RepaintIntervalMs = 30;

// Holds the update guard and the import flag for a scope, also when an error leaves it.
class ImportGuard {
public:
    explicit ImportGuard(TfrmMain& main) : main_(main) {
        main_.Importing = true;
        main_.RefreshCommands();
        main_.BeginUpdate();
    }
    ~ImportGuard() {
        main_.EndUpdate();
        main_.Importing = false;
    }
    ImportGuard(const ImportGuard&) = delete;
    ImportGuard& operator=(const ImportGuard&) = delete;

private:
    TfrmMain& main_;
};

}  // namespace

void TfrmMain::acImportTxtExecute() {
    if (Importing) return;
    TcvGroup* group = SelGroup;
    if (!group) return;
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    ImportTextInfo.OnImportProgress = [this, sinceRepaint](int current, int total) mutable {
        if (current < total && !sinceRepaint.hasExpired(RepaintIntervalMs)) return;
        SetStatusText(0, QString("Importing contact %1 of %2").arg(current).arg(total));
        QApplication::processEvents();
        sinceRepaint.restart();
    };
    try {
        ImportGuard guard(*this);
        ImportTextFile(*this, group, ImportTextInfo);
    } catch (const std::exception& e) {
        ReportError(e);
    }
    ImportTextInfo.OnImportProgress = nullptr;
    // Rows are followed, not rebuilt, so the user's selection stays where it was.
    ContactsPage->UpdateFilter();
    RefreshCommands();
    RefreshGroupsPage();
    RefreshContactsPage();
}

void TfrmMain::acImportOEExecute() {
    if (Importing) return;
    try {
        ImportGuard guard(*this);
        ImportFromOutlookExpress(*this, Setup.get(), SelGroup);
    } catch (const std::exception& e) {
        ReportError(e);
    }
    ContactsPage->UpdateFilter();
    RefreshCommands();
    RefreshContactsPage();
}
