// What the commands share: the control options, JSON of byte strings, and failures told in
// plain words.
#include <cstdio>
#include <iostream>

#include "commands.h"
#include "korvelcom/Automation.h"
#include "korvelcom/CardData.h"
#include "korvelcom/PropertyBags.h"
#include "korvelcom/platform/Endpoint.h"

namespace korvel::cli {

void addControlOptions(CLI::App& cmd, ControlOptions& o, bool props) {
    cmd.add_option("--set", o.sets,
                   "NAME=VALUE: writes any property by its automation name first, with the "
                   "checks of a host's put (repeatable)")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("NAME=VALUE");
    if (props)
        cmd.add_option("--props", o.props, "start from a control saved with props save")
            ->check(CLI::ExistingFile)
            ->type_name("FILE");
}

void addLineOptions(CLI::App& cmd, LineOptions& o) {
    auto* where = cmd.add_option_group("port", "where the terminal is (one of them)");
    where
        ->add_option("--device", o.device,
                     "the terminal's serial device, tcp://HOST:PORT or rfc2217://HOST:PORT")
        ->type_name("PATH|URL");
    where->add_option("--port", o.port, "the control's port number (CommPort)")
        ->check(CLI::Range(1, 255))
        ->type_name("N");
    where->require_option(1);
    cmd.add_flag("--json", o.json, "print the result as one JSON object");
    cmd.add_flag("--trace", o.trace, "print the timestamped wire trace");
    addControlOptions(cmd, o);
}

bool prepare(KorvelComTools& control, const ControlOptions& o, const LineOptions* line) {
    if (!o.props.empty()) {
        TextPropertyBag bag;
        if (!bag.load(o.props)) {
            std::cerr << "cannot read the property file " << o.props << '\n';
            return false;
        }
        for (const std::string& problem : bag.problems())
            std::cerr << o.props << ": " << problem << " (skipped)\n";
        control.ReadProperties(bag);
    }
    for (const std::string& set : o.sets) {
        const auto eq = set.find('=');
        if (eq == std::string::npos || eq == 0) {
            std::cerr << "--set needs NAME=VALUE, got '" << set << "'\n";
            return false;
        }
        const std::string name = set.substr(0, eq);
        control.setReceiveError("");
        try {
            setProperty(control, name, Value(set.substr(eq + 1)));
        } catch (const AutomationError& e) {
            std::cerr << "cannot set " << name << ": " << e.what() << '\n';
            return false;
        }
        const std::string tag = control.ReceiveError();
        if (!tag.empty()) {
            std::cerr << tag << ": " << plainWords(tag, control) << '\n';
            return false;
        }
    }
    if (line) {
        if (line->port != 0) control.setCommPort(static_cast<int16_t>(line->port));
        if (!line->device.empty()) PortMap::set(control.CommPort(), line->device);
    }
    return true;
}

nlohmann::ordered_json bytes(const std::string& raw) {
    if (!raw.empty() && raw.find_first_not_of('\0') == std::string::npos) return nullptr;
    // One code point per byte (Latin-1 to UTF-8), so that every byte survives the dump.
    std::string utf8;
    for (char ch : cardDataForDisplay(raw)) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            utf8.push_back(ch);
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (b >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return utf8;
}

std::string dump(const nlohmann::ordered_json& j) {
    return j.dump(-1, ' ', true);
}

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string device(KorvelComTools& control) {
    return PortMap::lookup(control.CommPort());
}

}  // namespace

std::string plainWords(const std::string& tag, KorvelComTools& control) {
    const std::string on = " on " + device(control);
    if (tag == "errorHandlerOpenSession" || tag == "errorHandlerSendEnq")
        return "no terminal answered the session request" + on + " (" +
               std::to_string(control.RetrySession()) + " tries, " +
               std::to_string(control.TOwaitChar()) + " ms each)";
    if (tag == "errorHandlerSendMessage")
        return "the terminal did not acknowledge the message" + on + " (" +
               std::to_string(control.RetryData()) + " sessions)";
    if (tag == "errorHandlerReceivePacket" || tag == "errorHandlerRecPacket")
        return "the terminal's reply was damaged (a frame check failed) and was not accepted";
    if (tag == "errorHandlerPOSAutoSequence")
        return "the reply carried another sequence number than the request";
    if (tag == "errorHandlerPOSAutoFunction")
        return "the reply carried another function code, or did not fit its layout";
    if (tag == "errorHandlerPOSAutoOperation")
        return "the payment reply carried another operation number than the card reading "
               "announced";
    if (tag == "errorHandlerPOSAutoMessage" || tag == "errorHandlerRecMessage")
        return "no reply came within the time-out";
    if (tag == "errorPOSAutoExchangeBusy") return "another extended exchange is running";
    if (tag == "errorHandleraddLRC8toString") return "the message is too long for a frame";
    if (tag.rfind("errorHandler", 0) == 0) return tag.substr(12) + " failed";
    // Rejected values: "error" + the field + what is wrong.
    std::string field = tag.rfind("error", 0) == 0 ? tag.substr(5) : tag;
    for (const auto& [suffix, words] :
         {std::pair<const char*, const char*>{"NullValue", "must not be zero"},
          {"Length", "has the wrong number of characters"},
          {"Value", "is out of its range"}}) {
        if (endsWith(field, suffix) && field.size() > std::string(suffix).size())
            return field.substr(0, field.size() - std::string(suffix).size()) + " " + words;
    }
    return field + " does not accept this value";
}

int reportNoReply(KorvelComTools& control, const std::string& tag, int32_t timeoutMs,
                  bool escaped) {
    if (escaped) {
        std::cerr << (tag.empty() ? "" : tag + ": ") << "aborted with Escape\n";
        return kFailed;
    }
    if (tag.empty()) {
        std::cerr << "no reply within " << timeoutMs << " ms\n";
        return kFailed;
    }
    // A session that never opened may not have reached a terminal at all: ask the port why.
    if ((tag == "errorHandlerOpenSession" || tag == "errorHandlerSendEnq" ||
         tag == "errorHandlerCommOpen") &&
        !control.CommPortOpen()) {
        try {
            control.comm().setPortOpen(true);
            control.comm().setPortOpen(false);
        } catch (const std::exception& e) {
            std::cerr << tag << ": cannot open " << e.what() << '\n';
            return kPortUnavailable;
        }
    }
    std::cerr << tag << ": " << plainWords(tag, control) << '\n';
    return kFailed;
}

}  // namespace korvel::cli
