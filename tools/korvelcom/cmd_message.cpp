// `korvelcom message`: one framed exchange with a terminal, for a technician checking a line.
#include <iostream>

#include "keys.h"
#include "korvelcom/platform/WireLog.h"
#include "options.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/PosixSerialComm.h"
#include "props.h"

namespace korvel::cli {

int cmdMessage(const Args& argsIn) {
    Args args = argsIn;
    const auto sets = takeSets(args);
    const std::string props = takeProps(args);
    std::string device, text;
    int32_t timeout = 5000;
    bool trace = false, json = false, haveText = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--device" && i + 1 < args.size()) {
            device = args[++i];
        } else if (a == "--timeout" && i + 1 < args.size()) {
            timeout = std::stoi(args[++i]);
        } else if (a == "--trace") {
            trace = true;
        } else if (a == "--json") {
            json = true;
        } else if (!haveText && (a.empty() || a[0] != '-')) {
            text = a;
            haveText = true;
        } else {
            std::cerr << "korvelcom message: unexpected argument '" << a << "'\n";
            return 2;
        }
    }
    if (device.empty() || !haveText) {
        std::cerr << "usage: korvelcom message --device PATH [--timeout MS] [--props FILE]"
                     " [--set NAME=VALUE]... [--trace] [--json] TEXT\n";
        return 2;
    }

    KorvelComTools control;
    if (!props.empty() && !loadProps(control, props)) return 1;
    if (!applySets(control, sets)) return 2;
    PortMap::set(control.CommPort(), device);
    WireLog log;
    control.comm().setWireLog(&log);
    auto& loop = static_cast<PosixHostLoop&>(control.platform().loop());
    EscapeKey escape(loop);

    const std::string reply = control.Message(text, timeout);
    const std::string error = control.ReceiveError();
    if (control.CommPortOpen()) control.CommClose();
    control.comm().setWireLog(nullptr);

    if (trace) std::cerr << log.format();
    if (json) {
        std::cout << "{\"reply\": " << jsonString(reply)
                  << ", \"ReceiveError\": " << jsonString(error)
                  << ", \"ReceiveMessage\": " << jsonString(control.ReceiveMessage()) << "}\n";
    } else if (!reply.empty()) {
        std::cout << reply << '\n';
    }
    if (!reply.empty()) return 0;
    if (!error.empty()) {
        std::cerr << error << '\n';
    } else if (escape.pressed()) {
        std::cerr << "aborted with Escape\n";
    } else {
        std::cerr << "no reply within " << timeout << " ms\n";
    }
    return 1;
}

}  // namespace korvel::cli
