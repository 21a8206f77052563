// The set of platform layers a control is built on.
#pragma once

#include <memory>

#include "korvelcom/Export.h"
#include "korvelcom/platform/HostLoop.h"
#include "korvelcom/platform/SerialComm.h"
#include "korvelcom/platform/SettingsStore.h"
#include "korvelcom/platform/SystemServices.h"
#include "korvelcom/platform/Transport.h"

namespace korvel {

/// The platform a control runs on: its thread's loop and clock, a factory for its serial port,
/// the settings store and the system services.  A platform outlives every control built on it.
class KORVELCOM_API Platform {
  public:
    virtual ~Platform() = default;
    virtual HostLoop& loop() = 0;
    /// Creates the control's serial port component (called once per control, at creation).
    /// Default: the shared port component, which at each open resolves its port number
    /// (`resolvePort`), creates a transport for it (`createTransport`) and opens that.
    virtual std::unique_ptr<SerialComm> createSerial();
    /// What port `port` leads to now.  Default: `PortMap::resolve`.  Throws `SerialError`
    /// when the mapping is malformed.
    virtual Endpoint resolvePort(int16_t port);
    /// A closed transport that can reach `where` (an OS platform gives `makeSystemTransport`).
    /// Throws `SerialError` for an endpoint this platform cannot reach.
    virtual std::unique_ptr<Transport> createTransport(const Endpoint& where) = 0;
    virtual SettingsStore& settings() = 0;
    virtual SystemServices& system() = 0;
};

/// The platform of this operating system for the calling thread (POSIX on Linux), created on
/// first use and kept for the thread's lifetime.
KORVELCOM_API Platform& defaultPlatform();

/// The per-user settings store of this operating system (POSIX: INI files under
/// `$XDG_CONFIG_HOME/korvelcom`), for hosts that assemble a platform of their own.
KORVELCOM_API std::unique_ptr<SettingsStore> makeSystemSettingsStore();
/// The system services of this operating system, for hosts that assemble a platform.
KORVELCOM_API std::unique_ptr<SystemServices> makeSystemServices();

}  // namespace korvel
