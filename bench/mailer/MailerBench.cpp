// The cost of one sweep step over a large group whose contacts already have every message.
#include "mailer/cvMailer.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::unique_ptr<TcvSetup> servedSetup(int contacts, int messages) {
    auto setup = std::make_unique<TcvSetup>();
    auto* account = new TcvAccount;
    account->SendPause = 0;
    setup->AddAccount(account);
    auto* group = new TcvGroup;
    setup->AddGroup(group);
    group->Account = account;
    for (int m = 0; m < messages; ++m) {
        auto* message = new TcvMessage;
        group->AddMessage(message);
        message->SetTitle("Message " + std::to_string(m));
        message->Status = TcvMessageStatus::Live;
        message->Mode = m % 2 ? TcvMessageMode::Triggered : TcvMessageMode::OneTime;
        message->TriggerUnit = TcvTriggerUnit::Days;
    }
    for (int c = 0; c < contacts; ++c) {
        auto* contact = new TcvContact;
        contact->Email = "user" + std::to_string(c) + "@example" + std::to_string(c % 50) + ".com";
        group->AddContact(contact);
        for (int m = 0; m < messages; ++m) contact->AddHistory(group->Messages(m)->Code, 40000);
    }
    return setup;
}

void BM_MailerStepNothingDue(benchmark::State& state) {
    auto setup = servedSetup(static_cast<int>(state.range(0)), 10);
    // Keep the one-time messages Live so every step looks at all of them.
    TcvMailer mailer(setup.get());
    MailerRunning = true;
    for (auto _ : state) {
        mailer.Step();
        if (setup->Groups(0)->Messages(0)->Status != TcvMessageStatus::Live) {
            state.PauseTiming();
            for (int m = 0; m < setup->Groups(0)->MessageCount(); ++m)
                setup->Groups(0)->Messages(m)->Status = TcvMessageStatus::Live;
            state.ResumeTiming();
        }
    }
}

}  // namespace

BENCHMARK(BM_MailerStepNothingDue)->Arg(1000)->Arg(100000)->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
