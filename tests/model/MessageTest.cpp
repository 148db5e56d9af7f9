#include "model/cvSetup.h"

#include <gtest/gtest.h>

namespace {

TcvMessage* addMessage(TcvGroup& g, const std::string& title) {
    auto* m = new TcvMessage;
    g.AddMessage(m);
    m->SetTitle(title);
    return m;
}

}  // namespace

TEST(Messages, DefaultsAndCodesFromTitles) {
    TcvMessage fresh;
    EXPECT_EQ(fresh.Priority, 2);
    EXPECT_EQ(fresh.TriggerAmount, 1);
    EXPECT_EQ(fresh.Status, TcvMessageStatus::Stopped);
    EXPECT_EQ(fresh.AttachmentCount(), 0);

    TcvSetup s;
    auto* g = new TcvGroup;
    s.AddGroup(g);
    addMessage(*g, "Welcome");
    TcvMessage* second = addMessage(*g, "Welcome");
    EXPECT_EQ(second->Code, "WE2");
    s.Modified = false;
    second->SetTitle("Welcome back");
    EXPECT_EQ(second->Code, "WE2");
    EXPECT_TRUE(s.Modified);
    EXPECT_EQ(g->FindMessage("we2"), second);
    TcvMessage loose;
    loose.SetTitle("Welcome");
    EXPECT_EQ(loose.Code, "WEL");
}

TEST(Messages, TriggerDelayInDays) {
    TcvMessage m;
    m.TriggerAmount = 2;
    m.TriggerUnit = TcvTriggerUnit::Weeks;
    EXPECT_DOUBLE_EQ(m.TriggerDelay(), 14);
    m.TriggerAmount = 1;
    m.TriggerUnit = TcvTriggerUnit::Months;
    EXPECT_DOUBLE_EQ(m.TriggerDelay(), 30);
    m.TriggerAmount = 90;
    m.TriggerUnit = TcvTriggerUnit::Minutes;
    EXPECT_DOUBLE_EQ(m.TriggerDelay(), 0.0625);
    m.TriggerAmount = -1;
    EXPECT_LT(m.TriggerDelay(), 0);
    // 70 years of seconds do not fit in 32 bits and wrap, as stored setups expect.
    m.TriggerAmount = 70;
    m.TriggerUnit = TcvTriggerUnit::Years;
    EXPECT_LT(m.TriggerDelay(), 0);
}

TEST(Messages, SenderFallsBackToTheGroupAccount) {
    TcvSetup s;
    auto* g = new TcvGroup;
    s.AddGroup(g);
    auto* m = new TcvMessage;
    g->AddMessage(m);
    EXPECT_EQ(m->GetSender(), "");
    auto* a = new TcvAccount;
    a->Sender = "news@example.com";
    s.AddAccount(a);
    g->Account = a;
    EXPECT_EQ(m->GetSender(), "news@example.com");
    m->Sender = "me@example.com";
    EXPECT_EQ(m->GetSender(), "me@example.com");
}

TEST(Messages, HtmlViewPrefersTheHtmlBody) {
    TcvMessage m;
    m.BodyPlain = "Hello";
    EXPECT_NE(m.HtmlView().find("Hello"), std::string::npos);
    EXPECT_NE(m.HtmlView(), "Hello");
    m.BodyHtml = "<p>Hi</p>";
    EXPECT_EQ(m.HtmlView(), "<p>Hi</p>");
}

TEST(Messages, CheckAllSentOnlyForLiveOneTimeWhenEveryoneHasIt) {
    TcvGroup g;
    auto* m = new TcvMessage;
    g.AddMessage(m);
    m->Code = "ONE";
    m->CheckAllSent();
    EXPECT_EQ(m->Status, TcvMessageStatus::Stopped);
    m->Status = TcvMessageStatus::Live;
    m->CheckAllSent();  // no contacts at all
    EXPECT_EQ(m->Status, TcvMessageStatus::Sent);

    m->Status = TcvMessageStatus::Live;
    auto* a = new TcvContact;
    a->Email = "a@x.com";
    auto* b = new TcvContact;
    b->Email = "b@x.com";
    g.AddContact(a);
    g.AddContact(b);
    a->AddHistory("ONE", 1);
    b->AddHistory("one", 1);
    m->CheckAllSent();
    EXPECT_EQ(m->Status, TcvMessageStatus::Live);
    b->AddHistory("ONE", 1);
    m->Mode = TcvMessageMode::Triggered;
    m->CheckAllSent();
    EXPECT_EQ(m->Status, TcvMessageStatus::Live);
    m->Mode = TcvMessageMode::OneTime;
    m->CheckAllSent();
    EXPECT_EQ(m->Status, TcvMessageStatus::Sent);
}

TEST(Parsers, NameAndInterval) {
    TcvSetup s;
    auto* g = new TcvGroup;
    s.AddGroup(g);
    auto* p = new TcvParser;
    g->AddParser(p);
    EXPECT_EQ(p->CheckIntervalDays(), 0);
    auto* a = new TcvAccount;
    s.AddAccount(a);
    p->Account = a;
    EXPECT_DOUBLE_EQ(p->CheckIntervalDays(), 60 / 86400.0);
    int parserEvents = 0;
    s.OnParsersChanged = [&](TcvSetup&) { ++parserEvents; };
    p->SetName("Subscriptions");
    p->SetName("Subscriptions");
    EXPECT_EQ(parserEvents, 1);
}
