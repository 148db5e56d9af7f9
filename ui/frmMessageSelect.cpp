#include "ui/frmMessageSelect.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TfmMessageSelect::TfmMessageSelect(QWidget* parent) : QDialog(parent) {
    setObjectName("fmMessageSelect");
    setWindowTitle("Select a message for manual send");
    cbbMessages = new QComboBox(this);
    cbbMessages->setObjectName("cbbMessages");
    lbNotice = new QLabel(this);
    lbNotice->setObjectName("lbNotice");
    lbNotice->setWordWrap(true);
    btnOK = new QPushButton("OK", this);
    btnOK->setObjectName("btnOK");
    btnOK->setDefault(true);
    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(cbbMessages);
    layout->addWidget(lbNotice);
    layout->addStretch();
    layout->addLayout(buttons);
    resize(420, 180);
}
