#include "UiTestSupport.h"

#include "ui/cvReportModel.h"
#include "ui/frmImportTxt.h"

#include "platform/DateTime.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

QStringList itemTexts(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    return texts;
}

class ImportTextUi : public UiTest {
protected:
    // Runs the window's command; the wizard is handed to the test, whose result closes it.
    void runWizard(TestWindow& w, const std::function<int(TfmImportTxt&)>& run) {
        w.onDialog = [&](QDialog& dialog) {
            auto* wizard = dynamic_cast<TfmImportTxt*>(&dialog);
            return wizard ? run(*wizard) : int(QDialog::Rejected);
        };
        w.acImportTxt->trigger();
    }
    std::string writeContacts(const std::string& name, const std::string& content) {
        const std::string path = dir.file(name);
        testsupport::writeFile(path, content);
        return path;
    }
};

TEST_F(ImportTextUi, TheWindowsCommandAsksForAFileImportsWithProgressAndKeepsTheSelection) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "TXT", {"zed@example.com"});
    w->Setup->SelectGroup(g);
    selectRows(w->lvContacts, {0});
    const std::string file =
        writeContacts("people.txt", "E-mail;First name;Last name\r\nann@example.com;ann;lee\r\nbob@example.com;Bob;Ray\r\n");
    w->openNames.push_back(QString::fromStdString(file));
    std::vector<QString> progress;
    bool secondRefused = false;
    runWizard(*w, [&](TfmImportTxt& wizard) {
        EXPECT_EQ(wizard.windowTitle(), "Import contact information from a textfile");
        EXPECT_EQ(wizard.edFileName->text().toStdString(), file);
        // Tab is the first delimiter: one field a line.
        EXPECT_TRUE(wizard.rbTab->isChecked());
        EXPECT_EQ(wizard.lbWizardInfo->text(), "The wizard has detected 3 records with 1 fields each.");
        QTest::mouseClick(wizard.rbSemicolon, Qt::LeftButton);
        EXPECT_EQ(wizard.lbWizardInfo->text(), "The wizard has detected 3 records with 3 fields each.");
        EXPECT_EQ(itemTexts(wizard.clbFileFields), (QStringList{"Email", "Skipped", "Skipped"}));
        EXPECT_EQ(itemTexts(wizard.clbAvailFields), (QStringList{"Email", "FirstName", "LastName", "Joined"}));
        EXPECT_FALSE(wizard.btnSetField->isEnabled());
        wizard.clbFileFields->setCurrentRow(1);
        EXPECT_FALSE(wizard.btnSetField->isEnabled());
        EXPECT_TRUE(wizard.btnSkipField->isEnabled());
        wizard.clbAvailFields->setCurrentRow(1);
        QTest::mouseClick(wizard.btnSetField, Qt::LeftButton);
        EXPECT_EQ(wizard.clbFileFields->item(1)->text(), "FirstName");
        EXPECT_EQ(wizard.clbFileFields->item(1)->checkState(), Qt::Checked);
        EXPECT_TRUE(saveScreenshot(wizard, "dialog-fmImportTxt"));
        auto inner = wizard.Info.OnImportProgress;
        wizard.Info.OnImportProgress = [&, inner](int current, int total) {
            inner(current, total);
            progress.push_back(w->StatusText(0));
            if (current == 1) {
                const int shown = w->dialogsShown;
                secondRefused = !w->acImportTxt->isEnabled() && !w->acImportOE->isEnabled();
                w->acImportTxtExecute();
                secondRefused = secondRefused && w->dialogsShown == shown;
            }
        };
        QTest::mouseClick(wizard.btnImport, Qt::LeftButton);
        return wizard.result();
    });
    EXPECT_TRUE(secondRefused);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), "Importing contact 3 of 3");
    EXPECT_EQ(g->ContactCount(), 4);
    ASSERT_NE(g->FindContact("ann@example.com"), nullptr);
    EXPECT_EQ(g->FindContact("ann@example.com")->FirstName, "Ann");
    EXPECT_EQ(g->FindContact("ann@example.com")->LastName, "");
    // The list follows the new rows; the contact the user had selected stays selected.
    EXPECT_EQ(w->ContactsModel->rowCount(), 4);
    ASSERT_EQ(w->SelectedContacts().size(), 1u);
    EXPECT_EQ(w->SelectedContacts()[0]->Email, "zed@example.com");
    EXPECT_TRUE(w->acImportTxt->isEnabled());
    // The choices are kept for the next import of the run.
    EXPECT_EQ(w->ImportTextInfo.Delimiter, ';');
    EXPECT_EQ(w->ImportTextInfo.FileName, file);
    EXPECT_EQ(w->ImportTextInfo.ColumnFields, (TStringList{"Email", "FirstName", ""}));
}

TEST_F(ImportTextUi, TheSameFileAgainStartsWithTheLastChoicesAndAddsEveryContactAgain) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "TXT");
    addField(*g, "Town");
    w->Setup->SelectGroup(g);
    w->ImportTextInfo.FileName = writeContacts("t.txt", "a@x.org,Paris\nb@x.org,Rome\n");
    w->ImportTextInfo.Delimiter = ',';
    w->ImportTextInfo.ColumnFields = {"", "Town"};
    w->ImportTextInfo.ColumnChecked = {false, true};
    for (int run = 0; run < 2; ++run) {
        runWizard(*w, [&](TfmImportTxt& wizard) {
            EXPECT_TRUE(wizard.rbComma->isChecked());
            EXPECT_EQ(itemTexts(wizard.clbFileFields), (QStringList{"Email", "Town"}));
            EXPECT_EQ(itemTexts(wizard.clbAvailFields).last(), "Town");
            return int(QDialog::Accepted);
        });
    }
    EXPECT_TRUE(w->openDialogs.empty());
    ASSERT_EQ(g->ContactCount(), 4);
    EXPECT_EQ(g->Contacts(0)->CustomField(0), "Paris");
    EXPECT_EQ(g->Contacts(3)->CustomField(0), "Rome");
}

TEST_F(ImportTextUi, CancelOrNoFileChangesNothing) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "TXT");
    w->Setup->SelectGroup(g);
    // No file chosen: no wizard.
    runWizard(*w, [&](TfmImportTxt&) { return int(QDialog::Accepted); });
    EXPECT_EQ(w->dialogsShown, 0);
    ASSERT_EQ(w->openDialogs.size(), 1u);
    EXPECT_EQ(w->openDialogs[0].title, "Import from textfile");

    w->ImportTextInfo.FileName = writeContacts("c.txt", "a@x.org;b\n");
    runWizard(*w, [&](TfmImportTxt& wizard) {
        QTest::mouseClick(wizard.rbSemicolon, Qt::LeftButton);
        QTest::mouseClick(wizard.btnCancel, Qt::LeftButton);
        return wizard.result();
    });
    EXPECT_EQ(g->ContactCount(), 0);
    EXPECT_EQ(w->ImportTextInfo.Delimiter, '\t');
}

TEST_F(ImportTextUi, DelimiterFileAndJoinDateControls) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "TXT");
    w->Setup->SelectGroup(g);
    w->ImportTextInfo.FileName = writeContacts("d.txt", "a@x.org|Ann|x\n");
    const std::string other = writeContacts("e.txt", "a@x.org*b\n");
    runWizard(*w, [&](TfmImportTxt& wizard) {
        typeAndLeave(wizard.edDelimiter, "|");
        EXPECT_TRUE(wizard.rbOther->isChecked());
        EXPECT_EQ(wizard.Info.Delimiter, '|');
        EXPECT_EQ(wizard.clbFileFields->count(), 3);
        // Two characters are no delimiter: the star stands in.
        typeAndLeave(wizard.edDelimiter, "ab");
        EXPECT_EQ(wizard.Info.Delimiter, '*');
        EXPECT_EQ(wizard.edDelimiter->text(), "*");

        typeAndLeave(wizard.edFileName, QString::fromStdString(dir.file("missing.txt")));
        EXPECT_EQ(wizard.lbWizardInfo->text(), "Please select a valid file first!");
        EXPECT_EQ(wizard.clbFileFields->count(), 0);
        EXPECT_EQ(wizard.clbAvailFields->count(), 0);
        w->openNames.push_back(QString::fromStdString(other));
        QTest::mouseClick(wizard.btnOpen, Qt::LeftButton);
        EXPECT_EQ(wizard.lbWizardInfo->text(), "The wizard has detected 1 records with 2 fields each.");

        wizard.clbFileFields->setCurrentRow(0);
        QTest::mouseClick(wizard.btnSkipField, Qt::LeftButton);
        EXPECT_EQ(wizard.clbFileFields->item(0)->text(), "Skipped");
        EXPECT_FALSE(wizard.Info.ColumnChecked[0]);
        wizard.clbFileFields->item(1)->setCheckState(Qt::Checked);
        EXPECT_TRUE(wizard.Info.ColumnChecked[1]);

        EXPECT_TRUE(wizard.dtpJoinDate->isHidden());
        QTest::mouseClick(wizard.chbJoinDate, Qt::LeftButton);
        EXPECT_FALSE(wizard.dtpJoinDate->isHidden());
        wizard.dtpJoinDate->setDate(QDate(2024, 2, 29));
        EXPECT_DOUBLE_EQ(wizard.Info.JoinDate, platform::encodeDate(2024, 2, 29));
        QTest::mouseClick(wizard.chbRemoveQuotes, Qt::LeftButton);
        EXPECT_FALSE(wizard.Info.RemoveQuotes);
        QTest::mouseClick(wizard.btnViewFile, Qt::LeftButton);
        EXPECT_EQ(w->opened, QStringList{QString::fromStdString(other)});
        return int(QDialog::Accepted);
    });
    ASSERT_EQ(g->ContactCount(), 1);
    EXPECT_EQ(g->Contacts(0)->Email, "");
    EXPECT_DOUBLE_EQ(g->Contacts(0)->Joined, platform::encodeDate(2024, 2, 29));
}

}  // namespace
