// The settings store of a POSIX host: INI files under the user's configuration directory.
#pragma once

#include <string>

#include "korvelcom/platform/SettingsStore.h"

namespace korvel {

/// Settings in INI files: application "App" lives in `$XDG_CONFIG_HOME/korvelcom/App.ini`
/// (`$XDG_CONFIG_HOME` defaults to `~/.config`), with `[Section]` headers and `Key=Value`
/// lines.  Lines starting with ';' or '#' are comments; spaces around keys and values are
/// ignored; section and key names compare case-insensitively.
class IniSettingsStore : public SettingsStore {
  public:
    std::string get(const std::string& application, const std::string& section,
                    const std::string& key, const std::string& defaultValue) override;
    /// The INI file that holds `application`'s settings.
    static std::string pathFor(const std::string& application);
};

}  // namespace korvel
