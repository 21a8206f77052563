#include "sim/TerminalPort.h"

namespace korvel::sim {

SimLinePort::SimLinePort(SimLoop& loop, SimLine::Endpoint& end) : loop_(loop), end_(end) {
    end_.setReceiver([this](uint8_t byte) { deliver(std::string(1, static_cast<char>(byte))); });
}

SimLinePort::~SimLinePort() {
    end_.setReceiver(nullptr);
}

}  // namespace korvel::sim
