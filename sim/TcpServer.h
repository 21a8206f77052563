// The simulated terminal on the network: a listening TCP socket that gives every connection a
// terminal of its own, as a payment terminal on a shop's network does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "korvelcom/platform/HostLoop.h"
#include "sim/Terminal.h"

namespace korvel::sim {

/// Listens on a TCP port and serves each connection with a new `Terminal` on the same loop.
/// A connection the control closes or resets ends its terminal; the others go on.
class TcpServer : public LoopSource {
  public:
    /// Sets up a new connection's terminal (responder, logger) before it reads anything; what
    /// it returns (a responder's state) lives as long as that terminal.
    using Setup = std::function<std::shared_ptr<void>(Terminal& terminal)>;

    /// Listens on `host` ("127.0.0.1", "::1", a name; empty: every IPv4 address) and `port`
    /// (0: one the system picks; see `port()`).  Every terminal gets `options`.  Throws
    /// `SerialError` "tcp://HOST:PORT: <cause>" when it cannot listen.  `loop` must outlive it.
    TcpServer(HostLoop& loop, const std::string& host, uint16_t port, TerminalOptions options,
              Setup setup = {});
    /// Ends every connection and stops listening.
    ~TcpServer() override;
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    /// The TCP port listened on.
    uint16_t port() const { return port_; }
    /// What a control opens to reach it: "tcp://HOST:PORT".
    std::string address() const;
    /// Connections served so far, and those open now.
    int64_t accepted() const { return accepted_; }
    std::size_t open() const { return sessions_.size(); }
    /// Of every terminal served so far, added up: messages processed and sent, sessions failed,
    /// bad frames, re-sends and test frames received (the other counters stay 0).
    TerminalStats totals() const;

    /// Accepts waiting connections and ends those whose control went away.
    bool service() override;
    ReadyHandle waitHandle() const override;

  private:
    struct Session;
    HostLoop& loop_;
    std::string host_;
    uint16_t port_ = 0;
    std::intptr_t listener_;
    TerminalOptions options_;
    Setup setup_;
    std::vector<std::unique_ptr<Session>> sessions_;
    int64_t accepted_ = 0;
    TerminalStats ended_;
};

}  // namespace korvel::sim
