#include "mailer/cvMailer.h"
#include "mailtext/Pop3Client.h"
#include "mailtext/SmtpClient.h"
#include "options/OptionRefs.h"
#include "platform/AntiFreeze.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/UiHooks.h"
#include "tests/mailer/SmtpSink.h"
#include "tests/mailnet/MailServers.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Sweep : public ::testing::Test {
protected:
    Sweep() : clock(platform::encodeDateTime(2026, 6, 1, 12), 1000), clockGuard(clock) {
        options::ResetToDefaults();
        options::WarnBeforeFirstMail = false;
        MailerRunning = true;
        FirstMailWarned = false;
        SetLogFilePath(dir.file("mailerdeamon.log"));
        TcvMailer::InstallTemporarySend();
        build();
    }
    // An account on the sink and an empty group using it, with a fresh mailer.
    void build() {
        mailer.reset();
        setup.Clear();
        account = new TcvAccount;
        account->Name = "Sink";
        account->ServerName = "127.0.0.1";
        account->PortSmtp = sink.port();
        account->Sender = "news@example.com";
        account->SendPause = 0;
        setup.AddAccount(account);
        group = new TcvGroup;
        setup.AddGroup(group);
        group->SetName("Members");
        group->Account = account;
        mailer = std::make_unique<TcvMailer>(&setup);
    }
    ~Sweep() override {
        mailer.reset();
        SetLogFilePath("");
        options::ResetToDefaults();
        MailerRunning = false;
        platform::setUiHooks({});
    }

    TcvMessage* addMessage(const std::string& title, TcvMessageMode mode = TcvMessageMode::OneTime,
                           TcvMessageStatus status = TcvMessageStatus::Live) {
        auto* m = new TcvMessage;
        group->AddMessage(m);
        m->SetTitle(title);
        m->Subject = title + " for %FirstName";
        m->BodyPlain = "Dear%FriendlyName,\r\nthis is " + title;
        m->Mode = mode;
        m->Status = status;
        return m;
    }
    TcvContact* addContact(const std::string& email, double joined = 0) {
        auto* c = new TcvContact;
        c->Email = email;
        c->FirstName = "Ann";
        c->Joined = joined;
        group->AddContact(c);
        return c;
    }
    void steps(int n) {
        for (int i = 0; i < n; ++i) mailer->Step();
    }
    std::string log() const { return testsupport::readFile(dir.file("mailerdeamon.log")); }

    testsupport::TempDir dir;
    SmtpSink sink;
    platform::ManualClock clock;
    platform::ScopedClock clockGuard;
    TcvSetup setup;
    TcvAccount* account;
    TcvGroup* group;
    std::unique_ptr<TcvMailer> mailer;
};

}  // namespace

TEST_F(Sweep, EmptySetupsAndGroupsArePassedOverStepByStep) {
    TcvSetup empty;
    TcvMailer idle(&empty);
    idle.GroupIndex = -3;
    idle.Step();
    EXPECT_EQ(idle.GroupIndex, -2);
    idle.Step();
    idle.Step();
    idle.Step();
    EXPECT_EQ(idle.GroupIndex, 1);
    idle.Step();  // past the end: back to the first position, none there
    EXPECT_EQ(idle.GroupIndex, 1);
    steps(3);  // a group without contacts
    EXPECT_EQ(sink.connections(), 0);
}

TEST_F(Sweep, DueOneTimeMessagesGoOutInConsecutiveStepsInMessageOrder) {
    TcvMessage* first = addMessage("First");
    TcvMessage* second = addMessage("Second");
    TcvContact* ann = addContact("ann@example.com");
    // Each network call takes 5 ms of the injected tick.
    platform::ScopedBlockingRunner slow([&](const platform::BlockingCall& call) {
        call();
        clock.advanceMs(5);
    });
    std::vector<std::string> mailed;
    mailer->OnMailed = [&](TcvMailer&, TcvContact&, TcvMessage& m, const std::string& subject, const std::string&) {
        mailed.push_back(m.Code + ":" + subject);
    };
    mailer->Step();
    mailer->Step();
    EXPECT_EQ(mailed, (std::vector<std::string>{"FIR:First for Ann", "SEC:Second for Ann"}));
    EXPECT_EQ(mailer->ContactIndex, 0);
    ASSERT_EQ(sink.mails().size(), 2u);
    EXPECT_TRUE(contains(sink.mails()[0], "Subject: First for Ann"));
    EXPECT_TRUE(contains(sink.mails()[0], "Dear Ann,"));
    EXPECT_TRUE(contains(sink.mails()[0], "To: \"Ann\" <ann@example.com>"));
    EXPECT_EQ(ann->HistoryText(), "FIR, SEC");
    EXPECT_EQ(first->SendCount, 1);
    EXPECT_EQ(ann->TotalDuration, 10);
    EXPECT_GT(ann->TotalBytes, static_cast<int32_t>(std::string("First for Ann").size()));
    // The third step finds nothing due; at the last contact both messages become Sent.
    mailer->Step();
    EXPECT_EQ(mailer->ContactIndex, 1);
    EXPECT_EQ(second->Status, TcvMessageStatus::Sent);
    EXPECT_EQ(sink.mails().size(), 2u);
}

TEST_F(Sweep, OneTimeMessagesBecomeSentOnlyWhenEveryContactHasThem) {
    TcvMessage* m = addMessage("News");
    addContact("a@example.com");
    TcvContact* frozen = addContact("b@example.com");
    frozen->Frozen = true;
    steps(10);
    EXPECT_EQ(sink.mails().size(), 1u);
    EXPECT_EQ(m->Status, TcvMessageStatus::Live);  // the frozen contact never has it
    frozen->Frozen = false;
    steps(10);
    EXPECT_EQ(sink.mails().size(), 2u);
    EXPECT_EQ(m->Status, TcvMessageStatus::Sent);
}

TEST_F(Sweep, OnJoinTriggersOnlyInsideTheirWindow) {
    TcvMessage* m = addMessage("Welcome", TcvMessageMode::Triggered);
    m->TriggerAmount = 1;
    m->TriggerUnit = TcvTriggerUnit::Days;
    const double now = platform::now();
    TcvContact* early = addContact("a23@example.com", now - 23 / 24.0);
    TcvContact* due = addContact("b25@example.com", now - 25 / 24.0);
    TcvContact* late = addContact("c37@example.com", now - 37 / 24.0);
    auto* never = addMessage("Never", TcvMessageMode::Triggered);
    never->TriggerAmount = 0;
    steps(12);
    EXPECT_EQ(due->HistoryText(), "WEL");
    EXPECT_EQ(early->HistoryCount(), 0);
    EXPECT_EQ(late->HistoryCount(), 0);
    EXPECT_EQ(sink.mails().size(), 1u);
}

TEST_F(Sweep, ConnectionsAreReusedUpToTheLimit) {
    addMessage("News");
    account->SendReuse = 10;
    for (int i = 0; i < 11; ++i) addContact("c" + std::to_string(i) + "@example.com");
    steps(40);
    EXPECT_EQ(sink.mails().size(), 11u);
    EXPECT_EQ(sink.connections(), 2);
    EXPECT_EQ(sink.quits(), 1);  // the first connection closed after its tenth mail
    EXPECT_EQ(mailer->SentOnConnection, 1);
}

TEST_F(Sweep, NoReuseMeansOneConnectionPerMail) {
    addMessage("News");
    account->SendReuse = 0;
    for (int i = 0; i < 3; ++i) addContact("c" + std::to_string(i) + "@example.com");
    steps(10);
    EXPECT_EQ(sink.connections(), 3);
    EXPECT_EQ(sink.quits(), 3);
}

TEST_F(Sweep, PauseHoldsTheSweepAfterASuccessNotAfterAFailure) {
    addMessage("News");
    account->SendPause = 200;
    addContact("a@example.com");
    addContact("b@example.com");
    mailer->Step();
    ASSERT_EQ(sink.mails().size(), 1u);
    const int index = mailer->ContactIndex;
    clock.advanceMs(150);
    mailer->Step();
    EXPECT_EQ(mailer->ContactIndex, index);  // held
    clock.advanceMs(60);
    mailer->Step();
    EXPECT_EQ(mailer->ContactIndex, index + 1);  // moved on to the next contact
    sink.refuseNext(1);
    mailer->Step();  // fails for b
    const int afterFailure = mailer->ContactIndex;
    mailer->Step();
    EXPECT_NE(mailer->ContactIndex, afterFailure);  // no pause after a failure
    // Across a wrap of the tick the distance is still measured correctly.
    mailer->LastSendTick = 0xFFFFFFA0u;
    clock.setTick(0x10);  // 112 ms later
    mailer->ContactIndex = 5;
    mailer->Step();
    EXPECT_EQ(mailer->ContactIndex, 5);
    clock.setTick(0x100);  // 352 ms later
    mailer->Step();
    EXPECT_EQ(mailer->ContactIndex, 0);
}

TEST_F(Sweep, FirstMailPromptOnceCancelPausesAndSendsNothing) {
    options::WarnBeforeFirstMail = true;
    addMessage("News");
    addContact("a@example.com");
    addContact("b@example.com");
    std::vector<std::string> prompts;
    bool answer = false;
    platform::setUiHooks({nullptr, [&](const std::string& text) {
                              prompts.push_back(text);
                              return answer;
                          },
                          nullptr});
    int paused = 0;
    mailer->OnPaused = [&](TcvMailer&) { ++paused; };
    mailer->Step();
    EXPECT_FALSE(MailerRunning);
    EXPECT_EQ(paused, 1);
    EXPECT_EQ(prompts.size(), 1u);
    EXPECT_EQ(sink.connections(), 0);
    EXPECT_EQ(prompts[0], FirstMailPromptText("Sink"));
    EXPECT_TRUE(contains(prompts[0], "Vantrel's deamon is about to mail its first email using account Sink.\r"));
    MailerRunning = true;
    answer = true;
    steps(6);
    EXPECT_EQ(prompts.size(), 2u);
    EXPECT_TRUE(FirstMailWarned);
    EXPECT_EQ(sink.mails().size(), 2u);
}

TEST_F(Sweep, FailedSendLogsOnceBouncesAndIsRetriedNextPass) {
    addMessage("News");
    TcvContact* ann = addContact("ann@example.com");
    sink.refuseNext(1);
    mailer->Step();
    EXPECT_EQ(ann->Bounces, 1);
    EXPECT_EQ(ann->HistoryCount(), 0);
    EXPECT_EQ(count(log(), "Error! MEM NEW "), 1);
    EXPECT_TRUE(contains(log(), "554"));
    steps(3);  // the next pass tries again
    EXPECT_EQ(ann->HistoryText(), "NEW");
    EXPECT_EQ(ann->Bounces, 1);
    EXPECT_EQ(sink.mails().size(), 1u);
    EXPECT_EQ(count(log(), "Error!"), 1);
}

TEST_F(Sweep, GroupsWithoutAccountArePassedOver) {
    options::WarnBeforeFirstMail = true;
    int prompts = 0;
    platform::setUiHooks({nullptr, [&](const std::string&) { return ++prompts, true; }, nullptr});
    group->Account = nullptr;
    addMessage("News");
    TcvContact* ann = addContact("ann@example.com");
    steps(5);
    EXPECT_EQ(ann->HistoryCount(), 0);
    EXPECT_EQ(prompts, 0);
    EXPECT_EQ(sink.connections(), 0);
}

TEST_F(Sweep, ManualSendingRecordsEveryAttempt) {
    TcvMessage* m = addMessage("Manual", TcvMessageMode::Manual);
    TcvContact* frozen = addContact("f@example.com");
    frozen->Frozen = true;
    TcvContact* ok = addContact("ok@example.com");
    TcvContact outsider;
    outsider.Email = "out@example.com";
    std::vector<TcvContact*> chosen{frozen, ok, &outsider, nullptr};
    mailer->SendManual(&chosen, m);
    EXPECT_EQ(frozen->Bounces, 1);
    EXPECT_EQ(frozen->HistoryText(), "MAN");
    EXPECT_EQ(ok->HistoryText(), "MAN");
    EXPECT_EQ(outsider.HistoryCount(), 0);
    EXPECT_EQ(sink.mails().size(), 1u);
    mailer->SendManual(&chosen, m);  // already in the history: nothing again
    EXPECT_EQ(sink.mails().size(), 1u);
    platform::recordedMessages().clear();
    MailerRunning = false;
    mailer->SendManual(&chosen, m);
    EXPECT_EQ(platform::recordedMessages(),
              std::vector<std::string>{
                  "The mailer was paused successfully. No more messages will be sent\rin this sweep."});
}

TEST_F(Sweep, UnsubscribingSendsItsMessagesThenDeletesOrKeeps) {
    TcvMessage* bye = addMessage("Goodbye", TcvMessageMode::Manual, TcvMessageStatus::Stopped);
    bye->Trigger = TcvTrigger::OnUnsubscribe;
    TcvMessage* also = addMessage("Also", TcvMessageMode::OneTime, TcvMessageStatus::Stopped);
    also->Trigger = TcvTrigger::OnUnsubscribe;
    addContact("leave@example.com");
    TcvContact* keep = addContact("stay@example.com");
    group->Unsubscribe(group->IndexOfEmail("leave@example.com"));
    EXPECT_EQ(group->FindContact("leave@example.com"), nullptr);
    EXPECT_EQ(sink.mails().size(), 2u);
    EXPECT_EQ(count(log(), "Delete MEM --- ----- leave@example.com"), 1);
    options::KeepUnsubscribed = true;
    group->Unsubscribe(group->IndexOfContact(keep));
    EXPECT_TRUE(keep->Unsubscribed);
    EXPECT_EQ(sink.mails().size(), 4u);
    // A contact that refuses mail cannot be sent its goodbye: it stays as it was.
    EXPECT_THROW(group->Unsubscribe(group->IndexOfContact(keep)), std::exception);
    EXPECT_EQ(group->ContactCount(), 1);
    addMessage("News");
    steps(5);
    EXPECT_EQ(sink.mails().size(), 4u);  // never mailed by the sweep
}

TEST_F(Sweep, DeletedCurrentAccountDropsTheConnection) {
    addMessage("News");
    account->SendReuse = 10;
    addContact("a@example.com");
    mailer->Step();
    ASSERT_EQ(mailer->CurrentAccount, account);
    setup.DeleteAccount(0);
    mailer->Step();
    EXPECT_EQ(mailer->CurrentAccount, nullptr);
    EXPECT_EQ(mailer->Smtp, nullptr);
    EXPECT_EQ(sink.quits(), 0);  // dropped, not closed with QUIT
}

// Objects being sent may be deleted through the interface at every point where sending waits on
// the network or raises an event. Each object is deleted at each such point in turn; under the
// sanitizers any later use of it shows.
TEST_F(Sweep, ObjectsDeletedAtAnyWaitOrEventAreNeverTouchedAgain) {
    enum Victim { TheContact, TheMessage, TheGroup, TheAccount };
    enum Point { Blocking, Sending, Mailed };
    for (const Victim victim : {TheContact, TheMessage, TheGroup, TheAccount}) {
        for (const Point point : {Blocking, Sending, Mailed}) {
            for (int ordinal = 0;; ++ordinal) {
                SCOPED_TRACE("victim " + std::to_string(victim) + ", point " + std::to_string(point) + " #" +
                             std::to_string(ordinal));
                build();
                account->SendReuse = 1;
                addMessage("News");
                addContact("a@example.com");
                addContact("b@example.com");
                int seen = 0;
                bool deleted = false;
                const auto reach = [&](Point reached) {
                    if (deleted || reached != point || seen++ != ordinal) return;
                    deleted = true;
                    if (victim == TheContact) group->DeleteContact(0);
                    if (victim == TheMessage) group->DeleteMessage(0);
                    if (victim == TheGroup) setup.DeleteGroup(0);
                    if (victim == TheAccount) setup.DeleteAccount(0);
                };
                mailer->OnSending = [&](TcvMailer&, TcvContact&, TcvMessage&, const std::string&,
                                        const std::string&) { reach(Sending); };
                mailer->OnMailed = [&](TcvMailer&, TcvContact&, TcvMessage&, const std::string&,
                                       const std::string&) { reach(Mailed); };
                platform::ScopedBlockingRunner runner([&](const platform::BlockingCall& call) {
                    reach(Blocking);
                    call();
                });
                steps(8);
                if (!deleted) break;  // past the last point of this kind
                if (victim == TheAccount) {
                    EXPECT_EQ(mailer->CurrentAccount, nullptr);
                    // A mail given up because its account went is no bounce of the contact.
                    for (int i = 0; i < group->ContactCount(); ++i) EXPECT_EQ(group->Contacts(i)->Bounces, 0);
                }
                if (victim == TheMessage) {
                    EXPECT_EQ(group->MessageCount(), 0);
                }
                if (victim == TheGroup) {
                    EXPECT_EQ(setup.GroupCount(), 0);
                }
                if (victim == TheContact) {
                    EXPECT_EQ(group->ContactCount(), 1);
                }
            }
        }
    }
}

TEST_F(Sweep, MailReachesTheRealServersAndReadsBack) {
    const auto servers = mailnet::MailServers::load();
    if (!servers) GTEST_SKIP() << "CORVANE_MAILSERVERS is not set: run through ctest";
    mailtext::Pop3Settings pop;
    pop.Host = "127.0.0.1";
    pop.Port = servers->Pop3Port;
    pop.UserName = "user6";
    pop.Password = servers->MailboxPassword;
    {
        mailtext::Pop3Client client(pop);
        client.connect();
        for (int n = client.messageCount(); n > 0; --n) client.deleteMessage(n);
        client.quit();
    }
    account->PortSmtp = servers->SmtpAuthPort;
    account->Authentication = TcvAuthentication::Login;
    account->UserName = servers->SmtpLogin;
    account->Password = servers->SmtpPassword;
    account->ReplyTo = "replies@example.com";
    TcvMessage* m = addMessage("Hello");
    m->Priority = 0;
    m->Receipt = "receipts@example.com";
    TcvContact* c = addContact("user6@example.com");
    c->LastName = "Smith";
    steps(2);
    ASSERT_EQ(c->HistoryText(), "HEL");
    mailtext::Pop3Client client(pop);
    client.connect();
    ASSERT_EQ(client.messageCount(), 1);
    const std::string raw = client.retrieveRaw(1);
    client.deleteMessage(1);
    client.quit();
    EXPECT_TRUE(contains(raw, "Subject: Hello for Ann"));
    EXPECT_TRUE(contains(raw, "\"Ann Smith\" <user6@example.com>"));
    EXPECT_TRUE(contains(raw, "X-Priority: 1"));
    EXPECT_TRUE(contains(raw, "Disposition-Notification-To: receipts@example.com"));
    EXPECT_TRUE(contains(raw, "Reply-To: replies@example.com"));
    EXPECT_TRUE(contains(raw, "Dear Ann,"));
}
