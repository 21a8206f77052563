// The link's own world in virtual time: a `link::Link` on a simulated port, what it raised, and
// the scripted terminal on the line's far end.  No control is involved.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/Link.h"
#include "support/Peer.h"

namespace korvel::test {

/// Records what the link raised; optional reactions run inside the event.
struct LinkRecorder : link::Events {
    std::vector<std::string> errors;  ///< the tag of every error event, in order
    int received = 0;
    std::function<void()> onReceived;

    void errorEvent(std::string& errType) override { errors.push_back(errType); }
    void receivedEvent() override {
        ++received;
        if (onReceived) onReceived();
    }
};

struct LinkWorld {
    explicit LinkWorld(int32_t startTick = 1'000'000) : p(startTick) {}

    std::string trace(bool times = false, bool texts = false) {
        return test::trace(p.wire(), times, texts);
    }
    int64_t nowUs() { return p.simLoop().nowUs(); }
    LinkState& st() { return link.state(); }
    link::Link* operator->() { return &link; }

    SimPlatform p;
    LinkRecorder events;
    std::unique_ptr<SerialComm> comm = p.createSerial();
    link::Link link{*comm, p.loop(), events};
    Peer peer{p};
};

}  // namespace korvel::test
