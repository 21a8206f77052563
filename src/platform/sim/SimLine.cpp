#include "platform/sim/SimLine.h"

#include <algorithm>

namespace korvel {

SimLine::SimLine(SimLoop& loop, uint64_t seed) : loop_(loop), rng_(seed) {
    for (int s = 0; s < 2; ++s) {
        ends_[s].line_ = this;
        ends_[s].side_ = static_cast<Side>(s);
    }
}

double SimLine::chance() {
    // The top 53 bits of the generator as a fraction: the same sequence on every standard
    // library, unlike the standard distributions.
    return static_cast<double>(rng_() >> 11) * 0x1.0p-53;
}

void SimLine::Endpoint::write(const std::string& bytes) {
    for (char c : bytes)
        line_->send(side_, static_cast<uint8_t>(c));
}

void SimLine::send(Side from, uint8_t byte) {
    Endpoint& e = ends_[from];
    const FaultProfile& f = faults_[from];
    Counters& n = counters_[from];
    ++n.sent;
    const Side to = from == A ? B : A;
    auto onWire = [&](uint8_t b) {
        e.busyUntilUs_ = std::max(e.busyUntilUs_, loop_.nowUs()) + e.charTimeUs_;
        arrive(to, e.busyUntilUs_, b);
    };
    if (f.noise > 0 && chance() < f.noise) {
        ++n.noise;
        onWire(static_cast<uint8_t>(rng_()));
    }
    if (f.delay > 0 && chance() < f.delay) {
        ++n.delayed;
        const int64_t stall =
            1 + static_cast<int64_t>(chance() * static_cast<double>(f.maxDelayUs));
        e.busyUntilUs_ = std::max(e.busyUntilUs_, loop_.nowUs()) + stall;
    }
    if (f.drop > 0 && chance() < f.drop) {
        ++n.dropped;
        e.busyUntilUs_ = std::max(e.busyUntilUs_, loop_.nowUs()) + e.charTimeUs_;
        return;
    }
    if (f.corrupt > 0 && chance() < f.corrupt) {
        ++n.corrupted;
        uint8_t mask = 0;
        while (mask == 0)
            mask = static_cast<uint8_t>(rng_());
        byte ^= mask;
    }
    onWire(byte);
    if (f.duplicate > 0 && chance() < f.duplicate) {
        ++n.duplicated;
        onWire(byte);
    }
}

void SimLine::arrive(Side at, int64_t whenUs, uint8_t byte) {
    loop_.at(whenUs, [this, at, byte] {
        if (connected_ && ends_[at].receiver_) ends_[at].receiver_(byte);
    });
}

}  // namespace korvel
