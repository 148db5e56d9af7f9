#pragma once
// The mailer daemon's sweep: one Step looks at one contact and sends at most one due message.
#include "model/cvSetup.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace mailtext {
class SmtpClient;
}

// The sweep runs; cleared by the pause command and by a cancelled first-mail prompt.
extern bool MailerRunning;
// The user accepted the first-mail prompt; stays set for the rest of the process.
extern bool FirstMailWarned;

class EcvMailerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The user deleted the contact, message or account while the mail waited on the network: nothing
// was sent, and it is no bounce of the contact.
class EcvMailerCancelled : public EcvMailerError {
public:
    using EcvMailerError::EcvMailerError;
};

class TcvMailer {
public:
    explicit TcvMailer(TcvSetup* Setup);
    virtual ~TcvMailer();
    TcvMailer(const TcvMailer&) = delete;
    TcvMailer& operator=(const TcvMailer&) = delete;

    // One unit of sweep work. Never raises for a failed send.
    virtual void Step();
    // Personalises the message for the contact and sends it through the account. Raises on any
    // failure, after logging it.
    void SendToContact(TcvAccount* Account, TcvMessage* Message, TcvContact* Contact);
    // Sends one message to chosen contacts of its group, once each.
    void SendManual(const std::vector<TcvContact*>* Contacts, TcvMessage* Message);

    // Makes the unsubscribe operation send through temporary mailers.
    static void InstallTemporarySend();

    TcvAccount* CurrentAccount = nullptr;
    int32_t SentOnConnection = 0;
    int32_t ContactIndex = 0;
    int32_t GroupIndex = 0;
    TcvSetup* Setup = nullptr;
    std::unique_ptr<mailtext::SmtpClient> Smtp;
    TcvMailEvent OnSending;
    TcvMailEvent OnMailed;
    std::function<void(TcvMailer&)> OnPaused;
    uint32_t LastSendTick = 0;

private:
    bool TrySend(TcvGroup* group, TcvMessage* message, TcvContact* contact);
    void setCurrentAccount(TcvAccount* account);
    // Clears CurrentAccount (dropping its connection) when the account was deleted meanwhile.
    void forgetDeletedAccount();
    void dropConnection() noexcept;

    std::weak_ptr<const void> currentAccountAlive_;
};

// The first-mail prompt's text for an account name.
std::string FirstMailPromptText(const std::string& accountName);
