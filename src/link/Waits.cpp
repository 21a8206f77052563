// The wait procedures.  Every wait polls the tick clock and yields to the host loop between
// polls; the Escape key ends it early when allowed.
#include "link/Link.h"

namespace korvel::link {

Link::WaitEnd Link::waitFor(int32_t durationMs) {
    return waitUntil(tickAdd(tick(), durationMs), [] { return false; });
}

void Link::WaitTimeout(int32_t longTimeOut) {
    // Any failure (the tick or key query) ends the wait quietly.
    ignoreFailure([&] { waitUntil(longTimeOut, [] { return false; }); });
}

void Link::WaitTORetry() {
    ignoreFailure([&] { waitFor(st_.TOwaitRetry); });
}

void Link::WaitTOReply() {
    ignoreFailure([&] { waitFor(st_.TOwaitReply); });
}

void Link::setNextCommandTick() {
    st_.NextCommandGap = st_.TOWaitBetweenCommand;
    st_.NextCommandTick = tickAdd(tick(), st_.NextCommandGap);
}

}  // namespace korvel::link
