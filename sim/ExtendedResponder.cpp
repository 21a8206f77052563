#include "sim/ExtendedResponder.h"

#include "util/FixedWidth.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace korvel::sim {
namespace {

std::string field(const std::string& s, std::size_t pos, std::size_t width) {
    return util::cutField(s, pos, width);
}

std::string pad(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

std::string twoDigits(int n) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n % 100);
    return text;
}

bool isOneOf(const std::string& code, std::initializer_list<const char*> codes) {
    for (const char* c : codes)
        if (code == c) return true;
    return false;
}

constexpr const char* kOk = "00";

}  // namespace

std::string receiptText(const std::string& title, const std::string& amount, int lines) {
    std::string out = pad("        " + title, 40) + pad("KORVEL DEMO SHOP", 40) +
                      pad("TERMINAL 001   05/12/26 10:42", 40) + pad("CARD 497010******1235", 40) +
                      pad("AMOUNT " + amount, 40);
    for (int i = 5; i < lines; ++i)
        out += pad(i + 1 == lines ? "THANK YOU" : "", 40);
    return out.substr(0, 500);
}

ExtendedResponder::ExtendedResponder(HostLoop& loop, Terminal& terminal, ExtendedOptions options)
    : loop_(loop), terminal_(terminal), options_(options) {}

std::string ExtendedResponder::withFaults(std::string reply, bool payment) const {
    if (options_.wrongSequence) {
        const int next = (std::atoi(reply.substr(0, 2).c_str()) % 99) + 1;
        reply.replace(0, 2, twoDigits(next));
    }
    if (options_.wrongFunction) reply.replace(2, 2, reply.compare(2, 2, "15") == 0 ? "14" : "15");
    if (options_.operationMismatch && payment) {
        // The operation number sits right after the status in every payment reply.
        const int other = (std::atoi(operation_.c_str()) + 5000) % 10000;
        char text[8];
        std::snprintf(text, sizeof text, "%04d", other);
        reply.replace(6, 4, text);
    }
    return reply;
}

std::string ExtendedResponder::finalAuthorisation(const std::string& request) {
    const std::string control = field(request, 23, 1);
    std::string reply = request.substr(0, 4) + kOk + operation_ + kOk + "CB01" +
                        field(request, 8, 12) + field(request, 20, 3);
    if (control == "4" || control == "5") reply += pad("497010******1235 1228 CB", 27);
    return withFaults(reply, true);
}

std::optional<std::string> ExtendedResponder::operator()(const std::string& request) {
    if (request.size() < 4) return std::nullopt;
    const std::string head = request.substr(0, 4);
    const std::string code = request.substr(2, 2);

    if (code == "01") {
        const std::string final =
            options_.secondIntermediate ? head.substr(0, 2) + "02" : finalAuthorisation(request);
        if (!options_.noFinalReply) {
            const TerminalOptions& t = terminal_.options();
            const int32_t delay = t.processingDelayMs + (t.behaviours.slow ? t.slowDelayMs : 0) +
                                  options_.finalDelayMs;
            std::weak_ptr<int> alive = alive_;
            loop_.post(
                [this, alive, final] {
                    if (alive.lock()) terminal_.send(final);
                },
                delay);
        }
        return head.substr(0, 2) + "02";  // the intermediate reply: in progress
    }

    std::string reply = head;
    bool payment = false;
    if (code == "03") {
        payment = true;
        reply += std::string(kOk) + operation_ + kOk +
                 receiptText("RECORDING", field(request, 8, 12), 12);
    } else if (isOneOf(code, {"04", "23"})) {
        reply += std::string(kOk) + receiptText(code == "04" ? "MERCHANT COPY" : "TICKET", "", 12);
    } else if (isOneOf(code, {"10", "40", "50", "60", "11", "41", "51", "61"})) {
        char text[8];
        std::snprintf(text, sizeof text, "%04d", ++readings_ % 10000);
        operation_ = text;
        reply += std::string(kOk) + operation_;
        if (code[1] == '1') {
            reply += pad("%B4970101234561235^CARDHOLDER/TEST^2812101000000000000000?", 107) +
                     pad(";4970101234561235=28121010000000000?", 40) +
                     pad(";014970101234561235=1000000000000000000000000000000?", 79) +
                     pad("PRIV" + std::string(text), 10);
        }
    } else if (code == "12") {
        reply += std::string(kOk) + "4" + pad("1234", 15);
    } else if (code == "14") {
        reply += "00100";
    } else if (code == "15") {
        reply += kOk;
        for (int i = 0; i < 32; ++i)
            reply += "A" + std::string(1, static_cast<char>('A' + i % 26)) + twoDigits(i) +
                     twoDigits(10 + i);
    } else if (isOneOf(code, {"16", "17", "18", "19", "20", "21", "22"})) {
        reply += kOk;
    } else {
        reply += "30";  // function not supported
    }
    return withFaults(reply, payment);
}

}  // namespace korvel::sim
