#pragma once
// The custom field values of one or many contacts of a group, set at once. Only the fields whose
// box is checked are written.
#include "ui/cvMain.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QScrollArea;

class TfmCustomFields : public QDialog {
    Q_OBJECT
public:
    TfmCustomFields(TcvGroup& group, const std::vector<TcvContact*>& contacts, QWidget* parent = nullptr);

    // Writes the checked fields into the contacts; contacts freed meanwhile are passed over.
    void Apply();

    struct Field {
        QLineEdit* edit;
        QCheckBox* check;
        QString initial;
        bool various;
    };
    std::vector<Field> Fields;
    // Set while a field's leave handler runs, whose change of the box is no click.
    bool InFieldExit = false;

    QScrollArea* sbFields;
    QPushButton *btnOK, *btnCancel;

private:
    void checkClicked(size_t field);
    void fieldExit(size_t field);

    std::shared_ptr<const int> life_ = std::make_shared<const int>(0);
    TcvRef<TcvGroup> group_;
    std::vector<TcvRef<TcvContact>> contacts_;
};

// Edits the contacts' custom fields in the window; nothing when the group has no field or the
// list no contact.
void EditCustomFields(TfrmMain& main, TcvGroup* group, const std::vector<TcvContact*>& contacts);
