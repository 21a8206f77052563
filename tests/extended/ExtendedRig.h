// The extended protocol's rig: the shared world with a newly placed control, its scripted terminal
// answering each request with the next text of a script, or the simulator's extended responder.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "korvelcom/Automation.h"
#include "sim/ExtendedResponder.h"
#include "support/World.h"

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

struct Ext : World {
    std::deque<std::string> script;  ///< the reply to each request in turn; "" for none
    std::unique_ptr<sim::ExtendedResponder> responder;
    /// Runs inside AbortEnabledEvent, as a host's handler would; the event's virtual time.
    std::function<void()> onAbortEnabled;
    int64_t abortEnabledUs = -1;

    /// `placed`: initialised as a newly placed control (else as created, before any loading).
    explicit Ext(bool placed = true) {
        if (placed) c->InitNewInstance();
        c->setEventSink(&sink_);
        peer->onEot = [this] {
            const std::string text = script.empty() ? "" : script.front();
            if (!script.empty()) script.pop_front();
            if (!text.empty()) peer->replyAfter(100'000, Peer::frame(text));
        };
    }
    /// The simulator answering as an extended terminal.
    sim::ExtendedOptions& simulateExtended() {
        sim::Terminal& t = simulate();
        responder = std::make_unique<sim::ExtendedResponder>(p.loop(), t);
        t.setResponder(responder->responder());
        return responder->options();
    }
    /// The text of the first request the scripted terminal received ("" when none).
    std::string request() const {
        const std::string& r = peer->received;
        const auto stx = r.find(link::STX);
        return stx == std::string::npos ? "" : r.substr(stx + 1, r.find(link::ETX, stx) - stx - 1);
    }
    /// Whole milliseconds since the last byte the control sent.
    int64_t sinceLastSentMs() {
        int64_t at = 0;
        for (const WireLog::Entry& e : p.wire().entries())
            if (e.dir == WireLog::Dir::Out) at = e.timeUs;
        return (nowUs() - at) / 1000;
    }
    /// An extended property by name without its "POSAuto" prefix.
    std::string get(const std::string& name) {
        return std::get<std::string>(getProperty(*c, "POSAuto" + name));
    }
    void set(const std::string& name, const std::string& value) {
        setProperty(*c, "POSAuto" + name, Value(value));
    }
    /// Writes "Name=value ..." through the validating writes, or (`checked` false) stores it
    /// unchecked as a loaded control may hold it.
    void setAll(const std::string& list, bool checked = true) {
        for (const auto& [name, value] : pairs(list))
            checked ? set(name, value)
                    : void(c->storeExtendedFieldUnchecked("POSAuto" + name, value));
    }

  private:
    // Hands every event to `events` and runs `onAbortEnabled`.
    struct Sink : KorvelComToolsEvents {
        Ext& w;
        explicit Sink(Ext& ext) : w(ext) {}
        void ReceivedEvent() override { w.events.ReceivedEvent(); }
        void ErrorEvent(std::string& tag) override { w.events.ErrorEvent(tag); }
        void AbortEnabledEvent() override {
            w.events.AbortEnabledEvent();
            w.abortEnabledUs = w.nowUs();
            if (w.onAbortEnabled) w.onAbortEnabled();
        }
    } sink_{*this};
};

}  // namespace korvel::test
