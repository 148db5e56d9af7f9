#include "ui/frmAdvanced.h"

#include "platform/CodePage.h"
#include "platform/SafeFile.h"
#include "ui/cvMain.h"
#include "ui/cvPageTools.h"
#include "ui/frmHtmlViewer.h"

#include <Qsci/qscilexerhtml.h>
#include <Qsci/qsciscintilla.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <stdexcept>

namespace {

const char* const CloseQuestion = "You have made changes to this message. Do you want\r\nto save these changes?";
const char* const KeepAsNewQuestion =
    "The message \"%1\" was deleted while you edited it.\r\nDo you want to add your text to group \"%2\" as a new, "
    "stopped message?";
const char* const GoneText =
    "The message \"%1\" and its group no longer exist: they were deleted, or another setup was opened, while "
    "you edited it.\r\nYour changes cannot be saved.";
const char* const NoMessageText = "There is no message to edit.";
const char* const NothingToShowText = "There is no message to show.";

enum MessageType { Simple = 0, SimpleAndHtml = 1, HtmlOnly = 2 };

QString text(const std::string& s) { return platform::toDisplay(s); }

QsciScintilla* sourceEditor(QWidget* parent, const char* name) {
    auto* editor = new QsciScintilla(parent);
    editor->setObjectName(name);
    editor->setUtf8(true);
    // Lines keep the breaks they came with; new ones are typed as mail text has them.
    editor->setEolMode(QsciScintilla::EolWindows);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(10);
    editor->setFont(font);
    editor->setMarginsFont(font);
    editor->setMarginType(0, QsciScintilla::NumberMargin);
    editor->setMarginLineNumbers(0, true);
    editor->setMarginWidth(0, "00000");
    editor->setWrapMode(QsciScintilla::WrapNone);
    return editor;
}

QWidget* tabPage(QTabWidget* tabs, const char* name, const QString& caption, QWidget* content) {
    auto* page = new QWidget(tabs);
    page->setObjectName(name);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    content->setParent(page);
    layout->addWidget(content);
    tabs->addTab(page, caption);
    return page;
}

QAction* command(QObject* owner, const char* name, const QString& caption) {
    auto* action = new QAction(caption, owner);
    action->setObjectName(name);
    return action;
}

}  // namespace

TfmAdvanced::TfmAdvanced(TfrmMain& main) : QDialog(nullptr), main_(main) {
    setObjectName("fmAdvanced");
    setWindowTitle("Advanced Message Editor");
    OpenLink = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    acMessageSave = command(this, "acMessageSave", "Save");
    acCloseSave = command(this, "acCloseSave", "Exit and Save");
    acCloseCancel = command(this, "acCloseCancel", "Exit (dont save)");
    acTestSend = command(this, "acTestSend", "Test Send...");
    mnuPreviewinBrowser = command(this, "mnuPreviewinBrowser", "Preview in Browser");
    auto* menus = new QMenuBar(this);
    menus->setObjectName("mnuAdvanced");
    QMenu* file = menus->addMenu("File");
    file->addAction(acMessageSave);
    file->addSeparator();
    file->addActions({acCloseSave, acCloseCancel});
    QMenu* message = menus->addMenu("Message");
    message->addActions({acTestSend, mnuPreviewinBrowser});
    QMenu* variables = menus->addMenu("Variables");
    mnuInsertVars = variables->addMenu("Insert");
    mnuInsertVars->setObjectName("mnuInsertVars");

    edSender = pages::Field(this, "edSender");
    edReceipt = pages::Field(this, "edReceipt");
    edSubject = pages::Field(this, "edSubject");
    cbbPreview = new QComboBox(this);
    cbbPreview->setObjectName("cbbPreview");
    btnPrev = new QPushButton("<", this);
    btnPrev->setObjectName("btnPrev");
    btnNext = new QPushButton(">", this);
    btnNext->setObjectName("btnNext");
    for (QPushButton* b : {btnPrev, btnNext}) {
        b->setMaximumWidth(28);
        b->setAutoDefault(false);
    }
    btnTestSend = new QPushButton(acTestSend->text(), this);
    btnTestSend->setObjectName("btnTestSend");
    btnTestSend->setAutoDefault(false);
    connect(btnTestSend, &QPushButton::clicked, acTestSend, &QAction::trigger);
    cbbPriority = new QComboBox(this);
    cbbPriority->setObjectName("cbbPriority");
    cbbPriority->addItems({"Highest", "High", "Normal", "Low", "Lowest"});
    cbbType = new QComboBox(this);
    cbbType->setObjectName("cbbType");
    cbbType->addItems({"Simple", "Simple and Html", "Html only"});
    lbContact = new QLabel(this);
    lbContact->setObjectName("lbContact");

    auto* top = new QGridLayout;
    top->addWidget(new QLabel("Sender (if different from account settings):", this), 0, 0);
    top->addWidget(edSender, 0, 1, 1, 4);
    top->addWidget(new QLabel("Receipt Receiver (leave blank for no receipt):", this), 1, 0);
    top->addWidget(edReceipt, 1, 1, 1, 4);
    top->addWidget(new QLabel("Subject:", this), 2, 0);
    top->addWidget(edSubject, 2, 1, 1, 4);
    top->addWidget(new QLabel("Preview Contact:", this), 3, 0);
    QHBoxLayout* chooserRow = nullptr;
    QWidget* chooser = pages::InlineRow(this, &chooserRow);
    chooserRow->addWidget(cbbPreview, 1);
    chooserRow->addWidget(btnPrev);
    chooserRow->addWidget(btnNext);
    top->addWidget(chooser, 3, 1, 1, 3);
    top->addWidget(btnTestSend, 3, 4);
    top->addWidget(new QLabel("Priority:", this), 4, 0);
    QHBoxLayout* kindRow = nullptr;
    QWidget* kinds = pages::InlineRow(this, &kindRow);
    kindRow->addWidget(cbbPriority);
    kindRow->addWidget(new QLabel("Message type:", kinds));
    kindRow->addWidget(cbbType);
    kindRow->addWidget(lbContact, 1);
    top->addWidget(kinds, 4, 1, 1, 4);
    top->setColumnStretch(1, 1);

    pcMessage = new QTabWidget(this);
    pcMessage->setObjectName("pcMessage");
    sePlain = sourceEditor(this, "sePlain");
    seHtml = sourceEditor(this, "seHtml");
    auto* lexer = new QsciLexerHTML(seHtml);
    lexer->setDefaultFont(seHtml->font());
    lexer->setFont(seHtml->font());
    seHtml->setLexer(lexer);
    hlPreview = OfflineBrowser(this, "hlPreview");
    hlPreview->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    tsPlain = tabPage(pcMessage, "tsPlain", "Plain", sePlain);
    tsHtml = tabPage(pcMessage, "tsHtml", "Html", seHtml);
    tsPreview = tabPage(pcMessage, "tsPreview", "Preview", hlPreview);

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menus);
    layout->addLayout(top);
    layout->addWidget(pcMessage, 1);
    resize(737, 480);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(737 / 2, 480 / 2));

    connect(acMessageSave, &QAction::triggered, this, [this] { Save(); });
    connect(acCloseSave, &QAction::triggered, this, [this] {
        if (Save()) close();
    });
    connect(acCloseCancel, &QAction::triggered, this, &QWidget::close);
    connect(acTestSend, &QAction::triggered, this, [this] { acTestSendExecute(); });
    connect(mnuPreviewinBrowser, &QAction::triggered, this, [this] { PreviewInBrowser(); });
    for (QsciScintilla* editor : {sePlain, seHtml})
        connect(editor, &QsciScintilla::textChanged, this, [this] { userChanged(); });
    for (QLineEdit* field : {edSender, edSubject, edReceipt})
        connect(field, &QLineEdit::textChanged, this, [this] { userChanged(); });
    connect(cbbPriority, &QComboBox::currentIndexChanged, this, [this] { userChanged(); });
    pages::OnLeave(sePlain, [this] { Working.BodyPlain = platform::fromDisplay(sePlain->text()); });
    connect(cbbPreview, &QComboBox::currentIndexChanged, this, [this] {
        if (!updating()) Refresh();
    });
    connect(pcMessage, &QTabWidget::currentChanged, this, [this] {
        if (!updating()) Refresh();
    });
    connect(btnNext, &QPushButton::clicked, this, [this] { step(1); });
    connect(btnPrev, &QPushButton::clicked, this, [this] { step(-1); });
    connect(hlPreview, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        // Only web and mail links leave the window, and only when the user clicks them.
        if (TfmHtmlViewer::Openable(url) && OpenLink) OpenLink(url);
    });
}

TfmAdvanced::~TfmAdvanced() {
    // An editor that still has the focus is left now, while the working copy it writes into exists.
    if (QWidget* focused = focusWidget()) focused->clearFocus();
}

void TfmAdvanced::userChanged() {
    if (!updating()) EditorChanged = true;
}

TcvMessage* TfmAdvanced::Target() const { return targetAlive_.expired() ? nullptr : target_; }

TcvGroup* TfmAdvanced::WorkingGroup() {
    // The copy keeps its group by a plain reference: forget it once the group is freed.
    if (Working.Group && groupAlive_.expired()) Working.Group = nullptr;
    return Working.Group;
}

TcvContact* TfmAdvanced::PreviewContact() {
    TcvGroup* group = WorkingGroup();
    const int position = cbbPreview->currentIndex();
    return group && position >= 0 ? group->Contacts(position) : nullptr;
}

void TfmAdvanced::EditMessage(TcvMessage* message) {
    if (!message) throw std::invalid_argument(NoMessageText);
    target_ = message;
    targetAlive_ = message->Alive();
    LoadMessage(message);
}

void TfmAdvanced::LoadMessage(const TcvMessage* message) {
    if (!message) throw std::invalid_argument(NothingToShowText);
    ++EditorUpdateCount;
    Working.Assign(*message);
    groupAlive_ = Working.Group ? Working.Group->Alive() : std::weak_ptr<const void>();
    const bool plain = !Working.BodyPlain.empty(), html = !Working.BodyHtml.empty();
    cbbType->setCurrentIndex(plain && html ? SimpleAndHtml : plain ? Simple : html ? HtmlOnly : -1);
    cbbPreview->clear();
    mnuInsertVars->clear();
    if (TcvGroup* group = WorkingGroup()) {
        TStringList emails;
        group->GetEmails(emails);
        for (const std::string& email : emails) cbbPreview->addItem(text(email));
        cbbPreview->setCurrentIndex(emails.empty() ? -1 : 0);
        for (int i = 0; i < group->VariableCount(); ++i) {
            const QString name = text(group->VariableName(i));
            QAction* insert = mnuInsertVars->addAction(name);
            insert->setObjectName("mnuVar" + name);
            connect(insert, &QAction::triggered, this, [this, name] { InsertVariable(name); });
        }
    }
    EditorChanged = false;
    --EditorUpdateCount;
    Refresh();
}

void TfmAdvanced::SetPreviewMode() {
    PreviewMode = true;
    pcMessage->setCurrentWidget(tsPreview);
    pcMessage->setTabVisible(pcMessage->indexOf(tsPlain), false);
    pcMessage->setTabVisible(pcMessage->indexOf(tsHtml), false);
    for (QLineEdit* field : {edSender, edReceipt, edSubject}) field->setReadOnly(true);
    for (QWidget* w : std::initializer_list<QWidget*>{cbbPreview, btnPrev, btnNext, cbbPriority, cbbType})
        w->setEnabled(false);
    btnTestSend->hide();
}

void TfmAdvanced::SetPreviewContact(const TcvContact* contact) {
    TcvGroup* group = WorkingGroup();
    ++EditorUpdateCount;
    cbbPreview->setCurrentIndex(group && contact ? group->IndexOfContact(contact) : -1);
    --EditorUpdateCount;
    Refresh();
}

void TfmAdvanced::Refresh() {
    ++EditorUpdateCount;
    // Edits not yet saved stay on screen: only a loaded or saved copy is shown again.
    if (!EditorChanged) {
        sePlain->setText(text(Working.BodyPlain));
        seHtml->setText(text(Working.BodyHtml));
        edSender->setText(text(Working.Sender));
        edSubject->setText(text(Working.Subject));
        edReceipt->setText(text(Working.Receipt));
        cbbPriority->setCurrentIndex(Working.Priority >= 0 && Working.Priority < cbbPriority->count() ? Working.Priority
                                                                                                    : -1);
    }
    const TcvContact* contact = PreviewContact();
    lbContact->setText(contact ? text(contact->FullName()) : QString());
    const int type = cbbType->currentIndex();
    pcMessage->setTabVisible(pcMessage->indexOf(tsPlain), !PreviewMode && type != HtmlOnly);
    pcMessage->setTabVisible(pcMessage->indexOf(tsHtml), !PreviewMode && (type == SimpleAndHtml || type == HtmlOnly));
    if (pcMessage->currentWidget() == tsPreview) hlPreview->setHtml(text(PreviewText()));
    --EditorUpdateCount;
}

std::string TfmAdvanced::PreviewText() {
    const std::string view = Working.HtmlView();
    const TcvContact* contact = PreviewContact();
    return contact ? contact->Personalise(view) : view;
}

void TfmAdvanced::step(int delta) {
    const int count = cbbPreview->count();
    const int current = cbbPreview->currentIndex();
    // Past either end no contact is chosen; from there the next step starts at that end again.
    int next = current < 0 ? (delta > 0 ? 0 : count - 1) : current + delta;
    if (next >= count) next = -1;
    ++EditorUpdateCount;
    cbbPreview->setCurrentIndex(next);
    --EditorUpdateCount;
    Refresh();
}

void TfmAdvanced::InsertVariable(const QString& name) {
    QsciScintilla* editor = pcMessage->currentWidget() == tsPlain  ? sePlain
                            : pcMessage->currentWidget() == tsHtml ? seHtml
                                                                   : nullptr;
    if (!editor) return;
    // Replaces the selection, or goes in at the caret when nothing is selected.
    editor->replaceSelectedText("%" + name);
}

bool TfmAdvanced::Save() {
    if (EditorChanged) {
        Working.BodyPlain = platform::fromDisplay(sePlain->text());
        Working.BodyHtml = platform::fromDisplay(seHtml->text());
        Working.Sender = platform::fromDisplay(edSender->text());
        Working.Subject = platform::fromDisplay(edSubject->text());
        Working.Receipt = platform::fromDisplay(edReceipt->text());
        if (cbbPriority->currentIndex() >= 0) Working.Priority = cbbPriority->currentIndex();
    }
    if (target_) {
        if (TcvMessage* target = Target()) {
            // Only what this window edits: the title, code, status and mode may have been changed
            // on the Messages page meanwhile, and the mailer keeps counting mails sent.
            const bool changed = target->BodyPlain != Working.BodyPlain || target->BodyHtml != Working.BodyHtml ||
                                 target->Sender != Working.Sender || target->Subject != Working.Subject ||
                                 target->Receipt != Working.Receipt || target->Priority != Working.Priority;
            // A saved edit must be offered for saving at exit like any other change of the setup.
            if (changed && main_.Setup) main_.Setup->Modified = true;
            target->BodyPlain = Working.BodyPlain;
            target->BodyHtml = Working.BodyHtml;
            target->Sender = Working.Sender;
            target->Subject = Working.Subject;
            target->Receipt = Working.Receipt;
            target->Priority = Working.Priority;
        } else if (!saveAsNewMessage()) {
            return false;
        }
    }
    EditorChanged = false;
    if (OnSaved) OnSaved(*this);
    return true;
}

bool TfmAdvanced::saveAsNewMessage() {
    const QString title = text(Working.Title);
    TcvGroup* group = WorkingGroup();
    if (group && main_.Ask(TfrmMain::LineBreaks(QString(KeepAsNewQuestion).arg(title, text(group->Name))),
                           QMessageBox::Question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return false;
    // The question let the user work meanwhile.
    group = WorkingGroup();
    if (!group) {
        main_.ShowMessage(TfrmMain::LineBreaks(QString(GoneText).arg(title)), QMessageBox::Warning);
        return false;
    }
    auto* message = new TcvMessage;
    message->Assign(Working);
    // Stopped, so that nothing goes out before the user looks at it again; it keeps its code unless
    // another message took it, so contacts who received the deleted message do not get it twice.
    message->Status = TcvMessageStatus::Stopped;
    message->SendCount = 0;
    message->Group = nullptr;
    group->AddMessage(message);
    message->SetCode(UniqueCode(message->Code.empty() ? CodePrefixOf(message->Title) : message->Code,
                                group->MessageCodesExcept(message)));
    target_ = message;
    targetAlive_ = message->Alive();
    return true;
}

void TfmAdvanced::acTestSendExecute() {
    TcvGroup* group = WorkingGroup();
    TcvContact* contact = PreviewContact();
    if (!group || !contact || !TestSendHandler) return;
    TestSendHandler(Working, group, contact);
}

void TfmAdvanced::PreviewInBrowser() {
    const std::string html = PreviewText();
    if (html.empty()) return;
    const QString path = TfrmMain::DataFolder() + "temp.html";
    try {
        platform::replaceFileContents(path, html);
    } catch (const std::exception& e) {
        main_.ReportError(e);
        return;
    }
    main_.OpenWithDesktop(path);
}

void TfmAdvanced::closeEvent(QCloseEvent* event) {
    if (!EditorChanged) {
        event->accept();
        return;
    }
    const auto answer = main_.Ask(TfrmMain::LineBreaks(CloseQuestion), QMessageBox::Warning,
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::No || (answer == QMessageBox::Yes && Save())) event->accept();
    else event->ignore();
}

void TfmAdvanced::reject() { close(); }
