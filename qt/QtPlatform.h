// The platform of a Qt application on a POSIX system: the Qt host loop, termios serial ports
// serviced from it, the INI settings store and the POSIX system services.
#pragma once

#include <memory>

#include "korvelcom/platform/Platform.h"
#include "qt/QtHostLoop.h"

namespace korvel::qt {

class QtPlatform final : public Platform {
  public:
    /// Builds the platform on the calling thread's Qt event loop.  With a `QGuiApplication`
    /// and a screen, the system services learn the screen's twips per pixel (1440 divided by
    /// its logical dots per inch).  Throws `std::logic_error` when no `QCoreApplication`
    /// exists.
    QtPlatform();
    ~QtPlatform() override;
    QtPlatform(const QtPlatform&) = delete;
    QtPlatform& operator=(const QtPlatform&) = delete;

    /// The Qt host loop.
    QtHostLoop& loop() override { return loop_; }
    /// A termios serial port (`PosixSerialComm`) serviced by the Qt loop; port numbers map to
    /// devices as `PortMap` says.
    std::unique_ptr<SerialComm> createSerial() override;
    /// INI files under `$XDG_CONFIG_HOME/korvelcom`.
    SettingsStore& settings() override { return *settings_; }
    /// The POSIX system services.
    SystemServices& system() override { return *system_; }

    /// The platform shared by the controls of this application, created on first use (after
    /// the `QCoreApplication`) and destroyed with the application, when every window built on
    /// it must already be gone.  GUI thread only.
    static QtPlatform& shared();

  private:
    QtHostLoop loop_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<SystemServices> system_;
};

}  // namespace korvel::qt
