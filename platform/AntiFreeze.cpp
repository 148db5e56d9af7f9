#include "platform/AntiFreeze.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <exception>
#include <memory>
#include <thread>

namespace platform {

namespace {

BlockingRunner& installedRunner() {
    static BlockingRunner runner;
    return runner;
}

bool onApplicationThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace

void runBlocking(const BlockingCall& call) {
    // Copied so that a runner replaced during the call stays alive until it returns.
    BlockingRunner runner = installedRunner();
    if (runner) runner(call);
    else call();
}

BlockingRunner setBlockingRunner(BlockingRunner runner) {
    BlockingRunner previous = std::move(installedRunner());
    installedRunner() = std::move(runner);
    return previous;
}

BlockingRunner eventProcessingRunner(int idleMs) {
    return [idleMs](const BlockingCall& call) {
        if (!onApplicationThread()) {
            call();
            return;
        }
        // Shared with the worker, which may still be signalling when the loop has returned.
        struct State {
            std::atomic<bool> done{false};
            std::exception_ptr error;
        };
        auto state = std::make_shared<State>();
        QEventLoop loop;
        // The idle timer only guards against a lost wake-up; the worker normally ends the loop.
        QTimer idle;
        idle.setInterval(idleMs > 0 ? idleMs : 250);
        QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
            if (state->done.load()) loop.quit();
        });
        idle.start();
        std::thread worker([state, &call, &loop] {
            try {
                call();
            } catch (...) {
                state->error = std::current_exception();
            }
            state->done.store(true);
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
        // A nested call that finishes first may already have quit this loop's predecessor; keep
        // going until our own worker is done.
        while (!state->done.load()) loop.exec();
        worker.join();
        if (state->error) std::rethrow_exception(state->error);
    };
}

ScopedBlockingRunner::ScopedBlockingRunner(BlockingRunner runner)
    : previous_(setBlockingRunner(std::move(runner))) {}

ScopedBlockingRunner::~ScopedBlockingRunner() { setBlockingRunner(std::move(previous_)); }

}  // namespace platform
