// The simulated terminal on the master side of a pseudo-terminal, in real time: the control
// (or any program) opens the slave device as its serial port.
#pragma once

#include <string>

#include "korvelcom/platform/HostLoop.h"
#include "platform/posix/Pty.h"
#include "sim/TerminalPort.h"

namespace korvel::sim {

/// Owns a new pseudo-terminal and services its master from the loop: arrived bytes are read
/// and delivered at every yield, and the loop may block on the master while idle.
class PtyPort : public TerminalPort, public LoopSource {
  public:
    /// Opens the pseudo-terminal and registers with `loop`, which must outlive the port.
    /// Throws `std::system_error` when the system has no pseudo-terminal to give.
    explicit PtyPort(HostLoop& loop);
    /// Unregisters and closes the pseudo-terminal (the control's port sees a hang-up).
    ~PtyPort() override;
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    /// The device path the control's port should open (e.g. "/dev/pts/3").
    const std::string& slavePath() const { return pty_.slavePath(); }

    /// Writes what the master takes now and keeps the rest for later yields.  Throws
    /// `std::system_error` when the master fails.
    void write(const std::string& bytes) override;
    /// CLOCK_MONOTONIC (steady clock) in microseconds.
    int64_t nowUs() const override;

    /// Sends what is still queued, then reads and delivers everything that arrived.  Returns
    /// whether anything moved.
    bool service() override;
    int waitHandle() const override { return pty_.masterFd(); }

    /// Bytes written but not yet taken by the pseudo-terminal.
    std::size_t pendingOutput() const { return pending_.size(); }

  private:
    bool flush();

    HostLoop& loop_;
    Pty pty_;
    std::string pending_;
};

}  // namespace korvel::sim
