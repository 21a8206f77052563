#include "sim/TcpServer.h"

#include "korvelcom/platform/SocketSerialComm.h"
#include "platform/net/Socket.h"

namespace korvel::sim {

namespace {

/// The terminal's end of one connection.
class SocketPort : public TerminalPort {
  public:
    SocketPort(HostLoop& loop, std::unique_ptr<SocketTransport> t)
        : TerminalPort(loop, std::move(t)) {}
    bool gone() { return transport().gone(); }
};

void addUp(TerminalStats& sum, const TerminalStats& s) {
    sum.messagesProcessed += s.messagesProcessed;
    sum.messagesSent += s.messagesSent;
    sum.sessionsFailed += s.sessionsFailed;
    sum.badFrames += s.badFrames;
    sum.duplicates += s.duplicates;
    sum.testFramesReceived += s.testFramesReceived;
}

}  // namespace

struct TcpServer::Session {
    Session(HostLoop& loop, std::unique_ptr<SocketTransport> t, const TerminalOptions& options)
        : port(loop, std::move(t)), terminal(loop, port, options) {}
    SocketPort port;
    Terminal terminal;
    std::shared_ptr<void> state;  // declared last: goes first, before the terminal it serves
};

TcpServer::TcpServer(HostLoop& loop, const std::string& host, uint16_t port,
                     TerminalOptions options, Setup setup)
    : loop_(loop), host_(host), options_(std::move(options)), setup_(std::move(setup)) {
    std::string why;
    listener_ = net::listenTcp(host, port, port_, why);
    if (listener_ == net::kNoSocket) {
        port_ = port;
        throw SerialError(address() + ": cannot listen: " + why);
    }
    loop_.addSource(this);
}

TcpServer::~TcpServer() {
    loop_.removeSource(this);
    sessions_.clear();
    net::closeSocket(listener_);
}

std::string TcpServer::address() const {
    const std::string host = host_.empty() ? "127.0.0.1" : host_;
    return "tcp://" + (host.find(':') == std::string::npos ? host : "[" + host + "]") + ":" +
           std::to_string(port_);
}

TerminalStats TcpServer::totals() const {
    TerminalStats sum = ended_;
    for (const auto& s : sessions_)
        addUp(sum, s->terminal.stats());
    return sum;
}

ReadyHandle TcpServer::waitHandle() const {
    return net::readyHandleOf(listener_);
}

bool TcpServer::service() {
    bool did = false;
    // Ended connections first: a terminal is destroyed here, never from inside its own port's
    // service.
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if ((*it)->port.gone()) {
            addUp(ended_, (*it)->terminal.stats());
            it = sessions_.erase(it);
            did = true;
        } else {
            ++it;
        }
    }
    for (net::SocketHandle s; (s = net::acceptTcp(listener_)) != net::kNoSocket;) {
        auto transport = std::make_unique<SocketTransport>();
        transport->adopt(s, address());
        auto session = std::make_unique<Session>(loop_, std::move(transport), options_);
        if (setup_) session->state = setup_(session->terminal);
        sessions_.push_back(std::move(session));
        ++accepted_;
        did = true;
    }
    return did;
}

}  // namespace korvel::sim
