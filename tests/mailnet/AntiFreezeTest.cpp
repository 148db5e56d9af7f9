#include "mailtext/MailErrors.h"
#include "mailtext/SmtpClient.h"
#include "platform/AntiFreeze.h"
#include "tests/mailnet/FaultServer.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

using namespace mailtext;

namespace {

SmtpSettings stallingServer(const mailnet::FaultServer& server) {
    SmtpSettings s;
    s.Host = "127.0.0.1";
    s.Port = server.port();
    s.Timeouts.ReplyMs = 600;
    return s;
}

// Connects to a server that greets and then never answers, counting timer ticks meanwhile.
int ticksDuringStalledConnect(bool withRunner) {
    mailnet::FaultServer server([](mailnet::FaultConnection& c) {
        c.send("220 slow ESMTP");
        c.readLine();
    });
    int ticks = 0;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    std::optional<platform::ScopedBlockingRunner> runner;
    if (withRunner) runner.emplace(platform::eventProcessingRunner());
    SmtpClient client(stallingServer(server));
    EXPECT_THROW(client.connect(), EMailTimeout);
    EXPECT_FALSE(client.connected());
    return ticks;
}

}  // namespace

TEST(AntiFreeze, QueuedEventsKeepRunningWhileAServerStalls) {
    int argc = 1;
    char name[] = "mailnet";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    // Inline, the waiting thread processes nothing until the call returns.
    EXPECT_EQ(ticksDuringStalledConnect(false), 0);
    EXPECT_GT(ticksDuringStalledConnect(true), 0);
}

TEST(AntiFreeze, ExceptionsAndResultsReachTheCaller) {
    int argc = 1;
    char name[] = "mailnet";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    platform::ScopedBlockingRunner runner(platform::eventProcessingRunner());
    int value = 0;
    platform::runBlocking([&] { value = 42; });
    EXPECT_EQ(value, 42);
    EXPECT_THROW(platform::runBlocking([] { throw EMailTimeout("slow"); }), EMailTimeout);
    // A call started by an event while another call waits runs to completion inside that wait:
    // the outer call only finishes once the nested one has run (or gives up after a while).
    std::atomic<bool> nestedDone{false};
    value = 1;
    QTimer::singleShot(0, [&] {
        platform::runBlocking([&] { value += 10; });
        nestedDone = true;
    });
    platform::runBlocking([&] {
        for (int i = 0; i < 500 && !nestedDone; ++i) QThread::msleep(10);
    });
    EXPECT_TRUE(nestedDone);
    EXPECT_EQ(value, 11);
}

TEST(AntiFreeze, WithoutAnApplicationCallsRunInline) {
    platform::ScopedBlockingRunner runner(platform::eventProcessingRunner());
    std::thread::id caller = std::this_thread::get_id(), ran;
    platform::runBlocking([&] { ran = std::this_thread::get_id(); });
    EXPECT_EQ(ran, caller);
}
