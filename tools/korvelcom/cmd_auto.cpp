// `korvelcom auto`: one extended operation against a terminal, for a technician checking an
// extended terminal.  The operation is named as the control names it ("POSAutoBeep", or
// "Beep" for short; "Message" runs `POSAutoMessage` with a function code), its arguments follow
// in order, and the result fields of the reply are printed.
#include <cctype>
#include <iostream>

#include "keys.h"
#include "korvelcom/Automation.h"
#include "korvelcom/PropertyBags.h"
#include "korvelcom/platform/WireLog.h"
#include "options.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/PosixSerialComm.h"
#include "progress.h"
#include "props.h"

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

// The operation's full member name, or "" when `name` is none of them (case-insensitive, with
// or without the "POSAuto" prefix).
std::string operationNamed(const std::string& name) {
    const auto& table = AutomationTable::instance();
    for (const std::string& candidate : {name, "POSAuto" + name}) {
        const Member* m = table.find(candidate, MemberKind::Method);
        if (!m) continue;
        for (const char* op : kOperations)
            if (m->name == op) return op;
    }
    return "";
}

std::string text(KorvelComTools& control, const char* name) {
    return std::get<std::string>(getProperty(control, name));
}

void printResults(KorvelComTools& control, const std::string& operation, bool json,
                  const std::string& reply, const std::string& error) {
    const bool software = operation == "POSAutoSoftwareStatus";
    if (json) {
        std::cout << "{\"operation\": " << jsonString(operation);
        for (const char* name : kResults)
            std::cout << ", \"" << name << "\": " << jsonString(text(control, name));
        if (software) {
            std::cout << ", \"software\": [";
            for (int16_t i = 0; i < 32; ++i)
                std::cout << (i ? ", " : "") << "[" << jsonString(control.POSAutoCode(i)) << ", "
                          << jsonString(control.POSAutoVersion(i)) << "]";
            std::cout << "]";
        }
        std::cout << ", \"reply\": " << jsonString(reply)
                  << ", \"ReceiveError\": " << jsonString(error) << "}\n";
        return;
    }
    std::cout << "reply: " << WireLog::describe(reply) << '\n';
    for (const char* name : kResults)
        std::cout << "  " << name << std::string(22 - std::string(name).size(), ' ')
                  << WireLog::describe(text(control, name)) << '\n';
    if (software)
        for (int16_t i = 0; i < 32; ++i)
            std::cout << "  software " << i << (i < 10 ? "  " : " ") << control.POSAutoCode(i)
                      << " version " << control.POSAutoVersion(i) << '\n';
}

}  // namespace

int cmdAuto(const Args& argsIn) {
    Args args = argsIn;
    const auto sets = takeSets(args);
    std::string device, operation;
    int port = 0;
    bool json = false, trace = false;
    std::vector<Value> values;
    std::vector<std::pair<std::string, std::string>> named;  // --ARGNAME VALUE
    const auto propsFile = takeProps(args);
    std::string saveFile;  // --save-props FILE: the control's state after the operation
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--save-props") {
            saveFile = args[i + 1];
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                       args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            break;
        }
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--device" && hasValue) {
            device = args[++i];
        } else if (a == "--port" && hasValue) {
            port = std::stoi(args[++i]);
        } else if (a == "--json") {
            json = true;
        } else if (a == "--trace") {
            trace = true;
        } else if (a.rfind("--", 0) == 0 && hasValue) {
            named.emplace_back(a.substr(2), args[++i]);
        } else if (a.rfind("--", 0) == 0) {
            std::cerr << "korvelcom auto: unexpected argument '" << a << "'\n";
            return 2;
        } else if (operation.empty()) {
            operation = operationNamed(a);
            if (operation.empty()) {
                std::cerr << "korvelcom auto: unknown operation '" << a << "'\n";
                return 2;
            }
        } else {
            values.emplace_back(a);  // converted to the parameter's type by the call
        }
    }
    if (device.empty() == (port == 0) || operation.empty()) {
        std::cerr << "usage: korvelcom auto OPERATION (--device PATH | --port N) [ARGS]... "
                     "[--ARGNAME VALUE]... [--props FILE] [--save-props FILE] [--set "
                     "NAME=VALUE]... [--json] "
                     "[--trace]\n";
        return 2;
    }

    // Named arguments go to the parameter whose name, without its type prefix (str, int,
    // lng), matches: --Amount for strAmount, --Timeout for lngTimeout.
    if (const Member* m = AutomationTable::instance().find(operation, MemberKind::Method)) {
        for (const auto& [name, value] : named) {
            std::size_t index = m->params.size();
            for (std::size_t k = 0; k < m->params.size(); ++k) {
                const std::string& p = m->params[k].name;
                const auto start = p.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
                std::string bare = start == std::string::npos ? p : p.substr(start);
                auto lower = [](std::string t) {
                    for (char& ch : t)
                        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                    return t;
                };
                if (lower(bare) == lower(name)) index = k;
            }
            if (index == m->params.size()) {
                std::cerr << "korvelcom auto: " << operation << " has no argument '" << name
                          << "'\n";
                return 2;
            }
            if (values.size() <= index) values.resize(index + 1);
            values[index] = Value(value);
        }
    }

    KorvelComTools control;
    if (!propsFile.empty() && !loadProps(control, propsFile)) return 2;
    if (!applySets(control, sets)) return 2;
    if (port != 0) control.setCommPort(static_cast<int16_t>(port));
    if (!device.empty()) PortMap::set(control.CommPort(), device);
    WireLog log;
    control.comm().setWireLog(&log);
    auto& loop = static_cast<PosixHostLoop&>(control.platform().loop());
    EscapeKey escape(loop);
    // A rejected argument is reported by `ErrorEvent` only (the send clears the tag): show it.
    struct Errors : KorvelComToolsEvents {
        void ErrorEvent(std::string& errType) override { std::cerr << errType << '\n'; }
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
        reply = std::get<std::string>(invoke(control, operation, MemberKind::Method, values));
    } catch (const AutomationError& e) {
        std::cerr << "korvelcom auto: " << operation << ": " << e.what() << '\n';
        return 2;
    }
    const std::string error = control.ReceiveError();
    if (control.CommPortOpen()) control.CommClose();
    if (!saveFile.empty()) {
        // The next operation can go on from here: sequence number, expected operation, fields.
        TextPropertyBag bag;
        control.WriteProperties(bag);
        if (!bag.save(saveFile)) std::cerr << "korvelcom auto: cannot write " << saveFile << '\n';
    }
    control.comm().setWireLog(nullptr);
    control.setEventSink(nullptr);

    printResults(control, operation, json, reply, error);
    if (trace) (json ? std::cerr : std::cout) << "\nWire trace:\n" << log.format();
    if (!reply.empty()) return 0;
    if (escape.pressed()) std::cerr << "aborted with Escape\n";
    return 1;
}

}  // namespace korvel::cli
