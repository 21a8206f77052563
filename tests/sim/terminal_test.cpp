// The simulated terminal alone: a scripted control on end A of a virtual line writes bytes at
// chosen milliseconds; each case is the script, the terminal's answer with times, its commits.
#include <gtest/gtest.h>

#include <fnmatch.h>

#include <cstring>
#include <regex>
#include <string>

#include "platform/sim/SimLine.h"
#include "platform/sim/SimLoop.h"
#include "sim/ExtendedResponder.h"
#include "sim/Frames.h"
#include "sim/PaymentResponder.h"
#include "sim/Terminal.h"

namespace korvel::sim {
namespace {

struct Rig {
    SimLoop loop;
    SimLine line{loop, 1};
    SimLinePort port{loop, line.end(SimLine::B)};
    Terminal term;
    std::string acks, got, body;  ///< acks: 'E' ACK its ENQ after 20 ms, 'F' frames after 70
    std::vector<int64_t> times;

    explicit Rig(TerminalOptions o = {}, std::string a = "")
        : term(loop, port, std::move(o)), acks(std::move(a)) {
        line.end(SimLine::A).setReceiver([this](uint8_t b) { arrived(static_cast<char>(b)); });
        // "QUIET" gets no reply, anything else a reply that shows which responder ran.
        const auto quietOr = [](std::string prefix) -> Responder {
            return [prefix](const std::string& rq) {
                return rq == "QUIET" ? std::nullopt : std::optional(prefix + rq);
            };
        };
        term.setResponder(quietOr("R:"));
        term.setTestResponder(quietOr("OK"));
    }
    void ctl(const std::string& bytes) { line.end(SimLine::A).write(bytes); }
    /// The control's side, as its receive path does it: a frame ends one byte after its ETX.
    void arrived(char b) {
        got.push_back(b);
        times.push_back(loop.nowUs());
        char earns = b == ENQ && body.empty() ? 'E' : 0;  // what this byte earns an ACK for
        if (!body.empty()) {
            body.push_back(b);
            if (body[body.size() - 2] != ETX) return;
            earns = endsWithLrcCheck(body.substr(1)) ? 'F' : 0;
            body.clear();
        } else if (b == STX) {
            body = "-";  // bytes after STX follow
        }
        if (earns && acks.find(earns) != std::string::npos)
            loop.after(earns == 'E' ? 20'000 : 70'000, [this] { ctl(std::string(1, ACK)); });
    }

    /// Plays "ms:items ...": E A T control bytes, F(t) frame, B(t) frame with a wrong LRC,
    /// C(t) test frame, D(t) test frame with a wrong CRC, R(t) raw bytes, S(t) the terminal
    /// queues t of its own.
    void play(const std::string& script) {
        static const std::regex item("([EATFBCDRS])(?:\\(([^)]*)\\))?");
        std::istringstream in(script);
        for (std::string tok; in >> tok;) {
            const int64_t at = std::stoll(tok) * 1000;
            for (std::sregex_iterator m(tok.begin() + tok.find(':'), tok.end(), item), end;
                 m != end; ++m) {
                const char k = m->str(1)[0];
                const std::string arg = m->str(2);
                std::string bytes = k == 'R'               ? arg
                                    : k == 'C' || k == 'D' ? testFrame(arg)
                                                           : lrcFrame(arg);
                if (const char* c = std::strchr("E\5A\6T\4", k)) bytes = c[1];  // octal
                if (k == 'B' || k == 'D') bytes[bytes.size() - (k == 'D' ? 2 : 1)] ^= 0x01;
                loop.at(at, [this, k, arg, bytes] { k == 'S' ? term.send(arg) : ctl(bytes); });
            }
        }
    }

    /// The terminal's bytes as they reached the control: "ms:token", e ENQ, a ACK, t EOT, f(text)
    /// a frame with a good LRC, c(text) one with a good CRC, f(text)! neither, others in hex.
    std::string trace() const {
        std::string out;
        for (std::size_t i = 0; i < got.size(); ++i) {
            std::string tok = std::to_string(times[i] / 1000) + ":";
            const std::size_t etx = got.find(ETX, i);
            if (got[i] == STX && etx != std::string::npos) {
                const std::string text = got.substr(i + 1, etx - i - 1);
                const bool crc = endsWithCrcCheck(got.substr(i + 1, etx - i + 2));
                const bool lrc = endsWithLrcCheck(got.substr(i + 1, etx - i + 1));
                tok += (crc ? "c(" : "f(") + text + ")" + (crc || lrc ? "" : "!");
                i = std::min(etx + (crc ? 2 : 1), got.size() - 1);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "x%02X", static_cast<unsigned char>(got[i]));
                tok += got[i] >= EOT && got[i] <= ACK ? std::string(1, "tea"[got[i] - EOT]) : hex;
            }
            out += (out.empty() ? "" : " ") + tok;
        }
        return out;
    }
    std::string received() const {
        std::string out;
        for (const std::string& m : term.received())
            out += (out.empty() ? "" : "|") + m;
        const TerminalStats& n = term.stats();  // re-sends acknowledged, ENQs all left unanswered
        return out + (n.duplicates > 0 ? " re-sent" : "") +
               (n.enqIgnored > 0 && n.enqIgnored == n.enqReceived ? " ignored" : "");
    }
};

struct Case {
    const char* name;
    const char* behaviours;  ///< a behaviour's name, or none
    const char* acks;        ///< what the control acknowledges of the terminal's sessions
    const char* script;
    int64_t runMs;
    const char *answer, *received = "";  ///< the terminal's bytes; what it committed
};

const Case kCases[] = {
    {"clean exchange", "", "EF", "0:E 42:F(AB) 88:T", 400, "22:a 68:a 190:e 232:f(R:AB) 330:t",
     "AB"},
    {"junk before STX, ETX in text", "", "", "0:E 42:R(\xFF?)F(A\x03Z) 100:T", 205,
     "22:a 71:a 202:e", "A\x03Z"},
    {"no EOT: commit after the wait", "", "", "0:E 42:F(AB)", 800, "22:a 68:a 768:e", "AB"},
    {"ENQ or STX instead of EOT", "", "", "0:E 42:F(AB) 100:E 142:F(CD) 200:F(EF) 260:T", 400,
     "22:a 68:a 122:a 168:a 226:a 362:e", "AB|CD|EF"},
    {"wrong LRC, then bare re-send", "", "", "0:E 42:B(AB) 642:T 1862:F(AB) 1900:T", 2100,
     "22:a 1888:a 2002:e", "AB"},
    {"re-send after a lost ACK", "", "", "0:E 42:F(AB) 642:T 1862:F(AB) 1910:T", 3000,
     "22:a 68:a 744:e 1344:t 1888:a 2544:e", "AB re-sent"},
    {"same text after a new ENQ", "", "", "0:E 42:F(AB) 88:T 1000:E 1042:F(AB) 1088:T", 1150,
     "22:a 68:a 190:e 790:t 1022:a 1068:a", "AB|AB"},
    {"repeated ENQ", "", "", "0:E 600:T 1800:E", 1900, "22:a 1822:a"},
    {"session without frame", "", "", "0:E 5:S(HI)", 800, "22:a 722:e", ""},
    {"frame cut by silence", "", "", "0:E 5:S(HI) 42:R(\x02QRS)", 300, "22:a 197:e"},
    {"no reply to send", "", "", "0:E 42:F(QUIET) 100:T", 1000, "22:a 71:a", "QUIET"},
    {"test frames, one bad", "", "", "0:C(PING) 100:D(PING) 300:C(QUIET) 500:C()", 800,
     "29:c(OKPING) 525:c(OK)"},
    {"queued messages", "", "EF", "0:S(ONE)S(TWO)", 600,
     "1:e 43:f(ONE) 140:t 240:e 282:f(TWO) 379:t"},
    {"no ACK to ENQ", "", "", "0:S(HI)S(NEXT)", 5600,
     "1:e 601:t 1801:e 2401:t 3601:e 4201:t 5501:e"},
    {"no ACK to frames", "", "E", "0:S(HELLO)S(NEXT)", 20150,
     "1:e 43:f(HELLO) 643:t 1863:f(HELLO) 2463:t 3683:f(HELLO) 4283:t 6683:e 6725:f(HELLO) "
     "7325:t 8545:f(HELLO) 9145:t 10365:f(HELLO) 10965:t 13365:e 13407:f(HELLO) 14007:t "
     "15227:f(HELLO) 15827:t 17047:f(HELLO) 17647:t 20147:e",
     ""},
    {"first byte of answer counts", "", "", "0:S(HI) 21:R(?\x06)", 2000, "1:e 601:t 1801:e"},
    {"control ENQ wins the line", "", "EF", "0:S(MINE)E 42:F(YOURS) 96:T", 600,
     "1:e 22:a 71:a 198:e 240:f(MINE) 338:t 438:e 480:f(R:YOURS) 582:t", "YOURS"},
    {"control session in a pause", "", "", "0:S(MINE) 700:E 742:F(X) 790:T", 1900,
     "1:e 601:t 722:a 767:a 1801:e", "X"},
    {"silent", "silent", "EF", "0:E 42:F(AB) 88:T 1000:C(PING) 1500:S(HI)", 1700,
     "1501:e 1543:f(HI) 1639:t", " ignored"},
    {"no-frame-ack", "no-frame-ack", "", "0:E 42:F(AB) 642:T 1862:F(AB)", 3000, "22:a"},
    {"bad-check", "bad-check", "EF", "0:C(PING) 100:S(HI)", 800,
     "29:f(OKPING)! 38:xC9 110:e 152:f(HI)! 752:t"},
    {"noise", "noise", "EF", "0:C(T) 100:S(HI)", 400,
     "26:x18 27:xFF 28:x7F 29:c(OKT) 107:e 149:x18 150:xFF 151:x7F 152:f(HI) 248:t"},
    {"slow", "slow", "", "0:E 42:F(AB) 88:T 200:C(P)", 3300, "22:a 68:a 3190:e 3226:c(OKP)", "AB"},
    {"split", "split", "EF", "0:S(ABCDEFGHI)", 400, "1:e 43:f(ABCDEFGHI) 198:t"},
    {"unsolicited while idle", "unsolicited", "", "", 16000,
     "5001:e 5601:t 6801:e 7401:t 8601:e 9201:t 15001:e 15601:t"},
    {"echo", "echo", "EF", "0:E 42:F(AB) 88:T", 400, "22:a 68:a 190:e 232:f(AB) 328:t", "AB"},
};

TEST(Terminal, AnswersEachScriptAsDocumented) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TerminalOptions o;
        EXPECT_TRUE(!*c.behaviours || applyBehaviour(o.behaviours, c.behaviours));
        EXPECT_EQ(describeBehaviours(o.behaviours), *c.behaviours ? c.behaviours : "normal");
        EXPECT_FALSE(applyBehaviour(o.behaviours, "grumpy"));
        Rig r(o, c.acks);
        r.play(c.script);
        r.loop.runFor(c.runMs * 1000);
        EXPECT_EQ(r.trace(), c.answer);
        EXPECT_EQ(r.received(), c.received);
    }
}

// Payment replies (26-character requests: register 07, amount, indicator, mode, type 0, 978)
// and extended ones, with the extended faults; '*' skips what the row does not check.
TEST(Terminal, Responders) {
    const struct {
        const char* request;
        const char* want = "";  ///< "" matches no reply
        bool ExtendedOptions::*fault = nullptr;
    } rows[] = {
        {"0700001500110978          ", "070000015001497010******0154 AUTH256992 *978          "},
        {"07000015001C0978          ", "07000001500C497010******0154 AUTH256992 *978          "},
        {"0700001500120978          ", "07000001500149701*"},
        {"0700002599110978          ", "07100002599*REFUSED BY ISSUER *978 *"},
        {"0700002598110978          ", "07200002598*CARD UNREADABLE *978 *"},
        {"07000025A8110978          ", "079000025A81REQUEST MALFORMED *978 *"},
        {"07", "079        1REQUEST MALFORMED *"},
        {"0700001500010978          "},
        {"0700000404110978          "},
        {"0715", "071500AA0010AB0111*AE3040AF3141"},
        {"0704", "070400        MERCHANT COPY *THANK YOU                               "},
        {"9914", "0114*", &ExtendedOptions::wrongSequence},
        {"0714", "0715*", &ExtendedOptions::wrongFunction},
        {"0715", "0714*", &ExtendedOptions::wrongFunction},
        {"0703", "0703005000*", &ExtendedOptions::operationMismatch},
        {"0714", "071400100", &ExtendedOptions::operationMismatch},
    };
    Rig r;
    ExtendedResponder ext(r.loop, r.term);
    for (const auto& row : rows) {
        if (row.fault) ext.options().*row.fault = true;
        const std::string rq = row.request;
        const std::string reply = (rq.size() == 4 ? ext(rq) : paymentReply(rq)).value_or("");
        if (row.fault) ext.options().*row.fault = false;
        EXPECT_EQ(fnmatch(row.want, reply.c_str(), 0), 0) << rq << " -> " << reply;
    }
}

}  // namespace
}  // namespace korvel::sim
