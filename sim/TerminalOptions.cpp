#include "sim/TerminalOptions.h"

#include <utility>

namespace korvel::sim {
namespace {

using Flag = bool Behaviours::*;

const std::vector<std::pair<std::string, Flag>>& table() {
    static const std::vector<std::pair<std::string, Flag>> t = {
        {"silent", &Behaviours::silent},
        {"no-frame-ack", &Behaviours::noFrameAck},
        {"bad-check", &Behaviours::badCheck},
        {"noise", &Behaviours::noise},
        {"slow", &Behaviours::slow},
        {"split", &Behaviours::split},
        {"unsolicited", &Behaviours::unsolicited},
        {"echo", &Behaviours::echo},
    };
    return t;
}

}  // namespace

bool applyBehaviour(Behaviours& behaviours, std::string_view name) {
    if (name == "normal") {
        behaviours = Behaviours{};
        return true;
    }
    for (const auto& [n, flag] : table()) {
        if (n == name) {
            behaviours.*flag = true;
            return true;
        }
    }
    return false;
}

const std::vector<std::string>& behaviourNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v{"normal"};
        for (const auto& entry : table())
            v.push_back(entry.first);
        return v;
    }();
    return names;
}

std::string describeBehaviours(const Behaviours& behaviours) {
    std::string out;
    for (const auto& [n, flag] : table()) {
        if (!(behaviours.*flag)) continue;
        if (!out.empty()) out += ',';
        out += n;
    }
    return out.empty() ? "normal" : out;
}

}  // namespace korvel::sim
