#pragma once
// The choice of a manual message before it is sent to the selected contacts.
#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

class TfmMessageSelect : public QDialog {
    Q_OBJECT
public:
    explicit TfmMessageSelect(QWidget* parent = nullptr);

    QComboBox* cbbMessages;
    QLabel* lbNotice;
    QPushButton* btnOK;
    QPushButton* btnCancel;
};
