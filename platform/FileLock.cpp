#include "platform/FileLock.h"

#include <QFile>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

std::string thisHost() { return QSysInfo::machineHostName().toStdString(); }

long thisProcess() {
#ifndef _WIN32
    return static_cast<long>(::getpid());
#else
    return 0;
#endif
}

std::string lockText() { return std::to_string(thisProcess()) + "\n" + thisHost() + "\n"; }

bool readHolder(const std::string& path, LockHolder& holder) {
    std::ifstream in(path);
    if (!in) return false;
    std::string pid;
    std::getline(in, pid);
    std::getline(in, holder.Host);
    try {
        holder.Pid = std::stol(pid);
    } catch (...) {
        holder.Pid = 0;
    }
    return true;
}

// Only a process of this machine can be seen to be gone; one elsewhere is taken to run.
bool running(const LockHolder& holder) {
    if (holder.Host != thisHost()) return true;
    if (holder.Pid <= 0) return false;
#ifndef _WIN32
    return ::kill(static_cast<pid_t>(holder.Pid), 0) == 0 || errno == EPERM;
#else
    return true;
#endif
}

// Creates the lock file only when none exists.
bool createExclusive(const std::string& path) {
#ifndef _WIN32
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        if (errno == EEXIST) return false;
        throw std::runtime_error("Cannot create the lock file \"" + path + "\"");
    }
    const std::string text = lockText();
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        throw std::runtime_error("Cannot write the lock file \"" + path + "\"");
    }
    return true;
#else
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return false;
    file.write(lockText().c_str());
    return true;
#endif
}

bool ours(const std::string& path) {
    LockHolder holder;
    return readHolder(path, holder) && holder.Pid == thisProcess() && holder.Host == thisHost();
}

}  // namespace

std::unique_ptr<FileLock> FileLock::acquire(const std::string& path, LockHolder* holder) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (createExclusive(path)) return std::unique_ptr<FileLock>(new FileLock(path));
        LockHolder found;
        if (!readHolder(path, found)) continue;  // released meanwhile
        if (found.Pid == thisProcess() && found.Host == thisHost())
            return std::unique_ptr<FileLock>(new FileLock(path));
        if (running(found)) {
            if (holder) *holder = found;
            return nullptr;
        }
        // A stale lock: replaced in one rename by a complete lock of ours. When two processes
        // take it over at once, the one whose lock is read back holds it.
        const std::string mine = path + "." + std::to_string(thisProcess());
        {
            std::ofstream out(mine, std::ios::trunc);
            out << lockText();
            if (!out) throw std::runtime_error("Cannot write the lock file \"" + mine + "\"");
        }
        if (std::rename(mine.c_str(), path.c_str()) != 0) {
            std::remove(mine.c_str());
            throw std::runtime_error("Cannot take over the lock file \"" + path + "\"");
        }
        if (ours(path)) return std::unique_ptr<FileLock>(new FileLock(path));
    }
    LockHolder found;
    readHolder(path, found);
    if (holder) *holder = found;
    return nullptr;
}

FileLock::~FileLock() {
    if (ours(path_)) std::remove(path_.c_str());
}

}  // namespace platform
