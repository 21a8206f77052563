// korvelcom: the technician's command line for the payment-terminal control.
#include <sys/resource.h>

#include <algorithm>
#include <exception>
#include <iostream>

#include "korvelcom/CardData.h"

#include "commands.h"

int main(int argc, char** argv) {
    using korvel::cli::commands;
    korvel::cli::Args all(argv + 1, argv + argc);
    // A card read by this process must never end up in a core file.  (Not PR_SET_DUMPABLE: it
    // would also lock out debuggers and the leak checker's tracer.)
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const auto lab = std::remove(all.begin(), all.end(), std::string("--show-card-data"));
    if (lab != all.end()) korvel::setCardDataShown(true);
    all.erase(lab, all.end());
    if (korvel::cardDataShown())
        std::cerr << "korvelcom: warning: card data is shown in clear (--show-card-data or "
                     "KORVELCOM_SHOW_CARD_DATA=1); never paste this output outside a lab\n";
    if (all.empty() || all[0] == "help" || all[0] == "--help" || all[0] == "-h") {
        std::cout << "usage: korvelcom [--show-card-data] COMMAND [ARGS]\n\ncommands:\n";
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
