#pragma once
// The few things the core needs from a user interface: modal messages and questions, and letting
// the interface handle its pending events during long operations. Headless, messages are recorded
// (so tests can read them), questions are answered with OK and event processing does nothing.
// The window installs real handlers at start-up.
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct UiHooks {
    std::function<void(const std::string& text)> message;
    // True for OK.
    std::function<bool(const std::string& text)> confirm;
    std::function<void()> processEvents;
};

// Installs hooks (empty members keep the headless behaviour); returns the previous ones.
UiHooks setUiHooks(UiHooks hooks);

// A modal message with an OK button; the text is in the 8-bit code page.
void showMessage(const std::string& text);
// A modal question with OK and Cancel buttons; true for OK. Without a user interface the answer is
// `headless`.
bool confirmOkCancel(const std::string& text, bool headless = true);
// Lets the user interface handle its pending events.
void processEvents();
// Gives the processor away once (a zero-length sleep).
void yieldProcessor();

// Messages shown while no message hook was installed, oldest first.
std::vector<std::string>& recordedMessages();

}  // namespace platform
