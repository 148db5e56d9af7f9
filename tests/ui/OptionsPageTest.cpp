#include "UiTestSupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

namespace {

// A click on the check box's indicator, which is the part that takes clicks however wide the box is.
void clickBox(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2)); }

}  // namespace

TEST_F(UiTest, OptionsPageShowsTheVariablesAndClicksWriteThemAtOnce) {
    options::SaveAtShutdown = false;
    options::SortByDomain = false;
    auto w = makeWindow();
    w->show();
    w->pcMain->setCurrentWidget(w->tsOptions);
    EXPECT_FALSE(w->chbSaveAtShutdown->isChecked());
    EXPECT_FALSE(w->chbLoadAtStartup->isChecked());
    EXPECT_TRUE(w->chbWarnBeforeFirstMail->isChecked());
    EXPECT_EQ(w->chbAutoSave->text(), "Auto-save every ");
    EXPECT_EQ(w->edAutosavePeriod->text(), "10");

    clickBox(w->chbSaveAtShutdown);
    EXPECT_TRUE(options::SaveAtShutdown);
    clickBox(w->chbWarnBeforeFirstMail);
    EXPECT_FALSE(options::WarnBeforeFirstMail);
    clickBox(w->chbSortByDomain);
    EXPECT_TRUE(options::SortByDomain);
    clickBox(w->chbKeepUnsubscribed);
    EXPECT_TRUE(options::KeepUnsubscribed);

    // Refreshing the page writes the controls but never back into the variables.
    options::AutoStartMailer = true;
    w->RefreshOptionsPage();
    EXPECT_TRUE(w->chbAutoStartMailer->isChecked());
    EXPECT_TRUE(options::SaveAtShutdown);
}

TEST_F(UiTest, AutoSavePeriodIsTakenOnLeavingTheFieldAndNonNumbersAreIgnored) {
    auto w = makeWindow();
    w->show();
    w->activateWindow();
    w->pcMain->setCurrentWidget(w->tsOptions);
    w->edAutosavePeriod->setFocus();
    w->edAutosavePeriod->selectAll();
    QTest::keyClicks(w->edAutosavePeriod, "abc");
    QTest::keyClick(w->edAutosavePeriod, Qt::Key_Return);
    EXPECT_EQ(options::AutoSavePeriod, 10);
    EXPECT_EQ(w->edAutosavePeriod->text(), "10");

    w->edAutosavePeriod->selectAll();
    QTest::keyClicks(w->edAutosavePeriod, "15");
    QTest::keyClick(w->edAutosavePeriod, Qt::Key_Return);
    EXPECT_EQ(options::AutoSavePeriod, 15);
}

TEST_F(UiTest, LogSizeSpinShowsItsRangeWhileTheVariableKeepsItsValue) {
    options::LogMaxSize = 5;
    auto w = makeWindow();
    w->show();
    EXPECT_EQ(w->udLogMaxSize->value(), 10);
    EXPECT_EQ(w->edLogMaxSize->text(), "10");
    EXPECT_EQ(options::LogMaxSize, 5);
    EXPECT_EQ(w->udLogMaxSize->minimum(), 10);
    EXPECT_EQ(w->udLogMaxSize->maximum(), 10000);

    w->udLogMaxSize->stepUp();
    EXPECT_EQ(options::LogMaxSize, 20);

    options::LogMaxSize = 20000;
    w->RefreshOptionsPage();
    EXPECT_EQ(w->udLogMaxSize->value(), 10000);
    EXPECT_EQ(options::LogMaxSize, 20000);
}
