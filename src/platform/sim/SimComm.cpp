#include "platform/sim/SimComm.h"

namespace korvel {

SimComm::SimComm(SimLoop& loop, SimLine::Endpoint& end)
    : BufferedSerialComm(loop), simLoop_(loop), end_(end) {
    end_.setReceiver([this](uint8_t b) { deliver(std::string(1, static_cast<char>(b))); });
}

SimComm::~SimComm() {
    end_.setReceiver(nullptr);
}

void SimComm::doOpen() {
    if (openCheck_) openCheck_(commPort());
    end_.setCharTimeUs(lineSettings().charTimeUs());
}

void SimComm::doWrite(const std::string& bytes) {
    written_ += bytes;
    end_.write(bytes);
}

}  // namespace korvel
