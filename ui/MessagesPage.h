#pragma once
// The Messages page: the current group's messages and the details of the current message; it also
// opens the message editor on the current message.
#include <QObject>

#include <functional>
#include <memory>

class QAbstractButton;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QTableView;
class QWidget;
class TcvMessage;
class TcvReportModel;
class TfmAdvanced;
class TfrmMain;

class TMessagesPage : public QObject {
    Q_OBJECT
public:
    TMessagesPage(TfrmMain& main, QWidget* page);

    void Refresh();
    // The text of the Type column for a message.
    static QString TypeText(const TcvMessage& message);

    // Commands.
    void acMessageNewExecute();
    void acMessageDeleteExecute();
    void acMessageStartExecute();
    void acMessageStopExecute();
    void acMessageCopyExecute();
    void acMessagePasteExecute();
    // Opens an editor window on the current message; it is shown without blocking and frees itself
    // when closed. Returns the window, or null when there was nothing to edit.
    TfmAdvanced* acMessageAdvancedExecute();

    TcvReportModel* Model;
    QTableView* lvMessages;
    QAbstractButton *btnMessageNew, *btnMessageDelete, *btnMessageStart, *btnMessageStop, *btnResend, *btnAdvanced;
    QComboBox* cbbMessageTitle;
    QLineEdit *edMessageCode, *edMessageAmount, *edMessageSubject;
    QRadioButton *rbOneTime, *rbManual, *rbTriggered;
    QComboBox *cbbTriggerUnits, *cbbTrigger, *cbbContentType;
    QPlainTextEdit* reMessageBody;

private:
    // The message whose details are shown, when the page may write into it.
    TcvMessage* editedMessage() const;
    // Runs the change on the edited message, then refreshes the title, commands and page.
    void change(const std::function<void(TcvMessage&)>& apply);
    void edited();
    void rowChanged();
    void titleLeft();
    void codeLeft();
    void bodyLeft();
    void showDetails(const TcvMessage* message);

    TfrmMain& main_;
    // The message the details were last filled from: refreshing the same message again (a mail
    // sent meanwhile) keeps what the user is still typing into a field.
    const TcvMessage* shown_ = nullptr;
    std::weak_ptr<const void> shownAlive_;
};
