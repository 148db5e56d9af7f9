#pragma once
// Helpers shared by the test executables: private temporary folders, a registry file of the
// test's own, and reading or writing whole files.
#include <QTemporaryDir>

#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    std::string path() const;
    std::string file(const std::string& name) const;

private:
    QTemporaryDir dir_;
};

// Points the registry store at a fresh file inside a temporary folder for the guard's lifetime.
class ScopedRegistry {
public:
    ScopedRegistry();
    ~ScopedRegistry();
    std::string file() const { return file_; }

private:
    TempDir dir_;
    std::string file_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Makes writes past `bytes` in any file fail as on a full disk (EFBIG instead of SIGXFSZ) for the
// guard's lifetime; needs no privileges.
class FileSizeLimit {
public:
    explicit FileSizeLimit(long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long previousSoft_ = 0;
    void (*previousHandler_)(int) = nullptr;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);

}  // namespace testsupport
