#include "ui/VariablesPage.h"

#include "model/cvSetup.h"
#include "platform/CodePage.h"
#include "ui/cvMain.h"
#include "ui/cvPageTools.h"

#include <QAbstractButton>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

TVariablesPage::TVariablesPage(TfrmMain& main, QWidget* page) : QObject(page), main_(main) {
    setObjectName("VariablesPage");
    auto* box = new QGroupBox("Custom Contact fields (add your own)", page);
    box->setObjectName("gbFieldDefs");
    auto* boxLayout = new QVBoxLayout(box);
    auto* note = new QLabel("Checked will appear under \"Contacts\"", box);
    note->setObjectName("lbFieldDefsNote");
    boxLayout->addWidget(note);
    auto* row = new QHBoxLayout;
    clbFieldDefs = new QListWidget(box);
    clbFieldDefs->setObjectName("clbFieldDefs");
    row->addWidget(clbFieldDefs, 1);
    auto* buttons = new QVBoxLayout;
    btnFieldNew = pages::CommandButton(box, "btnFieldNew", main.acFieldNew);
    btnFieldDelete = pages::CommandButton(box, "btnFieldDelete", main.acFieldDelete);
    btnFieldUp = pages::CommandButton(box, "btnFieldUp", main.acFieldUp);
    btnFieldDn = pages::CommandButton(box, "btnFieldDn", main.acFieldDown);
    for (QAbstractButton* b : {btnFieldNew, btnFieldDelete, btnFieldUp, btnFieldDn}) buttons->addWidget(b);
    buttons->addStretch();
    row->addLayout(buttons);
    boxLayout->addLayout(row, 1);
    auto* form = new QFormLayout;
    edFieldTitle = pages::Field(box, "edFieldTitle");
    form->addRow("Title:", edFieldTitle);
    boxLayout->addLayout(form);
    static_cast<QVBoxLayout*>(page->layout())->addWidget(box, 1);

    connect(clbFieldDefs, &QListWidget::currentRowChanged, this, [this] { rowClicked(); });
    // A row that stayed current from another group is not yet that group's current field.
    connect(clbFieldDefs, &QListWidget::itemClicked, this, [this] { rowClicked(); });
    connect(clbFieldDefs, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) { checkToggled(item); });
    pages::OnLeave(edFieldTitle, [this] { titleLeft(); });
}

TcvGroup* TVariablesPage::editedGroup() const { return main_.Updating() ? nullptr : main_.SelGroup.get(); }

void TVariablesPage::edited() {
    main_.RefreshCommands();
    Refresh();
}

void TVariablesPage::Refresh() {
    if (main_.Updating()) return;
    main_.BeginUpdate();
    TcvGroup* group = main_.SelGroup;
    const int count = group ? group->FieldDefCount() : 0;
    main_.pnlVariablesTitle->setText(group ? QString(" Variables in group %1").arg(platform::toDisplay(group->Name))
                                           : QString(" Select group first"));
    // Rows are reused so that the chosen row stays where it was.
    while (clbFieldDefs->count() > count) delete clbFieldDefs->takeItem(clbFieldDefs->count() - 1);
    for (int i = 0; i < count; ++i) {
        const TcvFieldDef* def = group->FieldDefs(i);
        QListWidgetItem* item = clbFieldDefs->item(i);
        if (!item) {
            item = new QListWidgetItem(clbFieldDefs);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        }
        item->setText(platform::toDisplay(def->Title));
        item->setCheckState(def->Checked ? Qt::Checked : Qt::Unchecked);
    }
    const TcvFieldDef* current = main_.SelFieldDef;
    edFieldTitle->setText(current ? platform::toDisplay(current->Title) : QString());
    main_.EndUpdate();
}

void TVariablesPage::rowClicked() {
    TcvGroup* group = editedGroup();
    if (!group) return;
    main_.SelectFieldDef(group->FieldDefs(clbFieldDefs->currentRow()));
}

void TVariablesPage::checkToggled(QListWidgetItem* item) {
    TcvGroup* group = editedGroup();
    if (!group) return;
    TcvFieldDef* def = group->FieldDefs(clbFieldDefs->row(item));
    if (!def) return;
    def->Checked = item->checkState() == Qt::Checked;
    main_.BuildContactColumns();
}

void TVariablesPage::titleLeft() {
    TcvFieldDef* def = editedGroup() ? main_.SelFieldDef.get() : nullptr;
    if (!def) return;
    def->Title = platform::fromDisplay(edFieldTitle->text());
    main_.BuildContactColumns();
    edited();
}

void TVariablesPage::acFieldNewExecute() {
    TcvGroup* group = editedGroup();
    if (!group) return;
    auto* def = new TcvFieldDef;
    def->Title = "NewField" + std::to_string(group->FieldDefCount() + 1);
    def->Checked = true;
    group->AddFieldDef(def);
    main_.RefreshCommands();
    Refresh();
}

void TVariablesPage::acFieldDeleteExecute() {
    TcvGroup* group = editedGroup();
    const int position = clbFieldDefs->currentRow();
    if (!group || !group->FieldDefs(position)) return;
    main_.SelectFieldDef(nullptr);
    // The contacts' values go first, so that each value stays with its field.
    for (int i = 0; i < group->ContactCount(); ++i) group->Contacts(i)->DeleteCustomField(position);
    group->DeleteFieldDef(position);
    main_.RefreshCommands();
    Refresh();
}

void TVariablesPage::acFieldUpExecute() { moveField(-1); }

void TVariablesPage::acFieldDownExecute() { moveField(1); }

void TVariablesPage::moveField(int offset) {
    TcvGroup* group = editedGroup();
    const int position = clbFieldDefs->currentRow();
    const int other = position + offset;
    if (!group || !group->FieldDefs(position) || !group->FieldDefs(other)) return;
    for (int i = 0; i < group->ContactCount(); ++i) group->Contacts(i)->ExchangeCustomFields(position, other);
    group->ExchangeFieldDefs(position, other);
    main_.BeginUpdate();
    clbFieldDefs->setCurrentRow(other);
    main_.EndUpdate();
    main_.BuildContactColumns();
    main_.RefreshContactsPage();
    main_.RefreshCommands();
    Refresh();
}
