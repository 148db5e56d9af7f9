#include "platform/SharedLibrary.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace platform {

std::unique_ptr<SharedLibrary> SharedLibrary::load(const std::string& path) {
    if (path.empty()) return nullptr;
#ifdef _WIN32
    void* handle = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
#else
    // A path without a slash would be searched for on the library path; the user chose a file.
    const std::string exact = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(exact.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (!handle) return nullptr;
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

SharedLibrary::~SharedLibrary() {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

void* SharedLibrary::symbol(const char* name) const {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

const char* sharedLibrarySuffix() {
#ifdef _WIN32
    return ".dll";
#else
    return ".so";
#endif
}

const char* sharedLibraryFilter() {
#ifdef _WIN32
    return "Preprocessor libraries (*.dll)";
#else
    return "Preprocessor libraries (*.so)";
#endif
}

}  // namespace platform
