#include "ui/frmMessageSelect.h"

#include "ui/cvPageTools.h"

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
    QHBoxLayout* buttons = pages::OkCancelRow(this, &btnOK, &btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(cbbMessages);
    layout->addWidget(lbNotice);
    layout->addStretch();
    layout->addLayout(buttons);
    resize(420, 180);
}
