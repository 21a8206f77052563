// Serial ports over the network: a terminal's byte stream on a TCP port ("tcp://HOST:PORT"), or
// a serial port server speaking the telnet COM port option of RFC 2217
// ("rfc2217://HOST:PORT").  A port number leads to them through `PortMap`; the platform's
// port component opens them like a device.  docs/platform.md tells more.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "korvelcom/platform/HostLoop.h"
#include "korvelcom/platform/SerialComm.h"
#include "korvelcom/platform/Transport.h"

namespace korvel {

/// A raw byte stream over a TCP connection.
///
/// Opening connects (non-blocking connect, at most `kConnectTimeoutMs` in all over the
/// addresses the host name gives) and switches on TCP_NODELAY and keep-alive.  A failure
/// throws `SerialError` "<label>: <cause>", the cause one of "connection refused", "the host is
/// unreachable", "host not found: ...", "no answer within 3000 ms".  Line settings are kept but
/// change nothing on the wire.
///
/// A connection the peer closes or resets is gone, like an unplugged cable ("the terminal
/// closed the connection", "the terminal reset the connection"); the transport is
/// reattachable, so the next member that uses the port connects again.
class KORVELCOM_API SocketTransport : public Transport {
  public:
    /// The longest an open waits for the connection (and, for RFC 2217, the server's answer
    /// to the COM port option), in milliseconds.
    static constexpr int kConnectTimeoutMs = 3000;

    SocketTransport() = default;
    /// Closes the connection if open.
    ~SocketTransport() override;
    SocketTransport(const SocketTransport&) = delete;
    SocketTransport& operator=(const SocketTransport&) = delete;

    /// Connects to a `tcp://` or `rfc2217://` endpoint (see the class); `SerialError` for a
    /// device path.
    void open(const Endpoint& where, const LineSettings& line) override;
    /// Takes over `socket`, an accepted non-blocking connection (a server's side), named `name`
    /// in messages; `close()` closes it.
    void adopt(std::intptr_t socket, const std::string& name);
    void close() noexcept override;
    bool isOpen() const override { return socket_ != -1; }
    void applySettings(const LineSettings& line) override { applied_ = line; }
    LineSettings appliedSettings() const override { return applied_; }
    std::size_t read(std::string& into, std::size_t max) override;
    void write(const std::string& bytes) override;
    std::size_t pendingOutput() const override { return tx_.size(); }
    const std::string& goneReason() const override { return gone_; }
    bool reattachable() const override { return true; }
    /// The socket while open and not gone.
    ReadyHandle readyHandle() const override;
    const Endpoint& endpoint() const override { return where_; }

  protected:
    /// Queues bytes for the wire as they are and sends what the connection takes now; false
    /// (and gone) when the connection failed.
    bool sendRaw(const std::string& bytes);
    /// Appends at most `max` bytes as they came off the wire; false when none came.
    bool receiveRaw(std::string& into, std::size_t max);
    /// Waits at most `timeoutMs` ms for bytes off the wire; false when none came (or gone).
    bool awaitRaw(int timeoutMs);
    /// Turns bytes off the wire into line data (appended to `data`); raw TCP keeps them all.
    virtual void decode(const std::string& wire, std::string& data) { data += wire; }
    /// Turns line data into bytes for the wire.
    virtual std::string encode(const std::string& data) { return data; }
    void markGone(const std::string& reason);

    LineSettings applied_{};

  private:
    std::intptr_t socket_ = -1;
    Endpoint where_;
    std::string tx_;
    std::string gone_;
};

/// A serial port server reached with the telnet COM port option (RFC 2217): the same stream as
/// `SocketTransport`, with telnet's escaping of byte 255 both ways, and the line settings sent
/// to the server (baud rate, data size, parity, stop size) at open and at every change.
///
/// Opening waits, within `kConnectTimeoutMs`, for the server to accept the option; a server
/// that refuses it fails the open with "<label>: the server refuses the COM port option
/// (RFC 2217)", one that never answers with "...: the server did not answer the COM port
/// option".  The server's notifications (line and modem state) are read and ignored.
/// `appliedSettings()` is what was asked for: the server's answers are not checked.
class KORVELCOM_API Rfc2217Transport : public SocketTransport {
  public:
    Rfc2217Transport();
    ~Rfc2217Transport() override;

    void open(const Endpoint& where, const LineSettings& line) override;
    /// Sends the settings to the server.
    void applySettings(const LineSettings& line) override;
    std::size_t read(std::string& into, std::size_t max) override;

  protected:
    void decode(const std::string& wire, std::string& data) override;
    std::string encode(const std::string& data) override;

  private:
    struct Telnet;
    std::unique_ptr<Telnet> telnet_;
    std::string early_;  ///< data that arrived while the open waited for the server
};

/// A closed network transport for `where`: `Rfc2217Transport` for `rfc2217://`,
/// `SocketTransport` for `tcp://`; nullptr for a device (each OS has its own device transport).
KORVELCOM_API std::unique_ptr<Transport> makeNetworkTransport(const Endpoint& where);

/// A "SocketSerialComm": the shared serial port component (thresholds, notifications, wire
/// log, reconnection after a dropped connection) whose port numbers must lead to `tcp://` or
/// `rfc2217://` endpoints (through `PortMap`); opening a port that leads to a device fails
/// with `SerialError` "<label>: not a network port".  `loop` must outlive it.
KORVELCOM_API std::unique_ptr<SerialComm> makeSocketSerialComm(HostLoop& loop);

}  // namespace korvel
