#include "UiTestSupport.h"

#include "import/uoexpress.h"
#include "platform/Registry.h"
#include "tests/support/DbxWriter.h"
#include "ui/cvReportModel.h"
#include "ui/frmOEImport.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>

using testsupport::DbxWriter;

namespace {

void writeString(const std::string& keyPath, const std::string& name, const std::string& value) {
    auto key = platform::RegistryKey::openCreate(keyPath);
    ASSERT_TRUE(key);
    key->writeString(name, value);
    key->close();
}

std::string mailSource(int i) {
    return "From: sender" + std::to_string(i) + "@example.com\r\nSubject: " + (i == 4 ? "hello" : "join") +
           " " + std::to_string(i) + "\r\n\r\nBody of mail " + std::to_string(i) + "\r\n";
}

QStringList topLevelTexts(const QTreeWidget* tree, QTreeWidgetItem* parent = nullptr) {
    QStringList texts;
    const int count = parent ? parent->childCount() : tree->topLevelItemCount();
    for (int i = 0; i < count; ++i) texts << (parent ? parent->child(i) : tree->topLevelItem(i))->text(0);
    return texts;
}

class OEImportUi : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        options::Identity = -1;
        // The folder file as the mail client names it, with a capital F. Inbox comes before its
        // parent, so it stays at the top; Archive follows its parent and goes under it.
        DbxWriter folders;
        const int32_t inbox = folders.Folder(4, 1, "Inbox", "Inbox.dbx");
        const int32_t local = folders.Folder(1, 0, "Local Folders", "");
        const int32_t archive = folders.Folder(5, 1, "Archive", "Archive.dbx");
        const int32_t root = folders.Record({DbxWriter::Direct(0x80, 0), DbxWriter::Text(2, "Outlook Express"),
                                             DbxWriter::Text(6, "x")});
        folders.SetRoot(folders.Node({{inbox, 0}, {root, 0}, {local, 0}, {archive, 0}}));
        folders.SetItemCount(4);
        testsupport::writeFile(dir.file("Folders.dbx"), folders.bytes);

        DbxWriter inboxFile;
        std::vector<DbxWriter::Entry> entries;
        for (int i = 0; i < 10; ++i) {
            const uint64_t received = (1700000000ull + 86400ull * i + 11644473600ull) * 10000000ull;
            entries.push_back({inboxFile.Mail("Sender " + std::to_string(i), "Subject " + std::to_string(i), received,
                                              inboxFile.TextChain(mailSource(i))),
                               0});
        }
        // A long mail for the preview.
        entries.push_back({inboxFile.Mail("Long", "Long", 0, inboxFile.TextChain("Subject: long\r\n\r\n" + std::string(30000, 'L'))), 0});
        inboxFile.SetRoot(inboxFile.Node(entries));
        inboxFile.SetItemCount(static_cast<int32_t>(entries.size()));
        testsupport::writeFile(dir.file("Inbox.dbx"), inboxFile.bytes);
        writeString(uoexpress::DefaultStoreKey, "Store Root", dir.path());
    }

    // A window with a group whose one started parser subscribes senders of mails saying "join".
    std::unique_ptr<TestWindow> importWindow(bool started = true) {
        auto w = makeWindow();
        group = addGroup(*w->Setup, "OE");
        auto* parser = new TcvParser;
        parser->Name = "Joiner";
        parser->Started = started;
        parser->TriggerSubj = true;
        parser->TriggerSubjWords = "join";
        group->AddParser(parser);
        w->Setup->SelectGroup(group);
        return w;
    }
    void runWizard(TestWindow& w, const std::function<int(TfmOEImport&)>& run) {
        w.onDialog = [&](QDialog& dialog) {
            auto* wizard = dynamic_cast<TfmOEImport*>(&dialog);
            return wizard ? run(*wizard) : int(QDialog::Rejected);
        };
        w.acImportOE->trigger();
    }
    // Steps 1 and 2: the Inbox chosen and these rows selected.
    static void chooseMails(TfmOEImport& wizard, const std::vector<int>& rows) {
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        wizard.tvFolders->setCurrentItem(wizard.tvFolders->topLevelItem(0));
        wizard.lvMessages->clearSelection();
        for (int row : rows) wizard.lvMessages->topLevelItem(row)->setSelected(true);
    }

    // Chooses the first four mails and runs the import; the action runs at the import's first wait
    // after its first mail.
    static void importFourActingAfterTheFirst(TfmOEImport& wizard, const std::function<void()>& action) {
        chooseMails(wizard, {0, 1, 2, 3});
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &wizard, [&] {
            if (wizard.Processed < 1 || !poll.isActive()) return;
            poll.stop();
            action();
        });
        poll.start(0);
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
    }

    TcvGroup* group = nullptr;
};

TEST_F(OEImportUi, ThreeOfTenMailsSelectedImportTwoThroughTheStepsOfTheWindow) {
    auto w = importWindow();
    int result = -1;
    runWizard(*w, [&](TfmOEImport& wizard) {
        EXPECT_EQ(wizard.windowTitle(), "Outlook Express Import Wizard");
        EXPECT_EQ(wizard.lbPageTitle->text(), "Step 1: Welcome");
        EXPECT_FALSE(wizard.btnPrev->isEnabled());
        // Without identities the chooser stays hidden.
        EXPECT_TRUE(wizard.cbbIdentities->isHidden());
        EXPECT_TRUE(wizard.lbStep1Info->text().startsWith("Welcome to the Outlook Express Import Wizard."));
        EXPECT_TRUE(saveScreenshot(wizard, "dialog-fmOEImport-step1"));

        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(wizard.lbPageTitle->text(), "Step 2: Select Folder and Messages");
        EXPECT_EQ(wizard.nbMain->currentWidget(), wizard.Step2);
        EXPECT_FALSE(wizard.btnNext->isEnabled());
        EXPECT_EQ(topLevelTexts(wizard.tvFolders), (QStringList{"Inbox", "Outlook Express"}));
        QTreeWidgetItem* oe = wizard.tvFolders->topLevelItem(1);
        EXPECT_EQ(topLevelTexts(wizard.tvFolders, oe), QStringList{"Local Folders"});
        EXPECT_EQ(topLevelTexts(wizard.tvFolders, oe->child(0)), QStringList{"Archive"});

        wizard.tvFolders->setCurrentItem(wizard.tvFolders->topLevelItem(0));
        EXPECT_EQ(wizard.lvMessages->topLevelItemCount(), 11);
        EXPECT_EQ(wizard.lbMessage->text(), "11 messages, 0 selected.");
        QTreeWidgetItem* first = wizard.lvMessages->topLevelItem(0);
        EXPECT_EQ(first->text(0), "Sender 0");
        EXPECT_EQ(first->text(2), "Subject 0");
        EXPECT_FALSE(first->text(1).isEmpty());
        for (int row : {7, 1, 4}) wizard.lvMessages->topLevelItem(row)->setSelected(true);
        EXPECT_TRUE(wizard.btnNext->isEnabled());
        EXPECT_EQ(wizard.lbMessage->text(), "11 messages, 3 selected.");
        // The preview shows the first selected row: summary, an empty line, the body.
        EXPECT_TRUE(wizard.reMessage->toPlainText().contains("Subject: join 1\n"));
        EXPECT_TRUE(wizard.reMessage->toPlainText().contains("\n\nBody of mail 1"));
        EXPECT_TRUE(saveScreenshot(wizard, "dialog-fmOEImport-step2"));

        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(wizard.lbPageTitle->text(), "Step 3: Confirm import from Outlook Express");
        EXPECT_EQ(wizard.lbFolder->text(), "Folder: Inbox");
        EXPECT_EQ(wizard.lbMessageCount->text(), "Message(s) selected: 3");
        EXPECT_TRUE(wizard.pbProgress->isHidden());
        EXPECT_TRUE(saveScreenshot(wizard, "dialog-fmOEImport-step3"));

        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(wizard.lbPageTitle->text(), "Step 4: Importing 3 messages from Outlook Express");
        EXPECT_EQ(wizard.lbProgress->text(), "3 of 3 messages imported");
        EXPECT_EQ(wizard.pbProgress->value(), 100);
        EXPECT_EQ(wizard.lbResult->text(), "2 messages of 3 were parsed successfully.");
        EXPECT_FALSE(wizard.lbResult->isHidden());
        EXPECT_FALSE(wizard.btnPrev->isEnabled());
        EXPECT_EQ(wizard.btnNext->text(), "OK");
        EXPECT_TRUE(saveScreenshot(wizard, "dialog-fmOEImport-step4"));
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        result = wizard.result();
        return result;
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(group->ContactCount(), 2);
    EXPECT_NE(group->FindContact("sender1@example.com"), nullptr);
    EXPECT_NE(group->FindContact("sender7@example.com"), nullptr);
    EXPECT_EQ(w->ContactsModel->rowCount(), 2);
}

TEST_F(OEImportUi, PreviewIsLimitedAndGoingBackRebuildsTheLists) {
    auto w = importWindow();
    runWizard(*w, [&](TfmOEImport& wizard) {
        chooseMails(wizard, {10});
        const QString preview = wizard.reMessage->toPlainText();
        EXPECT_GT(preview.count('L'), 9000);
        EXPECT_LE(preview.count('L'), int(TfmOEImport::PreviewLimit) + 511);
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        QTest::mouseClick(wizard.btnPrev, Qt::LeftButton);
        EXPECT_EQ(wizard.Step(), 2);
        EXPECT_EQ(wizard.lvMessages->topLevelItemCount(), 0);
        EXPECT_FALSE(wizard.btnNext->isEnabled());
        QTest::mouseClick(wizard.btnPrev, Qt::LeftButton);
        EXPECT_EQ(wizard.Step(), 1);
        QTest::mouseClick(wizard.btnCancel, Qt::LeftButton);
        return wizard.result();
    });
    EXPECT_EQ(group->ContactCount(), 0);
}

TEST_F(OEImportUi, WithoutAStartedParserEveryMailIsProcessedAndNoneParsed) {
    auto w = importWindow(false);
    runWizard(*w, [&](TfmOEImport& wizard) {
        chooseMails(wizard, {0, 1, 2});
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(wizard.lbResult->text(), "0 messages of 3 were parsed successfully.");
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(group->ContactCount(), 0);
}

TEST_F(OEImportUi, CancelDuringTheImportClosesAfterTheCurrentMailAndNoSecondImportStarts) {
    auto w = importWindow();
    int result = -1;
    bool prevDisabled = false, secondRefused = false;
    runWizard(*w, [&](TfmOEImport& wizard) {
        importFourActingAfterTheFirst(wizard, [&] {
            prevDisabled = wizard.Importing() && !wizard.btnPrev->isEnabled();
            const int shown = w->dialogsShown;
            secondRefused = !w->acImportOE->isEnabled() && !w->acImportTxt->isEnabled();
            w->acImportOEExecute();
            secondRefused = secondRefused && w->dialogsShown == shown;
            QTest::mouseClick(wizard.btnCancel, Qt::LeftButton);
        });
        EXPECT_EQ(wizard.Processed, 1);
        result = wizard.result();
        return result;
    });
    EXPECT_TRUE(prevDisabled);
    EXPECT_TRUE(secondRefused);
    EXPECT_EQ(result, QDialog::Rejected);
    // The mails handled before the cancel keep their effect.
    EXPECT_EQ(group->ContactCount(), 1);
    EXPECT_TRUE(w->acImportOE->isEnabled());
}

TEST_F(OEImportUi, IdentitiesChooseTheStoreAndAStoredIndexOutOfRangeFallsBackToTheDefault) {
    writeString("\\Identities\\{A}", "Username", "Main");
    writeString("\\Identities\\{B}", "Username", "Second");
    writeString("\\Identities", "Default User ID", "{B}");
    writeString("\\Identities\\{B}\\Software\\Microsoft\\Outlook Express\\5.0", "Store Root", dir.path());
    options::Identity = 5;
    auto w = importWindow();
    runWizard(*w, [&](TfmOEImport& wizard) {
        EXPECT_FALSE(wizard.cbbIdentities->isHidden());
        EXPECT_FALSE(wizard.lbIdentities->isHidden());
        EXPECT_EQ(wizard.cbbIdentities->count(), 2);
        EXPECT_EQ(wizard.cbbIdentities->currentText(), "Second");
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(wizard.IdentityKey, "{B}");
        EXPECT_EQ(wizard.tvFolders->topLevelItemCount(), 2);
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(options::Identity, 1);

}

TEST_F(OEImportUi, WithOneIdentityTheChooserStaysHiddenAndThatIdentityIsUsed) {
    writeString("\\Identities\\{A}", "Username", "Main");
    writeString("\\Identities\\{A}\\Software\\Microsoft\\Outlook Express\\5.0", "Store Root", dir.path());
    auto w = importWindow();
    runWizard(*w, [&](TfmOEImport& wizard) {
        EXPECT_TRUE(wizard.cbbIdentities->isHidden());
        EXPECT_TRUE(wizard.lbIdentities->isHidden());
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(wizard.IdentityKey, "{A}");
        EXPECT_EQ(wizard.Step(), 2);
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(options::Identity, 0);
}

TEST_F(OEImportUi, AStoreFolderIsAskedForWhenNoneIsKnownRememberedAndForgottenWhenItHoldsNoStore) {
    {
        auto key = platform::RegistryKey::openExisting(uoexpress::DefaultStoreKey);
        ASSERT_TRUE(key);
        key->deleteValue("Store Root");
        key->close();
    }
    testsupport::TempDir empty;
    auto w = importWindow();
    runWizard(*w, [&](TfmOEImport& wizard) {
        int asked = 0;
        wizard.ChooseStoreFolder = [&] {
            ++asked;
            return QString();
        };
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(wizard.Step(), 1);

        wizard.ChooseStoreFolder = [&] { return QString::fromStdString(empty.path()); };
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(wizard.Step(), 1);
        EXPECT_EQ(uoexpress::ChosenStoreFolder(), "");

        wizard.ChooseStoreFolder = [&] { return QString::fromStdString(dir.path()); };
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(wizard.Step(), 2);
        EXPECT_EQ(wizard.tvFolders->topLevelItemCount(), 2);
        EXPECT_EQ(uoexpress::ChosenStoreFolder(), dir.path());
        // Remembered: not asked again.
        wizard.ChooseStoreFolder = nullptr;
        QTest::mouseClick(wizard.btnPrev, Qt::LeftButton);
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(wizard.Step(), 2);
        return int(QDialog::Rejected);
    });
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "You must close Outlook Express or switch identity before you can\nopen the message folders.");
}

TEST_F(OEImportUi, NoGroupIsReportedAndThePaneSizesAndBoundsAreKept) {
    auto w = makeWindow();
    EXPECT_FALSE(w->acImportOE->isEnabled());
    ImportFromOutlookExpress(*w, w->Setup.get(), nullptr);
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "Please select a group first, then restart the wizard.");
    EXPECT_EQ(w->dialogsShown, 0);
    ImportFromOutlookExpress(*w, nullptr, nullptr);
    EXPECT_EQ(w->messages.size(), 1u);

    TcvGroup* g = addGroup(*w->Setup, "G");
    options::FoldersWidth = 150;
    options::MessagesHeight = 90;
    options::MainStored = true;
    options::MainBounds = {10, 20, 710, 520};
    int shownWidth = 0;
    {
        TfmOEImport wizard(*w, *w->Setup, *g, w.get());
        EXPECT_EQ(wizard.geometry(), QRect(10, 20, 700, 500));
        wizard.show();
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        // Within a pixel or two of the stored sizes, as the splitter rounds them.
        EXPECT_NEAR(wizard.splVertical->sizes().value(0), 150, 2);
        EXPECT_NEAR(wizard.splHorizontal->sizes().value(0), 90, 2);
        wizard.setGeometry(30, 40, 650, 450);
        wizard.splVertical->setSizes({250, 350});
        shownWidth = wizard.splVertical->sizes().value(0);
    }
    EXPECT_GT(shownWidth, 200);
    EXPECT_EQ(options::FoldersWidth, shownWidth);
    EXPECT_EQ(options::MainBounds, (TOptionRect{30, 40, 680, 490}));
    EXPECT_TRUE(options::MainStored);
}

TEST_F(OEImportUi, TheRealStoreListsItsFoldersAndItsInboxMail) {
    const auto real = std::filesystem::path(CORVANE_SOURCE_DIR) / ".." / "shared" / "realdata" / "dbx";
    if (!std::filesystem::exists(real)) GTEST_SKIP() << "no real store files here";
    writeString(uoexpress::DefaultStoreKey, "Store Root", real.string());
    auto w = importWindow();
    runWizard(*w, [&](TfmOEImport& wizard) {
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_EQ(topLevelTexts(wizard.tvFolders), QStringList{"Outlook Express"});
        const auto inbox = wizard.tvFolders->findItems("Inbox", Qt::MatchExactly | Qt::MatchRecursive);
        EXPECT_EQ(wizard.tvFolders->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive).size(), 5);
        if (inbox.isEmpty()) return int(QDialog::Rejected);
        wizard.tvFolders->setCurrentItem(inbox[0]);
        EXPECT_EQ(wizard.lvMessages->topLevelItemCount(), 1);
        wizard.lvMessages->topLevelItem(0)->setSelected(true);
        EXPECT_FALSE(wizard.reMessage->toPlainText().isEmpty());
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        QTest::mouseClick(wizard.btnNext, Qt::LeftButton);
        EXPECT_TRUE(wizard.lbResult->text().endsWith("of 1 were parsed successfully."));
        return int(QDialog::Accepted);
    });
}

}  // namespace

namespace {

TEST_F(OEImportUi, AGroupDeletedDuringTheImportEndsItAfterTheMailInHand) {
    auto w = importWindow();
    runWizard(*w, [&](TfmOEImport& wizard) {
        importFourActingAfterTheFirst(wizard, [&] { w->Setup->DeleteGroup(0); });
        EXPECT_EQ(wizard.Processed, 1);
        EXPECT_EQ(wizard.lbResult->text(), "1 messages of 1 were parsed successfully.");
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(w->Setup->GroupCount(), 0);
    EXPECT_FALSE(w->acImportOE->isEnabled());
}

}  // namespace
