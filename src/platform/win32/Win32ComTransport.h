// The serial device transport of Windows: a COM port opened exclusively for overlapped I/O,
// read and written from the host loop without ever blocking it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "korvelcom/platform/Transport.h"

namespace korvel {

/// A `Transport` on a Windows COM port ("COM3", "\\.\COM12" or any device path).
///
/// Opening: a name "COMn" is opened as "\\.\COMn" (the only form that reaches COM10 and up),
/// exclusively (no sharing) and for overlapped I/O.  The port is also claimed with a named
/// mutex of the session ("KorvelCom port <path>"), which every opener of ours respects in any
/// process: Windows' COM driver refuses a second opener itself, but Wine does not.  A port that
/// does not exist fails the open with "the device does not exist", one that another program holds
/// with "the device is busy", a handle that is not a COM port with "not a serial device".  The line
/// settings go through a DCB: any rate from 110 to 256000 baud the driver accepts, parity
/// n/e/o/m/s, 5 to 8 data bits, 1, 1.5 or 2 stop bits (1.5 only exists with 5 data bits; with more
/// it becomes 2), no flow control, DTR and RTS raised.  A driver that refuses the data bits or the
/// parity (a pseudo-terminal behind Wine takes only 8 data bits without parity) is run with 8 data
/// bits and no parity instead, as on POSIX; a rate it refuses fails the open.  `appliedSettings()`
/// reads back what the driver runs with.  Bytes received before the open are discarded.
///
/// Receiving: one overlapped read of a single byte is always outstanding, with no read
/// time-outs at all, so it completes exactly when a byte arrives; its event is the loop's
/// ready handle.  Each `read` collects that byte, then takes what the driver holds besides
/// (its count from `ClearCommError`) with a read of exactly that many bytes, which completes at
/// once, and starts the next single-byte read.  This needs neither `WaitCommEvent` nor
/// "return at once" time-outs (MAXDWORD forms), which a Wine COM port on a pseudo-terminal
/// does not honour, nor modem lines; on Windows the same calls behave as documented, so the
/// strategy is correct on both.
///
/// Writing: overlapped; one write is in flight at a time and later bytes queue behind it, so
/// the order on the wire is the order of the calls.  Closing waits for the write in flight for
/// at most its wire time plus 200 ms, then cancels what is left.
///
/// A read or write that fails, a single-byte read that completes empty, or the line settings
/// no longer readable (a USB adapter pulled out, the pseudo-terminal's other side closed)
/// make the port gone.  While nothing arrives, `read` reads the settings back every 50 ms at
/// most, because a Wine port on a pseudo-terminal whose other side closed leaves the
/// outstanding read pending for ever.  A gone port is not waited on any more (no spinning);
/// its handle is released at once, so that the device can be opened again when it returns.
/// The transport is reattachable.
class Win32ComTransport : public Transport {
  public:
    Win32ComTransport();
    /// Closes the port if open.
    ~Win32ComTransport() override;
    Win32ComTransport(const Win32ComTransport&) = delete;
    Win32ComTransport& operator=(const Win32ComTransport&) = delete;

    void open(const Endpoint& where, const LineSettings& line) override;
    void close() noexcept override;
    bool isOpen() const override { return open_; }
    void applySettings(const LineSettings& line) override;
    LineSettings appliedSettings() const override { return applied_; }
    std::size_t read(std::string& into, std::size_t max) override;
    void write(const std::string& bytes) override;
    std::size_t pendingOutput() const override { return tx_.size() + inFlight_.size(); }
    const std::string& goneReason() const override { return gone_; }
    bool reattachable() const override { return true; }
    /// The event of the outstanding single-byte read while open and not gone.
    ReadyHandle readyHandle() const override;
    const Endpoint& endpoint() const override { return where_; }

    /// The path a COM port name opens: "COMn" (any case) becomes "\\.\COMn"; other paths are
    /// returned unchanged.
    static std::string devicePath(const std::string& name);

  private:
    /// Starts the single-byte read unless one is outstanding; false when the port went away.
    bool startRead();
    /// Moves the completed single-byte read's byte into `into` when it has completed.
    void collectRead(std::string& into);
    /// Writes the queue: finishes the write in flight, starts the next.  False when gone.
    bool flushOutput();
    void markGone(const std::string& reason);
    /// Cancels outstanding I/O, waits until the driver has let go of the buffers, closes.
    void releaseHandle() noexcept;

    HANDLE h_ = INVALID_HANDLE_VALUE;
    HANDLE claim_ = nullptr;  ///< the named mutex that marks the port ours while open
    bool open_ = false;
    OVERLAPPED readOv_{};
    OVERLAPPED writeOv_{};
    bool readPending_ = false;
    bool writePending_ = false;
    char readByte_ = 0;
    DWORD lastCheck_ = 0;  ///< GetTickCount of the last check for a vanished device
    Endpoint where_;
    std::string tx_;        ///< queued behind the write in flight
    std::string inFlight_;  ///< the buffer of the write in flight (must stay put until done)
    std::string gone_;
    LineSettings applied_{};
};

/// Where port `port` leads on Windows: the port map's mapping or `KORVELCOM_COM<N>` when there is
/// one (see `PortMap`), else the system's own port "\\.\COM<N>".  Throws `SerialError` when a
/// mapping is malformed.
Endpoint resolveWin32Port(int16_t port);

/// The text of a Windows error code, without the trailing line break.
std::string win32ErrorText(DWORD code);

}  // namespace korvel
