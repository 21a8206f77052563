// The set of platform layers a control is built on.
#pragma once

#include <memory>

#include "korvelcom/platform/HostLoop.h"
#include "korvelcom/platform/SerialComm.h"
#include "korvelcom/platform/SettingsStore.h"
#include "korvelcom/platform/SystemServices.h"

namespace korvel {

/// The platform a control runs on: its thread's loop and clock, a factory for its serial port,
/// the settings store and the system services.  A platform outlives every control built on it.
class Platform {
  public:
    virtual ~Platform() = default;
    virtual HostLoop& loop() = 0;
    /// Creates the control's serial port component (called once per control, at creation).
    virtual std::unique_ptr<SerialComm> createSerial() = 0;
    virtual SettingsStore& settings() = 0;
    virtual SystemServices& system() = 0;
};

/// The platform of this operating system for the calling thread (POSIX on Linux), created on
/// first use and kept for the thread's lifetime.
Platform& defaultPlatform();

}  // namespace korvel
