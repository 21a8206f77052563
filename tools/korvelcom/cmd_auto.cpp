// `korvelcom auto OPERATION`: one extended operation against a terminal, for a technician
// checking an extended terminal.  Each operation is a sub-command named as the control names it
// ("POSAutoBeep", or "Beep" for short; "Message" runs `POSAutoMessage` with a function code);
// its arguments follow in order or by name without their type prefix (--Amount for
// strAmount), as the automation table declares them.
#include <unistd.h>

#include <iostream>

#include "EscapeKey.h"
#include "commands.h"
#include "korvelcom/Automation.h"
#include "korvelcom/PropertyBags.h"
#include "korvelcom/platform/WireLog.h"
#include "progress.h"

namespace korvel::cli {
namespace {

constexpr const char* kOperations[] = {"POSAutoMessage",
                                       "POSAutoAuthorization",
                                       "POSAutoRecording",
                                       "POSAutoReceiptMerchant",
                                       "POSAutoTicketRequested",
                                       "POSAutoCardReaderOperation",
                                       "POSAutoSettingExtReader",
                                       "POSAutoReadingCard",
                                       "POSAutoDisplayingPinPadRequest",
                                       "POSAutoStatusRequest",
                                       "POSAutoSoftwareStatus",
                                       "POSAutoClearTransactionFile",
                                       "POSAutoAbortOperation",
                                       "POSAutoSettingEFTConfiguration",
                                       "POSAutoSettingEFTApplication",
                                       "POSAutoBeep"};

// The result fields and the request fields a reply may overwrite, in printing order.
constexpr const char* kResults[] = {
    "POSAutoSequence",    "POSAutoStatus",      "POSAutoStatusCard", "POSAutoOperation",
    "POSAutoApplication", "POSAutoAmount",      "POSAutoCurrency",   "POSAutoCardInfo",
    "POSAutoStatusEFT",   "POSAutoNbCharacter", "POSAutoString",     "POSAutoPrivate",
    "POSAutoTrackISO1",   "POSAutoTrackISO2",   "POSAutoTrackISO3",  "POSAutoReceipt"};

struct AutoOptions : LineOptions {
    std::string saveProps;  // the control's state after the operation, for the next one
    std::string operation;
    std::vector<std::string> values;        // one per parameter
    std::vector<const CLI::Option*> given;  // whether each was given
};

// A parameter's name without its type prefix: "Amount" for "strAmount".
std::string bare(const std::string& param) {
    const auto start = param.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    return start == std::string::npos ? param : param.substr(start);
}

std::string text(KorvelComTools& control, const char* name) {
    return std::get<std::string>(getProperty(control, name));
}

void printResults(KorvelComTools& control, const AutoOptions& o, const std::string& reply,
                  const std::string& error) {
    const bool software = o.operation == "POSAutoSoftwareStatus";
    if (o.json) {
        nlohmann::ordered_json j = {{"operation", o.operation}};
        for (const char* name : kResults)
            j[name] = bytes(text(control, name));
        if (software)
            for (int16_t i = 0; i < 32; ++i)
                j["software"].push_back(
                    {bytes(control.POSAutoCode(i)), bytes(control.POSAutoVersion(i))});
        j["reply"] = bytes(reply);
        j["ReceiveError"] = error;
        std::cout << dump(j) << '\n';
        return;
    }
    if (reply.empty()) return;
    std::cout << "reply: " << WireLog::describe(reply) << '\n';
    for (const char* name : kResults)
        std::cout << "  " << name << std::string(22 - std::string(name).size(), ' ')
                  << WireLog::describe(text(control, name)) << '\n';
    if (software)
        for (int16_t i = 0; i < 32; ++i)
            std::cout << "  software " << i << (i < 10 ? "  " : " ") << control.POSAutoCode(i)
                      << " version " << control.POSAutoVersion(i) << '\n';
}

int runOperation(AutoOptions& o) {
    KorvelComTools control;
    if (!prepare(control, o, &o)) return kFailed;
    std::vector<Value> args(o.values.size());
    for (std::size_t i = 0; i < args.size(); ++i)
        if (o.given[i]->count() > 0) args[i] = Value(o.values[i]);
    while (!args.empty() && std::holds_alternative<std::monostate>(args.back()))
        args.pop_back();

    WireLog log;
    control.comm().setWireLog(&log);
    HostLoop& loop = control.platform().loop();
    EscapeKey escape(loop);
    // A rejected argument is reported by `ErrorEvent` only (the send clears the tag).
    struct Events : KorvelComToolsEvents {
        std::string firstError;
        void ErrorEvent(std::string& errType) override {
            if (firstError.empty()) firstError = errType;
        }
        void AbortEnabledEvent() override {
            std::cerr << "intermediate reply: the authorisation is in progress (Esc aborts)\n";
        }
    } events;
    control.setEventSink(&events);

    std::string reply;
    try {
        // Progress only for a person watching: scripts read standard error as it is.
        std::unique_ptr<Progress> progress;
        if (isatty(STDERR_FILENO)) progress = std::make_unique<Progress>(loop, 0);
        reply = std::get<std::string>(invoke(control, o.operation, MemberKind::Method, args));
    } catch (const AutomationError& e) {
        std::cerr << "korvelcom auto: " << o.operation << ": " << e.what() << '\n';
        return kUsage;
    }
    const std::string error =
        control.ReceiveError().empty() ? events.firstError : control.ReceiveError();
    if (control.CommPortOpen()) control.CommClose();
    if (!o.saveProps.empty()) {
        TextPropertyBag bag;
        control.WriteProperties(bag);
        if (!bag.save(o.saveProps))
            std::cerr << "korvelcom auto: cannot write " << o.saveProps << '\n';
    }
    control.comm().setWireLog(nullptr);
    control.setEventSink(nullptr);

    printResults(control, o, reply, error);
    if (o.trace) (o.json ? std::cerr : std::cout) << "\nWire trace:\n" << log.format();
    if (!reply.empty()) return kOk;
    return reportNoReply(control, error, 0, escape.pressed());
}

}  // namespace

void addAuto(CLI::App& app, Run& run) {
    auto o = std::make_shared<AutoOptions>();
    auto* cmd = app.add_subcommand(
        "auto", "one extended operation (POSAutoReadingCard, POSAutoAuthorization, ...)");
    addLineOptions(*cmd, *o);
    cmd->add_option("--save-props", o->saveProps, "save the control after the operation")
        ->type_name("FILE");
    cmd->require_subcommand(1);
    cmd->footer(
        "An authorisation is accepted only for the operation number a card reading announced to "
        "the same control: run it with --props from a card reading saved with --save-props.");
    for (const char* full : kOperations) {
        const Member* m = AutomationTable::instance().find(full, MemberKind::Method);
        if (!m) continue;
        const std::string shortName = std::string(full).substr(7);
        auto* op = cmd->add_subcommand(shortName, std::string("runs ") + full);
        op->alias(full);
        op->ignore_case();
        op->fallthrough();
        // Sub-commands are parsed while `o` lives; the vectors are sized once per operation.
        auto values = std::make_shared<std::vector<std::string>>(m->params.size());
        auto given = std::make_shared<std::vector<const CLI::Option*>>();
        for (std::size_t k = 0; k < m->params.size(); ++k) {
            const Param& p = m->params[k];
            std::string help = p.name + " (" + std::string(typeName(p.type)) + ")";
            if (p.defaultValue) help += ", default \"" + formatValue(*p.defaultValue) + "\"";
            given->push_back(
                op->add_option(bare(p.name) + ",--" + bare(p.name), (*values)[k], help));
        }
        op->callback([o, values, given, full, &run] {
            o->operation = full;
            o->values = *values;
            o->given = *given;
            run = [o] { return runOperation(*o); };
        });
    }
}

}  // namespace korvel::cli
