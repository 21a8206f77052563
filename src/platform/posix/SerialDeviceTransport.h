// The serial device transport of a POSIX system: a termios device (a serial adapter or a
// pseudo-terminal) opened without blocking, read and written from the host loop.
#pragma once

#include <cstdint>
#include <string>

#include "korvelcom/platform/Transport.h"

namespace korvel {

/// A `Transport` on a termios device.
///
/// Opening: the device path is opened non-blocking and without becoming the controlling
/// terminal, then claimed exclusively with TIOCEXCL and an advisory flock(); a device that is
/// missing, busy, not a terminal, or refuses access fails the open with `SerialError` (the
/// message says "does not exist" or "busy" for those two cases).  The line settings are
/// applied in raw mode: no echo, no line editing, no character translation, no flow control,
/// reads return at once.  Baud rates without a termios speed constant (14400, 28800, 56000,
/// 128000, 256000) fail the open.  Stop bits 1.5 are applied as 2, the nearest termios offers.
/// Received parity is not checked (characters arrive with the parity bit stripped by the
/// device).  A device that refuses the data bits or the parity (a pseudo-terminal accepts only
/// 8 data bits without parity; mark and space parity where the system lacks CMSPAR) is run
/// with 8 data bits and no parity instead, without failing the open; `appliedSettings()` tells
/// what it runs with.  Bytes that arrived while nobody had the device open are discarded.
///
/// Writing never blocks: what the device does not take at once is queued and sent by later
/// reads; closing makes one last attempt at it and drops the rest.
///
/// A device that hangs up or fails a read or write (unplugged adapter, closed pseudo-terminal
/// master) is gone: its flock is released at once (it guards nothing any more), but the dead
/// descriptor stays open until closed, so that its name cannot pass to another device.  The
/// transport is reattachable.
class SerialDeviceTransport : public Transport {
  public:
    SerialDeviceTransport() = default;
    /// Closes the device if open.
    ~SerialDeviceTransport() override;
    SerialDeviceTransport(const SerialDeviceTransport&) = delete;
    SerialDeviceTransport& operator=(const SerialDeviceTransport&) = delete;

    void open(const Endpoint& where, const LineSettings& line) override;
    /// Takes over `fd`, an open non-blocking terminal descriptor of someone else's (the master
    /// of a pseudo-terminal), as it is: no claim, no settings, and `close()` leaves it open.
    void adopt(int fd, const std::string& name);
    void close() noexcept override;
    bool isOpen() const override { return fd_ >= 0; }
    void applySettings(const LineSettings& line) override;
    LineSettings appliedSettings() const override { return applied_; }
    std::size_t read(std::string& into, std::size_t max) override;
    void write(const std::string& bytes) override;
    std::size_t pendingOutput() const override { return tx_.size(); }
    const std::string& goneReason() const override { return gone_; }
    bool reattachable() const override { return true; }
    /// The descriptor while open and not gone.
    ReadyHandle readyHandle() const override;
    const Endpoint& endpoint() const override { return where_; }

  private:
    /// Writes as much of the queue as the device takes now.  On a failure marks the device
    /// gone, drops the queue and returns false.
    bool flushOutput();
    void markGone(const std::string& reason);

    int fd_ = -1;
    bool owned_ = false;  ///< whether `close()` closes `fd_` (false for an adopted one)
    Endpoint where_;
    std::string tx_;
    std::string gone_;
    LineSettings applied_{};
};

}  // namespace korvel
