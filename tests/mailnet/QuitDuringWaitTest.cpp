// Quitting the program while a network call waits must end the call at once, not leave the waiting
// loop spinning until the call's time-out.
#include "mailtext/MailErrors.h"
#include "mailtext/NetGuard.h"
#include "mailtext/SmtpClient.h"
#include "platform/AntiFreeze.h"
#include "tests/mailnet/FaultServer.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>

using namespace mailtext;

TEST(QuitDuringWait, AWaitingCallIsWokenWhenTheApplicationQuits) {
    int argc = 1;
    char name[] = "mailnet";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    // Greets, then never answers: the client waits for the reply to its EHLO.
    std::atomic<bool> waiting{false};
    mailnet::FaultServer server([&](mailnet::FaultConnection& c) {
        c.send("220 silent ESMTP");
        c.readLine();
        waiting = true;
    });
    SmtpSettings settings;
    settings.Host = "127.0.0.1";
    settings.Port = server.port();
    settings.Timeouts.ReplyMs = 600000;  // far beyond the test's own time limit
    platform::ScopedBlockingRunner runner(platform::eventProcessingRunner());
    std::optional<std::string> error;
    bool timedOut = false;
    QTimer::singleShot(0, [&] {
        // Quits from inside the wait, once the client waits for its reply, as the window's close would.
        auto* watch = new QTimer(&app);
        QObject::connect(watch, &QTimer::timeout, [&, watch] {
            if (!waiting) return;
            watch->stop();
            QCoreApplication::exit(0);
        });
        watch->start(5);
        SmtpClient client(settings);
        try {
            client.connect();
        } catch (const EMailTimeout& e) {
            timedOut = true;
            error = e.what();
        } catch (const EMailError& e) {
            error = e.what();
        }
        // A new call while the program is still closing gives up at once.
        try {
            SmtpClient again(settings);
            again.connect();
        } catch (const EMailError&) {
        }
    });
    QCoreApplication::exec();
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(timedOut) << *error;
    EXPECT_EQ(error->rfind("SMTP greeting", 0), 0u) << *error;
    EXPECT_FALSE(platform::interruptionUnderWay());
}

TEST(QuitDuringWait, AnythingThrownInANetworkStepBecomesAMailError) {
    EXPECT_THROW(net::guarded("Step", [] { throw 42; }), EMailError);
}
