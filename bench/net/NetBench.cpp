// End-to-end speed of the mail code against Python's standard clients on the same local servers:
//  - sending: the mailer's sweep sends N mails through aiosmtpd, and smtplib sends the same N
//    composed mails over the same port with the same login and connection reuse;
//  - mailbox: a Subscribe parser's CheckMailbox over N subscription mails in dovecot, and poplib
//    retrieving the same N mails (without deleting them).
// The servers are started and stopped here (scripts/mailservers), also when a run fails.
//
// Sending uses the AUTH LOGIN port with the servers' login; the mailer's time includes composing
// each mail, while smtplib gets them composed (by ComposeMail and MessageToText) beforehand.
// Besides wall times, both sides report their own processor time.
//
//  - bounces: a DeliveryReport parser's CheckMailbox over N bounces of four real shapes against a
//    group of 100 000 contacts, and a Subscribe parser's over N subscription mails against a group
//    of the same size.
//
// With --tls, sending goes over STARTTLS (smtplib's starttls()) and the mailbox is read over
// POP3S (poplib's POP3_SSL), both trusting the servers' throw-away authority.
//
// Usage: corvane_net_bench [--mails N] [--runs R] [--only send|mailbox|bounces] [--keep-maildir]
//        [--contacts N] [--tls]
#include "mailer/cvMailer.h"
#include "mailtext/IdMessageHelpers.h"
#include "mailtext/Mail.h"
#include "mailtext/Pop3Client.h"
#include "options/OptionRefs.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string ScriptsDir = CORVANE_MAILSERVERS_DIR;
const std::string PeersScript = std::string(CORVANE_NETBENCH_DIR) + "/python_peers.py";
const std::string Python = "/usr/bin/python3";

struct Options {
    int mails = 1000;
    int runs = 3;
    std::string only;
    // Sending: also time one run with the previous run's mails left in the Maildir.
    bool keepMaildir = false;
    // Size of the group the bounces are checked against.
    int contacts = 100000;
    bool tls = false;
};

// Sending over STARTTLS and reading over POP3S instead of in clear (--tls).
bool UseTls = false;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double processCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Wall time, and the processor time of the client itself: on a shared machine the second shows
// the client's own cost when the first is blurred by other work.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

class Stopwatch {
public:
    Timing elapsed() const { return {secondsSince(wall_), processCpuSeconds() - cpu_}; }

private:
    Clock::time_point wall_ = Clock::now();
    double cpu_ = processCpuSeconds();
};

std::vector<double> walls(const std::vector<Timing>& t) {
    std::vector<double> v;
    for (const Timing& x : t) v.push_back(x.wall);
    return v;
}

std::vector<double> cpus(const std::vector<Timing>& t) {
    std::vector<double> v;
    for (const Timing& x : t) v.push_back(x.cpu);
    return v;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// Paths made here hold only characters that need no quoting, but quote anyway.
std::string shellQuoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

// Runs a shell command and returns its standard output; throws when it fails.
std::string run(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run: " + command);
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = ::pclose(pipe);
    if (status != 0) throw std::runtime_error("failed (status " + std::to_string(status) + "): " + command + "\n" + out);
    return out;
}

// "key=value" lines of a peer's output.
std::map<std::string, std::string> keyValues(const std::string& text) {
    std::map<std::string, std::string> v;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) v[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return v;
}

// Commands built before the servers start, where a signal handler can reach them: stopping the
// servers, and that plus removing the work folder for an interrupted run.
char StopCommand[2048];
char StopAndCleanCommand[4096];

void stopOnSignal(int sig) {
    // Only async-signal-safe calls: fork and exec the stop script, then leave.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", StopAndCleanCommand, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    ::_exit(128 + sig);
}

class MailServers {
public:
    explicit MailServers(const std::string& envFile) : envFile_(envFile) {
        const std::string stopCommand = "bash " + shellQuoted(ScriptsDir + "/stop.sh") + " " + shellQuoted(envFile_) + " >/dev/null 2>&1";
        std::snprintf(StopCommand, sizeof StopCommand, "%s", stopCommand.c_str());
        // The env file lives in the run's own work folder.
        const std::string clean = stopCommand + "; rm -rf " + shellQuoted(fs::path(envFile_).parent_path().string());
        std::snprintf(StopAndCleanCommand, sizeof StopAndCleanCommand, "%s", clean.c_str());
        std::signal(SIGINT, stopOnSignal);
        std::signal(SIGTERM, stopOnSignal);
        std::signal(SIGHUP, stopOnSignal);
        started_ = true;
        // A constructor that throws gets no destructor call: stop here what may have started.
        try {
            run("bash " + shellQuoted(ScriptsDir + "/start.sh") + " " + shellQuoted(envFile_) + " </dev/null 2>&1");
            std::ifstream in(envFile_);
            std::stringstream text;
            text << in.rdbuf();
            values_ = keyValues(text.str());
            for (const char* key : {"RUN_DIR", "SMTP_AUTH_PORT", "SMTP_OPEN_PORT", "POP3_PORT", "SMTP_LOGIN",
                                    "SMTP_PASSWORD", "MAILBOX_PASSWORD"})
                if (values_[key].empty()) throw std::runtime_error(std::string("the servers wrote no ") + key);
        } catch (...) {
            stop();
            throw;
        }
    }
    ~MailServers() { stop(); }
    MailServers(const MailServers&) = delete;
    MailServers& operator=(const MailServers&) = delete;

    void stop() noexcept {
        if (!started_) return;
        started_ = false;
        if (std::system(StopCommand) != 0) std::cerr << "stopping the mail servers failed\n";
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
    }

    std::string value(const std::string& key) const { return values_.at(key); }
    int port(const std::string& key) const { return std::stoi(value(key)); }
    fs::path maildir(const std::string& user) const { return fs::path(value("RUN_DIR")) / "mail" / user; }

private:
    std::string envFile_;
    bool started_ = false;
    std::map<std::string, std::string> values_;
};

size_t filesIn(const fs::path& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) ++n;
    return n;
}

size_t mailsIn(const fs::path& maildir) { return filesIn(maildir / "new") + filesIn(maildir / "cur"); }

void emptyMaildir(const fs::path& maildir) {
    for (const char* sub : {"new", "cur", "tmp"})
        for (const auto& e : fs::directory_iterator(maildir / sub)) fs::remove(e.path());
}

const char* const SendUser = "user9";

struct SendSetup {
    std::unique_ptr<TcvSetup> setup;
    TcvAccount* account = nullptr;
    TcvGroup* group = nullptr;
    TcvMessage* message = nullptr;
};

// One account on the servers' AUTH LOGIN port, one group, one live one-time message of about a
// kilobyte with personalisation, and contacts whose local part is the mailbox every mail lands in.
SendSetup makeSendSetup(const MailServers& servers, int contacts) {
    SendSetup s;
    s.setup = std::make_unique<TcvSetup>();
    s.account = new TcvAccount;
    s.account->SetName("Bench");
    s.account->ServerName = "127.0.0.1";
    s.account->PortSmtp = servers.port(UseTls ? "SMTP_STARTTLS_PORT" : "SMTP_AUTH_PORT");
    s.account->SecuritySmtp = UseTls ? 1 : 0;
    s.account->Authentication = TcvAuthentication::Login;
    s.account->UserName = servers.value("SMTP_LOGIN");
    s.account->Password = servers.value("SMTP_PASSWORD");
    s.account->Sender = "Vantrel Bench <news@bench.example.com>";
    s.account->SendPause = 0;
    s.account->SendReuse = 100;
    s.setup->AddAccount(s.account);
    s.group = new TcvGroup;
    s.setup->AddGroup(s.group);
    s.group->SetName("Newsletter");
    s.group->SetCode("NEW");
    s.group->Account = s.account;
    s.message = new TcvMessage;
    s.group->AddMessage(s.message);
    s.message->SetTitle("Welcome");
    s.message->SetCode("WEL");
    s.message->Subject = "Welcome to %GroupName%, %FirstName%";
    std::string body = "Dear %FullName%,\r\n\r\nThank you for joining %GroupName% with %Email%.\r\n\r\n";
    for (int i = 0; i < 12; ++i)
        body += "Line " + std::to_string(i) +
                " of the newsletter: some ordinary text to give the mail a realistic size.\r\n";
    body += "\r\nKind regards,\r\nThe %GroupName% team\r\n";
    s.message->BodyPlain = body;
    s.message->Mode = TcvMessageMode::OneTime;
    s.message->Status = TcvMessageStatus::Live;
    for (int c = 0; c < contacts; ++c) {
        auto* contact = new TcvContact;
        char domain[32];
        std::snprintf(domain, sizeof domain, "d%04d.example.com", c);
        contact->Email = std::string(SendUser) + "@" + domain;
        contact->FirstName = "First" + std::to_string(c);
        contact->LastName = "Last";
        s.group->AddContact(contact);
        if (!contact->HasValidEmail()) throw std::runtime_error("the sweep would pass over " + contact->Email);
    }
    return s;
}

// The mailer's sweep until every contact has the message.
Timing sendWithMailer(const MailServers& servers, int mails) {
    SendSetup s = makeSendSetup(servers, mails);
    TcvMailer mailer(s.setup.get());
    int mailed = 0;
    mailer.OnMailed = [&](TcvMailer&, TcvContact&, TcvMessage&, const std::string&, const std::string&) { ++mailed; };
    MailerRunning = true;
    // Two steps a contact when all goes well; the bound only stops a sweep that no longer sends.
    const long maxSteps = 4L * mails + 100;
    const Stopwatch watch;
    long steps = 0;
    while (mailed < mails && steps < maxSteps) {
        mailer.Step();
        ++steps;
    }
    const Timing timing = watch.elapsed();
    MailerRunning = false;
    int served = 0, bounced = 0;
    for (int c = 0; c < s.group->ContactCount(); ++c) {
        if (s.group->Contacts(c)->FindHistory(s.message->Code)) ++served;
        bounced += s.group->Contacts(c)->Bounces;
    }
    if (served != mails || bounced)
        throw std::runtime_error("the mailer served " + std::to_string(served) + " of " + std::to_string(mails) +
                                 " contacts with " + std::to_string(bounced) + " failed sends");
    return timing;
}

// The raw text of every mail exactly as the mailer composes it, for the Python client.
void writeComposedMails(const MailServers& servers, int mails, const fs::path& dir) {
    fs::create_directories(dir);
    SendSetup s = makeSendSetup(servers, mails);
    std::ofstream envelope(dir / "envelope.txt", std::ios::binary);
    for (int c = 0; c < s.group->ContactCount(); ++c) {
        const TcvContact& contact = *s.group->Contacts(c);
        const TcvMessage& message = *s.message;
        mailtext::Mail mail;
        ComposeMail(mail, contact, message, s.account, contact.Personalise(message.Subject),
                    contact.Personalise(message.BodyPlain), contact.Personalise(message.BodyHtml));
        char name[16];
        std::snprintf(name, sizeof name, "%05d.eml", c);
        std::ofstream out(dir / name, std::ios::binary);
        out << mailtext::MessageToText(&mail);
        envelope << mail.From.Address << '\t' << contact.Email << '\n';
    }
}

Timing sendWithPython(const MailServers& servers, const fs::path& dir, int mails) {
    const std::string out =
        run(Python + " " + shellQuoted(PeersScript) + " send --port " +
            servers.value(UseTls ? "SMTP_STARTTLS_PORT" : "SMTP_AUTH_PORT") +
            (UseTls ? " --starttls --cafile " + shellQuoted(servers.value("TLS_CA_FILE")) : std::string()) + " --dir " +
            shellQuoted(dir.string()) + " --reuse 100 --login " + shellQuoted(servers.value("SMTP_LOGIN")) + " --password " +
            shellQuoted(servers.value("SMTP_PASSWORD")));
    auto v = keyValues(out);
    if (v["count"] != std::to_string(mails)) throw std::runtime_error("smtplib sent: " + out);
    return {std::stod(v.at("seconds")), std::stod(v.at("cpu"))};
}

void benchSending(const MailServers& servers, const Options& o, const fs::path& work) {
    const fs::path box = servers.maildir(SendUser);
    const fs::path composed = work / "composed";
    writeComposedMails(servers, o.mails, composed);
    std::cout << "\n== Sending " << o.mails << " mails to aiosmtpd (" << (UseTls ? "STARTTLS" : "AUTH LOGIN")
              << " port, SendPause 0, SendReuse 100)\n";
    auto once = [&](bool oursNow) {
        return oursNow ? sendWithMailer(servers, o.mails) : sendWithPython(servers, composed, o.mails);
    };
    // The first run after the servers start was up to three times slower than the others
    // (aiosmtpd and the file system warming up): one untimed round of each side goes first.
    for (bool oursNow : {true, false}) {
        emptyMaildir(box);
        std::printf("  warm-up  %-8s %7.3f s (not counted)\n", oursNow ? "mailer" : "smtplib", once(oursNow).wall);
    }
    std::vector<Timing> ours, theirs;
    std::vector<double> ratios;
    for (int r = 0; r < o.runs; ++r) {
        // Alternating who goes first keeps a slow spell of the machine from favouring one side.
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursNow = (turn == 0) == (r % 2 == 0);
            emptyMaildir(box);
            const std::string load = loadAverage();
            const Timing t = once(oursNow);
            const size_t delivered = mailsIn(box);
            if (delivered != static_cast<size_t>(o.mails))
                throw std::runtime_error("the server delivered " + std::to_string(delivered) + " mails");
            (oursNow ? ours : theirs).push_back(t);
            std::printf("  run %d %-8s %7.3f s  %7.1f mails/s  client cpu %.3f s   (load %s)\n", r + 1,
                        oursNow ? "mailer" : "smtplib", t.wall, o.mails / t.wall, t.cpu, load.c_str());
        }
        ratios.push_back(theirs.back().wall / ours.back().wall);
    }
    if (o.keepMaildir) {
        // Whether a Maildir that keeps growing slows the server down.
        emptyMaildir(box);
        const double fresh = sendWithMailer(servers, o.mails).wall;
        const double grown = sendWithMailer(servers, o.mails).wall;
        std::printf("  mailer into an empty Maildir %.3f s, into one holding %d mails %.3f s\n", fresh, o.mails,
                    grown);
    }
    const double a = median(walls(ours)), b = median(walls(theirs));
    std::printf("  median: mailer %.3f s = %.1f mails/s (client cpu %.3f s); smtplib %.3f s = %.1f mails/s "
                "(client cpu %.3f s)\n",
                a, o.mails / a, median(cpus(ours)), b, o.mails / b, median(cpus(theirs)));
    std::printf("  ratio of rates (mailer / smtplib): %.3f of the medians, %.3f median of the rounds' ratios   "
                "goal >= 0.90: %s\n",
                b / a, median(ratios), b / a >= 0.9 ? "met" : "MISSED");
    emptyMaildir(box);
}

const char* const MailboxUser = "user8";

// Mails written straight into the Maildir, owned by the mail user so dovecot can move and delete
// them; mailText gives the text of mail i.
void fillMaildir(const fs::path& maildir, int mails, const std::function<std::string(int)>& mailText) {
    struct stat owner {};
    if (::stat(maildir.c_str(), &owner) != 0) throw std::runtime_error("no Maildir " + maildir.string());
    // Names never used before in this run: dovecot remembers the names of mails it has seen.
    static int fill = 0;
    ++fill;
    for (int i = 0; i < mails; ++i) {
        char id[32];
        std::snprintf(id, sizeof id, "%d_%04d", fill, i);
        const std::string name = std::string("1700000000.B") + id + ".corvane-bench";
        const fs::path tmp = maildir / "tmp" / name;
        {
            std::ofstream out(tmp, std::ios::binary);
            out << mailText(i);
            if (!out) throw std::runtime_error("cannot write " + tmp.string());
        }
        if (::chown(tmp.c_str(), owner.st_uid, owner.st_gid) != 0 && ::geteuid() == 0)
            throw std::runtime_error("cannot chown " + tmp.string());
        fs::rename(tmp, maildir / "new" / name);
    }
}

std::string subscriptionMail(int i) {
    char id[16];
    std::snprintf(id, sizeof id, "%04d", i);
    const std::string sender = std::string("sub") + id + "@s" + id + ".example.com";
    return "Return-Path: <" + sender + ">\nDelivered-To: user8@example.com\n" + "From: \"Subscriber " + id +
           "\" <" + sender + ">\nTo: user8@example.com\n" +
           "Subject: subscribe\nDate: Mon, 02 Jun 2025 10:00:00 +0000\n" + "Message-ID: <" + id + ".bench@s" + id +
           ".example.com>\nMIME-Version: 1.0\n" + "Content-Type: text/plain; charset=us-ascii\n\n" +
           "Please subscribe me to the newsletter.\n\nfirstname=Sub\nlastname=" + id + "\n";
}

// Small subscription mails.
void fillMailbox(const fs::path& maildir, int mails) { fillMaildir(maildir, mails, subscriptionMail); }

struct MailboxSetup {
    std::unique_ptr<TcvSetup> setup;
    TcvAccount* account = nullptr;
    TcvGroup* group = nullptr;
    TcvParser* parser = nullptr;
};

// A started parser on the mailbox's account; words that match nothing make it read every mail and
// handle none.
MailboxSetup makeMailboxSetup(const MailServers& servers, const std::string& subjectWords) {
    MailboxSetup m;
    m.setup = std::make_unique<TcvSetup>();
    m.account = new TcvAccount;
    m.account->ServerName = "127.0.0.1";
    m.account->PortPop3 = servers.port(UseTls ? "POP3S_PORT" : "POP3_PORT");
    m.account->SecurityPop3 = UseTls ? 2 : 0;
    m.account->UserName = MailboxUser;
    m.account->Password = servers.value("MAILBOX_PASSWORD");
    m.setup->AddAccount(m.account);
    m.group = new TcvGroup;
    m.setup->AddGroup(m.group);
    m.group->SetName("Subscribers");
    m.group->Account = m.account;
    m.parser = new TcvParser;
    m.group->AddParser(m.parser);
    m.parser->SetName("Subscribe");
    m.parser->Account = m.account;
    m.parser->Action = TcvParserAction::Subscribe;
    m.parser->ContactSource = TcvContactSource::Sender;
    m.parser->TriggerSubj = true;
    m.parser->TriggerSubjWords = subjectWords;
    m.parser->DeleteMethod = 0;
    m.parser->Started = true;
    return m;
}

int mailboxCount(const MailServers& servers) {
    MailboxSetup m = makeMailboxSetup(servers, "x");
    mailtext::Pop3Client pop(Pop3SettingsOf(*m.account));
    pop.connect();
    const int n = pop.messageCount();
    pop.quit();
    return n;
}

Timing retrieveWithPython(const MailServers& servers, int mails) {
    const std::string out = run(Python + " " + shellQuoted(PeersScript) + " retrieve --port " +
                                servers.value(UseTls ? "POP3S_PORT" : "POP3_PORT") +
                                (UseTls ? " --ssl --cafile " + shellQuoted(servers.value("TLS_CA_FILE")) : std::string()) +
                                " --user " + MailboxUser + " --password " + shellQuoted(servers.value("MAILBOX_PASSWORD")));
    auto v = keyValues(out);
    if (v["count"] != std::to_string(mails)) throw std::runtime_error("poplib retrieved: " + out);
    return {std::stod(v.at("seconds")), std::stod(v.at("cpu"))};
}

// Our POP3 client alone: every mail as raw text (kept in rawTexts when given), or read into the
// mail object; nothing deleted.
double retrieveWithClient(const MailServers& servers, int mails, bool parse,
                          std::vector<std::string>* rawTexts = nullptr) {
    MailboxSetup m = makeMailboxSetup(servers, "x");
    const auto start = Clock::now();
    mailtext::Pop3Client pop(Pop3SettingsOf(*m.account));
    pop.connect();
    const int n = pop.messageCount();
    size_t check = 0;
    for (int i = 1; i <= n; ++i) {
        if (parse) check += pop.retrieve(i)->From.Address.size();
        else {
            std::string raw = pop.retrieveRaw(i);
            check += raw.size();
            if (rawTexts) rawTexts->push_back(std::move(raw));
        }
    }
    pop.quit();
    const double seconds = secondsSince(start);
    if (n != mails || check == 0) throw std::runtime_error("the POP3 client found " + std::to_string(n) + " mails");
    return seconds;
}

// The parser's own work without the network: reading the retrieved texts into mails (through the
// public reader, which also undoes dot-stuffing once more), then the Subscribe parser's
// ParseMessage on each.
void parseInMemory(const MailServers& servers, const std::vector<std::string>& rawTexts, double& readSeconds,
                   double& subscribeSeconds) {
    std::vector<std::unique_ptr<mailtext::Mail>> mails;
    mails.reserve(rawTexts.size());
    auto start = Clock::now();
    for (const std::string& raw : rawTexts) mails.push_back(mailtext::MessageFromText(raw));
    readSeconds = secondsSince(start);
    MailboxSetup m = makeMailboxSetup(servers, "subscribe");
    start = Clock::now();
    int handled = 0;
    for (const auto& mail : mails) handled += m.parser->ParseMessage(mail.get());
    subscribeSeconds = secondsSince(start);
    if (handled != static_cast<int>(mails.size())) throw std::runtime_error("ParseMessage handled too few mails");
}

Timing checkWithParser(const MailServers& servers, int mails, bool subscribe) {
    MailboxSetup m = makeMailboxSetup(servers, subscribe ? "subscribe" : "no-such-word-anywhere");
    const Stopwatch watch;
    m.parser->CheckMailbox();
    const Timing timing = watch.elapsed();
    const int expected = subscribe ? mails : 0;
    if (m.group->ContactCount() != expected)
        throw std::runtime_error("the parser subscribed " + std::to_string(m.group->ContactCount()) + " contacts");
    return timing;
}

void benchMailbox(const MailServers& servers, const Options& o) {
    const fs::path box = servers.maildir(MailboxUser);
    std::cout << "\n== Mailbox of " << o.mails << " subscription mails in dovecot (" << (UseTls ? "POP3S" : "POP3") << ")\n";
    std::vector<Timing> python, subscribe;
    std::vector<double> raw, parsed, noMatch, readOnly, subscribeOnly, ratios, rests;
    for (int r = 0; r < o.runs; ++r) {
        emptyMaildir(box);
        fillMailbox(box, o.mails);
        // The first session after the fill moves the mails to cur/ and builds dovecot's index;
        // neither side should pay for that.
        if (mailboxCount(servers) != o.mails) throw std::runtime_error("the mailbox was not filled");
        const std::string load = loadAverage();
        std::vector<std::string> rawTexts;
        raw.push_back(retrieveWithClient(servers, o.mails, false, &rawTexts));
        double readSeconds = 0, subscribeSeconds = 0;
        parseInMemory(servers, rawTexts, readSeconds, subscribeSeconds);
        readOnly.push_back(readSeconds);
        subscribeOnly.push_back(subscribeSeconds);
        parsed.push_back(retrieveWithClient(servers, o.mails, true));
        noMatch.push_back(checkWithParser(servers, o.mails, false).wall);
        // The compared pair runs back to back, so that a busy spell of the machine tends to hit both.
        python.push_back(retrieveWithPython(servers, o.mails));
        subscribe.push_back(checkWithParser(servers, o.mails, true));
        ratios.push_back(subscribe.back().wall / python.back().wall);
        rests.push_back(subscribe.back().wall - raw.back() - readOnly.back() - subscribeOnly.back());
        const int left = mailboxCount(servers);
        if (left != 0) throw std::runtime_error("the parser left " + std::to_string(left) + " mails");
        std::printf("  run %d  poplib %.3f s (cpu %.3f s) | ours: RETR raw %.3f s, RETR+read %.3f s, CheckMailbox "
                    "matching nothing %.3f s, CheckMailbox Subscribe %.3f s (cpu %.3f s), ratio %.2f   (load %s)\n",
                    r + 1, python.back().wall, python.back().cpu, raw.back(), parsed.back(), noMatch.back(),
                    subscribe.back().wall, subscribe.back().cpu, ratios.back(), load.c_str());
    }
    const double p = median(walls(python)), s = median(walls(subscribe));
    std::printf("  split of CheckMailbox Subscribe: RETR %.3f s, reading into Mail %.3f s, ParseMessage "
                "(trigger, subscribe) %.3f s, rest (DELE, QUIT committing the deletions) %.3f s\n",
                median(raw), median(readOnly), median(subscribeOnly), median(rests));
    std::printf("  median: poplib RETR all %.3f s (client cpu %.3f s); Pop3Client RETR raw %.3f s; RETR + reading "
                "into Mail %.3f s\n",
                p, median(cpus(python)), median(raw), median(parsed));
    std::printf("          CheckMailbox matching nothing (read, parse, trigger test) %.3f s; "
                "CheckMailbox Subscribe (read, parse, subscribe, delete) %.3f s (client cpu %.3f s)\n",
                median(noMatch), s, median(cpus(subscribe)));
    std::printf("  ratio CheckMailbox Subscribe / poplib: %.3f of the medians, %.3f median of the runs' ratios   "
                "goal <= 1.5: %s\n",
                s / p, median(ratios), s / p <= 1.5 ? "met" : "MISSED");
    emptyMaildir(box);
}

// The list's group for the bounce comparison: contacts spread over domains, added in their sorted
// order so building a large group stays linear. Contact i of every 100 is a failed recipient.
std::string benchContact(int i) {
    char email[64];
    std::snprintf(email, sizeof email, "c%06d@d%04d.example.com", i, i / 100);
    return email;
}

const char* const ListAddress = "news@list.example.com";

// The mail the list sent to a contact, as a server returns it.
std::string sentMail(const std::string& to, int i) {
    return "Return-Path: <" + std::string(ListAddress) + ">\nReceived: from list.example.com by mx.example.net\n" +
           "  for <" + to + ">; Mon, 02 Jun 2025 10:00:00 +0000\nFrom: \"News\" <" + ListAddress + ">\n" +
           "Reply-To: owner@list.example.com\nTo: \"Reader\" <" + to + ">\nSubject: June news " +
           std::to_string(i) + "\nDate: Mon, 02 Jun 2025 10:00:00 +0000\nMIME-Version: 1.0\n" +
           "Content-Type: text/plain; charset=us-ascii\n\nDear reader,\n\n" + std::string(900, 'x') + "\n\nUnsubscribe: write to owner@list.example.com\n";
}

// Four shapes of real bounces in turn: a Postfix-like standard report with the returned mail, an
// Exchange-like report with the returned headers only, an Exim-like text notice with the mail
// copied below, and a qmail-like text notice.
std::string bounceMail(int i) {
    const std::string to = benchContact(i * 100);
    const std::string head = "Return-Path: <>\nDelivered-To: user8@example.com\nDate: Mon, 02 Jun 2025 10:05:00 +0000\n"
                             "Message-ID: <" + std::to_string(i) + ".ndr@mx.example.net>\nTo: " + ListAddress + "\n";
    switch (i % 4) {
    case 0:
        return head + "From: MAILER-DAEMON@mx.example.net (Mail Delivery System)\n"
               "Subject: Undelivered Mail Returned to Sender\nAuto-Submitted: auto-replied\nMIME-Version: 1.0\n"
               "Content-Type: multipart/report; report-type=delivery-status; boundary=\"B" + std::to_string(i) + "\"\n\n"
               "This is a MIME-encapsulated message.\n\n--B" + std::to_string(i) + "\nContent-Description: Notification\n"
               "Content-Type: text/plain; charset=us-ascii\n\nThis is the mail system at host mx.example.net.\n\n"
               "I'm sorry to have to inform you that your message could not\nbe delivered to one or more recipients.\n\n"
               "<" + to + ">: host mail.example.com said: 550 5.1.1 User unknown (in reply to RCPT TO command)\n\n"
               "--B" + std::to_string(i) + "\nContent-Type: message/delivery-status\n\nReporting-MTA: dns; mx.example.net\n\n"
               "Final-Recipient: rfc822; " + to + "\nOriginal-Recipient: rfc822;" + to + "\nAction: failed\nStatus: 5.1.1\n"
               "Diagnostic-Code: smtp; 550 5.1.1 User unknown\n\n--B" + std::to_string(i) +
               "\nContent-Type: message/rfc822\n\n" + sentMail(to, i) + "\n--B" + std::to_string(i) + "--\n";
    case 1:
        return head + "From: postmaster@example.com\nSubject: Undeliverable: June news\nMIME-Version: 1.0\n"
               "Content-Type: multipart/report; report-type=delivery-status; boundary=\"E" + std::to_string(i) + "\"\n\n"
               "--E" + std::to_string(i) + "\nContent-Type: text/plain; charset=us-ascii\n\n"
               "Delivery has failed to these recipients or groups:\n\n" + to + "\nThe email address you entered couldn't be "
               "found.\n\n--E" + std::to_string(i) + "\nContent-Type: message/delivery-status\n\n"
               "Reporting-MTA: dns;mail.example.com\n\nFinal-recipient: RFC822; " + to + "\nAction: failed\n"
               "Status: 5.1.10\n\n--E" + std::to_string(i) + "\nContent-Type: text/rfc822-headers\n\n" +
               sentMail(to, i).substr(0, sentMail(to, i).find("\n\n") + 1) + "\n--E" + std::to_string(i) + "--\n";
    case 2:
        return head + "From: Mail Delivery System <Mailer-Daemon@mx.example.net>\n"
               "Subject: Mail delivery failed: returning message to sender\nAuto-Submitted: auto-replied\n\n"
               "This message was created automatically by mail delivery software.\n\nA message that you sent could not be "
               "delivered to one or more of its\nrecipients. This is a permanent error. The following address(es) failed:\n\n"
               "  " + to + "\n    host mail.example.com [192.0.2.1]\n    SMTP error from remote mail server after RCPT TO:<" +
               to + ">:\n    550 5.1.1 User unknown\n\n------ This is a copy of the message, including all the headers. ------\n\n" +
               sentMail(to, i);
    default:
        return head + "From: MAILER-DAEMON@mx.example.net\nSubject: failure notice\n\n"
               "Hi. This is the qmail-send program at mx.example.net.\nI'm afraid I wasn't able to deliver your message to the "
               "following addresses.\nThis is a permanent error; I've given up. Sorry it didn't work out.\n\n<" + to + ">:\n"
               "192.0.2.1 does not like recipient.\nRemote host said: 550 No such user\n\n"
               "--- Below this line is a copy of the message.\n\n" + sentMail(to, i);
    }
}

// A group of the given size on the mailbox's account, with one started parser.
MailboxSetup makeListSetup(const MailServers& servers, int contacts, bool bounces) {
    MailboxSetup m = makeMailboxSetup(servers, "subscribe");
    m.account->Sender = ListAddress;
    m.account->ReplyTo = "owner@list.example.com";
    for (int c = 0; c < contacts; ++c) {
        auto* contact = new TcvContact;
        contact->Email = benchContact(c);
        m.group->AddContact(contact);
    }
    if (bounces) {
        m.parser->SetName("Bounces");
        m.parser->Action = TcvParserAction::Bounce;
        m.parser->ContactSource = TcvContactSource::DeliveryReport;
        m.parser->TriggerSubj = false;
    }
    return m;
}

int bouncesCounted(const TcvGroup& group) {
    int n = 0;
    for (int c = 0; c < group.ContactCount(); ++c) n += group.Contacts(c)->Bounces;
    return n;
}

// A mailbox of bounces checked by a DeliveryReport parser against a large group, and the same check
// of as many subscription mails against a group of the same size.
void benchBounces(const MailServers& servers, const Options& o) {
    const fs::path box = servers.maildir(MailboxUser);
    const int mails = std::min(o.mails, o.contacts / 100);
    std::cout << "\n== Mailbox of " << mails << " bounces vs " << mails << " subscription mails, group of "
              << o.contacts << " contacts\n";
    std::vector<double> bounceChecks, subscribeChecks, bounceParse, subscribeParse, bounceRead, subscribeRead,
        bounceRetr, subscribeRetr, ratios;
    for (int r = 0; r < o.runs; ++r) {
        // In memory first: the parsers' own work on the same texts, without the network.
        {
            std::vector<std::unique_ptr<mailtext::Mail>> bounceMails, subscriptionMails;
            std::vector<std::string> bounceTexts, subscriptionTexts;
            for (int i = 0; i < mails; ++i) {
                bounceTexts.push_back(bounceMail(i));
                subscriptionTexts.push_back(subscriptionMail(i));
            }
            auto start = Clock::now();
            for (const std::string& text : bounceTexts) bounceMails.push_back(mailtext::MessageFromText(text));
            bounceRead.push_back(secondsSince(start));
            start = Clock::now();
            for (const std::string& text : subscriptionTexts)
                subscriptionMails.push_back(mailtext::MessageFromText(text));
            subscribeRead.push_back(secondsSince(start));
            MailboxSetup b = makeListSetup(servers, o.contacts, true);
            start = Clock::now();
            for (const auto& mail : bounceMails) b.parser->ParseMessage(mail.get());
            bounceParse.push_back(secondsSince(start));
            if (bouncesCounted(*b.group) != mails)
                throw std::runtime_error("ParseMessage counted " + std::to_string(bouncesCounted(*b.group)) + " bounces");
            MailboxSetup s = makeListSetup(servers, o.contacts, false);
            start = Clock::now();
            for (const auto& mail : subscriptionMails) s.parser->ParseMessage(mail.get());
            subscribeParse.push_back(secondsSince(start));
        }
        const std::string load = loadAverage();
        MailboxSetup b = makeListSetup(servers, o.contacts, true);
        emptyMaildir(box);
        fillMaildir(box, mails, bounceMail);
        if (mailboxCount(servers) != mails) throw std::runtime_error("the mailbox was not filled");
        bounceRetr.push_back(retrieveWithClient(servers, mails, false));
        auto start = Clock::now();
        b.parser->CheckMailbox();
        bounceChecks.push_back(secondsSince(start));
        if (bouncesCounted(*b.group) != mails || mailboxCount(servers) != 0)
            throw std::runtime_error("CheckMailbox counted " + std::to_string(bouncesCounted(*b.group)) + " bounces");

        MailboxSetup s = makeListSetup(servers, o.contacts, false);
        fillMailbox(box, mails);
        if (mailboxCount(servers) != mails) throw std::runtime_error("the mailbox was not filled");
        subscribeRetr.push_back(retrieveWithClient(servers, mails, false));
        start = Clock::now();
        s.parser->CheckMailbox();
        subscribeChecks.push_back(secondsSince(start));
        if (s.group->ContactCount() != o.contacts + mails) throw std::runtime_error("subscriptions went missing");
        ratios.push_back(bounceChecks.back() / subscribeChecks.back());
        std::printf("  run %d  CheckMailbox bounces %.3f s, subscriptions %.3f s, ratio %.2f | ParseMessage alone: "
                    "bounces %.3f s, subscriptions %.3f s   (load %s)\n",
                    r + 1, bounceChecks.back(), subscribeChecks.back(), ratios.back(), bounceParse.back(),
                    subscribeParse.back(), load.c_str());
    }
    const double b = median(bounceChecks), sc = median(subscribeChecks);
    std::printf("  median: CheckMailbox bounces %.3f s, subscriptions %.3f s\n", b, sc);
    std::printf("  split, bounces / subscriptions: RETR raw %.3f / %.3f s, reading into Mail %.3f / %.3f s, "
                "ParseMessage %.3f / %.3f s\n",
                median(bounceRetr), median(subscribeRetr), median(bounceRead), median(subscribeRead),
                median(bounceParse), median(subscribeParse));
    std::printf("  ratio bounces / subscriptions: %.3f of the medians, %.3f median of the runs' ratios   goal <= 1.2: %s\n",
                b / sc, median(ratios), b / sc <= 1.2 ? "met" : "MISSED");
    emptyMaildir(box);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        if (a == "--mails") o.mails = std::clamp(std::stoi(next()), 1, 9999);
        else if (a == "--runs") o.runs = std::clamp(std::stoi(next()), 1, 50);
        else if (a == "--only") o.only = next();
        else if (a == "--keep-maildir") o.keepMaildir = true;
        else if (a == "--contacts") o.contacts = std::clamp(std::stoi(next()), 100, 1000000);
        else if (a == "--tls") o.tls = true;
        else throw std::invalid_argument("unknown argument " + a);
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path work;
    try {
        const Options o = parseOptions(argc, argv);
        options::WarnBeforeFirstMail = false;
        char pattern[] = "/tmp/corvane-netbench.XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a work folder");
        work = pattern;
        std::printf("corvane_net_bench: %d mails, %d runs, load %s, %ld cores\n", o.mails, o.runs,
                    loadAverage().c_str(), ::sysconf(_SC_NPROCESSORS_ONLN));
        MailServers servers((work / "mailservers.env").string());
        UseTls = o.tls;
        // Our side trusts the servers' throw-away authority as the peers do.
        if (UseTls) ::setenv("SSL_CERT_FILE", servers.value("TLS_CA_FILE").c_str(), 1);
        if (o.only.empty() || o.only == "send") benchSending(servers, o, work);
        if (o.only.empty() || o.only == "mailbox") benchMailbox(servers, o);
        if (o.only.empty() || o.only == "bounces") benchBounces(servers, o);
        servers.stop();
        fs::remove_all(work);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "corvane_net_bench: " << e.what() << "\n";
        if (!work.empty()) fs::remove_all(work);
        return 1;
    }
}
