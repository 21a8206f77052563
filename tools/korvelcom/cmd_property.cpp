// `korvelcom get NAME` and the `--set NAME=VALUE` option of every command.
#include <iostream>
#include <stdexcept>

#include "korvelcom/Automation.h"
#include "options.h"

namespace korvel::cli {

std::vector<std::pair<std::string, std::string>> takeSets(Args& args) {
    std::vector<std::pair<std::string, std::string>> sets;
    Args rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string assignment;
        if (args[i] == "--set") {
            if (i + 1 >= args.size()) throw std::invalid_argument("--set needs NAME=VALUE");
            assignment = args[++i];
        } else if (args[i].rfind("--set=", 0) == 0) {
            assignment = args[i].substr(6);
        } else {
            rest.push_back(args[i]);
            continue;
        }
        const auto eq = assignment.find('=');
        if (eq == std::string::npos || eq == 0)
            throw std::invalid_argument("--set needs NAME=VALUE, got '" + assignment + "'");
        sets.emplace_back(assignment.substr(0, eq), assignment.substr(eq + 1));
    }
    args = rest;
    return sets;
}

bool applySets(KorvelComTools& control,
               const std::vector<std::pair<std::string, std::string>>& sets) {
    for (const auto& [name, value] : sets) {
        try {
            setProperty(control, name, Value(value));
        } catch (const AutomationError& e) {
            std::cerr << "cannot set " << name << ": " << e.what() << '\n';
            return false;
        }
    }
    return true;
}

int cmdGet(const Args& argsIn) {
    Args args = argsIn;
    const auto sets = takeSets(args);
    if (args.size() != 1) {
        std::cerr << "usage: korvelcom get NAME [--set NAME=VALUE]...\n";
        return 2;
    }
    KorvelComTools control;
    if (!applySets(control, sets)) return 2;
    try {
        std::cout << formatValue(getProperty(control, args[0])) << '\n';
    } catch (const AutomationError& e) {
        std::cerr << "korvelcom get: " << e.what() << '\n';
        return 1;
    }
    return 0;
}

}  // namespace korvel::cli
