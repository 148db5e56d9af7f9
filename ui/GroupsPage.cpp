#include "ui/GroupsPage.h"

#include "model/cvSetup.h"
#include "platform/CodePage.h"
#include "ui/cvClipboard.h"
#include "ui/cvMain.h"
#include "ui/cvPageTools.h"
#include "ui/cvReportModel.h"
#include "ui/ContactsPage.h"
#include "ui/Filters.h"
#include "ui/frmGroupCompare.h"

#include <QAbstractButton>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>
#include <QVBoxLayout>

#include <stdexcept>
#include <string>

namespace {

const char* const NoAccount = "None selected";

QString accountName(const TcvAccount* account) {
    return account ? platform::toDisplay(account->Name) : QString(NoAccount);
}

}  // namespace

TGroupsPage::TGroupsPage(TfrmMain& main, QWidget* page) : QObject(page), main_(main) {
    setObjectName("GroupsPage");
    Model = new TcvReportModel({"Name", "Account", "Contacts", "Messages"}, this);
    Model->RowCount = [&main] { return main.Setup ? main.Setup->GroupCount() : 0; };
    Model->RowObject = [&main](int row) -> const void* { return main.Setup->Groups(row); };
    Model->Cell = [&main](int row, int column) {
        const TcvGroup* g = main.Setup->Groups(row);
        if (!g) return QString();
        switch (column) {
        case 0: return platform::toDisplay(g->Name);
        case 1: return accountName(g->Account);
        case 2: return QString::number(g->ContactCount());
        case 3: return QString::number(g->MessageCount());
        default: return QString();
        }
    };
    Model->Icon = [](int) { return QVariant(pages::GroupIcon()); };
    Model->Updating = [&main] { return main.Updating(); };
    Model->EditCell = [this, &main](int row, const QString& text) {
        if (main.Updating()) return;
        if (TcvGroup* g = main.Setup->Groups(row)) g->SetName(platform::fromDisplay(text));
        edited();
    };

    lvGroups = pages::ReportList(page, "lvGroups", Model, true);
    lvGroups->setEditTriggers(QAbstractItemView::EditKeyPressed);
    const int widths[] = {120, 120, 70, 70};
    for (int i = 0; i < 4; ++i) lvGroups->setColumnWidth(i, widths[i]);
    QVBoxLayout* column = pages::RecordPage(page, lvGroups);
    btnGroupNew = pages::CommandButton(page, "btnGroupNew", main.acGroupNew);
    btnGroupDelete = pages::CommandButton(page, "btnGroupDelete", main.acGroupDelete);
    btnViewContacts = pages::CommandButton(page, "btnViewContacts", main.acViewContacts);
    btnViewMessages = pages::CommandButton(page, "btnViewMessages", main.acViewMessages);
    btnCompareGroups = pages::CommandButton(page, "btnCompareGroups", main.acGroupCompare, "Compare");
    for (QAbstractButton* b : {btnGroupNew, btnGroupDelete, btnViewContacts, btnViewMessages, btnCompareGroups})
        column->addWidget(b);

    auto* details = new QGroupBox("Group Details", page);
    details->setObjectName("gbGroupDetails");
    auto* form = new QFormLayout(details);
    edGroupName = pages::Field(details, "edGroupName");
    edGroupCode = pages::Field(details, "edGroupCode");
    edGroupCode->setMaxLength(3);
    cbbGroupAccount = new TDropDownCombo(details);
    cbbGroupAccount->setObjectName("cbbGroupAccount");
    cbbGroupAccount->setEditable(true);
    cbbGroupAccount->setInsertPolicy(QComboBox::NoInsert);
    edGroupUnsubscribe = pages::Field(details, "edGroupUnsubscribe");
    edGroupUnsubscribe->setPlaceholderText("address that takes \"unsubscribe\" answers");
    edGroupUnsubscribe->setToolTip("Named in the List-Unsubscribe header of every mail of the group; "
                                   "give a mailbox that a parser of the group reads with the Unsubscribe action.");
    mmGroupPurpose = new QPlainTextEdit(details);
    mmGroupPurpose->setObjectName("mmGroupPurpose");
    mmGroupPurpose->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmGroupPurpose->setTabChangesFocus(true);
    form->addRow("Name:", edGroupName);
    form->addRow("Code:", edGroupCode);
    form->addRow("Account for sending:", cbbGroupAccount);
    form->addRow("Unsubscribe address:", edGroupUnsubscribe);
    form->addRow(new QLabel("Group Information:", details));
    form->addRow(mmGroupPurpose);
    column->addWidget(details, 1);

    connect(lvGroups->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { rowStateChanged(); });
    connect(lvGroups->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { rowStateChanged(); });
    connect(lvGroups, &QAbstractItemView::doubleClicked, this, [&main] { main.acViewContacts->trigger(); });
    pages::OnLeave(edGroupName, [this] { nameLeft(); });
    pages::OnLeave(edGroupCode, [this] { codeLeft(); });
    pages::OnLeave(cbbGroupAccount, [this] { accountLeft(); });
    pages::OnLeave(mmGroupPurpose, [this] { purposeLeft(); });
    pages::OnLeave(edGroupUnsubscribe, [this] { unsubscribeLeft(); });
    cbbGroupAccount->OnDropDown = [this] { accountDropDown(); };
}

TcvGroup* TGroupsPage::editedGroup() const { return main_.Updating() ? nullptr : main_.SelGroup.get(); }

void TGroupsPage::edited() {
    main_.RefreshCommands();
    Refresh();
}

void TGroupsPage::Refresh() {
    if (main_.Updating()) return;
    main_.BeginUpdate();
    TcvGroup* group = main_.SelGroup;
    const int count = main_.Setup->GroupCount();
    main_.pnlGroupsTitle->setText(group ? QString(" %1 groups [%2]").arg(count).arg(platform::toDisplay(group->Name))
                                        : QString(" %1 groups").arg(count));
    Model->Refresh();
    // The current group's row is selected, whichever way the group became current.
    pages::ShowCurrentRow(lvGroups, group ? main_.Setup->IndexOfGroup(group) : -1);
    if (group) {
        edGroupName->setText(platform::toDisplay(group->Name));
        edGroupCode->setText(platform::toDisplay(group->Code));
        cbbGroupAccount->setEditText(accountName(group->Account));
        mmGroupPurpose->setPlainText(TfrmMain::DisplayText(group->Purpose));
        edGroupUnsubscribe->setText(platform::toDisplay(group->UnsubscribeAddress));
    } else {
        edGroupName->clear();
        edGroupCode->clear();
        cbbGroupAccount->setEditText(QString());
        mmGroupPurpose->clear();
        edGroupUnsubscribe->clear();
    }
    main_.EndUpdate();
}

// The row whose state changed is the current row of the list when it is selected; a row left
// unselected leaves the first selected row, or none.
void TGroupsPage::rowStateChanged() {
    if (main_.Updating()) return;
    QItemSelectionModel* selection = lvGroups->selectionModel();
    int row = -1;
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row(), QModelIndex())) row = current.row();
    else if (!selection->selectedRows().isEmpty()) row = selection->selectedRows().first().row();
    main_.SelectGroup(main_.Setup->Groups(row));
    main_.RefreshCommands();
}

void TGroupsPage::nameLeft() {
    TcvGroup* group = editedGroup();
    if (!group) return;
    const std::string name = platform::fromDisplay(edGroupName->text());
    if (name != group->Name) group->SetName(name);
    edited();
}

void TGroupsPage::codeLeft() {
    TcvGroup* group = editedGroup();
    if (!group) return;
    main_.BeginUpdate();
    const std::string code =
        UniqueCode(platform::fromDisplay(edGroupCode->text().toUpper()), main_.Setup->GroupCodesExcept(group));
    group->SetCode(code);
    edGroupCode->setText(platform::toDisplay(code));
    main_.EndUpdate();
    edited();
}

void TGroupsPage::accountDropDown() {
    const QString text = cbbGroupAccount->currentText();
    main_.BeginUpdate();
    cbbGroupAccount->clear();
    for (int i = 0; i < main_.Setup->AccountCount(); ++i) {
        const TcvAccount* account = main_.Setup->Accounts(i);
        if (account->UseForSending) cbbGroupAccount->addItem(platform::toDisplay(account->Name));
    }
    cbbGroupAccount->setEditText(text);
    main_.EndUpdate();
}

void TGroupsPage::accountLeft() {
    TcvGroup* group = editedGroup();
    if (!group) return;
    const std::string name = platform::fromDisplay(cbbGroupAccount->currentText());
    // The last account of that name wins; a name no account has keeps the account.
    for (int i = 0; i < main_.Setup->AccountCount(); ++i)
        if (main_.Setup->Accounts(i)->Name == name) group->Account = main_.Setup->Accounts(i);
    edited();
}

void TGroupsPage::purposeLeft() {
    TcvGroup* group = editedGroup();
    if (!group) return;
    group->Purpose = platform::fromDisplay(mmGroupPurpose->toPlainText().replace('\n', "\r\n"));
    edited();
}

void TGroupsPage::unsubscribeLeft() {
    TcvGroup* group = editedGroup();
    if (!group) return;
    const std::string address = platform::fromDisplay(edGroupUnsubscribe->text().trimmed());
    // Goes into every mail the group sends, so the change is one worth saving.
    if (address != group->UnsubscribeAddress) {
        group->UnsubscribeAddress = address;
        group->Changed();
    }
    edited();
}

void TGroupsPage::acGroupNewExecute() {
    auto* group = new TcvGroup;
    main_.Setup->AddGroup(group);
    group->SetName("NewGroup" + std::to_string(main_.Setup->GroupCount()));
    main_.Setup->SelectGroup(group);
}

void TGroupsPage::acGroupDeleteExecute() {
    TcvGroup* group = main_.SelGroup;
    if (!group) return;
    const int position = main_.Setup->IndexOfGroup(group);
    main_.SelectGroup(nullptr);
    main_.Setup->DeleteGroup(position);
    main_.Setup->SelectGroup(main_.Setup->Groups(position));
    main_.RefreshCommands();
    Refresh();
}

void TGroupsPage::acGroupCopyExecute() {
    if (TcvGroup* group = main_.SelGroup) clipboard::SetText(group->SaveToString());
}

void TGroupsPage::acGroupPasteExecute() {
    try {
        clipboard::PasteGroup(*main_.Setup, clipboard::Text());
    } catch (const std::exception& e) {
        main_.ReportError(e);
    }
    main_.RefreshCommands();
    Refresh();
}

void TGroupsPage::acGroupCompareExecute() {
    const auto rows = SelectedIndices(*lvGroups);
    if (rows->Count() != 2) return;
    std::string failure;
    main_.BeginUpdate();
    try {
        CompareGroups(main_, main_.Setup->Groups((*rows)[0]), main_.Setup->Groups((*rows)[1]));
    } catch (const std::exception& e) {
        // A deletion that failed half-way keeps what it did; the pages show it before the error.
        failure = e.what();
    }
    main_.EndUpdate();
    // Contacts may have been deleted: none of them may stay on the Contacts page.
    main_.ContactsPage->UpdateFilter();
    main_.RefreshCommands();
    Refresh();
    main_.RefreshContactsPage();
    if (!failure.empty()) main_.ReportError(std::runtime_error(failure));
}
