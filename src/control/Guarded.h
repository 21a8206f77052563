// Definitions of the control's private templates: the failure path of an operation and the
// setters' ignore-failure rule.  Included by the .cpp files that implement members of the
// control.
#pragma once

#include "korvelcom/KorvelComTools.h"

namespace korvel {

template <class R, class F>
R KorvelComTools::guarded(const char* tag, R failureValue, F&& body) {
    try {
        return body();
    } catch (...) {
        // Anything the steps throw (the serial component, an allocation, an overflow check)
        // takes the operation's one failure path; nothing reaches the host.
    }
    reportError(tag);
    return failureValue;
}

template <class F>
void KorvelComTools::ignoreFailure(F&& step) noexcept {
    try {
        step();
    } catch (...) {
        // A property setter skips a step the component refused and goes on.
    }
}

}  // namespace korvel
