#include "ui/ParsersPage.h"

#include "model/cvSetup.h"
#include "platform/CodePage.h"
#include "platform/SharedLibrary.h"
#include "ui/cvClipboard.h"
#include "ui/cvMain.h"
#include "ui/cvPageTools.h"
#include "ui/cvReportModel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

namespace {

const char* const NoAccount = "None";
const char* const DefaultWords = "remove;unsubscribe";

QString text(const std::string& s) { return platform::toDisplay(s); }

QString accountName(const TcvParser& parser) {
    return parser.Account ? text(parser.Account->Name) : QString(NoAccount);
}

QIcon parserIcon() {
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_FileDialogContentsView);
    return icon;
}

QComboBox* editableCombo(QComboBox* combo, const char* name) {
    combo->setObjectName(name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

}  // namespace

TParsersPage::TParsersPage(TfrmMain& main, QWidget* page) : QObject(page), main_(main) {
    setObjectName("ParsersPage");
    Model = new TcvReportModel({"Name", "Source", "Status", "Action"}, this);
    auto parserAt = [&main](int row) { return main.SelGroup ? main.SelGroup->Parsers(row) : nullptr; };
    Model->RowCount = [&main] { return main.SelGroup ? main.SelGroup->ParserCount() : 0; };
    Model->RowObject = [parserAt](int row) -> const void* { return parserAt(row); };
    Model->Cell = [parserAt](int row, int column) {
        const TcvParser* p = parserAt(row);
        if (!p) return QString();
        switch (column) {
        case 0: return text(p->Name);
        case 1: return p->Account ? QString("Account %1").arg(text(p->Account->Name)) : QString(NoAccount);
        case 2: return QString(p->Started ? "Started" : "Stopped");
        case 3: {
            const int action = static_cast<int>(p->Action);
            return action >= 0 && action < 9 ? QString(ParserActionNames[action]) : QString();
        }
        default: return QString();
        }
    };
    Model->Icon = [](int) { return QVariant(parserIcon()); };
    Model->Updating = [&main] { return main.Updating(); };
    Model->EditCell = [this, parserAt, &main](int row, const QString& name) {
        if (main.Updating()) return;
        if (TcvParser* p = parserAt(row)) p->SetName(platform::fromDisplay(name));
        edited();
    };

    lvParsers = pages::ReportList(page, "lvParsers", Model, false);
    lvParsers->setEditTriggers(QAbstractItemView::EditKeyPressed);
    const int widths[] = {100, 80, 70, 150};
    for (int i = 0; i < 4; ++i) lvParsers->setColumnWidth(i, widths[i]);
    QVBoxLayout* column = pages::RecordPage(page, lvParsers);
    btnParserNew = pages::CommandButton(page, "btnParserNew", main.acParserNew);
    btnParserDelete = pages::CommandButton(page, "btnParserDelete", main.acParserDelete);
    btnParserStart = pages::CommandButton(page, "btnParserStart", main.acParserStart);
    btnParserStop = pages::CommandButton(page, "btnParserStop", main.acParserStop);
    btnCopyParser = pages::CommandButton(page, "btnCopyParser", main.acParserCopy);
    btnPasteParser = pages::CommandButton(page, "btnPasteParser", main.acParserPaste);
    for (QAbstractButton* b :
         {btnParserNew, btnParserDelete, btnParserStart, btnParserStop, btnCopyParser, btnPasteParser})
        column->addWidget(b);

    auto* details = new QGroupBox("Parser Details", page);
    details->setObjectName("gbParserDetails");
    auto* form = new QFormLayout(details);
    cbbParserName = editableCombo(new QComboBox(details), "cbbParserName");
    cbbParserAccount = new TDropDownCombo(details);
    editableCombo(cbbParserAccount, "cbbParserAccount");
    cbbParserAction = new QComboBox(details);
    cbbParserAction->setObjectName("cbbParserAction");
    edPreprocessor = pages::Field(details, "edPreprocessor");
    edPreprocessor->setReadOnly(true);
    auto* pick = new QPushButton("...", details);
    pick->setObjectName("btnPreprocessor");
    pick->setMaximumWidth(30);
    btnPreprocessor = pick;
    QHBoxLayout* preprocessorRow = nullptr;
    QWidget* preprocessor = pages::InlineRow(details, &preprocessorRow);
    preprocessorRow->addWidget(edPreprocessor, 1);
    preprocessorRow->addWidget(btnPreprocessor);
    form->addRow("Name:", cbbParserName);
    form->addRow("Account:", cbbParserAccount);
    form->addRow("Parser Action:", cbbParserAction);
    form->addRow("Preprocessor (dll):", preprocessor);
    column->addWidget(details);

    auto* source = new QGroupBox("Contact information comes from", page);
    source->setObjectName("gbContactSource");
    auto* sourceColumn = new QVBoxLayout(source);
    rbContactFromSender = pages::RadioButton(source, "rbContactFromSender", "Sender (From: field)");
    rbContactFromEmail = pages::RadioButton(source, "rbContactFromEmail", "A line in body with \"email=\"");
    rbContactAnyEmail = pages::RadioButton(source, "rbContactAnyEmail", "Any Email in the body");
    rbContactFromReport = pages::RadioButton(source, "rbContactFromReport", "Failed recipient of a delivery report");
    chbCountTemporary = pages::CheckBox(source, "chbCountTemporary", "Count delays and temporary failures as well");
    chbParserImport = pages::CheckBox(source, "chbParserImport", "Import additional variables (name=value lines)");
    for (QWidget* w : std::initializer_list<QWidget*>{rbContactFromSender, rbContactFromEmail, rbContactAnyEmail,
                                                      rbContactFromReport, chbCountTemporary, chbParserImport})
        sourceColumn->addWidget(w);
    chbCountTemporary->setContentsMargins(20, 0, 0, 0);
    column->addWidget(source);

    auto* trigger = new QGroupBox("Trigger action if (leave unchecked to always trigger)", page);
    trigger->setObjectName("gbParserTrigger");
    auto* triggerColumn = new QVBoxLayout(trigger);
    chbTriggerSubject = pages::CheckBox(trigger, "chbTriggerSubject", "Subject contains one of these words:");
    edTriggerSubject = pages::Field(trigger, "edTriggerSubject");
    chbTriggerBody = pages::CheckBox(trigger, "chbTriggerBody", "Message body contains one of these words:");
    edTriggerBody = pages::Field(trigger, "edTriggerBody");
    edTriggerSubject->setText(DefaultWords);
    edTriggerBody->setText(DefaultWords);
    rbLeaveOnServer = pages::RadioButton(trigger, "rbLeaveOnServer", "Leave on server");
    rbRemoveFromServer = pages::RadioButton(trigger, "rbRemoveFromServer", "Remove from server");
    rbPutInLostFound = pages::RadioButton(trigger, "rbPutInLostFound", "Remove and put in \"lost+found\"");
    for (QWidget* w : std::initializer_list<QWidget*>{chbTriggerSubject, edTriggerSubject, chbTriggerBody,
                                                      edTriggerBody, new QLabel("If parser(s) cannot handle:", trigger),
                                                      rbLeaveOnServer, rbRemoveFromServer, rbPutInLostFound})
        triggerColumn->addWidget(w);
    column->addWidget(trigger);
    column->addStretch();

    connect(lvParsers->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { rowChanged(); });
    pages::OnLeave(cbbParserName, [this] { nameLeft(); });
    pages::OnLeave(cbbParserAccount, [this] { accountLeft(); });
    cbbParserAccount->OnDropDown = [this] { accountDropDown(); };
    connect(cbbParserAction, &QComboBox::activated, this, [this](int index) {
        change([index](TcvParser& p) { p.Action = static_cast<TcvParserAction>(index); });
    });
    auto onClick = [this](QAbstractButton* button, std::function<void(TcvParser&, bool)> apply) {
        connect(button, &QAbstractButton::clicked, this, [this, button, apply] {
            const bool checked = button->isChecked();
            change([&apply, checked](TcvParser& p) { apply(p, checked); });
        });
    };
    auto source_ = [](TcvContactSource value) {
        return [value](TcvParser& p, bool) { p.ContactSource = value; };
    };
    onClick(rbContactFromSender, source_(TcvContactSource::Sender));
    onClick(rbContactFromEmail, source_(TcvContactSource::EmailVar));
    onClick(rbContactAnyEmail, source_(TcvContactSource::AnyEmail));
    onClick(rbContactFromReport, source_(TcvContactSource::DeliveryReport));
    onClick(chbCountTemporary, [](TcvParser& p, bool on) { p.CountTemporary = on; });
    onClick(chbParserImport, [](TcvParser& p, bool on) { p.ImportVars = on; });
    onClick(chbTriggerSubject, [](TcvParser& p, bool on) { p.TriggerSubj = on; });
    onClick(chbTriggerBody, [](TcvParser& p, bool on) { p.TriggerBody = on; });
    auto method = [](TcvDeleteMethod value) { return [value](TcvParser& p, bool) { p.DeleteMethod = value; }; };
    onClick(rbLeaveOnServer, method(0));
    onClick(rbRemoveFromServer, method(1));
    onClick(rbPutInLostFound, method(2));
    pages::OnLeave(edTriggerSubject, [this] {
        change([this](TcvParser& p) { p.TriggerSubjWords = platform::fromDisplay(edTriggerSubject->text()); });
    });
    pages::OnLeave(edTriggerBody, [this] {
        change([this](TcvParser& p) { p.TriggerBodyWords = platform::fromDisplay(edTriggerBody->text()); });
    });
    connect(btnPreprocessor, &QAbstractButton::clicked, this, [this] { btnPreprocessorClick(); });
}

TcvParser* TParsersPage::editedParser() const { return main_.Updating() ? nullptr : main_.SelParser.get(); }

void TParsersPage::edited() {
    main_.RefreshCommands();
    Refresh();
}

void TParsersPage::change(const std::function<void(TcvParser&)>& apply) {
    TcvParser* parser = editedParser();
    if (!parser) return;
    apply(*parser);
    edited();
}

void TParsersPage::Refresh() {
    if (main_.Updating()) return;
    main_.BeginUpdate();
    TcvGroup* group = main_.SelGroup;
    TcvParser* parser = main_.SelParser;
    if (!group) {
        main_.pnlParsersTitle->setText(" Select group first");
    } else {
        const QString count = QString::number(group->ParserCount());
        main_.pnlParsersTitle->setText(
            parser ? QString(" %1 parsers in group %2 [%3]").arg(count, text(group->Name), text(parser->Name))
                   : QString(" %1 parsers in group %2 ").arg(count, text(group->Name)));
    }
    Model->Refresh();
    pages::ShowCurrentRow(lvParsers, group && parser ? group->IndexOfParser(parser) : -1);
    // Without a group the details keep what they show: no handler writes without a parser.
    if (group) showDetails(parser);
    main_.EndUpdate();
}

void TParsersPage::showDetails(const TcvParser* parser) {
    if (!parser) {
        cbbParserName->setEditText(QString());
        cbbParserAccount->setEditText(QString());
        cbbParserAction->setCurrentIndex(-1);
        rbContactFromSender->setChecked(true);
        for (QCheckBox* box : {chbCountTemporary, chbParserImport, chbTriggerSubject, chbTriggerBody})
            box->setChecked(false);
        edTriggerSubject->clear();
        edTriggerBody->clear();
        edPreprocessor->clear();
        chbCountTemporary->setEnabled(false);
        return;
    }
    cbbParserName->setEditText(text(parser->Name));
    cbbParserAccount->setEditText(accountName(*parser));
    const int action = static_cast<int>(parser->Action);
    cbbParserAction->setCurrentIndex(action >= 0 && action < cbbParserAction->count() ? action : -1);
    switch (parser->ContactSource) {
    case TcvContactSource::EmailVar: rbContactFromEmail->setChecked(true); break;
    case TcvContactSource::AnyEmail: rbContactAnyEmail->setChecked(true); break;
    case TcvContactSource::DeliveryReport: rbContactFromReport->setChecked(true); break;
    default: rbContactFromSender->setChecked(true); break;
    }
    // Delays and temporary failures only come from delivery reports.
    chbCountTemporary->setEnabled(parser->ContactSource == TcvContactSource::DeliveryReport);
    chbCountTemporary->setChecked(parser->CountTemporary);
    chbParserImport->setChecked(parser->ImportVars);
    chbTriggerSubject->setChecked(parser->TriggerSubj);
    edTriggerSubject->setText(text(parser->TriggerSubjWords));
    chbTriggerBody->setChecked(parser->TriggerBody);
    edTriggerBody->setText(text(parser->TriggerBodyWords));
    switch (parser->DeleteMethod) {
    case 1: rbRemoveFromServer->setChecked(true); break;
    case 2: rbPutInLostFound->setChecked(true); break;
    default: rbLeaveOnServer->setChecked(true); break;
    }
    edPreprocessor->setText(QFileInfo(text(parser->Preprocessor)).fileName());
}

void TParsersPage::rowChanged() {
    if (main_.Updating() || !main_.SelGroup) return;
    const QModelIndexList rows = lvParsers->selectionModel()->selectedRows();
    main_.SelectParser(rows.isEmpty() ? nullptr : main_.SelGroup->Parsers(rows.first().row()));
}

void TParsersPage::nameLeft() {
    change([this](TcvParser& p) { p.SetName(platform::fromDisplay(cbbParserName->currentText())); });
}

void TParsersPage::accountDropDown() {
    const QString shown = cbbParserAccount->currentText();
    main_.BeginUpdate();
    cbbParserAccount->clear();
    cbbParserAccount->addItem(NoAccount);
    for (int i = 0; i < main_.Setup->AccountCount(); ++i) {
        const TcvAccount* account = main_.Setup->Accounts(i);
        if (account->UseForReceiving) cbbParserAccount->addItem(text(account->Name));
    }
    cbbParserAccount->setEditText(shown);
    main_.EndUpdate();
}

void TParsersPage::accountLeft() {
    change([this](TcvParser& p) {
        const std::string name = platform::fromDisplay(cbbParserAccount->currentText());
        // The last account of that name wins; "None" or an unknown name leaves no account.
        p.Account = nullptr;
        for (int i = 0; i < main_.Setup->AccountCount(); ++i)
            if (main_.Setup->Accounts(i)->Name == name) p.Account = main_.Setup->Accounts(i);
    });
}

void TParsersPage::btnPreprocessorClick() {
    TcvParser* parser = editedParser();
    if (!parser) return;
    const std::weak_ptr<const void> alive = parser->Alive();
    const QString suffix = QString::fromLatin1(platform::sharedLibrarySuffix());
    const QString path = main_.ChooseOpenFile("Select a Preprocessor (DLL)",
                                              TfrmMain::DialogFilter(QString("Plugins (*%1)|*%1").arg(suffix)),
                                              QFileInfo(text(parser->Preprocessor)).absolutePath());
    // The dialog let the user work meanwhile.
    if (path.isEmpty() || alive.expired()) return;
    if (QFileInfo(path).isFile()) {
        const std::string chosen = platform::fromDisplay(QFileInfo(path).absoluteFilePath());
        // Choosing the library here is the user's consent to load it on this computer.
        try {
            AcceptPreprocessor(chosen);
        } catch (const std::exception& e) {
            main_.ReportError(e);
        }
        parser->Preprocessor = chosen;
    } else {
        parser->Preprocessor.clear();
    }
    // A library loaded for the former path must not answer for the new one.
    parser->LoadPreprocessor();
    if (main_.Ask("Do you also want to add the processors additional fields?", QMessageBox::Question,
                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes &&
        !alive.expired()) {
        parser->AddPluginFields();
        main_.BuildContactColumns();
        main_.RefreshVariablesPage();
        main_.RefreshContactsPage();
    }
    main_.RefreshCommands();
    Refresh();
}

void TParsersPage::acParserNewExecute() {
    TcvGroup* group = main_.SelGroup;
    if (!group) return;
    auto* parser = new TcvParser;
    parser->SetName("NewParser" + std::to_string(group->ParserCount() + 1));
    group->AddParser(parser);
    group->SelectParser(parser);
}

void TParsersPage::acParserDeleteExecute() {
    TcvGroup* group = main_.SelGroup;
    TcvParser* parser = main_.SelParser;
    if (!group || !parser) return;
    const int position = group->IndexOfParser(parser);
    main_.SelectParser(nullptr);
    group->DeleteParser(position);
    group->SelectParser(group->Parsers(position));
    main_.RefreshCommands();
    Refresh();
}

void TParsersPage::acParserStartExecute() {
    if (TcvParser* parser = main_.SelParser) parser->Started = true;
    main_.RefreshCommands();
    Refresh();
}

void TParsersPage::acParserStopExecute() {
    if (TcvParser* parser = main_.SelParser) {
        parser->Started = false;
        // Started again, the parser polls at the next tick instead of waiting out its interval.
        parser->LastCheck = 0;
    }
    main_.RefreshCommands();
    Refresh();
}

void TParsersPage::acParserCopyExecute() {
    if (TcvParser* parser = main_.SelParser) clipboard::SetText(parser->SaveToString());
}

void TParsersPage::acParserPasteExecute() {
    TcvGroup* group = main_.SelGroup;
    if (!group) return;
    try {
        clipboard::PasteParser(*group, clipboard::Text());
    } catch (const std::exception& e) {
        main_.ReportError(e);
    }
    main_.RefreshCommands();
    Refresh();
}
