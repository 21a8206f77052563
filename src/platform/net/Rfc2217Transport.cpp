#include <chrono>

#include "korvelcom/platform/SocketSerialComm.h"
#include "platform/net/Socket.h"
#include "platform/net/Telnet.h"

namespace korvel {

struct Rfc2217Transport::Telnet {
    net::TelnetClient client;
};

Rfc2217Transport::Rfc2217Transport() : telnet_(std::make_unique<Telnet>()) {}
Rfc2217Transport::~Rfc2217Transport() {
    close();  // before the telnet state goes
}

void Rfc2217Transport::open(const Endpoint& where, const LineSettings& line) {
    SocketTransport::open(where, line);
    telnet_ = std::make_unique<Telnet>();
    early_.clear();
    sendRaw(telnet_->client.greeting());
    // The server's answer to the option comes among its own offers; data that arrives
    // meanwhile is kept for the first read.
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
    using net::TelnetClient;
    for (auto left = end - Clock::now();
         telnet_->client.comPort() == TelnetClient::ComPort::Asked && !gone() &&
         left > Clock::duration::zero();
         left = end - Clock::now()) {
        std::string wire;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
        if (awaitRaw(static_cast<int>(ms) + 1) && receiveRaw(wire, 4096)) decode(wire, early_);
    }
    const std::string label = where.label();
    const TelnetClient::ComPort answer = telnet_->client.comPort();
    const std::string why = gone() ? goneReason() : "";
    if (answer == TelnetClient::ComPort::Accepted && why.empty()) {
        applySettings(line);
        if (!gone()) return;
    }
    close();
    if (answer == TelnetClient::ComPort::Refused)
        throw SerialError(label + ": the server refuses the COM port option (RFC 2217)");
    if (!why.empty()) throw SerialError(label + ": " + why);
    throw SerialError(label + ": the server did not answer the COM port option");
}

void Rfc2217Transport::applySettings(const LineSettings& line) {
    applied_ = line;
    if (isOpen() && !gone()) sendRaw(net::TelnetClient::setLine(line));
}

std::size_t Rfc2217Transport::read(std::string& into, std::size_t max) {
    std::size_t n = 0;
    if (!early_.empty()) {
        n = std::min(max, early_.size());
        into.append(early_, 0, n);
        early_.erase(0, n);
    }
    return n + SocketTransport::read(into, max - n);
}

void Rfc2217Transport::decode(const std::string& wire, std::string& data) {
    std::string replies;
    telnet_->client.feed(wire, data, replies);
    if (!replies.empty()) sendRaw(replies);
}

std::string Rfc2217Transport::encode(const std::string& data) {
    return net::TelnetClient::escape(data);
}

}  // namespace korvel
