#include "mailtext/IdMessageHelpers.h"
#include "mailtext/MailErrors.h"
#include "mailtext/SmtpClient.h"
#include "mailtext/TcpProbe.h"
#include "tests/mailnet/FaultServer.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace mailtext;
using mailnet::FaultConnection;
using mailnet::FaultServer;

namespace {

SmtpSettings settingsFor(const FaultServer& server, bool login = true) {
    SmtpSettings s;
    s.Host = "127.0.0.1";
    s.Port = server.port();
    s.UserName = "user";
    s.Password = "pass";
    s.Authentication = login ? SmtpAuthentication::Login : SmtpAuthentication::None;
    // Generous, so that a busy machine cannot turn an answered reply into a time-out.
    s.Timeouts.ConnectMs = 30000;
    s.Timeouts.ReplyMs = 30000;
    return s;
}

// Short replies, for a server that stalls or trickles on purpose: it stays at it until the client
// gives up, so the time-out is certain however busy the machine.
SmtpSettings impatient(SmtpSettings s) {
    s.Timeouts.ReplyMs = 400;
    return s;
}

Mail sampleMail() {
    Mail m;
    OutgoingMail f;
    f.ToName = "Jo Smith";
    f.ToAddress = "jo@b.org";
    f.Subject = "Test";
    f.PlainBody = "first\n.\n..two dots\nlast";
    f.From = "\"Sender\" <me@a.org>";
    FillOutgoingMail(m, f);
    return m;
}

// Runs the envelope up to the reply the scenario wants to fail.
void untilMailFrom(FaultConnection& c) {
    mailnet::smtpGreetAndLogin(c);
    c.readLine();
}

}  // namespace

TEST(SmtpDialogue, SendsTheEnvelopeAndStuffsDotsOnceThenQuits) {
    std::vector<std::string> data;
    FaultServer server([&](FaultConnection& c) {
        untilMailFrom(c);
        c.send("250 ok");
        c.readLine();
        c.send("250 ok");
        c.readLine();
        c.send("354 go ahead");
        data = c.readData();
        c.send("250 queued");
        c.readLine();
        c.send("221 bye");
    });
    SendOneMail(settingsFor(server), sampleMail());
    EXPECT_TRUE(server.clientClosed());
    EXPECT_TRUE(server.received("AUTH LOGIN"));
    EXPECT_TRUE(server.received("MAIL FROM: <me@a.org>"));
    EXPECT_TRUE(server.received("RCPT TO: <jo@b.org>"));
    EXPECT_TRUE(server.received("DATA"));
    EXPECT_TRUE(server.received("QUIT"));
    auto body = std::find(data.begin(), data.end(), "");
    ASSERT_NE(body, data.end());
    EXPECT_EQ(std::vector<std::string>(body + 1, data.end()),
              (std::vector<std::string>{"first", "..", "...two dots", "last"}));
}

TEST(SmtpFaults, RefusedLoginIsAnAuthErrorAndTheConnectionIsReleased) {
    FaultServer server([](FaultConnection& c) {
        c.send("220 fault.test ESMTP");
        c.readLine();
        c.send("250-fault.test\r\n250 AUTH LOGIN");
        c.readLine();
        c.send("334 VXNlcm5hbWU6");
        c.readLine();
        c.send("334 UGFzc3dvcmQ6");
        c.readLine();
        c.send("535 5.7.8 Authentication credentials invalid");
    });
    try {
        SendOneMail(settingsFor(server), sampleMail());
        FAIL() << "no error";
    } catch (const EMailAuthError& e) {
        EXPECT_NE(std::string(e.what()).find("535 5.7.8 Authentication credentials invalid"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(server.clientClosed());
}

TEST(SmtpFaults, NegativeRepliesAtEachStepEndInAnErrorAndAPoliteQuit) {
    struct Case {
        const char* name;
        int failAt;  // 0 MAIL FROM, 1 RCPT TO, 2 DATA, 3 end of data
        const char* reply;
    };
    for (const Case& k : {Case{"mail from", 0, "451 4.3.0 Try again later"},
                          Case{"rcpt to", 1, "550 5.1.1 No such user"},
                          Case{"data", 2, "554 5.3.0 No data for you"},
                          Case{"end of data", 3, "552 5.3.4 Message too big"}}) {
        FaultServer server([&](FaultConnection& c) {
            untilMailFrom(c);
            for (int step = 0; step < 4; ++step) {
                if (step == k.failAt) {
                    c.send(k.reply);
                    break;
                }
                c.send(step == 2 ? "354 go ahead" : "250 ok");
                if (step == 2) c.readData();
                else c.readLine();
            }
            std::string next = c.readLine();
            if (next == "RSET") {
                c.send("250 reset");
                next = c.readLine();
            }
            if (next == "QUIT") c.send("221 bye");
        });
        try {
            SendOneMail(settingsFor(server), sampleMail());
            ADD_FAILURE() << k.name << ": no error";
        } catch (const EMailProtocolError& e) {
            EXPECT_NE(std::string(e.what()).find(k.reply), std::string::npos) << k.name << ": " << e.what();
        }
        EXPECT_TRUE(server.received("QUIT")) << k.name;
        // A refusal inside the transaction resets it; after the final reply there is none left.
        EXPECT_EQ(server.received("RSET"), k.failAt < 3) << k.name;
        EXPECT_TRUE(server.clientClosed()) << k.name;
    }
}

TEST(SmtpFaults, ConnectionDroppedInTheMiddleOfDataIsAnError) {
    FaultServer server([](FaultConnection& c) {
        untilMailFrom(c);
        c.send("250 ok");
        c.readLine();
        c.send("250 ok");
        c.readLine();
        c.send("354 go ahead");
        c.readLine();
        c.readLine();
        c.close();
    });
    SmtpClient client(settingsFor(server));
    client.connect();
    EXPECT_THROW(client.send(sampleMail()), EMailError);
    EXPECT_FALSE(client.connected());
}

TEST(SmtpFaults, StalledServerTimesOutAndIsDropped) {
    // Greets, then never answers EHLO.
    FaultServer server([](FaultConnection& c) {
        c.send("220 fault.test ESMTP");
        c.readLine();
    });
    SmtpClient client(impatient(settingsFor(server)));
    EXPECT_THROW(client.connect(), EMailTimeout);
    EXPECT_FALSE(client.connected());
    EXPECT_TRUE(server.clientClosed());
}

TEST(SmtpFaults, StallAfterTheDataIsATimeout) {
    FaultServer server([](FaultConnection& c) {
        untilMailFrom(c);
        c.send("250 ok");
        c.readLine();
        c.send("250 ok");
        c.readLine();
        c.send("354 go ahead");
        c.readData();
    });
    EXPECT_THROW(SendOneMail(impatient(settingsFor(server)), sampleMail()), EMailTimeout);
    EXPECT_TRUE(server.clientClosed());
    EXPECT_FALSE(server.received("QUIT"));
}

TEST(SmtpFaults, MalformedGreetingOrReplyIsAnError) {
    FaultServer garbage([](FaultConnection& c) {
        c.send("hello, I am not an SMTP server");
        c.readLine();
        c.send("what?");
    });
    SmtpClient client(settingsFor(garbage, false));
    EXPECT_THROW(client.connect(), EMailError);
    client.drop();
    EXPECT_TRUE(garbage.clientClosed());
}

TEST(SmtpFaults, UnreachableServerIsAConnectError) {
    int closedPort = 0;
    {
        FaultServer gone([](FaultConnection&) {});
        closedPort = gone.port();
        TcpConnectAndClose("127.0.0.1", closedPort);
    }
    SmtpSettings s;
    s.Host = "127.0.0.1";
    s.Port = closedPort;
    EXPECT_THROW(SendOneMail(s, sampleMail()), EMailConnectError);
    EXPECT_THROW(TcpConnectAndClose("127.0.0.1", closedPort), EMailConnectError);
}

TEST(SmtpFaults, AddressesThatWouldInjectCommandsAreRefusedBeforeTheEnvelope) {
    FaultServer server([](FaultConnection& c) {
        mailnet::smtpGreetAndLogin(c);
        if (c.readLine() == "QUIT") c.send("221 bye");
    });
    Mail m = sampleMail();
    m.Recipients.clear();
    m.Recipients.add("Jo", "jo@b.org\r\nRCPT TO:<victim@evil.org>");
    EXPECT_THROW(SendOneMail(settingsFor(server), m), EMailInvalid);
    EXPECT_TRUE(server.clientClosed());
    for (const auto& line : server.lines()) EXPECT_EQ(line.find("RCPT"), std::string::npos) << line;

    Mail none = sampleMail();
    none.Recipients.clear();
    SmtpClient client(settingsFor(server));
    EXPECT_THROW(client.send(none), EMailInvalid);
}

namespace {

// Greets, logs in and accepts MAIL FROM, then answers each RCPT TO from the list.
void untilRecipients(FaultConnection& c, const std::vector<std::string>& rcptReplies) {
    untilMailFrom(c);
    c.send("250 ok");
    for (const std::string& reply : rcptReplies) {
        c.readLine();
        c.send(reply);
    }
}

void acceptData(FaultConnection& c) {
    c.readLine();
    c.send("354 go ahead");
    c.readData();
    c.send("250 queued");
}

}  // namespace

TEST(SmtpRecipients, ARefusedRecipientResetsTheTransactionAndTheNextMailGoesOut) {
    FaultServer server([](FaultConnection& c) {
        untilRecipients(c, {"550 5.1.1 No such user"});
        if (c.readLine() != "RSET") return;
        c.send("250 reset");
        c.readLine();
        c.send("250 ok");
        c.readLine();
        c.send("250 ok");
        acceptData(c);
        if (c.readLine() == "QUIT") c.send("221 bye");
    });
    SmtpClient client(settingsFor(server));
    client.connect();
    try {
        client.send(sampleMail());
        FAIL() << "no error";
    } catch (const EMailRecipientRefused& e) {
        EXPECT_FALSE(e.Delivered);
        EXPECT_EQ(e.Refused, std::vector<std::string>{"jo@b.org (550 5.1.1 No such user)"});
        EXPECT_NE(std::string(e.what()).find("jo@b.org (550 5.1.1 No such user)"), std::string::npos) << e.what();
    }
    ASSERT_TRUE(client.connected());
    EXPECT_NO_THROW(client.send(sampleMail()));
    client.quit();
    const auto lines = server.lines();
    const auto rset = std::find(lines.begin(), lines.end(), "RSET");
    ASSERT_NE(rset, lines.end());
    ASSERT_NE(rset + 1, lines.end());
    EXPECT_EQ(*(rset - 1), "RCPT TO: <jo@b.org>");
    EXPECT_EQ(*(rset + 1), "MAIL FROM: <me@a.org>");
    EXPECT_TRUE(server.received("QUIT"));
}

TEST(SmtpRecipients, TheOthersGetTheMailAndTheRefusedOneIsNamed) {
    FaultServer server([](FaultConnection& c) {
        untilRecipients(c, {"250 ok", "550 5.1.1 <gone@b.org>: mailbox unavailable", "250 ok"});
        acceptData(c);
        if (c.readLine() == "QUIT") c.send("221 bye");
    });
    Mail m = sampleMail();
    m.Recipients.add("Gone", "gone@b.org");
    m.Recipients.add("Al", "al@c.org");
    try {
        SendOneMail(settingsFor(server), m);
        FAIL() << "no error";
    } catch (const EMailRecipientRefused& e) {
        EXPECT_TRUE(e.Delivered);
        ASSERT_EQ(e.Refused.size(), 1u);
        EXPECT_EQ(e.Refused[0].rfind("gone@b.org (550", 0), 0u) << e.Refused[0];
        EXPECT_NE(std::string(e.what()).find("went to the other recipients"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(server.received("DATA"));
    EXPECT_FALSE(server.received("RSET"));
    EXPECT_TRUE(server.received("QUIT"));
}

TEST(SmtpBounds, EndlessMultiLineReplyEndsTheConnection) {
    FaultServer server([](FaultConnection& c) {
        c.send("220 fault.test ESMTP");
        c.readLine();
        // Far more continuation lines than any server sends; the client must give up long before.
        for (int i = 0; i < 200000; ++i) c.send("250-capability " + std::to_string(i));
        c.send("250 done");
    });
    SmtpClient client(settingsFor(server, false));
    EXPECT_THROW(client.connect(), EMailConnectionLost);
    EXPECT_FALSE(client.connected());
    EXPECT_TRUE(server.clientClosed());
}

TEST(SmtpBounds, HugeLineWithoutLineEndEndsTheConnection) {
    FaultServer server([](FaultConnection& c) {
        c.send("220 fault.test ESMTP");
        c.readLine();
        c.sendRaw("250 " + std::string(4 << 20, 'x'));
    });
    SmtpClient client(settingsFor(server, false));
    EXPECT_THROW(client.connect(), EMailConnectionLost);
    EXPECT_TRUE(server.clientClosed());
}

TEST(SmtpBounds, TricklingServerTimesOutWithinOneReplyTime) {
    // Every byte comes well within the reply time, the whole reply far outside it.
    FaultServer server([](FaultConnection& c) {
        c.trickle("220 " + std::string(200, 'x') + "\r\n", 50);
        c.readLine();
        c.send("250 fault.test");
    });
    SmtpSettings s = settingsFor(server, false);
    s.Timeouts.ReplyMs = 500;
    SmtpClient client(s);
    EXPECT_THROW(client.connect(), EMailTimeout);
    EXPECT_FALSE(client.connected());
    EXPECT_TRUE(server.clientClosed());
}
