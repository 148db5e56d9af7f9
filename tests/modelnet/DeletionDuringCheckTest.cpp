// A mailbox check waits on the network, lets the interface process its events between mails and
// raises an event for every action; at each of these points the user may delete the parser, its
// group, the contact being handled or the account. Each is deleted at each point in turn; under the
// sanitizers any later use of a deleted object shows.
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/AntiFreeze.h"
#include "platform/UiHooks.h"
#include "tests/mailnet/FaultServer.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using mailnet::FaultConnection;

// Answers whatever a POP3 client asks about a mailbox of two subscriber mails.
void servePop3(FaultConnection& c) {
    const std::string mails[] = {"From: a@example.org\r\nSubject: hello\r\n\r\nfirst\r\n",
                                 "From: b@example.org\r\nSubject: hello\r\n\r\nsecond\r\n"};
    c.send("+OK ready");
    for (;;) {
        const std::string line = c.readLine();
        const std::string verb = line.substr(0, 4);
        if (verb == "STAT") c.send("+OK 2 100");
        else if (verb == "LIST" && line.size() > 5) c.send("+OK " + line.substr(5) + " 50");
        else if (verb == "LIST") c.sendRaw("+OK\r\n1 50\r\n2 50\r\n.\r\n");
        else if (verb == "RETR") c.sendRaw("+OK\r\n" + mails[line.back() == '2' ? 1 : 0] + ".\r\n");
        else if (verb == "QUIT") {
            c.send("+OK bye");
            c.close();
            return;
        } else c.send("+OK");
    }
}

enum Victim { TheParser, TheGroup, TheContact, TheAccount };
enum Point { Blocking, Events, ActionEvent };

}  // namespace

TEST(MailboxDeletions, ObjectsDeletedAtAnyWaitOrEventAreNeverTouchedAgain) {
    options::ResetToDefaults();
    for (const TcvParserAction action :
         {TcvParserAction::Subscribe, TcvParserAction::Bounce, TcvParserAction::Unsubscribe,
          TcvParserAction::UnsubscribeAll, TcvParserAction::Delete, TcvParserAction::Freeze}) {
        for (const Victim victim : {TheParser, TheGroup, TheContact, TheAccount}) {
            for (const Point point : {Blocking, Events, ActionEvent}) {
                for (int ordinal = 0;; ++ordinal) {
                    SCOPED_TRACE("action " + std::to_string(static_cast<int>(action)) + ", victim " +
                                 std::to_string(victim) + ", point " + std::to_string(point) + " #" +
                                 std::to_string(ordinal));
                    mailnet::FaultServer server(servePop3);
                    TcvSetup setup;
                    auto* account = new TcvAccount;
                    account->ServerName = "127.0.0.1";
                    account->PortPop3 = server.port();
                    setup.AddAccount(account);
                    auto* group = new TcvGroup;
                    setup.AddGroup(group);
                    group->Account = account;
                    for (const char* email : {"a@example.org", "b@example.org"}) {
                        auto* contact = new TcvContact;
                        contact->Email = email;
                        group->AddContact(contact);
                    }
                    auto* parser = new TcvParser;
                    group->AddParser(parser);
                    parser->Account = account;
                    parser->Started = true;
                    parser->Action = action;

                    int seen = 0;
                    bool deleted = false;
                    const auto reach = [&](Point reached, TcvContact* acted) {
                        if (deleted || reached != point || seen++ != ordinal) return;
                        deleted = true;
                        switch (victim) {
                        case TheParser:
                            if (setup.GroupCount()) setup.Groups(0)->DeleteParser(0);
                            break;
                        case TheGroup:
                            setup.DeleteGroup(0);
                            break;
                        case TheContact:
                            if (setup.GroupCount()) {
                                TcvGroup* g = setup.Groups(0);
                                g->DeleteContact(acted ? g->IndexOfContact(acted) : 0);
                            }
                            break;
                        case TheAccount:
                            setup.DeleteAccount(0);
                            break;
                        }
                    };
                    setup.OnParserAction = [&](TcvParser*, TcvContact* contact, TcvGroup*, int) {
                        reach(ActionEvent, contact);
                    };
                    platform::UiHooks hooks;
                    hooks.processEvents = [&] { reach(Events, nullptr); };
                    const platform::UiHooks previous = platform::setUiHooks(hooks);
                    {
                        platform::ScopedBlockingRunner runner([&](const platform::BlockingCall& call) {
                            reach(Blocking, nullptr);
                            call();
                        });
                        try {
                            parser->CheckMailbox();
                        } catch (const std::exception&) {
                            // Deleting the account or group may end the check with an error.
                        }
                    }
                    platform::setUiHooks(previous);
                    if (!deleted) break;  // past the last point of this kind
                    if (victim == TheGroup) {
                        EXPECT_EQ(setup.GroupCount(), 0);
                    }
                    if (victim == TheAccount) {
                        EXPECT_EQ(setup.AccountCount(), 0);
                    }
                    if (victim == TheParser) {
                        EXPECT_EQ(setup.Groups(0)->ParserCount(), 0);
                    }
                }
            }
        }
    }
}
