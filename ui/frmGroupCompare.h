#pragma once
// The comparison of two groups: the addresses only one of them holds, those both hold, and the
// removal of the shared ones from either group.
#include "model/cvGroupCompare.h"
#include "ui/cvMain.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

class TfmGroupCompare : public QDialog {
    Q_OBJECT
public:
    // The questions and messages of the window are the main window's.
    TfmGroupCompare(TfrmMain& main, TcvGroup& group1, TcvGroup& group2, TcvGroupComparison comparison);

    QGroupBox *gbGroup1, *gbGroup2;
    QLabel *lbGroup1Total, *lbGroup1Unique, *lbGroup2Total, *lbGroup2Unique, *lbExisting;
    QListWidget *lbGroup1, *lbGroup2, *lbCombine;
    QPushButton *btnGroup1Delete, *btnGroup2Delete, *btnCancel;

private:
    // Asks, then deletes from the group every contact of each shared address.
    void deleteNonUnique(const TcvRef<TcvGroup>& group);

    TfrmMain& main_;
    TcvRef<TcvGroup> group1_, group2_;
    TcvGroupComparison comparison_;
};

// Compares the groups; shows the window when they share addresses, otherwise says so. Run under
// the main window's update guard: the window may delete contacts.
void CompareGroups(TfrmMain& main, TcvGroup* group1, TcvGroup* group2);
