// The per-user settings store: named values grouped by application and section.
#pragma once

#include <string>

#include "korvelcom/Export.h"

namespace korvel {

class KORVELCOM_API SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    /// The value stored under application / section / key, or `defaultValue` when there is
    /// none or the store cannot be read.  Never throws.
    virtual std::string get(const std::string& application, const std::string& section,
                            const std::string& key, const std::string& defaultValue) = 0;
};

}  // namespace korvel
