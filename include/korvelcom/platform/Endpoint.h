// Where a serial port number leads: a serial device, a TCP stream or an RFC 2217 port server,
// and the process-wide map from port numbers to those endpoints.
#pragma once

#include <cstdint>
#include <string>

#include "korvelcom/Export.h"

namespace korvel {

/// One end of a byte stream to the terminal, as a port number resolves to it.  A plain value.
struct KORVELCOM_API Endpoint {
    enum class Kind : uint8_t {
        Device,   ///< a serial device by path ("/dev/ttyUSB0", a pseudo-terminal, "COM3")
        Tcp,      ///< a raw byte stream: "tcp://HOST:PORT"
        Rfc2217,  ///< a port server that also carries the line settings: "rfc2217://HOST:PORT"
    };
    Kind kind = Kind::Device;
    std::string path;      ///< the device path (`Device`), else the host name or address
    uint16_t tcpPort = 0;  ///< the TCP port, 1 to 65535 (`Tcp`, `Rfc2217`); 0 for a device
    int16_t port = 0;      ///< the port number this was resolved for (0: none); for messages

    /// Reads a device path, "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (HOST a name, an IPv4
    /// address or a bracketed IPv6 address; PORT 1 to 65535).  Any other "scheme://" text,
    /// an empty text, a missing host or a bad port number throws `SerialError` saying which.
    static Endpoint parse(const std::string& text, int16_t port = 0);
    /// The text `parse` reads back to this endpoint.
    std::string text() const;
    /// How messages name it: "COM3 (/dev/ttyUSB0)" with a port number, else `text()`.
    std::string label() const;
};

/// Which endpoint a port number leads to, for the whole process.  Port N uses, in this order: a
/// mapping set with `set()`, else the environment variable `KORVELCOM_COM<N>` when it is set
/// and not empty, else the device `/dev/ttyS<N-1>`.  Thread-safe.
class KORVELCOM_API PortMap {
  public:
    /// Maps `port` to `target` (an endpoint text, see `Endpoint::parse`; empty removes the
    /// mapping).  Affects later opens only.
    static void set(int16_t port, std::string target);
    /// Removes every mapping set with `set()`.
    static void clear();
    /// The endpoint text port `port` leads to now, unparsed.
    static std::string lookup(int16_t port);
    /// `lookup(port)` parsed; throws `SerialError` when that text is malformed.
    static Endpoint resolve(int16_t port);
};

}  // namespace korvel
