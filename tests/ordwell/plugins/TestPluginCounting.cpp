// A plug-in that records how the host uses it, for the host's tests:
// - Preprocess returns the body unchanged as the variables, or null for an empty body, so a
//   test chooses the variables through the mail it parses;
// - GetFieldnames returns "RegService", "OrderID", "Email";
// - every result handed out (null included) and every FreePointer call is counted, and a
//   pointer given back that is not outstanding (a double or foreign free) is counted apart
//   instead of being freed;
// - the sender and subject of the last Preprocess call are kept.
#include "TestPluginExport.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {
int results = 0;
int frees = 0;
int badFrees = 0;
std::set<char*> outstanding;
std::string lastSender;
std::string lastSubject;

char* handOut(const char* text)
{
    ++results;
    if (!text)
        return nullptr;
    const auto size = std::strlen(text);
    auto* block = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(block, text, size + 1);
    outstanding.insert(block);
    return block;
}
}  // namespace

TESTPLUGIN_EXPORT char* CORVANE_PLUGIN_CALL GetFieldnames()
{
    return handOut("RegService\r\nOrderID\r\nEmail\r\n");
}

TESTPLUGIN_EXPORT char* CORVANE_PLUGIN_CALL Preprocess(const char* sender, const char* subject, const char* body)
{
    lastSender = sender ? sender : "(null)";
    lastSubject = subject ? subject : "(null)";
    return handOut(body && *body ? body : nullptr);
}

TESTPLUGIN_EXPORT void CORVANE_PLUGIN_CALL FreePointer(char* p)
{
    ++frees;
    if (!p)
        return;
    if (outstanding.erase(p) == 0) {
        ++badFrees;
        return;
    }
    std::free(p);
}

// Results handed out by GetFieldnames and Preprocess, null results included.
TESTPLUGIN_EXPORT int ResultCount()
{
    return results;
}

// FreePointer calls, null pointers included.
TESTPLUGIN_EXPORT int FreeCount()
{
    return frees;
}

// FreePointer calls with a pointer that was not outstanding.
TESTPLUGIN_EXPORT int BadFreeCount()
{
    return badFrees;
}

// Results not yet given back (null results are never outstanding).
TESTPLUGIN_EXPORT int OutstandingCount()
{
    return static_cast<int>(outstanding.size());
}

TESTPLUGIN_EXPORT const char* LastSender()
{
    return lastSender.c_str();
}

TESTPLUGIN_EXPORT const char* LastSubject()
{
    return lastSubject.c_str();
}

TESTPLUGIN_EXPORT void ResetCount()
{
    for (char* p : outstanding)
        std::free(p);
    outstanding.clear();
    results = frees = badFrees = 0;
    lastSender.clear();
    lastSubject.clear();
}
