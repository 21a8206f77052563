// The control's serial port on endpoint A of a simulated line: the shared port component over
// a `SimLineTransport`, with what tests need to reach.
#pragma once

#include <functional>

#include "platform/BufferedSerialComm.h"
#include "platform/sim/SimLine.h"
#include "platform/sim/SimLineTransport.h"

namespace korvel {

class SimComm : public BufferedSerialComm {
  public:
    SimComm(SimLoop& loop, SimLine::Endpoint& end);

    /// Decides whether an open of a port number succeeds: throw `SerialError` to refuse it
    /// (a missing or busy device).  Default: every port opens.
    void setOpenCheck(std::function<void(int16_t port)> check) { openCheck_ = std::move(check); }
    /// Called every time the port is closed (tests count closes).
    void setCloseHook(std::function<void()> hook) { closeHook_ = std::move(hook); }
    /// The device goes away: every member touching the port fails until it is closed.
    void unplug() {
        if (transport()) static_cast<SimLineTransport*>(transport())->unplug();
    }
    /// Bytes written so far, in order (what the control put on the line).
    const std::string& written() const { return written_; }
    /// Forgets the bytes written so far (a long run keeps the record from growing).
    void clearWritten() { written_.clear(); }

  private:
    std::function<void(int16_t)> openCheck_;
    std::function<void()> closeHook_;
    std::string written_;
};

}  // namespace korvel
