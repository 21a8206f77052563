// `korvelcom props`: saves a control's persisted properties to a text file, or shows what a
// control loaded from such a file holds.
#include <iostream>

#include "korvelcom/PropertyBags.h"
#include "options.h"
#include "props.h"

namespace korvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: korvelcom props save FILE [--set NAME=VALUE]...\n"
    "       korvelcom props show FILE\n";

// The entries a control saves, one "Key = value" line each, in the order of saving.
std::string savedLines(KorvelComTools& control) {
    TextPropertyBag bag;
    control.WriteProperties(bag);
    std::string out;
    for (const auto& e : bag.entries())
        out += e.key + " = " + TextPropertyBag::formatValue(e.value) + "\n";
    return out;
}

int save(const std::string& file, const std::vector<std::pair<std::string, std::string>>& sets) {
    KorvelComTools control;
    control.InitProperties();  // a newly placed control
    for (const auto& set : sets) {
        // Each value goes through the property's own put, checks included.
        control.setReceiveError("");
        if (!applySets(control, {set})) return 2;
        if (!control.ReceiveError().empty()) {
            std::cerr << set.first << " \"" << set.second << "\": " << control.ReceiveError()
                      << '\n';
            return 1;
        }
    }
    TextPropertyBag bag;
    control.WriteProperties(bag);
    if (!bag.save(file)) {
        std::cerr << "cannot write the property file " << file << '\n';
        return 1;
    }
    return 0;
}

int show(const std::string& file) {
    KorvelComTools control;
    if (!loadProps(control, file)) return 1;
    std::cout << savedLines(control);
    return 0;
}

}  // namespace

int cmdProps(const Args& argsIn) {
    Args args = argsIn;
    const auto sets = takeSets(args);
    if (args.size() == 2 && args[0] == "save") return save(args[1], sets);
    if (args.size() == 2 && args[0] == "show" && sets.empty()) return show(args[1]);
    std::cerr << kUsage;
    return 2;
}

}  // namespace korvel::cli
