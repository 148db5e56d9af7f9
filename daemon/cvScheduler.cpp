#include "daemon/cvScheduler.h"

#include "mailer/cvMailer.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/Clock.h"
#include "platform/UiHooks.h"

#include <algorithm>
#include <cmath>

namespace {

// The distance between two readings of the wrapping millisecond tick.
uint32_t tickDistance(uint32_t a, uint32_t b) {
    const uint32_t d = a - b;
    return d > 0x80000000u ? 0u - d : d;
}

}  // namespace

TcvScheduler::TcvScheduler(TcvSetup& setup, TcvMailer& mailer) : setup_(setup), mailer_(mailer) {}

void TcvScheduler::Tick() {
    if (InTimer) return;
    InTimer = true;
    struct Clear {
        bool& flag;
        ~Clear() { flag = false; }
    } clear{InTimer};
    LastStepCount = 0;
    LastPollCount = 0;

    if (LoadPending) {
        LoadPending = false;
        if (OnLoad) OnLoad();
    }
    if (Passive) return;
    if (MailerRunning) runSteps();
    LastPollCount = pollParsers();
    if (LastPollCount > 0 && OnPolled) OnPolled();
    autoSave();
}

void TcvScheduler::runSteps() {
    const uint32_t t0 = platform::tickCount();
    for (;;) {
        mailer_.Step();
        ++LastStepCount;
        if (tickDistance(platform::tickCount(), t0) > MaxBurstMs || LastStepCount >= MaxSteps) break;
        platform::yieldProcessor();
    }
}

int TcvScheduler::pollParsers() {
    int polled = 0;
    // Positions are re-checked at every turn: a mailbox check lets user commands run, which may
    // add or delete groups and parsers meanwhile.
    for (int g = 0; g < setup_.GroupCount(); ++g) {
        TcvGroup* group = setup_.Groups(g);
        for (int p = 0; group && p < group->ParserCount(); ++p) {
            TcvParser* parser = group->Parsers(p);
            if (!parser || !parser->Account || !parser->Started) continue;
            if (std::fabs(platform::now() - parser->LastCheck) <= parser->CheckIntervalDays()) continue;
            const std::weak_ptr<const void> groupAlive = group->Alive();
            ++polled;
            parser->CheckMailbox();
            if (groupAlive.expired()) break;
        }
    }
    return polled;
}

void TcvScheduler::autoSave() {
    if (!options::AutoSave) return;
    const double period = std::max<int32_t>(1, options::AutoSavePeriod);
    if ((platform::now() - LastAutoSave) * 24 * 60 <= period) return;
    // An untitled setup has nowhere to go; it is saved once it has a name.
    if (options::SetupName.empty()) return;
    // A failing save is retried after another period rather than at every tick.
    LastAutoSave = platform::now();
    if (OnSave) OnSave();
}
