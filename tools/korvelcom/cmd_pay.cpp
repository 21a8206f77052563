// `korvelcom pay` (one basic payment against a terminal or a simulator) and `korvelcom demo`
// (the same against the bundled simulator on a pseudo-terminal, with progress on screen).
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "keys.h"
#include "korvelcom/Automation.h"
#include "korvelcom/platform/WireLog.h"
#include "options.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/PosixSerialComm.h"
#include "progress.h"
#include "props.h"
#include "sim/PaymentResponder.h"
#include "sim/PtyPort.h"
#include "sim/Terminal.h"

namespace korvel::cli {
namespace {

constexpr const char* kReplyFields[] = {"EFTposNumber", "EFTposStat", "EFTposAmount",
                                        "EFTposMode",   "EFTposRep",  "EFTposDev"};

struct PaymentArgs {
    std::vector<std::pair<std::string, std::string>> fields;  // property, value, in order
    bool json = false, trace = false;
};

// Applies the request fields through the control's validating puts; false (after printing the
// tag) when one is rejected.
bool applyFields(KorvelComTools& control, const PaymentArgs& a) {
    for (const auto& [name, value] : a.fields) {
        control.setReceiveError("");
        if (name == "POSTimeout") {
            control.setPOSTimeout(std::stoi(value));
        } else {
            setProperty(control, name, Value(value));
        }
        if (!control.ReceiveError().empty()) {
            std::cerr << name << " \"" << value << "\": " << control.ReceiveError() << '\n';
            return false;
        }
    }
    return true;
}

int pay(KorvelComTools& control, const PaymentArgs& a, WireLog& log, bool progress) {
    control.comm().setWireLog(&log);
    auto& loop = static_cast<PosixHostLoop&>(control.platform().loop());
    EscapeKey escape(loop);
    std::string reply;
    {
        std::unique_ptr<Progress> shown;
        std::cout << std::flush;
        if (progress) shown = std::make_unique<Progress>(loop, control.POSTimeout());
        reply = control.POSMessage();
    }
    const std::string error = control.ReceiveError();
    if (control.CommPortOpen()) control.CommClose();
    control.comm().setWireLog(nullptr);

    if (a.json) {
        std::cout << "{";
        for (const char* name : kReplyFields)
            std::cout << "\"" << name
                      << "\": " << jsonString(std::get<std::string>(getProperty(control, name)))
                      << ", ";
        std::cout << "\"reply\": " << jsonString(reply)
                  << ", \"ReceiveError\": " << jsonString(error) << "}\n";
    } else {
        for (const char* name : kReplyFields) {
            std::cout << "  " << name << std::string(14 - std::string(name).size(), ' ')
                      << WireLog::describe(std::get<std::string>(getProperty(control, name)))
                      << '\n';
        }
    }
    if (a.trace) (a.json ? std::cerr : std::cout) << "\nWire trace:\n" << log.format();
    if (!reply.empty()) return 0;
    if (!error.empty()) {
        std::cerr << error << '\n';
    } else if (escape.pressed()) {
        std::cerr << "aborted with Escape\n";
    } else {
        std::cerr << "no reply within " << control.POSTimeout() << " ms\n";
    }
    return 1;
}

}  // namespace

int cmdPay(const Args& argsIn) {
    Args args = argsIn;
    const auto sets = takeSets(args);
    const std::string props = takeProps(args);
    PaymentArgs a;
    std::string device;
    int port = 0;
    const std::vector<std::pair<std::string, std::string>> fieldOptions = {
        {"--number", "POSNumber"},  {"--amount", "POSAmount"}, {"--rep", "POSRep"},
        {"--mode", "POSMode"},      {"--type", "POSType"},     {"--currency", "POSDev"},
        {"--timeout", "POSTimeout"}};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        const bool hasValue = i + 1 < args.size();
        bool matched = false;
        for (const auto& [flag, property] : fieldOptions) {
            if (opt == flag && hasValue) {
                a.fields.emplace_back(property, args[++i]);
                matched = true;
            }
        }
        if (matched) continue;
        if (opt == "--device" && hasValue) {
            device = args[++i];
        } else if (opt == "--port" && hasValue) {
            port = std::stoi(args[++i]);
        } else if (opt == "--json") {
            a.json = true;
        } else if (opt == "--trace") {
            a.trace = true;
        } else {
            std::cerr << "korvelcom pay: unexpected argument '" << opt << "'\n";
            return 2;
        }
    }
    if (device.empty() == (port == 0)) {
        std::cerr << "usage: korvelcom " << commands()[1].usage << '\n';
        return 2;
    }
    KorvelComTools control;
    // A saved control first, so that the command line's own values take precedence.
    if (!props.empty() && !loadProps(control, props)) return 1;
    if (!applySets(control, sets)) return 2;
    if (port != 0) control.setCommPort(static_cast<int16_t>(port));
    if (!device.empty()) PortMap::set(control.CommPort(), device);
    if (!applyFields(control, a)) return 1;
    WireLog log;
    return pay(control, a, log, false);
}

int cmdDemo(const Args& args) {
    PaymentArgs a;
    a.trace = true;
    int32_t thinkMs = 1500;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--amount" && i + 1 < args.size()) {
            a.fields.emplace_back("POSAmount", args[++i]);
        } else if (args[i] == "--think" && i + 1 < args.size()) {
            thinkMs = std::stoi(args[++i]);
        } else {
            std::cerr << "usage: korvelcom " << commands()[0].usage << '\n';
            return 2;
        }
    }
    KorvelComTools control;
    auto& loop = control.platform().loop();
    // The terminal runs on this thread's loop, so it answers from inside the control's waits.
    sim::PtyPort ptyPort(loop);
    sim::TerminalOptions options;
    options.processingDelayMs = thinkMs;  // the cardholder's time at the terminal
    sim::Terminal terminal(loop, ptyPort, options);
    terminal.setResponder(sim::paymentReply);
    PortMap::set(control.CommPort(), ptyPort.slavePath());

    if (a.fields.empty()) a.fields.emplace_back("POSAmount", "00001500");
    if (!applyFields(control, a)) return 1;
    std::cout << "KorvelComTools " << control.Version() << " demo: a payment of "
              << control.POSAmount() << " (currency " << control.POSDev()
              << ") against the simulated terminal on " << ptyPort.slavePath() << "\n"
              << "Request: "
              << WireLog::describe(control.POSNumber() + control.POSAmount() + control.POSRep() +
                                   control.POSMode() + control.POSType() + control.POSDev())
              << " + private area\n\nReply fields:\n";
    WireLog log;
    return pay(control, a, log, true);
}

}  // namespace korvel::cli
