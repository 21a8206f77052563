#include <algorithm>
#include <array>

#include "korvelcom/platform/SocketSerialComm.h"
#include "platform/BufferedSerialComm.h"
#include "platform/net/Socket.h"

namespace korvel {

SocketTransport::~SocketTransport() {
    close();
}

void SocketTransport::open(const Endpoint& where, const LineSettings& line) {
    if (isOpen()) throw SerialError(where.label() + ": the transport is already open");
    if (where.kind == Endpoint::Kind::Device)
        throw SerialError(where.label() + ": not a network port");
    std::string why;
    const net::SocketHandle s = net::connectTcp(where.path, where.tcpPort, kConnectTimeoutMs, why);
    if (s == net::kNoSocket) throw SerialError(where.label() + ": " + why);
    socket_ = s;
    where_ = where;
    tx_.clear();
    gone_.clear();
    applied_ = line;
}

void SocketTransport::adopt(std::intptr_t socket, const std::string& name) {
    close();
    socket_ = socket;
    where_ = Endpoint{};
    where_.path = name;
}

void SocketTransport::close() noexcept {
    if (!isOpen()) return;
    // One last attempt at what is still queued; a close never waits.
    if (gone_.empty()) (void)sendRaw({});
    net::closeSocket(socket_);
    socket_ = -1;
    where_ = {};
    tx_.clear();
    gone_.clear();
}

ReadyHandle SocketTransport::readyHandle() const {
    return !isOpen() || !gone_.empty() ? kNoReadyHandle : net::readyHandleOf(socket_);
}

void SocketTransport::markGone(const std::string& reason) {
    if (gone_.empty()) gone_ = reason;
    tx_.clear();
}

bool SocketTransport::sendRaw(const std::string& bytes) {
    tx_ += bytes;
    while (!tx_.empty()) {
        std::string why;
        const long n = net::sendSome(socket_, tx_.data(), tx_.size(), why);
        if (n == net::kClosed) {
            markGone(why);
            return false;
        }
        if (n == 0) break;
        tx_.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

bool SocketTransport::awaitRaw(int timeoutMs) {
    return isOpen() && gone_.empty() && net::waitReadable(socket_, timeoutMs);
}

bool SocketTransport::receiveRaw(std::string& into, std::size_t max) {
    const std::size_t before = into.size();
    std::array<char, 4096> buf;
    while (gone_.empty() && into.size() - before < max) {
        std::string why;
        const long n = net::receiveSome(socket_, buf.data(),
                                        std::min(buf.size(), max - (into.size() - before)), why);
        if (n == net::kClosed) markGone(why);
        if (n <= 0) break;
        into.append(buf.data(), static_cast<std::size_t>(n));
    }
    std::fill(buf.begin(), buf.end(), '\0');  // it may have held card data
    return into.size() > before;
}

std::size_t SocketTransport::read(std::string& into, std::size_t max) {
    if (!isOpen() || !gone_.empty() || !sendRaw({})) return 0;
    std::string wire;
    receiveRaw(wire, max);
    const std::size_t before = into.size();
    // Bytes that came before the connection ended are still handed out.
    decode(wire, into);
    return into.size() - before;
}

void SocketTransport::write(const std::string& bytes) {
    if (!isOpen()) throw SerialError("the connection is not open");
    if (!gone_.empty()) throw SerialError(gone_);
    // Behind bytes still queued, so that the order on the wire stays the order of the calls.
    if (!sendRaw(encode(bytes))) throw SerialError(gone_);
}

std::unique_ptr<Transport> makeNetworkTransport(const Endpoint& where) {
    switch (where.kind) {
        case Endpoint::Kind::Tcp:
            return std::make_unique<SocketTransport>();
        case Endpoint::Kind::Rfc2217:
            return std::make_unique<Rfc2217Transport>();
        default:
            return nullptr;
    }
}

namespace {

class SocketSerialComm : public BufferedSerialComm {
  public:
    explicit SocketSerialComm(HostLoop& loop)
        : BufferedSerialComm(loop, [](int16_t port, const LineSettings& line) {
              const Endpoint where = PortMap::resolve(port);
              std::unique_ptr<Transport> t = makeNetworkTransport(where);
              if (!t) t = std::make_unique<SocketTransport>();  // its open refuses a device
              t->open(where, line);
              return t;
          }) {}
};

}  // namespace

std::unique_ptr<SerialComm> makeSocketSerialComm(HostLoop& loop) {
    return std::make_unique<SocketSerialComm>(loop);
}

}  // namespace korvel
