// The serial port on POSIX: a termios device (a serial adapter or a pseudo-terminal) opened
// without blocking, read and written from the host loop.
#pragma once

#include <cstdint>
#include <string>

#include "platform/BufferedSerialComm.h"

namespace korvel {

/// Which device a port number opens, for the whole process.  Port N uses, in this order: a
/// mapping set with `set()`, else the path in the environment variable `KORVELCOM_COM<N>` when
/// it is set and not empty, else `/dev/ttyS<N-1>`.  Thread-safe.
class PortMap {
  public:
    /// Maps `port` to `device` (an empty path removes the mapping).  Affects later opens only.
    static void set(int16_t port, std::string device);
    /// Removes every mapping set with `set()`.
    static void clear();
    /// The device path that port `port` opens now.
    static std::string devicePath(int16_t port);
};

/// A `SerialComm` on a termios device.
///
/// Opening: the device of `commPort()` (see `PortMap`) is opened non-blocking and without
/// becoming the controlling terminal, then claimed exclusively with TIOCEXCL and an advisory
/// flock(); a device that is missing, busy, not a terminal, or refuses access fails the open
/// with `SerialError` (the message says "does not exist" or "busy" for those two cases).
/// The line settings are applied in raw mode: no echo, no line editing, no character
/// translation, no flow control, reads return at once.  Baud rates without a termios speed
/// constant (14400, 28800, 56000, 128000, 256000) fail the open.  Stop bits 1.5 are applied as
/// 2, the nearest termios offers.  Received parity is not checked (characters arrive with the
/// parity bit stripped by the device).  A device that refuses the data bits or the parity (a
/// pseudo-terminal accepts only 8 data bits without parity; mark and space parity where the
/// system lacks CMSPAR) is run with 8 data bits and no parity instead, without failing the
/// open; `appliedSettings()` tells what it runs with.  Bytes that arrived while the port was
/// closed are discarded at open.
///
/// Writing never blocks: what the device does not take at once is queued and sent from later
/// services (the wire log records bytes when they are queued); what is still queued at close
/// is dropped.
///
/// The receive buffer holds at most `kReceiveBufferSize` characters: while it is full the
/// port reads nothing more from the device, whose own buffer keeps what follows (a
/// pseudo-terminal then holds its writer back; a serial adapter drops what overflows, as a
/// UART does), and it reads on once the host has taken characters.
///
/// A device that hangs up or fails a read or write (unplugged adapter, closed pseudo-terminal
/// master) is marked gone: its descriptor leaves the loop's wake set, it raises no
/// notification, and what it left unread no longer keeps a waiting loop polling.  The port
/// still reads as open.  While it is gone, each member that uses the device (`inBufferCount`,
/// `input`, `output`) first tries to open the device its port number maps to now (see
/// `PortMap`), with the checks and settings of an open: when that works the port carries on
/// with the new device (what the old one left unread or unsent is dropped), otherwise the
/// member throws `SerialError`.  Nothing is tried while no member is called.  The dead
/// descriptor is kept until then or until the port is closed, so that its name (a
/// pseudo-terminal's number) cannot pass to another device meanwhile.  Closing a port whose
/// device is gone neither fails nor blocks.
class PosixSerialComm : public BufferedSerialComm {
  public:
    /// Registers with `loop`, which must outlive the port.
    explicit PosixSerialComm(HostLoop& loop);
    /// Closes the device if open.
    ~PosixSerialComm() override;

    /// Most characters the receive buffer holds (the most a 16-bit count reports).
    static constexpr std::size_t kReceiveBufferSize = 32767;

    /// The descriptor to poll for arrived bytes: the device while open, not gone and with room
    /// in the receive buffer, else -1.
    int waitHandle() const override;
    /// As for every port, but false while the device is gone (its leftovers cannot be read).
    bool hasPending() const override;

    /// As for every port; while the device is gone, each first looks for it again (see the
    /// class note) and throws `SerialError` when it is still missing.
    int32_t inBufferCount() override;
    std::string input() override;
    void output(const std::string& bytes) override;

    /// The line settings the device runs with since the last successful open (equal to
    /// `lineSettings()` unless the device refused some of them); the parsed `settings()` while
    /// the port has never been opened.
    const LineSettings& appliedSettings() const { return applied_; }

    /// The path of the open device; empty while closed.
    const std::string& devicePath() const { return path_; }

    /// Bytes written with `output()` that the device has not taken yet.
    std::size_t pendingOutput() const { return tx_.size(); }

  protected:
    void doOpen() override;
    void doClose() noexcept override;
    void doWrite(const std::string& bytes) override;
    /// Sends what is queued, then reads everything available and delivers it; detects hang-up.
    bool gatherInput() override;
    /// CLOCK_MONOTONIC in microseconds.
    int64_t nowUs() override;

  private:
    /// Opens and configures the device of `commPort()` (see the class note), stores its path
    /// in `path` and returns its descriptor.  Throws `SerialError` on failure, leaving nothing
    /// open.
    int openDevice(std::string& path);
    /// When the device is gone: opens the device the port maps to now and, when that works,
    /// closes the dead one and carries on with the new one.  Returns whether the port has a
    /// usable device afterwards; never throws `SerialError`.
    bool reattach();
    /// Applies `lineSettings()` to `fd` and records the result in `applied_`; throws
    /// `SerialError` (prefixed with `name`) when termios cannot express them or the device
    /// refuses even the fallback.
    void configure(int fd, const std::string& name);
    /// Writes as much of the transmit queue as the device takes now.  On a write failure marks
    /// the device gone, drops the queue and returns the reason; otherwise returns empty.
    std::string flushOutput();

    int fd_ = -1;
    std::string path_;
    int adopt_ = -1;         ///< a device opened by `reattach()`, taken by the next `doOpen()`
    std::string adoptPath_;  ///< its path
    /// Characters in the receive buffer: those delivered minus those taken by `input()`.
    std::size_t buffered_ = 0;
    std::string tx_;
    LineSettings applied_{};
};

}  // namespace korvel
