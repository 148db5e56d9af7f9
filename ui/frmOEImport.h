#pragma once
// The import wizard for mails stored by Outlook Express 5: choose an identity, a folder and mails
// in it, confirm, and every chosen mail runs through the group's started parsers as if it had just
// arrived. The store is only read.
#include "import/uoexpress.h"
#include "ui/cvMain.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TcvGroup;
class TcvSetup;

class TfmOEImport : public QDialog {
    Q_OBJECT
public:
    // The preview shows at most this many characters of a mail's source (plus the rest of the
    // block that passed it).
    static constexpr size_t PreviewLimit = 10000;

    TfmOEImport(TfrmMain& main, TcvSetup& setup, TcvGroup& group, QWidget* parent = nullptr);
    ~TfmOEImport() override;

    // Enters a step (1 to 4) and builds its page.
    void ShowStep(int step);
    int Step() const { return step_; }
    // The step-4 import is running.
    bool Importing() const { return importing_; }

    // Asks for the store folder when the registry names none; empty when the user cancels.
    // Tests answer it.
    std::function<QString()> ChooseStoreFolder;

    // Identities, folders and the mails of the current folder, in the order shown.
    std::vector<std::string> IdentityKeys, IdentityNames;
    std::string IdentityKey;
    TDbxItemList Folders;
    Toe5_FolderInfo* CurrentFolder = nullptr;
    TDbxItemList Messages;
    int Parsed = 0, Processed = 0;

    QStackedWidget* nbMain;
    QWidget *Step1, *Step2, *Step3;
    QLabel *lbPageTitle, *lbStep1Info, *lbIdentities, *lbMessage, *lbStep3Info, *lbFolder, *lbMessageCount,
        *lbProgress, *lbResult;
    QComboBox* cbbIdentities;
    QWidget *pnlLeft, *pnlTop;
    QSplitter *splVertical, *splHorizontal;
    QTreeWidget *tvFolders, *lvMessages;
    QPlainTextEdit* reMessage;
    QProgressBar* pbProgress;
    QPushButton *btnPrev, *btnNext, *btnCancel;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void enterStep1();
    void enterStep2();
    void enterStep3();
    void runImport();
    void btnNextClick();
    void btnPrevClick();
    void folderSelected(QTreeWidgetItem* item);
    void messagesClicked();
    void showMessageCount();
    void showProgress();
    // The store folder for the chosen identity, asking the user when none is known; false when
    // the user gave none.
    bool haveStoreRoot(bool& chosen);
    std::vector<int> selectedRows() const;
    Toe5_MessageInfo* messageAt(int row) const;
    QTreeWidgetItem* addFolderNode(Toe5_FolderInfo& folder, QTreeWidgetItem* parent);

    TfrmMain& main_;
    TcvRef<TcvSetup> setup_;
    TcvRef<TcvGroup> group_;
    int step_ = 0;
    bool loading_ = false;
    bool cancel_ = false;
    bool importing_ = false;
    bool finished_ = false;
    // The pane sizes: laid out once the message page is first shown, read back while it shows.
    void applyPaneSizes();
    void capturePaneSizes();
    int foldersWidth_, messagesHeight_;
    bool panesApplied_ = false;
};

// Shows the wizard for the group; without a group the user is told to select one first.
void ImportFromOutlookExpress(TfrmMain& main, TcvSetup* setup, TcvGroup* group);
