// The serial component's receive notification handler.
#include "control/Guarded.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

void KorvelComTools::onComm() {
    // Runs inside a yield; ends quietly on any failure.
    ignoreFailure([&] {
        if (!comm_->portOpen()) return;
        if (comm_->commEvent() != kCommEvReceive) return;
        st_.CaptureBuffer += comm_->input();
    });
}

}  // namespace korvel
