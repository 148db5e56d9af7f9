#include "ui/frmGroupCompare.h"

#include "platform/CodePage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char* const NoSharedFormat = "There are no non-unique contacts between groups %1 and %2";
const char* const DeleteQuestion =
    "Warning! You are about to delete %1 contacts from group %2.\r\rAre you sure you want to proceed?";
const char* const DeletedFormat = "%1 contacts are deleted.";

QString text(const std::string& s) { return platform::toDisplay(s); }

QListWidget* addressList(QWidget* parent, const char* name, const TStringList& emails) {
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    for (const std::string& email : emails) list->addItem(text(email));
    return list;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    return l;
}

}  // namespace

TfmGroupCompare::TfmGroupCompare(TfrmMain& main, TcvGroup& group1, TcvGroup& group2, TcvGroupComparison comparison)
    : QDialog(&main), main_(main), comparison_(std::move(comparison)) {
    group1_ = &group1;
    group2_ = &group2;
    setObjectName("fmGroupCompare");
    setWindowTitle("Compare groups and remove non-unique contacts");

    struct Side {
        QGroupBox** box;
        QLabel **total, **unique;
        QListWidget** list;
        QPushButton** button;
        const char *boxName, *totalName, *uniqueName, *listName, *buttonName, *caption;
        const TcvGroup& group;
        const TStringList& emails;
    };
    const Side sides[] = {
        {&gbGroup1, &lbGroup1Total, &lbGroup1Unique, &lbGroup1, &btnGroup1Delete, "gbGroup1", "lbGroup1Total",
         "lbGroup1Unique", "lbGroup1", "btnGroup1Delete", "Group 1: %1", group1, comparison_.Unique1},
        {&gbGroup2, &lbGroup2Total, &lbGroup2Unique, &lbGroup2, &btnGroup2Delete, "gbGroup2", "lbGroup2Total",
         "lbGroup2Unique", "lbGroup2", "btnGroup2Delete", "Group 2: %1", group2, comparison_.Unique2},
    };
    QGroupBox* boxes[2];
    for (int i = 0; i < 2; ++i) {
        const Side& s = sides[i];
        auto* box = new QGroupBox(QString(s.caption).arg(text(s.group.Name)), this);
        box->setObjectName(s.boxName);
        *s.total = label(box, s.totalName, QString("%1 contacts in total").arg(s.group.ContactCount()));
        *s.unique = label(box, s.uniqueName, QString("%1 unique contacts:").arg(s.emails.size()));
        *s.list = addressList(box, s.listName, s.emails);
        *s.button = new QPushButton("Delete Non-Unique", box);
        (*s.button)->setObjectName(s.buttonName);
        (*s.button)->setAutoDefault(false);
        auto* column = new QVBoxLayout(box);
        column->addWidget(*s.total);
        column->addWidget(*s.unique);
        column->addWidget(*s.list, 1);
        column->addWidget(*s.button);
        *s.box = box;
        boxes[i] = box;
    }

    auto* middle = new QVBoxLayout;
    lbExisting = label(this, "lbExisting", QString("Existing in both (%1):").arg(comparison_.Common.size()));
    lbCombine = addressList(this, "lbCombine", comparison_.Common);
    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setDefault(true);
    middle->addSpacing(10);
    middle->addWidget(lbExisting);
    middle->addWidget(lbCombine, 1);
    middle->addWidget(btnCancel);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(boxes[0], 1);
    layout->addLayout(middle, 1);
    layout->addWidget(boxes[1], 1);

    connect(btnGroup1Delete, &QPushButton::clicked, this, [this] { deleteNonUnique(group1_); });
    connect(btnGroup2Delete, &QPushButton::clicked, this, [this] { deleteNonUnique(group2_); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(551, 280);
}

void TfmGroupCompare::deleteNonUnique(const TcvRef<TcvGroup>& group) {
    const int count = static_cast<int>(comparison_.Common.size());
    if (TcvGroup* g = group; g && count > 0) {
        const QString question = QString(DeleteQuestion).arg(count).arg(text(g->Name));
        // The question's wait lets the timer run, which may replace the setup: the group is
        // looked up again afterwards.
        if (main_.Ask(TfrmMain::LineBreaks(question), QMessageBox::Warning,
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) == QMessageBox::Yes) {
            if (TcvGroup* still = group) {
                DeleteContactsWithEmails(*still, comparison_.Common);
                // The number of addresses, whatever number of contacts held them.
                main_.ShowMessage(QString(DeletedFormat).arg(count));
            }
        }
    }
    accept();
}

void CompareGroups(TfrmMain& main, TcvGroup* group1, TcvGroup* group2) {
    if (!group1 || !group2) return;
    TcvGroupComparison comparison = CompareGroupEmails(*group1, *group2);
    if (comparison.Common.empty()) {
        main.ShowMessage(QString(NoSharedFormat).arg(text(group1->Name), text(group2->Name)));
        return;
    }
    TfmGroupCompare window(main, *group1, *group2, std::move(comparison));
    main.ExecDialog(window);
}
