// `corvane --headless` as a server runs it: a campaign against the real mail servers, one writer
// per setup file, and a clean stop on SIGTERM that saves what happened.
#include "mailtext/IdMessageHelpers.h"
#include "mailtext/Pop3Client.h"
#include "mailtext/SmtpClient.h"
#include "model/cvSetup.h"
#include "tests/mailnet/MailServers.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// Reads the process's output until it holds every expected piece (bounded, so that a broken run
// fails instead of hanging).
std::string outputUntil(QProcess& process, const std::vector<std::string>& pieces) {
    std::string output;
    const auto complete = [&] {
        for (const auto& piece : pieces)
            if (output.find(piece) == std::string::npos) return false;
        return true;
    };
    QElapsedTimer waited;
    waited.start();
    while (!complete() && waited.elapsed() < 120000 && process.state() == QProcess::Running) {
        if (!process.waitForReadyRead(200)) QThread::msleep(20);
        output += process.readAllStandardOutput().toStdString();
    }
    return output;
}

QProcess* startHeadless(const std::string& setupFile, const std::string& registryFile) {
    auto* process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CORVANE_REGISTRY", QString::fromStdString(registryFile));
    env.remove("DISPLAY");
    env.insert("QT_QPA_PLATFORM", "none-at-all");  // a display would be an error in this mode
    process->setProcessEnvironment(env);
    process->start(CORVANE_EXECUTABLE, {"--headless", QString::fromStdString(setupFile)});
    return process;
}

}  // namespace

TEST(Headless, RunsACampaignOneWriterAtATimeAndSavesOnSigterm) {
    const auto servers = mailnet::MailServers::load();
    if (!servers) GTEST_SKIP() << "CORVANE_MAILSERVERS is not set: run through ctest";
    testsupport::TempDir dir;
    const std::string setupFile = dir.file("campaign.xml"), registryFile = dir.file("hkcu.reg");

    TcvSetup setup;
    auto* account = new TcvAccount;
    account->Name = "Local";
    account->ServerName = "127.0.0.1";
    // Sends through the server's port without login: the account's login is the mailbox's.
    account->PortSmtp = servers->SmtpOpenPort;
    account->UserName = "user12";
    account->Password = servers->MailboxPassword;
    account->PortPop3 = servers->Pop3Port;
    account->Sender = "list@example.com";
    account->SendPause = 0;
    setup.AddAccount(account);
    {
        // The mailbox starts with one subscription mail.
        mailtext::Pop3Client pop(Pop3SettingsOf(*account));
        pop.connect();
        for (int n = pop.messageCount(); n > 0; --n) pop.deleteMessage(n);
        pop.quit();
        mailnet::Deliver(*servers, "user12@example.com", "newcomer@example.org", "subscribe", "please");
    }
    auto* group = new TcvGroup;
    setup.AddGroup(group);
    group->SetName("Campaign");
    group->Account = account;
    // The welcome mail goes to a mailbox the server has; the parser only takes subscriptions.
    auto* ann = new TcvContact;
    ann->Email = "user12@example.com";
    group->AddContact(ann);
    auto* message = new TcvMessage;
    group->AddMessage(message);
    message->SetTitle("Welcome");
    message->Subject = "Welcome %FirstName";
    message->BodyPlain = "Hello";
    message->Status = TcvMessageStatus::Live;
    auto* parser = new TcvParser;
    group->AddParser(parser);
    parser->Account = account;
    parser->Started = true;
    parser->TriggerSubj = true;
    parser->TriggerSubjWords = "subscribe";
    setup.SaveToFile(setupFile);
    const std::string code = message->Code;

    std::unique_ptr<QProcess> runner(startHeadless(setupFile, registryFile));
    ASSERT_TRUE(runner->waitForStarted());
    const std::string output = outputUntil(*runner, {"Mailed", "user12@example.com", "Joined", "newcomer@example.org"});
    EXPECT_NE(output.find("Joined"), std::string::npos) << output << runner->readAllStandardError().toStdString();
    EXPECT_NE(output.find("Mailed"), std::string::npos) << output;

    // A second runner on the same file refuses to start and names the holder.
    std::unique_ptr<QProcess> second(startHeadless(setupFile, registryFile));
    ASSERT_TRUE(second->waitForFinished(60000));
    EXPECT_EQ(second->exitCode(), 2);
    EXPECT_NE(second->readAllStandardError().indexOf("process " + QByteArray::number(runner->processId())), -1);

    ::kill(static_cast<pid_t>(runner->processId()), SIGTERM);
    ASSERT_TRUE(runner->waitForFinished(60000));
    EXPECT_EQ(runner->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(runner->exitCode(), 0) << runner->readAllStandardError().toStdString();
    EXPECT_FALSE(testsupport::fileExists(setupFile + ".lock"));

    TcvSetup saved;
    saved.LoadFromFile(setupFile);
    ASSERT_EQ(saved.GroupCount(), 1);
    TcvGroup* g = saved.Groups(0);
    ASSERT_NE(g->FindContact("newcomer@example.org"), nullptr);
    ASSERT_NE(g->FindContact("user12@example.com"), nullptr);
    EXPECT_NE(g->FindContact("user12@example.com")->FindHistory(code), nullptr);
}
