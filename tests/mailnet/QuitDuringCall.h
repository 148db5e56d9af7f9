#pragma once
// Quitting the program in the middle of a network call, as closing the window would: the call runs
// under the event-processing anti-freeze and the application quits once ready() says the call
// waits. Tells how the call ended.
#include "mailtext/MailErrors.h"
#include "platform/AntiFreeze.h"

#include <QCoreApplication>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>

namespace mailnet {

struct QuitOutcome {
    // The text of the mail error the call ended with; empty when it ended without one.
    std::optional<std::string> error;
    bool timedOut = false;
};

inline QuitOutcome quitDuring(const std::function<bool()>& ready, const std::function<void()>& call,
                              const std::function<void()>& afterwards = {}) {
    int argc = 1;
    char name[] = "mailnet";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    platform::ScopedBlockingRunner runner(platform::eventProcessingRunner());
    QuitOutcome outcome;
    QTimer::singleShot(0, [&] {
        auto* watch = new QTimer(&app);
        QObject::connect(watch, &QTimer::timeout, [&, watch] {
            if (!ready()) return;
            watch->stop();
            QCoreApplication::exit(0);
        });
        watch->start(5);
        try {
            call();
        } catch (const mailtext::EMailTimeout& e) {
            outcome.timedOut = true;
            outcome.error = e.what();
        } catch (const mailtext::EMailError& e) {
            outcome.error = e.what();
        }
        if (afterwards) afterwards();
    });
    QCoreApplication::exec();
    return outcome;
}

}  // namespace mailnet
