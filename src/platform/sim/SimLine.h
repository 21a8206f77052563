// A full-duplex serial line in virtual time between two endpoints: A (the control's side) and
// B (the terminal's side).  Each byte takes its wire time at the sender's line settings, bytes
// of one direction never overtake each other, and seeded faults can be injected per direction.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "platform/sim/SimLoop.h"

namespace korvel {

/// Per-byte fault probabilities (0 to 1) for one direction of the line.
struct FaultProfile {
    double drop = 0;       ///< the byte is lost
    double corrupt = 0;    ///< one or more of its bits flip
    double duplicate = 0;  ///< it arrives twice
    double delay = 0;      ///< the line stalls before it (it and everything after arrive later)
    double noise = 0;      ///< a random byte arrives before it
    int64_t maxDelayUs = 5000;  ///< a stall lasts 1 to this many microseconds
};

class SimLine {
  public:
    enum Side { A = 0, B = 1 };

    struct Counters {
        int64_t sent = 0, dropped = 0, corrupted = 0, duplicated = 0, delayed = 0, noise = 0;
    };

    class Endpoint {
      public:
        /// Puts bytes on the line; each arrives at the other end after the bytes still on the
        /// wire in this direction plus its own wire time.
        void write(const std::string& bytes);
        /// Called with every byte that arrives at this end (nullptr: arrivals are lost).
        void setReceiver(std::function<void(uint8_t)> receiver) { receiver_ = std::move(receiver); }
        /// Wire time of one character sent from this end (default: 9600 baud, 10 bits).
        void setCharTimeUs(int64_t us) { charTimeUs_ = us; }
        int64_t charTimeUs() const { return charTimeUs_; }

      private:
        friend class SimLine;
        SimLine* line_ = nullptr;
        Side side_ = A;
        int64_t charTimeUs_ = 1042;
        int64_t busyUntilUs_ = 0;
        std::function<void(uint8_t)> receiver_;
    };

    explicit SimLine(SimLoop& loop, uint64_t seed = 1);
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    Endpoint& end(Side side) { return ends_[side]; }
    /// Faults applied to the bytes sent from `from`.
    void setFaults(Side from, const FaultProfile& faults) { faults_[from] = faults; }
    /// While disconnected every byte is lost (a pulled cable).
    void setConnected(bool connected) { connected_ = connected; }
    /// What happened so far to the bytes sent from `from`.
    const Counters& counters(Side from) const { return counters_[from]; }
    SimLoop& loop() { return loop_; }

  private:
    void send(Side from, uint8_t byte);
    void arrive(Side at, int64_t whenUs, uint8_t byte);
    double chance();

    SimLoop& loop_;
    Endpoint ends_[2];
    FaultProfile faults_[2];
    Counters counters_[2];
    bool connected_ = true;
    std::mt19937_64 rng_;
};

}  // namespace korvel
