#include "platform/win32/RegistrySettingsStore.h"

#include <windows.h>

namespace korvel {

std::string RegistrySettingsStore::keyPath(const std::string& application,
                                           const std::string& section) {
    return "Software\\VB and VBA Program Settings\\" + application + "\\" + section;
}

std::string RegistrySettingsStore::get(const std::string& application, const std::string& section,
                                       const std::string& key, const std::string& defaultValue) {
    if (application.empty() || section.empty()) return defaultValue;
    const std::string path = keyPath(application, section);
    DWORD size = 0;
    if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), key.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS)
        return defaultValue;
    std::string value(size, '\0');
    if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), key.c_str(), RRF_RT_REG_SZ, nullptr,
                     value.data(), &size) != ERROR_SUCCESS)
        return defaultValue;
    // The size counts the terminating NUL the registry adds.
    value.resize(size > 0 ? size - 1 : 0);
    return value;
}

}  // namespace korvel
