// `korvelcom message`: one framed exchange with a terminal, for a technician checking a line.
#include <iostream>

#include "EscapeKey.h"
#include "commands.h"
#include "korvelcom/CardData.h"
#include "korvelcom/platform/WireLog.h"

namespace korvel::cli {
namespace {

struct MessageOptions : LineOptions {
    std::string text;
    int32_t timeout = 5000;
};

int message(const MessageOptions& o) {
    KorvelComTools control;
    if (!prepare(control, o, &o)) return kFailed;
    WireLog log;
    control.comm().setWireLog(&log);
    HostLoop& loop = control.platform().loop();
    EscapeKey escape(loop);
    const std::string reply = control.Message(o.text, o.timeout);
    const std::string error = control.ReceiveError();
    if (control.CommPortOpen()) control.CommClose();
    control.comm().setWireLog(nullptr);
    if (o.trace) std::cerr << log.format();
    if (o.json) {
        nlohmann::ordered_json j = {{"reply", bytes(reply)},
                                    {"ReceiveError", error},
                                    {"ReceiveMessage", bytes(control.ReceiveMessage())}};
        std::cout << dump(j) << '\n';
    } else if (!reply.empty()) {
        std::cout << cardDataForDisplay(reply) << '\n';
    }
    if (!reply.empty()) return kOk;
    return reportNoReply(control, error, o.timeout, escape.pressed());
}

}  // namespace

void addMessage(CLI::App& app, Run& run) {
    auto o = std::make_shared<MessageOptions>();
    auto* cmd =
        app.add_subcommand("message", "one framed exchange (Message): send TEXT, wait for a reply");
    addLineOptions(*cmd, *o);
    cmd->add_option("TEXT", o->text, "the message text")->required();
    cmd->add_option("--timeout", o->timeout, "reply time-out in ms")
        ->check(CLI::Range(0, INT32_MAX))
        ->type_name("MS");
    cmd->callback([o, &run] { run = [o] { return message(*o); }; });
}

}  // namespace korvel::cli
