#include "ui/frmImportTxt.h"

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "ui/cvMain.h"

#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

const char* const DialogTitle = "Import from textfile";
const char* const DialogFilterText = "Text files (*.txt)|*.txt|All files|*.*";

QString text(const std::string& bytes) { return TfrmMain::DisplayText(bytes); }

double toDateTime(const QDate& date) { return platform::encodeDate(date.year(), date.month(), date.day()); }

QDate toDate(double dateTime) {
    int year = 0, month = 0, day = 0;
    platform::decodeDate(dateTime, year, month, day);
    return QDate(year, month, day);
}

template <class T>
T* named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QString chooseTextFile(TfrmMain& main, const std::string& proposed) {
    return main.ChooseOpenFile(DialogTitle, TfrmMain::DialogFilter(DialogFilterText), QString::fromStdString(proposed));
}

}  // namespace

TfmImportTxt::TfmImportTxt(TfrmMain& main, const TcvImportTextInfo& info, QWidget* parent)
    : QDialog(parent), Info(info), main_(main) {
    setObjectName("fmImportTxt");
    setWindowTitle("Import contact information from a textfile");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Select or type a textfile name to import:", this));
    auto* fileRow = new QHBoxLayout;
    edFileName = named(new QLineEdit(this), "edFileName");
    btnOpen = named(new QPushButton("Open...", this), "btnOpen");
    fileRow->addWidget(edFileName, 1);
    fileRow->addWidget(btnOpen);
    layout->addLayout(fileRow);

    gbDelimiter = named(new QGroupBox("Delimiter (the charater that divides the fields):", this), "gbDelimiter");
    auto* delimiters = new QGridLayout(gbDelimiter);
    rbTab = named(new QRadioButton("TAB character (#9)", gbDelimiter), "rbTab");
    rbSpace = named(new QRadioButton("Space (#32)", gbDelimiter), "rbSpace");
    rbSemicolon = named(new QRadioButton("Semicolon (;)", gbDelimiter), "rbSemicolon");
    rbComma = named(new QRadioButton("Comma (,)", gbDelimiter), "rbComma");
    rbOther = named(new QRadioButton("Another character:", gbDelimiter), "rbOther");
    edDelimiter = named(new QLineEdit(gbDelimiter), "edDelimiter");
    edDelimiter->setMaximumWidth(40);
    delimiters->addWidget(rbTab, 0, 0);
    delimiters->addWidget(rbSpace, 1, 0);
    delimiters->addWidget(rbSemicolon, 2, 0);
    delimiters->addWidget(rbComma, 0, 1);
    auto* otherRow = new QHBoxLayout;
    otherRow->addWidget(rbOther);
    otherRow->addWidget(edDelimiter);
    otherRow->addStretch();
    delimiters->addLayout(otherRow, 1, 1);
    layout->addWidget(gbDelimiter);

    chbRemoveQuotes = named(new QCheckBox("Remove double and single quotes if they are present", this), "chbRemoveQuotes");
    layout->addWidget(chbRemoveQuotes);

    auto* infoRow = new QHBoxLayout;
    lbWizardInfo = named(new QLabel("The wizard has found these fields in the text file:", this), "lbWizardInfo");
    btnViewFile = named(new QPushButton("View file with default viewer", this), "btnViewFile");
    infoRow->addWidget(lbWizardInfo, 1);
    infoRow->addWidget(btnViewFile);
    layout->addLayout(infoRow);

    auto* lists = new QGridLayout;
    lists->addWidget(new QLabel("Fields to import (checked):", this), 0, 0);
    lists->addWidget(new QLabel("Available:", this), 0, 2);
    clbFileFields = named(new QListWidget(this), "clbFileFields");
    clbAvailFields = named(new QListWidget(this), "clbAvailFields");
    auto* middle = new QVBoxLayout;
    auto* hint = new QLabel("Select left, select right then click this button:", this);
    hint->setWordWrap(true);
    btnSetField = named(new QPushButton("< <", this), "btnSetField");
    btnSkipField = named(new QPushButton("> >", this), "btnSkipField");
    middle->addWidget(hint);
    middle->addWidget(btnSetField);
    middle->addWidget(btnSkipField);
    middle->addStretch();
    lists->addWidget(clbFileFields, 1, 0);
    lists->addLayout(middle, 1, 1);
    lists->addWidget(clbAvailFields, 1, 2);
    layout->addLayout(lists, 1);

    auto* joinRow = new QHBoxLayout;
    chbJoinDate = named(new QCheckBox("Set a \"Joined\" date:", this), "chbJoinDate");
    dtpJoinDate = named(new QDateEdit(this), "dtpJoinDate");
    dtpJoinDate->setCalendarPopup(true);
    dtpJoinDate->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    joinRow->addWidget(chbJoinDate);
    joinRow->addWidget(dtpJoinDate);
    joinRow->addStretch();
    layout->addLayout(joinRow);
    layout->addWidget(new QLabel("Note: contacts will be added to original list.", this));

    auto* buttons = new QHBoxLayout;
    btnImport = named(new QPushButton("OK, Import", this), "btnImport");
    btnCancel = named(new QPushButton("Cancel", this), "btnCancel");
    btnImport->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(btnImport);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);
    setFixedSize(580, 560);

    connect(btnOpen, &QPushButton::clicked, this, [this] { btnOpenClick(); });
    edFileName->installEventFilter(this);
    edDelimiter->installEventFilter(this);
    connect(rbTab, &QRadioButton::clicked, this, [this] { ChangeDelimiter('\t'); });
    connect(rbSpace, &QRadioButton::clicked, this, [this] { ChangeDelimiter(' '); });
    connect(rbSemicolon, &QRadioButton::clicked, this, [this] { ChangeDelimiter(';'); });
    connect(rbComma, &QRadioButton::clicked, this, [this] { ChangeDelimiter(','); });
    connect(rbOther, &QRadioButton::clicked, this, [this] { otherDelimiter(); });
    connect(chbRemoveQuotes, &QCheckBox::clicked, this, [this](bool on) {
        if (showing_) return;
        Info.RemoveQuotes = on;
        ShowInfo();
    });
    connect(clbFileFields, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (!showing_) fileFieldChanged(clbFileFields->row(item));
    });
    connect(clbFileFields, &QListWidget::currentRowChanged, this, [this] { enableButtons(); });
    connect(clbAvailFields, &QListWidget::currentRowChanged, this, [this] { enableButtons(); });
    connect(btnSetField, &QPushButton::clicked, this, [this] { btnSetFieldClick(); });
    connect(btnSkipField, &QPushButton::clicked, this, [this] { btnSkipFieldClick(); });
    connect(chbJoinDate, &QCheckBox::clicked, this, [this](bool on) {
        if (showing_) return;
        Info.SetJoinDate = on;
        ShowInfo();
    });
    connect(dtpJoinDate, &QDateEdit::dateChanged, this, [this](const QDate& date) {
        if (showing_) return;
        Info.JoinDate = toDateTime(date);
    });
    connect(btnViewFile, &QPushButton::clicked, this,
            [this] { main_.OpenWithDesktop(QString::fromStdString(Info.FileName)); });
    connect(btnImport, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TfmImportTxt::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !showing_) {
        if (watched == edFileName) fileNameExit();
        else if (watched == edDelimiter) otherDelimiter();
    }
    return QDialog::eventFilter(watched, event);
}

void TfmImportTxt::ScanFile() { ::ScanFile(Info); }

void TfmImportTxt::ShowInfo() {
    showing_ = true;
    edFileName->setText(QString::fromStdString(Info.FileName));
    switch (Info.Delimiter) {
    case '\t': rbTab->setChecked(true); break;
    case ' ': rbSpace->setChecked(true); break;
    case ',': rbComma->setChecked(true); break;
    case ';': rbSemicolon->setChecked(true); break;
    default: rbOther->setChecked(true);
    }
    const bool other = rbOther->isChecked();
    edDelimiter->setText(other ? text(std::string(1, Info.Delimiter)) : QString());
    chbRemoveQuotes->setChecked(Info.RemoveQuotes);
    const int availRow = clbAvailFields->currentRow();
    clbAvailFields->clear();
    for (const std::string& field : Info.AvailableFields) clbAvailFields->addItem(text(field));
    if (availRow < clbAvailFields->count()) clbAvailFields->setCurrentRow(availRow);

    if (Info.LoadFailed) {
        lbWizardInfo->setText("Please select a valid file first!");
        clbFileFields->clear();
        clbAvailFields->clear();
        showing_ = false;
        enableButtons();
        return;
    }
    lbWizardInfo->setText(
        QString("The wizard has detected %1 records with %2 fields each.").arg(Info.RecordCount).arg(Info.FieldCount));
    const int fileRow = clbFileFields->currentRow();
    clbFileFields->clear();
    for (size_t i = 0; i < Info.ColumnFields.size(); ++i) {
        const std::string& field = Info.ColumnFields[i];
        auto* item = new QListWidgetItem(field.empty() ? QString("Skipped") : text(field), clbFileFields);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(i < Info.ColumnChecked.size() && Info.ColumnChecked[i] ? Qt::Checked : Qt::Unchecked);
    }
    if (fileRow < clbFileFields->count()) clbFileFields->setCurrentRow(fileRow);
    chbJoinDate->setChecked(Info.SetJoinDate);
    dtpJoinDate->setDate(toDate(Info.JoinDate));
    dtpJoinDate->setVisible(Info.SetJoinDate);
    showing_ = false;
    enableButtons();
}

void TfmImportTxt::enableButtons() {
    btnSetField->setEnabled(clbFileFields->currentRow() >= 0 && clbAvailFields->currentRow() >= 0);
    btnSkipField->setEnabled(clbFileFields->currentRow() >= 0);
}

void TfmImportTxt::btnOpenClick() {
    const QString path = chooseTextFile(main_, Info.FileName);
    if (!path.isEmpty()) {
        Info.FileName = path.toStdString();
        ScanFile();
    }
    ShowInfo();
}

void TfmImportTxt::fileNameExit() {
    const std::string name = edFileName->text().toStdString();
    if (name == Info.FileName) return;
    Info.FileName = name;
    ScanFile();
    ShowInfo();
}

void TfmImportTxt::ChangeDelimiter(char delimiter) {
    if (showing_) return;
    Info.Delimiter = delimiter;
    ScanFile();
    ShowInfo();
}

void TfmImportTxt::otherDelimiter() {
    if (showing_) return;
    const std::string typed = platform::fromDisplay(edDelimiter->text());
    rbOther->setChecked(true);
    ChangeDelimiter(typed.size() == 1 ? typed[0] : '*');
}

void TfmImportTxt::fileFieldChanged(int row) {
    if (row < 0 || static_cast<size_t>(row) >= Info.ColumnChecked.size()) return;
    Info.ColumnChecked[static_cast<size_t>(row)] = clbFileFields->item(row)->checkState() == Qt::Checked;
    ShowInfo();
}

void TfmImportTxt::btnSetFieldClick() {
    const int column = clbFileFields->currentRow();
    const int field = clbAvailFields->currentRow();
    if (column < 0 || field < 0 || static_cast<size_t>(column) >= Info.ColumnFields.size() ||
        static_cast<size_t>(field) >= Info.AvailableFields.size())
        return;
    Info.ColumnFields[static_cast<size_t>(column)] = Info.AvailableFields[static_cast<size_t>(field)];
    Info.ColumnChecked[static_cast<size_t>(column)] = true;
    ShowInfo();
}

void TfmImportTxt::btnSkipFieldClick() {
    const int column = clbFileFields->currentRow();
    if (column < 0 || static_cast<size_t>(column) >= Info.ColumnFields.size()) return;
    Info.ColumnFields[static_cast<size_t>(column)].clear();
    Info.ColumnChecked[static_cast<size_t>(column)] = false;
    ShowInfo();
}

void ImportTextFile(TfrmMain& main, TcvGroup* group, TcvImportTextInfo& info) {
    if (!group) return;
    if (info.FileName.empty()) {
        const QString path = chooseTextFile(main, info.FileName);
        if (path.isEmpty()) return;
        info.FileName = path.toStdString();
    }
    info.AvailableFields = textimport::AvailableFieldsOf(group);
    info.JoinDate = std::floor(platform::now());

    TfmImportTxt window(main, info, &main);
    window.ScanFile();
    window.ShowInfo();
    const std::weak_ptr<const void> groupAlive = group->Alive();
    // The modal wait lets the timer run, which may take the group away.
    if (main.ExecDialog(window) != QDialog::Accepted || groupAlive.expired()) return;
    ImportTextLines(*group, window.Info);
    info = window.Info;
}
