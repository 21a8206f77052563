// Link parameters and the three wait procedures.  Every wait polls the tick clock and yields
// to the host loop between polls; the Escape key ends it early when allowed.
#include "control/Guarded.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

void KorvelComTools::setTOwaitChar(int32_t value) {
    st_.TOwaitChar = value;
    markChanged("TOwaitChar");
}

void KorvelComTools::setTOBetweenChar(int32_t value) {
    st_.TOBetweenChar = value;
    markChanged("TOBetweenChar");
}

void KorvelComTools::setTOwaitReply(int32_t value) {
    st_.TOwaitReply = value;
    markChanged("TOwaitReply");
}

void KorvelComTools::setTOwaitRetry(int32_t value) {
    st_.TOwaitRetry = value;
    markChanged("TOwaitRetry");
}

void KorvelComTools::setTOWaitBetweenCommand(int32_t value) {
    st_.TOWaitBetweenCommand = value;
    markChanged("TOWaitBetweenCommand");
}

void KorvelComTools::setRetrySession(int16_t value) {
    st_.RetrySession = value;
    markChanged("RetrySession");
}

void KorvelComTools::setRetryData(int16_t value) {
    st_.RetryData = value;
    markChanged("RetryData");
}

KorvelComTools::WaitEnd KorvelComTools::waitFor(int32_t durationMs) {
    return waitUntil(tickAdd(tick(), durationMs), [] { return false; });
}

void KorvelComTools::WaitTimeout(int32_t longTimeOut) {
    // Any failure (the tick or key query) ends the wait quietly.
    ignoreFailure([&] { waitUntil(longTimeOut, [] { return false; }); });
}

void KorvelComTools::WaitTORetry() {
    ignoreFailure([&] { waitFor(st_.TOwaitRetry); });
}

void KorvelComTools::WaitTOReply() {
    ignoreFailure([&] { waitFor(st_.TOwaitReply); });
}

}  // namespace korvel
