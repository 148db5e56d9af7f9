#pragma once
// The Groups page: the list of the setup's groups, which also chooses the current group of every
// other page, and the details of the current group.
#include <QObject>

class QAbstractButton;
class QLineEdit;
class QPlainTextEdit;
class QTableView;
class QWidget;
class TDropDownCombo;
class TcvGroup;
class TcvReportModel;
class TfrmMain;

class TGroupsPage : public QObject {
    Q_OBJECT
public:
    TGroupsPage(TfrmMain& main, QWidget* page);

    void Refresh();

    // Commands.
    void acGroupNewExecute();
    void acGroupDeleteExecute();
    void acGroupCopyExecute();
    void acGroupPasteExecute();
    void acGroupCompareExecute();

    TcvReportModel* Model;
    QTableView* lvGroups;
    QAbstractButton *btnGroupNew, *btnGroupDelete, *btnViewContacts, *btnViewMessages, *btnCompareGroups;
    QLineEdit *edGroupName, *edGroupCode;
    // Where recipients ask to leave the list (the mails' List-Unsubscribe header).
    QLineEdit* edGroupUnsubscribe;
    TDropDownCombo* cbbGroupAccount;
    QPlainTextEdit* mmGroupPurpose;

private:
    // The group whose details are shown, when the page may write into it.
    TcvGroup* editedGroup() const;
    void rowStateChanged();
    void nameLeft();
    void codeLeft();
    void accountDropDown();
    void accountLeft();
    void purposeLeft();
    void unsubscribeLeft();
    void edited();

    TfrmMain& main_;
};
