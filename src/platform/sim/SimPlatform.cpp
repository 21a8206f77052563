#include "platform/sim/SimPlatform.h"

namespace korvel {

std::string MemorySettingsStore::get(const std::string& application, const std::string& section,
                                     const std::string& key, const std::string& defaultValue) {
    const auto it = values_.find({application, section, key});
    return it == values_.end() ? defaultValue : it->second;
}

void MemorySettingsStore::set(const std::string& application, const std::string& section,
                              const std::string& key, const std::string& value) {
    values_[{application, section, key}] = value;
}

SimPlatform::SimPlatform(int32_t startTick, uint64_t seed) : loop_(startTick), line_(loop_, seed) {}

std::unique_ptr<SerialComm> SimPlatform::createSerial() {
    auto comm = std::make_unique<SimComm>(loop_, line_.end(SimLine::A));
    comm->setWireLog(&wire_);
    comm->setOpenCheck([this](int16_t port) {
        if (missingPorts.count(port))
            throw SerialError("port " + std::to_string(port) + " does not exist");
        if (busyPorts.count(port)) throw SerialError("port " + std::to_string(port) + " is busy");
        ++opens;
    });
    comm->setCloseHook([this] { ++closes; });
    comm_ = comm.get();
    return comm;
}

std::unique_ptr<Transport> SimPlatform::createTransport(const Endpoint& where) {
    throw SerialError(where.label() + ": the simulated platform has no system transport");
}

}  // namespace korvel
