#pragma once
// Every blocking network call goes through runBlocking, so that a user interface can keep
// processing its events while the call waits (the "anti-freeze"). Headless, the call simply runs
// inline; a UI installs a runner that moves the call to a worker thread.
#include <functional>

namespace platform {

using BlockingCall = std::function<void()>;
// Runs the call to completion and rethrows whatever it threw.
using BlockingRunner = std::function<void(const BlockingCall&)>;

// Runs the call through the installed runner, or inline when none is installed. Exceptions of the
// call reach the caller unchanged.
void runBlocking(const BlockingCall& call);

// Installs a runner; an empty one restores inline running. Returns the previous runner.
BlockingRunner setBlockingRunner(BlockingRunner runner);

// A runner for Qt programs (QtCore only): runs the call on a worker thread while the calling
// thread keeps processing its events, waking at least every idleMs milliseconds. Runs inline when
// there is no QCoreApplication or when it is used from a thread other than the application's.
// When the application quits during the wait, the registered resources are interrupted so that the
// call ends promptly (with the error of its interrupted resource) instead of waiting out its time-out.
BlockingRunner eventProcessingRunner(int idleMs = 250);

// Blocking calls that must end when the program quits in the middle of their wait. The layer that
// owns a blocking resource (a socket) registers how to interrupt it, under a key of its own, for as
// long as the resource lives; the interrupter runs on another thread and must only wake the
// waiting call (shut the socket down). Registering returns false while an interruption is under
// way: the caller should give up at once instead of starting to wait.
bool registerInterrupter(const void* key, std::function<void()> interrupt);
void unregisterInterrupter(const void* key);
bool interruptionUnderWay();

// Interrupts every registered resource, and refuses new registrations, for the guard's lifetime.
class InterruptionScope {
public:
    InterruptionScope();
    ~InterruptionScope();
    InterruptionScope(const InterruptionScope&) = delete;
    InterruptionScope& operator=(const InterruptionScope&) = delete;
};

// Installs the given runner for the guard's lifetime and restores the previous one afterwards.
class ScopedBlockingRunner {
public:
    explicit ScopedBlockingRunner(BlockingRunner runner);
    ~ScopedBlockingRunner();
    ScopedBlockingRunner(const ScopedBlockingRunner&) = delete;
    ScopedBlockingRunner& operator=(const ScopedBlockingRunner&) = delete;

private:
    BlockingRunner previous_;
};

}  // namespace platform
