// The terminal's end of a loopback TCP connection, with the members `PtyPeer` uses on a
// pseudo-terminal's master, so the fault scripts run unchanged over the network.  The first
// connection is the line; closing drops the listener too, so a vanished terminal stays gone.
#pragma once

#include <string>

#include "platform/net/Socket.h"

namespace korvel::test {

class TcpEnd {
  public:
    TcpEnd() { listener_ = net::listenTcp("127.0.0.1", 0, port_, why_); }
    ~TcpEnd() { closeMaster(); }
    friend void closeWithReset(TcpEnd& end) { end.closeMaster(true); }
    std::string slavePath() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
    int masterFd() { return static_cast<int>(accepted() ? conn_ : listener_); }
    bool masterOpen() const { return listener_ != net::kNoSocket || conn_ != net::kNoSocket; }
    std::size_t write(const std::string& bytes) {
        const long n = accepted() ? net::sendSome(conn_, bytes.data(), bytes.size(), why_) : 0;
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    std::string readAvailable() {
        std::string got;
        char buf[4096];
        for (long n; accepted() && (n = net::receiveSome(conn_, buf, sizeof buf, why_)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
        return got;
    }
    void closeMaster(bool reset = false) {
        net::closeSocket(std::exchange(conn_, net::kNoSocket), reset);
        net::closeSocket(std::exchange(listener_, net::kNoSocket));
    }

  private:
    bool accepted() {
        if (conn_ == net::kNoSocket && listener_ != net::kNoSocket)
            conn_ = net::acceptTcp(listener_);
        return conn_ != net::kNoSocket;
    }
    net::SocketHandle listener_ = net::kNoSocket, conn_ = net::kNoSocket;
    uint16_t port_ = 0;
    std::string why_;
};

}  // namespace korvel::test
