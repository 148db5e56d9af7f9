#pragma once
// The one source of the current local date-time and of the 32-bit millisecond tick.
// Tests install a ManualClock to set, advance and wrap both.
#include <cstdint>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Local date-time as days since 30 December 1899.
    virtual double now() const = 0;
    // Milliseconds since an arbitrary start, wrapping at 2^32.
    virtual uint32_t tickCount() const = 0;
};

class SystemClock : public Clock {
public:
    double now() const override;
    uint32_t tickCount() const override;
};

class ManualClock : public Clock {
public:
    explicit ManualClock(double now = 0, uint32_t tick = 0) : now_(now), tick_(tick) {}
    double now() const override { return now_; }
    uint32_t tickCount() const override { return tick_; }
    void setNow(double now) { now_ = now; }
    void setTick(uint32_t tick) { tick_ = tick; }
    // Advances both the tick (wrapping) and the date-time.
    void advanceMs(uint32_t ms);

private:
    double now_;
    uint32_t tick_;
};

// The clock in use; the system clock unless one was installed.
const Clock& clock();
// Installs a clock (not owned); nullptr restores the system clock.
void setClock(const Clock* clock);

inline double now() { return clock().now(); }
inline uint32_t tickCount() { return clock().tickCount(); }

// Installs a clock for the lifetime of the guard.
class ScopedClock {
public:
    explicit ScopedClock(const Clock& c) { setClock(&c); }
    ~ScopedClock() { setClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace platform
