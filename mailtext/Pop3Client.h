#pragma once
// A POP3 connection for reading a mailbox. Nothing of the network library shows here.
#include "mailtext/Mail.h"
#include "mailtext/MailSecurity.h"
#include "mailtext/NetTimeouts.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace mailtext {

struct Pop3Settings {
    std::string Host;
    int Port = 110;
    std::string UserName;
    std::string Password;
    NetTimeouts Timeouts;
    TlsSettings Tls;
    // The largest mail (and the largest LIST or TOP reply) taken in; a larger one is read to its
    // end, dropped, and reported as EMailTooLarge while the session goes on.
    size_t MaxMailBytes = DefaultMaxMailBytes;
    static constexpr size_t DefaultMaxMailBytes = 50u << 20;
};

struct Pop3MessageSize {
    int Number = 0;
    long long Size = 0;
};

// Every call blocks through the anti-freeze and throws EMailError kinds. After a time-out, a
// broken connection or a malformed reply the client has already released the connection; after a
// "-ERR" reply it is still connected. Mails marked with deleteMessage are removed only by quit();
// release() and the destructor close without QUIT, so the server keeps them.
class Pop3Client {
public:
    explicit Pop3Client(Pop3Settings settings);
    ~Pop3Client();
    Pop3Client(const Pop3Client&) = delete;
    Pop3Client& operator=(const Pop3Client&) = delete;

    // Connects, secures the connection as Tls asks and logs in with USER and PASS; a refused login
    // throws EMailAuthError. With STLS asked for, a server that refuses it ends in
    // EMailSecurityError before the user name goes out; a refused certificate in
    // EMailCertificateError.
    void connect();
    bool connected() const;
    // STAT: the number of mails; a count outside 0..INT_MAX is a malformed reply.
    int messageCount();
    // LIST: every mail's number and size, leaving out lines with a number outside 1..INT_MAX or a
    // negative size; and the sum of the sizes.
    std::vector<Pop3MessageSize> listMessages();
    long long mailboxSize();
    long long messageSize(int number);
    // TOP n 0: a mail with only its header members filled. EMailTooLarge beyond MaxMailBytes.
    std::unique_ptr<Mail> retrieveHeader(int number);
    // RETR: the whole mail, and the raw text as it came (dot-stuffing undone). EMailTooLarge
    // beyond MaxMailBytes.
    std::unique_ptr<Mail> retrieve(int number);
    std::string retrieveRaw(int number);
    // DELE: marks the mail for deletion when the session ends with QUIT.
    void deleteMessage(int number);
    // QUIT (committing deletions) and close; the connection is gone afterwards even when QUIT fails.
    void quit();
    // Closes without QUIT: the server keeps mails marked for deletion.
    void release() noexcept;
    // Wakes a call of this client that waits on the server (from an event handler that runs during
    // the wait): the call fails at once as a lost connection, and so does any later one until the
    // next connect. Only the application's thread may call it; a connect still under way is not
    // reached.
    void interrupt() noexcept;

private:
    struct Session;
    std::string command(const std::string& step, const std::string& line);
    std::string multiLine(const std::string& step, const std::string& line, size_t lineLimit);
    template <typename Fn>
    void run(const std::string& step, Fn&& fn);

    Pop3Settings settings_;
    std::unique_ptr<Session> session_;
};

}  // namespace mailtext
