// What every platform shares: port numbers resolve through the port map, and the port
// component is the buffered one over a transport created for the endpoint at each open.
#include "korvelcom/platform/Platform.h"

#include "platform/BufferedSerialComm.h"

namespace korvel {

std::unique_ptr<SerialComm> Platform::createSerial() {
    return std::make_unique<BufferedSerialComm>(
        loop(), [this](int16_t port, const LineSettings& line) {
            const Endpoint where = resolvePort(port);
            std::unique_ptr<Transport> transport = createTransport(where);
            transport->open(where, line);
            return transport;
        });
}

Endpoint Platform::resolvePort(int16_t port) {
    return PortMap::resolve(port);
}

}  // namespace korvel
