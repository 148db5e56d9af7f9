#pragma once
// The Variables page: the current group's custom contact fields, their titles and which of them
// the contact list shows.
#include <QObject>

class QAbstractButton;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QWidget;
class TcvGroup;
class TfrmMain;

class TVariablesPage : public QObject {
    Q_OBJECT
public:
    TVariablesPage(TfrmMain& main, QWidget* page);

    void Refresh();

    // Commands.
    void acFieldNewExecute();
    void acFieldDeleteExecute();
    void acFieldUpExecute();
    void acFieldDownExecute();

    QListWidget* clbFieldDefs;
    QAbstractButton *btnFieldNew, *btnFieldDelete, *btnFieldUp, *btnFieldDn;
    QLineEdit* edFieldTitle;

private:
    // The group whose fields the commands change, when they may.
    TcvGroup* editedGroup() const;
    void rowClicked();
    void checkToggled(QListWidgetItem* item);
    void titleLeft();
    // Moves the chosen field by the offset (-1 up, 1 down), carrying the contacts' values along.
    void moveField(int offset);
    void edited();

    TfrmMain& main_;
};
