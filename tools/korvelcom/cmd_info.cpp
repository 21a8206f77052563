// `korvelcom info`: what a technician checks first: version, link defaults, port mapping.
#include <cstdlib>
#include <iostream>

#include "korvelcom/Automation.h"
#include "options.h"
#include "platform/posix/PosixSerialComm.h"

namespace korvel::cli {

int cmdInfo(const Args& argsIn) {
    Args args = argsIn;
    const auto sets = takeSets(args);
    if (!args.empty()) {
        std::cerr << "usage: korvelcom info [--set NAME=VALUE]...\n";
        return 2;
    }
    KorvelComTools control;
    if (!applySets(control, sets)) return 2;

    std::cout << "KorvelComTools " << control.Version() << "\n\nLink parameters:\n";
    for (const char* name : {"CommPort", "CommSettings", "TOwaitChar", "TOBetweenChar",
                             "TOwaitReply", "TOwaitRetry", "TOWaitBetweenCommand", "RetrySession",
                             "RetryData", "EscapeKeyEnabled", "ErrorEnabled", "ReceiveEnabled"}) {
        std::cout << "  " << name << std::string(22 - std::string(name).size(), ' ')
                  << formatValue(getProperty(control, name)) << '\n';
    }
    std::cout << "\nSerial ports map to devices: port N uses $KORVELCOM_COM<N> when set,\n"
                 "else /dev/ttyS<N-1>.\n";
    for (int16_t port = 1; port <= 4; ++port) {
        std::cout << "  port " << port << " -> " << PortMap::devicePath(port);
        const std::string var = "KORVELCOM_COM" + std::to_string(port);
        if (std::getenv(var.c_str())) std::cout << "   (from $" << var << ")";
        std::cout << '\n';
    }
    return 0;
}

}  // namespace korvel::cli
