// The simulated terminal on the master side of a pseudo-terminal, in real time: the control
// (or any program) opens the slave device as its serial port.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/Pty.h"
#include "sim/TerminalPort.h"

namespace korvel::sim {

/// Owns a new pseudo-terminal; its master is the terminal's end, through the serial device
/// transport (which the loop may block on while idle).
class PtyPort : public TerminalPort {
  public:
    /// Opens the pseudo-terminal and registers with `loop`, which must outlive the port.
    /// Throws `std::system_error` when the system has no pseudo-terminal to give.
    explicit PtyPort(HostLoop& loop) : PtyPort(loop, std::make_unique<Pty>()) {}
    /// Closes the transport, then the pseudo-terminal (the control's port sees a hang-up).
    ~PtyPort() override;

    /// The device path the control's port should open (e.g. "/dev/pts/3").
    const std::string& slavePath() const { return pty_->slavePath(); }

  private:
    PtyPort(HostLoop& loop, std::unique_ptr<Pty> pty);
    std::unique_ptr<Pty> pty_;
};

}  // namespace korvel::sim
