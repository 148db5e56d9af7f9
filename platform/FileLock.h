#pragma once
// One writer per file: a lock file beside it names the process that holds it. Taking the lock is
// atomic; a lock left by a process of this machine that no longer runs is taken over.
#include <memory>
#include <string>

namespace platform {

struct LockHolder {
    long Pid = 0;
    std::string Host;
};

class FileLock {
public:
    // Takes the lock file at `path` (UTF-8). Returns null, with the holder filled in, when another
    // running process holds it; throws std::runtime_error when the lock file cannot be written.
    static std::unique_ptr<FileLock> acquire(const std::string& path, LockHolder* holder = nullptr);
    // Releases the lock: the file is removed when it is still ours.
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    const std::string& path() const { return path_; }

private:
    explicit FileLock(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

}  // namespace platform
