#include "mailer/cvMailer.h"

#include "mailtext/Mail.h"
#include "mailtext/SmtpClient.h"
#include "options/OptionRefs.h"
#include "platform/Clock.h"
#include "platform/UiHooks.h"

#include <cstdio>

bool MailerRunning = false;
bool FirstMailWarned = false;

namespace {

constexpr const char* ProductName = "Vantrel";

bool alive(const std::weak_ptr<const void>& handle) { return !handle.expired(); }

// The distance between two readings of the wrapping millisecond tick.
uint32_t tickDistance(uint32_t a, uint32_t b) {
    const uint32_t d = a - b;
    return d > 0x80000000u ? 0u - d : d;
}

}  // namespace

std::string FirstMailPromptText(const std::string& accountName) {
    return std::string(ProductName) + "'s deamon is about to mail its first email using account " + accountName +
           ".\rHit [OK] if that is fine with you, otherwise [Cancel].\r\rYou can skip this prompt next time by "
           "unchecking \"Warn before sending first mail\"\ron the \"Options\" tab.\r\rAll mailing activity is "
           "displayed on the status bar and in the logfile.";
}

TcvMailer::TcvMailer(TcvSetup* setup) : Setup(setup) {}

TcvMailer::~TcvMailer() { dropConnection(); }

void TcvMailer::InstallTemporarySend() {
    SetTemporarySend([](TcvSetup* setup, TcvAccount* account, TcvMessage* message, TcvContact* contact) {
        TcvMailer mailer(setup);
        if (setup) {
            mailer.OnSending = setup->OnSending;
            mailer.OnMailed = setup->OnMailed;
        }
        mailer.SendToContact(account, message, contact);
    });
}

void TcvMailer::setCurrentAccount(TcvAccount* account) {
    CurrentAccount = account;
    currentAccountAlive_ = account ? account->Alive() : std::weak_ptr<const void>();
}

void TcvMailer::forgetDeletedAccount() {
    if (CurrentAccount && !alive(currentAccountAlive_)) {
        dropConnection();
        setCurrentAccount(nullptr);
    }
}

void TcvMailer::dropConnection() noexcept {
    if (Smtp) Smtp->drop();
    Smtp.reset();
}

void TcvMailer::Step() {
    if (!Setup) return;
    forgetDeletedAccount();
    if (CurrentAccount && CurrentAccount->SendPause > 0 &&
        tickDistance(platform::tickCount(), LastSendTick) < static_cast<uint32_t>(CurrentAccount->SendPause))
        return;
    if (GroupIndex >= Setup->GroupCount()) GroupIndex = 0;
    TcvGroup* group = Setup->Groups(GroupIndex);
    if (!group) {
        ++GroupIndex;
        return;
    }
    if (ContactIndex >= group->ContactCount()) {
        ContactIndex = 0;
        ++GroupIndex;
        return;
    }
    if (group->Account != CurrentAccount) setCurrentAccount(nullptr);
    TcvContact* contact = group->Contacts(ContactIndex);
    // A group without an account cannot send: its contacts are passed over rather than recorded
    // as served.
    if (!contact || !group->Account || !contact->HasValidEmail() || !contact->AllowsMail()) {
        ++ContactIndex;
        return;
    }
    const std::weak_ptr<const void> groupAlive = group->Alive();
    const std::weak_ptr<const void> contactAlive = contact->Alive();
    for (int i = 0; i < group->MessageCount(); ++i) {
        TcvMessage* message = group->Messages(i);
        if (message->Status == TcvMessageStatus::Stopped) continue;
        if (message->Mode == TcvMessageMode::OneTime) {
            if (message->Status == TcvMessageStatus::Live) {
                if (TrySend(group, message, contact)) return;
                if (!alive(groupAlive) || !alive(contactAlive)) return;
            }
            if (ContactIndex == group->ContactCount() - 1 && i < group->MessageCount() &&
                group->Messages(i) == message)
                message->CheckAllSent();
        } else if (message->Mode == TcvMessageMode::Triggered && message->Trigger == TcvTrigger::OnJoin) {
            const double d = message->TriggerDelay();
            const double e = platform::now() - contact->Joined;
            if (d < e && e < 1.5 * d) {
                if (TrySend(group, message, contact)) return;
                if (!alive(groupAlive) || !alive(contactAlive)) return;
            }
        }
    }
    ++ContactIndex;
}

bool TcvMailer::TrySend(TcvGroup* group, TcvMessage* message, TcvContact* contact) {
    const std::string code = message->Code;
    if (contact->FindHistory(code)) return false;
    if (!MailerRunning) return false;
    const std::weak_ptr<const void> contactAlive = contact->Alive();
    const std::weak_ptr<const void> messageAlive = message->Alive();
    const std::weak_ptr<const void> groupAlive = group->Alive();
    if (options::WarnBeforeFirstMail && !FirstMailWarned) {
        const std::string accountName = group->Account ? group->Account->Name : std::string();
        if (!platform::confirmOkCancel(FirstMailPromptText(accountName))) {
            MailerRunning = false;
            if (OnPaused) OnPaused(*this);
            return false;
        }
        FirstMailWarned = true;
        // The prompt let the user work meanwhile.
        if (!alive(contactAlive) || !alive(messageAlive) || !alive(groupAlive)) return false;
    }
    try {
        SendToContact(group->Account, message, contact);
    } catch (const EcvMailerCancelled&) {
        return false;
    } catch (const std::exception&) {
        if (alive(contactAlive)) contact->SetBounces(contact->Bounces + 1);
        return false;
    }
    if (alive(contactAlive)) contact->AddHistory(code, platform::now());
    platform::yieldProcessor();
    return true;
}

void TcvMailer::SendToContact(TcvAccount* account, TcvMessage* message, TcvContact* contact) {
    if (!contact) return;
    if (contact->Frozen || contact->Unsubscribed) throw EcvMailerError("Contact does not allow email");
    if (!message) return;
    const std::string subject = contact->Personalise(message->Subject);
    const std::string plain = contact->Personalise(message->BodyPlain);
    const std::string html = contact->Personalise(message->BodyHtml);
    const std::string bodies = plain + html;
    // Kept for the error line: the objects may be deleted while the transfer waits on the network.
    const std::string groupCode = contact->Group ? contact->Group->Code : std::string();
    const std::string messageCode = message->Code;
    const std::weak_ptr<const void> contactAlive = contact->Alive();
    const std::weak_ptr<const void> messageAlive = message->Alive();
    const std::weak_ptr<const void> accountAlive = account ? account->Alive() : std::weak_ptr<const void>();
    // Every wait on the network and every event handler may let the user delete what this mail
    // uses: checked after each of them before anything is touched again.
    const auto stillThere = [&](bool accountNeeded) {
        if (!alive(contactAlive) || !alive(messageAlive))
            throw EcvMailerCancelled("The contact or message was deleted while sending");
        if (!accountNeeded) return;
        forgetDeletedAccount();
        if (!CurrentAccount) throw EcvMailerCancelled("The account was deleted while sending");
    };
    try {
        forgetDeletedAccount();
        if (!CurrentAccount && Smtp) {
            Smtp->quit();
            Smtp.reset();
            stillThere(false);
        }
        if (!Smtp) {
            if (account && !alive(accountAlive)) throw EcvMailerCancelled("The account was deleted while sending");
            setCurrentAccount(account);
            if (!account) throw EcvMailerError("The group has no account to send with");
            Smtp = std::make_unique<mailtext::SmtpClient>(SmtpSettingsOf(*account));
            Smtp->connect();
            stillThere(true);
        }
        mailtext::Mail mail;
        if (OnSending) {
            OnSending(*this, *contact, *message, subject, bodies);
            stillThere(true);
        }
        ComposeMail(mail, *contact, *message, CurrentAccount, subject, plain, html);
        const uint32_t t0 = platform::tickCount();
        Smtp->send(mail);
        const uint32_t t1 = platform::tickCount();
        const bool contactLives = alive(contactAlive);
        const bool messageLives = alive(messageAlive);
        if (t0 < t1 && contactLives) {
            contact->TotalDuration += static_cast<int32_t>(t1 - t0);
            contact->TotalBytes += static_cast<int32_t>(mail.bodyText().size() + subject.size());
        }
        if (messageLives) ++message->SendCount;
        LastSendTick = t1;
        if (OnMailed && contactLives && messageLives) OnMailed(*this, *contact, *message, subject, bodies);
        ++SentOnConnection;
        forgetDeletedAccount();
        if (!CurrentAccount || SentOnConnection >= CurrentAccount->SendReuse) {
            if (Smtp) Smtp->quit();
            Smtp.reset();
            SentOnConnection = 0;
        }
    } catch (const std::exception& e) {
        dropConnection();
        AppendLogLine(LogFilePath(), "Error! " + groupCode + " " + messageCode + " " + e.what());
        throw;
    }
}

void TcvMailer::SendManual(const std::vector<TcvContact*>* contacts, TcvMessage* message) {
    if (!contacts || !message || !message->Group) return;
    const std::weak_ptr<const void> messageAlive = message->Alive();
    std::vector<std::pair<TcvContact*, std::weak_ptr<const void>>> chosen;
    for (TcvContact* c : *contacts)
        if (c) chosen.emplace_back(c, c->Alive());
    const std::string code = message->Code;
    for (auto& [contact, contactAlive] : chosen) {
        if (!MailerRunning) {
            platform::showMessage("The mailer was paused successfully. No more messages will be sent\rin this sweep.");
            return;
        }
        if (!alive(messageAlive) || !message->Group) return;
        if (!alive(contactAlive)) continue;
        TcvGroup* group = message->Group;
        if (group->IndexOfContact(contact) < 0 || contact->FindHistory(code)) continue;
        try {
            SendToContact(group->Account, message, contact);
        } catch (const EcvMailerCancelled&) {
        } catch (const std::exception&) {
            if (alive(contactAlive)) contact->SetBounces(contact->Bounces + 1);
        }
        platform::processEvents();
        if (alive(contactAlive)) contact->AddHistory(code, platform::now());
    }
}
