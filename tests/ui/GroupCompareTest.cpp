#include "UiTestSupport.h"

#include "ui/frmGroupCompare.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace {

QStringList items(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    return texts;
}

// Two groups in the first two rows, both selected, and the comparison run.
void compare(TestWindow& w) {
    selectRows(w.lvGroups, {0, 1});
    ASSERT_TRUE(w.acGroupCompare->isEnabled());
    w.acGroupCompare->trigger();
}

}  // namespace

TEST_F(UiTest, GroupCompareShowsUniqueAndSharedAddressesAndDeletesEveryContactOfThemFromOneGroup) {
    auto w = makeWindow();
    TcvGroup* one = addGroup(*w->Setup, "ONE", {"ann@example.com", "bob@example.com", "Ann@Example.com"});
    TcvGroup* two = addGroup(*w->Setup, "TWO", {"ANN@example.com", "cy@example.org", "dee@example.org"});
    w->Setup->SelectGroup(one);
    w->Setup->Modified = false;
    bool checked = false;
    w->onDialog = [&](QDialog& dialog) {
        auto* window = dynamic_cast<TfmGroupCompare*>(&dialog);
        if (!window) return int(QDialog::Rejected);
        EXPECT_EQ(window->windowTitle(), "Compare groups and remove non-unique contacts");
        EXPECT_EQ(window->size(), QSize(551, 280));
        EXPECT_EQ(window->gbGroup1->title(), "Group 1: ONE group");
        EXPECT_EQ(window->gbGroup2->title(), "Group 2: TWO group");
        // Every contact counts in the total, duplicates included; a shared address is listed once.
        EXPECT_EQ(window->lbGroup1Total->text(), "3 contacts in total");
        EXPECT_EQ(window->lbGroup1Unique->text(), "1 unique contacts:");
        EXPECT_EQ(items(window->lbGroup1), QStringList{"bob@example.com"});
        EXPECT_EQ(window->lbGroup2Total->text(), "3 contacts in total");
        EXPECT_EQ(window->lbGroup2Unique->text(), "2 unique contacts:");
        EXPECT_EQ(items(window->lbGroup2), (QStringList{"cy@example.org", "dee@example.org"}));
        EXPECT_EQ(window->lbExisting->text(), "Existing in both (1):");
        EXPECT_EQ(items(window->lbCombine).join(",").toLower(), "ann@example.com");
        EXPECT_TRUE(window->btnCancel->isDefault());
        EXPECT_EQ(window->btnGroup1Delete->text(), "Delete Non-Unique");
        checked = true;
        w->answers = {QMessageBox::Yes};
        window->btnGroup1Delete->click();
        return window->result();
    };
    compare(*w);
    EXPECT_TRUE(checked);
    ASSERT_EQ(w->questions.size(), 1u);
    EXPECT_EQ(w->questions[0].text, "Warning! You are about to delete 1 contacts from group ONE group.\n\n"
                                    "Are you sure you want to proceed?");
    EXPECT_EQ(w->questions[0].icon, QMessageBox::Warning);
    EXPECT_EQ(w->questions[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    // Both contacts of the address went, while the message counts the address.
    EXPECT_EQ(w->messages, std::vector<QString>{"1 contacts are deleted."});
    ASSERT_EQ(one->ContactCount(), 1);
    EXPECT_EQ(one->Contacts(0)->Email, "bob@example.com");
    EXPECT_EQ(two->ContactCount(), 3);
    EXPECT_NE(logText().find("Delete ONE --- ----- ann@example.com"), std::string::npos);
    EXPECT_NE(logText().find("Delete ONE --- ----- Ann@Example.com"), std::string::npos);
    // The pages show the group without the deleted contacts.
    EXPECT_TRUE(w->Setup->Modified);
    EXPECT_EQ(w->lvGroups->model()->data(w->lvGroups->model()->index(0, 2)).toString(), "1");
    w->Setup->SelectGroup(one);
    EXPECT_EQ(w->lvContacts->model()->rowCount(), 1);
}

TEST_F(UiTest, GroupCompareDeletesNothingUnlessTheQuestionIsAnsweredYes) {
    auto w = makeWindow();
    TcvGroup* one = addGroup(*w->Setup, "ONE", {"ann@example.com"});
    TcvGroup* two = addGroup(*w->Setup, "TWO", {"ann@example.com", "bob@example.com"});
    for (auto answer : {QMessageBox::No, QMessageBox::Cancel}) {
        w->questions.clear();
        w->answers = {answer};
        int result = -1;
        w->onDialog = [&](QDialog& dialog) {
            auto* window = dynamic_cast<TfmGroupCompare*>(&dialog);
            if (!window) return int(QDialog::Rejected);
            window->btnGroup2Delete->click();
            result = window->result();
            return result;
        };
        compare(*w);
        ASSERT_EQ(w->questions.size(), 1u);
        EXPECT_TRUE(w->questions[0].text.contains("delete 1 contacts from group TWO group"));
        // The window closed after the button all the same.
        EXPECT_EQ(result, int(QDialog::Accepted));
    }
    EXPECT_TRUE(w->messages.empty());
    EXPECT_EQ(one->ContactCount(), 1);
    EXPECT_EQ(two->ContactCount(), 2);
}

TEST_F(UiTest, GroupsWithoutSharedAddressesGetOnlyTheMessage) {
    auto w = makeWindow();
    addGroup(*w->Setup, "ONE", {"ann@example.com"});
    addGroup(*w->Setup, "TWO", {"ann@example.org"});
    compare(*w);
    EXPECT_EQ(w->dialogsShown, 0);
    EXPECT_EQ(w->messages, std::vector<QString>{"There are no non-unique contacts between groups ONE group and TWO group"});
}
