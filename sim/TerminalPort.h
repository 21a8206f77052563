// The simulated terminal's end of the line: a `Transport` serviced from the host loop, the same
// seam the control's port uses.  A simulated line end (virtual time), the master of a new
// pseudo-terminal, or a serial device (real time).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "korvelcom/platform/HostLoop.h"
#include "korvelcom/platform/Transport.h"
#include "platform/sim/SimLine.h"
#include "platform/sim/SimLoop.h"

namespace korvel::sim {

/// A full-duplex byte transport to the control, serviced at every yield of its loop: arrived
/// bytes are handed to the receiver from inside `yield()`, writes never block.
class TerminalPort : public LoopSource {
  public:
    using Receiver = std::function<void(const std::string& bytes)>;

    /// Services `transport`, which must be open, from `loop` (which must outlive the port).
    TerminalPort(HostLoop& loop, std::unique_ptr<Transport> transport);
    /// Unregisters and destroys the transport (closing it).
    ~TerminalPort() override;
    TerminalPort(const TerminalPort&) = delete;
    TerminalPort& operator=(const TerminalPort&) = delete;

    /// Queues `bytes` for the control and returns at once.  Throws `SerialError` when the
    /// transport has gone away or fails.
    void write(const std::string& bytes) { transport_->write(bytes); }

    /// Sets who receives arrived bytes, in arrival order, one or more at a time (nullptr:
    /// arrivals are dropped).
    void setReceiver(Receiver receiver) { receiver_ = std::move(receiver); }

    /// Microseconds on the transport's clock (virtual or monotonic), for logs.
    int64_t nowUs() const { return transport_->clockUs(); }

    /// Bytes written but not yet taken by the line.
    std::size_t pendingOutput() const { return transport_->pendingOutput(); }

    /// Sends what is queued, then reads and delivers what arrived; returns whether any did.
    bool service() override;
    ReadyHandle waitHandle() const override { return transport_->readyHandle(); }

  protected:
    Transport& transport() { return *transport_; }

  private:
    HostLoop& loop_;
    std::unique_ptr<Transport> transport_;
    Receiver receiver_;
};

/// A port on one endpoint of a `SimLine` (normally B, the terminal's side): bytes take their
/// wire time, in virtual time.
class SimLinePort : public TerminalPort {
  public:
    /// Takes over the endpoint's receiver until destroyed.  `loop` and `end` must outlive it.
    SimLinePort(SimLoop& loop, SimLine::Endpoint& end);
};

}  // namespace korvel::sim
