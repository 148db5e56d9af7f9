#pragma once
// A main window whose questions and dialogs are answered by the test, and a fixture that gives
// every test fresh options, a registry file of its own and a temporary folder for files and log.
#include "mailer/cvMailer.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/Clock.h"
#include "platform/UiHooks.h"
#include "tests/support/TestSupport.h"
#include "ui/cvMain.h"
#include "daemon/cvScheduler.h"
#include "ui/frmMessageSelect.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TestWindow : public TfrmMain {
public:
    struct Question {
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };
    // Answers to the questions in order; an unexpected question is answered with Cancel.
    std::deque<QMessageBox::StandardButton> answers;
    std::vector<Question> questions;
    std::vector<QString> messages;
    std::vector<QMessageBox::Icon> messageIcons;
    // Names chosen in the file dialogs in order; an empty or missing one cancels the dialog.
    std::deque<QString> saveNames, openNames;
    struct Dialog {
        QString title, filter, proposed;
    };
    std::vector<Dialog> saveDialogs, openDialogs;
    // Runs the message choice; without it the dialog is cancelled.
    std::function<bool(TfmMessageSelect&)> onMessageSelect;
    int messageSelectShown = 0;
    // Runs a secondary window in place of its modal wait and gives its result; without it the
    // window is cancelled.
    std::function<int(QDialog&)> onDialog;
    int dialogsShown = 0;
    QStringList opened;

    using TfrmMain::ChooseOpenFile;

protected:
    QMessageBox::StandardButton Ask(const QString& text, QMessageBox::Icon icon,
                                    QMessageBox::StandardButtons buttons) override {
        questions.push_back({text, icon, buttons});
        if (answers.empty()) return QMessageBox::Cancel;
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowMessage(const QString& text, QMessageBox::Icon icon) override {
        messages.push_back(text);
        messageIcons.push_back(icon);
    }
    QString ChooseOpenFile(const QString& title, const QString& filter, const QString& proposed) override {
        openDialogs.push_back({title, filter, proposed});
        return next(openNames);
    }
    QString ChooseSaveFile(const QString& title, const QString& filter) override {
        saveDialogs.push_back({title, filter, {}});
        return next(saveNames);
    }
    bool ExecMessageSelect(TfmMessageSelect& dialog) override {
        ++messageSelectShown;
        return onMessageSelect && onMessageSelect(dialog);
    }
    int ExecDialog(QDialog& dialog) override {
        ++dialogsShown;
        return onDialog ? onDialog(dialog) : QDialog::Rejected;
    }
    void OpenWithDesktop(const QString& path) override { opened << path; }

private:
    static QString next(std::deque<QString>& names) {
        if (names.empty()) return {};
        QString name = names.front();
        names.pop_front();
        return name;
    }
};

class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        options::ResetToDefaults();
        // Tests that want the start-up load turn it on.
        options::LoadAtStartup = false;
        MailerRunning = false;
        FirstMailWarned = false;
        platform::recordedMessages().clear();
    }
    void TearDown() override { SetLogFilePath(""); }

    // A window as the program creates it, with its timer stopped so that the test runs the ticks.
    std::unique_ptr<TestWindow> makeWindow() {
        auto window = std::make_unique<TestWindow>();
        window->tmMailer->stop();
        SetLogFilePath(dir.file("mailerdeamon.log"));
        return window;
    }
    std::string logText() const { return testsupport::readFile(dir.file("mailerdeamon.log")); }

    testsupport::ScopedRegistry registry;
    testsupport::TempDir dir;
};

// A group with a code and the given contacts, added to the setup.
inline TcvGroup* addGroup(TcvSetup& setup, const std::string& code, const std::vector<std::string>& emails = {}) {
    auto* group = new TcvGroup;
    group->Name = code + " group";
    group->Code = code;
    setup.AddGroup(group);
    for (const std::string& email : emails) {
        auto* contact = new TcvContact;
        contact->Email = email;
        group->AddContact(contact);
    }
    return group;
}

inline TcvMessage* addMessage(TcvGroup& group, const std::string& code, TcvMessageMode mode,
                              const std::string& title = "Title") {
    auto* message = new TcvMessage;
    message->Code = code;
    message->Title = title;
    message->Mode = mode;
    group.AddMessage(message);
    return message;
}

// The user leaves a control: the control loses the keyboard focus.
inline void leave(QWidget* control) {
    QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(control, &event);
}

// Types a text into a field (replacing what it held) and leaves it.
inline void typeAndLeave(QLineEdit* field, const QString& text) {
    field->setText(text);
    leave(field);
}

// Selects exactly these rows of a list, the last one becoming the current row.
inline void selectRows(QTableView* view, const std::vector<int>& rows) {
    QItemSelectionModel* selection = view->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->setCurrentIndex(view->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

// A custom field definition, added to the group.
inline TcvFieldDef* addField(TcvGroup& group, const std::string& title, bool checked = true) {
    auto* field = new TcvFieldDef;
    field->Title = title;
    field->Checked = checked;
    group.AddFieldDef(field);
    return field;
}

inline TcvAccount* addAccount(TcvSetup& setup, const std::string& name, bool sends = true) {
    auto* account = new TcvAccount;
    account->Name = name;
    account->UseForSending = sends;
    setup.AddAccount(account);
    return account;
}

// Saves a picture of a window into the build folder's screenshots for review.
inline bool saveScreenshot(QWidget& window, const QString& name) {
    const QString folder = CORVANE_SCREENSHOT_DIR;
    return QDir().mkpath(folder) && window.grab().save(folder + "/" + name + ".png");
}
