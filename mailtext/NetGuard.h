#pragma once
// Runs one step of a network dialogue through the anti-freeze and turns the network library's
// exceptions into the mail layer's own, keeping their message text. Internal to mailtext.
#include "mailtext/MailErrors.h"
#include "platform/AntiFreeze.h"

#include <functional>
#include <string>

namespace mailtext::net {

// Throws the mail layer's exception for the exception being handled, prefixed with what was
// being done. Must be called from inside a catch block.
[[noreturn]] void rethrowTranslated(const std::string& step);

template <typename Fn>
void guarded(const std::string& step, Fn&& fn) {
    platform::runBlocking([&] {
        try {
            fn();
        } catch (const EMailError&) {
            throw;
        } catch (...) {
            rethrowTranslated(step);
        }
    });
}

}  // namespace mailtext::net
