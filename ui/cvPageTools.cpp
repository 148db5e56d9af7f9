#include "ui/cvPageTools.h"

#include "ui/cvReportModel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace pages {

QTableView* ReportList(QWidget* parent, const char* name, TcvReportModel* model, bool multiSelect) {
    auto* view = new QTableView(parent);
    view->setObjectName(name);
    view->setModel(model);
    view->setShowGrid(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    // Every row has the same height, so the view never measures rows it does not show.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setWordWrap(false);
    return view;
}

void ShowCurrentRow(QTableView* view, int row) {
    QItemSelectionModel* selection = view->selectionModel();
    if (row >= 0 && !selection->isRowSelected(row, QModelIndex())) {
        const QModelIndex index = view->model()->index(row, 0);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        view->scrollTo(index);
    } else if (row < 0 && selection->hasSelection()) {
        selection->clear();
    }
}

QAbstractButton* CommandButton(QWidget* parent, const char* name, QAction* command, const QString& caption) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setDefaultAction(command);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The button shows the caption in full (a tool button would drop a trailing "..."), or its own
    // caption when the command's menu entry reads differently.
    const QString shown = caption.isEmpty() ? command->text() : caption;
    button->setText(shown);
    QObject::connect(command, &QAction::changed, button, [button, shown] { button->setText(shown); });
    return button;
}

namespace {

class LeaveFilter : public QObject {
public:
    LeaveFilter(QObject* parent, std::function<void()> handler) : QObject(parent), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FocusOut && handler_) handler_();
        return false;
    }

private:
    std::function<void()> handler_;
};

}  // namespace

void OnLeave(QWidget* widget, std::function<void()> handler) {
    // An editable combo box hands the focus to its edit field or keeps it, depending on how it got it.
    if (auto* combo = qobject_cast<QComboBox*>(widget); combo && combo->lineEdit())
        combo->lineEdit()->installEventFilter(new LeaveFilter(widget, handler));
    widget->installEventFilter(new LeaveFilter(widget, std::move(handler)));
}

QLineEdit* Field(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    return field;
}

QWidget* InlineRow(QWidget* parent, QHBoxLayout** layout) {
    auto* box = new QWidget(parent);
    *layout = new QHBoxLayout(box);
    (*layout)->setContentsMargins(0, 0, 0, 0);
    return box;
}

QCheckBox* CheckBox(QWidget* parent, const char* name, const QString& caption) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    return box;
}

QRadioButton* RadioButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QRadioButton(caption, parent);
    button->setObjectName(name);
    return button;
}

int IntegerOr(const QString& text, int fallback) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : fallback;
}

QIcon GroupIcon() {
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    return icon;
}

QIcon AccountIcon() {
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon);
    return icon;
}

QIcon ValidIcon() {
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_DialogApplyButton);
    return icon;
}

QIcon ErrorIcon() {
    static const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    return icon;
}

QHBoxLayout* OkCancelRow(QDialog* dialog, QPushButton** ok, QPushButton** cancel) {
    *ok = new QPushButton("OK", dialog);
    (*ok)->setObjectName("btnOK");
    (*ok)->setDefault(true);
    *cancel = new QPushButton("Cancel", dialog);
    (*cancel)->setObjectName("btnCancel");
    QObject::connect(*ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(*cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(*ok);
    row->addWidget(*cancel);
    return row;
}

QVBoxLayout* RecordPage(QWidget* page, QWidget* list) {
    auto* row = new QHBoxLayout;
    row->addWidget(list, 3);
    auto* column = new QVBoxLayout;
    row->addLayout(column, 2);
    static_cast<QVBoxLayout*>(page->layout())->addLayout(row, 1);
    return column;
}

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace pages
