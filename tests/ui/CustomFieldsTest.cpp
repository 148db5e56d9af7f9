#include "UiTestSupport.h"

#include "ui/frmCustomFields.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>

namespace {

// A group with the fields "Town" and "Shoe size" (and more when asked) and three contacts.
TcvGroup* fieldGroup(TcvSetup& setup, int fields = 2) {
    TcvGroup* g = addGroup(setup, "FLD", {"ann@example.com", "bob@example.com", "cy@example.com"});
    for (int i = 0; i < fields; ++i) {
        auto* f = new TcvFieldDef;
        f->Title = i == 0 ? "Town" : i == 1 ? "Shoe size" : "Field" + std::to_string(i);
        g->AddFieldDef(f);
    }
    g->Contacts(0)->FirstName = "Ann";
    g->Contacts(0)->LastName = "Lee";
    return g;
}

// Opens the editor from the Contacts page for the given rows; the window is handed to the test.
void editRows(TestWindow& w, TcvGroup* g, const std::vector<int>& rows,
              const std::function<int(TfmCustomFields&)>& run) {
    w.Setup->SelectGroup(g);
    selectRows(w.lvContacts, rows);
    w.onDialog = [&](QDialog& dialog) {
        auto* window = dynamic_cast<TfmCustomFields*>(&dialog);
        return window ? run(*window) : int(QDialog::Rejected);
    };
    ASSERT_TRUE(w.acContactFields->isEnabled());
    w.acContactFields->trigger();
}

}  // namespace

TEST_F(UiTest, CustomFieldsCaptionNamesOneContactOrCountsSeveralAndLaysOutTwoColumns) {
    auto w = makeWindow();
    TcvGroup* g = fieldGroup(*w->Setup, 5);
    QString caption;
    editRows(*w, g, {0}, [&](TfmCustomFields& window) {
        caption = window.windowTitle();
        EXPECT_EQ(window.width(), 522);
        const int screen = QGuiApplication::primaryScreen()->availableGeometry().height();
        EXPECT_EQ(window.height(), std::min(std::max(3 * 40 + 80, screen - 100), screen));
        // Field 3 sits in the second column of the second row.
        auto* label = window.findChild<QLabel*>("lbField3");
        EXPECT_EQ(label->text(), "Field3:");
        EXPECT_EQ(label->pos(), QPoint(264, 50));
        EXPECT_EQ(window.Fields[3].edit->geometry().topLeft(), QPoint(264, 64));
        EXPECT_EQ(window.Fields[3].edit->width(), 210);
        EXPECT_EQ(window.Fields[4].check->geometry().topLeft(), QPoint(8, 106));
        EXPECT_EQ(window.findChild<QLabel*>("lbField0")->text(), "Town:");
        EXPECT_NE(window.findChild<QScrollArea*>("sbFields"), nullptr);
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(caption, "Custom Fields (Ann Lee - ann@example.com)");
    editRows(*w, g, {0, 1, 2}, [&](TfmCustomFields& window) {
        caption = window.windowTitle();
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(caption, "Custom Fields (editing 3 contacts)");
    EXPECT_EQ(w->dialogsShown, 2);
}

TEST_F(UiTest, CustomFieldsShowVariousForDifferingValuesAndTheBoxEnablesTheField) {
    auto w = makeWindow();
    TcvGroup* g = fieldGroup(*w->Setup);
    g->Contacts(0)->SetCustomField(0, "Leeds");
    g->Contacts(1)->SetCustomField(0, "leeds");
    g->Contacts(0)->SetCustomField(1, "42");
    g->Contacts(1)->SetCustomField(1, "42");
    editRows(*w, g, {0, 1}, [&](TfmCustomFields& window) {
        window.show();
        auto& town = window.Fields[0];
        auto& size = window.Fields[1];
        // Values differing only in case differ.
        EXPECT_EQ(town.edit->text(), "Various");
        EXPECT_FALSE(town.edit->isEnabled());
        EXPECT_EQ(size.edit->text(), "42");
        EXPECT_TRUE(size.edit->isEnabled());
        EXPECT_FALSE(town.check->isChecked());
        town.check->click();
        EXPECT_TRUE(town.edit->isEnabled());
        EXPECT_EQ(window.focusWidget(), town.edit);
        town.edit->setText("York");
        town.check->click();
        EXPECT_EQ(town.edit->text(), "Various");
        EXPECT_FALSE(town.edit->isEnabled());
        return int(QDialog::Accepted);
    });
    // Nothing was checked: nothing written.
    EXPECT_EQ(g->Contacts(0)->CustomField(0), "Leeds");
    EXPECT_EQ(g->Contacts(1)->CustomField(0), "leeds");
}

TEST_F(UiTest, CustomFieldsLeavingAFieldChecksOrClearsItsBoxAndOkWritesOnlyCheckedFields) {
    auto w = makeWindow();
    TcvGroup* g = fieldGroup(*w->Setup);
    g->Contacts(0)->SetCustomField(0, "Leeds");
    g->Contacts(1)->SetCustomField(0, "York");
    w->Setup->Modified = false;
    auto run = [&](TfmCustomFields& window, int result) {
        auto& town = window.Fields[0];
        town.check->click();
        typeAndLeave(town.edit, "Hull");
        EXPECT_TRUE(town.check->isChecked());
        typeAndLeave(town.edit, "Various");
        EXPECT_FALSE(town.check->isChecked());
        EXPECT_FALSE(town.edit->isEnabled());
        town.check->click();
        typeAndLeave(town.edit, "Hull");
        EXPECT_TRUE(town.check->isChecked());
        EXPECT_FALSE(window.InFieldExit);
        return result;
    };
    editRows(*w, g, {0, 1}, [&](TfmCustomFields& window) { return run(window, QDialog::Rejected); });
    EXPECT_EQ(g->Contacts(0)->CustomField(0), "Leeds");
    editRows(*w, g, {0, 1}, [&](TfmCustomFields& window) { return run(window, QDialog::Accepted); });
    EXPECT_EQ(g->Contacts(0)->CustomField(0), "Hull");
    EXPECT_EQ(g->Contacts(1)->CustomField(0), "Hull");
    EXPECT_FALSE(g->Contacts(2)->HasCustomFields());
    EXPECT_FALSE(w->Setup->Modified);

    // A value typed and typed back leaves the box cleared, and the contact untouched.
    editRows(*w, g, {2}, [&](TfmCustomFields& window) {
        auto& size = window.Fields[1];
        typeAndLeave(size.edit, "43");
        EXPECT_TRUE(size.check->isChecked());
        typeAndLeave(size.edit, "");
        EXPECT_FALSE(size.check->isChecked());
        EXPECT_TRUE(size.edit->isEnabled());
        return int(QDialog::Accepted);
    });
    EXPECT_FALSE(g->Contacts(2)->HasCustomFields());
}

TEST_F(UiTest, CustomFieldsLeaveContactsDeletedWhileTheWindowWaitsAlone) {
    auto w = makeWindow();
    TcvGroup* g = fieldGroup(*w->Setup);
    TcvContact* kept = g->Contacts(2);
    editRows(*w, g, {0, 2}, [&](TfmCustomFields& window) {
        g->DeleteContact(0);
        window.Fields[0].check->click();
        typeAndLeave(window.Fields[0].edit, "Hull");
        return int(QDialog::Accepted);
    });
    ASSERT_EQ(g->ContactCount(), 2);
    EXPECT_EQ(kept->CustomField(0), "Hull");
    EXPECT_EQ(g->Contacts(0)->CustomField(0), "");
}
