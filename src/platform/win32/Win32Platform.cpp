// The default platform of a Windows host: the thread's message loop, COM ports through the
// shared port component, the per-user registry settings and the Windows system services.
#include "korvelcom/platform/Platform.h"
#include "platform/win32/RegistrySettingsStore.h"
#include "platform/win32/Win32ComTransport.h"
#include "platform/win32/Win32HostLoop.h"
#include "platform/win32/Win32SystemServices.h"

namespace korvel {
namespace {

class Win32Platform : public Platform {
  public:
    HostLoop& loop() override { return loop_; }
    /// Port N is COMn unless the port map or `KORVELCOM_COM<N>` says otherwise.
    Endpoint resolvePort(int16_t port) override { return resolveWin32Port(port); }
    std::unique_ptr<Transport> createTransport(const Endpoint& where) override {
        return makeSystemTransport(where);
    }
    SettingsStore& settings() override { return settings_; }
    SystemServices& system() override { return system_; }

  private:
    Win32HostLoop loop_;
    RegistrySettingsStore settings_;
    Win32SystemServices system_;
};

}  // namespace

Platform& defaultPlatform() {
    thread_local Win32Platform platform;
    return platform;
}

std::unique_ptr<SettingsStore> makeSystemSettingsStore() {
    return std::make_unique<RegistrySettingsStore>();
}

std::unique_ptr<SystemServices> makeSystemServices() {
    return std::make_unique<Win32SystemServices>();
}

}  // namespace korvel
