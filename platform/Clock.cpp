#include "platform/Clock.h"

#include "platform/DateTime.h"

#include <ctime>

namespace platform {

namespace {
const SystemClock systemClock;
const Clock* current = &systemClock;
}  // namespace

double SystemClock::now() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm local{};
    const time_t secs = ts.tv_sec;
    localtime_r(&secs, &local);
    return encodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                          static_cast<int>(ts.tv_nsec / 1000000));
}

uint32_t SystemClock::tickCount() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void ManualClock::advanceMs(uint32_t ms) {
    tick_ += ms;
    now_ += ms / MSecsPerDay;
}

const Clock& clock() { return *current; }

void setClock(const Clock* c) { current = c ? c : &systemClock; }

}  // namespace platform
