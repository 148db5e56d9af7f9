#include "daemon/cvHeadless.h"

#include "daemon/cvLogReplay.h"
#include "daemon/cvScheduler.h"
#include "daemon/cvSetupFile.h"
#include "mailer/cvMailer.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/AntiFreeze.h"
#include "platform/Clock.h"
#include "platform/Registry.h"
#include "platform/UiHooks.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <ostream>

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onStopSignal(int) { stopRequested = true; }

void note(const std::string& text) { AppendLogLine(LogFilePath(), "Notice: " + text); }

}  // namespace

void RequestHeadlessStop() { stopRequested = true; }

int RunHeadless(const std::string& setupPath, bool startParsers, std::ostream& out, std::ostream& err) {
    stopRequested = false;
    std::signal(SIGTERM, onStopSignal);
    std::signal(SIGINT, onStopSignal);

    TOptionsManager optionStore;
    options::RegisterOptions(optionStore);
    try {
        optionStore.LoadFromRegistry(options::RegistryBase);
    } catch (const std::exception& e) {
        err << "Options: " << e.what() << std::endl;
    }
    if (const std::string notice = platform::takeRegistryNotice(); !notice.empty()) err << notice << std::endl;

    platform::LockHolder holder;
    std::unique_ptr<platform::FileLock> lock;
    try {
        lock = LockSetupFile(setupPath, &holder);
    } catch (const std::exception& e) {
        err << e.what() << std::endl;
        return 1;
    }
    if (!lock) {
        err << "The setup " << setupPath << " is open in another copy of Vantrel (" << HolderText(holder)
            << "); not started." << std::endl;
        return 2;
    }

    SetLogFilePath(ProgramDataFolder() + "mailerdeamon.log");
    SetLogObserver([&out](const std::string& line) { out << line << std::endl; });
    struct Detach {
        ~Detach() {
            SetLogObserver(nullptr);
            platform::setUiHooks({});
        }
    } detach;

    TcvSetup setup;
    try {
        setup.LoadFromFile(setupPath);
    } catch (const std::exception& e) {
        err << "Cannot read the setup " << setupPath << ": " << e.what() << std::endl;
        return 1;
    }
    setup.Modified = false;
    // A run without a window keeps the saved name for the auto-save, whatever the window last had,
    // and saves at the auto-save period even where the window's option is off: nobody is there
    // to save by hand, and a server that goes down should lose at most one period.
    options::SetupName = setupPath;
    options::AutoSave = true;
    // Parsers are stopped after every load; a server run is there to do the list's work, so every
    // parser with an account starts, unless the run was told to leave them.
    if (startParsers) {
        for (int g = 0; g < setup.GroupCount(); ++g)
            for (int p = 0; p < setup.Groups(g)->ParserCount(); ++p)
                if (TcvParser* parser = setup.Groups(g)->Parsers(p); parser->Account) parser->Started = true;
    }

    // Nobody is there to answer: each question takes the answer that loses nothing, and says so.
    platform::UiHooks hooks;
    hooks.message = [](const std::string& text) { note(text); };
    hooks.confirm = [](const std::string& text) {
        note("answered Cancel to: " + text);
        return false;
    };
    hooks.processEvents = [] { QCoreApplication::processEvents(); };
    platform::setUiHooks(hooks);
    platform::ScopedBlockingRunner runner(platform::eventProcessingRunner());

    const auto logMailed = [](TcvMailer&, TcvContact& contact, TcvMessage& message, const std::string& subject,
                              const std::string& bodies) {
        if (!options::LogMailerActivity) return;
        const std::string group = contact.Group ? contact.Group->Code : std::string();
        AppendLogLine(
            LogFilePath(),
            MailedLogText(group, message.Code, static_cast<long long>(bodies.size() + subject.size()), contact.Email));
    };
    TcvMailer mailer(&setup);
    mailer.OnMailed = logMailed;
    setup.OnMailed = logMailed;
    setup.OnParserAction = [](TcvParser*, TcvContact* contact, TcvGroup* group, int action) {
        if (options::LogMailerActivity)
            AppendLogLine(LogFilePath(), ParserEventLogText(action, group ? group->Code : std::string(),
                                                            contact ? contact->Email : std::string()));
    };
    TcvMailer::InstallTemporarySend();
    // Starting the runner is the user's consent to send: no first-mail question.
    MailerRunning = true;
    FirstMailWarned = true;

    bool saveFailed = false;
    const auto save = [&] {
        try {
            SaveSetupFile(setup, setupPath);
            saveFailed = false;
        } catch (const std::exception& e) {
            saveFailed = true;
            AppendLogLine(LogFilePath(), std::string("Error! Cannot save the setup: ") + e.what());
        }
    };
    TcvScheduler scheduler(setup, mailer);
    scheduler.OnSave = save;
    scheduler.LastAutoSave = platform::now();

    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        // Also reached inside a network wait: quitting then wakes the waiting call.
        if (stopRequested) {
            timer.stop();
            QCoreApplication::exit(0);
            return;
        }
        try {
            scheduler.Tick();
        } catch (const std::exception& e) {
            AppendLogLine(LogFilePath(), std::string("Error! ") + e.what());
        }
    });
    timer.start();
    note("started on " + setupPath + (startParsers ? " with its parsers" : " without parsers"));
    QCoreApplication::exec();
    if (setup.Modified) save();
    note(saveFailed ? "stopped; the last save failed" : "stopped");
    return saveFailed ? 1 : 0;
}
