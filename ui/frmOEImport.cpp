#include "ui/frmOEImport.h"

#include "import/StoredMail.h"
#include "mailtext/IdMessageHelpers.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/DateTime.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const char* const Step1Text =
    "Welcome to the Outlook Express Import Wizard. You can use this wizard to import\n"
    "messages from Outlook Express and parse them with your defined parsers, in order \n"
    "to add new contacts, or remove contacts from your groups.\n"
    "\n"
    "Note: The selected messages will not be deleted in Outlook Express, If you want to \n"
    "do this, then you must do this manually.";
const char* const Step3Text =
    "The Outlook Express import wizard is now ready to import. Please verify the data below\n"
    "and press OK to import the messages. The messages will be parsed by all available\n"
    "parsers.";
// The designed size of the window until the user's bounds are kept.
constexpr int DesignedWidth = 640, DesignedHeight = 480;

QString text(const std::string& bytes) { return TfrmMain::DisplayText(bytes); }

template <class T>
T* named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QString localDateTime(uint64_t fileTime) {
    const double value = FileTimeToLocal(fileTime);
    if (value == 0) return {};
    const platform::DateParts d = platform::decodeDateTime(value);
    const QDateTime shown(QDate(d.year, d.month, d.day), QTime(d.hour, d.minute, d.second));
    return QLocale::system().toString(shown, QLocale::ShortFormat);
}

QString mailText(const std::string& source) {
    std::string shown = source;
    for (size_t at = 0; (at = shown.find("\r\n", at)) != std::string::npos;) shown.erase(at, 1);
    return text(shown);
}

}  // namespace

TfmOEImport::TfmOEImport(TfrmMain& main, TcvSetup& setup, TcvGroup& group, QWidget* parent)
    : QDialog(parent), main_(main), foldersWidth_(options::FoldersWidth), messagesHeight_(options::MessagesHeight) {
    setup_ = &setup;
    group_ = &group;
    setObjectName("fmOEImport");
    setWindowTitle("Outlook Express Import Wizard");

    auto* layout = new QVBoxLayout(this);
    lbPageTitle = named(new QLabel(this), "lbPageTitle");
    QFont titleFont = lbPageTitle->font();
    titleFont.setBold(true);
    lbPageTitle->setFont(titleFont);
    layout->addWidget(lbPageTitle);
    nbMain = named(new QStackedWidget(this), "nbMain");
    layout->addWidget(nbMain, 1);

    Step1 = named(new QWidget(nbMain), "Step1");
    auto* step1 = new QVBoxLayout(Step1);
    lbStep1Info = named(new QLabel(Step1Text, Step1), "lbStep1Info");
    lbIdentities = named(new QLabel("Select the Outlook Express identity:", Step1), "lbIdentities");
    cbbIdentities = named(new QComboBox(Step1), "cbbIdentities");
    step1->addWidget(lbStep1Info);
    step1->addSpacing(12);
    step1->addWidget(lbIdentities);
    step1->addWidget(cbbIdentities);
    step1->addStretch();
    nbMain->addWidget(Step1);

    Step2 = named(new QWidget(nbMain), "Step2");
    auto* step2 = new QVBoxLayout(Step2);
    step2->setContentsMargins(0, 0, 0, 0);
    splVertical = named(new QSplitter(Qt::Horizontal, Step2), "splVertical");
    pnlLeft = named(new QWidget(splVertical), "pnlLeft");
    auto* left = new QVBoxLayout(pnlLeft);
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(new QLabel("Folders:", pnlLeft));
    tvFolders = named(new QTreeWidget(pnlLeft), "tvFolders");
    tvFolders->setHeaderHidden(true);
    left->addWidget(tvFolders);
    splHorizontal = named(new QSplitter(Qt::Vertical, splVertical), "splHorizontal");
    pnlTop = named(new QWidget(splHorizontal), "pnlTop");
    auto* top = new QVBoxLayout(pnlTop);
    top->setContentsMargins(0, 0, 0, 0);
    auto* messagesRow = new QHBoxLayout;
    messagesRow->addWidget(new QLabel("Messages:", pnlTop));
    lbMessage = named(new QLabel(pnlTop), "lbMessage");
    messagesRow->addWidget(lbMessage, 1);
    top->addLayout(messagesRow);
    lvMessages = named(new QTreeWidget(pnlTop), "lvMessages");
    lvMessages->setRootIsDecorated(false);
    lvMessages->setUniformRowHeights(true);
    lvMessages->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvMessages->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvMessages->setHeaderLabels({"From", "Date", "Subject"});
    top->addWidget(lvMessages);
    auto* bottom = new QWidget(splHorizontal);
    auto* source = new QVBoxLayout(bottom);
    source->setContentsMargins(0, 0, 0, 0);
    source->addWidget(new QLabel("Message source:", bottom));
    reMessage = named(new QPlainTextEdit(bottom), "reMessage");
    reMessage->setReadOnly(true);
    reMessage->setLineWrapMode(QPlainTextEdit::NoWrap);
    reMessage->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    source->addWidget(reMessage);
    step2->addWidget(splVertical);
    nbMain->addWidget(Step2);

    Step3 = named(new QWidget(nbMain), "Step3");
    auto* step3 = new QVBoxLayout(Step3);
    lbStep3Info = named(new QLabel(Step3Text, Step3), "lbStep3Info");
    lbFolder = named(new QLabel(Step3), "lbFolder");
    lbMessageCount = named(new QLabel(Step3), "lbMessageCount");
    lbProgress = named(new QLabel(Step3), "lbProgress");
    pbProgress = named(new QProgressBar(Step3), "pbProgress");
    pbProgress->setRange(0, 100);
    lbResult = named(new QLabel(Step3), "lbResult");
    for (QWidget* w : std::initializer_list<QWidget*>{lbStep3Info, lbFolder, lbMessageCount, lbProgress, pbProgress, lbResult})
        step3->addWidget(w);
    step3->addStretch();
    nbMain->addWidget(Step3);

    auto* buttons = new QHBoxLayout;
    btnPrev = named(new QPushButton("< Previous", this), "btnPrev");
    btnNext = named(new QPushButton("Next >", this), "btnNext");
    btnCancel = named(new QPushButton("Cancel", this), "btnCancel");
    buttons->addStretch();
    buttons->addWidget(btnPrev);
    buttons->addWidget(btnNext);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);

    connect(btnNext, &QPushButton::clicked, this, [this] { btnNextClick(); });
    connect(btnPrev, &QPushButton::clicked, this, [this] { btnPrevClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &TfmOEImport::reject);
    connect(tvFolders, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { folderSelected(item); });
    connect(lvMessages, &QTreeWidget::itemSelectionChanged, this, [this] { messagesClicked(); });
    connect(splVertical, &QSplitter::splitterMoved, this, [this] { capturePaneSizes(); });
    connect(splHorizontal, &QSplitter::splitterMoved, this, [this] { capturePaneSizes(); });

    ChooseStoreFolder = [this] {
        return QFileDialog::getExistingDirectory(this, "Select the Outlook Express store folder");
    };

    if (options::MainStored) {
        const TOptionRect& r = options::MainBounds;
        setGeometry(r.Left, r.Top, std::max(r.Right - r.Left, 200), std::max(r.Bottom - r.Top, 150));
    } else {
        resize(DesignedWidth, DesignedHeight);
    }
    ShowStep(1);
}

void TfmOEImport::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    applyPaneSizes();
}

void TfmOEImport::applyPaneSizes() {
    if (panesApplied_ || !splVertical->isVisible()) return;
    panesApplied_ = true;
    // The splitters get their final size first, so that the sizes given are the sizes shown.
    layout()->activate();
    Step2->layout()->activate();
    splVertical->setSizes({foldersWidth_, std::max(splVertical->width() - foldersWidth_, 1)});
    splHorizontal->setSizes({messagesHeight_, std::max(splHorizontal->height() - messagesHeight_, 1)});
}

void TfmOEImport::capturePaneSizes() {
    if (!panesApplied_ || !splVertical->isVisible()) return;
    foldersWidth_ = splVertical->sizes().value(0, foldersWidth_);
    messagesHeight_ = splHorizontal->sizes().value(0, messagesHeight_);
}

TfmOEImport::~TfmOEImport() {
    capturePaneSizes();
    options::FoldersWidth = foldersWidth_;
    options::MessagesHeight = messagesHeight_;
    const QRect r = geometry();
    options::MainBounds = {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    options::MainStored = true;
}

void TfmOEImport::reject() {
    // The import stops after the mail in hand, and the window then closes.
    if (importing_) {
        cancel_ = true;
        return;
    }
    QDialog::reject();
}

void TfmOEImport::ShowStep(int step) {
    capturePaneSizes();
    step_ = step;
    switch (step) {
    case 1: enterStep1(); break;
    case 2: enterStep2(); break;
    case 3: enterStep3(); break;
    case 4: runImport(); break;
    }
}

void TfmOEImport::enterStep1() {
    lbPageTitle->setText("Step 1: Welcome");
    nbMain->setCurrentWidget(Step1);
    btnPrev->setEnabled(false);
    btnNext->setEnabled(true);
    btnCancel->setEnabled(true);
    int defaultIndex = 0;
    ReadIdentities(IdentityKeys, IdentityNames, defaultIndex);
    cbbIdentities->clear();
    const int keys = static_cast<int>(IdentityKeys.size());
    if (keys > 0) {
        for (const std::string& name : IdentityNames) cbbIdentities->addItem(text(name));
        if (options::Identity == -1 || options::Identity >= keys) options::Identity = defaultIndex;
        cbbIdentities->setCurrentIndex(options::Identity < cbbIdentities->count() ? options::Identity : -1);
    }
    lbIdentities->setVisible(keys >= 2);
    cbbIdentities->setVisible(keys >= 2);
}

bool TfmOEImport::haveStoreRoot(bool& chosen) {
    chosen = uoexpress::RegistryStoreRoot(IdentityKey).empty();
    if (!chosen || !uoexpress::ChosenStoreFolder().empty()) return true;
    const QString folder = ChooseStoreFolder ? ChooseStoreFolder() : QString();
    if (folder.isEmpty()) return false;
    uoexpress::SetChosenStoreFolder(folder.toStdString());
    return true;
}

void TfmOEImport::enterStep2() {
    lbPageTitle->setText("Step 2: Select Folder and Messages");
    nbMain->setCurrentWidget(Step2);
    applyPaneSizes();
    btnPrev->setEnabled(true);
    btnCancel->setEnabled(true);
    btnNext->setEnabled(false);
    CurrentFolder = nullptr;
    tvFolders->clear();
    lvMessages->clear();
    reMessage->clear();
    lbMessage->clear();
    Messages.clear();
    Folders.clear();

    bool chosen = false;
    if (!haveStoreRoot(chosen)) {
        ShowStep(1);
        return;
    }
    try {
        ReadDbxItems(uoexpress::FolderFileName, &Folders, IdentityKey);
    } catch (const std::exception&) {
        // A folder the user chose that holds no store is forgotten, so that the next try asks again.
        if (chosen) uoexpress::SetChosenStoreFolder("");
        main_.ShowMessage(TfrmMain::LineBreaks("You must close Outlook Express or switch identity before you can\r"
                                               "open the message folders."),
                          QMessageBox::Warning);
        ShowStep(1);
        return;
    }
    if (Folders.empty()) return;

    std::vector<Toe5_FolderInfo*> folders;
    for (const auto& item : Folders)
        if (auto* folder = dynamic_cast<Toe5_FolderInfo*>(item.get())) folders.push_back(folder);
    std::vector<bool> placed(folders.size(), false);
    // Depth first, children in list order; a folder whose parent comes later stays at the top.
    for (size_t first = 0; first < folders.size(); ++first) {
        if (placed[first]) continue;
        placed[first] = true;
        addFolderNode(*folders[first], nullptr);
        std::vector<std::pair<size_t, size_t>> stack{{first, 0}};
        while (!stack.empty()) {
            auto& [parent, next] = stack.back();
            while (next < folders.size() && (placed[next] || folders[next]->ParentId != folders[parent]->FolderId)) ++next;
            if (next == folders.size()) {
                stack.pop_back();
                continue;
            }
            const size_t child = next++;
            placed[child] = true;
            addFolderNode(*folders[child], static_cast<QTreeWidgetItem*>(folders[parent]->TreeNode));
            stack.emplace_back(child, 0);
        }
    }
    tvFolders->expandAll();
}

QTreeWidgetItem* TfmOEImport::addFolderNode(Toe5_FolderInfo& folder, QTreeWidgetItem* parent) {
    auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvFolders);
    node->setText(0, text(folder.FolderName));
    node->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    node->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(&folder)));
    folder.TreeNode = node;
    return node;
}

void TfmOEImport::folderSelected(QTreeWidgetItem* item) {
    if (step_ != 2) return;
    CurrentFolder = item ? static_cast<Toe5_FolderInfo*>(item->data(0, Qt::UserRole).value<void*>()) : nullptr;
    lvMessages->clear();
    lbMessage->clear();
    reMessage->clear();
    Messages.clear();
    btnNext->setEnabled(false);
    if (!CurrentFolder) return;
    if (!CurrentFolder->DbxFileName.empty()) {
        loading_ = true;
        try {
            ReadDbxItems(CurrentFolder->DbxFileName, &Messages, IdentityKey);
        } catch (const std::exception& e) {
            main_.ReportError(e);
        }
        QList<QTreeWidgetItem*> rows;
        for (const auto& item : Messages) {
            const auto* mail = dynamic_cast<const Toe5_MessageInfo*>(item.get());
            if (!mail) continue;
            rows << new QTreeWidgetItem(
                QStringList{text(mail->SenderName), localDateTime(mail->ReceivedTime), text(mail->Subject)});
        }
        lvMessages->addTopLevelItems(rows);
        loading_ = false;
    }
    showMessageCount();
}

std::vector<int> TfmOEImport::selectedRows() const {
    std::vector<int> rows;
    for (QTreeWidgetItem* item : lvMessages->selectedItems()) rows.push_back(lvMessages->indexOfTopLevelItem(item));
    std::sort(rows.begin(), rows.end());
    return rows;
}

Toe5_MessageInfo* TfmOEImport::messageAt(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= Messages.size()) return nullptr;
    return dynamic_cast<Toe5_MessageInfo*>(Messages[static_cast<size_t>(row)].get());
}

void TfmOEImport::showMessageCount() {
    lbMessage->setText(QString("%1 messages, %2 selected.")
                           .arg(lvMessages->topLevelItemCount())
                           .arg(lvMessages->selectedItems().size()));
}

void TfmOEImport::messagesClicked() {
    if (step_ != 2 || loading_) return;
    const std::vector<int> rows = selectedRows();
    btnNext->setEnabled(!rows.empty());
    Toe5_MessageInfo* mail = rows.empty() ? nullptr : messageAt(rows.front());
    if (CurrentFolder && !CurrentFolder->DbxFileName.empty() && mail) {
        std::string source;
        try {
            ReadMessageText(CurrentFolder->DbxFileName, mail->FirstBlock, source, PreviewLimit, IdentityKey);
        } catch (const std::exception& e) {
            main_.ReportError(e);
        }
        source += "\r\n";
        auto message = mailtext::MessageFromText(source);
        reMessage->setPlainText(
            message ? mailText(mailtext::HeaderSummary(*message) + "\r\n" + mailtext::MessageBodyText(*message)) : QString());
    }
    showMessageCount();
}

void TfmOEImport::enterStep3() {
    lbPageTitle->setText("Step 3: Confirm import from Outlook Express");
    nbMain->setCurrentWidget(Step3);
    btnPrev->setEnabled(true);
    btnNext->setEnabled(true);
    btnNext->setText("Next >");
    btnCancel->setEnabled(true);
    lbProgress->hide();
    pbProgress->hide();
    lbResult->hide();
    lbFolder->setText(QString("Folder: %1").arg(CurrentFolder ? text(CurrentFolder->FolderName) : QString()));
    lbMessageCount->setText(QString("Message(s) selected: %1").arg(selectedRows().size()));
}

void TfmOEImport::showProgress() {
    const int total = static_cast<int>(selectedRows().size());
    lbProgress->setText(QString("%1 of %2 messages imported").arg(Processed).arg(total));
    pbProgress->setValue(total > 0 ? static_cast<int>(std::lround(100.0 * Processed / total)) : 0);
    QApplication::processEvents();
}

void TfmOEImport::runImport() {
    const std::vector<int> rows = selectedRows();
    lbPageTitle->setText(QString("Step 4: Importing %1 messages from Outlook Express").arg(rows.size()));
    nbMain->setCurrentWidget(Step3);
    lbProgress->show();
    pbProgress->show();
    lbResult->hide();
    // Going back while the import walks the message list would rebuild that list under it.
    btnPrev->setEnabled(false);
    btnNext->setEnabled(false);
    btnCancel->setEnabled(true);
    Parsed = Processed = 0;
    cancel_ = false;
    importing_ = true;
    const std::string file = CurrentFolder ? CurrentFolder->DbxFileName : std::string();
    showProgress();
    for (int row : rows) {
        TcvGroup* group = group_;
        if (cancel_ || !group || !setup_) break;
        Toe5_MessageInfo* mail = messageAt(row);
        std::string source;
        try {
            if (mail && !file.empty()) ReadMessageText(file, mail->FirstBlock, source, 0, IdentityKey);
        } catch (const std::exception& e) {
            main_.ReportError(e);
        }
        if (ParseStoredMail(*group, source)) ++Parsed;
        ++Processed;
        showProgress();
    }
    importing_ = false;
    if (cancel_) {
        QDialog::reject();
        return;
    }
    lbResult->setText(QString("%1 messages of %2 were parsed successfully.").arg(Parsed).arg(Processed));
    lbResult->show();
    btnPrev->setEnabled(false);
    btnNext->setText("OK");
    btnNext->setEnabled(true);
    finished_ = true;
}

void TfmOEImport::btnNextClick() {
    if (importing_) return;
    if (finished_) {
        accept();
        return;
    }
    if (step_ == 1) {
        options::Identity = cbbIdentities->currentIndex();
        IdentityKey = options::Identity >= 0 && static_cast<size_t>(options::Identity) < IdentityKeys.size()
                          ? IdentityKeys[static_cast<size_t>(options::Identity)]
                          : std::string();
    }
    if (step_ >= 1 && step_ <= 3) ShowStep(step_ + 1);
}

void TfmOEImport::btnPrevClick() {
    if (importing_ || finished_ || step_ <= 1) return;
    ShowStep(step_ - 1);
}

void ImportFromOutlookExpress(TfrmMain& main, TcvSetup* setup, TcvGroup* group) {
    if (!setup) return;
    if (!group) {
        main.ShowMessage("Please select a group first, then restart the wizard.");
        return;
    }
    TfmOEImport window(main, *setup, *group, &main);
    main.ExecDialog(window);
}
