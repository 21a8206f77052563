// The settings store of a Windows host: the per-user registry, where VB-style hosts keep theirs.
#pragma once

#include <string>

#include "korvelcom/platform/SettingsStore.h"

namespace korvel {

/// Settings under the key `Software\VB and VBA Program Settings\<application>\<section>` of
/// HKEY_CURRENT_USER, one string value per key: the place VB-style hosts' own setting calls use, so
/// a value such a host stored (a "DataCode" key code) is found here.  Key names compare
/// case-insensitively, as the registry's do.  A missing key, a value that is not a string, or
/// a registry that cannot be read gives the default.
class RegistrySettingsStore : public SettingsStore {
  public:
    std::string get(const std::string& application, const std::string& section,
                    const std::string& key, const std::string& defaultValue) override;
    /// The registry path under HKEY_CURRENT_USER that holds `application`'s `section`.
    static std::string keyPath(const std::string& application, const std::string& section);
};

}  // namespace korvel
