#include "UiTestSupport.h"

#include "ui/VariablesPage.h"
#include "ui/cvReportModel.h"

#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>

namespace {

QStringList contactHeaders(TfrmMain& w) {
    QStringList headers;
    for (int i = 0; i < w.lvContacts->model()->columnCount(); ++i)
        headers << w.lvContacts->model()->headerData(i, Qt::Horizontal).toString();
    return headers.mid(6);
}

QStringList rowTitles(const QListWidget* list) {
    QStringList titles;
    for (int i = 0; i < list->count(); ++i) titles << list->item(i)->text();
    return titles;
}

}  // namespace

TEST_F(UiTest, FieldListShowsTitlesAndMarksAndEditsReachTheContactColumns) {
    auto w = makeWindow();
    TVariablesPage& page = *w->VariablesPage;
    EXPECT_EQ(w->pnlVariablesTitle->text(), " Select group first");
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com"});
    addField(*g, "City");
    addField(*g, "Hidden", false);
    w->Setup->SelectGroup(g);
    EXPECT_EQ(w->pnlVariablesTitle->text(), " Variables in group GRP group");
    ASSERT_EQ(rowTitles(page.clbFieldDefs), QStringList({"City", "Hidden"}));
    EXPECT_EQ(page.clbFieldDefs->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(page.clbFieldDefs->item(1)->checkState(), Qt::Unchecked);
    EXPECT_EQ(contactHeaders(*w), QStringList({"City"}));
    QListWidgetItem* firstRow = page.clbFieldDefs->item(0);

    w->Setup->Modified = false;
    w->acFieldNew->trigger();
    ASSERT_EQ(g->FieldDefCount(), 3);
    EXPECT_EQ(g->FieldDefs(2)->Title, "NewField3");
    EXPECT_TRUE(g->FieldDefs(2)->Checked);
    EXPECT_TRUE(w->Setup->Modified);
    EXPECT_EQ(rowTitles(page.clbFieldDefs), QStringList({"City", "Hidden", "NewField3"}));
    // Rows are reused, not rebuilt.
    EXPECT_EQ(page.clbFieldDefs->item(0), firstRow);
    EXPECT_EQ(contactHeaders(*w), QStringList({"City", "NewField3"}));

    // Toggling a mark shows or hides the field's column without marking the setup.
    w->Setup->Modified = false;
    page.clbFieldDefs->item(1)->setCheckState(Qt::Checked);
    page.clbFieldDefs->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(g->FieldDefs(1)->Checked);
    EXPECT_FALSE(g->FieldDefs(0)->Checked);
    EXPECT_EQ(contactHeaders(*w), QStringList({"Hidden", "NewField3"}));

    page.clbFieldDefs->setCurrentRow(2);
    EXPECT_EQ(w->SelFieldDef.get(), g->FieldDefs(2));
    EXPECT_EQ(page.edFieldTitle->text(), "NewField3");
    EXPECT_TRUE(w->acFieldUp->isEnabled());
    EXPECT_FALSE(w->acFieldDown->isEnabled());
    typeAndLeave(page.edFieldTitle, "Phone");
    EXPECT_EQ(g->FieldDefs(2)->Title, "Phone");
    EXPECT_EQ(page.clbFieldDefs->item(2)->text(), "Phone");
    EXPECT_EQ(contactHeaders(*w), QStringList({"Hidden", "Phone"}));
    EXPECT_FALSE(w->Setup->Modified);
    EXPECT_EQ(page.clbFieldDefs->currentRow(), 2);

    // In another group the row that stayed highlighted becomes that group's field when clicked.
    TcvGroup* other = addGroup(*w->Setup, "OTH");
    addField(*other, "Zip");
    addField(*other, "Town");
    page.clbFieldDefs->setCurrentRow(1);
    w->Setup->SelectGroup(other);
    EXPECT_EQ(w->SelFieldDef.get(), nullptr);
    ASSERT_EQ(page.clbFieldDefs->currentRow(), 1);
    w->pcMain->setCurrentWidget(w->tsVariables);
    w->show();
    QListWidgetItem* town = page.clbFieldDefs->item(1);
    QTest::mouseClick(page.clbFieldDefs->viewport(), Qt::LeftButton, {},
                      page.clbFieldDefs->visualItemRect(town).center());
    EXPECT_EQ(w->SelFieldDef.get(), other->FieldDefs(1));
    EXPECT_EQ(page.edFieldTitle->text(), "Town");
}

TEST_F(UiTest, MovingAndDeletingFieldsCarryTheContactsValues) {
    auto w = makeWindow();
    TVariablesPage& page = *w->VariablesPage;
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"one@example.com", "all@example.com", "none@example.com"});
    for (const char* title : {"A", "B", "C"}) addField(*g, title);
    TcvContact* one = g->Contacts(0);
    TcvContact* all = g->Contacts(1);
    TcvContact* none = g->Contacts(2);
    one->SetCustomField(0, "first");
    for (int i = 0; i < 3; ++i) all->SetCustomField(i, std::string(1, static_cast<char>('p' + i)));
    w->Setup->SelectGroup(g);

    // The second field moved up: a contact with only the first value gets it as its second.
    w->Setup->Modified = false;
    page.clbFieldDefs->setCurrentRow(1);
    w->acFieldUp->trigger();
    EXPECT_TRUE(w->Setup->Modified);
    EXPECT_EQ(g->FieldDefs(0)->Title, "B");
    EXPECT_EQ(g->FieldDefs(1)->Title, "A");
    EXPECT_EQ(one->CustomField(0), "");
    EXPECT_EQ(one->CustomField(1), "first");
    EXPECT_EQ(all->CustomField(0), "q");
    EXPECT_EQ(all->CustomField(1), "p");
    EXPECT_FALSE(none->HasCustomFields() && !none->CustomField(0).empty());
    EXPECT_EQ(rowTitles(page.clbFieldDefs), QStringList({"B", "A", "C"}));
    EXPECT_EQ(page.clbFieldDefs->currentRow(), 0);
    EXPECT_EQ(contactHeaders(*w), QStringList({"B", "A", "C"}));
    EXPECT_FALSE(w->acFieldUp->isEnabled());

    page.clbFieldDefs->setCurrentRow(1);
    w->acFieldDown->trigger();
    EXPECT_EQ(rowTitles(page.clbFieldDefs), QStringList({"B", "C", "A"}));
    EXPECT_EQ(page.clbFieldDefs->currentRow(), 2);
    EXPECT_EQ(all->CustomField(1), "r");
    EXPECT_EQ(all->CustomField(2), "p");
    EXPECT_EQ(one->CustomField(2), "first");

    // Deleting the first field moves every later value up one.
    w->Setup->Modified = false;
    page.clbFieldDefs->setCurrentRow(0);
    w->acFieldDelete->trigger();
    EXPECT_TRUE(w->Setup->Modified);
    EXPECT_EQ(w->SelFieldDef.get(), nullptr);
    ASSERT_EQ(g->FieldDefCount(), 2);
    EXPECT_EQ(rowTitles(page.clbFieldDefs), QStringList({"C", "A"}));
    EXPECT_EQ(all->CustomField(0), "r");
    EXPECT_EQ(all->CustomField(1), "p");
    EXPECT_EQ(one->CustomField(1), "first");
    EXPECT_EQ(contactHeaders(*w), QStringList({"C", "A"}));
}
