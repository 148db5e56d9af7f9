#pragma once
// The text file import wizard: shows what the scan found in a delimited text file and lets the user
// choose the delimiter, quote removal, which columns go to which contact fields and a join date;
// confirming imports every line of the file into the group.
#include "import/TextImport.h"

#include <QDialog>

class QCheckBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class TfrmMain;

class TfmImportTxt : public QDialog {
    Q_OBJECT
public:
    TfmImportTxt(TfrmMain& main, const TcvImportTextInfo& info, QWidget* parent = nullptr);

    // Scans the file named in the record again.
    void ScanFile();
    // Shows the record in the controls.
    void ShowInfo();

    // The wizard's own copy of the caller's record.
    TcvImportTextInfo Info;

    QLineEdit *edFileName, *edDelimiter;
    QPushButton *btnOpen, *btnViewFile, *btnSetField, *btnSkipField, *btnImport, *btnCancel;
    QGroupBox* gbDelimiter;
    QRadioButton *rbTab, *rbSpace, *rbSemicolon, *rbComma, *rbOther;
    QCheckBox *chbRemoveQuotes, *chbJoinDate;
    QLabel* lbWizardInfo;
    QListWidget *clbFileFields, *clbAvailFields;
    QDateEdit* dtpJoinDate;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void btnOpenClick();
    void fileNameExit();
    void ChangeDelimiter(char delimiter);
    void otherDelimiter();
    void fileFieldChanged(int row);
    void btnSetFieldClick();
    void btnSkipFieldClick();
    void enableButtons();

    TfrmMain& main_;
    // Set while ShowInfo fills the controls, whose change signals are then no user's edit.
    bool showing_ = false;
};

// The whole wizard for a group: asks for a file when the record names none, shows the wizard and
// imports on confirmation, copying the wizard's choices back into the record. Nothing without a
// group.
void ImportTextFile(TfrmMain& main, TcvGroup* group, TcvImportTextInfo& info);
