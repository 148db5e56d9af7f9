#pragma once
// The Contacts page: the current group's contacts as the contact filter shows them (searched,
// narrowed to duplicates or address errors, sorted by up to four columns), the details of the
// current contact with its history, and the commands on the selected contacts.
#include <QObject>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTableView;
class QWidget;
class TFilter;
class TcvContact;
class TcvReportModel;
class TfrmMain;

class TContactsPage : public QObject {
    Q_OBJECT
public:
    // The placeholder domain of new contacts' addresses: reserved for examples, so no mail sent to
    // a placeholder can reach anyone.
    static constexpr const char* PlaceholderDomain = "example.com";
    // Fixed columns before the checked custom fields.
    enum Column { ColEmail = 0, ColStatus, ColJoined, ColReceived, ColBounces, ColSpeed, FixedColumns };

    struct TSortKey {
        int Column = ColEmail;
        bool Descending = false;
    };

    TContactsPage(TfrmMain& main, QWidget* page);

    // Gives the window's filter its accept and compare functions.
    void AttachFilter(TFilter& filter);
    // Filters and sorts again.
    void UpdateFilter();
    // The columns for the current group's checked field definitions, with the sort indicator.
    void BuildColumns();
    void Refresh();
    void RefreshDetails();
    // The contacts of the selected rows in row order.
    std::vector<TcvContact*> SelectedContacts() const;

    void acContactNewExecute();
    void acContactDeleteExecute();
    void acContactUnsubscribeExecute();
    void acContactCopyExecute();
    void acContactPasteExecute();
    void acContactSearchExecute();
    void acContactDupesExecute();
    void acContactErrorsExecute();
    void acCheckDomainExecute();
    void acHistClearExecute();
    // Shows the message of the selected history row as the current contact received it.
    void acHistPreviewExecute();
    void acContactFieldsExecute();

    // The accept and compare functions of the filter.
    bool Accepts(TcvContact* contact);
    int Compare(TcvContact* a, TcvContact* b);
    // The same order as Compare over keys taken from the contacts once per sort, kept side by side
    // so that a sort of a long list does not visit every contact at every comparison.
    void PrepareSort(const std::vector<TcvContact*>& contacts);
    int CompareKeys(int a, int b) const;

    // The search text in upper case.
    std::string SearchText;
    // The sort order, most recent key first.
    std::array<TSortKey, 4> SortKeys{};
    // Opens and closes a TCP connection, raising when none is made; tests point it at loopback.
    std::function<void(const std::string& host, int port)> ConnectProbe;

    TcvReportModel *Model, *HistoryModel;
    QTableView *lvContacts, *lvContactHistory;
    QAbstractButton *btnNewContact, *btnDeleteContact, *btnContactCopy, *btnContactPaste, *btnImportTXT,
        *btnSendManual, *btnCheckDomain, *btnCustomFields;
    QCheckBox *chbSearch, *chbDuplicates, *chbListErr;
    QLineEdit *edSearch, *edContactEmail, *edContactFirstName, *edContactLastName;
    QLabel *lbValidationError, *lbJoined, *lbFullname;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TcvContact* rowContact(int row) const;
    QString cell(int row, int column) const;
    int compareColumn(int column, TcvContact* a, TcvContact* b) const;
    // How many of the sort keys are in use: a key repeating the column before it ends the list.
    int keyCount() const;
    // The custom field value shown in a column; empty when the contact has none.
    const std::string& fieldText(int column, const TcvContact* contact) const;
    void headerClicked(int column);
    void showSortIndicator();
    // Makes the column the ascending primary key, the older keys moving down.
    void pushSortKey(int column);
    void rowStateChanged();
    void hover(int row);
    void emailLeft();
    void nameLeft(bool first);
    void searchLeft();
    void selectExtraDuplicates();
    // Deletes or unsubscribes the selected contacts.
    void removeSelected(bool unsubscribe);
    void edited();
    void showDetails();

    TfrmMain& main_;
    TFilter* filter_ = nullptr;
    // Positions of the checked field definitions shown from column FixedColumns on.
    std::vector<int> fieldColumns_;
    // Where the filter's last visit was in the group's list: the filter visits the group in order,
    // so the neighbours of the next contact are found without a search.
    int lastPosition_ = -1;
    const TcvContact* historyContact_ = nullptr;
    // The sort keys of the sort in progress: per contact one cell for each key column, holding a
    // number or a piece of the text arena.
    struct KeyCell {
        double number;
        uint32_t offset;
        uint32_t length;
    };
    std::vector<int> keyColumns_;
    std::vector<KeyCell> keyCells_;
    std::string keyText_;
};
