// Loading a property file into a control, shared by the commands that accept --props.
#include "props.h"

#include <iostream>
#include <stdexcept>

#include "korvelcom/PropertyBags.h"

namespace korvel::cli {

bool loadProps(KorvelComTools& control, const std::string& file) {
    TextPropertyBag bag;
    if (!bag.load(file)) {
        std::cerr << "cannot read the property file " << file << '\n';
        return false;
    }
    for (const std::string& problem : bag.problems())
        std::cerr << file << ": " << problem << " (skipped)\n";
    control.ReadProperties(bag);
    return true;
}

std::string takeProps(Args& args) {
    std::string file;
    Args rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--props") {
            if (i + 1 >= args.size()) throw std::invalid_argument("--props needs FILE");
            file = args[++i];
        } else if (args[i].rfind("--props=", 0) == 0) {
            file = args[i].substr(8);
        } else {
            rest.push_back(args[i]);
        }
    }
    args = rest;
    return file;
}

}  // namespace korvel::cli
