// The per-user settings store: named values grouped by application and section.
#pragma once

#include <string>

namespace korvel {

class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    /// The value stored under application / section / key, or `defaultValue` when there is
    /// none or the store cannot be read.  Never throws.
    virtual std::string get(const std::string& application, const std::string& section,
                            const std::string& key, const std::string& defaultValue) = 0;
};

}  // namespace korvel
