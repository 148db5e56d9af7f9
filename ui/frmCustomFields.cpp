#include "ui/frmCustomFields.h"

#include "model/cvSetup.h"
#include "platform/CodePage.h"
#include "ui/cvPageTools.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const VariousText = "Various";
constexpr int ColumnWidth = 240;
constexpr int RowHeight = 40;
constexpr int WindowWidth = 522;

QString text(const std::string& s) { return platform::toDisplay(s); }

}  // namespace

TfmCustomFields::TfmCustomFields(TcvGroup& group, const std::vector<TcvContact*>& contacts, QWidget* parent)
    : QDialog(parent) {
    group_ = &group;
    for (TcvContact* c : contacts) contacts_.emplace_back() = c;
    setObjectName("fmCustomFields");
    const TcvContact* first = contacts.front();
    setWindowTitle("Custom Fields " + (contacts.size() == 1
                                           ? QString("(%1 - %2)").arg(text(first->FullName()), text(first->Email))
                                           : QString("(editing %1 contacts)").arg(contacts.size())));

    sbFields = new QScrollArea(this);
    sbFields->setObjectName("sbFields");
    auto* inside = new QWidget;
    const int count = group.FieldDefCount();
    const int rows = (count + 1) / 2;
    for (int i = 0; i < count; ++i) {
        Field field{nullptr, nullptr, text(first->CustomField(i)), false};
        for (size_t k = 1; k < contacts.size() && !field.various; ++k)
            if (text(contacts[k]->CustomField(i)) != field.initial) {
                field.initial = VariousText;
                field.various = true;
            }
        const int left = (i % 2) * ColumnWidth;
        const int top = (i / 2) * RowHeight;
        auto* caption = new QLabel(QString("%1:").arg(text(group.FieldDefs(i)->Title)), inside);
        caption->setObjectName(QString("lbField%1").arg(i));
        caption->move(left + 24, top + 10);
        field.edit = new QLineEdit(field.initial, inside);
        field.edit->setObjectName(QString("edField%1").arg(i));
        field.edit->setGeometry(left + 24, top + 24, 210, field.edit->sizeHint().height());
        field.edit->setEnabled(!field.various);
        field.check = new QCheckBox(inside);
        field.check->setObjectName(QString("chbField%1").arg(i));
        field.check->setGeometry(left + 8, top + 26, 12, field.check->sizeHint().height());
        const size_t index = Fields.size();
        // A field losing the focus while the window is destroyed must not reach the window.
        const std::weak_ptr<const int> life = life_;
        connect(field.check, &QCheckBox::toggled, this, [this, index, life] {
            if (!life.expired()) checkClicked(index);
        });
        pages::OnLeave(field.edit, [this, index, life] {
            if (!life.expired()) fieldExit(index);
        });
        Fields.push_back(field);
    }
    // Room for the right column's fields; scrolling only when the rows outgrow the window.
    inside->setMinimumSize(ColumnWidth + 24 + 210 + 8, rows * RowHeight + 20);
    sbFields->setWidgetResizable(true);
    sbFields->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sbFields->setWidget(inside);

    QHBoxLayout* buttons = pages::OkCancelRow(this, &btnOK, &btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 8);
    layout->addWidget(sbFields, 1);
    layout->addLayout(buttons);

    // Tall enough for every row, and never shorter than the screen leaves room for; a window that
    // would pass the screen's foot is held within it, the fields scrolling instead.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int screenHeight = screen ? screen->availableGeometry().height() : rows * RowHeight + 80;
    int height = std::max(rows * RowHeight + 80, screenHeight - 100);
    height = std::min(height, screenHeight);
    resize(WindowWidth, height);
}

void TfmCustomFields::checkClicked(size_t index) {
    if (InFieldExit) return;
    Field& field = Fields[index];
    if (field.check->isChecked()) {
        field.edit->setEnabled(true);
        field.edit->setFocus();
    } else {
        field.edit->setEnabled(!field.various);
        field.edit->setText(field.initial);
    }
}

void TfmCustomFields::fieldExit(size_t index) {
    InFieldExit = true;
    Field& field = Fields[index];
    if (field.edit->text() != field.initial) {
        field.check->setChecked(true);
    } else {
        field.check->setChecked(false);
        if (field.various) field.edit->setEnabled(false);
    }
    InFieldExit = false;
}

void TfmCustomFields::Apply() {
    TcvGroup* group = group_;
    if (!group) return;
    for (size_t i = 0; i < Fields.size() && static_cast<int>(i) < group->FieldDefCount(); ++i) {
        if (!Fields[i].check->isChecked()) continue;
        const std::string value = platform::fromDisplay(Fields[i].edit->text());
        for (const TcvRef<TcvContact>& ref : contacts_)
            if (TcvContact* c = ref; c && c->Group == group) c->SetCustomField(static_cast<int>(i), value);
    }
}

void EditCustomFields(TfrmMain& main, TcvGroup* group, const std::vector<TcvContact*>& contacts) {
    if (!group || group->FieldDefCount() == 0 || contacts.empty()) return;
    TfmCustomFields window(*group, contacts, &main);
    // The window's wait lets the timer run; Apply looks every object up again.
    if (main.ExecDialog(window) == QDialog::Accepted) window.Apply();
}
