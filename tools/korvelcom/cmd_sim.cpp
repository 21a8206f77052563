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
#include <charconv>
#include <csignal>
#include <cstdint>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/PosixSerialComm.h"
#include "sim/CommPort.h"
#include "sim/ExtendedResponder.h"
#include "sim/PaymentResponder.h"
#include "sim/PtyPort.h"
#include "sim/Terminal.h"

namespace korvel::cli {
namespace {

constexpr const char* kUsage =
    "usage: korvelcom sim (--device PATH | --pty) [--behaviour NAME]... [--reply-delay MS]\n"
    "                     [--unsolicited-every MS] [--settings S] [--duration MS]\n"
    "                     [--responder echo|payment] [--quiet]\n"
    "  --pty: create a pseudo-terminal; its device path is the first line of output\n"
    "  --device PATH: answer on a serial device, with --settings (default 9600,e,7,1)\n"
    "  --behaviour NAME: normal, silent, no-frame-ack, bad-check, noise, slow, split,\n"
    "                    unsolicited, echo (may be repeated)\n"
    "  --reply-delay MS: delay of \"slow\" (implies it; default 3000)\n"
    "  --unsolicited-every MS: period of \"unsolicited\" (implies it; default 5000)\n"
    "  --duration MS: stop after MS milliseconds (default: run until SIGINT or SIGTERM)\n"
    "  --responder NAME: echo (answers with the request) or payment (basic payment\n"
    "                    replies: amounts ending in 99 refused, 98 card unreadable,\n"
    "                    00000404 never answered) or extended (every extended\n"
    "                    function code; an authorisation answers twice)\n"
    "  --quiet: no trace on standard error\n";

volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) {
    g_stop = 1;
}

int usage(const std::string& why) {
    std::cerr << "korvelcom sim: " << why << '\n' << kUsage;
    return 2;
}

std::optional<int32_t> parseMs(const std::string& text) {
    int32_t v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || v < 0)
        return std::nullopt;
    return v;
}

void printStats(const sim::Terminal& t) {
    const sim::TerminalStats& s = t.stats();
    std::cerr << "korvelcom sim: received " << s.messagesProcessed << " message(s), sent "
              << s.messagesSent << ", failed " << s.sessionsFailed << ", bad frames " << s.badFrames
              << ", re-sends " << s.duplicates << ", test frames " << s.testFramesReceived << '\n';
}

}  // namespace

int cmdSim(const Args& args) {
    std::optional<std::string> device;
    bool pty = false, quiet = false;
    std::string settings = "9600,e,7,1";
    std::optional<int32_t> duration;
    sim::TerminalOptions options;
    std::string responder = "echo";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--pty") {
            pty = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (!hasValue) {
            return usage(a.rfind("--", 0) == 0 ? "missing the value of " + a
                                               : "unexpected argument '" + a + "'");
        } else if (a == "--device") {
            device = args[++i];
        } else if (a == "--settings") {
            settings = args[++i];
        } else if (a == "--responder") {
            responder = args[++i];
            if (responder != "echo" && responder != "payment" && responder != "extended")
                return usage("unknown responder '" + responder + "'");
        } else if (a == "--behaviour") {
            if (!sim::applyBehaviour(options.behaviours, args[++i]))
                return usage("unknown behaviour '" + args[i] + "'");
        } else if (a == "--reply-delay" || a == "--unsolicited-every" || a == "--duration") {
            const auto ms = parseMs(args[++i]);
            if (!ms) return usage("not a number of milliseconds: '" + args[i] + "'");
            if (a == "--reply-delay") {
                options.slowDelayMs = *ms;
                options.behaviours.slow = true;
            } else if (a == "--unsolicited-every") {
                if (*ms == 0) return usage("--unsolicited-every needs at least 1 ms");
                options.unsolicitedEveryMs = *ms;
                options.behaviours.unsolicited = true;
            } else {
                duration = *ms;
            }
        } else {
            return usage("unexpected argument '" + a + "'");
        }
    }
    if (pty == device.has_value()) return usage("give exactly one of --pty and --device PATH");

    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    try {
        PosixHostLoop loop;
        std::unique_ptr<sim::PtyPort> ptyPort;
        std::unique_ptr<PosixSerialComm> comm;
        std::unique_ptr<sim::CommPort> commPort;
        sim::TerminalPort* port = nullptr;
        std::string path;
        if (pty) {
            ptyPort = std::make_unique<sim::PtyPort>(loop);
            path = ptyPort->slavePath();
            port = ptyPort.get();
        } else {
            constexpr int16_t kPort = 1;
            PortMap::set(kPort, *device);
            comm = std::make_unique<PosixSerialComm>(loop);
            comm->setCommPort(kPort);
            comm->setSettings(settings);
            comm->setPortOpen(true);
            commPort = std::make_unique<sim::CommPort>(*comm);
            path = *device;
            port = commPort.get();
        }
        sim::Terminal terminal(loop, *port, options);
        if (responder == "payment") terminal.setResponder(sim::paymentReply);
        std::unique_ptr<sim::ExtendedResponder> extended;
        if (responder == "extended") {
            extended = std::make_unique<sim::ExtendedResponder>(loop, terminal);
            terminal.setResponder(extended->responder());
        }
        if (!quiet) terminal.setLogger([](const std::string& line) { std::cerr << line << '\n'; });
        std::cout << path << std::endl;
        if (!quiet)
            std::cerr << "korvelcom sim: terminal on " << path << " ("
                      << sim::describeBehaviours(options.behaviours) << ")\n";

        const int32_t start = loop.tick();
        while (!g_stop) {
            if (duration && tickPassed(loop.tick(), tickAdd(start, *duration))) break;
            loop.yield();
        }
        if (!quiet) printStats(terminal);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "korvelcom sim: " << e.what() << '\n';
        return 1;
    }
}

}  // namespace korvel::cli
