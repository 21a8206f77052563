// `korvelcom sim (--device PATH | --pty) [--behaviour NAME]... [--reply-delay MS]
// [--unsolicited-every MS] [--settings S] [--duration MS] [--quiet]`: the payment-terminal
// simulator in real time, on a serial device or on a new pseudo-terminal.
//
// The first line on standard output is the device the control should open (the slave of the
// pseudo-terminal, or the device given), flushed at once, so that a script can start the
// simulator in the background and read where to connect.  Each exchange is traced on standard
// error unless --quiet.  The simulator runs until SIGINT or SIGTERM (or for --duration
// milliseconds), then prints its counters on standard error and exits with 0; standard input is
// not read, so a background run with standard input closed keeps running.  A device that fails
// or goes away ends it with status 1.
#include <csignal>
#include <cstdint>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "korvelcom/platform/Platform.h"
#include "sim/ExtendedResponder.h"
#include "sim/PaymentResponder.h"
#ifndef _WIN32
#include "sim/PtyPort.h"
#endif
#include "sim/Terminal.h"

namespace korvel::cli {
namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) {
    g_stop = 1;
}

void printStats(const sim::Terminal& t) {
    const sim::TerminalStats& s = t.stats();
    std::cerr << "korvelcom sim: received " << s.messagesProcessed << " message(s), sent "
              << s.messagesSent << ", failed " << s.sessionsFailed << ", bad frames " << s.badFrames
              << ", re-sends " << s.duplicates << ", test frames " << s.testFramesReceived << '\n';
}

struct SimOptions {
    std::string device;
    bool pty = false, quiet = false;
    std::string settings = "9600,e,7,1";
    int32_t duration = -1;
    sim::TerminalOptions options;
    std::string responder = "echo";
};

int simulate(SimOptions& o) {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    sim::TerminalOptions& options = o.options;
    try {
        Platform& platform = defaultPlatform();
        HostLoop& loop = platform.loop();
        std::unique_ptr<sim::TerminalPort> port;
        std::string path;
        if (o.pty) {
#ifdef _WIN32
            throw SerialError("--pty needs a pseudo-terminal, which only Linux offers");
#else
            auto ptyPort = std::make_unique<sim::PtyPort>(loop);
            path = ptyPort->slavePath();
            port = std::move(ptyPort);
#endif
        } else {
            const auto line = LineSettings::parse(o.settings);
            if (!line) throw SerialError("invalid line settings \"" + o.settings + "\"");
            // Named like the control's first port, so that messages read the same.
            const Endpoint where = Endpoint::parse(o.device, 1);
            auto transport = platform.createTransport(where);
            transport->open(where, *line);
            port = std::make_unique<sim::TerminalPort>(loop, std::move(transport));
            path = o.device;
        }
        sim::Terminal terminal(loop, *port, options);
        if (o.responder == "payment") terminal.setResponder(sim::paymentReply);
        std::unique_ptr<sim::ExtendedResponder> extended;
        if (o.responder == "extended") {
            extended = std::make_unique<sim::ExtendedResponder>(loop, terminal);
            terminal.setResponder(extended->responder());
        }
        if (!o.quiet)
            terminal.setLogger([](const std::string& line) { std::cerr << line << '\n'; });
        std::cout << path << std::endl;
        if (!o.quiet)
            std::cerr << "korvelcom sim: terminal on " << path << " ("
                      << sim::describeBehaviours(options.behaviours) << ")\n";

        const int32_t start = loop.tick();
        while (!g_stop) {
            if (o.duration >= 0 && tickPassed(loop.tick(), tickAdd(start, o.duration))) break;
            loop.yield();
        }
        if (!o.quiet) printStats(terminal);
        return kOk;
    } catch (const std::exception& e) {
        std::cerr << "korvelcom sim: " << e.what() << '\n';
        return kFailed;
    }
}

}  // namespace

void addSim(CLI::App& app, Run& run) {
    auto o = std::make_shared<SimOptions>();
    auto* cmd = app.add_subcommand(
        "sim", "the payment-terminal simulator, on a serial device or a new pseudo-terminal");
    cmd->footer(
        "The first line of standard output is the device the control should open.  The "
        "simulator runs until SIGINT or SIGTERM (or --duration), then prints its counters.");
    auto* where = cmd->add_option_group("where", "one of them");
    where->add_flag("--pty", o->pty,
                    "create a pseudo-terminal; its path is the first line" kLinuxOnly);
    where->add_option("--device", o->device, "answer on a serial device")->type_name("PATH");
    where->require_option(1);
    cmd->add_option("--settings", o->settings, "line settings of --device")
        ->type_name("BAUD,P,D,S");
    cmd->add_option_function<std::string>(
           "--behaviour",
           [o](const std::string& name) {
               if (!sim::applyBehaviour(o->options.behaviours, name))
                   throw CLI::ValidationError("--behaviour", "unknown behaviour '" + name + "'");
           },
           "normal, silent, no-frame-ack, bad-check, noise, slow, split, unsolicited, echo "
           "(repeatable)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("NAME");
    cmd->add_option_function<int32_t>(
           "--reply-delay",
           [o](int32_t ms) {
               o->options.slowDelayMs = ms;
               o->options.behaviours.slow = true;
           },
           "delay of \"slow\" (implies it; default 3000)")
        ->check(CLI::Range(0, INT32_MAX))
        ->type_name("MS");
    cmd->add_option_function<int32_t>(
           "--unsolicited-every",
           [o](int32_t ms) {
               o->options.unsolicitedEveryMs = ms;
               o->options.behaviours.unsolicited = true;
           },
           "period of \"unsolicited\" (implies it; default 5000)")
        ->check(CLI::Range(1, INT32_MAX))
        ->type_name("MS");
    cmd->add_option("--duration", o->duration, "stop after MS milliseconds")
        ->check(CLI::Range(0, INT32_MAX))
        ->type_name("MS");
    cmd->add_option("--responder", o->responder,
                    "echo (the request back), payment (basic replies: amounts ending in 99 "
                    "refused, 98 card unreadable, 00000404 never answered) or extended (every "
                    "extended function code)")
        ->check(CLI::IsMember({"echo", "payment", "extended"}));
    cmd->add_flag("--quiet", o->quiet, "no trace on standard error");
    cmd->callback([o, &run] { run = [o] { return simulate(*o); }; });
}

}  // namespace korvel::cli
