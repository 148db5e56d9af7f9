#include "mailtext/MailErrors.h"
#include "mailtext/Pop3Client.h"
#include "platform/AntiFreeze.h"
#include "tests/mailnet/FaultServer.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

#include <gtest/gtest.h>

using namespace mailtext;
using mailnet::FaultConnection;
using mailnet::FaultServer;

namespace {

Pop3Settings settingsFor(const FaultServer& server) {
    Pop3Settings s;
    s.Host = "127.0.0.1";
    s.Port = server.port();
    s.UserName = "user";
    s.Password = "pass";
    // Generous, so that a busy machine cannot turn an answered reply into a time-out.
    s.Timeouts.ConnectMs = 30000;
    s.Timeouts.ReplyMs = 30000;
    return s;
}

// Short replies, for a server that stalls or trickles on purpose until the client gives up.
Pop3Settings impatient(Pop3Settings s) {
    s.Timeouts.ReplyMs = 400;
    return s;
}

}  // namespace

TEST(Pop3Dialogue, ReadsStatListTopAndRetrAndCommitsWithQuit) {
    FaultServer server([](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        c.send("+OK 2 320");
        c.readLine();
        c.sendRaw("+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n");
        c.readLine();
        c.send("+OK 2 200");
        c.readLine();
        c.sendRaw("+OK\r\nSubject: top\r\nFrom: a@b.org\r\n\r\n.\r\n");
        c.readLine();
        c.sendRaw("+OK\r\nSubject: \xE9t\xE9\r\n\r\n..stuffed\r\nbyte \xFF here\r\n\r\n.\r\n");
        c.readLine();
        c.send("+OK marked");
        c.readLine();
        c.send("+OK bye");
    });
    Pop3Client pop(settingsFor(server));
    pop.connect();
    EXPECT_EQ(pop.messageCount(), 2);
    auto list = pop.listMessages();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].Number, 2);
    EXPECT_EQ(list[1].Size, 200);
    EXPECT_EQ(pop.messageSize(2), 200);
    auto top = pop.retrieveHeader(1);
    EXPECT_EQ(top->Subject, "top");
    EXPECT_TRUE(top->Body.empty());
    EXPECT_EQ(pop.retrieveRaw(2), "Subject: \xE9t\xE9\r\n\r\n.stuffed\r\nbyte \xFF here\r\n\r\n");
    pop.deleteMessage(2);
    pop.quit();
    EXPECT_FALSE(pop.connected());
    EXPECT_EQ(server.lines(), (std::vector<std::string>{"USER user", "PASS pass", "STAT", "LIST", "LIST 2",
                                                       "TOP 1 0", "RETR 2", "DELE 2", "QUIT"}));
}

TEST(Pop3Faults, RefusedPasswordIsAnAuthError) {
    FaultServer server([](FaultConnection& c) {
        c.send("+OK ready");
        c.readLine();
        c.send("+OK");
        c.readLine();
        c.send("-ERR [AUTH] Authentication failed.");
    });
    Pop3Client pop(settingsFor(server));
    try {
        pop.connect();
        FAIL() << "no error";
    } catch (const EMailAuthError& e) {
        EXPECT_NE(std::string(e.what()).find("-ERR [AUTH] Authentication failed."), std::string::npos);
    }
    EXPECT_FALSE(pop.connected());
    EXPECT_TRUE(server.clientClosed());
}

TEST(Pop3Faults, ErrReplyKeepsTheSessionUsable) {
    FaultServer server([](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        c.send("-ERR no such message");
        c.readLine();
        c.send("+OK bye");
    });
    Pop3Client pop(settingsFor(server));
    pop.connect();
    EXPECT_THROW(pop.retrieve(9), EMailProtocolError);
    EXPECT_TRUE(pop.connected());
    pop.quit();
    EXPECT_TRUE(server.received("QUIT"));
}

TEST(Pop3Faults, ConnectionDroppedInTheMiddleOfRetrIsNotACompleteMail) {
    FaultServer server([](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        c.sendRaw("+OK\r\nSubject: cut\r\n\r\nfirst half\r\n");
        c.close();
    });
    Pop3Client pop(settingsFor(server));
    pop.connect();
    EXPECT_THROW(pop.retrieve(1), EMailConnectionLost);
    EXPECT_FALSE(pop.connected());
}

TEST(Pop3Faults, StallInTheMiddleOfRetrTimesOut) {
    FaultServer server([](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        c.sendRaw("+OK\r\nSubject: slow\r\n\r\npart");
    });
    Pop3Client pop(impatient(settingsFor(server)));
    pop.connect();
    EXPECT_THROW(pop.retrieve(1), EMailTimeout);
    EXPECT_FALSE(pop.connected());
    EXPECT_TRUE(server.clientClosed());
}

TEST(Pop3Faults, MalformedRepliesAreErrorsAndReleaseTheConnection) {
    FaultServer badStat([](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        c.send("+OK lots");
    });
    Pop3Client pop(settingsFor(badStat));
    pop.connect();
    EXPECT_THROW(pop.messageCount(), EMailProtocolError);
    EXPECT_FALSE(pop.connected());
    EXPECT_TRUE(badStat.clientClosed());

    FaultServer notPop([](FaultConnection& c) { c.send("220 this is SMTP"); });
    Pop3Client other(settingsFor(notPop));
    EXPECT_THROW(other.connect(), EMailProtocolError);
    EXPECT_FALSE(other.connected());
    EXPECT_TRUE(notPop.clientClosed());
}

TEST(Pop3Faults, ReleaseClosesWithoutQuit) {
    FaultServer server([](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        c.send("+OK marked");
    });
    {
        Pop3Client pop(settingsFor(server));
        pop.connect();
        pop.deleteMessage(1);
    }
    EXPECT_TRUE(server.clientClosed());
    EXPECT_FALSE(server.received("QUIT"));
}

TEST(Pop3Dialogue, LongMailsArriveWholeWhateverTheChunksOnTheWire) {
    // Lines longer than any read, dot-stuffed lines at chunk borders, sent in odd-sized pieces.
    std::string body;
    for (int i = 0; i < 40; ++i) body += std::string(1000 + i * 37, static_cast<char>('a' + i % 26)) + "\r\n..dot\r\n";
    body += std::string(40000, 'z') + "\r\n";
    const std::string wire = "+OK\r\nSubject: long\r\n\r\n" + body + ".\r\n";
    FaultServer server([&](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        for (int round = 0; round < 2; ++round) {
            c.readLine();
            for (size_t at = 0; at < wire.size(); at += 7001) c.sendRaw(wire.substr(at, 7001));
        }
        c.readLine();
        c.send("+OK bye");
    });
    Pop3Client pop(settingsFor(server));
    pop.connect();
    std::string expected = body;
    for (size_t at = expected.find("\r\n..dot"); at != std::string::npos; at = expected.find("\r\n..dot", at + 1))
        expected.erase(at + 2, 1);
    const std::string raw = pop.retrieveRaw(1);
    EXPECT_EQ(raw, "Subject: long\r\n\r\n" + expected);
    EXPECT_EQ(pop.retrieveRaw(2), raw);  // the reader keeps no leftovers between mails
    pop.quit();
}

TEST(Pop3Faults, CountsOutsideTheIntegerRangeAreRefusedOrLeftOut) {
    FaultServer server([](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        c.send("+OK 2 300");
        c.readLine();
        c.sendRaw("+OK\r\n1 100\r\n4294967297 5\r\n-3 7\r\n2 -1\r\n2 200\r\n.\r\n");
        c.readLine();
        c.send("+OK 4294967297 300");
    });
    Pop3Client pop(settingsFor(server));
    pop.connect();
    EXPECT_EQ(pop.messageCount(), 2);
    const auto list = pop.listMessages();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Number, 1);
    EXPECT_EQ(list[1].Number, 2);
    EXPECT_EQ(list[1].Size, 200);
    EXPECT_THROW(pop.messageCount(), EMailProtocolError);
    EXPECT_FALSE(pop.connected());
}

TEST(Pop3Bounds, AMailOverTheLimitIsReadToItsEndAndTheSessionGoesOn) {
    const std::string small = "Subject: small\r\n\r\n..dot\r\nend\r\n";
    FaultServer server([&](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();  // one line of a megabyte, without a line end
        c.sendRaw("+OK\r\nSubject: huge\r\n\r\n" + std::string(1 << 20, 'x') + "\r\n.\r\n");
        c.readLine();
        c.sendRaw("+OK\r\n" + small + ".\r\n");
        c.readLine();  // many ordinary lines
        std::string many = "+OK\r\nSubject: many\r\n\r\n";
        for (int i = 0; i < 20000; ++i) many += "line " + std::to_string(i) + "\r\n";
        c.sendRaw(many + ".\r\n");
        c.readLine();
        c.send("+OK bye");
    });
    Pop3Settings s = settingsFor(server);
    s.MaxMailBytes = 64 * 1024;
    Pop3Client pop(s);
    pop.connect();
    EXPECT_THROW(pop.retrieveRaw(1), EMailTooLarge);
    EXPECT_TRUE(pop.connected());
    EXPECT_EQ(pop.retrieveRaw(2), "Subject: small\r\n\r\n.dot\r\nend\r\n");
    EXPECT_THROW(pop.retrieveRaw(3), EMailTooLarge);
    pop.quit();
    EXPECT_TRUE(server.received("QUIT"));
}

TEST(Pop3Bounds, AStatusLineWithoutEndEndsTheConnection) {
    FaultServer server([](FaultConnection& c) { c.sendRaw("+OK " + std::string(4 << 20, 'x')); });
    Pop3Client pop(settingsFor(server));
    EXPECT_THROW(pop.connect(), EMailConnectionLost);
    EXPECT_FALSE(pop.connected());
    EXPECT_TRUE(server.clientClosed());
}

TEST(Pop3Bounds, ATricklingMailTimesOutWithinOneReplyTime) {
    // Every byte comes well within the reply time, the whole mail far outside it.
    FaultServer server([](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        c.trickle("+OK\r\nSubject: slow\r\n\r\n" + std::string(200, 'x') + "\r\n.\r\n", 50);
    });
    Pop3Settings s = settingsFor(server);
    s.Timeouts.ReplyMs = 500;
    Pop3Client pop(s);
    pop.connect();
    EXPECT_THROW(pop.retrieve(1), EMailTimeout);
    EXPECT_FALSE(pop.connected());
    EXPECT_TRUE(server.clientClosed());
}

// A window's command may be told to stop while its call waits on a server that does not answer:
// the call is woken, fails as a lost connection, and the client lets the connection go.
TEST(Pop3Faults, AnInterruptWakesTheWaitingCall) {
    std::atomic<bool> statSent{false};
    FaultServer server([&statSent](FaultConnection& c) {
        mailnet::pop3GreetAndLogin(c);
        c.readLine();
        statSent = true;
    });
    Pop3Settings s = settingsFor(server);
    s.Timeouts.ReplyMs = 10 * 60 * 1000;
    Pop3Client pop(s);
    pop.connect();
    // As the window's anti-freeze: the call on a worker, the interrupt from the waiting thread.
    platform::ScopedBlockingRunner runner([&](const platform::BlockingCall& call) {
        std::exception_ptr error;
        std::thread worker([&] {
            try {
                call();
            } catch (...) {
                error = std::current_exception();
            }
        });
        while (!statSent) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pop.interrupt();
        worker.join();
        if (error) std::rethrow_exception(error);
    });
    EXPECT_THROW(pop.messageCount(), EMailConnectionLost);
    EXPECT_FALSE(pop.connected());
    EXPECT_TRUE(server.clientClosed());
}
