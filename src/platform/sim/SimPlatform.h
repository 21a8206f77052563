// A whole platform in virtual time: the loop, one line whose A end is the control's port, an
// in-memory settings store and system services.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>

#include "korvelcom/platform/Platform.h"
#include "korvelcom/platform/WireLog.h"
#include "platform/sim/SimComm.h"
#include "platform/sim/SimLine.h"
#include "platform/sim/SimLoop.h"

namespace korvel {

class MemorySettingsStore : public SettingsStore {
  public:
    std::string get(const std::string& application, const std::string& section,
                    const std::string& key, const std::string& defaultValue) override;
    void set(const std::string& application, const std::string& section, const std::string& key,
             const std::string& value);

  private:
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values_;
};

class SimSystemServices : public SystemServices {};

class SimPlatform : public Platform {
  public:
    explicit SimPlatform(int32_t startTick = 1'000'000, uint64_t seed = 1);

    HostLoop& loop() override { return loop_; }
    /// Creates a port on line end A that logs into `wire()` and honours missing/busy ports.
    std::unique_ptr<SerialComm> createSerial() override;
    SettingsStore& settings() override { return settings_; }
    SystemServices& system() override { return system_; }

    SimLoop& simLoop() { return loop_; }
    SimLine& line() { return line_; }
    /// The terminal's end of the line.
    SimLine::Endpoint& terminal() { return line_.end(SimLine::B); }
    /// The port most recently created (the control's `Comm`).
    SimComm* comm() { return comm_; }
    /// Every byte the control's port wrote and received, with virtual times.
    WireLog& wire() { return wire_; }
    MemorySettingsStore& memorySettings() { return settings_; }

    /// Port numbers whose device does not exist, or is held by another program.
    std::set<int16_t> missingPorts;
    std::set<int16_t> busyPorts;
    /// Opens and closes of the control's port so far.
    int opens = 0;
    int closes = 0;

  private:
    SimLoop loop_;
    SimLine line_;
    WireLog wire_;
    MemorySettingsStore settings_;
    SimSystemServices system_;
    SimComm* comm_ = nullptr;
};

}  // namespace korvel
