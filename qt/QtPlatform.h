// The platform of a Qt application: the Qt host loop, with the serial transports, settings
// store and system services of the operating system underneath.
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
    std::unique_ptr<Transport> createTransport(const Endpoint& where) override {
        return makeSystemTransport(where);
    }
    // Serial ports are the platform seam's own (`Platform::createSerial`): port numbers
    // resolve through `PortMap`, transports come from `makeSystemTransport`, and the Qt loop
    // services them.

    /// The system's settings store (`makeSystemSettingsStore`).
    SettingsStore& settings() override { return *settings_; }
    /// The system's services (`makeSystemServices`).
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
