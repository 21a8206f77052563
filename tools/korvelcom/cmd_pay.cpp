// `korvelcom pay` (one basic payment against a terminal or a simulator) and `korvelcom demo`
// (the same against the bundled simulator on a pseudo-terminal, with progress on screen).
#include <iostream>

#include "EscapeKey.h"
#include "commands.h"
#include "korvelcom/Automation.h"
#include "korvelcom/platform/Endpoint.h"
#include "korvelcom/platform/WireLog.h"
#include "progress.h"
#include "sim/PaymentResponder.h"
#ifndef _WIN32
#include "sim/PtyPort.h"
#endif
#include "sim/Terminal.h"

namespace korvel::cli {
namespace {

constexpr const char* kReplyFields[] = {"EFTposNumber", "EFTposStat", "EFTposAmount",
                                        "EFTposMode",   "EFTposRep",  "EFTposDev"};

struct PayOptions : LineOptions {
    std::vector<std::pair<const char*, std::string>> fields;  // property, value, in order
    int32_t timeout = 0;                                      // 0: the control's POSTimeout
    int32_t thinkMs = 1500;                                   // demo: the cardholder's time
};

void addFieldOptions(CLI::App& cmd, PayOptions& o) {
    for (const auto& [flag, property, help] :
         {std::tuple{"--number", "POSNumber", "cash-register number (2 digits)"},
          std::tuple{"--amount", "POSAmount", "amount in cents (8 digits)"},
          std::tuple{"--rep", "POSRep", "response indicator"},
          std::tuple{"--mode", "POSMode", "payment mode"},
          std::tuple{"--type", "POSType", "transaction type"},
          std::tuple{"--currency", "POSDev", "currency (3 digits)"}}) {
        const char* name = property;
        cmd.add_option_function<std::string>(
               flag, [&o, name](const std::string& v) { o.fields.emplace_back(name, v); }, help)
            ->type_name("TEXT");
    }
}

// The request fields through the control's validating puts; false after printing the tag.
bool applyFields(KorvelComTools& control, const PayOptions& o) {
    for (const auto& [name, value] : o.fields) {
        control.setReceiveError("");
        setProperty(control, name, Value(value));
        const std::string tag = control.ReceiveError();
        if (!tag.empty()) {
            std::cerr << tag << ": " << plainWords(tag, control) << " (" << name << " \"" << value
                      << "\")\n";
            return false;
        }
    }
    if (o.timeout > 0) control.setPOSTimeout(o.timeout);
    return true;
}

int pay(KorvelComTools& control, const PayOptions& o, bool progress) {
    WireLog log;
    control.comm().setWireLog(&log);
    HostLoop& loop = control.platform().loop();
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

    // Reply fields only when a reply came: blanks would only mislead.
    if (o.json) {
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        if (!reply.empty())
            for (const char* name : kReplyFields)
                j[name] = bytes(std::get<std::string>(getProperty(control, name)));
        j["reply"] = bytes(reply);
        j["ReceiveError"] = error;
        std::cout << dump(j) << '\n';
    } else if (!reply.empty()) {
        for (const char* name : kReplyFields)
            std::cout << "  " << name << std::string(14 - std::string(name).size(), ' ')
                      << WireLog::describe(std::get<std::string>(getProperty(control, name)))
                      << '\n';
    }
    if (o.trace) (o.json ? std::cerr : std::cout) << "\nWire trace:\n" << log.format();
    if (!reply.empty()) return kOk;
    return reportNoReply(control, error, control.POSTimeout(), escape.pressed());
}

}  // namespace

void addPay(CLI::App& app, Run& run) {
    auto o = std::make_shared<PayOptions>();
    auto* cmd = app.add_subcommand("pay", "one basic payment (POSMessage) against a terminal");
    addLineOptions(*cmd, *o);
    addFieldOptions(*cmd, *o);
    cmd->add_option("--timeout", o->timeout, "reply time-out in ms (POSTimeout)")
        ->check(CLI::Range(1, INT32_MAX))
        ->type_name("MS");
    cmd->callback([o, &run] {
        run = [o] {
            KorvelComTools control;
            // A saved control first, so that the command line's own values take precedence.
            if (!prepare(control, *o, o.get()) || !applyFields(control, *o)) return int(kFailed);
            return pay(control, *o, false);
        };
    });
}

void addDemo(CLI::App& app, Run& run) {
    auto o = std::make_shared<PayOptions>();
    auto* cmd = app.add_subcommand("demo",
                                   "a payment against the bundled simulator on a pseudo-terminal "
                                   "(the main job)" kLinuxOnly);
    cmd->add_option_function<std::string>(
           "--amount", [o](const std::string& v) { o->fields.emplace_back("POSAmount", v); },
           "amount in cents (8 digits; ending in 99: refused)")
        ->type_name("8DIGITS");
    cmd->add_option("--think", o->thinkMs, "the cardholder's time at the terminal, in ms")
        ->check(CLI::Range(0, 600000))
        ->type_name("MS");
    cmd->callback([o, &run] {
        run = [o] {
#ifdef _WIN32
            std::cerr << "korvelcom demo: needs a pseudo-terminal, which only Linux offers; run "
                         "`korvelcom sim` there and `korvelcom pay --port N` here\n";
            return int(kUsage);
#else
            o->trace = true;
            KorvelComTools control;
            auto& loop = control.platform().loop();
            // The terminal runs on this thread's loop: it answers from inside the control's waits.
            sim::PtyPort ptyPort(loop);
            sim::TerminalOptions options;
            options.processingDelayMs = o->thinkMs;
            sim::Terminal terminal(loop, ptyPort, options);
            terminal.setResponder(sim::paymentReply);
            PortMap::set(control.CommPort(), ptyPort.slavePath());
            if (o->fields.empty()) o->fields.emplace_back("POSAmount", "00001500");
            if (!applyFields(control, *o)) return int(kFailed);
            std::cout << "KorvelComTools " << control.Version() << " demo: a payment of "
                      << control.POSAmount() << " (currency " << control.POSDev()
                      << ") against the simulated terminal on " << ptyPort.slavePath() << "\n"
                      << "Request: "
                      << WireLog::describe(control.POSNumber() + control.POSAmount() +
                                           control.POSRep() + control.POSMode() +
                                           control.POSType() + control.POSDev())
                      << " + private area\n\nReply fields:\n";
            return pay(control, *o, true);
#endif
        };
    });
}

}  // namespace korvel::cli
