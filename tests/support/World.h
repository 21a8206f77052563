// The virtual-time world every control test shares: a simulated platform, a control on it, an
// event recorder, and on the line's far end either a scripted terminal (`Peer`) or the
// terminal simulator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Peer.h"
#include "korvelcom/KorvelComTools.h"
#include "sim/Terminal.h"
#include "sim/TerminalPort.h"

namespace korvel::test {

/// Records what the control raised; optional reactions run inside the event.
struct Recorder : KorvelComToolsEvents {
    std::vector<std::string> errors;  ///< the tag of every ErrorEvent, in order
    int received = 0;
    int abortEnabled = 0;
    std::function<void(std::string&)> onError;
    std::function<void()> onReceived;

    void ReceivedEvent() override {
        ++received;
        if (onReceived) onReceived();
    }
    void ErrorEvent(std::string& errType) override {
        errors.push_back(errType);
        if (onError) onError(errType);
    }
    void AbortEnabledEvent() override { ++abortEnabled; }
};

/// A control on a simulated platform with a scripted terminal (or the simulator) on the line.
struct World {
    explicit World(int32_t startTick = 1'000'000, uint64_t seed = 1) : p(startTick, seed) {
        c = std::make_unique<KorvelComTools>(p);
        peer = std::make_unique<Peer>(p);
        c->setEventSink(&events);
    }
    ~World() {
        if (c) c->setEventSink(nullptr);
    }

    /// Replaces the scripted terminal by the terminal simulator.
    sim::Terminal& simulate(sim::TerminalOptions options = {}) {
        peer.reset();
        port = std::make_unique<sim::SimLinePort>(p.simLoop(), p.terminal());
        terminal = std::make_unique<sim::Terminal>(p.loop(), *port, std::move(options));
        return *terminal;
    }

    std::string trace(bool times = false, bool texts = false) {
        return test::trace(p.wire(), times, texts);
    }
    int64_t nowUs() { return p.simLoop().nowUs(); }
    KorvelComTools& operator*() { return *c; }
    KorvelComTools* operator->() { return c.get(); }

    SimPlatform p;
    Recorder events;
    std::unique_ptr<KorvelComTools> c;
    std::unique_ptr<Peer> peer;
    std::unique_ptr<sim::SimLinePort> port;
    std::unique_ptr<sim::Terminal> terminal;
};

}  // namespace korvel::test
