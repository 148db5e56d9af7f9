#pragma once
// Building blocks shared by the record pages: report lists, buttons that run a command, fields
// whose edit is taken when the user leaves them, and the icons of list rows.
#include <QComboBox>
#include <QIcon>
#include <QString>

#include <functional>

class QAbstractButton;
class QAction;
class QCheckBox;
class QDialog;
class QHBoxLayout;
class QPushButton;
class QRadioButton;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTableView;
class QVBoxLayout;
class QWidget;
class TcvReportModel;

namespace pages {

// A report list with grid lines and whole-row selection over the model.
QTableView* ReportList(QWidget* parent, const char* name, TcvReportModel* model, bool multiSelect);
// Makes the row (a record that became current) the selected and current row; -1 clears the
// selection.
void ShowCurrentRow(QTableView* view, int row);
// A button that shows and runs a command.
QAbstractButton* CommandButton(QWidget* parent, const char* name, QAction* command, const QString& caption = {});
// Calls the handler whenever the widget (or, for an editable combo box, its edit field) loses the
// keyboard focus.
void OnLeave(QWidget* widget, std::function<void()> handler);
// A line edit with its object name.
QLineEdit* Field(QWidget* parent, const char* name);
// A check box with its object name and caption.
QCheckBox* CheckBox(QWidget* parent, const char* name, const QString& caption);
// A radio button with its object name and caption.
QRadioButton* RadioButton(QWidget* parent, const char* name, const QString& caption);
// A widget that lays out controls side by side without margins, to stand in one row of a form;
// its layout comes back through `layout`.
QWidget* InlineRow(QWidget* parent, QHBoxLayout** layout);
// The text read as a decimal integer, or the fallback when it is not one.
int IntegerOr(const QString& text, int fallback);
// The icons of rows.
QIcon GroupIcon();
QIcon AccountIcon();
QIcon ValidIcon();
QIcon ErrorIcon();
// The record page layout: the list on the left; on the right the command column (returned) above
// the details box.
QVBoxLayout* RecordPage(QWidget* page, QWidget* list);
// The "OK" (default, accepts) and "Cancel" (rejects) buttons of a dialog, in a row at the right.
QHBoxLayout* OkCancelRow(QDialog* dialog, QPushButton** ok, QPushButton** cancel);

// Shows the busy cursor for its lifetime, also when an error leaves the scope.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace pages

// An editable combo box that reports when its list is about to open.
class TDropDownCombo : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> OnDropDown;
    void showPopup() override {
        if (OnDropDown) OnDropDown();
        QComboBox::showPopup();
    }
};
