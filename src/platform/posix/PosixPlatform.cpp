// The default platform of a POSIX host: the thread's poll loop, termios serial ports, INI
// settings and the POSIX system services.
#include "korvelcom/platform/Platform.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/PosixSerialComm.h"
#include "platform/posix/PosixServices.h"
#include "platform/posix/PosixSystemServices.h"

namespace korvel {
namespace {

class PosixPlatform : public Platform {
  public:
    HostLoop& loop() override { return loop_; }
    std::unique_ptr<SerialComm> createSerial() override {
        return std::make_unique<PosixSerialComm>(loop_);
    }
    SettingsStore& settings() override { return settings_; }
    SystemServices& system() override { return system_; }

  private:
    PosixHostLoop loop_;
    IniSettingsStore settings_;
    PosixSystemServices system_;
};

}  // namespace

Platform& defaultPlatform() {
    thread_local PosixPlatform platform;
    return platform;
}

}  // namespace korvel
