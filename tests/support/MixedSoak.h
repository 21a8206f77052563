// A mixed fault soak in virtual time: basic payments (`POSMessage`) and the fifteen extended
// operations against the simulated terminal, over a line that drops, corrupts, duplicates and
// delays bytes and carries bursts of noise, in both directions.  Every outcome is checked
// against what the terminal really sent, as its outgoing observer reported it:
//
//   - a reply the control returns must be byte-identical to a message the terminal framed for
//     the request of that exchange ("correct").  The basic link has no sequence numbers, so a
//     basic payment may be given the reply to an earlier request; it is counted apart and must
//     still be byte-identical to a message the terminal framed for that earlier request.  An
//     extended reply must carry the request's sequence number and function code; one that
//     answers an earlier request is possible only when that request carried the same number
//     (the number does not move on when no reply came), and is counted apart too.
//   - an empty result carries its error tag.  The only untagged empty result the link allows
//     is the plain time-out of a basic payment's reply wait, which must have lasted
//     `POSTimeout`.
//   - the sequence number moves on exactly when a reply arrived and was compared, and every
//     extended request the terminal took carries the number the control held.
//   - each exchange ends within the worst case its link parameters allow (a watchdog presses
//     Escape far beyond it, so a hang ends the run instead of stalling it).
//   - the heap after a warm-up, and the largest sizes of the control's and the simulator's
//     buffers, are measured for the caller to bound.
//
// A reply that is none of the terminal's texts is classified further: when the control really
// received it with its correct check byte, its frame differs from one the terminal sent during
// that exchange by a few bytes dropped, inserted or changed, and the line damaged bytes towards
// the control meanwhile, it is damage the frame's one-byte LRC cannot see ("undetectable");
// anything else is a wrong reply.  A request can be damaged the same way on its way to the
// terminal, which then answers what it took; such answers are counted apart, and the damage
// must be of that kind too.
//
// Shared by the soak test (moderate counts) and the bench runner (100,000 exchanges and more).
#pragma once

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVEL_SOAK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KORVEL_SOAK_ASAN 1
#endif
#ifdef KORVEL_SOAK_ASAN
// From the sanitizer runtime (its header does not come with every compiler).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/platform/WireLog.h"
#include "platform/sim/SimPlatform.h"
#include "sim/ExtendedResponder.h"
#include "sim/Frames.h"
#include "sim/PaymentResponder.h"
#include "sim/Terminal.h"
#include "sim/TerminalPort.h"

namespace korvel::soak {

/// Bytes of heap in use (the sanitizer's count under ASan, malloc's otherwise).
inline int64_t heapInUse() {
#ifdef KORVEL_SOAK_ASAN
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    return static_cast<int64_t>(mallinfo2().uordblks);
#endif
}

/// Resident set size of the process in bytes (0 when unknown).
inline int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    int64_t pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) return 0;
    return resident * static_cast<int64_t>(sysconf(_SC_PAGESIZE));
}

/// What a soak runs and how hard the line is.
struct MixedSoakConfig {
    uint64_t seed = 1;
    int exchanges = 5000;
    /// Share of basic payments; the rest is spread evenly over the fifteen extended operations.
    double basicShare = 0.4;
    /// Per-byte faults from the control to the terminal, and back.
    FaultProfile toTerminal{0.0002, 0.0002, 0.0002, 0.0002, 0.0002, 60'000};
    FaultProfile toControl{0.0002, 0.0002, 0.0002, 0.0002, 0.0002, 60'000};
    /// Bursts of random bytes put on the line, per minute of virtual time and direction, and
    /// their length range.
    double burstsPerMinute = 1.0;
    int burstMinBytes = 2;
    int burstMaxBytes = 24;
    /// Share of basic payments and of authorisations that the terminal leaves unanswered on
    /// purpose (the amount it never answers; an authorisation without its final reply), so
    /// that the reply waits run to their end.
    double unansweredShare = 0.01;
    /// `POSTimeout` and every extended reply wait.
    int32_t replyWaitMs = 6000;
    /// The authorisation's wait for its final reply (`POSAutoTOfctAuthorization`).
    int32_t finalWaitMs = 8000;
    /// After an exchange that went wrong as the host can see it (an empty result, or a basic
    /// reply whose amount is not the one asked for), the host lets the line settle for up to
    /// this long, until the terminal has nothing left to send, before its next request.  0:
    /// requests follow each other at once whatever happened (see `report`: a reply left
    /// behind then answers the next request, and the one after, and so on).
    int32_t settleAfterTroubleMs = 30000;
    /// Exchanges before the memory baseline is taken, and memory samples after it.
    int warmup = 1000;
    int memorySamples = 20;
    /// Receives one line per exchange and, when `traceTerminal` is set, the terminal's own
    /// trace (nullptr: no trace).
    std::function<void(const std::string& line)> trace;
    bool traceTerminal = false;
};

/// Outcomes of one kind of exchange.
struct Outcomes {
    int64_t exchanges = 0;
    int64_t correct = 0;           ///< the terminal's reply to this very request
    int64_t earlier = 0;           ///< the terminal's reply to an earlier request, undamaged
    int64_t toDamagedRequest = 0;  ///< the terminal's reply to this request damaged on the line
    int64_t undetectable = 0;      ///< damaged on the line in a way the LRC cannot see
    int64_t unexplained = 0;       ///< none of the above: a wrong reply accepted
    int64_t failed = 0;            ///< empty result with an error tag
    int64_t timedOut = 0;          ///< basic only: untagged time-out of the full reply wait
    int64_t silent = 0;            ///< empty result, no tag, not a time-out
    int64_t maxUs = 0;             ///< longest exchange, virtual microseconds
    std::map<std::string, int64_t> tags;

    void add(const Outcomes& o) {
        exchanges += o.exchanges;
        correct += o.correct;
        earlier += o.earlier;
        toDamagedRequest += o.toDamagedRequest;
        undetectable += o.undetectable;
        unexplained += o.unexplained;
        failed += o.failed;
        timedOut += o.timedOut;
        silent += o.silent;
        maxUs = std::max(maxUs, o.maxUs);
        for (const auto& [tag, n] : o.tags)
            tags[tag] += n;
    }
};

struct MemoryFigures {
    int64_t heapAtWarmup = 0, heapAtEnd = 0, heapMin = 0, heapMax = 0;
    int64_t rssAtWarmup = 0, rssAtEnd = 0;
    std::vector<std::pair<int, int64_t>> heapSamples;  ///< (exchanges done, heap) after warm-up
    /// Largest sizes seen after any exchange.
    std::size_t captureBuffer = 0, receiveMessage = 0, waitingInput = 0, ledgerRecords = 0;
    std::size_t pendingReplies = 0;  ///< answers queued by the terminal and not yet ended
};

struct MixedSoakResult {
    std::map<std::string, Outcomes> byOperation;  ///< by member name
    Outcomes basic, extended;
    int64_t sequenceAdvances = 0;
    int64_t sequenceDrifts = 0;        ///< the number did not move as the outcome requires
    int64_t terminalSequenceOff = 0;   ///< the terminal took a request with another number
    int64_t damagedRequestsTaken = 0;  ///< requests the terminal took that differ from the sent
    int64_t overBound = 0;             ///< exchanges longer than their worst case
    int64_t watchdogFired = 0;
    int64_t settles = 0;           ///< times the host let the line settle
    int64_t settleUs = 0;          ///< virtual time spent settling
    std::size_t backlogAtEnd = 0;  ///< answers the terminal still had 2 minutes after the run
    int64_t unansweredBasic = 0;   ///< basic payments the terminal was set to leave unanswered
    int64_t unansweredAuth = 0;    ///< authorisations left without their final reply
    int64_t receivedEvents = 0;
    std::map<std::string, int64_t> errorEvents;
    SimLine::Counters toTerminal, toControl;
    int64_t bursts[2] = {0, 0}, burstBytes[2] = {0, 0};  ///< [SimLine::A]: towards the terminal
    sim::TerminalStats terminal;
    int64_t terminalGivenUp = 0;
    MemoryFigures memory;
    int64_t virtualUs = 0;
    std::vector<std::string> problems;  ///< the first violations, described
    int64_t problemCount = 0;
    std::vector<std::string> undetectableExamples;  ///< the first replies the LRC let through
    std::vector<std::string> earlierExamples;  ///< the first extended replies to earlier requests

    /// Wrong replies accepted whose cause is not the LRC's blindness, plus silent failures,
    /// drifts, hangs: everything that must be zero.
    int64_t violations() const {
        return basic.unexplained + extended.unexplained + basic.silent + extended.silent +
               sequenceDrifts + terminalSequenceOff + overBound + watchdogFired + problemCount;
    }
};

namespace detail {

struct Operation {
    const char* name;
    const char* fct;  ///< nullptr: basic payment
};

inline const std::array<Operation, 16>& operations() {
    static const std::array<Operation, 16> ops = {{
        {"POSMessage", nullptr},
        {"POSAutoAuthorization", "01"},
        {"POSAutoRecording", "03"},
        {"POSAutoReceiptMerchant", "04"},
        {"POSAutoTicketRequested", "23"},
        {"POSAutoCardReaderOperation", "21"},
        {"POSAutoSettingExtReader", "10"},
        {"POSAutoReadingCard", "11"},
        {"POSAutoDisplayingPinPadRequest", "12"},
        {"POSAutoStatusRequest", "14"},
        {"POSAutoSoftwareStatus", "15"},
        {"POSAutoClearTransactionFile", "16"},
        {"POSAutoAbortOperation", "17"},
        {"POSAutoSettingEFTConfiguration", "18"},
        {"POSAutoSettingEFTApplication", "19"},
        {"POSAutoBeep", "20"},
    }};
    return ops;
}

// A basic request is 26 characters ending in a private area of ten spaces; no extended
// request has that shape (the only 26-character one, the authorisation, ends in its class).
inline bool isBasicRequest(const std::string& text) {
    return text.size() == 26 && text.compare(16, 10, std::string(10, ' ')) == 0;
}

inline std::string firstFrameText(const std::string& written) {
    const auto stx = written.find(static_cast<char>(sim::STX));
    if (stx == std::string::npos) return {};
    const auto etx = written.find(static_cast<char>(sim::ETX), stx + 1);
    if (etx == std::string::npos) return {};
    return written.substr(stx + 1, etx - stx - 1);
}

inline uint8_t checkByte(const std::string& text) {
    return sim::lrcOf(text + static_cast<char>(sim::ETX));
}

inline std::string printable(const std::string& text, std::size_t max = 60) {
    std::string out;
    for (char ch : text.substr(0, max)) {
        const auto u = static_cast<unsigned char>(ch);
        if (u >= 32 && u < 127) {
            out += ch;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return text.size() > max ? out + "..." : out;
}

inline int64_t damage(const SimLine::Counters& n) {
    return n.dropped + n.corrupted + n.duplicated + n.delayed + n.noise;
}

// Edit distance (bytes dropped, inserted or changed) between `a` and `b`, or `limit` + 1 when
// it is larger than `limit`.
inline std::size_t editDistance(const std::string& a, const std::string& b, std::size_t limit) {
    const std::size_t n = a.size(), m = b.size();
    if ((n > m ? n - m : m - n) > limit) return limit + 1;
    std::vector<std::size_t> row(m + 1), next(m + 1);
    for (std::size_t j = 0; j <= m; ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        next[0] = i;
        std::size_t best = next[0];
        for (std::size_t j = 1; j <= m; ++j) {
            next[j] = std::min({row[j] + 1, next[j - 1] + 1, row[j - 1] + (a[i - 1] != b[j - 1])});
            best = std::min(best, next[j]);
        }
        if (best > limit) return limit + 1;
        row.swap(next);
    }
    return std::min(row[m], limit + 1);
}

// Whether the frame of `received` (text, ETX, its correct check) is the frame of `sent` with a
// few bytes dropped, inserted or changed: line damage that left a frame the link's one-byte
// LRC accepts (a byte lost and an equal one doubled elsewhere; a byte turned into ETX and
// followed by one that happens to be the check; two changes that cancel out).
inline bool lrcBlindDamage(const std::string& sent, const std::string& received) {
    const auto frame = [](const std::string& text) {
        return text + static_cast<char>(sim::ETX) + static_cast<char>(checkByte(text));
    };
    return sent != received && editDistance(frame(sent), frame(received), 8) <= 8;
}

// Whether `bytes` holds `text`, ETX and the correct check of `text`: a frame that passes the
// receiver's check.
inline bool holdsCheckedFrame(const std::string& bytes, const std::string& text) {
    const std::string frame =
        text + static_cast<char>(sim::ETX) + static_cast<char>(checkByte(text));
    return bytes.find(frame) != std::string::npos;
}

}  // namespace detail

/// One soak: a control, the simulated terminal answering basic and extended requests, the
/// ledger of what the terminal took and sent, and the checks.
class MixedSoak {
  public:
    explicit MixedSoak(const MixedSoakConfig& config)
        : cfg_(config),
          platform_(1'000'000, config.seed),
          control_(platform_),
          port_(platform_.simLoop(), platform_.terminal()),
          terminal_(platform_.simLoop(), port_, terminalOptions()),
          extended_(platform_.simLoop(), terminal_),
          rng_(config.seed * 0x9E3779B97F4A7C15ull + 1) {
        terminal_.setResponder([this](const std::string& request) { return respond(request); });
        terminal_.setOutgoingObserver(
            [this](sim::Outgoing step, const std::string& text) { observe(step, text); });
        events_.owner = this;
        // The control's side of the line, kept for one exchange at a time.
        platform_.comm()->setWireLog(&wire_);
        platform_.simLoop().setYieldHook([this] { watchdog(); });
        configureControl();
        // Reserved now, so that the samples do not show up in what they measure.
        result_.memory.heapSamples.reserve(static_cast<std::size_t>(cfg_.memorySamples) + 2);
        if (cfg_.trace && cfg_.traceTerminal) terminal_.setLogger(cfg_.trace);
    }
    MixedSoak(const MixedSoak&) = delete;
    MixedSoak& operator=(const MixedSoak&) = delete;
    ~MixedSoak() {
        platform_.simLoop().setYieldHook(nullptr);
        platform_.comm()->setWireLog(nullptr);
    }

    /// Runs every exchange, then lets the terminal finish what it still had going.
    MixedSoakResult run() {
        openingCardReading();
        for (int k = 0; k < cfg_.exchanges; ++k) {
            if (exchange(k)) settle();
            sampleMemory(k + 1);
        }
        platform_.simLoop().runUntil([this] { return settled(); }, 120'000'000);
        result_.backlogAtEnd = awaitingQueue_.size() + finalsDue_.size() + outbox_.size();
        result_.toTerminal = platform_.line().counters(SimLine::A);
        result_.toControl = platform_.line().counters(SimLine::B);
        result_.terminal = terminal_.stats();
        result_.virtualUs = platform_.simLoop().nowUs();
        for (const auto& [name, o] : result_.byOperation)
            (name == "POSMessage" ? result_.basic : result_.extended).add(o);
        return result_;
    }

  private:
    // One request the terminal took, and the messages it queued in answer.
    struct Reply {
        std::string text;
        int frames = 0;         ///< frames of it the terminal put on the line
        int lastFramedIn = -1;  ///< the exchange during which the last of them went out
    };
    struct Taken {
        int64_t id = 0;
        int exchange = 0;
        std::string text;
        std::vector<Reply> replies;
    };
    // A queued message of the terminal, bound to the request it answers.
    struct Queued {
        int64_t takenId;
        std::size_t reply;
    };

    struct Events : KorvelComToolsEvents {
        MixedSoak* owner = nullptr;
        void ReceivedEvent() override { ++owner->result_.receivedEvents; }
        void ErrorEvent(std::string& errType) override { ++owner->result_.errorEvents[errType]; }
    };

    // Requests kept once nothing of theirs is pending any more.
    static constexpr std::size_t kLedgerKeep = 256;

    sim::TerminalOptions terminalOptions() const {
        sim::TerminalOptions o;
        o.keepHistory = false;  // its records grow without bound; the ledger here is bounded
        return o;
    }

    void configureControl() {
        KorvelComTools& c = control_;
        c.setPOSTimeout(cfg_.replyWaitMs);
        c.setPOSNumber("07");
        c.setPOSRep("1");
        c.setPOSMode("1");
        c.setPOSType("0");
        c.setPOSDev("978");
        c.setPOSAutoApplicationCode("CB01");
        c.setPOSAutoTicketRequest("1");
        c.setPOSAutoData("SOAKDATA00000000");
        c.setPOSAutoEFTNumber("001");
        const int32_t w = cfg_.replyWaitMs;
        c.setPOSAutoTOfctAuthorization(cfg_.finalWaitMs);
        c.setPOSAutoTOfctAuthorizationInter(w);
        c.setPOSAutoTOfctRecording(w);
        c.setPOSAutoTOfctReceiptMerchant(w);
        c.setPOSAutoTOfctSettingExtReader(w);
        c.setPOSAutoTOfctReadingCard(w);
        c.setPOSAutoTOfctDisplayingPinPadRequest(w);
        c.setPOSAutoTOfctStatusRequest(w);
        c.setPOSAutoTOfctSoftwareStatus(w);
        c.setPOSAutoTOfctClearTransactionFile(w);
        c.setPOSAutoTOfctAbortOperation(w);
        c.setPOSAutoTOfctSettingEFTConfiguration(w);
        c.setPOSAutoTOfctSettingEFTApplication(w);
        c.setPOSAutoTOfctBeep(w);
        c.setPOSAutoTOfctCardReader(w);
        c.setPOSAutoTOfctCBInit(w);
        c.setPOSAutoTOfctTicketRequest(w);
    }

    // A point of sale reads a card before its first payment, so that the control and the
    // terminal agree on the operation number.  It runs on a clean line, before the faults,
    // the bursts and the counting start.
    void openingCardReading() {
        control_.setPOSAutoCardReader("1");
        if (control_.POSAutoReadingCard("0").empty())
            problem("the opening card reading failed on a clean line: " + control_.ReceiveError());
        platform_.simLoop().runUntil([this] { return settled(); }, 10'000'000);
        platform_.line().setFaults(SimLine::A, cfg_.toTerminal);
        platform_.line().setFaults(SimLine::B, cfg_.toControl);
        for (int side = 0; side < 2; ++side)
            scheduleBurst(static_cast<SimLine::Side>(side));
        control_.setEventSink(&events_);
    }

    // The host waits until the terminal has nothing left to send (or the settle time ends).
    // Meanwhile the control stays armed and takes late answers as unsolicited messages.
    void settle() {
        if (cfg_.settleAfterTroubleMs <= 0) return;
        ++result_.settles;
        const int64_t start = platform_.simLoop().nowUs();
        platform_.simLoop().runUntil([this] { return settled(); },
                                     static_cast<int64_t>(cfg_.settleAfterTroubleMs) * 1000);
        result_.settleUs += platform_.simLoop().nowUs() - start;
    }

    // ---- The terminal's side --------------------------------------------------------------

    std::optional<std::string> respond(const std::string& request) {
        Taken t;
        t.id = nextTakenId_++;
        t.exchange = current_;
        t.text = request;
        std::optional<std::string> reply;
        if (detail::isBasicRequest(request)) {
            reply = sim::paymentReply(request);
        } else {
            reply = extended_(request);
            // An authorisation is answered at once with its intermediate reply; the final one
            // follows as a message of the terminal's own, in the order of the requests.
            if (request.size() >= 4 && request.compare(2, 2, "01") == 0 &&
                !extended_.options().noFinalReply)
                finalsDue_.push_back(t.id);
        }
        if (reply) awaitingQueue_.push_back({t.id, *reply});
        ledger_.push_back(std::move(t));
        prune();
        return reply;
    }

    // Forgets the oldest requests, but never one whose answer the terminal may still send.
    void prune() {
        int64_t oldestPending = nextTakenId_;
        for (const auto& a : awaitingQueue_)
            oldestPending = std::min(oldestPending, a.first);
        for (int64_t id : finalsDue_)
            oldestPending = std::min(oldestPending, id);
        for (const Queued& q : outbox_)
            if (q.takenId >= 0) oldestPending = std::min(oldestPending, q.takenId);
        while (ledger_.size() > kLedgerKeep && ledger_.front().id < oldestPending)
            ledger_.pop_front();
    }

    bool settled() const {
        return terminal_.idle() && awaitingQueue_.empty() && finalsDue_.empty() && outbox_.empty();
    }

    Taken* taken(int64_t id) {
        for (auto it = ledger_.rbegin(); it != ledger_.rend(); ++it)
            if (it->id == id) return &*it;
        return nullptr;
    }

    void observe(sim::Outgoing step, const std::string& text) {
        switch (step) {
            case sim::Outgoing::Queued: {
                int64_t id = -1;
                const auto own = std::find_if(awaitingQueue_.begin(), awaitingQueue_.end(),
                                              [&](const auto& a) { return a.second == text; });
                if (own != awaitingQueue_.end()) {
                    id = own->first;
                    awaitingQueue_.erase(own);
                } else if (!finalsDue_.empty()) {
                    id = finalsDue_.front();
                    finalsDue_.pop_front();
                }
                Taken* t = id < 0 ? nullptr : taken(id);
                if (!t) {
                    problem("the terminal queued a message no request asked for: " +
                            detail::printable(text));
                    outbox_.push_back({-1, 0});
                    return;
                }
                if (!detail::isBasicRequest(t->text) && text.compare(0, 2, t->text, 0, 2) != 0)
                    ++result_.terminalSequenceOff;  // its answer carries another number
                t->replies.push_back({text, 0});
                outbox_.push_back({id, t->replies.size() - 1});
                return;
            }
            case sim::Outgoing::Framed:
            case sim::Outgoing::Delivered:
            case sim::Outgoing::GivenUp: {
                if (outbox_.empty()) {
                    problem("a frame of a message the terminal never queued");
                    return;
                }
                const Queued q = outbox_.front();
                Taken* t = q.takenId < 0 ? nullptr : taken(q.takenId);
                if (t && t->replies[q.reply].text != text)
                    problem("the terminal's messages went out of order");
                if (step == sim::Outgoing::Framed) {
                    if (t) {
                        ++t->replies[q.reply].frames;
                        t->replies[q.reply].lastFramedIn = current_;
                    }
                } else {
                    if (step == sim::Outgoing::GivenUp) ++result_.terminalGivenUp;
                    outbox_.pop_front();
                }
                return;
            }
        }
    }

    void scheduleBurst(SimLine::Side from) {
        if (cfg_.burstsPerMinute <= 0) return;
        std::exponential_distribution<double> gap(cfg_.burstsPerMinute / 60e6);
        const auto delayUs = static_cast<int64_t>(gap(burstRng_)) + 1;
        platform_.simLoop().after(delayUs, [this, from] {
            std::uniform_int_distribution<int> length(cfg_.burstMinBytes, cfg_.burstMaxBytes);
            std::string junk(static_cast<std::size_t>(length(burstRng_)), '\0');
            for (char& ch : junk)
                ch = static_cast<char>(burstRng_() & 0xFF);
            ++result_.bursts[from];
            result_.burstBytes[from] += static_cast<int64_t>(junk.size());
            platform_.line().end(from).write(junk);
            scheduleBurst(from);
        });
    }

    // ---- The control's side ---------------------------------------------------------------

    // The longest an exchange may take with the control's link parameters: the gap after the
    // previous exchange, every ENQ and frame attempt of every session with their pauses, the
    // reply waits, and a reception that starts just before a wait ends (ACK, frame, ACK, tail).
    int64_t worstCaseUs(const detail::Operation& op) const {
        const LinkState& s = control_.linkState();
        const int64_t longestFrameMs = 600;  // 550 characters at 9600 baud, with noise
        const int64_t enqTry = s.TOwaitChar + s.TOwaitRetry + s.TOwaitReply;
        const int64_t frameTry = s.TOwaitReply + longestFrameMs + s.TOwaitChar + s.TOwaitRetry;
        const int64_t session = s.RetrySession * (enqTry + frameTry) + s.TOwaitRetry;
        const int64_t send = s.TOWaitBetweenCommand + s.RetryData * session + 3 * s.TOwaitReply;
        const int64_t reception = 3 * s.TOwaitReply + 2 * s.TOwaitChar + longestFrameMs +
                                  2 * s.TOBetweenChar + 1000;  // slack for stalls and noise
        int64_t waits = cfg_.replyWaitMs;
        if (op.fct && std::string(op.fct) == "01") waits += cfg_.finalWaitMs;
        // One reception may run inside the send's first wait and one past each reply wait.
        return (send + waits + 3 * reception) * 1000;
    }

    void watchdog() {
        if (exchangeStartUs_ < 0 || platform_.simLoop().escapeDown()) return;
        if (platform_.simLoop().nowUs() - exchangeStartUs_ > watchdogUs_) {
            ++result_.watchdogFired;
            platform_.simLoop().setEscape(true);
        }
    }

    std::string amount(int digits, int k) {
        // Unique per exchange, so that the replies to different requests differ; never the
        // amount the terminal leaves unanswered.
        int64_t value = 1 + static_cast<int64_t>(k) * 37 + static_cast<int64_t>(rng_() % 37);
        if (digits == 8 && value % 100'000'000 == 404) ++value;
        char text[24];
        std::snprintf(text, sizeof text, "%0*lld", digits,
                      static_cast<long long>(digits == 8 ? value % 100'000'000 : value));
        return text;
    }

    const char* pick(std::initializer_list<const char*> options) {
        return *(options.begin() + rng_() % options.size());
    }

    bool leaveUnanswered() {
        return std::uniform_real_distribution<double>(0, 1)(rng_) < cfg_.unansweredShare;
    }

    std::string perform(const detail::Operation& op, int k) {
        KorvelComTools& c = control_;
        const std::string name = op.name;
        if (!op.fct) {
            if (leaveUnanswered()) {
                ++result_.unansweredBasic;
                c.setPOSAmount(sim::kSilentAmount);
            } else {
                c.setPOSAmount(amount(8, k));
            }
            return c.POSMessage();
        }
        if (name == "POSAutoAuthorization") {
            const bool unanswered = leaveUnanswered();
            result_.unansweredAuth += unanswered;
            extended_.options().noFinalReply = unanswered;
            const std::string reply =
                c.POSAutoAuthorization(amount(12, k), pick({"978", "250", "840"}),
                                       pick({"0", "4", "5"}), pick({"10", "21", "22"}));
            extended_.options().noFinalReply = false;
            return reply;
        }
        if (name == "POSAutoRecording")
            return c.POSAutoRecording(amount(12, k), pick({"978", "250"}));
        if (name == "POSAutoReceiptMerchant") return c.POSAutoReceiptMerchant();
        if (name == "POSAutoTicketRequested") return c.POSAutoTicketRequested();
        if (name == "POSAutoCardReaderOperation") return c.POSAutoCardReaderOperation();
        if (name == "POSAutoSettingExtReader") {
            c.setPOSAutoCardReader("0");  // the external reader's tracks need the own one off
            const std::string n = amount(8, k);
            auto track = [&](const char* head, std::size_t width) {
                std::string t = head + n;
                t.resize(width, ' ');
                return t;
            };
            return c.POSAutoSettingExtReader(track("%B4970", 107), track(";4970", 40),
                                             track(";0149", 79));
        }
        if (name == "POSAutoReadingCard") {
            c.setPOSAutoCardReader("1");
            return c.POSAutoReadingCard(pick({"0", "1", "2"}));
        }
        if (name == "POSAutoDisplayingPinPadRequest") {
            std::string text = "ENTER CODE " + amount(8, k);
            text.resize(80, ' ');
            return c.POSAutoDisplayingPinPadRequest(text, pick({"0", "1", "9"}), "4", "6", "10");
        }
        if (name == "POSAutoStatusRequest") return c.POSAutoStatusRequest();
        if (name == "POSAutoSoftwareStatus") return c.POSAutoSoftwareStatus();
        if (name == "POSAutoClearTransactionFile") return c.POSAutoClearTransactionFile();
        if (name == "POSAutoAbortOperation") return c.POSAutoAbortOperation(pick({"0", "1"}));
        if (name == "POSAutoSettingEFTConfiguration")
            return c.POSAutoSettingEFTConfiguration(pick({"0", "1", "2"}), pick({"0", "1", "2"}),
                                                    pick({"0", "1"}), pick({"0", "1"}));
        if (name == "POSAutoSettingEFTApplication")
            return c.POSAutoSettingEFTApplication("CB01", pick({"001", "002"}));
        return c.POSAutoBeep(pick({"1", "2", "3"}));
    }

    static std::string advanced(const std::string& sequence) {
        const int n = std::atoi(sequence.c_str());
        const std::string next = std::to_string(n >= 99 || n < 0 ? 1 : n + 1);
        return next.size() < 2 ? "0" + next : next;
    }

    // One exchange and its checks; true when it went wrong in a way the host can see.
    bool exchange(int k) {
        const auto& ops = detail::operations();
        const std::size_t which =
            std::uniform_real_distribution<double>(0, 1)(rng_) < cfg_.basicShare
                ? 0
                : 1 + static_cast<std::size_t>(rng_() % (ops.size() - 1));
        const detail::Operation& op = ops[which];
        Outcomes& out = result_.byOperation[op.name];
        current_ = k;

        SimLoop& loop = platform_.simLoop();
        loop.setEscape(false);
        platform_.comm()->clearWritten();
        wire_.clear();
        const std::string sequenceBefore = control_.POSAutoSequence();
        const SimLine::Counters damageBefore = platform_.line().counters(SimLine::B);
        const int64_t bound = worstCaseUs(op);
        watchdogUs_ = bound + 60'000'000;
        exchangeStartUs_ = loop.nowUs();

        const std::string reply = perform(op, k);

        const int64_t elapsed = loop.nowUs() - exchangeStartUs_;
        exchangeStartUs_ = -1;
        const std::string tag = control_.ReceiveError();
        const std::string request = detail::firstFrameText(platform_.comm()->written());
        const bool damagedTowardsControl =
            detail::damage(platform_.line().counters(SimLine::B)) > detail::damage(damageBefore);

        ++out.exchanges;
        out.maxUs = std::max(out.maxUs, elapsed);
        if (elapsed > bound) {
            ++result_.overBound;
            problem(describe(k, op, request, reply, tag) + ": took " +
                    std::to_string(elapsed / 1000) + " ms, more than its worst case of " +
                    std::to_string(bound / 1000) + " ms");
        }

        // What the terminal took during this exchange: the request as sent, carrying the
        // control's sequence number, or a copy the line damaged in a way the LRC cannot see.
        for (const Taken& t : ledger_) {
            if (t.exchange != k) continue;
            if (t.text == request) {
                if (op.fct && t.text.compare(0, 2, sequenceBefore) != 0)
                    ++result_.terminalSequenceOff;
                continue;
            }
            ++result_.damagedRequestsTaken;
            if (!detail::lrcBlindDamage(request, t.text))
                problem(describe(k, op, request, reply, tag) +
                        ": the terminal took a request the control never sent: '" +
                        detail::printable(t.text) + "'");
        }

        if (reply.empty()) {
            if (!tag.empty()) {
                ++out.failed;
                ++out.tags[tag];
            } else if (!op.fct && elapsed >= static_cast<int64_t>(cfg_.replyWaitMs) * 1000) {
                ++out.timedOut;  // the basic link reports a reply time-out without a tag
            } else {
                ++out.silent;
                problem(describe(k, op, request, reply, tag) + ": failed without a tag");
            }
        } else {
            if (!tag.empty())
                problem(describe(k, op, request, reply, tag) + ": a reply with an error tag");
            classifyReply(k, op, request, reply, tag, sequenceBefore, damagedTowardsControl, out);
        }

        if (op.fct) checkSequence(k, op, request, reply, tag, sequenceBefore);
        trackBuffers();
        if (cfg_.trace)
            cfg_.trace("== " + describe(k, op, request, reply, tag) + " in " +
                       std::to_string(elapsed / 1000) + " ms, sequence " + sequenceBefore + " -> " +
                       control_.POSAutoSequence());
        // A basic reply echoes the amount: the host sees a reply to another payment.  (A
        // payment left unanswered on purpose times out and settles the line too.)
        return reply.empty() || (!op.fct && control_.EFTposAmount() != control_.POSAmount());
    }

    void classifyReply(int k, const detail::Operation& op, const std::string& request,
                       const std::string& reply, const std::string& tag,
                       const std::string& sequenceBefore, bool damagedTowardsControl,
                       Outcomes& out) {
        if (request.empty()) {
            problem(describe(k, op, request, reply, tag) + ": a reply without a request sent");
            ++out.unexplained;
            return;
        }
        if (op.fct &&
            (reply.compare(0, 2, sequenceBefore) != 0 || reply.compare(2, 2, op.fct) != 0)) {
            problem(describe(k, op, request, reply, tag) +
                    ": accepted with another sequence number or function code");
            ++out.unexplained;
            return;
        }
        // Which request did the terminal frame this very text for?  The exchange's own
        // request counts first (the terminal may have taken it twice).
        const Taken* from = nullptr;
        for (auto it = ledger_.rbegin(); it != ledger_.rend(); ++it) {
            const bool framedIt =
                std::any_of(it->replies.begin(), it->replies.end(),
                            [&](const Reply& r) { return r.frames > 0 && r.text == reply; });
            if (!framedIt) continue;
            if (it->exchange == k && it->text == request) {
                ++out.correct;
                return;
            }
            if (!from) from = &*it;
        }
        if (from && from->exchange < k) {
            // An extended reply passes the checks only with the request's number: the earlier
            // request must have carried the same one (it is not advanced without a reply).
            if (op.fct && from->text.compare(0, 2, request, 0, 2) != 0)
                problem(describe(k, op, request, reply, tag) +
                        ": accepted the reply to a request with another sequence number");
            ++out.earlier;
            if (op.fct && result_.earlierExamples.size() < 5)
                result_.earlierExamples.push_back(
                    describe(k, op, request, reply, tag) + ": answers exchange " +
                    std::to_string(from->exchange) + " '" + detail::printable(from->text) + "'");
            return;
        }
        if (from) {
            ++out.toDamagedRequest;
            return;
        }
        // Not a text the terminal framed.  Damage the one-byte LRC cannot see: the control
        // really received the text with its correct check, the line damaged bytes towards the
        // control meanwhile, and the frame is a few bytes away from one the terminal sent
        // during this exchange.
        bool blind = false;
        for (const Taken& t : ledger_)
            for (const Reply& r : t.replies)
                if (r.lastFramedIn == k && detail::lrcBlindDamage(r.text, reply)) blind = true;
        if (blind && damagedTowardsControl &&
            detail::holdsCheckedFrame(wire_.bytes(WireLog::Dir::In), reply)) {
            ++out.undetectable;
            if (result_.undetectableExamples.size() < 5)
                result_.undetectableExamples.push_back(describe(k, op, request, reply, tag));
            return;
        }
        ++out.unexplained;
        problem(describe(k, op, request, reply, tag) + ": a reply the terminal never sent");
    }

    void checkSequence(int k, const detail::Operation& op, const std::string& request,
                       const std::string& reply, const std::string& tag,
                       const std::string& before) {
        if (!request.empty() && request.compare(0, 2, before) != 0) {
            ++result_.sequenceDrifts;
            problem(describe(k, op, request, reply, tag) + ": the request does not carry " +
                    before);
        }
        // The number moves on once a reply has arrived and been compared, matched or not.
        const bool compared = !reply.empty() || tag == "errorHandlerPOSAutoSequence" ||
                              tag == "errorHandlerPOSAutoFunction" ||
                              tag == "errorHandlerPOSAutoOperation";
        const std::string expected = compared ? advanced(before) : before;
        const std::string after = control_.POSAutoSequence();
        if (compared) ++result_.sequenceAdvances;
        if (after != expected) {
            ++result_.sequenceDrifts;
            problem(describe(k, op, request, reply, tag) + ": sequence " + before + " became " +
                    after + ", expected " + expected);
        }
    }

    void trackBuffers() {
        MemoryFigures& m = result_.memory;
        const LinkState& s = control_.linkState();
        m.captureBuffer = std::max(m.captureBuffer, s.CaptureBuffer.size());
        m.receiveMessage = std::max(m.receiveMessage, s.ReceiveMessage.size());
        m.waitingInput =
            std::max(m.waitingInput, static_cast<std::size_t>(control_.comm().inBufferCount()));
        m.ledgerRecords = std::max(m.ledgerRecords, ledger_.size());
        m.pendingReplies =
            std::max(m.pendingReplies, awaitingQueue_.size() + finalsDue_.size() + outbox_.size());
    }

    void sampleMemory(int done) {
        MemoryFigures& m = result_.memory;
        const int warmup = std::min(cfg_.warmup, cfg_.exchanges);
        if (done < warmup) return;
        const int span = std::max(1, (cfg_.exchanges - warmup) / std::max(1, cfg_.memorySamples));
        if (done != warmup && (done - warmup) % span != 0 && done != cfg_.exchanges) return;
        const int64_t heap = heapInUse();
        if (done == warmup) {
            m.heapAtWarmup = m.heapMin = m.heapMax = heap;
            m.rssAtWarmup = residentBytes();
        }
        m.heapMin = std::min(m.heapMin, heap);
        m.heapMax = std::max(m.heapMax, heap);
        m.heapAtEnd = heap;
        m.rssAtEnd = residentBytes();
        m.heapSamples.emplace_back(done, heap);
    }

    std::string describe(int k, const detail::Operation& op, const std::string& request,
                         const std::string& reply, const std::string& tag) const {
        return "exchange " + std::to_string(k) + " " + op.name + " request '" +
               detail::printable(request) + "' reply '" + detail::printable(reply) + "' tag '" +
               tag + "'";
    }

    void problem(const std::string& what) {
        ++result_.problemCount;
        if (result_.problems.size() < 20) result_.problems.push_back(what);
    }

    MixedSoakConfig cfg_;
    SimPlatform platform_;
    KorvelComTools control_;
    sim::SimLinePort port_;
    sim::Terminal terminal_;
    sim::ExtendedResponder extended_;
    WireLog wire_;
    Events events_;
    std::mt19937_64 rng_;
    std::mt19937_64 burstRng_{cfg_.seed ^ 0xB5ADull};

    std::deque<Taken> ledger_;
    int64_t nextTakenId_ = 0;
    std::deque<std::pair<int64_t, std::string>> awaitingQueue_;
    std::deque<int64_t> finalsDue_;
    std::deque<Queued> outbox_;
    int current_ = -1;
    int64_t exchangeStartUs_ = -1;
    int64_t watchdogUs_ = 0;
    MixedSoakResult result_;
};

/// Runs one soak with `config`.
inline MixedSoakResult runMixedSoak(const MixedSoakConfig& config) {
    MixedSoak soak(config);
    return soak.run();
}

/// A readable report of `r`: outcomes by operation and by kind, tags, faults, memory.
inline std::string report(const MixedSoakResult& r) {
    std::string out;
    char line[512];
    auto row = [&](const std::string& name, const Outcomes& o) {
        std::snprintf(line, sizeof line,
                      "  %-32s %7lld exch %7lld ok %5lld earlier %4lld dmg-req %4lld undetect "
                      "%3lld WRONG %6lld failed %5lld timeout %3lld SILENT  max %6.1f s\n",
                      name.c_str(), static_cast<long long>(o.exchanges),
                      static_cast<long long>(o.correct), static_cast<long long>(o.earlier),
                      static_cast<long long>(o.toDamagedRequest),
                      static_cast<long long>(o.undetectable), static_cast<long long>(o.unexplained),
                      static_cast<long long>(o.failed), static_cast<long long>(o.timedOut),
                      static_cast<long long>(o.silent), static_cast<double>(o.maxUs) / 1e6);
        out += line;
    };
    out += "outcomes by operation:\n";
    for (const auto& [name, o] : r.byOperation)
        row(name, o);
    row("basic (all)", r.basic);
    row("extended (all)", r.extended);
    Outcomes all = r.basic;
    all.add(r.extended);
    row("all", all);
    auto tags = [&](const char* title, const Outcomes& o) {
        out += title;
        for (const auto& [tag, n] : o.tags) {
            std::snprintf(line, sizeof line, "    %-44s %7lld (%.3f%%)\n", tag.c_str(),
                          static_cast<long long>(n),
                          100.0 * static_cast<double>(n) /
                              static_cast<double>(std::max<int64_t>(o.exchanges, 1)));
            out += line;
        }
    };
    std::snprintf(
        line, sizeof line, "left unanswered on purpose: %lld basic payments, %lld authorisations\n",
        static_cast<long long>(r.unansweredBasic), static_cast<long long>(r.unansweredAuth));
    out += line;
    tags("failure tags, basic:\n", r.basic);
    tags("failure tags, extended:\n", r.extended);
    std::snprintf(line, sizeof line,
                  "sequence: %lld advances, %lld drifts, %lld requests taken with another "
                  "number; %lld requests taken damaged\n",
                  static_cast<long long>(r.sequenceAdvances),
                  static_cast<long long>(r.sequenceDrifts),
                  static_cast<long long>(r.terminalSequenceOff),
                  static_cast<long long>(r.damagedRequestsTaken));
    out += line;
    std::snprintf(line, sizeof line,
                  "hangs: %lld over their worst case, watchdog fired %lld times; virtual time "
                  "%.1f h, of which %.1f h settling (%lld times)\n",
                  static_cast<long long>(r.overBound), static_cast<long long>(r.watchdogFired),
                  static_cast<double>(r.virtualUs) / 3.6e9, static_cast<double>(r.settleUs) / 3.6e9,
                  static_cast<long long>(r.settles));
    out += line;
    auto faults = [&](const char* dir, const SimLine::Counters& n, int64_t bursts,
                      int64_t burstBytes) {
        std::snprintf(line, sizeof line,
                      "faults %s: %lld bytes sent, %lld dropped, %lld corrupted, %lld "
                      "duplicated, %lld delayed, %lld noise bytes, %lld bursts (%lld bytes); "
                      "%.2f faults per 1000 bytes\n",
                      dir, static_cast<long long>(n.sent), static_cast<long long>(n.dropped),
                      static_cast<long long>(n.corrupted), static_cast<long long>(n.duplicated),
                      static_cast<long long>(n.delayed), static_cast<long long>(n.noise),
                      static_cast<long long>(bursts), static_cast<long long>(burstBytes),
                      1000.0 * static_cast<double>(detail::damage(n) + bursts) /
                          static_cast<double>(std::max<int64_t>(n.sent, 1)));
        out += line;
    };
    faults("to terminal", r.toTerminal, r.bursts[SimLine::A], r.burstBytes[SimLine::A]);
    faults("to control ", r.toControl, r.bursts[SimLine::B], r.burstBytes[SimLine::B]);
    const sim::TerminalStats& t = r.terminal;
    std::snprintf(line, sizeof line,
                  "terminal: %lld requests processed, %lld bad frames, %lld re-sends, %lld EOT "
                  "missing, %lld replies delivered, %lld given up, %lld collisions\n",
                  static_cast<long long>(t.messagesProcessed), static_cast<long long>(t.badFrames),
                  static_cast<long long>(t.duplicates), static_cast<long long>(t.eotMissing),
                  static_cast<long long>(t.messagesSent), static_cast<long long>(r.terminalGivenUp),
                  static_cast<long long>(t.collisions));
    out += line;
    std::snprintf(line, sizeof line, "events: %lld ReceivedEvent, ErrorEvent:",
                  static_cast<long long>(r.receivedEvents));
    out += line;
    for (const auto& [tag, n] : r.errorEvents)
        out += " " + tag + "=" + std::to_string(n);
    out += "\n";
    const MemoryFigures& m = r.memory;
    std::snprintf(line, sizeof line,
                  "memory: heap %lld bytes after warm-up, %lld at the end (%+lld), range %lld "
                  "to %lld; RSS %lld kB -> %lld kB\n"
                  "buffers (largest seen): CaptureBuffer %zu, ReceiveMessage %zu, waiting input "
                  "%zu, ledger %zu requests, pending replies %zu (%zu left at the end)\n",
                  static_cast<long long>(m.heapAtWarmup), static_cast<long long>(m.heapAtEnd),
                  static_cast<long long>(m.heapAtEnd - m.heapAtWarmup),
                  static_cast<long long>(m.heapMin), static_cast<long long>(m.heapMax),
                  static_cast<long long>(m.rssAtWarmup / 1024),
                  static_cast<long long>(m.rssAtEnd / 1024), m.captureBuffer, m.receiveMessage,
                  m.waitingInput, m.ledgerRecords, m.pendingReplies, r.backlogAtEnd);
    out += line;
    out += "heap samples (exchanges: bytes):";
    for (const auto& [done, heap] : m.heapSamples)
        out += " " + std::to_string(done) + ":" + std::to_string(heap);
    out += "\n";
    if (!r.earlierExamples.empty()) out += "extended replies to an earlier request:\n";
    for (const std::string& e : r.earlierExamples)
        out += "  " + e + "\n";
    if (!r.undetectableExamples.empty()) out += "damage the LRC could not see, for example:\n";
    for (const std::string& e : r.undetectableExamples)
        out += "  " + e + "\n";
    std::snprintf(line, sizeof line, "problems: %lld\n", static_cast<long long>(r.problemCount));
    out += line;
    for (const std::string& p : r.problems)
        out += "  " + p + "\n";
    return out;
}

}  // namespace korvel::soak
