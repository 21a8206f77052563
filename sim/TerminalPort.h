// The simulated terminal's byte transport, and its adapter on a simulated line (virtual time).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/sim/SimLine.h"
#include "platform/sim/SimLoop.h"

namespace korvel::sim {

/// A full-duplex byte transport to the control.  Everything happens on the loop's thread:
/// `write` never blocks, and arrived bytes are handed to the receiver from inside the loop's
/// `yield()`.
class TerminalPort {
  public:
    using Receiver = std::function<void(const std::string& bytes)>;

    virtual ~TerminalPort() = default;

    /// Queues `bytes` for the control and returns at once.  May throw when the transport has
    /// failed (an adapter documents what).
    virtual void write(const std::string& bytes) = 0;

    /// Sets who receives arrived bytes, in arrival order, one or more at a time (nullptr:
    /// arrivals are dropped).
    void setReceiver(Receiver receiver) { receiver_ = std::move(receiver); }

    /// Microseconds on the transport's clock (virtual or monotonic), for logs.
    virtual int64_t nowUs() const = 0;

  protected:
    /// Hands arrived bytes to the receiver.
    void deliver(const std::string& bytes) {
        if (receiver_ && !bytes.empty()) receiver_(bytes);
    }

  private:
    Receiver receiver_;
};

/// A port on one endpoint of a `SimLine` (normally B, the terminal's side): bytes take their
/// wire time and arrive one at a time, in virtual time.
class SimLinePort : public TerminalPort {
  public:
    /// Takes over the endpoint's receiver until destroyed.  `loop` and `end` must outlive it.
    SimLinePort(SimLoop& loop, SimLine::Endpoint& end);
    ~SimLinePort() override;
    SimLinePort(const SimLinePort&) = delete;
    SimLinePort& operator=(const SimLinePort&) = delete;

    void write(const std::string& bytes) override { end_.write(bytes); }
    int64_t nowUs() const override { return loop_.nowUs(); }

  private:
    SimLoop& loop_;
    SimLine::Endpoint& end_;
};

}  // namespace korvel::sim
