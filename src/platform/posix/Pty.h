// A pseudo-terminal pair: the slave side stands in for a serial device that a port opens, the
// master side is the far end of the line (the terminal simulator, a test).
#pragma once

#include <cstddef>
#include <string>

namespace korvel {

/// Owns a pseudo-terminal master and, for its whole life, one descriptor of the slave side.
///
/// Why the slave descriptor: on Linux, once the last slave descriptor closes (a port closing
/// it), the master reports a hang-up to poll() and fails reads with EIO until the slave opens
/// again, so a simulator polling the master between two opens of the port would spin.  Holding
/// a slave descriptor keeps the line up: the master reads "nothing yet" instead.  The held
/// descriptor never reads, so it takes nothing from the port.  Bytes the master writes while no
/// port is open wait in the slave's buffer; a `SerialDeviceTransport` discards them when it opens,
/// as a real port would.
///
/// Both sides are in raw mode (no echo, no translation).  Not thread-safe.
class Pty {
  public:
    /// Opens a new pair.  Throws `std::system_error` when the system has no pseudo-terminal
    /// to give.
    Pty();
    /// Closes both descriptors.
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    /// The slave device path (e.g. "/dev/pts/3"): what a port maps to.
    const std::string& slavePath() const { return slavePath_; }

    /// The master descriptor (non-blocking), for poll(); -1 after `closeMaster()`.
    int masterFd() const { return master_; }

    /// Whether the master is still open.
    bool masterOpen() const { return master_ >= 0; }

    /// Writes `bytes` to the master without blocking.  Returns how many the pty took (fewer
    /// when its buffer is full; the caller keeps the rest).  Throws `std::system_error` when
    /// the master is closed or the write fails.
    std::size_t write(const std::string& bytes);

    /// Everything the slave side has sent so far that is waiting at the master, without
    /// blocking; empty when nothing is waiting or the master is closed.
    std::string readAvailable();

    /// Closes the master and the held slave descriptor: the line drops, as when a serial
    /// cable is unplugged.  An open port on the slave then sees a hang-up.
    void closeMaster();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace korvel
