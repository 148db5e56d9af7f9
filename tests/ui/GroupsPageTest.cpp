#include "UiTestSupport.h"

#include "ui/GroupsPage.h"
#include "ui/cvClipboard.h"
#include "ui/cvPageTools.h"
#include "ui/cvReportModel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

namespace {

TcvParser* addParser(TcvGroup& group, const std::string& name, TcvAccount* account) {
    auto* parser = new TcvParser;
    parser->Name = name;
    parser->Account = account;
    group.AddParser(parser);
    return parser;
}

}  // namespace

TEST_F(UiTest, GroupsListShowsItsColumnsAndSelectingARowMakesTheGroupCurrentEverywhere) {
    auto w = makeWindow();
    TcvAccount* account = addAccount(*w->Setup, "Main");
    TcvGroup* first = addGroup(*w->Setup, "ONE", {"a@example.com", "b@example.com"});
    first->Account = account;
    addMessage(*first, "WEL", TcvMessageMode::OneTime);
    TcvGroup* second = addGroup(*w->Setup, "TWO", {"c@example.com"});
    w->Setup->Modified = false;
    QAbstractItemModel* model = w->lvGroups->model();
    ASSERT_EQ(model->columnCount(), 4);
    const QStringList headers = {"Name", "Account", "Contacts", "Messages"};
    const int widths[] = {120, 120, 70, 70};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(model->headerData(i, Qt::Horizontal).toString(), headers[i]);
        EXPECT_EQ(w->lvGroups->columnWidth(i), widths[i]);
    }
    EXPECT_EQ(w->lvGroups->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(model->data(model->index(0, 1)).toString(), "Main");
    EXPECT_EQ(model->data(model->index(0, 2)).toString(), "2");
    EXPECT_EQ(model->data(model->index(0, 3)).toString(), "1");
    EXPECT_EQ(model->data(model->index(1, 1)).toString(), "None selected");
    EXPECT_FALSE(model->data(model->index(0, 0), Qt::DecorationRole).isNull());
    EXPECT_EQ(w->pnlGroupsTitle->text(), " 2 groups");
    EXPECT_EQ(w->pnlContactsTitle->text(), " Select group first");

    w->lvGroups->selectRow(1);
    EXPECT_EQ(w->SelGroup.get(), second);
    EXPECT_EQ(w->pnlGroupsTitle->text(), " 2 groups [TWO group]");
    EXPECT_EQ(w->pnlContactsTitle->text(), " 1 contacts in group TWO group ");
    EXPECT_EQ(w->GroupsPage->edGroupName->text(), "TWO group");
    EXPECT_EQ(w->GroupsPage->edGroupCode->text(), "TWO");
    EXPECT_EQ(w->GroupsPage->cbbGroupAccount->currentText(), "None selected");
    w->lvGroups->selectRow(0);
    EXPECT_EQ(w->SelGroup.get(), first);
    EXPECT_EQ(w->GroupsPage->cbbGroupAccount->currentText(), "Main");
    EXPECT_EQ(w->lvContacts->model()->rowCount(), 2);
    EXPECT_FALSE(w->Setup->Modified);

    // Compare needs exactly two selected rows.
    EXPECT_FALSE(w->acGroupCompare->isEnabled());
    selectRows(w->lvGroups, {0, 1});
    EXPECT_TRUE(w->acGroupCompare->isEnabled());
    EXPECT_EQ(w->SelGroup.get(), second);

    // A double click shows the group's contacts.
    w->resize(800, 600);
    w->show();
    const QRect cell = w->lvGroups->visualRect(model->index(0, 0));
    QTest::mouseClick(w->lvGroups->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(w->lvGroups->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(w->pcMain->currentWidget(), w->tsContacts);
}

TEST_F(UiTest, NewGroupsAreNumberedAndGetAFreeCode) {
    auto w = makeWindow();
    addGroup(*w->Setup, "NEW");
    addGroup(*w->Setup, "OTH");
    w->Setup->Modified = false;
    w->acGroupNew->trigger();
    ASSERT_EQ(w->Setup->GroupCount(), 3);
    TcvGroup* added = w->Setup->Groups(2);
    EXPECT_EQ(added->Name, "NewGroup3");
    EXPECT_EQ(added->Code, "NE2");
    EXPECT_EQ(w->SelGroup.get(), added);
    EXPECT_TRUE(w->lvGroups->selectionModel()->isRowSelected(2, {}));
    EXPECT_TRUE(w->Setup->Modified);
    EXPECT_EQ(w->pnlGroupsTitle->text(), " 3 groups [NewGroup3]");
    w->acGroupNew->trigger();
    EXPECT_EQ(w->Setup->Groups(3)->Name, "NewGroup4");
    EXPECT_EQ(w->Setup->Groups(3)->Code, "NE3");
}

TEST_F(UiTest, GroupCodeAndNameFieldsApplyTheCodeRuleOnLeaving) {
    auto w = makeWindow();
    addGroup(*w->Setup, "ABC");
    TcvGroup* g = addGroup(*w->Setup, "XYZ");
    w->Setup->SelectGroup(g);
    w->Setup->Modified = false;
    TGroupsPage& page = *w->GroupsPage;
    EXPECT_EQ(page.edGroupCode->maxLength(), 3);

    // Another group's code, typed in lower case, gets a numbered variant.
    typeAndLeave(page.edGroupCode, "abc");
    EXPECT_EQ(g->Code, "AB2");
    EXPECT_EQ(page.edGroupCode->text(), "AB2");
    EXPECT_TRUE(w->Setup->Modified);

    // An empty code is only kept when no other group exists.
    typeAndLeave(page.edGroupCode, "");
    EXPECT_EQ(g->Code, "2");

    typeAndLeave(page.edGroupName, "Customers");
    EXPECT_EQ(g->Name, "Customers");
    EXPECT_EQ(g->Code, "CUS");
    EXPECT_EQ(page.edGroupCode->text(), "CUS");
    EXPECT_EQ(w->lvGroups->model()->data(w->lvGroups->model()->index(1, 0)).toString(), "Customers");

    // F2 renames in place, with the same code rule.
    w->resize(800, 600);
    w->show();
    w->lvGroups->setFocus();
    QTest::keyClick(w->lvGroups, Qt::Key_F2);
    auto* editor = w->lvGroups->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("Members");
    QTest::keyClick(editor, Qt::Key_Return);
    // The list commits an in-place edit once the key event is done.
    QCoreApplication::processEvents();
    EXPECT_EQ(g->Name, "Members");
    EXPECT_EQ(g->Code, "MEM");

    // The purpose is written without marking the setup modified.
    w->Setup->Modified = false;
    page.mmGroupPurpose->setPlainText("Line one\nLine two");
    leave(page.mmGroupPurpose);
    EXPECT_EQ(g->Purpose, "Line one\r\nLine two");
    EXPECT_FALSE(w->Setup->Modified);
}

TEST_F(UiTest, GroupAccountComboListsSendingAccountsAndMatchesTheNameOnLeaving) {
    auto w = makeWindow();
    TcvAccount* first = addAccount(*w->Setup, "Shop");
    addAccount(*w->Setup, "Inbox only", false);
    TcvAccount* last = addAccount(*w->Setup, "Shop");
    TcvAccount* other = addAccount(*w->Setup, "Other");
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    w->Setup->SelectGroup(g);
    w->Setup->Modified = false;
    TDropDownCombo* combo = w->GroupsPage->cbbGroupAccount;
    combo->OnDropDown();
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), "Shop");
    EXPECT_EQ(combo->itemText(2), "Other");

    // Of two accounts with that name the last one wins.
    combo->setEditText("Shop");
    leave(combo);
    EXPECT_EQ(g->Account, last);
    EXPECT_NE(g->Account, first);
    combo->setEditText("Other");
    leave(combo);
    EXPECT_EQ(g->Account, other);
    // A name that no account has keeps the account.
    combo->setEditText("Nobody");
    leave(combo);
    EXPECT_EQ(g->Account, other);
    EXPECT_EQ(combo->currentText(), "Other");
    EXPECT_FALSE(w->Setup->Modified);
}

TEST_F(UiTest, DeletingGroupsSelectsTheNextOneAndTheLastLeavesNoneCurrent) {
    auto w = makeWindow();
    addGroup(*w->Setup, "ONE", {"a@example.com"});
    TcvGroup* two = addGroup(*w->Setup, "TWO", {"b@example.com"});
    TcvGroup* three = addGroup(*w->Setup, "THR");
    w->Setup->SelectGroup(two);
    w->acGroupDelete->trigger();
    EXPECT_EQ(w->Setup->GroupCount(), 2);
    EXPECT_EQ(w->SelGroup.get(), three);
    EXPECT_TRUE(w->lvGroups->selectionModel()->isRowSelected(1, {}));
    EXPECT_EQ(w->Filter.Count(), 0);

    w->acGroupDelete->trigger();
    EXPECT_EQ(w->Setup->GroupCount(), 1);
    EXPECT_EQ(w->SelGroup.get(), nullptr);
    EXPECT_EQ(w->pnlContactsTitle->text(), " Select group first");
    EXPECT_EQ(w->lvContacts->model()->rowCount(), 0);
    EXPECT_FALSE(w->lvGroups->selectionModel()->hasSelection());
    EXPECT_TRUE(w->GroupsPage->edGroupName->text().isEmpty());
    EXPECT_FALSE(w->acGroupDelete->isEnabled());
}

TEST_F(UiTest, CopiedGroupPastesAsASecondGroupWithItsContacts) {
    auto w = makeWindow();
    std::vector<std::string> emails;
    for (int i = 0; i < 100; ++i) emails.push_back("member" + std::to_string(i) + "@example.com");
    TcvGroup* g = addGroup(*w->Setup, "CLU", emails);
    w->Setup->SelectGroup(g);
    w->acGroupCopy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().left(30), QString::fromStdString(g->SaveToString()).left(30));
    EXPECT_TRUE(w->acGroupPaste->isEnabled());
    w->Setup->Modified = false;
    w->acGroupPaste->trigger();
    ASSERT_EQ(w->Setup->GroupCount(), 2);
    TcvGroup* copy = w->Setup->Groups(1);
    EXPECT_EQ(copy->Name, g->Name);
    EXPECT_EQ(copy->Code, "CLU");
    EXPECT_EQ(copy->ContactCount(), 100);
    EXPECT_EQ(w->SelGroup.get(), g);
    EXPECT_TRUE(w->Setup->Modified);
    EXPECT_EQ(w->lvGroups->model()->rowCount(), 2);
}

TEST_F(UiTest, PastedGroupTakesTheAccountsAtItsStoredPositions) {
    TcvSetup source;
    TcvAccount* a1 = addAccount(source, "First");
    TcvAccount* a2 = addAccount(source, "Second");
    TcvGroup* copied = addGroup(source, "SRC");
    copied->Account = a1;
    addParser(*copied, "by second", a2);
    addParser(*copied, "by first", a1);
    const std::string text = copied->SaveToString();

    auto w = makeWindow();
    TcvAccount* only = addAccount(*w->Setup, "Only");
    clipboard::SetText(text);
    w->acGroupPaste->trigger();
    ASSERT_EQ(w->Setup->GroupCount(), 1);
    TcvGroup* pasted = w->Setup->Groups(0);
    EXPECT_EQ(pasted->Account, only);
    ASSERT_EQ(pasted->ParserCount(), 2);
    EXPECT_EQ(pasted->Parsers(0)->Account, nullptr);
    EXPECT_EQ(pasted->Parsers(1)->Account, only);
    EXPECT_EQ(w->SelGroup.get(), nullptr);
}

TEST_F(UiTest, GroupPasteReportsTextThatIsNotXmlAndAddsDefaultsForOtherDocuments) {
    auto w = makeWindow();
    clipboard::SetText("just words <not");
    w->acGroupPaste->trigger();
    EXPECT_EQ(w->Setup->GroupCount(), 0);
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messageIcons[0], QMessageBox::Critical);

    clipboard::SetText("<TcvMessage><Title>x</Title></TcvMessage>");
    w->acGroupPaste->trigger();
    ASSERT_EQ(w->Setup->GroupCount(), 1);
    EXPECT_EQ(w->Setup->Groups(0)->Name, "");
    EXPECT_EQ(w->messages.size(), 1u);
}

TEST_F(UiTest, MessagesAndParsersTravelThroughTheClipboard) {
    auto w = makeWindow();
    TcvAccount* a1 = addAccount(*w->Setup, "First");
    TcvAccount* a2 = addAccount(*w->Setup, "Second");
    TcvGroup* from = addGroup(*w->Setup, "FRM");
    TcvGroup* to = addGroup(*w->Setup, "TO");
    TcvMessage* m = addMessage(*from, "WEL", TcvMessageMode::Triggered, "Welcome");
    m->Status = TcvMessageStatus::Live;
    TcvParser* p = addParser(*from, "Joins", a2);
    w->Setup->SelectGroup(from);
    from->SelectMessage(m);
    from->SelectParser(p);
    w->acMessageCopy->trigger();
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("<TcvMessage>") ||
                QGuiApplication::clipboard()->text().contains("<TcvMessage"));
    w->Setup->SelectGroup(to);
    w->acMessagePaste->trigger();
    w->acMessagePaste->trigger();
    ASSERT_EQ(to->MessageCount(), 2);
    EXPECT_EQ(to->Messages(1)->Title, "Welcome");
    EXPECT_EQ(to->Messages(1)->Code, "WEL");
    EXPECT_EQ(to->Messages(1)->Status, TcvMessageStatus::Live);
    EXPECT_EQ(to->Messages(1)->Mode, TcvMessageMode::Triggered);

    w->Setup->SelectGroup(from);
    from->SelectParser(p);
    w->acParserCopy->trigger();
    w->Setup->SelectGroup(to);
    w->acParserPaste->trigger();
    ASSERT_EQ(to->ParserCount(), 1);
    EXPECT_EQ(to->Parsers(0)->Name, "Joins");
    EXPECT_EQ(to->Parsers(0)->Account, a2);
    EXPECT_NE(to->Parsers(0)->Account, a1);

    // Unreadable text is reported and adds nothing.
    clipboard::SetText("<<<");
    w->acMessagePaste->trigger();
    w->acParserPaste->trigger();
    EXPECT_EQ(to->MessageCount(), 2);
    EXPECT_EQ(to->ParserCount(), 1);
    EXPECT_EQ(w->messages.size(), 2u);
}

TEST_F(UiTest, GroupUnsubscribeAddressIsTakenOnLeavingAndMarksTheSetupModified) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    TcvGroup* other = addGroup(*w->Setup, "OTH");
    w->Setup->SelectGroup(g);
    w->Setup->Modified = false;
    QLineEdit* field = w->GroupsPage->edGroupUnsubscribe;
    typeAndLeave(field, "  leave@list.example  ");
    EXPECT_EQ(g->UnsubscribeAddress, "leave@list.example");
    EXPECT_TRUE(w->Setup->Modified);
    w->Setup->SelectGroup(other);
    EXPECT_EQ(field->text(), "");
    w->Setup->SelectGroup(g);
    EXPECT_EQ(field->text(), "leave@list.example");
}
