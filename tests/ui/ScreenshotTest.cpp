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
    TcvAccount* account = addAccount(*w->Setup, "Newsletter");
    account->ServerName = "mail.example.com";
    account->UserName = "news";
    account->Password = "secret";
    account->Sender = "news@example.com";
    account->Authentication = TcvAuthentication::Login;
    addAccount(*w->Setup, "Orders", false)->UseForReceiving = true;
    TcvGroup* g = addGroup(*w->Setup, "NEW", {"ann@example.com", "bob@example.com", "cy@example.org", "not valid"});
    g->Account = account;
    g->Purpose = "Monthly news for customers";
    TcvMessage* welcome = addMessage(*g, "WEL", TcvMessageMode::OneTime, "Welcome");
    welcome->Subject = "Welcome, %FirstName";
    welcome->BodyPlain = "Dear %FullName,\r\n\r\nthank you for joining.";
    welcome->Status = TcvMessageStatus::Live;
    TcvMessage* reminder = addMessage(*g, "REM", TcvMessageMode::Triggered, "Reminder");
    reminder->TriggerAmount = 2;
    reminder->TriggerUnit = TcvTriggerUnit::Weeks;
    g->Contacts(0)->FirstName = "Ann";
    g->Contacts(0)->AddHistory("WEL", 46000);
    g->Contacts(1)->Bounces = 1;
    addField(*g, "City");
    addField(*g, "Phone", false);
    auto* parser = new TcvParser;
    parser->Name = "Joins";
    parser->Account = w->Setup->Accounts(1);
    parser->Started = true;
    parser->TriggerSubj = true;
    parser->TriggerSubjWords = "subscribe;join";
    g->AddParser(parser);
    addGroup(*w->Setup, "OLD");
    w->Setup->SelectGroup(g);
    w->Setup->SelectAccount(account);
    w->lvContacts->selectRow(0);
    g->SelectParser(parser);
    g->SelectMessage(welcome);
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
