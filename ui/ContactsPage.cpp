#include "ui/ContactsPage.h"

#include "mailtext/HtmlHelpers.h"
#include "mailtext/TcpProbe.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "platform/Locale.h"
#include "ui/Filters.h"
#include "ui/cvClipboard.h"
#include "ui/cvMain.h"
#include "ui/frmAdvanced.h"
#include "ui/frmCustomFields.h"
#include "ui/cvPageTools.h"
#include "ui/cvReportModel.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QTableView>
#include <QVBoxLayout>

#include <memory>
#include <stdexcept>

namespace {

const char* const DeleteQuestion = "Are you sure you want to delete these %1 contacts?";
const char* const UnsubscribeQuestion = "Are you sure you want to unsubscribe these %1 contacts?";
const char* const ClearHistoryQuestion = "Do you really want to clear all history items?";

QString text(const std::string& s) { return platform::toDisplay(s); }

// Upper case of the code page's letters, so that searching needs no conversion per contact.
struct UpperTable {
    unsigned char map[256];
    UpperTable() {
        for (int i = 0; i < 256; ++i) {
            int c = i;
            if ((i >= 'a' && i <= 'z') || (i >= 0xE0 && i <= 0xFE && i != 0xF7)) c = i - 0x20;
            else if (i == 0x9A || i == 0x9C || i == 0x9E) c = i - 0x10;
            else if (i == 0xFF) c = 0x9F;
            map[i] = static_cast<unsigned char>(c);
        }
    }
};

void upperInto(std::string_view s, std::string& out) {
    static const UpperTable table;
    out.resize(s.size());
    for (size_t i = 0; i < s.size(); ++i) out[i] = static_cast<char>(table.map[static_cast<unsigned char>(s[i])]);
}

std::string upper(std::string_view s) {
    std::string out;
    upperInto(s, out);
    return out;
}

QString monthName(int month) { return QLocale::system().monthName(month, QLocale::ShortFormat); }

// "DD mmm YYYY HH:NN", "DD mmm YYYY" or "DD mmm YY".
QString dateText(double dateTime, bool time, bool shortYear = false) {
    const platform::DateParts d = platform::decodeDateTime(dateTime);
    QString s = QString("%1 %2 %3")
                    .arg(d.day, 2, 10, QChar('0'))
                    .arg(monthName(d.month))
                    .arg(shortYear ? QString("%1").arg(d.year % 100, 2, 10, QChar('0')) : QString::number(d.year));
    if (time) s += QString(" %1:%2").arg(d.hour, 2, 10, QChar('0')).arg(d.minute, 2, 10, QChar('0'));
    return s;
}

// Holds the window's update guard for a scope, also when an error leaves it.
class UpdateGuard {
public:
    explicit UpdateGuard(TfrmMain& main) : main_(main) { main_.BeginUpdate(); }
    ~UpdateGuard() { main_.EndUpdate(); }
    UpdateGuard(const UpdateGuard&) = delete;
    UpdateGuard& operator=(const UpdateGuard&) = delete;

private:
    TfrmMain& main_;
};

// A check box that shows and toggles a checkable command.
QCheckBox* commandCheckBox(QWidget* parent, const char* name, QAction* command) {
    auto* box = new QCheckBox(command->text(), parent);
    box->setObjectName(name);
    box->setChecked(command->isChecked());
    QObject::connect(box, &QCheckBox::clicked, command, [command, box](bool checked) {
        // The command toggles its own check mark.
        if (command->isChecked() != checked) command->trigger();
        box->setChecked(command->isChecked());
    });
    QObject::connect(command, &QAction::toggled, box, &QCheckBox::setChecked);
    QObject::connect(command, &QAction::changed, box, [command, box] { box->setEnabled(command->isEnabled()); });
    return box;
}

int firstSelectedRow(const QTableView& view) {
    int row = -1;
    for (const QItemSelectionRange& range : view.selectionModel()->selection())
        if (row < 0 || range.top() < row) row = range.top();
    return row;
}

}  // namespace

TContactsPage::TContactsPage(TfrmMain& main, QWidget* page) : QObject(page), main_(main) {
    setObjectName("ContactsPage");
    ConnectProbe = [](const std::string& host, int port) { mailtext::TcpConnectAndClose(host, port); };

    Model = new TcvReportModel({}, this);
    Model->RowCount = [this] { return main_.SelGroup && filter_ ? filter_->Count() : 0; };
    Model->RowObject = [this](int row) { return filter_->Identity(row); };
    Model->Cell = [this](int row, int column) { return cell(row, column); };
    Model->Icon = [this](int row) {
        const TcvContact* c = rowContact(row);
        if (!c) return QVariant();
        return QVariant(c->HasValidEmail() ? pages::ValidIcon() : pages::ErrorIcon());
    };
    Model->Updating = [&main] { return main.Updating(); };
    Model->EditCell = [this](int row, const QString& address) {
        if (main_.Updating()) return;
        if (TcvContact* c = rowContact(row)) c->SetEmail(platform::fromDisplay(address));
        edited();
    };
    lvContacts = pages::ReportList(page, "lvContacts", Model, true);
    lvContacts->setEditTriggers(QAbstractItemView::EditKeyPressed);
    lvContacts->setMouseTracking(true);
    lvContacts->viewport()->setMouseTracking(true);
    lvContacts->horizontalHeader()->setSectionsClickable(true);
    lvContacts->horizontalHeader()->setSortIndicatorShown(true);

    QVBoxLayout* column = pages::RecordPage(page, lvContacts);
    btnNewContact = pages::CommandButton(page, "btnNewContact", main.acContactNew);
    btnDeleteContact = pages::CommandButton(page, "btnDeleteContact", main.acContactDelete);
    chbSearch = commandCheckBox(page, "chbSearch", main.acContactSearch);
    edSearch = pages::Field(page, "edSearch");
    chbDuplicates = commandCheckBox(page, "chbDuplicates", main.acContactDupes);
    chbListErr = commandCheckBox(page, "chbListErr", main.acContactErrors);
    btnContactCopy = pages::CommandButton(page, "btnContactCopy", main.acContactCopy);
    btnContactPaste = pages::CommandButton(page, "btnContactPaste", main.acContactPaste);
    btnImportTXT = pages::CommandButton(page, "btnImportTXT", main.acImportTxt);
    btnSendManual = pages::CommandButton(page, "btnSendManual", main.acSendManual);
    for (QWidget* w : std::initializer_list<QWidget*>{btnNewContact, btnDeleteContact, chbSearch, edSearch,
                                                      chbDuplicates, chbListErr, btnContactCopy, btnContactPaste,
                                                      btnImportTXT, btnSendManual})
        column->addWidget(w);

    auto* details = new QGroupBox("Contact Details", page);
    details->setObjectName("gbContactDetails");
    auto* form = new QFormLayout(details);
    edContactEmail = pages::Field(details, "edContactEmail");
    lbValidationError = new QLabel(details);
    lbValidationError->setObjectName("lbValidationError");
    QPalette maroon = lbValidationError->palette();
    maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
    lbValidationError->setPalette(maroon);
    btnCheckDomain = pages::CommandButton(details, "btnCheckDomain", main.acCheckDomain);
    edContactFirstName = pages::Field(details, "edContactFirstName");
    edContactLastName = pages::Field(details, "edContactLastName");
    lbJoined = new QLabel(details);
    lbJoined->setObjectName("lbJoined");
    lbFullname = new QLabel(details);
    lbFullname->setObjectName("lbFullname");
    btnCustomFields = pages::CommandButton(details, "btnCustomFields", main.acContactFields);
    HistoryModel = new TcvReportModel({"Code", "Date", "Title"}, this);
    HistoryModel->RowCount = [this] {
        const TcvContact* c = main_.SelContact;
        return c ? c->HistoryCount() : 0;
    };
    HistoryModel->Cell = [this](int row, int column) {
        const TcvContact* c = main_.SelContact;
        const TcvHist* h = c ? c->HistoryItem(row) : nullptr;
        if (!h) return QString();
        if (column == 0) return text(h->Code);
        if (column == 1) return dateText(h->Date, false, true);
        const TcvMessage* m = main_.SelGroup ? main_.SelGroup->FindMessage(h->Code) : nullptr;
        return m ? text(m->Title) : QString();
    };
    HistoryModel->Updating = [&main] { return main.Updating(); };
    lvContactHistory = pages::ReportList(details, "lvContactHistory", HistoryModel, true);
    lvContactHistory->setColumnWidth(1, 70);
    lvContactHistory->setColumnWidth(2, 120);
    lvContactHistory->setContextMenuPolicy(Qt::ActionsContextMenu);
    lvContactHistory->addActions({main.acHistPreview, main.acHistClear});
    form->addRow("Email:", edContactEmail);
    form->addRow(lbValidationError);
    form->addRow(btnCheckDomain);
    form->addRow("First Name:", edContactFirstName);
    form->addRow("Last Name:", edContactLastName);
    form->addRow("Joined:", lbJoined);
    form->addRow("Full Name:", lbFullname);
    form->addRow(btnCustomFields);
    form->addRow(new QLabel("History (emails sent to this contact):", details));
    form->addRow(lvContactHistory);
    column->addWidget(details, 1);

    connect(lvContacts->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { rowStateChanged(); });
    connect(lvContacts->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { rowStateChanged(); });
    connect(lvContacts, &QAbstractItemView::entered, this, [this](const QModelIndex& index) { hover(index.row()); });
    connect(lvContacts->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int c) { headerClicked(c); });
    connect(lvContactHistory->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { main_.RefreshCommands(); });
    lvContacts->installEventFilter(this);
    pages::OnLeave(edContactEmail, [this] { emailLeft(); });
    pages::OnLeave(edContactFirstName, [this] { nameLeft(true); });
    pages::OnLeave(edContactLastName, [this] { nameLeft(false); });
    pages::OnLeave(edSearch, [this] { searchLeft(); });
    connect(edSearch, &QLineEdit::returnPressed, this, [this] { searchLeft(); });
}

// The Delete key in the list deletes the selected contacts (an open in-place editor takes its own keys).
bool TContactsPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lvContacts && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        if (main_.acContactDelete->isEnabled()) main_.acContactDelete->trigger();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TContactsPage::AttachFilter(TFilter& filter) {
    filter_ = &filter;
    filter.OnFilter = [this](TFilter&, TcvContact* contact, int, bool& accept) { accept = Accepts(contact); };
    filter.OnCompare = [this](TFilter&, TcvContact* a, int, TcvContact* b) { return Compare(a, b); };
    filter.OnPrepareSort = [this](TFilter&, const std::vector<TcvContact*>& contacts) { PrepareSort(contacts); };
    filter.OnCompareKeys = [this](TFilter&, int a, int b) { return CompareKeys(a, b); };
}

void TContactsPage::UpdateFilter() {
    lastPosition_ = -1;
    if (filter_) filter_->Update();
}

TcvContact* TContactsPage::rowContact(int row) const { return filter_ ? filter_->Items(row) : nullptr; }

QString TContactsPage::cell(int row, int column) const {
    TcvContact* c = rowContact(row);
    if (!c) return {};
    switch (column) {
    case ColEmail: return text(c->Email);
    case ColStatus: return text(c->StatusText());
    case ColJoined: return dateText(c->Joined, true);
    case ColReceived: return text(c->HistoryText());
    case ColBounces: return c->Bounces > 0 ? QString::number(c->Bounces) : QString();
    case ColSpeed: {
        const float speed = static_cast<float>(c->AverageSpeed());
        return speed == 0 ? QString() : QString::asprintf("%3.2f", speed);
    }
    default: return text(fieldText(column, c));
    }
}

bool TContactsPage::Accepts(TcvContact* contact) {
    if (!contact) return true;
    if (main_.acContactSearch->isChecked() && !SearchText.empty()) {
        thread_local std::string buffer;
        bool found = false;
        const std::string* const fields[] = {&contact->Email, &contact->FirstName, &contact->LastName};
        for (const std::string* s : fields) {
            upperInto(*s, buffer);
            if (buffer.find(SearchText) != std::string::npos) {
                found = true;
                break;
            }
        }
        if (!found) return false;
    }
    const TcvGroup* group = main_.SelGroup;
    if (!group) return true;
    bool accept = true;
    if (main_.acContactDupes->isChecked()) {
        int position = lastPosition_ + 1;
        if (group->Contacts(position) != contact) position = group->IndexOfContact(contact);
        lastPosition_ = position;
        const TcvContact* next = group->Contacts(position + 1);
        const TcvContact* previous = position > 0 ? group->Contacts(position - 1) : nullptr;
        accept = (next && platform::sameText(next->Email, contact->Email)) ||
                 (previous && platform::sameText(previous->Email, contact->Email));
    }
    if (main_.acContactErrors->isChecked()) accept = !contact->HasValidEmail();
    return accept;
}

namespace {

// The rank of StatusText in byte order: "", "Bounced", "Frozen", "Unsubscribed".
int statusRank(const TcvContact* c) {
    if (c->Unsubscribed) return 3;
    if (c->Frozen) return 2;
    return c->Bounces > 0 ? 1 : 0;
}

// HistoryText without a new string per call: sorting builds it twice per comparison.
void historyInto(const TcvContact* c, std::string& out) {
    out.clear();
    for (size_t i = 0; i < c->Hist.size(); ++i) {
        if (i) out += ", ";
        out += c->Hist[i].Code;
    }
}

int compareHistory(const TcvContact* a, const TcvContact* b) {
    // Equal code lists make equal texts, the common case among contacts of one group.
    if (a->Hist.size() == b->Hist.size() &&
        std::equal(a->Hist.begin(), a->Hist.end(), b->Hist.begin(),
                   [](const TcvHist& x, const TcvHist& y) { return x.Code == y.Code; }))
        return 0;
    thread_local std::string x, y;
    historyInto(a, x);
    historyInto(b, y);
    return platform::compareText(x, y);
}

template <class T>
int compareNumbers(T a, T b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

const std::string& TContactsPage::fieldText(int column, const TcvContact* contact) const {
    static const std::string empty;
    const size_t k = static_cast<size_t>(column - FixedColumns);
    if (column < FixedColumns || k >= fieldColumns_.size() || !contact->CustomFields) return empty;
    const size_t index = static_cast<size_t>(fieldColumns_[k]);
    return index < contact->CustomFields->size() ? (*contact->CustomFields)[index] : empty;
}

int TContactsPage::compareColumn(int column, TcvContact* a, TcvContact* b) const {
    switch (column) {
    case ColEmail:
        return options::SortByDomain ? CompareEmails(a->Email, b->Email) : platform::compareText(a->Email, b->Email);
    case ColStatus: return compareNumbers(statusRank(a), statusRank(b));
    case ColJoined: return CompareFloat(a->Joined, b->Joined);
    case ColReceived: return compareHistory(a, b);
    case ColBounces: return compareNumbers(a->Bounces, b->Bounces);
    case ColSpeed: return compareNumbers(static_cast<float>(a->AverageSpeed()), static_cast<float>(b->AverageSpeed()));
    default: return platform::compareText(fieldText(column, a), fieldText(column, b));
    }
}

int TContactsPage::keyCount() const {
    int keys = 1;
    for (size_t i = 0; i < 3; ++i)
        if (SortKeys[i + 1].Column != SortKeys[i].Column) ++keys;
    return keys;
}

int TContactsPage::Compare(TcvContact* a, TcvContact* b) {
    if (!main_.SelGroup) return 0;
    for (int j = 0; j < keyCount(); ++j) {
        const TSortKey& key = SortKeys[static_cast<size_t>(j)];
        int r = compareColumn(key.Column, a, b);
        if (key.Descending) r = -r;
        if (r) return r;
    }
    return 0;
}

namespace {

bool isTextColumn(int column) {
    return column == TContactsPage::ColEmail || column == TContactsPage::ColReceived ||
           column >= TContactsPage::FixedColumns;
}

}  // namespace

void TContactsPage::PrepareSort(const std::vector<TcvContact*>& contacts) {
    keyColumns_.clear();
    keyCells_.clear();
    keyText_.clear();
    if (!main_.SelGroup) return;
    for (int j = 0; j < keyCount(); ++j) keyColumns_.push_back(SortKeys[static_cast<size_t>(j)].Column);
    keyCells_.reserve(contacts.size() * keyColumns_.size());
    std::string history;
    for (const TcvContact* c : contacts) {
        for (const int column : keyColumns_) {
            KeyCell cell{0, 0, 0};
            if (isTextColumn(column)) {
                const std::string* text = &c->Email;
                if (column == ColReceived) {
                    historyInto(c, history);
                    text = &history;
                } else if (column != ColEmail) {
                    text = &fieldText(column, c);
                }
                cell.offset = static_cast<uint32_t>(keyText_.size());
                cell.length = static_cast<uint32_t>(text->size());
                keyText_ += *text;
            } else if (column == ColStatus) {
                cell.number = statusRank(c);
            } else if (column == ColJoined) {
                cell.number = c->Joined;
            } else if (column == ColBounces) {
                cell.number = c->Bounces;
            } else {
                cell.number = static_cast<float>(c->AverageSpeed());
            }
            keyCells_.push_back(cell);
        }
    }
}

int TContactsPage::CompareKeys(int a, int b) const {
    const size_t keys = keyColumns_.size();
    const KeyCell* x = keyCells_.data() + static_cast<size_t>(a) * keys;
    const KeyCell* y = keyCells_.data() + static_cast<size_t>(b) * keys;
    for (size_t j = 0; j < keys; ++j) {
        const int column = keyColumns_[j];
        int r;
        if (isTextColumn(column)) {
            const std::string_view p(keyText_.data() + x[j].offset, x[j].length);
            const std::string_view q(keyText_.data() + y[j].offset, y[j].length);
            r = column == ColEmail && options::SortByDomain ? CompareEmails(p, q) : platform::compareText(p, q);
        } else {
            r = column == ColJoined ? CompareFloat(x[j].number, y[j].number) : compareNumbers(x[j].number, y[j].number);
        }
        if (SortKeys[j].Descending) r = -r;
        if (r) return r;
    }
    return 0;
}

void TContactsPage::BuildColumns() {
    QStringList headers = {"Email", "Status", "Joined", "Received", "Bounces", "Kb/s"};
    fieldColumns_.clear();
    if (const TcvGroup* group = main_.SelGroup) {
        for (int i = 0; i < group->FieldDefCount(); ++i) {
            const TcvFieldDef* def = group->FieldDefs(i);
            if (!def->Checked) continue;
            fieldColumns_.push_back(i);
            headers << text(def->Title);
        }
    }
    // A key whose column is gone falls back to the e-mail column, ascending; the list follows.
    bool keysChanged = false;
    for (TSortKey& key : SortKeys) {
        if (key.Column >= 0 && key.Column < headers.size()) continue;
        key = TSortKey{};
        keysChanged = true;
    }
    if (keysChanged && filter_) filter_->Sort();
    lvContacts->hide();
    Model->SetHeaders(headers);
    const int widths[] = {140, 45, 80, 140, 55, 40};
    for (int i = 0; i < headers.size(); ++i) lvContacts->setColumnWidth(i, i < FixedColumns ? widths[i] : 100);
    showSortIndicator();
    lvContacts->show();
}

void TContactsPage::showSortIndicator() {
    lvContacts->horizontalHeader()->setSortIndicator(SortKeys[0].Column,
                                                     SortKeys[0].Descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TContactsPage::pushSortKey(int column) {
    for (size_t i = 3; i > 0; --i) SortKeys[i] = SortKeys[i - 1];
    SortKeys[0] = TSortKey{column, false};
}

void TContactsPage::headerClicked(int column) {
    if (!main_.SelGroup || main_.Updating()) {
        showSortIndicator();
        return;
    }
    {
        UpdateGuard guard(main_);
        if (SortKeys[0].Column == column) SortKeys[0].Descending = !SortKeys[0].Descending;
        else pushSortKey(column);
        showSortIndicator();
        UpdateFilter();
    }
    Refresh();
}

void TContactsPage::Refresh() {
    if (main_.Updating()) return;
    UpdateGuard guard(main_);
    TcvGroup* group = main_.SelGroup;
    const int shown = group && filter_ ? filter_->Count() : 0;
    if (!group) {
        main_.pnlContactsTitle->setText(" Select group first");
    } else if (main_.acContactSearch->isChecked() && !SearchText.empty()) {
        main_.pnlContactsTitle->setText(QString("Search results for \"%1\" (found %2 items)").arg(edSearch->text()).arg(shown));
    } else if (TcvContact* contact = main_.SelContact) {
        main_.pnlContactsTitle->setText(
            QString(" %1 contacts in group %2 [%3]").arg(shown).arg(text(group->Name), text(contact->Email)));
    } else {
        main_.pnlContactsTitle->setText(QString(" %1 contacts in group %2 ").arg(shown).arg(text(group->Name)));
    }
    Model->Refresh();
    showDetails();
    if (group) {
        QString status = QString("%1 Contacts").arg(group->ContactCount());
        if (shown < group->ContactCount()) status += QString(", %1 Shown").arg(shown);
        const int selected = SelectedCount(*lvContacts);
        if (selected > 0) status += QString(", %1 Selected").arg(selected);
        if (selected == 1 && main_.SelContact) status += QString(" (%1)").arg(text(main_.SelContact->Email));
        main_.SetStatusText(0, status);
    }
}

void TContactsPage::RefreshDetails() {
    if (main_.Updating()) return;
    UpdateGuard guard(main_);
    showDetails();
}

void TContactsPage::showDetails() {
    TcvContact* contact = main_.SelContact;
    for (QLineEdit* field : {edContactEmail, edContactFirstName, edContactLastName}) field->setEnabled(contact);
    if (!contact) {
        for (QLineEdit* field : {edContactEmail, edContactFirstName, edContactLastName}) field->clear();
        for (QLabel* label : {lbValidationError, lbJoined, lbFullname}) label->clear();
    } else {
        edContactEmail->setText(text(contact->Email));
        const int validation = mailtext::ValidateAddress(contact->Email);
        lbValidationError->setText(validation == 0 && !contact->ValidDomain
                                       ? QString("Warning: domain is not responding")
                                       : text(mailtext::ValidationMessage(validation)));
        edContactFirstName->setText(text(contact->FirstName));
        edContactLastName->setText(text(contact->LastName));
        lbJoined->setText(dateText(contact->Joined, false));
        lbFullname->setText(text(contact->FullName()));
    }
    // Another contact's history is another list; the same contact's keeps its selection.
    if (contact != historyContact_) {
        historyContact_ = contact;
        HistoryModel->Reset();
    } else {
        HistoryModel->Refresh();
    }
}

std::vector<TcvContact*> TContactsPage::SelectedContacts() const {
    std::vector<TcvContact*> contacts;
    if (!main_.SelGroup) return contacts;
    const auto rows = SelectedIndices(*lvContacts);
    contacts.reserve(static_cast<size_t>(rows->Count()));
    for (int row : *rows)
        if (TcvContact* c = rowContact(row)) contacts.push_back(c);
    return contacts;
}

void TContactsPage::edited() {
    main_.RefreshCommands();
    Refresh();
}

// The row whose state changed is the current row when it is selected; otherwise the first
// selected row, or none.
void TContactsPage::rowStateChanged() {
    if (!main_.SelGroup || main_.Updating()) return;
    QItemSelectionModel* selection = lvContacts->selectionModel();
    const QModelIndex current = selection->currentIndex();
    int row = current.isValid() && selection->isRowSelected(current.row(), QModelIndex()) ? current.row()
                                                                                         : firstSelectedRow(*lvContacts);
    TcvContact* contact = rowContact(row);
    if (contact == main_.SelContact.get()) {
        main_.RefreshCommands();
        Refresh();
        return;
    }
    main_.SelectContact(contact);
}

void TContactsPage::hover(int row) {
    if (!options::ContactInfoHoover || !main_.SelGroup || main_.Updating()) return;
    TcvContact* contact = rowContact(row);
    if (!contact || contact == main_.SelContact.get()) return;
    main_.SelContact = contact;
    RefreshDetails();
}

void TContactsPage::emailLeft() {
    TcvContact* contact = main_.Updating() ? nullptr : main_.SelContact.get();
    if (!contact) return;
    contact->SetEmail(platform::fromDisplay(edContactEmail->text()));
    edited();
}

void TContactsPage::nameLeft(bool first) {
    TcvContact* contact = main_.Updating() ? nullptr : main_.SelContact.get();
    if (!contact) return;
    if (first) contact->SetFirstName(platform::fromDisplay(edContactFirstName->text()));
    else contact->SetLastName(platform::fromDisplay(edContactLastName->text()));
    edited();
}

void TContactsPage::searchLeft() {
    if (main_.Updating()) return;
    SearchText = upper(platform::fromDisplay(edSearch->text()));
    UpdateFilter();
    Refresh();
}

void TContactsPage::acContactNewExecute() {
    TcvGroup* group = main_.SelGroup;
    if (!group) return;
    auto* contact = new TcvContact;
    {
        // One filter pass for the addition and the address.
        UpdateGuard guard(main_);
        group->AddContact(contact);
        contact->SetEmail("contact" + std::to_string(group->ContactCount()) + "@" + PlaceholderDomain);
        contact->Joined = platform::now();
        UpdateFilter();
    }
    Refresh();
    group->SelectContact(contact);
    if (const int row = filter_->IndexOf(contact); row >= 0) {
        UpdateGuard guard(main_);
        pages::ShowCurrentRow(lvContacts, row);
    }
    main_.RefreshCommands();
    Refresh();
}

void TContactsPage::acContactDeleteExecute() { removeSelected(false); }

void TContactsPage::acContactUnsubscribeExecute() { removeSelected(true); }

void TContactsPage::removeSelected(bool unsubscribe) {
    TcvRef<TcvGroup> group;
    group = main_.SelGroup.get();
    if (!group) return;
    int count = 0;
    std::string failure;
    {
        UpdateGuard guard(main_);
        const auto rows = SelectedIndices(*lvContacts);
        count = rows->Count();
        if (count == 0) return;
        // Taken before the question, whose wait lets the user and the timer work: each is checked again.
        std::vector<std::pair<TcvContact*, std::weak_ptr<const void>>> contacts;
        contacts.reserve(static_cast<size_t>(count));
        for (int row : *rows)
            if (TcvContact* c = rowContact(row)) contacts.emplace_back(c, c->Alive());
        if (count >= 2 &&
            main_.Ask(QString(unsubscribe ? UnsubscribeQuestion : DeleteQuestion).arg(count), QMessageBox::Warning,
                      QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
        try {
            for (auto it = contacts.rbegin(); it != contacts.rend(); ++it) {
                TcvGroup* g = group;
                if (!g) break;
                if (it->second.expired()) continue;
                if (unsubscribe) g->Unsubscribe(g->IndexOfContact(it->first));
                else g->RemoveContact(it->first);
            }
        } catch (const std::exception& e) {
            // A failed unsubscribe mail ends the command; what was done so far stays done.
            failure = e.what();
        }
        if (TcvGroup* g = group)
            main_.SetStatusText(0, QString(unsubscribe ? "Unsubscribed %1 contacts from \"%2\""
                                                       : "Removed %1 contacts from \"%2\"")
                                       .arg(count)
                                       .arg(text(g->Name)));
        UpdateFilter();
    }
    // Removed rows leave the selection; a row still selected gives the current contact.
    const QString status = main_.StatusText(0);
    Refresh();
    main_.SelContact = rowContact(firstSelectedRow(*lvContacts));
    main_.RefreshCommands();
    Refresh();
    main_.SetStatusText(0, status);
    if (!failure.empty()) main_.ReportError(std::runtime_error(failure));
}

void TContactsPage::acContactCopyExecute() {
    if (!main_.SelGroup) return;
    const std::vector<TcvContact*> contacts = SelectedContacts();
    if (contacts.empty()) return;
    clipboard::SetText(clipboard::ContactsText(contacts));
}

void TContactsPage::acContactPasteExecute() {
    TcvGroup* group = main_.SelGroup;
    if (!group) return;
    {
        UpdateGuard guard(main_);
        clipboard::PasteContacts(*group, clipboard::Text());
        UpdateFilter();
    }
    main_.RefreshCommands();
    Refresh();
}

void TContactsPage::acContactSearchExecute() {
    UpdateFilter();
    main_.RefreshCommands();
    Refresh();
}

void TContactsPage::acContactErrorsExecute() { acContactSearchExecute(); }

void TContactsPage::acContactDupesExecute() {
    const bool on = main_.acContactDupes->isChecked();
    if (on) {
        // Equal addresses become neighbours.
        if (SortKeys[0].Column != ColEmail) pushSortKey(ColEmail);
        SortKeys[0].Descending = false;
        BuildColumns();
    }
    UpdateFilter();
    main_.RefreshCommands();
    Refresh();
    lvContacts->clearSelection();
    if (on && main_.SelGroup) selectExtraDuplicates();
}

void TContactsPage::selectExtraDuplicates() {
    QItemSelection extra;
    const int count = filter_->Count();
    const int lastColumn = Model->columnCount() - 1;
    for (int row = 1; row < count; ++row) {
        const TcvContact* previous = filter_->Items(row - 1);
        const TcvContact* contact = filter_->Items(row);
        if (!previous || !contact || !platform::sameText(previous->Email, contact->Email)) continue;
        int end = row;
        while (end + 1 < count && filter_->Items(end + 1) &&
               platform::sameText(filter_->Items(end + 1)->Email, contact->Email))
            ++end;
        extra.select(Model->index(row, 0), Model->index(end, lastColumn));
        row = end;
    }
    lvContacts->selectionModel()->select(extra, QItemSelectionModel::ClearAndSelect);
}

void TContactsPage::acCheckDomainExecute() {
    if (main_.CheckingDomain || !main_.SelContact) return;
    TcvRef<TcvContact> contact;
    contact = main_.SelContact.get();
    main_.CheckingDomain = true;
    main_.RefreshCommands();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    // Runs however the check ends.
    const std::shared_ptr<void> cleanUp(nullptr, [this](void*) {
        main_.RefreshCommands();
        Refresh();
        main_.CheckingDomain = false;
        main_.SetStatusText(0, QString());
        QApplication::restoreOverrideCursor();
        main_.RefreshCommands();
    });
    const std::string host = "mail." + mailtext::DomainPart(contact->Email);
    main_.SetStatusText(0, QString("Checking domain %1...").arg(text(host)));
    bool responding = true;
    try {
        ConnectProbe(host, 25);
    } catch (...) {
        responding = false;
    }
    // The wait let the user work: the contact may be gone.
    if (TcvContact* c = contact) c->ValidDomain = responding;
    if (responding) main_.ShowMessage("The domain is responding OK");
}

void TContactsPage::acHistClearExecute() {
    TcvRef<TcvContact> contact;
    contact = main_.SelContact.get();
    if (!contact) return;
    if (main_.Ask(ClearHistoryQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) !=
        QMessageBox::Yes)
        return;
    TcvContact* c = contact;
    if (!c || c != main_.SelContact.get()) return;
    const auto rows = SelectedIndices(*lvContactHistory);
    for (int i = rows->Count() - 1; i >= 0; --i) c->DeleteHistory((*rows)[i]);
    main_.RefreshCommands();
    Refresh();
}

void TContactsPage::acHistPreviewExecute() {
    TcvGroup* group = main_.SelGroup;
    TcvContact* contact = main_.SelContact;
    if (!group || !contact) return;
    const QModelIndexList rows = lvContactHistory->selectionModel()->selectedRows();
    const TcvHist* entry = rows.size() == 1 ? contact->HistoryItem(rows.first().row()) : nullptr;
    if (!entry) return;
    TfmAdvanced preview(main_);
    preview.SetPreviewMode();
    try {
        preview.LoadMessage(group->FindMessage(entry->Code));
    } catch (const std::exception& e) {
        main_.ReportError(e);
        return;
    }
    preview.SetPreviewContact(contact);
    main_.ExecDialog(preview);
}

void TContactsPage::acContactFieldsExecute() {
    EditCustomFields(main_, main_.SelGroup, SelectedContacts());
    main_.RefreshCommands();
    Refresh();
}
