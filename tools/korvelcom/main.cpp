// korvelcom: the technician's command line for the payment-terminal control.
#include <exception>
#include <iostream>

#include "commands.h"

int main(int argc, char** argv) {
    using korvel::cli::commands;
    const korvel::cli::Args all(argv + 1, argv + argc);
    if (all.empty() || all[0] == "help" || all[0] == "--help" || all[0] == "-h") {
        std::cout << "usage: korvelcom COMMAND [ARGS]\n\ncommands:\n";
        for (const auto& c : commands())
            std::cout << "  korvelcom " << c.usage << '\n';
        return all.empty() ? 2 : 0;
    }
    for (const auto& c : commands()) {
        if (all[0] != c.name) continue;
        try {
            return c.run(korvel::cli::Args(all.begin() + 1, all.end()));
        } catch (const std::exception& e) {
            std::cerr << "korvelcom " << c.name << ": " << e.what() << '\n';
            return 2;
        }
    }
    std::cerr << "korvelcom: unknown command '" << all[0] << "' (try: korvelcom help)\n";
    return 2;
}
