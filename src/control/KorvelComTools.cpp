// The control object: creation, new-instance initialisation, resize, termination, version,
// and the error convention every operation reports through.
#include "korvelcom/KorvelComTools.h"

#include "control/Guarded.h"
#include "korvelcom/CardData.h"
#include "pos/PosFields.h"

namespace korvel {
namespace {
constexpr int kVersionMajor = 3;
constexpr int kVersionMinor = 0;
constexpr int kVersionRevision = 0;
// The logo the control shows at its own size, in pixels.
constexpr Extent kLogoSize{32, 32};
}  // namespace

KorvelComTools::KorvelComTools(Platform& platform)
    : platform_(platform), comm_(platform.createSerial()) {
    comm_->setOnComm([this] { onComm(); });
    size_ = kLogoSize;
    // The request fields are shared by every control of this thread: each new one resets them.
    pos::threadRecord().resetRequest();
    resetExtended(false);
}

KorvelComTools::KorvelComTools() : KorvelComTools(defaultPlatform()) {}

KorvelComTools::~KorvelComTools() {
    ignoreFailure([this] {
        comm_->setOnComm(nullptr);
        if (comm_->portOpen()) comm_->setPortOpen(false);
    });
    // What the terminal said may include card data: gone with the control.
    wipe(st_.ReceiveMessage, "ReceiveMessage");
    wipe(st_.CaptureBuffer, "CaptureBuffer");
}

void KorvelComTools::InitNewInstance() {
    // The defaults of creation again; the receive machinery's two working flags stay as they
    // are, so a port armed before the container initialised the control keeps listening.
    const bool armed = st_.ReceiveArmed;
    const bool deferred = st_.ReceivedEventDeferred;
    st_ = LinkState{};
    st_.ReceiveArmed = armed;
    st_.ReceivedEventDeferred = deferred;
    pos::threadRecord().resetRequest();
    posTimeout_ = 10000;
    resetExtended(true);
}

void KorvelComTools::Resize() {
    size_ = kLogoSize;
}

Extent KorvelComTools::LogoSize() {
    return kLogoSize;
}

std::string KorvelComTools::formatVersion(int major, int minor, int revision) {
    return std::to_string(major) + "." + std::to_string(minor) + std::to_string(revision);
}

std::string KorvelComTools::Version() const {
    return formatVersion(kVersionMajor, kVersionMinor, kVersionRevision);
}

ui::ComponentInfo KorvelComTools::componentInfo() {
    return ui::ComponentInfo{"KorvelComTools", kVersionMajor, kVersionMinor, kVersionRevision, ""};
}

void KorvelComTools::reportError(const char* tag) {
    st_.ReceiveError = tag;
    if (st_.ErrorEnabled && sink_) sink_->ErrorEvent(st_.ReceiveError);
}

void KorvelComTools::markChanged(const char* name) {
    // A fault in the container's notification is ignored: the put has already taken effect.
    ignoreFailure([&] {
        if (propertyChanged_) propertyChanged_(name);
    });
}

}  // namespace korvel
