#include "ui/cvMain.h"

#include "mailer/cvMailer.h"
#include "model/cvSetup.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Registry.h"
#include "ui/AccountsPage.h"
#include "ui/ContactsPage.h"
#include "ui/GroupsPage.h"
#include "ui/MessagesPage.h"
#include "ui/ParsersPage.h"
#include "ui/VariablesPage.h"
#include "ui/cvClipboard.h"
#include "ui/cvPageTools.h"
#include "ui/cvReportModel.h"
#include "daemon/cvScheduler.h"
#include "daemon/cvSetupFile.h"
#include "ui/frmAdvanced.h"
#include "ui/frmMessageSelect.h"
#include "ui/frmTestCheck.h"

#include <QApplication>
#include <QIcon>
#include <QKeySequence>
#include <QStyle>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QAction* makeAction(QObject* owner, const char* name, const QString& caption, const QString& hint = {}) {
    auto* action = new QAction(caption, owner);
    action->setObjectName(name);
    if (!hint.isEmpty()) {
        action->setToolTip(hint);
        action->setStatusTip(hint);
    }
    return action;
}

// A menu entry that shows a command under another caption: it runs the command and follows its
// enabled state.
QAction* shownAs(QMenu* menu, QAction* command, const QString& caption) {
    auto* entry = menu->addAction(caption);
    entry->setObjectName(command->objectName() + "Menu");
    entry->setEnabled(command->isEnabled());
    QObject::connect(entry, &QAction::triggered, command, &QAction::trigger);
    QObject::connect(command, &QAction::changed, entry, [entry, command] {
        entry->setEnabled(command->isEnabled());
        entry->setVisible(command->isVisible());
    });
    return entry;
}

QLabel* titlePanel(QWidget* page, const char* name, const QString& text) {
    auto* panel = new QLabel(text, page);
    panel->setObjectName(name);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, Qt::darkGray);
    palette.setColor(QPalette::WindowText, Qt::white);
    panel->setPalette(palette);
    QFont font = panel->font();
    font.setBold(true);
    panel->setFont(font);
    panel->setMinimumHeight(24);
    return panel;
}

}  // namespace

QString TfrmMain::LineBreaks(QString text) {
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    return text;
}

QString TfrmMain::DisplayText(const std::string& text) { return LineBreaks(platform::toDisplay(text)); }

QString TfrmMain::DialogFilter(const QString& pairs) {
    const QStringList parts = pairs.split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        // "*.*" would leave out files without an extension here.
        const QString pattern = parts[i + 1] == "*.*" ? QString("*") : parts[i + 1];
        filters << (parts[i].contains('(') ? parts[i] : parts[i] + " (" + pattern + ")");
    }
    return filters.join(";;");
}

QString TfrmMain::ChangeFileExt(const QString& path, const QString& ext) {
    const int slash = std::max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
    const int dot = path.lastIndexOf('.');
    return (dot > slash ? path.left(dot) : path) + ext;
}

QString TfrmMain::DataFolder() { return QString::fromStdString(ProgramDataFolder()); }

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName("frmMain");
    createActions();
    createMenus();
    createPages();
    createStatusBar();

    // Placed 800 by 600 in the middle of the screen; that is also the stored bounds' default.
    const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry()
                                                          : QRect(0, 0, 800, 600);
    const int left = (screen.width() - 800) / 2;
    const int top = (screen.height() - 600) / 2;
    options::MainWindow = {left, top, left + 800, top + 600};

    options::RegisterOptions(OptionStore);
    SetLogFilePath((DataFolder() + "mailerdeamon.log").toStdString());
    OptionStore.LoadFromRegistry(options::RegistryBase);
    // A damaged options file was kept aside while loading: say so once the window is up.
    if (const std::string notice = platform::takeRegistryNotice(); !notice.empty())
        QTimer::singleShot(0, this, [this, notice] { ShowMessage(QString::fromStdString(notice), QMessageBox::Warning); });
    const TOptionRect& r = options::MainWindow;
    setGeometry(r.Left, r.Top, std::max(r.Right - r.Left, 100), std::max(r.Bottom - r.Top, 100));
    pcMain->setCurrentWidget(tsGroups);

    cbbTriggerUnits->clear();
    for (const char* name : TriggerUnitNames) cbbTriggerUnits->addItem(name);
    cbbTrigger->clear();
    for (const char* name : TriggerNames) cbbTrigger->addItem(name);
    cbbContentType->clear();
    for (const char* name : ContentTypeNames) cbbContentType->addItem(name);
    cbbParserAction->clear();
    for (const char* name : ParserActionNames) cbbParserAction->addItem(name);

    pcMain->setTabVisible(pcMain->indexOf(tsWebHtml), false);
    // The name the platform shows for the program (task bar); the window title stays our own.
    QCoreApplication::setApplicationName(ProductName);

    Setup = std::make_unique<TcvSetup>();
    attachSetupEvents();
    ContactsPage->AttachFilter(Filter);
    Mailer = std::make_unique<TcvMailer>(Setup.get());
    Mailer->OnSending = [this](TcvMailer&, TcvContact& c, TcvMessage& m, const std::string&, const std::string&) {
        MailerSending(c, m);
    };
    Mailer->OnMailed = [this](TcvMailer&, TcvContact& c, TcvMessage& m, const std::string& s, const std::string& b) {
        MailerMailed(c, m, s, b);
    };
    Mailer->OnPaused = [this](TcvMailer&) { MailerPaused(); };

    // Questions of the core become modal boxes; network waits keep the window responsive.
    platform::UiHooks hooks;
    hooks.message = [this](const std::string& text) { ShowMessage(DisplayText(text)); };
    hooks.confirm = [this](const std::string& text) {
        return Ask(DisplayText(text), QMessageBox::Information, QMessageBox::Ok | QMessageBox::Cancel) ==
               QMessageBox::Ok;
    };
    hooks.processEvents = [] { QCoreApplication::processEvents(); };
    previousHooks_ = platform::setUiHooks(std::move(hooks));
    previousRunner_ = platform::setBlockingRunner(platform::eventProcessingRunner());
    TcvMailer::InstallTemporarySend();

    Scheduler = std::make_unique<TcvScheduler>(*Setup, *Mailer);
    Scheduler->OnLoad = [this] { LoadPendingSetup(); };
    Scheduler->OnSave = [this] { SaveSetup(QString::fromStdString(options::SetupName)); };
    Scheduler->OnPolled = [this] { RefreshContactsPage(); };

    if (options::AutoStartMailer) {
        SetStatusText(2, "Mailer: started");
        MailerRunning = true;
    } else {
        SetStatusText(2, "Mailer: not active");
    }
    if (options::LoadAtStartup) Scheduler->LoadPending = true;
    else options::SetupName.clear();
    Scheduler->LastAutoSave = platform::now();
    setAcceptDrops(true);
    RefreshAll();

    tmMailer = new QTimer(this);
    tmMailer->setObjectName("tmMailer");
    tmMailer->setInterval(50);
    connect(tmMailer, &QTimer::timeout, this, &TfrmMain::tmMailerTimer);
    tmMailer->start();
}

TfrmMain::~TfrmMain() {
    // A field that still has the focus takes its edit now, while the window is whole: once this
    // destructor has run, nothing of the window may be left to lose the focus.
    if (QWidget* focused = focusWidget()) focused->clearFocus();
    // Editors still open refer to this window; they go first, without a question.
    for (const QPointer<TfmAdvanced>& editor : editors_) delete editor.data();
    // A mailbox window waiting on its server outlives the window; the others go with it.
    ReleaseTestChecks(*this);
    tmMailer->stop();
    Scheduler.reset();
    Mailer.reset();
    platform::setBlockingRunner(std::move(previousRunner_));
    platform::setUiHooks(std::move(previousHooks_));
    SetTemporarySend({});
}

void TfrmMain::createActions() {
    acSetupNew = makeAction(this, "acSetupNew", "New project");
    acSetupLoad = makeAction(this, "acSetupLoad", "Open");
    acSetupSave = makeAction(this, "acSetupSave", "Save");
    acSetupSaveAs = makeAction(this, "acSetupSaveAs", "Save As...");
    acExit = makeAction(this, "acExit", "Exit");
    // The desktop's usual keys and icons for the file commands, with the style's icons where the
    // icon theme has none.
    const struct {
        QAction* action;
        QKeySequence::StandardKey key;
        const char* icon;
        QStyle::StandardPixmap fallback;
    } fileCommands[] = {
        {acSetupNew, QKeySequence::New, "document-new", QStyle::SP_FileIcon},
        {acSetupLoad, QKeySequence::Open, "document-open", QStyle::SP_DialogOpenButton},
        {acSetupSave, QKeySequence::Save, "document-save", QStyle::SP_DialogSaveButton},
        {acSetupSaveAs, QKeySequence::SaveAs, "document-save-as", QStyle::SP_DialogSaveButton},
        {acExit, QKeySequence::Quit, "application-exit", QStyle::SP_DialogCloseButton},
    };
    for (const auto& c : fileCommands) {
        c.action->setShortcut(c.key);
        c.action->setIcon(QIcon::fromTheme(c.icon, style()->standardIcon(c.fallback)));
    }
    acHelpAbout = makeAction(this, "acHelpAbout", "About...");
    acViewContacts = makeAction(this, "acViewContacts", "View Contacts");
    acViewMessages = makeAction(this, "acViewMessages", "View Messages");

    acGroupNew = makeAction(this, "acGroupNew", "New Group");
    acGroupDelete = makeAction(this, "acGroupDelete", "Delete Group");
    acGroupCopy = makeAction(this, "acGroupCopy", "Copy Group");
    acGroupPaste = makeAction(this, "acGroupPaste", "Paste Group");
    acGroupCompare = makeAction(this, "acGroupCompare", "Compare");

    acContactNew = makeAction(this, "acContactNew", "New Contact");
    acContactDelete = makeAction(this, "acContactDelete", "Del Contact(s)");
    acContactUnsubscribe = makeAction(this, "acContactUnsubscribe", "Unsubscribe");
    acContactCopy = makeAction(this, "acContactCopy", "Copy");
    acContactPaste = makeAction(this, "acContactPaste", "Paste");
    acContactSearch = makeAction(this, "acContactSearch", "Search");
    acContactSearch->setCheckable(true);
    acContactDupes = makeAction(this, "acContactDupes", "Duplicates");
    acContactDupes->setCheckable(true);
    acContactErrors = makeAction(this, "acContactErrors", "Email errors");
    acContactErrors->setCheckable(true);
    acImportTxt = makeAction(this, "acImportTxt", "Import Txt");
    acImportOE = makeAction(this, "acImportOE", "Messages from Outlook Express");
    acSendManual = makeAction(this, "acSendManual", "Send Manual");
    acHistClear = makeAction(this, "acHistClear", "Clear Item(s)");
    acHistPreview = makeAction(this, "acHistPreview", "View Item");
    acCheckDomain = makeAction(this, "acCheckDomain", "Check Domain");
    acContactFields = makeAction(this, "acContactFields", "Custom Fields...");

    acMessageNew = makeAction(this, "acMessageNew", "New Message");
    acMessageDelete = makeAction(this, "acMessageDelete", "Del Message");
    acMessageCopy = makeAction(this, "acMessageCopy", "Copy Message");
    acMessagePaste = makeAction(this, "acMessagePaste", "Paste Message");
    acMessageStart = makeAction(this, "acMessageStart", "Start Message");
    acMessageStop = makeAction(this, "acMessageStop", "Stop Message");
    acMessageResend = makeAction(this, "acMessageResend", "Resend Msg");
    acMessageAdvanced = makeAction(this, "acMessageAdvanced", "Advanced...");

    acParserNew = makeAction(this, "acParserNew", "New Parser");
    acParserDelete = makeAction(this, "acParserDelete", "Delete Parser");
    acParserCopy = makeAction(this, "acParserCopy", "Copy Parser");
    acParserPaste = makeAction(this, "acParserPaste", "Paste Parser");
    acParserStart = makeAction(this, "acParserStart", "Start Parser");
    acParserStop = makeAction(this, "acParserStop", "Stop Parser");

    acAccountNew = makeAction(this, "acAccountNew", "New Account");
    acAccountDelete = makeAction(this, "acAccountDelete", "Del Account");
    acAccountTestEmail = makeAction(this, "acAccountTestEmail", "Test Email");
    acAccountCheck = makeAction(this, "acAccountCheck", "Check Account");

    acFieldNew = makeAction(this, "acFieldNew", "New Field");
    acFieldDelete = makeAction(this, "acFieldDelete", "Delete Field");
    acFieldUp = makeAction(this, "acFieldUp", "Move Up");
    acFieldDown = makeAction(this, "acFieldDown", "Move Down");

    acLogView = makeAction(this, "acLogView", "View logfile");
    acLogApply = makeAction(this, "acLogApply", "Select and apply logfile...");
    acMailerStart = makeAction(this, "acMailerStart", "Start", "Start mailing");
    acMailerPause = makeAction(this, "acMailerPause", "Pause", "Pause mailing");

    connect(acSetupNew, &QAction::triggered, this, &TfrmMain::acSetupNewExecute);
    connect(acSetupLoad, &QAction::triggered, this, &TfrmMain::acSetupLoadExecute);
    connect(acSetupSave, &QAction::triggered, this, [this] { SaveCommand(); });
    connect(acSetupSaveAs, &QAction::triggered, this, [this] { SaveAsCommand(); });
    connect(acExit, &QAction::triggered, this, &QWidget::close);
    connect(acHelpAbout, &QAction::triggered, this, &TfrmMain::acHelpAboutExecute);
    connect(acViewContacts, &QAction::triggered, this, [this] { pcMain->setCurrentWidget(tsContacts); });
    connect(acViewMessages, &QAction::triggered, this, [this] { pcMain->setCurrentWidget(tsMessages); });
    connect(acMailerStart, &QAction::triggered, this, &TfrmMain::acMailerStartExecute);
    connect(acMailerPause, &QAction::triggered, this, &TfrmMain::acMailerPauseExecute);
    connect(acSendManual, &QAction::triggered, this, &TfrmMain::acSendManualExecute);
    connect(acMessageResend, &QAction::triggered, this, &TfrmMain::acMessageResendExecute);
    connect(acLogView, &QAction::triggered, this, &TfrmMain::acLogViewExecute);
    connect(acLogApply, &QAction::triggered, this, &TfrmMain::acLogApplyExecute);
    connect(acContactSearch, &QAction::toggled, this, [this] { RefreshCommands(); });
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { RefreshCommands(); });
}

void TfrmMain::createMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addActions({acSetupLoad, acSetupNew, acSetupSave, acSetupSaveAs});
    file->addSeparator();
    file->addAction(acExit);

    QMenu* group = menuBar()->addMenu("&Group");
    group->addActions({acGroupNew, acGroupDelete});
    group->addSeparator();
    group->addActions({acGroupCopy, acGroupPaste});
    group->addSeparator();
    shownAs(group, acGroupCompare, "Compare Groups");

    QMenu* contact = menuBar()->addMenu("&Contact");
    contact->addAction(acContactNew);
    shownAs(contact, acContactDelete, "Delete Contact");
    shownAs(contact, acContactUnsubscribe, "Unsubscribe Contact");
    contact->addSeparator();
    shownAs(contact, acContactCopy, "Copy Contact");
    shownAs(contact, acContactPaste, "Paste Contact");
    contact->addSeparator();
    contact->addActions({acContactSearch, acContactDupes, acContactErrors});
    contact->addSeparator();
    shownAs(contact, acImportTxt, "Import from Textfile");

    QMenu* message = menuBar()->addMenu("&Message");
    message->addActions({acMessageNew, acMessageDelete});
    message->addSeparator();
    message->addActions({acMessageCopy, acMessagePaste});
    message->addSeparator();
    message->addActions({acMessageStart, acMessageStop});
    message->addSeparator();
    message->addAction(acMessageResend);

    QMenu* parser = menuBar()->addMenu("&Parser");
    parser->addActions({acParserNew, acParserDelete});
    parser->addSeparator();
    parser->addActions({acParserCopy, acParserPaste});
    parser->addSeparator();
    parser->addActions({acParserStart, acParserStop});

    QMenu* account = menuBar()->addMenu("&Account");
    account->addActions({acAccountNew, acAccountDelete});

    QMenu* tools = menuBar()->addMenu("&Tools");
    QMenu* import = tools->addMenu("Import");
    import->addAction(acImportOE);
    shownAs(import, acImportTxt, "Contacts from text file");
    tools->addActions({acLogView, acLogApply});

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(acHelpAbout);

    QToolBar* bar = addToolBar("Tools");
    bar->setObjectName("tbMain");
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->setMovable(false);
    bar->addActions({acSetupLoad, acSetupSave});
    bar->addSeparator();
    bar->addActions({acMailerStart, acMailerPause});
}

void TfrmMain::createPages() {
    pcMain = new QTabWidget(this);
    pcMain->setObjectName("pcMain");
    setCentralWidget(pcMain);

    struct PageDef {
        QWidget** page;
        QLabel** title;
        const char* name;
        const char* titleName;
        const char* caption;
    };
    const PageDef pages[] = {
        {&tsGroups, &pnlGroupsTitle, "tsGroups", "pnlGroupsTitle", "Groups"},
        {&tsContacts, &pnlContactsTitle, "tsContacts", "pnlContactsTitle", "Contacts"},
        {&tsMessages, &pnlMessagesTitle, "tsMessages", "pnlMessagesTitle", "Messages"},
        {&tsParsers, &pnlParsersTitle, "tsParsers", "pnlParsersTitle", "Parsers"},
        {&tsAccounts, &pnlAccountsTitle, "tsAccounts", "pnlAccountsTitle", "Accounts"},
        {&tsWebHtml, &pnlWebHtmlTitle, "tsWebHtml", "pnlWebHtmlTitle", "Web Html"},
        {&tsVariables, &pnlVariablesTitle, "tsVariables", "pnlVariablesTitle", "Variables"},
        {&tsOptions, &pnlOptionsTitle, "tsOptions", "pnlOptionsTitle", "Options"},
    };
    for (const PageDef& def : pages) {
        auto* page = new QWidget(pcMain);
        page->setObjectName(def.name);
        auto* layout = new QVBoxLayout(page);
        layout->setContentsMargins(4, 4, 4, 4);
        *def.title = titlePanel(page, def.titleName, QString(" ") + def.caption);
        layout->addWidget(*def.title);
        *def.page = page;
        pcMain->addTab(page, def.caption);
    }

    GroupsPage = new TGroupsPage(*this, tsGroups);
    GroupsModel = GroupsPage->Model;
    lvGroups = GroupsPage->lvGroups;

    ContactsPage = new TContactsPage(*this, tsContacts);
    ContactsModel = ContactsPage->Model;
    HistoryModel = ContactsPage->HistoryModel;
    lvContacts = ContactsPage->lvContacts;
    lvContactHistory = ContactsPage->lvContactHistory;
    edSearch = ContactsPage->edSearch;

    MessagesPage = new TMessagesPage(*this, tsMessages);
    MessagesModel = MessagesPage->Model;
    lvMessages = MessagesPage->lvMessages;
    cbbTriggerUnits = MessagesPage->cbbTriggerUnits;
    cbbTrigger = MessagesPage->cbbTrigger;
    cbbContentType = MessagesPage->cbbContentType;

    ParsersPage = new TParsersPage(*this, tsParsers);
    ParsersModel = ParsersPage->Model;
    lvParsers = ParsersPage->lvParsers;
    cbbParserAction = ParsersPage->cbbParserAction;

    AccountsPage = new TAccountsPage(*this, tsAccounts);
    AccountsModel = AccountsPage->Model;
    lvAccounts = AccountsPage->lvAccounts;
    VariablesPage = new TVariablesPage(*this, tsVariables);
    clbFieldDefs = VariablesPage->clbFieldDefs;
    connectPageCommands();

    static_cast<QVBoxLayout*>(tsWebHtml->layout())->addStretch();


    createOptionsPage(tsOptions);

    for (QTableView* view : {lvGroups, lvContacts, lvMessages, lvParsers, lvAccounts, lvContactHistory})
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { RefreshCommands(); });
    connect(clbFieldDefs, &QListWidget::currentRowChanged, this, [this] { RefreshCommands(); });
}

// The pages carry out the commands that act on their records; the window only routes them.
void TfrmMain::connectPageCommands() {
    auto route = [this](QAction* action, auto* page, auto handler) {
        connect(action, &QAction::triggered, page, [page, handler] { (page->*handler)(); });
    };
    route(acGroupNew, GroupsPage, &TGroupsPage::acGroupNewExecute);
    route(acGroupDelete, GroupsPage, &TGroupsPage::acGroupDeleteExecute);
    route(acGroupCopy, GroupsPage, &TGroupsPage::acGroupCopyExecute);
    route(acGroupPaste, GroupsPage, &TGroupsPage::acGroupPasteExecute);
    route(acGroupCompare, GroupsPage, &TGroupsPage::acGroupCompareExecute);
    route(acAccountNew, AccountsPage, &TAccountsPage::acAccountNewExecute);
    route(acAccountDelete, AccountsPage, &TAccountsPage::acAccountDeleteExecute);
    route(acAccountTestEmail, AccountsPage, &TAccountsPage::acAccountTestEmailExecute);
    route(acAccountCheck, AccountsPage, &TAccountsPage::acAccountCheckExecute);
    route(acContactNew, ContactsPage, &TContactsPage::acContactNewExecute);
    route(acContactDelete, ContactsPage, &TContactsPage::acContactDeleteExecute);
    route(acContactUnsubscribe, ContactsPage, &TContactsPage::acContactUnsubscribeExecute);
    route(acContactCopy, ContactsPage, &TContactsPage::acContactCopyExecute);
    route(acContactPaste, ContactsPage, &TContactsPage::acContactPasteExecute);
    route(acContactSearch, ContactsPage, &TContactsPage::acContactSearchExecute);
    route(acContactDupes, ContactsPage, &TContactsPage::acContactDupesExecute);
    route(acContactErrors, ContactsPage, &TContactsPage::acContactErrorsExecute);
    route(acCheckDomain, ContactsPage, &TContactsPage::acCheckDomainExecute);
    route(acHistClear, ContactsPage, &TContactsPage::acHistClearExecute);
    route(acHistPreview, ContactsPage, &TContactsPage::acHistPreviewExecute);
    route(acContactFields, ContactsPage, &TContactsPage::acContactFieldsExecute);
    route(acParserNew, ParsersPage, &TParsersPage::acParserNewExecute);
    route(acParserDelete, ParsersPage, &TParsersPage::acParserDeleteExecute);
    route(acParserStart, ParsersPage, &TParsersPage::acParserStartExecute);
    route(acParserStop, ParsersPage, &TParsersPage::acParserStopExecute);
    route(acParserCopy, ParsersPage, &TParsersPage::acParserCopyExecute);
    route(acParserPaste, ParsersPage, &TParsersPage::acParserPasteExecute);
    route(acFieldNew, VariablesPage, &TVariablesPage::acFieldNewExecute);
    route(acFieldDelete, VariablesPage, &TVariablesPage::acFieldDeleteExecute);
    route(acFieldUp, VariablesPage, &TVariablesPage::acFieldUpExecute);
    route(acFieldDown, VariablesPage, &TVariablesPage::acFieldDownExecute);
    route(acMessageNew, MessagesPage, &TMessagesPage::acMessageNewExecute);
    route(acMessageDelete, MessagesPage, &TMessagesPage::acMessageDeleteExecute);
    route(acMessageStart, MessagesPage, &TMessagesPage::acMessageStartExecute);
    route(acMessageStop, MessagesPage, &TMessagesPage::acMessageStopExecute);
    route(acMessageCopy, MessagesPage, &TMessagesPage::acMessageCopyExecute);
    route(acMessagePaste, MessagesPage, &TMessagesPage::acMessagePasteExecute);
    connect(acMessageAdvanced, &QAction::triggered, MessagesPage, [this] { MessagesPage->acMessageAdvancedExecute(); });
    connect(acImportTxt, &QAction::triggered, this, &TfrmMain::acImportTxtExecute);
    connect(acImportOE, &QAction::triggered, this, &TfrmMain::acImportOEExecute);
}

void TfrmMain::createStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("sbMain");
    const int widths[] = {300, 150, 0};
    for (int i = 0; i < 3; ++i) {
        sbPanels[i] = new QLabel(bar);
        sbPanels[i]->setObjectName(QString("sbPanel%1").arg(i));
        sbPanels[i]->setFrameShape(QFrame::StyledPanel);
        if (widths[i] > 0) sbPanels[i]->setFixedWidth(widths[i]);
        bar->addWidget(sbPanels[i], widths[i] > 0 ? 0 : 1);
    }
}

QString TfrmMain::StatusText(int panel) const { return panel >= 0 && panel < 3 ? sbPanels[panel]->text() : QString(); }

void TfrmMain::SetStatusText(int panel, const QString& text) {
    if (panel >= 0 && panel < 3) sbPanels[panel]->setText(text);
}

void TfrmMain::attachSetupEvents() {
    TcvSetup& s = *Setup;
    s.OnGroupsChanged = [this](TcvSetup&) {
        if (Updating()) return;
        RefreshGroupsPage();
        RefreshMessagesPage();
        RefreshCommands();
    };
    s.OnGroupSelect = [this](TcvSetup&, TcvGroup* g) { SelectGroup(g); };
    s.OnAccountsChanged = [this](TcvSetup&) {
        if (Updating()) return;
        RefreshAccountsPage();
        RefreshCommands();
    };
    s.OnAccountSelect = [this](TcvSetup&, TcvAccount* a) { SelectAccount(a); };
    s.OnContactsChanged = [this](TcvSetup&) {
        if (Updating()) return;
        ContactsPage->UpdateFilter();
        RefreshContactsPage();
        RefreshCommands();
    };
    s.OnContactSelect = [this](TcvGroup*, TcvContact* c) { SelectContact(c); };
    s.OnFieldDefsChanged = [this](TcvSetup&) {
        if (Updating()) return;
        BuildContactColumns();
        RefreshVariablesPage();
        RefreshCommands();
    };
    s.OnMessagesChanged = [this](TcvSetup&) {
        if (Updating()) return;
        RefreshMessagesPage();
        RefreshCommands();
    };
    s.OnMessageSelect = [this](TcvGroup*, TcvMessage* m) { SelectMessage(m); };
    s.OnParsersChanged = [this](TcvSetup&) {
        if (Updating()) return;
        RefreshParsersPage();
        RefreshCommands();
    };
    s.OnParserSelect = [this](TcvGroup*, TcvParser* p) { SelectParser(p); };
    s.OnParserAction = [this](TcvParser*, TcvContact* c, TcvGroup* g, int action) { ParserAction(c, g, action); };
    s.OnProgress = [this](TsdXmlDocument&, int64_t bytes) { ShowProgress(bytes); };
    s.OnSending = [this](TcvMailer&, TcvContact& c, TcvMessage& m, const std::string&, const std::string&) {
        MailerSending(c, m);
    };
    s.OnMailed = [this](TcvMailer&, TcvContact& c, TcvMessage& m, const std::string& subject,
                        const std::string& bodies) { MailerMailed(c, m, subject, bodies); };
}

void TfrmMain::BeginUpdate() { ++UpdateCount; }

void TfrmMain::EndUpdate() {
    if (UpdateCount > 0) --UpdateCount;
}

void TfrmMain::SelectGroup(TcvGroup* group) {
    if (group == SelGroup.get()) return;
    SelGroup = group;
    SelContact = nullptr;
    SelMessage = nullptr;
    SelParser = nullptr;
    SelFieldDef = nullptr;
    Filter.SetSource(group);
    RefreshCommands();
    BuildContactColumns();
    RefreshGroupsPage();
    RefreshContactsPage();
    RefreshMessagesPage();
    RefreshParsersPage();
    RefreshVariablesPage();
}

void TfrmMain::SelectContact(TcvContact* contact) {
    if (!SelGroup) return;
    SelContact = contact;
    RefreshCommands();
    RefreshContactsPage();
}

void TfrmMain::SelectMessage(TcvMessage* message) {
    if (!SelGroup) return;
    SelMessage = message;
    RefreshCommands();
    RefreshMessagesPage();
}

void TfrmMain::SelectParser(TcvParser* parser) {
    if (!SelGroup) return;
    SelParser = parser;
    RefreshCommands();
    RefreshParsersPage();
}

void TfrmMain::SelectFieldDef(TcvFieldDef* fieldDef) {
    if (!SelGroup) return;
    SelFieldDef = fieldDef;
    RefreshCommands();
    RefreshVariablesPage();
}

void TfrmMain::SelectAccount(TcvAccount* account) {
    SelAccount = account;
    RefreshCommands();
    RefreshAccountsPage();
}

void TfrmMain::ClearSelection() {
    Filter.SetSource(nullptr);
    SelAccount = nullptr;
    SelContact = nullptr;
    SelGroup = nullptr;
    SelMessage = nullptr;
    SelParser = nullptr;
    SelFieldDef = nullptr;
}

void TfrmMain::RefreshCommands() {
    QString caption = options::SetupName.empty()
                          ? QString("%1 %2 [Untitled]").arg(ProductName, ProductVersion)
                          : QString("%1 %2 [%3]").arg(ProductName, ProductVersion,
                                                      QString::fromStdString(options::SetupName));
    if (Setup && Setup->Modified) caption += '*';
    setWindowTitle(caption);

    auto rows = [](QTableView* view) { return SelectedCount(*view); };
    const bool group = SelGroup.get() != nullptr;
    const bool clipboardText = !QGuiApplication::clipboard()->text().isEmpty();
    for (QAction* a : {acGroupDelete, acViewContacts, acViewMessages, acGroupCopy, acContactNew, acMessageNew,
                       acParserNew, acFieldNew})
        a->setEnabled(group);
    for (QAction* a : {acImportTxt, acImportOE}) a->setEnabled(group && !Importing);
    acGroupPaste->setEnabled(clipboardText);
    acGroupCompare->setEnabled(rows(lvGroups) == 2);
    const bool contactRows = rows(lvContacts) > 0;
    for (QAction* a : {acContactDelete, acContactUnsubscribe, acContactCopy}) a->setEnabled(group && contactRows);
    acContactPaste->setEnabled(group && clipboardText);
    acParserPaste->setEnabled(group && clipboardText);
    acSendManual->setEnabled(contactRows);
    acHistClear->setEnabled(rows(lvContactHistory) > 0);
    acHistPreview->setEnabled(rows(lvContactHistory) == 1);
    acCheckDomain->setEnabled(!CheckingDomain && SelContact && SelContact->HasValidEmail());
    acContactFields->setEnabled(group && SelGroup->FieldDefCount() > 0);
    TcvMessage* message = SelMessage;
    acMessageDelete->setEnabled(message);
    acMessageStart->setEnabled(message && message->Status == TcvMessageStatus::Stopped);
    acMessageStop->setEnabled(message && message->Status == TcvMessageStatus::Live);
    acMessageResend->setEnabled(message && message->Status == TcvMessageStatus::Sent);
    TcvParser* parser = SelParser;
    acParserDelete->setEnabled(parser);
    acParserCopy->setEnabled(parser);
    acParserStart->setEnabled(parser && !parser->Started);
    acParserStop->setEnabled(parser && parser->Started);
    acAccountDelete->setEnabled(rows(lvAccounts) > 0);
    TcvAccount* account = SelAccount;
    acAccountTestEmail->setEnabled(account && account->UseForSending);
    acAccountCheck->setEnabled(account && account->UseForReceiving);
    const int field = clbFieldDefs->currentRow();
    acFieldDelete->setEnabled(field >= 0);
    acFieldUp->setEnabled(field > 0);
    acFieldDown->setEnabled(field >= 0 && field < clbFieldDefs->count() - 1);
    acMailerStart->setEnabled(!MailerRunning);
    acMailerPause->setEnabled(MailerRunning);
    edSearch->setVisible(acContactSearch->isChecked());
}

void TfrmMain::BuildContactColumns() { ContactsPage->BuildColumns(); }

void TfrmMain::RefreshAll() {
    BuildContactColumns();
    RefreshCommands();
    RefreshGroupsPage();
    RefreshContactsPage();
    RefreshMessagesPage();
    RefreshOptionsPage();
    RefreshParsersPage();
    RefreshAccountsPage();
    RefreshVariablesPage();
}

void TfrmMain::RefreshGroupsPage() { GroupsPage->Refresh(); }

void TfrmMain::RefreshContactsPage() { ContactsPage->Refresh(); }

void TfrmMain::RefreshMessagesPage() { MessagesPage->Refresh(); }

void TfrmMain::RefreshParsersPage() { ParsersPage->Refresh(); }

void TfrmMain::RefreshAccountsPage() { AccountsPage->Refresh(); }

void TfrmMain::RefreshVariablesPage() { VariablesPage->Refresh(); }

std::vector<TcvContact*> TfrmMain::SelectedContacts() const { return ContactsPage->SelectedContacts(); }

QMessageBox::StandardButton TfrmMain::Ask(const QString& text, QMessageBox::Icon icon,
                                          QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, ProductName, text, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void TfrmMain::ShowMessage(const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, ProductName, text, QMessageBox::Ok, this);
    box.exec();
}

int TfrmMain::ExecDialog(QDialog& dialog) { return dialog.exec(); }

void TfrmMain::AddEditor(TfmAdvanced* editor) {
    editors_.removeIf([](const QPointer<TfmAdvanced>& e) { return e.isNull(); });
    editors_.append(editor);
}

QList<QPointer<TfmAdvanced>> TfrmMain::Editors() const {
    QList<QPointer<TfmAdvanced>> open = editors_;
    open.removeIf([](const QPointer<TfmAdvanced>& e) { return e.isNull(); });
    return open;
}

bool TfrmMain::CloseEditors() {
    for (const QPointer<TfmAdvanced>& editor : Editors())
        if (editor && !editor->close()) return false;
    return true;
}

void TfrmMain::ReportError(const std::exception& error) { ShowMessage(DisplayText(error.what()), QMessageBox::Critical); }

void TfrmMain::acHelpAboutExecute() { ShowMessage(QString("%1 %2").arg(ProductName, ProductVersion)); }

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        paths << (url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString());
    event->acceptProposedAction();
    ShowMessage(paths.join('\n'));
}
