#pragma once
// Export marking for the helper plug-ins that the host's tests load.
#include "platform/PluginInterface.h"

#if defined(_WIN32)
#define TESTPLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define TESTPLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif
