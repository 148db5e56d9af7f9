#include "platform/FileLock.h"
#include "tests/support/TestSupport.h"

#include <QSysInfo>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using platform::FileLock;
using platform::LockHolder;

namespace {

// The process id of a process that has ended.
long endedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return static_cast<long>(child);
}

std::string host() { return QSysInfo::machineHostName().toStdString(); }

}  // namespace

TEST(FileLock, OneHolderAtATimeAndStaleLocksAreTakenOver) {
    testsupport::TempDir dir;
    const std::string path = dir.file("setup.xml.lock");
    {
        auto lock = FileLock::acquire(path);
        ASSERT_NE(lock, nullptr);
        EXPECT_EQ(testsupport::readFile(path), std::to_string(getpid()) + "\n" + host() + "\n");
    }
    EXPECT_FALSE(testsupport::fileExists(path));

    // Held by a running process (the first one of the machine always runs).
    testsupport::writeFile(path, "1\n" + host() + "\n");
    LockHolder holder;
    EXPECT_EQ(FileLock::acquire(path, &holder), nullptr);
    EXPECT_EQ(holder.Pid, 1);
    EXPECT_EQ(holder.Host, host());
    // Held on another machine: it cannot be seen to have ended.
    testsupport::writeFile(path, std::to_string(endedProcess()) + "\nelsewhere.example\n");
    EXPECT_EQ(FileLock::acquire(path, &holder), nullptr);
    EXPECT_EQ(holder.Host, "elsewhere.example");

    // Left by a process of this machine that has ended: taken over.
    testsupport::writeFile(path, std::to_string(endedProcess()) + "\n" + host() + "\n");
    auto lock = FileLock::acquire(path);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(testsupport::readFile(path), std::to_string(getpid()) + "\n" + host() + "\n");
}
