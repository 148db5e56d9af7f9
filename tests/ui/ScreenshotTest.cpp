#include "UiTestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPixmap>

// Pictures of every page and dialog for review; not compared with anything.
TEST_F(UiTest, ScreenshotsOfPagesAndDialogs) {
    const QString folder = CORVANE_SCREENSHOT_DIR;
    ASSERT_TRUE(QDir().mkpath(folder));
    options::AutoSavePeriod = 15;
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "NEW", {"ann@example.com", "bob@example.com", "cy@example.org"});
    addGroup(*w->Setup, "OLD");
    w->Setup->SelectGroup(g);
    w->SetStatusText(1, "Session: 3 Total: 120");
    w->SetStatusText(2, "Mailer: not active");
    w->resize(800, 600);
    w->show();
    for (int i = 0; i < w->pcMain->count(); ++i) {
        w->pcMain->setCurrentIndex(i);
        const QString file = folder + "/main-" + w->pcMain->widget(i)->objectName() + ".png";
        EXPECT_TRUE(w->grab().save(file)) << file.toStdString();
    }

    TfmMessageSelect select(w.get());
    select.cbbMessages->addItem("[MAN] Manual offer");
    select.lbNotice->setText(TfrmMain::DisplayText(
        "Notice: you are about to send this message manually\r\nto 3 selected contacts.\rYou can stop this "
        "process by hitting the \"Pause Mailing\" button."));
    select.show();
    EXPECT_TRUE(select.grab().save(folder + "/dialog-fmMessageSelect.png"));

    QMessageBox about(QMessageBox::Information, "Vantrel", "Vantrel v1.0.5", QMessageBox::Ok, w.get());
    about.show();
    EXPECT_TRUE(about.grab().save(folder + "/dialog-about.png"));
}
