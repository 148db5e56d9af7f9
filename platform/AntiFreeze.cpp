#include "platform/AntiFreeze.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace platform {

namespace {

BlockingRunner& installedRunner() {
    static BlockingRunner runner;
    return runner;
}

struct Interrupters {
    std::mutex mutex;
    std::unordered_map<const void*, std::function<void()>> items;
    int interrupting = 0;
};

Interrupters& interrupters() {
    static Interrupters registry;
    return registry;
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
        while (!state->done.load()) {
            // Once the application quits, every event loop returns at once with -1: waiting on
            // would spin a core until the call's time-out. The call is woken up instead.
            if (loop.exec() == -1 && !state->done.load()) {
                InterruptionScope interrupting;
                worker.join();
                break;
            }
        }
        if (worker.joinable()) worker.join();
        if (state->error) std::rethrow_exception(state->error);
    };
}

bool registerInterrupter(const void* key, std::function<void()> interrupt) {
    Interrupters& r = interrupters();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.interrupting > 0) return false;
    r.items[key] = std::move(interrupt);
    return true;
}

void unregisterInterrupter(const void* key) {
    Interrupters& r = interrupters();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.items.erase(key);
}

bool interruptionUnderWay() {
    Interrupters& r = interrupters();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.interrupting > 0;
}

InterruptionScope::InterruptionScope() {
    Interrupters& r = interrupters();
    std::lock_guard<std::mutex> lock(r.mutex);
    ++r.interrupting;
    for (auto& [key, interrupt] : r.items) interrupt();
}

InterruptionScope::~InterruptionScope() {
    Interrupters& r = interrupters();
    std::lock_guard<std::mutex> lock(r.mutex);
    --r.interrupting;
}

ScopedBlockingRunner::ScopedBlockingRunner(BlockingRunner runner)
    : previous_(setBlockingRunner(std::move(runner))) {}

ScopedBlockingRunner::~ScopedBlockingRunner() { setBlockingRunner(std::move(previous_)); }

}  // namespace platform
