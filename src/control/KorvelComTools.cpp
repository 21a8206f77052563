// The control object: creation, new-instance initialisation, resize, termination, version,
// and the error convention every operation reports through.
#include "korvelcom/KorvelComTools.h"

#include "control/Guarded.h"
#include "link/Link.h"
#include "pos/Payment.h"

namespace korvel {
namespace {
constexpr int kVersionMajor = 3;
constexpr int kVersionMinor = 0;
constexpr int kVersionRevision = 0;
// The logo the control shows at its own size, in pixels.
constexpr Extent kLogoSize{32, 32};
}  // namespace

// The link reports to whatever sink the host has set at the moment it raises an event.
struct KorvelComTools::LinkEvents : link::Events {
    explicit LinkEvents(KorvelComTools& control) : c(control) {}
    void errorEvent(std::string& errType) override {
        if (c.sink_) c.sink_->ErrorEvent(errType);
    }
    void receivedEvent() override {
        if (c.sink_) c.sink_->ReceivedEvent();
    }
    KorvelComTools& c;
};

KorvelComTools::KorvelComTools(Platform& platform)
    : platform_(platform),
      comm_(platform.createSerial()),
      linkEvents_(std::make_unique<LinkEvents>(*this)),
      link_(std::make_unique<link::Link>(*comm_, platform.loop(), *linkEvents_)),
      payment_(std::make_unique<pos::Payment>(*link_)),
      st_(link_->state()) {
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
    // The link wipes what the terminal said as it goes.
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
    link_->reportError(tag);
}

void KorvelComTools::markChanged(const char* name) {
    // A fault in the container's notification is ignored: the put has already taken effect.
    ignoreFailure([&] {
        if (propertyChanged_) propertyChanged_(name);
    });
}

}  // namespace korvel
