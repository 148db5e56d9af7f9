#include "mailer/cvMailer.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/Clock.h"
#include "daemon/cvScheduler.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

namespace {

// A mailer whose steps cost what the test says, measured on the manual clock.
class FakeMailer : public TcvMailer {
public:
    using TcvMailer::TcvMailer;
    void Step() override {
        ++steps;
        if (onStep) onStep(steps);
    }
    int steps = 0;
    std::function<void(int)> onStep;
};

class CountingParser : public TcvParser {
public:
    void CheckMailbox() override {
        ++checks;
        if (fail) {
            LastCheck = platform::now();
            throw std::runtime_error("POP3 server went away");
        }
        LastCheck = platform::now();
    }
    int checks = 0;
    bool fail = false;
};

constexpr double Minute = 1.0 / (24 * 60);

class SchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        options::ResetToDefaults();
        MailerRunning = true;
        scheduler.LastAutoSave = clock.now();
    }
    void TearDown() override { MailerRunning = false; }

    CountingParser* addParser(TcvGroup* group, TcvAccount* account, bool started) {
        auto* parser = new CountingParser;
        parser->Account = account;
        parser->Started = started;
        group->AddParser(parser);
        return parser;
    }

    platform::ManualClock clock{46000.5, 1000};
    platform::ScopedClock useClock{clock};
    TcvSetup setup;
    FakeMailer mailer{&setup};
    TcvScheduler scheduler{setup, mailer};
};

}  // namespace

TEST_F(SchedulerTest, BurstOfCheapStepsStopsAtOneThousand) {
    scheduler.Tick();
    EXPECT_EQ(mailer.steps, 1000);
    EXPECT_EQ(scheduler.LastStepCount, 1000);
    EXPECT_FALSE(scheduler.InTimer);
}

TEST_F(SchedulerTest, SlowFirstStepEndsTheBurst) {
    mailer.onStep = [this](int step) {
        if (step == 1) clock.advanceMs(25);
    };
    scheduler.Tick();
    EXPECT_EQ(mailer.steps, 1);
}

TEST_F(SchedulerTest, BurstEndsOnceMoreThanTenMillisecondsPassedAlsoAcrossTheTickWrap) {
    clock.setTick(0xFFFFFFF0u);
    // Each step takes 3 ms: after the fourth, 12 ms have passed.
    mailer.onStep = [this](int) { clock.advanceMs(3); };
    scheduler.Tick();
    EXPECT_EQ(mailer.steps, 4);
}

TEST_F(SchedulerTest, PausedMailerMakesNoStepButParsersArePolledAndSetupAutoSaved) {
    MailerRunning = false;
    options::AutoSave = true;
    options::AutoSavePeriod = 5;
    options::SetupName = "/somewhere/setup.xml";
    TcvAccount* account = new TcvAccount;
    setup.AddAccount(account);
    TcvGroup* group = new TcvGroup;
    setup.AddGroup(group);
    CountingParser* parser = addParser(group, account, true);
    int saves = 0, polledRefreshes = 0;
    scheduler.OnSave = [&] { ++saves; };
    scheduler.OnPolled = [&] { ++polledRefreshes; };

    clock.setNow(clock.now() + 6 * Minute);
    scheduler.Tick();
    EXPECT_EQ(mailer.steps, 0);
    EXPECT_EQ(parser->checks, 1);
    EXPECT_EQ(polledRefreshes, 1);
    EXPECT_EQ(saves, 1);
    EXPECT_DOUBLE_EQ(scheduler.LastAutoSave, clock.now());
}

TEST_F(SchedulerTest, ParsersArePolledOnlyWhenStartedWithAnAccountAndTheirIntervalHasPassed) {
    TcvAccount* account = new TcvAccount;
    account->CheckInterval = 60;
    setup.AddAccount(account);
    TcvGroup* first = new TcvGroup;
    TcvGroup* second = new TcvGroup;
    setup.AddGroup(first);
    setup.AddGroup(second);
    CountingParser* started = addParser(first, account, true);
    CountingParser* stopped = addParser(first, account, false);
    CountingParser* noAccount = addParser(second, nullptr, true);
    CountingParser* later = addParser(second, account, true);
    int refreshes = 0;
    scheduler.OnPolled = [&] { ++refreshes; };

    scheduler.Tick();  // LastCheck zero: checked at once
    EXPECT_EQ(started->checks, 1);
    EXPECT_EQ(later->checks, 1);
    EXPECT_EQ(stopped->checks, 0);
    EXPECT_EQ(noAccount->checks, 0);
    EXPECT_EQ(refreshes, 1);

    clock.setNow(clock.now() + 59.0 / 86400);
    scheduler.Tick();
    EXPECT_EQ(started->checks, 1);
    EXPECT_EQ(refreshes, 1);

    clock.setNow(clock.now() + 2.0 / 86400);
    scheduler.Tick();
    EXPECT_EQ(started->checks, 2);
    EXPECT_EQ(later->checks, 2);
    EXPECT_EQ(refreshes, 2);
}

TEST_F(SchedulerTest, FailingMailboxCheckEndsTheTickAndIsNotRetriedBeforeItsInterval) {
    MailerRunning = false;
    options::AutoSave = true;
    options::SetupName = "/somewhere/setup.xml";
    TcvAccount* account = new TcvAccount;
    setup.AddAccount(account);
    TcvGroup* group = new TcvGroup;
    setup.AddGroup(group);
    CountingParser* failing = addParser(group, account, true);
    failing->fail = true;
    CountingParser* next = addParser(group, account, true);
    int saves = 0, refreshes = 0;
    scheduler.OnSave = [&] { ++saves; };
    scheduler.OnPolled = [&] { ++refreshes; };
    clock.setNow(clock.now() + 20 * Minute);

    EXPECT_THROW(scheduler.Tick(), std::runtime_error);
    EXPECT_FALSE(scheduler.InTimer);
    EXPECT_EQ(next->checks, 0);
    EXPECT_EQ(refreshes, 0);
    EXPECT_EQ(saves, 0);

    scheduler.Tick();
    EXPECT_EQ(failing->checks, 1);
    EXPECT_EQ(next->checks, 1);
    EXPECT_EQ(saves, 1);
}

TEST_F(SchedulerTest, AutoSavePeriodZeroCountsAsOneMinute) {
    MailerRunning = false;
    options::AutoSave = true;
    options::AutoSavePeriod = 0;
    options::SetupName = "/somewhere/setup.xml";
    int saves = 0;
    scheduler.OnSave = [&] { ++saves; };

    clock.setNow(clock.now() + 0.9 * Minute);
    scheduler.Tick();
    EXPECT_EQ(saves, 0);
    clock.setNow(clock.now() + 0.2 * Minute);
    scheduler.Tick();
    EXPECT_EQ(saves, 1);
    scheduler.Tick();
    EXPECT_EQ(saves, 1);
}

TEST_F(SchedulerTest, AutoSaveWithoutFileNameOrTurnedOffDoesNothing) {
    MailerRunning = false;
    int saves = 0;
    scheduler.OnSave = [&] { ++saves; };
    options::AutoSave = true;
    options::AutoSavePeriod = 1;
    clock.setNow(clock.now() + 5 * Minute);
    scheduler.Tick();
    scheduler.Tick();
    EXPECT_EQ(saves, 0);

    options::SetupName = "/somewhere/setup.xml";
    options::AutoSave = false;
    scheduler.Tick();
    EXPECT_EQ(saves, 0);
}

TEST_F(SchedulerTest, FailingAutoSaveWaitsAnotherPeriod) {
    MailerRunning = false;
    options::AutoSave = true;
    options::AutoSavePeriod = 1;
    options::SetupName = "/read-only/setup.xml";
    int saves = 0;
    scheduler.OnSave = [&] {
        ++saves;
        throw std::runtime_error("Cannot write");
    };
    clock.setNow(clock.now() + 2 * Minute);
    EXPECT_THROW(scheduler.Tick(), std::runtime_error);
    scheduler.Tick();
    EXPECT_EQ(saves, 1);
    clock.setNow(clock.now() + 1.5 * Minute);
    EXPECT_THROW(scheduler.Tick(), std::runtime_error);
    EXPECT_EQ(saves, 2);
}

TEST_F(SchedulerTest, PendingLoadRunsOnceAndBeforeTheStepsAndNestedTicksReturnAtOnce) {
    std::vector<std::string> order;
    scheduler.LoadPending = true;
    scheduler.OnLoad = [&] {
        order.push_back("load");
        // A modal report inside the load lets the timer fire again.
        scheduler.Tick();
        throw std::runtime_error("File not found");
    };
    mailer.onStep = [&](int) { order.push_back("step"); };
    EXPECT_THROW(scheduler.Tick(), std::runtime_error);
    EXPECT_EQ(order, std::vector<std::string>{"load"});
    EXPECT_FALSE(scheduler.LoadPending);
    EXPECT_FALSE(scheduler.InTimer);

    mailer.onStep = nullptr;
    scheduler.Tick();
    EXPECT_EQ(order.size(), 1u);
    EXPECT_EQ(mailer.steps, 1000);
}
