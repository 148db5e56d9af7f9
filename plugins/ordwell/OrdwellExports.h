#pragma once
// The three exports of the Ordwell library. Only these leave the library; everything else is
// compiled with hidden visibility.
#include "platform/PluginInterface.h"

#if defined(_WIN32)
// Ordwell.def exports the undecorated names; __declspec(dllexport) would add the decorated
// __stdcall names on 32-bit Windows as well.
#define ORDWELL_EXPORT
#else
#define ORDWELL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
ORDWELL_EXPORT char* CORVANE_PLUGIN_CALL GetFieldnames();
ORDWELL_EXPORT char* CORVANE_PLUGIN_CALL Preprocess(const char* sender, const char* subject, const char* body);
ORDWELL_EXPORT void CORVANE_PLUGIN_CALL FreePointer(char* p);
}
