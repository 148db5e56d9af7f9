#pragma once
// The Parsers page: the current group's incoming-mail rules and the details of the current rule.
#include <QObject>

#include <functional>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QTableView;
class QWidget;
class TDropDownCombo;
class TcvParser;
class TcvReportModel;
class TfrmMain;

class TParsersPage : public QObject {
    Q_OBJECT
public:
    TParsersPage(TfrmMain& main, QWidget* page);

    void Refresh();

    // Commands.
    void acParserNewExecute();
    void acParserDeleteExecute();
    void acParserStartExecute();
    void acParserStopExecute();
    void acParserCopyExecute();
    void acParserPasteExecute();
    // Lets the user pick the parser's preprocessor library.
    void btnPreprocessorClick();

    TcvReportModel* Model;
    QTableView* lvParsers;
    QAbstractButton *btnParserNew, *btnParserDelete, *btnParserStart, *btnParserStop, *btnCopyParser,
        *btnPasteParser, *btnPreprocessor;
    QComboBox* cbbParserName;
    TDropDownCombo* cbbParserAccount;
    QComboBox* cbbParserAction;
    QLineEdit *edPreprocessor, *edTriggerSubject, *edTriggerBody;
    QRadioButton *rbContactFromSender, *rbContactFromEmail, *rbContactAnyEmail, *rbContactFromReport;
    QCheckBox *chbCountTemporary, *chbParserImport, *chbTriggerSubject, *chbTriggerBody;
    QRadioButton *rbLeaveOnServer, *rbRemoveFromServer, *rbPutInLostFound;

private:
    // The parser whose details are shown, when the page may write into it.
    TcvParser* editedParser() const;
    // Runs the change on the edited parser, then refreshes the title, commands and page.
    void change(const std::function<void(TcvParser&)>& apply);
    void rowChanged();
    void nameLeft();
    void accountDropDown();
    void accountLeft();
    void showDetails(const TcvParser* parser);
    void edited();

    TfrmMain& main_;
};
