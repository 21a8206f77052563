#include "platform/posix/IniSettingsStore.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

namespace korvel {
namespace {

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string IniSettingsStore::pathFor(const std::string& application) {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::string(home) + "/.config";
    } else {
        base = ".config";
    }
    return base + "/korvelcom/" + application + ".ini";
}

std::string IniSettingsStore::get(const std::string& application, const std::string& section,
                                  const std::string& key, const std::string& defaultValue) {
    std::ifstream in(pathFor(application));
    if (!in) return defaultValue;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        const std::string t = trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t.front() == '[' && t.back() == ']') {
            inSection = sameName(trim(t.substr(1, t.size() - 2)), section);
            continue;
        }
        const auto eq = t.find('=');
        if (inSection && eq != std::string::npos && sameName(trim(t.substr(0, eq)), key))
            return trim(t.substr(eq + 1));
    }
    return defaultValue;
}

}  // namespace korvel
