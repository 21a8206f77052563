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

/// System services with answers a test sets.  Processes are simulated: `startProcess` records
/// its argument vector and starts the process `nextPid` (then counting up), which runs until
/// the test ends it (`running.erase(pid)`) or someone waits for its end (the wait is taken to
/// last exactly until the process ends, so it ends it).
class SimSystemServices : public SystemServices {
  public:
    std::string windowsDirectory() override { return windowsDir; }
    std::string systemDirectory() override { return systemDir; }
    double twipsPerPixelX() override { return twipsX; }
    double twipsPerPixelY() override { return twipsY; }
    void setScreenTwipsPerPixel(double x, double y) override {
        twipsX = x;
        twipsY = y;
    }
    std::optional<int32_t> startProcess(const std::vector<std::string>& argv) override {
        started.push_back(argv);
        if (argv.empty() || failStarts) return std::nullopt;
        running.insert(nextPid);
        return nextPid++;
    }
    bool processRunning(int32_t pid) override { return running.count(pid) != 0; }
    void waitForProcessEnd(int32_t pid) override {
        waited.push_back(pid);
        running.erase(pid);
    }
    std::string commandLineArguments() override {
        return hostArguments ? *hostArguments : processArguments;
    }
    void setCommandLineArguments(std::optional<std::string> arguments) override {
        hostArguments = std::move(arguments);
    }

    std::string windowsDir = "/sim/windows";
    std::string systemDir = "/sim/windows/system";
    double twipsX = 0;  ///< 0: no screen known
    double twipsY = 0;
    bool failStarts = false;  ///< every start fails (program not found)
    int32_t nextPid = 4000;
    std::set<int32_t> running;                      ///< processes still running
    std::vector<std::vector<std::string>> started;  ///< every start asked for, in order
    std::vector<int32_t> waited;                    ///< every wait for a process end, in order
    std::string processArguments;                   ///< the process's own arguments text
    std::optional<std::string> hostArguments;       ///< set by the host, takes precedence
};

class SimPlatform : public Platform {
  public:
    explicit SimPlatform(int32_t startTick = 1'000'000, uint64_t seed = 1);

    HostLoop& loop() override { return loop_; }
    /// Creates a port on line end A that logs into `wire()` and honours missing/busy ports.
    std::unique_ptr<SerialComm> createSerial() override;
    /// Always throws `SerialError`: simulated ports reach the line through `createSerial`.
    std::unique_ptr<Transport> createTransport(const Endpoint& where) override;
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
