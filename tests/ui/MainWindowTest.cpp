#include "UiTestSupport.h"

#include "platform/Registry.h"
#include "daemon/cvScheduler.h"

#include <QLabel>
#include <QMimeData>
#include <QStatusBar>
#include <QSysInfo>
#include <QTabWidget>
#include <QTableView>
#include <QUrl>

#include <filesystem>

namespace {

const QString Untitled = "Vantrel v1.0.5 [Untitled]";
const QString SaveFirst = "The current setup has changed. Do you want to save first?";
const QString SaveBeforeClosing = "The current setup has changed. Do you want to save before closing?";

QString captionFor(const std::string& path) { return QString("Vantrel v1.0.5 [%1]").arg(QString::fromStdString(path)); }

// A setup file with one group of the given code.
void writeSetupFile(const std::string& path, const std::string& code) {
    TcvSetup setup;
    addGroup(setup, code, {"ann@example.com"});
    setup.SaveToFile(path);
}

std::string groupCodeInFile(const std::string& path) {
    TcvSetup setup;
    setup.LoadFromFile(path);
    return setup.GroupCount() == 1 ? setup.Groups(0)->Code : "(" + std::to_string(setup.GroupCount()) + " groups)";
}

std::string storedSetupName() {
    auto key = platform::RegistryKey::openExisting("\\Software\\Brixwold\\Corvane\\Setup");
    return key ? key->readString("SetupName") : "(no key)";
}

}  // namespace

TEST_F(UiTest, StartWithoutLoadAtStartupIsUntitledAndForgetsTheStoredName) {
    options::SetupName = dir.file("stored.xml");
    auto w = makeWindow();
    EXPECT_EQ(w->windowTitle(), Untitled);
    EXPECT_FALSE(w->Scheduler->LoadPending);
    EXPECT_EQ(w->StatusText(2), "Mailer: not active");
    EXPECT_TRUE(w->acMailerStart->isEnabled());
    EXPECT_FALSE(w->acMailerPause->isEnabled());
    EXPECT_EQ(w->tmMailer->interval(), 50);
    w->show();
    EXPECT_TRUE(w->close());
    EXPECT_EQ(storedSetupName(), "");
}

TEST_F(UiTest, WindowFrameHasItsPagesStatusPanelsAndLists) {
    auto w = makeWindow();
    QTabWidget* pages = w->findChild<QTabWidget*>("pcMain");
    ASSERT_NE(pages, nullptr);
    const QStringList names = {"tsGroups", "tsContacts", "tsMessages", "tsParsers",
                               "tsAccounts", "tsWebHtml", "tsVariables", "tsOptions"};
    const QStringList captions = {"Groups", "Contacts", "Messages", "Parsers", "Accounts", "Web Html", "Variables",
                                  "Options"};
    ASSERT_EQ(pages->count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(pages->widget(i)->objectName(), names[i]);
        EXPECT_EQ(pages->tabText(i), captions[i]);
        EXPECT_EQ(pages->isTabVisible(i), names[i] != "tsWebHtml");
    }
    EXPECT_EQ(pages->currentWidget(), w->tsGroups);
    EXPECT_TRUE(w->pnlOptionsTitle->font().bold());
    EXPECT_EQ(w->pnlOptionsTitle->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(w->pnlOptionsTitle->text(), " Options");

    EXPECT_EQ(w->statusBar()->objectName(), "sbMain");
    EXPECT_EQ(w->sbPanels[0]->width(), 300);
    EXPECT_EQ(w->sbPanels[1]->width(), 150);

    for (const char* name : {"lvGroups", "lvContacts", "lvMessages", "lvParsers", "lvAccounts"}) {
        QTableView* view = w->findChild<QTableView*>(name);
        ASSERT_NE(view, nullptr) << name;
        EXPECT_TRUE(view->showGrid());
        EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
    }
    // Odd rows are pale yellow.
    addGroup(*w->Setup, "ONE");
    addGroup(*w->Setup, "TWO");
    auto* model = w->lvGroups->model();
    EXPECT_EQ(model->data(model->index(1, 0), Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 204));
    EXPECT_FALSE(model->data(model->index(0, 0), Qt::BackgroundRole).isValid());
    // No row data while the update guard is held.
    EXPECT_EQ(model->data(model->index(1, 0)).toString(), "TWO group");
    w->BeginUpdate();
    EXPECT_FALSE(model->data(model->index(1, 0)).isValid());
    w->EndUpdate();

    EXPECT_EQ(w->cbbTriggerUnits->count(), 7);
    EXPECT_EQ(w->cbbTriggerUnits->itemText(6), "Years");
    EXPECT_EQ(w->cbbTrigger->itemText(4), "UserEvent3");
    EXPECT_EQ(w->cbbContentType->count(), 2);
    EXPECT_EQ(w->cbbParserAction->itemText(3), "Unsubscribe All");
}

TEST_F(UiTest, MissingSetupFileAtStartupIsReportedOnceAndLeavesAnUntitledEmptySetup) {
    const std::string missing = dir.file("missing.xml");
    options::LoadAtStartup = true;
    options::SetupName = missing;
    auto w = makeWindow();
    EXPECT_EQ(w->windowTitle(), captionFor(missing));
    EXPECT_TRUE(w->Scheduler->LoadPending);
    w->tmMailerTimer();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messageIcons[0], QMessageBox::Critical);
    EXPECT_EQ(w->Setup->GroupCount(), 0);
    EXPECT_FALSE(w->Scheduler->LoadPending);
    EXPECT_EQ(w->windowTitle(), Untitled);
    EXPECT_EQ(w->StatusText(0), "");
    w->tmMailerTimer();
    EXPECT_EQ(w->messages.size(), 1u);

    // Nothing is saved under the name that failed; it is offered again at the next start.
    w->acSetupSave->trigger();
    EXPECT_EQ(w->saveDialogs.size(), 1u);
    w->show();
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(testsupport::fileExists(missing));
    EXPECT_EQ(storedSetupName(), missing);
}

TEST_F(UiTest, StartUpLoadOfAnUnreadableFileNeverOverwritesIt) {
    const std::string broken = dir.file("broken.xml");
    testsupport::writeFile(broken, "<not a setup");
    options::LoadAtStartup = true;
    options::SaveAtShutdown = true;
    options::AutoSave = true;
    options::SetupName = broken;
    platform::ManualClock clock(46000.5, 0);
    platform::ScopedClock useClock(clock);
    auto w = makeWindow();
    w->tmMailerTimer();
    EXPECT_EQ(w->Setup->GroupCount(), 0);
    clock.setNow(clock.now() + 1);  // a day later: auto-save would be long due
    w->tmMailerTimer();
    w->show();
    EXPECT_TRUE(w->close());
    EXPECT_EQ(testsupport::readFile(broken), "<not a setup");
}

TEST_F(UiTest, StartUpLoadsTheNamedSetup) {
    const std::string path = dir.file("start.xml");
    writeSetupFile(path, "STA");
    options::LoadAtStartup = true;
    options::SetupName = path;
    auto w = makeWindow();
    w->tmMailerTimer();
    ASSERT_EQ(w->Setup->GroupCount(), 1);
    EXPECT_EQ(w->Setup->Groups(0)->Code, "STA");
    EXPECT_FALSE(w->Setup->Modified);
    EXPECT_EQ(w->windowTitle(), captionFor(path));
    EXPECT_TRUE(w->messages.empty());
}

TEST_F(UiTest, ChangesShowTheModifiedStarUntilSaved) {
    auto w = makeWindow();
    addGroup(*w->Setup, "ONE");
    EXPECT_EQ(w->windowTitle(), Untitled + "*");
    w->saveNames = {QString::fromStdString(dir.file("list"))};
    w->acSetupSave->trigger();
    EXPECT_EQ(w->windowTitle(), captionFor(dir.file("list.xml")));
}

TEST_F(UiTest, SaveAsAddsTheXmlExtensionAndALaterSaveWritesTheSameFile) {
    auto w = makeWindow();
    addGroup(*w->Setup, "ONE");
    w->saveNames = {QString::fromStdString(dir.file("list"))};
    w->acSetupSaveAs->trigger();
    ASSERT_EQ(w->saveDialogs.size(), 1u);
    EXPECT_EQ(w->saveDialogs[0].title, "Save setup as...");
    EXPECT_EQ(w->saveDialogs[0].filter, "Vantrel files (*.xml)");
    EXPECT_EQ(options::SetupName, dir.file("list.xml"));
    EXPECT_EQ(groupCodeInFile(dir.file("list.xml")), "ONE");
    EXPECT_FALSE(testsupport::fileExists(dir.file("list")));

    w->Setup->Groups(0)->SetCode("TWO");
    w->acSetupSave->trigger();
    EXPECT_EQ(w->saveDialogs.size(), 1u);
    EXPECT_EQ(groupCodeInFile(dir.file("list.xml")), "TWO");
    EXPECT_EQ(groupCodeInFile(dir.file("list.bak")), "ONE");

    // Another extension is replaced.
    w->saveNames = {QString::fromStdString(dir.file("other.txt"))};
    w->acSetupSaveAs->trigger();
    EXPECT_EQ(options::SetupName, dir.file("other.xml"));
}

TEST_F(UiTest, SavingOverAnExistingFileKeepsItsContentInTheBak) {
    const std::string a = dir.file("a.xml");
    writeSetupFile(a, "OLD");
    // As an older program or another tool may have left it.
    std::filesystem::permissions(a, std::filesystem::perms::group_read | std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    testsupport::writeFile(dir.file("a.bak"), "older");
    auto w = makeWindow();
    addGroup(*w->Setup, "NEW");
    w->SaveSetup(QString::fromStdString(a));
    EXPECT_EQ(groupCodeInFile(a), "NEW");
    EXPECT_EQ(groupCodeInFile(dir.file("a.bak")), "OLD");
    EXPECT_FALSE(testsupport::fileExists(a + ".saving"));
    EXPECT_FALSE(w->Setup->Modified);
    // The backup holds the same passwords as the setup.
    const auto others = std::filesystem::perms::group_all | std::filesystem::perms::others_all;
    EXPECT_EQ(std::filesystem::status(dir.file("a.bak")).permissions() & others, std::filesystem::perms::none);
}

TEST_F(UiTest, FailedSaveLeavesTheFileAndItsBakAsTheyWere) {
    const std::string a = dir.file("a.xml");
    writeSetupFile(a, "OLD");
    testsupport::writeFile(dir.file("a.bak"), "older");
    // The new content cannot be written: its temporary name is taken by a folder.
    std::filesystem::create_directory(a + ".saving");
    auto w = makeWindow();
    addGroup(*w->Setup, "NEW");
    options::SetupName = a;
    w->acSetupSave->trigger();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messageIcons[0], QMessageBox::Critical);
    EXPECT_EQ(groupCodeInFile(a), "OLD");
    EXPECT_EQ(testsupport::readFile(dir.file("a.bak")), "older");
    EXPECT_TRUE(w->Setup->Modified);
    EXPECT_TRUE(w->windowTitle().endsWith("*"));
    EXPECT_EQ(w->StatusText(0), "");

    EXPECT_THROW(w->SaveSetup(""), std::runtime_error);
    try {
        w->SaveSetup("");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Filename is empty!");
    }
}

TEST_F(UiTest, SavesOnAFullDiskAreReportedAndKeepTheFileAndItsBak) {
    const std::string a = dir.file("a.xml");
    writeSetupFile(a, "OLD");
    testsupport::writeFile(dir.file("a.bak"), "older");
    const std::string old = testsupport::readFile(a);
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "NEW");
    for (int i = 0; i < 500; ++i) {
        auto* c = new TcvContact;
        c->Email = "contact" + std::to_string(i) + "@example.com";
        g->AddContact(c);
    }
    options::SetupName = a;
    {
        testsupport::FileSizeLimit full(static_cast<long>(old.size()) + 4096);
        w->acSetupSave->trigger();
        w->acSetupSave->trigger();
    }
    ASSERT_EQ(w->messages.size(), 2u);
    EXPECT_EQ(w->messageIcons[1], QMessageBox::Critical);
    EXPECT_EQ(testsupport::readFile(a), old);
    EXPECT_EQ(testsupport::readFile(dir.file("a.bak")), "older");
    EXPECT_FALSE(testsupport::fileExists(a + ".saving"));
    EXPECT_TRUE(w->Setup->Modified);
}

TEST_F(UiTest, ABakThatCannotBeReplacedIsReportedAndTheFileStays) {
    const std::string a = dir.file("a.xml");
    writeSetupFile(a, "OLD");
    std::filesystem::create_directory(dir.file("a.bak"));
    auto w = makeWindow();
    addGroup(*w->Setup, "NEW");
    options::SetupName = a;
    w->acSetupSave->trigger();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_TRUE(w->messages[0].contains("a.bak"));
    EXPECT_EQ(groupCodeInFile(a), "OLD");
    EXPECT_FALSE(testsupport::fileExists(a + ".saving"));
    EXPECT_TRUE(w->Setup->Modified);
}

TEST_F(UiTest, ASetupNameOutsideTheCodePageIsSavedAgainAndStoredAsItIs) {
    auto w = makeWindow();
    addGroup(*w->Setup, "ONE");
    const std::string name = dir.file("\xD1\x80\xD0\xB0\xD1\x81\xD1\x81\xD1\x8B\xD0\xBB\xD0\xBA\xD0\xB0 \xE2\x9C\x93");
    w->saveNames = {QString::fromStdString(name)};
    w->acSetupSaveAs->trigger();
    EXPECT_EQ(options::SetupName, name + ".xml");
    w->Setup->Groups(0)->SetCode("TWO");
    w->acSetupSave->trigger();
    EXPECT_TRUE(w->messages.empty());
    EXPECT_EQ(groupCodeInFile(name + ".xml"), "TWO");
    EXPECT_EQ(groupCodeInFile(name + ".bak"), "ONE");

    w->OptionStore.SaveToRegistry(options::RegistryBase);
    options::SetupName.clear();
    w->OptionStore.LoadFromRegistry(options::RegistryBase);
    EXPECT_EQ(options::SetupName, name + ".xml");
}

TEST_F(UiTest, ADamagedOptionsFileIsKeptAsideAndReportedOnce) {
    testsupport::writeFile(registry.file(), std::string("\x00\x01 not an options file", 22));
    {
        auto w = makeWindow();
        QCoreApplication::processEvents();
        ASSERT_EQ(w->messages.size(), 1u);
        EXPECT_TRUE(w->messages[0].contains(QString::fromStdString(registry.file() + ".unreadable")));
    }
    EXPECT_EQ(testsupport::readFile(registry.file() + ".unreadable"), std::string("\x00\x01 not an options file", 22));
    auto again = makeWindow();
    QCoreApplication::processEvents();
    EXPECT_TRUE(again->messages.empty());
}

TEST_F(UiTest, ASetupAnotherProgramWritesOpensReadOnlyOrNotAtAll) {
    const std::string a = dir.file("a.xml");
    writeSetupFile(a, "OLD");
    const std::string held = "1\n" + QSysInfo::machineHostName().toStdString() + "\n";
    testsupport::writeFile(a + ".lock", held);
    auto w = makeWindow();
    w->openNames = {QString::fromStdString(a), QString::fromStdString(a)};
    w->answers = {QMessageBox::No};
    w->acSetupLoad->trigger();
    ASSERT_EQ(w->questions.size(), 1u);
    EXPECT_TRUE(w->questions[0].text.contains("process 1"));
    EXPECT_EQ(w->Setup->GroupCount(), 0);

    w->answers = {QMessageBox::Yes};
    w->acSetupLoad->trigger();
    ASSERT_EQ(w->Setup->GroupCount(), 1);
    EXPECT_TRUE(w->ReadOnly);
    EXPECT_TRUE(w->Scheduler->Passive);
    w->Setup->Groups(0)->SetCode("NEW");
    // Save asks for another name; the file of the other program is never written.
    w->acSetupSave->trigger();
    EXPECT_EQ(w->saveDialogs.size(), 1u);
    EXPECT_EQ(groupCodeInFile(a), "OLD");
    w->acMailerStart->trigger();
    EXPECT_FALSE(MailerRunning);
    EXPECT_EQ(testsupport::readFile(a + ".lock"), held);

    // Saved under a name of its own, the setup is this window's to write.
    w->saveNames = {QString::fromStdString(dir.file("mine.xml"))};
    w->acSetupSave->trigger();
    EXPECT_FALSE(w->ReadOnly);
    EXPECT_EQ(groupCodeInFile(dir.file("mine.xml")), "NEW");
    EXPECT_TRUE(testsupport::fileExists(dir.file("mine.xml.lock")));
    w->acSetupNew->trigger();
    EXPECT_FALSE(testsupport::fileExists(dir.file("mine.xml.lock")));
}

TEST_F(UiTest, ASetupNamedOnTheCommandLineOpensInsteadOfTheLastOne) {
    writeSetupFile(dir.file("last.xml"), "LAST");
    writeSetupFile(dir.file("given.xml"), "GIVEN");
    options::SetupName = dir.file("last.xml");
    auto w = makeWindow();
    w->OpenAtStart(QString::fromStdString(dir.file("given.xml")));
    w->Scheduler->Tick();
    ASSERT_EQ(w->Setup->GroupCount(), 1);
    EXPECT_EQ(w->Setup->Groups(0)->Code, "GIVEN");
    EXPECT_EQ(options::SetupName, dir.file("given.xml"));
    EXPECT_EQ(w->acSetupLoad->shortcut(), QKeySequence(QKeySequence::Open));
}

TEST_F(UiTest, LoadAndSaveShowTheirProgressEveryFiveKilobytes) {
    const std::string big = dir.file("big.xml");
    {
        TcvSetup setup;
        addGroup(setup, "BIG");
        for (int i = 0; i < 1500; ++i) {
            auto* c = new TcvContact;
            c->Email = "contact" + std::to_string(i) + "@example.com";
            setup.Groups(0)->AddContact(c);
        }
        setup.SaveToFile(big);
    }
    auto w = makeWindow();
    std::vector<std::pair<int64_t, QString>> shown;
    auto show = w->Setup->OnProgress;
    w->Setup->OnProgress = [&](TsdXmlDocument& doc, int64_t bytes) {
        const int64_t before = w->ProgressBytes;
        show(doc, bytes);
        if (w->ProgressBytes != before) shown.emplace_back(bytes, w->StatusText(0));
    };
    w->openNames = {QString::fromStdString(big)};
    w->acSetupLoad->trigger();
    ASSERT_EQ(w->Setup->Groups(0)->ContactCount(), 1500);
    ASSERT_GE(shown.size(), 2u);
    int64_t previous = 0;
    for (const auto& [bytes, status] : shown) {
        EXPECT_GT(bytes, previous + 5120);
        EXPECT_EQ(status, QString("Loading project big.xml...(%1 Kb)").arg(bytes / 1024));
        previous = bytes;
    }
    EXPECT_EQ(w->StatusText(0), "");
}

TEST_F(UiTest, OpenAsksToSaveFirstThenLoadsTheChosenFile) {
    const std::string path = dir.file("open.xml");
    writeSetupFile(path, "OPN");
    auto w = makeWindow();
    addGroup(*w->Setup, "MOD");
    w->answers = {QMessageBox::Cancel};
    w->acSetupLoad->trigger();
    EXPECT_TRUE(w->openDialogs.empty());
    EXPECT_EQ(w->Setup->Groups(0)->Code, "MOD");

    w->answers = {QMessageBox::No};
    w->openNames = {QString::fromStdString(path)};
    w->acSetupLoad->trigger();
    ASSERT_EQ(w->questions.size(), 2u);
    EXPECT_EQ(w->questions[1].text, SaveFirst);
    EXPECT_EQ(w->questions[1].icon, QMessageBox::Warning);
    ASSERT_EQ(w->openDialogs.size(), 1u);
    EXPECT_EQ(w->openDialogs[0].title, "Open a saved setup");
    EXPECT_EQ(w->openDialogs[0].filter, "Vantrel files (*.xml);;All files (*)");
    ASSERT_EQ(w->Setup->GroupCount(), 1);
    EXPECT_EQ(w->Setup->Groups(0)->Code, "OPN");
    EXPECT_EQ(w->windowTitle(), captionFor(path));
}

TEST_F(UiTest, FailedOpenLeavesAnEmptyUntitledSetupThatCannotOverwriteTheOldFile) {
    const std::string old = dir.file("old.xml");
    writeSetupFile(old, "OLD");
    options::SetupName = old;
    options::LoadAtStartup = true;
    auto w = makeWindow();
    w->tmMailerTimer();
    ASSERT_EQ(w->Setup->GroupCount(), 1);
    w->openNames = {QString::fromStdString(dir.file("missing.xml"))};
    w->acSetupLoad->trigger();
    EXPECT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->Setup->GroupCount(), 0);
    EXPECT_EQ(w->windowTitle(), Untitled);
    w->show();
    EXPECT_TRUE(w->close());
    EXPECT_EQ(groupCodeInFile(old), "OLD");
}

TEST_F(UiTest, NewWithYesAlwaysShowsSaveAsThenEmptiesTheSetup) {
    const std::string named = dir.file("named.xml");
    auto w = makeWindow();
    addGroup(*w->Setup, "ONE");
    options::SetupName = named;
    w->answers = {QMessageBox::Yes};
    w->saveNames = {QString::fromStdString(dir.file("copy"))};
    w->acSetupNew->trigger();
    ASSERT_EQ(w->questions.size(), 1u);
    EXPECT_EQ(w->questions[0].text, SaveFirst);
    EXPECT_EQ(w->saveDialogs.size(), 1u);
    EXPECT_EQ(groupCodeInFile(dir.file("copy.xml")), "ONE");
    EXPECT_EQ(w->Setup->GroupCount(), 0);
    EXPECT_FALSE(w->Setup->Modified);
    EXPECT_EQ(w->windowTitle(), Untitled);
}

TEST_F(UiTest, NewKeepsTheSetupWhenItsSaveWasCancelledAndEmptiesItOnNo) {
    auto w = makeWindow();
    addGroup(*w->Setup, "ONE");
    w->SelectGroup(w->Setup->Groups(0));
    w->answers = {QMessageBox::Yes};
    w->acSetupNew->trigger();
    EXPECT_EQ(w->saveDialogs.size(), 1u);
    EXPECT_EQ(w->Setup->GroupCount(), 1);

    w->answers = {QMessageBox::No};
    w->acSetupNew->trigger();
    EXPECT_EQ(w->Setup->GroupCount(), 0);
    EXPECT_EQ(w->SelGroup.get(), nullptr);
    EXPECT_FALSE(w->acGroupDelete->isEnabled());
    EXPECT_EQ(w->questions.size(), 2u);
}

TEST_F(UiTest, CloseWithoutChangesAsksNothing) {
    options::SaveAtShutdown = false;
    auto w = makeWindow();
    w->show();
    EXPECT_TRUE(w->close());
    EXPECT_TRUE(w->questions.empty());
}

TEST_F(UiTest, CloseQuestionCancelKeepsTheWindowNoDiscardsYesSaves) {
    options::SaveAtShutdown = false;
    const std::string path = dir.file("closing.xml");
    auto w = makeWindow();
    w->show();
    addGroup(*w->Setup, "ONE");
    options::SetupName = path;
    w->answers = {QMessageBox::Cancel};
    EXPECT_FALSE(w->close());
    ASSERT_EQ(w->questions.size(), 1u);
    EXPECT_EQ(w->questions[0].text, SaveBeforeClosing);
    EXPECT_EQ(w->questions[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);

    w->answers = {QMessageBox::Yes};
    EXPECT_TRUE(w->close());
    EXPECT_EQ(groupCodeInFile(path), "ONE");

    auto other = makeWindow();
    other->show();
    addGroup(*other->Setup, "TWO");
    other->answers = {QMessageBox::No};
    EXPECT_TRUE(other->close());
    EXPECT_EQ(groupCodeInFile(path), "ONE");
}

TEST_F(UiTest, SaveAtShutdownSavesANamedSetupWithoutAsking) {
    const std::string path = dir.file("shutdown.xml");
    auto w = makeWindow();
    w->show();
    addGroup(*w->Setup, "SHU");
    options::SetupName = path;
    EXPECT_TRUE(w->close());
    EXPECT_TRUE(w->questions.empty());
    EXPECT_EQ(groupCodeInFile(path), "SHU");
    EXPECT_EQ(storedSetupName(), path);
}

TEST_F(UiTest, SaveAtShutdownAsksForAnUntitledModifiedSetup) {
    auto w = makeWindow();
    w->show();
    addGroup(*w->Setup, "UNT");
    // Yes, then the file dialog cancelled: nothing was saved, so the window stays.
    w->answers = {QMessageBox::Yes};
    EXPECT_FALSE(w->close());
    EXPECT_EQ(w->saveDialogs.size(), 1u);

    w->answers = {QMessageBox::Yes};
    w->saveNames = {QString::fromStdString(dir.file("kept"))};
    EXPECT_TRUE(w->close());
    EXPECT_EQ(groupCodeInFile(dir.file("kept.xml")), "UNT");
    EXPECT_FALSE(testsupport::fileExists(dir.file("kept.bak")));
}

TEST_F(UiTest, FailedSaveAtShutdownKeepsTheWindowOpen) {
    const std::string path = dir.file("nofolder/setup.xml");
    auto w = makeWindow();
    w->show();
    addGroup(*w->Setup, "ERR");
    options::SetupName = path;
    EXPECT_FALSE(w->close());
    EXPECT_EQ(w->messages.size(), 1u);
    options::SaveAtShutdown = false;
    w->answers = {QMessageBox::No};
    EXPECT_TRUE(w->close());
}

TEST_F(UiTest, AboutNamesProductAndVersionAndDroppedFilesAreListed) {
    auto w = makeWindow();
    w->acHelpAbout->trigger();
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "Vantrel v1.0.5");

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/tmp/one.txt"), QUrl::fromLocalFile("/tmp/two.xml")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.get(), &drop);
    ASSERT_EQ(w->messages.size(), 2u);
    EXPECT_EQ(w->messages[1], "/tmp/one.txt\n/tmp/two.xml");
    EXPECT_TRUE(w->acceptDrops());
}

TEST_F(UiTest, CommandStatesFollowTheSelection) {
    auto w = makeWindow();
    EXPECT_FALSE(w->acGroupDelete->isEnabled());
    EXPECT_FALSE(w->acMessageNew->isEnabled());
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com", "b@example.com"});
    w->Setup->SelectGroup(g);
    EXPECT_EQ(w->SelGroup.get(), g);
    for (QAction* a : {w->acGroupDelete, w->acViewContacts, w->acViewMessages, w->acGroupCopy, w->acContactNew,
                       w->acImportTxt, w->acImportOE, w->acMessageNew, w->acParserNew})
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_FALSE(w->acContactDelete->isEnabled());
    EXPECT_FALSE(w->acSendManual->isEnabled());
    w->lvContacts->selectRow(1);
    EXPECT_TRUE(w->acContactDelete->isEnabled());
    EXPECT_TRUE(w->acSendManual->isEnabled());

    TcvMessage* m = addMessage(*g, "MSG", TcvMessageMode::OneTime);
    g->SelectMessage(m);
    EXPECT_TRUE(w->acMessageStart->isEnabled());
    EXPECT_FALSE(w->acMessageResend->isEnabled());
    m->Status = TcvMessageStatus::Sent;
    w->RefreshCommands();
    EXPECT_FALSE(w->acMessageStart->isEnabled());
    EXPECT_TRUE(w->acMessageResend->isEnabled());

    // A deleted group is no longer current.
    w->Setup->DeleteGroup(0);
    w->RefreshCommands();
    EXPECT_EQ(w->SelGroup.get(), nullptr);
    EXPECT_FALSE(w->acGroupDelete->isEnabled());

    w->acViewMessages->setEnabled(true);
    w->acViewMessages->trigger();
    EXPECT_EQ(w->pcMain->currentWidget(), w->tsMessages);
    w->acContactSearch->setChecked(true);
    EXPECT_FALSE(w->edSearch->isHidden());
}
