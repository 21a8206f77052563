#include "sim/PtyPort.h"

#include "platform/posix/SerialDeviceTransport.h"

namespace korvel::sim {
namespace {

std::unique_ptr<Transport> onMaster(Pty& pty) {
    auto transport = std::make_unique<SerialDeviceTransport>();
    transport->adopt(pty.masterFd(), pty.slavePath() + " (master)");
    return transport;
}

}  // namespace

PtyPort::PtyPort(HostLoop& loop, std::unique_ptr<Pty> pty)
    : TerminalPort(loop, onMaster(*pty)), pty_(std::move(pty)) {}

PtyPort::~PtyPort() {
    // The transport only borrows the master: it lets go before the pseudo-terminal closes it.
    transport().close();
}

}  // namespace korvel::sim
