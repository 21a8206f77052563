// The default platform of a POSIX host: the thread's poll loop, serial devices through the
// shared port component, INI settings and the POSIX system services.
#include "korvelcom/platform/Platform.h"
#include "platform/posix/IniSettingsStore.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/PosixSystemServices.h"

namespace korvel {
namespace {

class PosixPlatform : public Platform {
  public:
    HostLoop& loop() override { return loop_; }
    std::unique_ptr<Transport> createTransport(const Endpoint& where) override {
        return makeSystemTransport(where);
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

std::unique_ptr<SettingsStore> makeSystemSettingsStore() {
    return std::make_unique<IniSettingsStore>();
}

std::unique_ptr<SystemServices> makeSystemServices() {
    return std::make_unique<PosixSystemServices>();
}

}  // namespace korvel
