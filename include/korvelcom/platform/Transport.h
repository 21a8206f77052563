// A byte stream to the terminal: what a serial port component needs from the world.  A serial
// device, a TCP stream and an RFC 2217 port server are implementations of the one interface;
// the port component above never asks which one it has.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "korvelcom/Export.h"
#include "korvelcom/platform/Endpoint.h"
#include "korvelcom/platform/HostLoop.h"
#include "korvelcom/platform/LineSettings.h"
#include "korvelcom/platform/SerialComm.h"

namespace korvel {

/// A full-duplex byte stream.  Everything happens on one thread and nothing blocks: reads take
/// what has arrived, writes queue what cannot leave at once.  A transport whose device or
/// connection vanished (unplugged, hung up, reset) is "gone": it reads nothing more and fails
/// every write until closed.
class KORVELCOM_API Transport {
  public:
    virtual ~Transport() = default;

    /// Opens `where` and applies `line`.  Throws `SerialError` "<label>: <reason>" (see
    /// `Endpoint::label`) when it cannot: "the device does not exist", "the device is busy",
    /// "not a serial device", a setting the device cannot run with.  Nothing stays open then.
    virtual void open(const Endpoint& where, const LineSettings& line) = 0;
    /// Makes one last attempt at queued output (unless gone), then closes.  Never throws;
    /// closing a closed transport does nothing.
    virtual void close() noexcept = 0;
    /// Whether it is open (a gone transport stays open until closed).
    virtual bool isOpen() const = 0;

    /// Applies line settings now: a serial device applies what it accepts (see
    /// `appliedSettings`); a raw stream ignores them.  Throws `SerialError` when the device
    /// refuses even its fallback.
    virtual void applySettings(const LineSettings& line) = 0;
    /// The settings the line runs with since the last open or apply.
    virtual LineSettings appliedSettings() const = 0;

    /// Sends what is queued, then appends to `into` at most `max` bytes that have arrived,
    /// without waiting.  Notices a vanished device (bytes read before it are still appended).
    /// Returns how many bytes it appended; 0 while closed or gone.
    virtual std::size_t read(std::string& into, std::size_t max) = 0;
    /// Queues `bytes` behind what is still queued and sends what the line takes now.  Throws
    /// `SerialError` with the reason when the transport is closed, gone, or fails now (it is
    /// gone from then on, and its queue is dropped).
    virtual void write(const std::string& bytes) = 0;
    /// Bytes written that have not left yet.
    virtual std::size_t pendingOutput() const { return 0; }

    /// Why the transport is gone ("the device hung up", "read failed: ..."); empty while it
    /// is usable or closed.
    virtual const std::string& goneReason() const = 0;
    bool gone() const { return !goneReason().empty(); }
    /// Whether a gone transport may be replaced without a close: the endpoint its port number
    /// leads to is opened again when next used (a replugged adapter, a terminal reconnected).
    /// Otherwise it stays gone until the port is closed.
    virtual bool reattachable() const { return false; }

    /// What an idle loop waits on for arriving bytes while open and not gone, else
    /// `kNoReadyHandle`.
    virtual ReadyHandle readyHandle() const = 0;
    /// The endpoint it is open on; an empty path while closed.
    virtual const Endpoint& endpoint() const = 0;

    /// Microseconds on the clock the wire log stamps this transport's bytes with: the steady
    /// clock, or virtual time on a simulated line.
    virtual int64_t clockUs() const {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

/// A transport of this operating system that can reach `where`, closed: the serial device
/// transport for a device, `SocketTransport` for `tcp://`, `Rfc2217Transport` for
/// `rfc2217://` (korvelcom/platform/SocketSerialComm.h).
KORVELCOM_API std::unique_ptr<Transport> makeSystemTransport(const Endpoint& where);

}  // namespace korvel
