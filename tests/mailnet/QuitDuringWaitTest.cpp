// Quitting the program while a network call waits must end the call at once, not leave the waiting
// loop spinning until the call's time-out.
#include "mailtext/MailErrors.h"
#include "mailtext/NetGuard.h"
#include "mailtext/SmtpClient.h"
#include "platform/AntiFreeze.h"
#include "tests/mailnet/FaultServer.h"
#include "tests/mailnet/QuitDuringCall.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace mailtext;

TEST(QuitDuringWait, AWaitingCallIsWokenWhenTheApplicationQuits) {
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
    const mailnet::QuitOutcome outcome = mailnet::quitDuring(
        [&] { return waiting.load(); },
        [&] {
            SmtpClient client(settings);
            client.connect();
        },
        [&] {
            // A new call while the program is still closing gives up at once.
            try {
                SmtpClient again(settings);
                again.connect();
            } catch (const EMailError&) {
            }
        });
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_FALSE(outcome.timedOut) << *outcome.error;
    EXPECT_EQ(outcome.error->rfind("SMTP greeting", 0), 0u) << *outcome.error;
    EXPECT_FALSE(platform::interruptionUnderWay());
}

TEST(QuitDuringWait, AnythingThrownInANetworkStepBecomesAMailError) {
    EXPECT_THROW(net::guarded("Step", [] { throw 42; }), EMailError);
}
