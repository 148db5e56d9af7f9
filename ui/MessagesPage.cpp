#include "ui/MessagesPage.h"

#include "model/cvSetup.h"
#include "platform/CodePage.h"
#include "ui/cvClipboard.h"
#include "ui/cvMain.h"
#include "ui/cvPageTools.h"
#include "ui/cvReportModel.h"
#include "ui/frmAdvanced.h"
#include "ui/frmTestEmail.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

namespace {

QString text(const std::string& s) { return platform::toDisplay(s); }

QIcon messageIcon() {
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return icon;
}

QComboBox* list(QWidget* parent, const char* name) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    return combo;
}

// A drop-down list shows the position when it names an entry, and nothing otherwise.
void showPosition(QComboBox* combo, int position) {
    combo->setCurrentIndex(position >= 0 && position < combo->count() ? position : -1);
}

// Codes are upper case; one character stays one character (no "SS" for a sharp s).
QString upperCode(const QString& typed) {
    QString code = typed.left(3);
    for (QChar& c : code) c = c.toUpper();
    return code;
}

}  // namespace

TMessagesPage::TMessagesPage(TfrmMain& main, QWidget* page) : QObject(page), main_(main) {
    setObjectName("MessagesPage");
    Model = new TcvReportModel({"Title", "Code", "Status", "Type"}, this);
    auto messageAt = [&main](int row) { return main.SelGroup ? main.SelGroup->Messages(row) : nullptr; };
    Model->RowCount = [&main] { return main.SelGroup ? main.SelGroup->MessageCount() : 0; };
    Model->RowObject = [messageAt](int row) -> const void* { return messageAt(row); };
    Model->Cell = [messageAt](int row, int column) {
        const TcvMessage* m = messageAt(row);
        if (!m) return QString();
        switch (column) {
        case 0: return text(m->Title);
        case 1: return text(m->Code);
        case 2: {
            const int status = static_cast<int>(m->Status);
            return status >= 0 && status < 3 ? QString(MessageStatusNames[status]) : QString();
        }
        case 3: return TypeText(*m);
        default: return QString();
        }
    };
    Model->Icon = [](int) { return QVariant(messageIcon()); };
    Model->Updating = [&main] { return main.Updating(); };
    Model->EditCell = [this, messageAt, &main](int row, const QString& title) {
        if (main.Updating()) return;
        if (TcvMessage* m = messageAt(row)) m->SetTitle(platform::fromDisplay(title));
        edited();
    };

    lvMessages = pages::ReportList(page, "lvMessages", Model, false);
    lvMessages->setEditTriggers(QAbstractItemView::EditKeyPressed);
    lvMessages->setColumnWidth(0, 100);
    lvMessages->setColumnWidth(1, 50);
    lvMessages->setColumnWidth(2, 60);
    lvMessages->setColumnWidth(3, 190);
    QVBoxLayout* column = pages::RecordPage(page, lvMessages);
    btnMessageNew = pages::CommandButton(page, "btnMessageNew", main.acMessageNew);
    btnMessageDelete = pages::CommandButton(page, "btnMessageDelete", main.acMessageDelete);
    btnMessageStart = pages::CommandButton(page, "btnMessageStart", main.acMessageStart);
    btnMessageStop = pages::CommandButton(page, "btnMessageStop", main.acMessageStop);
    btnResend = pages::CommandButton(page, "btnResend", main.acMessageResend);
    for (QAbstractButton* b : {btnMessageNew, btnMessageDelete, btnMessageStart, btnMessageStop, btnResend})
        column->addWidget(b);

    auto* details = new QGroupBox("Message Details", page);
    details->setObjectName("gbMessageDetails");
    auto* form = new QFormLayout(details);
    cbbMessageTitle = new QComboBox(details);
    cbbMessageTitle->setObjectName("cbbMessageTitle");
    cbbMessageTitle->setEditable(true);
    cbbMessageTitle->setInsertPolicy(QComboBox::NoInsert);
    edMessageCode = pages::Field(details, "edMessageCode");
    edMessageCode->setMaxLength(3);
    // The three kinds stand one below the other, which leaves the list the room for its columns.
    auto* modes = new QWidget(details);
    auto* modeColumn = new QVBoxLayout(modes);
    modeColumn->setContentsMargins(0, 0, 0, 0);
    modeColumn->setSpacing(2);
    rbOneTime = pages::RadioButton(modes, "rbOneTime", "One-Time message");
    rbManual = pages::RadioButton(modes, "rbManual", "Manual message");
    rbTriggered = pages::RadioButton(modes, "rbTriggered", "Triggered message");
    for (QRadioButton* b : {rbOneTime, rbManual, rbTriggered}) modeColumn->addWidget(b);
    QHBoxLayout* triggerRow = nullptr;
    QWidget* trigger = pages::InlineRow(details, &triggerRow);
    edMessageAmount = pages::Field(trigger, "edMessageAmount");
    edMessageAmount->setMaximumWidth(60);
    cbbTriggerUnits = list(trigger, "cbbTriggerUnits");
    cbbTrigger = list(trigger, "cbbTrigger");
    triggerRow->addWidget(edMessageAmount);
    triggerRow->addWidget(cbbTriggerUnits, 1);
    triggerRow->addWidget(cbbTrigger, 1);
    edMessageSubject = pages::Field(details, "edMessageSubject");
    reMessageBody = new QPlainTextEdit(details);
    reMessageBody->setObjectName("reMessageBody");
    reMessageBody->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    reMessageBody->setLineWrapMode(QPlainTextEdit::NoWrap);
    reMessageBody->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reMessageBody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reMessageBody->setTabChangesFocus(true);
    cbbContentType = list(details, "cbbContentType");
    btnAdvanced = pages::CommandButton(details, "btnAdvanced", main.acMessageAdvanced);
    QHBoxLayout* sendRow = nullptr;
    QWidget* send = pages::InlineRow(details, &sendRow);
    sendRow->addWidget(cbbContentType, 1);
    sendRow->addWidget(btnAdvanced);
    form->addRow("Title", cbbMessageTitle);
    form->addRow("Code", edMessageCode);
    form->addRow("Message Type:", modes);
    form->addRow(trigger);
    form->addRow("Subject", edMessageSubject);
    form->addRow(new QLabel("Body", details));
    form->addRow(reMessageBody);
    form->addRow("Send as:", send);
    column->addWidget(details, 1);

    connect(lvMessages->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { rowChanged(); });
    pages::OnLeave(cbbMessageTitle, [this] { titleLeft(); });
    pages::OnLeave(edMessageCode, [this] { codeLeft(); });
    // A field left is taken: from then on the message's value is what the field shows.
    auto fieldLeft = [this](QLineEdit* field, void (*write)(TcvMessage&, const QString&)) {
        pages::OnLeave(field, [this, field, write] {
            field->setModified(false);
            change([field, write](TcvMessage& m) { write(m, field->text()); });
        });
    };
    fieldLeft(edMessageAmount, [](TcvMessage& m, const QString& t) { m.TriggerAmount = pages::IntegerOr(t, 1); });
    fieldLeft(edMessageSubject, [](TcvMessage& m, const QString& t) { m.Subject = platform::fromDisplay(t); });
    pages::OnLeave(reMessageBody, [this] { bodyLeft(); });
    auto mode = [this](QRadioButton* button, TcvMessageMode value) {
        connect(button, &QAbstractButton::clicked, this, [this, value] {
            change([value](TcvMessage& m) { m.Mode = value; });
        });
    };
    mode(rbOneTime, TcvMessageMode::OneTime);
    mode(rbTriggered, TcvMessageMode::Triggered);
    mode(rbManual, TcvMessageMode::Manual);
    connect(cbbTriggerUnits, &QComboBox::activated, this, [this](int index) {
        change([index](TcvMessage& m) { m.TriggerUnit = static_cast<TcvTriggerUnit>(index); });
    });
    connect(cbbTrigger, &QComboBox::activated, this, [this](int index) {
        change([index](TcvMessage& m) { m.Trigger = static_cast<TcvTrigger>(index); });
    });
}

QString TMessagesPage::TypeText(const TcvMessage& m) {
    switch (m.Mode) {
    case TcvMessageMode::OneTime: return "One-Time only";
    case TcvMessageMode::Manual: return "Manual";
    case TcvMessageMode::Triggered: {
        const int unit = static_cast<int>(m.TriggerUnit);
        const int trigger = static_cast<int>(m.Trigger);
        return QString("Triggered %1 %2 after %3")
            .arg(m.TriggerAmount)
            .arg(unit >= 0 && unit < 7 ? TriggerUnitNames[unit] : "")
            .arg(trigger >= 0 && trigger < 5 ? TriggerNames[trigger] : "");
    }
    }
    return "Unknown";
}

TcvMessage* TMessagesPage::editedMessage() const { return main_.Updating() ? nullptr : main_.SelMessage.get(); }

void TMessagesPage::edited() {
    main_.RefreshCommands();
    Refresh();
}

void TMessagesPage::change(const std::function<void(TcvMessage&)>& apply) {
    TcvMessage* message = editedMessage();
    if (!message) return;
    apply(*message);
    edited();
}

void TMessagesPage::Refresh() {
    if (main_.Updating()) return;
    main_.BeginUpdate();
    TcvGroup* group = main_.SelGroup;
    TcvMessage* message = group ? main_.SelMessage.get() : nullptr;
    if (!group) {
        main_.pnlMessagesTitle->setText(" Select group first");
    } else {
        const QString count = QString::number(group->MessageCount());
        main_.pnlMessagesTitle->setText(
            message ? QString(" %1 messages in group %2 [%3]").arg(count, text(group->Name), text(message->Title))
                    : QString(" %1 messages in group %2 ").arg(count, text(group->Name)));
    }
    Model->Refresh();
    pages::ShowCurrentRow(lvMessages, message ? group->IndexOfMessage(message) : -1);
    showDetails(message);
    main_.EndUpdate();
}

void TMessagesPage::showDetails(const TcvMessage* message) {
    // Shown again for the same message (a mail went out meanwhile), a field the user is typing into
    // keeps the text until the user leaves it.
    const bool again = message && message == shown_ && !shownAlive_.expired();
    shown_ = message;
    shownAlive_ = message ? message->Alive() : std::weak_ptr<const void>();
    auto put = [again](QLineEdit* field, const QString& value) {
        if (!again || !field->isModified()) field->setText(value);
    };
    const bool typingBody = again && reMessageBody->document()->isModified();
    if (!message) {
        put(cbbMessageTitle->lineEdit(), QString());
        for (QLineEdit* field : {edMessageCode, edMessageAmount, edMessageSubject}) field->clear();
        reMessageBody->clear();
        reMessageBody->document()->setModified(false);
        rbOneTime->setChecked(true);
        for (QWidget* w : std::initializer_list<QWidget*>{edMessageAmount, cbbTriggerUnits, cbbTrigger})
            w->setEnabled(false);
        cbbTriggerUnits->setCurrentIndex(0);
        cbbTrigger->setCurrentIndex(0);
        return;
    }
    put(cbbMessageTitle->lineEdit(), text(message->Title));
    put(edMessageCode, text(message->Code));
    // A mode outside the table checks none of the buttons.
    for (QRadioButton* b : {rbOneTime, rbTriggered, rbManual}) b->setAutoExclusive(false);
    rbOneTime->setChecked(message->Mode == TcvMessageMode::OneTime);
    rbTriggered->setChecked(message->Mode == TcvMessageMode::Triggered);
    rbManual->setChecked(message->Mode == TcvMessageMode::Manual);
    for (QRadioButton* b : {rbOneTime, rbTriggered, rbManual}) b->setAutoExclusive(true);
    for (QWidget* w : std::initializer_list<QWidget*>{edMessageAmount, cbbTriggerUnits, cbbTrigger})
        w->setEnabled(rbTriggered->isChecked());
    put(edMessageAmount, QString::number(message->TriggerAmount));
    showPosition(cbbTriggerUnits, static_cast<int>(message->TriggerUnit));
    showPosition(cbbTrigger, static_cast<int>(message->Trigger));
    put(edMessageSubject, text(message->Subject));
    if (!typingBody) {
        const bool html = !message->BodyHtml.empty();
        reMessageBody->setPlainText(TfrmMain::DisplayText(html ? message->BodyHtml : message->BodyPlain));
        reMessageBody->document()->setModified(false);
        showPosition(cbbContentType, html ? 1 : 0);
    }
}

void TMessagesPage::rowChanged() {
    if (main_.Updating() || !main_.SelGroup) return;
    const QModelIndexList rows = lvMessages->selectionModel()->selectedRows();
    main_.SelectMessage(rows.isEmpty() ? nullptr : main_.SelGroup->Messages(rows.first().row()));
}

void TMessagesPage::titleLeft() {
    cbbMessageTitle->lineEdit()->setModified(false);
    change([this](TcvMessage& m) { m.SetTitle(platform::fromDisplay(cbbMessageTitle->currentText())); });
}

void TMessagesPage::codeLeft() {
    TcvMessage* message = editedMessage();
    if (!message) return;
    main_.BeginUpdate();
    const std::string typed = platform::fromDisplay(upperCode(edMessageCode->text()));
    const std::string code =
        UniqueCode(typed, message->Group ? message->Group->MessageCodesExcept(message) : std::string());
    message->SetCode(code);
    edMessageCode->setText(text(code));
    main_.EndUpdate();
    edited();
}

void TMessagesPage::bodyLeft() {
    TcvMessage* message = editedMessage();
    // Leaving the field without changing it writes nothing, whatever "Send as:" shows.
    if (!message || !reMessageBody->document()->isModified()) return;
    const std::string body = platform::fromDisplay(reMessageBody->toPlainText().replace('\n', "\r\n"));
    message->BodyPlain.clear();
    message->BodyHtml.clear();
    (cbbContentType->currentIndex() == 1 ? message->BodyHtml : message->BodyPlain) = body;
    reMessageBody->document()->setModified(false);
    edited();
}

void TMessagesPage::acMessageNewExecute() {
    TcvGroup* group = main_.SelGroup;
    if (!group) return;
    auto* message = new TcvMessage;
    group->AddMessage(message);
    message->SetTitle("NewMessage" + std::to_string(group->MessageCount()));
    group->SelectMessage(message);
}

void TMessagesPage::acMessageDeleteExecute() {
    TcvGroup* group = main_.SelGroup;
    TcvMessage* message = main_.SelMessage;
    if (!group || !message) return;
    const int position = group->IndexOfMessage(message);
    main_.SelectMessage(nullptr);
    group->DeleteMessage(position);
    group->SelectMessage(group->Messages(position));
    main_.RefreshCommands();
    Refresh();
}

void TMessagesPage::acMessageStartExecute() {
    if (TcvMessage* message = main_.SelMessage) message->Status = TcvMessageStatus::Live;
    main_.RefreshCommands();
    Refresh();
}

void TMessagesPage::acMessageStopExecute() {
    if (TcvMessage* message = main_.SelMessage) message->Status = TcvMessageStatus::Stopped;
    main_.RefreshCommands();
    Refresh();
}

void TMessagesPage::acMessageCopyExecute() {
    if (TcvMessage* message = main_.SelMessage) clipboard::SetText(message->SaveToString());
}

void TMessagesPage::acMessagePasteExecute() {
    TcvGroup* group = main_.SelGroup;
    if (!group) return;
    try {
        clipboard::PasteMessage(*group, clipboard::Text());
    } catch (const std::exception& e) {
        main_.ReportError(e);
    }
    main_.RefreshCommands();
    Refresh();
}

TfmAdvanced* TMessagesPage::acMessageAdvancedExecute() {
    auto* editor = new TfmAdvanced(main_);
    try {
        editor->EditMessage(main_.SelMessage);
    } catch (const std::exception& e) {
        delete editor;
        main_.ReportError(e);
        return nullptr;
    }
    TfrmMain& main = main_;
    editor->OnSaved = [&main](TfmAdvanced&) {
        main.RefreshCommands();
        main.RefreshMessagesPage();
    };
    editor->TestSendHandler = [editor](const TcvMessage& working, TcvGroup* group, TcvContact* contact) {
        TestMessage(editor, working, group, contact);
    };
    editor->setAttribute(Qt::WA_DeleteOnClose);
    main_.AddEditor(editor);
    editor->show();
    return editor;
}
