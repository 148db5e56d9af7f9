#include "tests/support/TestSupport.h"

#include <cstdlib>
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
