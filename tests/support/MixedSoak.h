// A mixed fault soak in virtual time: basic payments and extended operations against the
// simulated terminal over a line that damages bytes both ways.  A ledger of what the terminal
// took and framed proves nothing was lost or misread; each breach is a problem.  A reply was
// framed for this request ("correct"), for an earlier one ("earlier"; an extended one with this
// number and code), or never, while bytes towards the control were damaged ("undetectable");
// an empty result carries its tag, but for a basic payment whose wait ran out.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "sim/ExtendedResponder.h"
#include "sim/Frames.h"
#include "sim/PaymentResponder.h"
#include "sim/Terminal.h"

namespace korvel::soak {

struct MixedSoakConfig {
    uint64_t seed = 1;
    int exchanges = 2000;
    double basicShare = 0.4;  ///< the rest is spread over the extended operations
    FaultProfile toTerminal{0.0002, 0.0002, 0.0002, 0.0002, 0.0002, 60'000};
    FaultProfile toControl{0.0002, 0.0002, 0.0002, 0.0002, 0.0002, 60'000};
    /// Basic payments and authorisations the terminal leaves unanswered on purpose.
    double unansweredShare = 0.01;
    int32_t replyWaitMs = 6000, finalWaitMs = 8000;
    /// After an exchange that went wrong as the host sees it, the host waits up to this long
    /// for the terminal to fall quiet (0: the next request goes at once).
    int32_t settleAfterTroubleMs = 30000;
    std::function<void(int done)> afterExchange;  ///< e.g. to sample memory (nullptr: none)

    void scaleFaults(double k) {
        for (FaultProfile* f : {&toTerminal, &toControl})
            for (double* p : {&f->drop, &f->corrupt, &f->duplicate, &f->delay, &f->noise})
                *p *= k;
    }
};

struct Outcomes {
    /// `earlier`: the reply to an earlier request, or to a copy of this one the line damaged.
    int64_t exchanges = 0, correct = 0, earlier = 0, undetectable = 0;
    int64_t failed = 0, timedOut = 0;
};

struct MixedSoakResult {
    Outcomes basic, extended;
    std::map<std::string, int64_t> tags;  ///< failure tags, every operation
    int64_t unansweredBasic = 0, unansweredAuth = 0, receivedEvents = 0, virtualUs = 0;
    int64_t problemCount = 0;
    std::vector<std::string> problems;  ///< the first ones, described

    int64_t violations() const { return problemCount; }
};

class MixedSoak : KorvelComToolsEvents {
  public:
    explicit MixedSoak(const MixedSoakConfig& config) : cfg_(config) {
        term_.setResponder([this](const std::string& rq) { return respond(rq); });
        term_.setOutgoingObserver([this](sim::Outgoing s, const std::string& t) { observe(s, t); });
        for (const Member& m : AutomationTable::instance().members())
            if (m.kind == MemberKind::Put && m.name.starts_with("POSAutoTOfct"))
                setProperty(c_, m.name, cfg_.replyWaitMs);
        c_.setPOSAutoTOfctAuthorization(cfg_.finalWaitMs);
        c_.setPOSTimeout(cfg_.replyWaitMs);
    }

    MixedSoakResult run() {
        // A card reading on a clean line first: both sides agree on the operation number.
        c_.setPOSAutoCardReader("1");
        if (c_.POSAutoReadingCard("0").empty()) problem("the opening card reading failed");
        p_.simLoop().runUntil([this] { return settled(); }, 10'000'000);
        p_.line().setFaults(SimLine::A, cfg_.toTerminal);
        p_.line().setFaults(SimLine::B, cfg_.toControl);
        c_.setEventSink(this);
        for (int k = 0; k < cfg_.exchanges; ++k) {
            if (exchange(k) && cfg_.settleAfterTroubleMs > 0)
                p_.simLoop().runUntil([this] { return settled(); },
                                      cfg_.settleAfterTroubleMs * 1000LL);
            if (cfg_.afterExchange) cfg_.afterExchange(k + 1);
        }
        c_.setEventSink(nullptr);
        r_.virtualUs = p_.simLoop().nowUs();
        return r_;
    }

  private:
    // Operations by automation name, function code and arguments: "#12" an amount of 12 digits
    // (unique per exchange), "a|b" one of the choices; the others take their defaults.
    struct Operation {
        const char *name, *fct;
        std::vector<std::string> args;
    };
    static inline const std::vector<Operation> kOperations = {
        {"POSMessage", "", {}},
        {"POSAutoAuthorization", "01", {"#12", "978|250|840", "0|4|5", "10|21|22"}},
        {"POSAutoRecording", "03", {"#12", "978|250"}},
        {"POSAutoReceiptMerchant", "04", {}},
        {"POSAutoReadingCard", "11", {"0|1|2"}},
        {"POSAutoStatusRequest", "14", {}},
        {"POSAutoSoftwareStatus", "15", {}},
        {"POSAutoBeep", "20", {"1|2|3"}},
    };
    struct Answer {
        int exchange;
        std::string request, text;
    };

    void ReceivedEvent() override { ++r_.receivedEvents; }
    void problem(const std::string& what) {
        if (r_.problemCount++ < 20) r_.problems.push_back(what);
    }
    int64_t damage(SimLine::Side side) {
        const SimLine::Counters& n = p_.line().counters(side);
        return n.dropped + n.corrupted + n.duplicated + n.delayed + n.noise;
    }
    bool settled() const { return term_.idle() && pending_.empty() && outbox_.empty(); }

    // ---- The terminal's side: what it took, and what it queued and framed for which request.

    std::optional<std::string> respond(const std::string& request) {
        taken_.push_back(request);
        const bool basic = request.size() == 26 && request.ends_with("          ");
        const auto reply = basic ? sim::paymentReply(request) : ext_(request);
        if (!basic && request.compare(2, 2, "01") == 0 && !ext_.options().noFinalReply)
            pending_.push_back({current_, request, ""});  // its final reply, text unknown yet
        if (reply) pending_.push_back({current_, request, *reply});
        return reply;
    }

    void observe(sim::Outgoing step, const std::string& text) {
        if (step == sim::Outgoing::Queued) {
            // Its reply to a request, or else the final reply of the oldest authorisation.
            auto own = std::find_if(pending_.begin(), pending_.end(),
                                    [&](const Answer& a) { return a.text == text; });
            if (own == pending_.end())
                own = std::find_if(pending_.begin(), pending_.end(),
                                   [&](const Answer& a) { return a.text.empty(); });
            if (own == pending_.end())
                return problem("the terminal queued a message nobody asked for: " + text);
            outbox_.push_back({own->exchange, own->request, text});
            pending_.erase(own);
        } else if (outbox_.empty() || outbox_.front().text != text) {
            problem("the terminal's messages went out of order: " + text);
        } else if (step == sim::Outgoing::Framed) {
            framed_.push_back(outbox_.front());
            if (framed_.size() > 200) framed_.pop_front();
        } else {
            outbox_.pop_front();
        }
    }

    // ---- The control's side: one exchange and its checks.

    std::string amount(int digits, int k) {
        long long v = 1 + k * 37LL + static_cast<long long>(rng_() % 37);
        if (digits == 8 && (v %= 100'000'000) == 404) ++v;  // never the amount left unanswered
        const std::string text = std::to_string(v);
        return std::string(digits - text.size(), '0') + text;
    }
    std::string argument(std::string a, int k) {
        if (a[0] == '#') return amount(std::stoi(a.substr(1)), k);
        for (auto i = rng_() % (std::count(a.begin(), a.end(), '|') + 1); i > 0; --i)
            a.erase(0, a.find('|') + 1);
        return a.substr(0, a.find('|'));
    }

    // True when the exchange went wrong in a way the host sees.
    bool exchange(int k) {
        const bool basic = std::uniform_real_distribution<>(0, 1)(rng_) < cfg_.basicShare;
        const Operation& op = kOperations[basic ? 0 : 1 + rng_() % (kOperations.size() - 1)];
        Outcomes& out = basic ? r_.basic : r_.extended;
        current_ = k;
        taken_.clear();
        p_.comm()->clearWritten();
        const std::string seq = c_.POSAutoSequence();
        const int64_t toTerminal = damage(SimLine::A);
        const int64_t toControl = damage(SimLine::B);
        const bool silent = std::uniform_real_distribution<>(0, 1)(rng_) < cfg_.unansweredShare;
        if (basic) {
            r_.unansweredBasic += silent;
            c_.setPOSAmount(silent ? sim::kSilentAmount : amount(8, k));
        }
        const bool auth = op.fct == std::string("01");
        r_.unansweredAuth += auth && silent;
        ext_.options().noFinalReply = auth && silent;
        std::vector<Value> args;
        for (const std::string& a : op.args)
            args.emplace_back(std::in_place_type<std::string>, argument(a, k));
        const int64_t startUs = p_.simLoop().nowUs();
        const std::string reply =
            std::get<std::string>(invoke(c_, op.name, MemberKind::Method, args));
        const int64_t elapsedUs = p_.simLoop().nowUs() - startUs;
        ext_.options().noFinalReply = false;
        const std::string tag = c_.ReceiveError();
        const std::string& sent = p_.comm()->written();
        const std::size_t stx = sent.find(sim::STX), etx = sent.find(sim::ETX, stx);
        const std::string request =
            etx == std::string::npos ? "" : sent.substr(stx + 1, etx - stx - 1);
        const std::string what = "exchange " + std::to_string(k) + " " + op.name + " '" + request +
                                 "' -> '" + reply + "' tag '" + tag + "'";
        ++out.exchanges;

        for (const std::string& t : taken_) {
            if (t != request && damage(SimLine::A) == toTerminal)
                problem(what + ": the terminal took '" + t + "', never sent");
            else if (t == request && !basic && t.compare(0, 2, seq) != 0)
                problem(what + ": the terminal took a request without the number " + seq);
        }
        if (reply.empty() && !tag.empty()) {
            ++out.failed;
            ++r_.tags[tag];
        } else if (reply.empty() && basic && elapsedUs >= cfg_.replyWaitMs * 1000LL) {
            ++out.timedOut;
        } else if (reply.empty() || !tag.empty()) {
            problem(what + ": a result without its tag, or a tag with a result");
        } else {
            classify(what, basic, k, request, reply, seq, damage(SimLine::B) > toControl, out);
        }
        if (!basic) {
            // The number moves on once a reply has arrived and been compared, matched or not.
            const bool compared = !reply.empty() || tag == "errorHandlerPOSAutoSequence" ||
                                  tag == "errorHandlerPOSAutoFunction" ||
                                  tag == "errorHandlerPOSAutoOperation";
            const std::string next = std::to_string(std::stoi(seq) % 99 + 101).substr(1);
            if (c_.POSAutoSequence() != (compared ? next : seq))
                problem(what + ": the sequence number went from " + seq + " to " +
                        c_.POSAutoSequence());
        }
        return reply.empty() || (basic && c_.EFTposAmount() != c_.POSAmount());
    }

    void classify(const std::string& what, bool basic, int k, const std::string& request,
                  const std::string& reply, const std::string& seq, bool damagedToControl,
                  Outcomes& out) {
        if (!basic && (reply.compare(0, 2, seq) != 0 || reply.compare(2, 2, request, 2, 2) != 0))
            return problem(what + ": accepted with another sequence number or function code");
        const Answer* from = nullptr;
        for (auto a = framed_.rbegin(); a != framed_.rend(); ++a) {
            if (a->text != reply) continue;
            if (a->exchange == k && a->request == request) return void(++out.correct);
            if (!from) from = &*a;
        }
        if (from) {
            // An extended reply to an earlier request passes only when it carried this number.
            if (!basic && from->exchange < k && from->request.compare(0, 2, seq) != 0)
                problem(what + ": took the reply to '" + from->request + "'");
            ++out.earlier;
        } else if (damagedToControl) {
            ++out.undetectable;
        } else {
            problem(what + ": a reply the terminal never sent");
        }
    }

    MixedSoakConfig cfg_;
    SimPlatform p_{1'000'000, cfg_.seed};
    KorvelComTools c_{p_};
    sim::SimLinePort port_{p_.simLoop(), p_.terminal()};
    // Without its records, which grow with every message; the ledger here is bounded.
    sim::Terminal term_{p_.simLoop(), port_, [] {
                            sim::TerminalOptions o;
                            o.keepHistory = false;
                            return o;
                        }()};
    sim::ExtendedResponder ext_{p_.simLoop(), term_};
    std::mt19937_64 rng_{cfg_.seed};
    MixedSoakResult r_;
    int current_ = -1;
    std::vector<std::string> taken_;  // requests the terminal took during this exchange
    std::deque<Answer> pending_;      // replies given or due, not yet queued
    std::deque<Answer> outbox_;       // queued, not yet delivered or given up
    std::deque<Answer> framed_;       // the terminal's latest frames, latest last
};

inline MixedSoakResult runMixedSoak(const MixedSoakConfig& config) {
    return MixedSoak(config).run();
}

/// One line per kind with its outcomes in the order of `Outcomes`, the tags, the problems.
inline std::string report(const MixedSoakResult& r) {
    std::string out;
    for (const auto& [kind, o] : {std::pair{"basic", r.basic}, std::pair{"extended", r.extended}}) {
        out += kind;
        for (int64_t n : {o.exchanges, o.correct, o.earlier, o.undetectable, o.failed, o.timedOut})
            out += " " + std::to_string(n);
        out += "\n";
    }
    for (const auto& [tag, n] : r.tags)
        out += tag + " " + std::to_string(n) + "\n";
    for (const std::string& p : r.problems)
        out += p + "\n";
    return out + std::to_string(r.problemCount) + " problems\n";
}

}  // namespace korvel::soak
