#pragma once
// The main window: the pages that show the setup, the setup file commands, the mailer's timer and
// commands, the log commands, the title and the status bar. It owns the options store, the setup
// and the mailer for the whole run.
#include "import/TextImport.h"
#include "options/OptionRefs.h"
#include "platform/AntiFreeze.h"
#include "platform/UiHooks.h"
#include "ui/Filters.h"

#include "platform/FileLock.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QTabWidget;
class QTableView;
class QTimer;
class QWidget;
class TAccountsPage;
class TContactsPage;
class TGroupsPage;
class TMessagesPage;
class TfmAdvanced;
class TParsersPage;
class TVariablesPage;
class TcvAccount;
class TcvContact;
class TcvFieldDef;
class TcvGroup;
class TcvMailer;
class TcvMessage;
class TcvParser;
class TcvReportModel;
class TcvScheduler;
class TcvSetup;
class TfmMessageSelect;

// A reference into the setup that reads as null once its object has been freed.
template <class T>
class TcvRef {
public:
    TcvRef& operator=(T* object) {
        ptr_ = object;
        alive_ = object ? object->Alive() : std::weak_ptr<const void>();
        return *this;
    }
    T* get() const { return ptr_ && !alive_.expired() ? ptr_ : nullptr; }
    operator T*() const { return get(); }
    T* operator->() const { return get(); }

private:
    T* ptr_ = nullptr;
    std::weak_ptr<const void> alive_;
};

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* ProductName = "Vantrel";
    static constexpr const char* ProductVersion = "v1.0.5";

    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Texts of the model and of the program's messages as shown: a lone CR (which the texts use as
    // a line break) becomes a line feed.
    static QString DisplayText(const std::string& text);
    static QString LineBreaks(QString text);
    // "Description|pattern|..." as a file dialog filter.
    static QString DialogFilter(const QString& pairs);
    // The path with its extension replaced by the given one (added when there is none).
    static QString ChangeFileExt(const QString& path, const QString& ext);
    // The folder for the log file and the browser preview: the program's folder when it can be
    // written to, otherwise the user's data folder. Ends with a separator. Paths of files are kept
    // as UTF-8 bytes, as the file system takes them.
    static QString DataFolder();

    // Update guard.
    void BeginUpdate();
    void EndUpdate();
    bool Updating() const { return UpdateCount > 0; }

    // Selection model.
    void SelectGroup(TcvGroup* group);
    void SelectContact(TcvContact* contact);
    void SelectMessage(TcvMessage* message);
    void SelectParser(TcvParser* parser);
    void SelectFieldDef(TcvFieldDef* fieldDef);
    void SelectAccount(TcvAccount* account);
    void ClearSelection();

    // The caption and the enabled state of every command.
    void RefreshCommands();
    // Everything, in the order of the window's start.
    void RefreshAll();
    void RefreshGroupsPage();
    void RefreshContactsPage();
    void RefreshMessagesPage();
    void RefreshParsersPage();
    void RefreshAccountsPage();
    void RefreshVariablesPage();
    void RefreshOptionsPage();

    // Load and save of the setup file; both raise on failure after restoring the cursor and the
    // status bar.
    void LoadSetup(const QString& path);
    void SaveSetup(const QString& path);
    // The file commands; true when the setup was saved.
    bool SaveCommand();
    bool SaveAsCommand();

    QString StatusText(int panel) const;
    void SetStatusText(int panel, const QString& text);
    // Load and save progress: the byte count reached.
    void ShowProgress(int64_t bytes);
    // The contacts of the selected rows of the contact list, in display order.
    std::vector<TcvContact*> SelectedContacts() const;
    // The contact list columns for the current group.
    void BuildContactColumns();

    // Mailer event handlers, shared with the setup's temporary mailers.
    void MailerSending(TcvContact& contact, TcvMessage& message);
    void MailerMailed(TcvContact& contact, TcvMessage& message, const std::string& subject,
                      const std::string& bodies);
    void MailerPaused();
    void ParserAction(TcvContact* contact, TcvGroup* group, int action);

    // Window state.
    TOptionsManager OptionStore;
    bool CheckingDomain = false;
    int UpdateCount = 0;
    QString OperationText;
    int64_t ProgressBytes = 0;
    TcvRef<TcvAccount> SelAccount;
    TcvRef<TcvContact> SelContact;
    TcvRef<TcvGroup> SelGroup;
    std::unique_ptr<TcvSetup> Setup;
    std::unique_ptr<TcvMailer> Mailer;
    TcvRef<TcvMessage> SelMessage;
    TcvRef<TcvParser> SelParser;
    TcvRef<TcvFieldDef> SelFieldDef;
    // The contacts shown on the Contacts page.
    TFilter Filter;
    // The tick's work, with InTimer, LoadPending and LastAutoSave.
    std::unique_ptr<TcvScheduler> Scheduler;
    // The name a start-up load failed on: offered again at the next start unless another name was
    // chosen meanwhile.
    QString FailedLoadName;
    // This window is the one writer of the setup file it opened, through the lock beside it. A
    // setup another program writes is open read-only: nothing is saved under its name, sent or
    // polled, and Save turns into Save As.
    std::unique_ptr<platform::FileLock> SetupLock;
    bool ReadOnly = false;
    // The text import's settings, kept for the run so that the next import starts with them.
    TcvImportTextInfo ImportTextInfo;
    // An import is running: its progress lets the user reach the window, which must not start a
    // second one over the first.
    bool Importing = false;
    // Opens a setup file from the command line instead of the last one.
    void OpenAtStart(const QString& path);
    // The message editors open without blocking; each frees itself when it closes.
    void AddEditor(TfmAdvanced* editor);
    QList<QPointer<TfmAdvanced>> Editors() const;

    // Controls.
    QTimer* tmMailer;
    QTabWidget* pcMain;
    QWidget *tsGroups, *tsContacts, *tsMessages, *tsParsers, *tsAccounts, *tsWebHtml, *tsVariables, *tsOptions;
    QLabel *pnlGroupsTitle, *pnlContactsTitle, *pnlMessagesTitle, *pnlParsersTitle, *pnlAccountsTitle,
        *pnlWebHtmlTitle, *pnlVariablesTitle, *pnlOptionsTitle;
    QTableView *lvGroups, *lvContacts, *lvMessages, *lvParsers, *lvAccounts, *lvContactHistory;
    TcvReportModel *GroupsModel, *ContactsModel, *MessagesModel, *ParsersModel, *AccountsModel, *HistoryModel;
    QListWidget* clbFieldDefs;
    QLineEdit* edSearch;
    QComboBox *cbbTriggerUnits, *cbbTrigger, *cbbContentType, *cbbParserAction;
    QLabel* sbPanels[3];
    TGroupsPage* GroupsPage;
    TContactsPage* ContactsPage;
    TAccountsPage* AccountsPage;
    TMessagesPage* MessagesPage;
    TParsersPage* ParsersPage;
    TVariablesPage* VariablesPage;

    // Options page.
    QCheckBox *chbLoadAtStartup, *chbSaveAtShutdown, *chbAutoSave, *chbAutoStartMailer, *chbWarnBeforeFirstMail,
        *chbLogMailerActivity, *chbLogLimitSize, *chbContactInfoHoover, *chbSortByDomain, *chbKeepUnsubscribed;
    QLineEdit* edAutosavePeriod;
    QSpinBox* udLogMaxSize;
    QLineEdit* edLogMaxSize;

    // Commands.
    QAction *acSetupNew, *acSetupLoad, *acSetupSave, *acSetupSaveAs, *acExit, *acHelpAbout, *acViewContacts,
        *acViewMessages;
    QAction *acGroupNew, *acGroupDelete, *acGroupCopy, *acGroupPaste, *acGroupCompare;
    QAction *acContactNew, *acContactDelete, *acContactUnsubscribe, *acContactCopy, *acContactPaste,
        *acContactSearch, *acContactDupes, *acContactErrors, *acImportTxt, *acImportOE, *acSendManual,
        *acHistClear, *acHistPreview, *acCheckDomain, *acContactFields;
    QAction *acMessageNew, *acMessageDelete, *acMessageCopy, *acMessagePaste, *acMessageStart, *acMessageStop,
        *acMessageResend, *acMessageAdvanced;
    QAction *acParserNew, *acParserDelete, *acParserCopy, *acParserPaste, *acParserStart, *acParserStop;
    QAction *acAccountNew, *acAccountDelete, *acAccountTestEmail, *acAccountCheck;
    QAction *acFieldNew, *acFieldDelete, *acFieldUp, *acFieldDown;
    QAction *acLogView, *acLogApply, *acMailerStart, *acMailerPause;

public slots:
    void tmMailerTimer();
    void acSetupNewExecute();
    void acSetupLoadExecute();
    void acHelpAboutExecute();
    void acMailerStartExecute();
    void acMailerPauseExecute();
    void acSendManualExecute();
    void acMessageResendExecute();
    void acLogViewExecute();
    void acLogApplyExecute();
    void acImportTxtExecute();
    void acImportOEExecute();

public:
    // The window's questions and dialogs, overridable so that tests can answer them.
    virtual QMessageBox::StandardButton Ask(const QString& text, QMessageBox::Icon icon,
                                            QMessageBox::StandardButtons buttons);
    virtual void ShowMessage(const QString& text, QMessageBox::Icon icon = QMessageBox::Information);
    virtual QString ChooseOpenFile(const QString& title, const QString& filter, const QString& proposed);
    virtual QString ChooseSaveFile(const QString& title, const QString& filter);
    virtual bool ExecMessageSelect(TfmMessageSelect& dialog);
    // Shows one of the secondary windows modally; its result (Accepted or Rejected).
    virtual int ExecDialog(QDialog& dialog);
    virtual void OpenWithDesktop(const QString& path);
    void ReportError(const std::exception& error);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createPages();
    void createOptionsPage(QWidget* page);
    void createStatusBar();
    void connectPageCommands();
    // Closes the open message editors, each asking about its unsaved changes; false when one of
    // them stays open.
    bool CloseEditors();
    void attachSetupEvents();
    // True when the window may close.
    bool CloseQuery();
    // The steps of closing after the close check; false when the save at shut-down failed.
    bool ShutDown();
    // Asks to save a modified setup before it is replaced; false when the command must stop.
    bool SaveBeforeReplacing();
    // Takes the lock of the setup file about to be opened, or asks whether to open it read-only
    // when another program holds it; false when the user declined.
    bool ClaimSetupFile(const QString& path);
    void LoadPendingSetup();
    void OptionClicked();

    QList<QPointer<TfmAdvanced>> editors_;
    platform::UiHooks previousHooks_;
    platform::BlockingRunner previousRunner_;
    bool savedOnClose_ = false;
    bool shutDown_ = false;
    // A load or save is running: ticks wait, since they would step through a setup being replaced.
    bool fileBusy_ = false;
    // Shows a load or save in the status bar, with the hourglass, until the returned guard ends.
    std::shared_ptr<void> beginFileOperation(const QString& text);
};
