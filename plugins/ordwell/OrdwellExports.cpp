#include "OrdwellExports.h"

#include "Ordwell.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

static_assert(std::is_same_v<decltype(&GetFieldnames), TGetFieldnames>);
static_assert(std::is_same_v<decltype(&Preprocess), TPreprocess>);
static_assert(std::is_same_v<decltype(&FreePointer), TFreePointer>);

namespace {

// The host frees results only through FreePointer, so malloc and free here stay paired
// inside this library whatever allocator the host uses.
char* freshCopy(const std::string& text)
{
    auto* block = static_cast<char*>(std::malloc(text.size() + 1));
    if (block) {
        std::memcpy(block, text.data(), text.size());
        block[text.size()] = '\0';
    }
    return block;
}

}  // namespace

// No exception may cross the C boundary; running out of memory yields null, which the host
// already treats as "no variables".
extern "C" char* CORVANE_PLUGIN_CALL GetFieldnames()
{
    try {
        return freshCopy(ordwell::fieldnamesText());
    } catch (...) {
        return nullptr;
    }
}

extern "C" char* CORVANE_PLUGIN_CALL Preprocess(const char* sender, const char* subject, const char* body)
{
    if (!body)
        return nullptr;
    try {
        return freshCopy(ordwell::preprocessText(body));
    } catch (...) {
        return nullptr;
    }
}

extern "C" void CORVANE_PLUGIN_CALL FreePointer(char* p)
{
    std::free(p);
}
