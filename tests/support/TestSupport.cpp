#include "tests/support/TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
    if (!dir_.isValid()) throw std::runtime_error("cannot create a temporary folder");
}

std::string TempDir::path() const { return dir_.path().toStdString(); }

std::string TempDir::file(const std::string& name) const { return path() + "/" + name; }

ScopedRegistry::ScopedRegistry() : file_(dir_.file("hkcu.reg")) {
    if (const char* p = std::getenv("CORVANE_REGISTRY")) {
        previous_ = p;
        hadPrevious_ = true;
    }
    setenv("CORVANE_REGISTRY", file_.c_str(), 1);
}

ScopedRegistry::~ScopedRegistry() {
    if (hadPrevious_) setenv("CORVANE_REGISTRY", previous_.c_str(), 1);
    else unsetenv("CORVANE_REGISTRY");
}

FileSizeLimit::FileSizeLimit(long bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    previousSoft_ = static_cast<unsigned long long>(limit.rlim_cur);
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("cannot limit the file size");
}

FileSizeLimit::~FileSizeLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(previousSoft_);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previousHandler_);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool fileExists(const std::string& path) { return std::ifstream(path).good(); }

}  // namespace testsupport
