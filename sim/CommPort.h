// The simulated terminal on a serial port of ours (a real device through the POSIX port, or
// any other `SerialComm`), for running against a control on another machine or program.
#pragma once

#include "korvelcom/platform/SerialComm.h"
#include "sim/TerminalPort.h"

namespace korvel::sim {

/// A port over an open `SerialComm`: receive notifications at every arrived character
/// (`RThreshold` 1, all waiting characters read at once), writes through `output`.
class CommPort : public TerminalPort {
  public:
    /// Takes over `comm`'s notification handler, threshold and input length; `comm` must be
    /// open and must outlive the port.  Throws `SerialError` when the port refuses them.
    explicit CommPort(SerialComm& comm);
    /// Removes the notification handler and stops notifications; never throws.
    ~CommPort() override;
    CommPort(const CommPort&) = delete;
    CommPort& operator=(const CommPort&) = delete;

    /// Queues the bytes on the port.  Throws `SerialError` when the device has gone away.
    void write(const std::string& bytes) override { comm_.output(bytes); }
    /// Steady clock in microseconds.
    int64_t nowUs() const override;

  private:
    SerialComm& comm_;
};

}  // namespace korvel::sim
