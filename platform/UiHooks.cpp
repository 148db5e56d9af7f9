#include "platform/UiHooks.h"

#include <thread>
#include <utility>

namespace platform {

namespace {
UiHooks installed;
}

UiHooks setUiHooks(UiHooks hooks) { return std::exchange(installed, std::move(hooks)); }

void showMessage(const std::string& text) {
    if (installed.message) installed.message(text);
    else recordedMessages().push_back(text);
}

bool confirmOkCancel(const std::string& text, bool headless) {
    return installed.confirm ? installed.confirm(text) : headless;
}

void processEvents() {
    if (installed.processEvents) installed.processEvents();
}

void yieldProcessor() { std::this_thread::yield(); }

std::vector<std::string>& recordedMessages() {
    static std::vector<std::string> messages;
    return messages;
}

}  // namespace platform
