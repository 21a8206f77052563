// The extended protocol's rig: an `ext::Exchange` on a fake link that answers each reply wait
// with the next text of a script and records what was sent, and a fake host that records what
// was reported.  Also the compact notations the extended tests write their cases in.
#pragma once

#include <algorithm>
#include <deque>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "extended/Exchange.h"

namespace korvel::test {

/// A message written with '|' between its fields for the reader: "01|14|00100".
inline std::string msg(std::string text) {
    std::erase(text, '|');
    return text;
}

/// A value written compactly: "-" is "", "c*N" is N times c ("_" a space, "~" code 0).
inline std::string expand(const std::string& v) {
    const auto star = v.find('*');
    if (v == "-" || star == std::string::npos) return v == "-" ? "" : v;
    return std::string(std::stoul(v.substr(star + 1)), v[0] == '_' ? ' ' : v[0] == '~' ? 0 : v[0]);
}

/// The "name=value" items of a list separated by spaces, values expanded.
inline std::vector<std::pair<std::string, std::string>> pairs(const std::string& list) {
    std::vector<std::pair<std::string, std::string>> out;
    std::istringstream in(list);
    for (std::string item; in >> item;)
        out.emplace_back(item.substr(0, item.find('=')), expand(item.substr(item.find('=') + 1)));
    return out;
}

struct Ext : ext::Channel, ext::Reporter {
    std::deque<std::string> script;              ///< the reply to each wait in turn; "" for none
    std::vector<std::string> sent;               ///< every request sent
    std::vector<int32_t> waits;                  ///< every reply wait, ms
    std::vector<std::string> errors, announced;  ///< every tag shown, every property changed
    std::string errorText;                       ///< the tag left as the error text
    int receivedEvents = 0, abortEvents = 0;
    bool ready = true;  ///< receiving enabled and a message stored
    ext::Exchange x{*this, *this};

    /// `placed`: initialised as a newly placed control (else as created, before any loading).
    explicit Ext(bool placed = true) {
        if (placed) x.reset(true);
    }
    /// An extended property by name without its "POSAuto" prefix.
    std::string get(const std::string& name) const {
        if (const auto f = ext::fieldNamed("POSAuto" + name)) return x.field(*f);
        static const std::vector<std::string> results = {"Status",  "StatusCard", "Application",
                                                         "Receipt", "Private",    "NbCharacter",
                                                         "String",  "StatusEFT"};
        const auto r = std::find(results.begin(), results.end(), name) - results.begin();
        return x.result(static_cast<ext::Result>(r));
    }
    void set(const std::string& name, const std::string& value) {
        x.putField(*ext::fieldNamed("POSAuto" + name), value);
    }
    /// Writes "Name=value ..." through the validating writes, or (`checked` false) stores it
    /// unchecked as a loaded control may hold it; "TOfctX=ms" sets a function time-out.
    void setAll(const std::string& list, bool checked = true) {
        for (const auto& [name, value] : pairs(list)) {
            for (const ext::TimeoutInfo& t : ext::timeouts())
                if ("POSAuto" + name == t.name) x.putTimeout(t.timeout, std::stoi(value));
            if (name.starts_with("TOfct")) continue;
            checked ? set(name, value) : void(x.storeUnchecked("POSAuto" + name, value));
        }
    }

    bool send(const std::string& message) override {
        sent.push_back(message);
        return true;
    }
    std::string receive(int32_t ms) override {
        waits.push_back(ms);
        const std::string text = script.empty() ? "" : script.front();
        if (!script.empty()) script.pop_front();
        return text;
    }
    void holdReceivedEvent() override {}
    bool messageReady() override { return ready; }
    void fail(const char* tag) override {
        errors.push_back(tag);
        errorText = tag;
    }
    void refuse(const char* tag) override { errors.push_back(tag); }
    void abortEnabled() override { ++abortEvents; }
    void received() override { ++receivedEvents; }
    void changed(const char* name) override { announced.push_back(name); }
};

}  // namespace korvel::test
