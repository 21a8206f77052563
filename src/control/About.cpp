// ShowAbout: a freshly loaded about box for every showing, handed to the host's front.
#include "control/Guarded.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

void KorvelComTools::ShowAbout() {
    if (!aboutPresenter_) return;
    // The presenter is copied so that a front replacing itself while the box is shown cannot
    // destroy the function that is running.
    const auto presenter = aboutPresenter_;
    ignoreFailure([&] {
        const ui::AboutBox box(componentInfo(), WinSysDir());
        presenter(box);
    });
}

}  // namespace korvel
