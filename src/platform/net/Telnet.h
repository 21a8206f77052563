// The telnet side of a serial port server: option negotiation and the COM port option, which
// carries a serial line's settings over the same byte stream as its data.  Pure byte
// processing, so that it is tested without a socket.
#pragma once

#include <cstdint>
#include <string>

#include "korvelcom/platform/LineSettings.h"

namespace korvel::net {

/// Telnet bytes this client speaks.
namespace telnet {
inline constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250,
                               SE = 240;
inline constexpr unsigned char kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
}  // namespace telnet

/// One client's telnet state.  It offers the COM port option and binary transmission both
/// ways, accepts suppress-go-ahead, and refuses every other option the server proposes.
/// Commands the server sends inside the COM port option (its answers to our settings, line
/// and modem state notifications) are read and dropped.
class TelnetClient {
  public:
    enum class ComPort { Asked, Accepted, Refused };

    /// What the client sends first: its offers.
    std::string greeting();
    /// Doubles every IAC in `data`, so that the server reads the bytes as they are.
    static std::string escape(const std::string& data);
    /// The COM port option's commands that set the line: baud rate (4 bytes, big-endian),
    /// data size, parity (1 none, 2 odd, 3 even, 4 mark, 5 space) and stop size (1, 2, or 3
    /// for 1.5), each as one subnegotiation.
    static std::string setLine(const LineSettings& line);

    /// Reads bytes from the server: appends the data among them to `data`, and to `replies`
    /// what must be sent back (answers to its negotiation).  Keeps the state of a command cut
    /// between two calls.
    void feed(const std::string& in, std::string& data, std::string& replies);

    /// Whether the server agreed to the COM port option, refused it, or has not said yet.
    ComPort comPort() const { return comPort_; }

  private:
    void negotiate(unsigned char verb, unsigned char option, std::string& replies);

    enum class State { Data, Iac, Verb, Sub, SubIac };
    State state_ = State::Data;
    unsigned char verb_ = 0;
    ComPort comPort_ = ComPort::Asked;
    bool weBinary_ = false, theyBinary_ = false, theySga_ = false;
};

}  // namespace korvel::net
