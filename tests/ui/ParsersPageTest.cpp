#include "UiTestSupport.h"

#include "ui/ParsersPage.h"
#include "ui/cvPageTools.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRadioButton>

namespace {

// A parser whose mailbox checks are counted instead of made.
class CountingParser : public TcvParser {
public:
    void CheckMailbox() override {
        ++checks;
        LastCheck = platform::now();
    }
    int checks = 0;
};

TcvAccount* addReceiver(TcvSetup& setup, const std::string& name) {
    TcvAccount* account = addAccount(setup, name, false);
    account->UseForReceiving = true;
    return account;
}

TcvParser* addParser(TcvGroup& group, const std::string& name, TcvAccount* account, TcvParser* parser = nullptr) {
    if (!parser) parser = new TcvParser;
    parser->Name = name;
    parser->Account = account;
    group.AddParser(parser);
    return parser;
}

QString cell(TfrmMain& w, int row, int column) {
    return w.lvParsers->model()->data(w.lvParsers->model()->index(row, column)).toString();
}

}  // namespace

TEST_F(UiTest, ParserRowsDetailsAndNewAndDeleteCommands) {
    auto w = makeWindow();
    TParsersPage& page = *w->ParsersPage;
    // Before any parser fills them, both word fields propose the usual words.
    EXPECT_EQ(page.edTriggerSubject->text(), "remove;unsubscribe");
    EXPECT_EQ(page.edTriggerBody->text(), "remove;unsubscribe");
    EXPECT_EQ(page.cbbParserAction->count(), 9);
    TcvAccount* inbox = addReceiver(*w->Setup, "Inbox");
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    TcvParser* joins = addParser(*g, "Joins", inbox);
    joins->Started = true;
    joins->Action = TcvParserAction::Unsubscribe;
    joins->ContactSource = TcvContactSource::DeliveryReport;
    joins->CountTemporary = true;
    joins->TriggerSubj = true;
    joins->TriggerSubjWords = "leave";
    joins->DeleteMethod = 2;
    joins->Preprocessor = "/opt/plugins/orders.so";
    TcvParser* odd = addParser(*g, "Odd", nullptr);
    odd->Action = static_cast<TcvParserAction>(-1);
    w->Setup->SelectGroup(g);

    QAbstractItemModel* model = w->lvParsers->model();
    ASSERT_EQ(model->columnCount(), 4);
    const QStringList headers = {"Name", "Source", "Status", "Action"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(model->headerData(i, Qt::Horizontal).toString(), headers[i]);
    EXPECT_EQ(w->lvParsers->columnWidth(0), 100);
    EXPECT_EQ(w->lvParsers->columnWidth(1), 80);
    EXPECT_EQ(cell(*w, 0, 1), "Account Inbox");
    EXPECT_EQ(cell(*w, 0, 2), "Started");
    EXPECT_EQ(cell(*w, 0, 3), ParserActionNames[2]);
    EXPECT_EQ(cell(*w, 1, 1), "None");
    EXPECT_EQ(cell(*w, 1, 2), "Stopped");
    EXPECT_EQ(cell(*w, 1, 3), "");
    EXPECT_EQ(w->pnlParsersTitle->text(), " 2 parsers in group GRP group ");
    // Without a parser the details are empty, the words too.
    EXPECT_EQ(page.edTriggerSubject->text(), "");
    EXPECT_TRUE(page.rbContactFromSender->isChecked());

    w->lvParsers->selectRow(0);
    EXPECT_EQ(w->SelParser.get(), joins);
    EXPECT_EQ(w->pnlParsersTitle->text(), " 2 parsers in group GRP group [Joins]");
    EXPECT_EQ(page.cbbParserName->currentText(), "Joins");
    EXPECT_EQ(page.cbbParserAccount->currentText(), "Inbox");
    EXPECT_EQ(page.cbbParserAction->currentIndex(), 2);
    EXPECT_TRUE(page.rbContactFromReport->isChecked());
    EXPECT_TRUE(page.chbCountTemporary->isEnabled());
    EXPECT_TRUE(page.chbCountTemporary->isChecked());
    EXPECT_TRUE(page.chbTriggerSubject->isChecked());
    EXPECT_EQ(page.edTriggerSubject->text(), "leave");
    EXPECT_TRUE(page.rbPutInLostFound->isChecked());
    EXPECT_EQ(page.edPreprocessor->text(), "orders.so");
    EXPECT_FALSE(w->acParserStart->isEnabled());
    EXPECT_TRUE(w->acParserStop->isEnabled());

    w->Setup->Modified = false;
    w->acParserNew->trigger();
    ASSERT_EQ(g->ParserCount(), 3);
    EXPECT_EQ(g->Parsers(2)->Name, "NewParser3");
    EXPECT_EQ(w->SelParser.get(), g->Parsers(2));
    EXPECT_TRUE(w->Setup->Modified);
    EXPECT_TRUE(w->lvParsers->selectionModel()->isRowSelected(2, {}));
    // The delete method is not a detail a new parser shows: the buttons keep their state.
    EXPECT_EQ(page.cbbParserAccount->currentText(), "None");

    w->lvParsers->selectRow(0);
    w->acParserDelete->trigger();
    ASSERT_EQ(g->ParserCount(), 2);
    EXPECT_EQ(w->SelParser.get(), odd);
    w->lvParsers->selectRow(1);
    w->acParserDelete->trigger();
    EXPECT_EQ(w->SelParser.get(), nullptr);
    EXPECT_EQ(cell(*w, 0, 0), "Odd");
}

TEST_F(UiTest, ParserDetailsAreWrittenWithoutMarkingTheSetup) {
    auto w = makeWindow();
    TParsersPage& page = *w->ParsersPage;
    addAccount(*w->Setup, "Out");
    TcvAccount* first = addReceiver(*w->Setup, "Inbox");
    TcvAccount* second = addReceiver(*w->Setup, "Inbox");
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    TcvParser* p = addParser(*g, "Joins", nullptr);
    w->Setup->SelectGroup(g);
    g->SelectParser(p);
    w->Setup->Modified = false;

    page.cbbParserAccount->OnDropDown();
    QStringList items;
    for (int i = 0; i < page.cbbParserAccount->count(); ++i) items << page.cbbParserAccount->itemText(i);
    EXPECT_EQ(items, QStringList({"None", "Inbox", "Inbox"}));
    page.cbbParserAccount->setEditText("Inbox");
    leave(page.cbbParserAccount);
    EXPECT_EQ(p->Account, second);
    EXPECT_NE(p->Account, first);
    // A sending-only account matches by name too; "None" clears.
    page.cbbParserAccount->setEditText("Out");
    leave(page.cbbParserAccount);
    EXPECT_EQ(p->Account, w->Setup->Accounts(0));
    page.cbbParserAccount->setEditText("None");
    leave(page.cbbParserAccount);
    EXPECT_EQ(p->Account, nullptr);

    page.cbbParserAction->setCurrentIndex(4);
    emit page.cbbParserAction->activated(4);
    EXPECT_EQ(p->Action, TcvParserAction::Delete);
    page.rbContactFromEmail->click();
    EXPECT_EQ(p->ContactSource, TcvContactSource::EmailVar);
    EXPECT_FALSE(page.chbCountTemporary->isEnabled());
    page.rbContactAnyEmail->click();
    EXPECT_EQ(p->ContactSource, TcvContactSource::AnyEmail);
    page.rbContactFromReport->click();
    EXPECT_EQ(p->ContactSource, TcvContactSource::DeliveryReport);
    ASSERT_TRUE(page.chbCountTemporary->isEnabled());
    page.chbCountTemporary->click();
    EXPECT_TRUE(p->CountTemporary);
    page.chbParserImport->click();
    EXPECT_TRUE(p->ImportVars);
    page.chbTriggerSubject->click();
    page.chbTriggerBody->click();
    EXPECT_TRUE(p->TriggerSubj);
    EXPECT_TRUE(p->TriggerBody);
    typeAndLeave(page.edTriggerSubject, "join;subscribe");
    typeAndLeave(page.edTriggerBody, "yes");
    EXPECT_EQ(p->TriggerSubjWords, "join;subscribe");
    EXPECT_EQ(p->TriggerBodyWords, "yes");
    page.rbRemoveFromServer->click();
    EXPECT_EQ(p->DeleteMethod, 1);
    page.rbLeaveOnServer->click();
    EXPECT_EQ(p->DeleteMethod, 0);
    EXPECT_FALSE(w->Setup->Modified);

    page.cbbParserName->setEditText("Leavers");
    leave(page.cbbParserName);
    EXPECT_EQ(p->Name, "Leavers");
    EXPECT_TRUE(w->Setup->Modified);
    EXPECT_EQ(cell(*w, 0, 0), "Leavers");
}

TEST_F(UiTest, AStoppedAndRestartedParserIsPolledAtTheNextTick) {
    auto w = makeWindow();
    TcvAccount* inbox = addReceiver(*w->Setup, "Inbox");
    inbox->CheckInterval = 3600;
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    auto* p = static_cast<CountingParser*>(addParser(*g, "Joins", inbox, new CountingParser));
    p->Started = true;
    w->Setup->SelectGroup(g);
    g->SelectParser(p);
    w->tmMailerTimer();
    ASSERT_EQ(p->checks, 1);
    w->tmMailerTimer();
    EXPECT_EQ(p->checks, 1) << "checked again within its interval";

    w->acParserStop->trigger();
    EXPECT_FALSE(p->Started);
    EXPECT_EQ(p->LastCheck, 0);
    EXPECT_EQ(cell(*w, 0, 2), "Stopped");
    EXPECT_TRUE(w->acParserStart->isEnabled());
    w->tmMailerTimer();
    EXPECT_EQ(p->checks, 1);
    w->acParserStart->trigger();
    EXPECT_TRUE(p->Started);
    EXPECT_EQ(cell(*w, 0, 2), "Started");
    w->tmMailerTimer();
    EXPECT_EQ(p->checks, 2);
}

TEST_F(UiTest, ChoosingAPreprocessorStoresAnExistingFileAndAlwaysAsksAboutItsFields) {
    auto w = makeWindow();
    TParsersPage& page = *w->ParsersPage;
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    TcvParser* p = addParser(*g, "Orders", nullptr);
    p->Preprocessor = "/old/place/old.so";
    w->Setup->SelectGroup(g);
    g->SelectParser(p);

    // Cancelled: nothing changes and nothing is asked.
    page.btnPreprocessor->click();
    ASSERT_EQ(w->openDialogs.size(), 1u);
    EXPECT_EQ(w->openDialogs[0].title, "Select a Preprocessor (DLL)");
    EXPECT_TRUE(w->openDialogs[0].filter.contains("*.so")) << w->openDialogs[0].filter.toStdString();
    EXPECT_EQ(p->Preprocessor, "/old/place/old.so");
    EXPECT_TRUE(w->questions.empty());

    // A file that is not there clears the path, and the question still comes.
    w->openNames.push_back(QString::fromStdString(dir.file("missing.so")));
    w->answers.push_back(QMessageBox::Yes);
    page.btnPreprocessor->click();
    EXPECT_EQ(p->Preprocessor, "");
    EXPECT_EQ(page.edPreprocessor->text(), "");
    ASSERT_EQ(w->questions.size(), 1u);
    EXPECT_EQ(w->questions[0].text, "Do you also want to add the processors additional fields?");
    EXPECT_EQ(g->FieldDefCount(), 0);

    // An existing file is stored by its full path and accepted on this computer.
    const std::string path = dir.file("plugin.so");
    {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a library");
    }
    w->openNames.push_back(QString::fromStdString(path));
    w->answers.push_back(QMessageBox::No);
    page.btnPreprocessor->click();
    EXPECT_EQ(p->Preprocessor, QDir::cleanPath(QString::fromStdString(path)).toStdString());
    EXPECT_TRUE(PreprocessorAccepted(p->Preprocessor));
    EXPECT_EQ(page.edPreprocessor->text(), "plugin.so");
    EXPECT_EQ(w->questions.size(), 2u);
    EXPECT_EQ(g->FieldDefCount(), 0);
}
