#pragma once
// Loading shared libraries (plug-ins) by path and looking up their exports.
#include <memory>
#include <string>

namespace platform {

class SharedLibrary {
public:
    // Loads the file at exactly this path; nullptr when it cannot be loaded.
    static std::unique_ptr<SharedLibrary> load(const std::string& path);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // The export of exactly this name, or nullptr.
    void* symbol(const char* name) const;

private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};

// ".so" here, ".dll" on Windows.
const char* sharedLibrarySuffix();
// The file-dialog filter for plug-in libraries.
const char* sharedLibraryFilter();

}  // namespace platform
