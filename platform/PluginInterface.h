#pragma once
// Entry points of a preprocessor plug-in library, looked up by name after loading it.
// Strings are zero-terminated 8-bit text; a returned string belongs to the library and goes
// back to its FreePointer exactly once.

#if defined(_WIN32)
#define CORVANE_PLUGIN_CALL __stdcall
#else
#define CORVANE_PLUGIN_CALL
#endif

using TGetFieldnames = char*(CORVANE_PLUGIN_CALL*)();
using TPreprocess = char*(CORVANE_PLUGIN_CALL*)(const char* sender, const char* subject, const char* body);
using TFreePointer = void(CORVANE_PLUGIN_CALL*)(char* p);
