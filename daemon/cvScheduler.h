#pragma once
// The mailer timer's work for one tick, kept apart from the window so it can run headless: a
// bounded burst of mailer steps, the mailbox polls of started parsers and the periodic auto-save.
#include <functional>

class TcvSetup;
class TcvMailer;

class TcvScheduler {
public:
    // Bounds of one burst of steps: the window stays responsive at a 50 ms tick.
    static constexpr int MaxSteps = 1000;
    static constexpr unsigned MaxBurstMs = 10;

    TcvScheduler(TcvSetup& setup, TcvMailer& mailer);

    // One tick. Errors of the load, of a mailbox check or of the save end the tick and reach the
    // caller; InTimer is cleared in every case.
    void Tick();

    bool InTimer = false;
    bool LoadPending = false;
    // A setup another program writes: the tick only loads; nothing is sent, polled or saved.
    bool Passive = false;
    double LastAutoSave = 0;

    // Loads the setup named by SetupName (the window's load operation).
    std::function<void()> OnLoad;
    // Saves the setup to SetupName (the window's save operation).
    std::function<void()> OnSave;
    // At least one parser checked its mailbox in this tick.
    std::function<void()> OnPolled;

    // What the last tick did (read by the window's status and by tests).
    int LastStepCount = 0;
    int LastPollCount = 0;

private:
    void runSteps();
    int pollParsers();
    void autoSave();

    TcvSetup& setup_;
    TcvMailer& mailer_;
};
