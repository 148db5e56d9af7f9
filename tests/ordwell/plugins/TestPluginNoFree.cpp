// A plug-in that lacks FreePointer. A host must then call neither export, since it could not
// give the result back; CallCount lets its tests check that. Results are static text so that a
// host that calls anyway neither crashes nor leaks.
#include "TestPluginExport.h"

namespace {
int calls = 0;
char fieldnames[] = "RegService\r\nEmail\r\n";
char variables[] = "email=nofree@example.com\r\nRegService=NoFree\r\n";
}  // namespace

TESTPLUGIN_EXPORT char* CORVANE_PLUGIN_CALL GetFieldnames()
{
    ++calls;
    return fieldnames;
}

TESTPLUGIN_EXPORT char* CORVANE_PLUGIN_CALL Preprocess(const char*, const char*, const char*)
{
    ++calls;
    return variables;
}

TESTPLUGIN_EXPORT int CallCount()
{
    return calls;
}

TESTPLUGIN_EXPORT void ResetCount()
{
    calls = 0;
}
