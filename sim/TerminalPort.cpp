#include "sim/TerminalPort.h"

#include "platform/sim/SimLineTransport.h"

namespace korvel::sim {
namespace {

std::unique_ptr<Transport> connected(SimLoop& loop, SimLine::Endpoint& end) {
    auto transport = std::make_unique<SimLineTransport>(loop, end);
    transport->connect();
    return transport;
}

}  // namespace

TerminalPort::TerminalPort(HostLoop& loop, std::unique_ptr<Transport> transport)
    : loop_(loop), transport_(std::move(transport)) {
    loop_.addSource(this);
}

TerminalPort::~TerminalPort() {
    loop_.removeSource(this);
}

bool TerminalPort::service() {
    const std::size_t queued = transport_->pendingOutput();
    std::string in;
    transport_->read(in, SIZE_MAX);
    if (!in.empty() && receiver_) receiver_(in);
    return !in.empty() || transport_->pendingOutput() < queued;
}

SimLinePort::SimLinePort(SimLoop& loop, SimLine::Endpoint& end)
    : TerminalPort(loop, connected(loop, end)) {}

}  // namespace korvel::sim
