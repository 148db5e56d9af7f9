#pragma once
// Loads a plug-in library by path and resolves its exports by name, the way the host does.
#include "platform/PluginInterface.h"

#include <optional>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

class LoadedPlugin {
public:
    explicit LoadedPlugin(const char* path)
    {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path);
#else
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~LoadedPlugin()
    {
        if (!handle_)
            return;
#if defined(_WIN32)
        FreeLibrary(static_cast<HMODULE>(handle_));
#else
        dlclose(handle_);
#endif
    }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    bool loaded() const { return handle_ != nullptr; }

    void* symbol(const char* name) const
    {
        if (!handle_)
            return nullptr;
#if defined(_WIN32)
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
        return dlsym(handle_, name);
#endif
    }

    template <typename F>
    F entry(const char* name) const
    {
        return reinterpret_cast<F>(symbol(name));
    }

private:
    void* handle_ = nullptr;
};

// The host's side of one call: copy the result at once, then hand the pointer back.
inline std::optional<std::string> copyAndFree(char* result, TFreePointer freePointer)
{
    std::optional<std::string> text;
    if (result)
        text = std::string(result);
    freePointer(result);
    return text;
}
