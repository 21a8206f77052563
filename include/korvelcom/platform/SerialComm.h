// The serial communications component seam: what the control uses of its one port, `Comm`.
//
// Every member may report a failure by throwing `SerialError`; the control catches it on the
// failure path of whichever of its own members called.  One implementation serves every line:
// the buffered port component (platform/BufferedSerialComm.h) over a `Transport`.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "korvelcom/Export.h"

namespace korvel {

class WireLog;

/// The one error type of the serial seam: a port that is missing, busy or gone, a refused setting,
/// a read or write that failed.  `what()` is a short human-readable reason.
class KORVELCOM_API SerialError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Event kinds reported by `CommEvent()`.
enum CommEventKind : int16_t {
    kCommEvNone = 0,
    kCommEvSend = 1,     ///< transmit threshold reached (never raised: `SThreshold` is always 0)
    kCommEvReceive = 2,  ///< characters were received
};

/// The serial port component.  Line properties apply to the next open unless stated otherwise.
/// Receive notifications (`OnComm`) are delivered only on the host's thread from inside
/// `HostLoop::yield()`, never concurrently with other control code.
class KORVELCOM_API SerialComm {
  public:
    virtual ~SerialComm() = default;

    /// Port number (1 = first port).  Writing it while the port is open throws `SerialError`;
    /// a number below 1 is refused with `SerialError` and leaves the old one.
    virtual int16_t commPort() const = 0;
    virtual void setCommPort(int16_t port) = 0;

    /// Line settings "baud,parity,data,stop" such as "9600,e,7,1".  Parity is one of n, e, o, m,
    /// s (either case); data bits 5 to 8; stop bits 1, 1.5 or 2.  A string that does not parse
    /// throws `SerialError` and leaves the old settings.  Applies to the next open.
    virtual std::string settings() const = 0;
    virtual void setSettings(const std::string& settings) = 0;

    /// Whether the port is open.  Writing true opens it (throws `SerialError` when the device is
    /// missing, busy or cannot be mapped); writing false closes it (closing a closed port does
    /// nothing).  Opening an open port throws, as the component refuses it.
    virtual bool portOpen() const = 0;
    virtual void setPortOpen(bool open) = 0;

    /// Number of received characters waiting in the receive buffer; throws when the port is
    /// closed or the device has gone away.
    virtual int32_t inBufferCount() = 0;

    /// Takes the waiting characters out of the receive buffer, in arrival order: all of them
    /// while `inputLen()` is 0, otherwise at most that many.  Empty when none.  Throws when the
    /// port is closed or the device has gone away.
    virtual std::string input() = 0;

    /// Maximum characters one `input()` returns; 0 means all.  Negative values are refused.
    virtual int16_t inputLen() const = 0;
    virtual void setInputLen(int16_t len) = 0;

    /// 0 = text mode (the only mode the control uses); 1 = binary, accepted and treated alike
    /// since both return one character per byte.  Other values throw.
    virtual int32_t inputMode() const = 0;
    virtual void setInputMode(int32_t mode) = 0;

    /// Queues the bytes for transmission and returns at once.  Throws when the port is closed
    /// or the device has gone away.
    virtual void output(const std::string& bytes) = 0;

    /// Receive threshold: 0 = no receive notifications; n >= 1 = a notification follows the
    /// arrival of characters while at least n are waiting.  Negative values throw.
    virtual int16_t rThreshold() const = 0;
    virtual void setRThreshold(int16_t threshold) = 0;

    /// Send threshold; the control always writes 0 (no transmit notifications).
    virtual int16_t sThreshold() const = 0;
    virtual void setSThreshold(int16_t threshold) = 0;

    /// Kind of the notification being delivered (see `CommEventKind`); valid inside `OnComm`.
    virtual int16_t commEvent() const = 0;

    /// Sets the notification handler (the control's OnComm handler).  It runs inside
    /// `HostLoop::yield()` only.
    virtual void setOnComm(std::function<void()> handler) = 0;

    /// Records every byte written and received, with its time, into `log` (nullptr: stop).
    virtual void setWireLog(WireLog* log) = 0;
};

}  // namespace korvel
