// The control's extended members in virtual time: each operation's arguments and request on
// the wire with its reply wait, the authorisation's intermediate reply with its events and
// nested refusals, and the error convention of the field writes.
#include <gtest/gtest.h>

#include "extended/ExtendedRig.h"
#include "korvelcom/Automation.h"
#include "sim/ExtendedResponder.h"
#include "support/World.h"

namespace korvel::test {
namespace {

// The events recorded, with `onAbortEnabled` run inside AbortEnabledEvent as a host's handler.
struct Events : Recorder {
    std::function<void()> onAbortEnabled;
    void AbortEnabledEvent() override {
        Recorder::AbortEnabledEvent();
        if (onAbortEnabled) onAbortEnabled();
    }
};

// A newly placed control whose scripted terminal answers each request with the next text of a
// script, or the simulator's extended responder.
struct Host : World {
    std::deque<std::string> script;  ///< the reply to each request in turn; "" for none
    std::unique_ptr<sim::ExtendedResponder> responder;
    Events events;  ///< in place of the world's recorder

    Host() {
        c->InitNewInstance();
        c->setEventSink(&events);
        peer->onEot = [this] {
            const std::string text = script.empty() ? "" : script.front();
            if (!script.empty()) script.pop_front();
            if (!text.empty()) peer->replyAfter(100'000, Peer::frame(text));
        };
    }
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
    /// Writes "Name=value ..." (names without "POSAuto") through the properties by name.
    void setAll(const std::string& list) {
        for (const auto& [name, value] : pairs(list))
            setProperty(*c, "POSAuto" + name, Value(value));
    }
};

const std::string kNoReply = "errorHandlerPOSAutoMessage";
using Strings = std::vector<std::string>;

// A distinct value in every field that some request carries; the card reader on; the two
// function time-outs that give the seconds sent.
const std::string kFilled =
    "Sequence=42 Operation=4321 Amount=000000012345 Currency=978 Control=q Class=22 "
    "CardInfo=unsent ReadingType=2 InputType=9 MinLength=4 MaxLength=? InputOffset=12 "
    "TreatmentCard=1 Printer=1 Buzzer=0 RetroPinPad=7 ApplicationCode=AP01 EFTNumber=123 "
    "Data=0123456789ABCDEF NumBeep=3 TicketRequest=5 TrackISO1=1*107 TrackISO2=2*40 "
    "TrackISO3=3*79 Text=T*80 CardReader=1 TOfctReadingCard=30000 "
    "TOfctDisplayingPinPadRequest=5000";

// Each operation (arguments: "-" for "", "c*N" for N times c) against a silent terminal: the
// arguments' validating writes, the request as the fields lay it out, and the reply wait.
TEST(ExtendedEncoder, EachOperationLaysOutItsRequestAndWaitsItsFunctionTimeOut) {
    struct Row {
        std::string call, request;  ///< "": refused before sending
        int64_t waitMs;
        std::string setup = "", rejected = "";  ///< the tag of a rejected argument or of a refusal
    };
    const std::string tracks = expand("1*107") + expand("2*40") + expand("3*79");
    const std::vector<Row> rows = {
        {"Authorization 000000004200 250 4 21", msg("4201|4321|000000004200|250|4|21"), 150000},
        {"Authorization 12", msg("4201|4321|000000012345|978|q|22"), 150000, "",
         "errorPOSAutoAmountValue"},
        {"Recording 000000000500 840", msg("4203|4321|000000000500|840"), 40000},
        {"ReceiptMerchant", msg("4204|4321"), 5000},
        {"TicketRequested", msg("4223|AP01|5"), 2000},
        {"CardReaderOperation", msg("4221|1"), 2000},
        {"SettingExtReader a*107 b*40 c*79",
         "4210" + expand("a*107") + expand("b*40") + expand("c*79"), 30000, "CardReader=0"},
        {"Message 40", "4240" + tracks, 0, "CardReader=0"},
        {"Message 50", "4250" + tracks, 0, "CardReader=0"},
        {"Message 60", "4260" + tracks, 0, "CardReader=0"},
        {"ReadingCard 1", msg("4211|1|030"), 30000},
        {"ReadingCard 1", "", 0, "CardReader=0", "errorHandlerPOSAutoCardReaderType"},
        {"Message 41", msg("4241|2|030"), 0},
        {"Message 51", msg("4251|2|030"), 0},
        {"Message 61", msg("4261|2|030"), 0},
        {"DisplayingPinPadRequest t*80 1 5 6 10", "4212" + expand("t*80") + msg("1|5|6|005|10"),
         5000},
        {"StatusRequest", "4214", 40000},
        {"SoftwareStatus", "4215", 2000},
        {"ClearTransactionFile", msg("4216|AP01"), 1800000},
        {"ClearTransactionFile 5000", msg("4216|AP01"), 5000},
        {"AbortOperation", msg("4217|4321|0"), 30000},
        {"AbortOperation -", msg("4217|4321|1"), 30000, "", "errorPOSAutoTreatmentCard"},
        {"SettingEFTConfiguration 2 0 1 0", msg("4218|2010") + expand("~*4"), 2000},
        {"SettingEFTApplication AP02 456", msg("4219|AP02|456|0123456789ABCDEF"), 2000},
        {"Beep 7", msg("4220|7"), 10000},
        {"Message 22", "", 0, "", "errorHandlerPOSAutosend"}};
    // Waits count from the end of a wait of 0, a reply pause after the request's EOT.
    Host zero;
    zero->POSAutoMessage("40");
    const int64_t base = zero.sinceLastSentMs();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call + " with " + row.setup);
        Host w;
        w.setAll(kFilled + " " + row.setup);
        std::istringstream in(row.call);
        std::string name, arg;
        std::vector<Value> args;
        for (in >> name; in >> arg;)
            args.push_back(expand(arg));
        EXPECT_EQ(std::get<std::string>(invoke(*w, "POSAuto" + name, MemberKind::Method, args)),
                  "");
        EXPECT_EQ(w.request(), row.request);
        std::vector<std::string> errors;
        if (!row.rejected.empty()) errors.push_back(row.rejected);
        if (!row.request.empty()) {
            errors.push_back("errorHandlerPOSAutoMessage");
            EXPECT_EQ(w.sinceLastSentMs(), base + row.waitMs);
        }
        EXPECT_EQ(w.events.errors, errors);
        EXPECT_EQ(w->POSAutoSequence() + w->POSAutoStatus(), "4299") << "no advance, no status";
    }
}

// The simulator answers an authorisation first with its intermediate reply, then with the final
// one in a session of its own; the card reading before it announces the operation number.
TEST(ExtendedAuthorisation, AnIntermediateReplyRaisesAbortEnabledAndWaitsAgain) {
    struct Row {
        std::string name, tag, sequence, trace;
        int64_t secondWaitMs = -1;  ///< from AbortEnabledEvent to the end, when checked
    };
    const std::string once = "E a F a T e A f A t", twice = once + " e A f A t";
    const std::vector<Row> rows = {
        {"final reply", "", "03", twice},
        {"nested operations refused", "", "03", twice},
        {"aborted by the host after 500 ms", kNoReply, "02", once, 500},
        // The wait ends on the first tick past its deadline.
        {"no final reply", kNoReply, "02", once, 8001},
        {"second intermediate reply", "errorHandlerPOSAutoFunction", "03", twice},
        {"final reply out of sequence", "errorHandlerPOSAutoSequence", "03", twice}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Host w;
        sim::ExtendedOptions& options = w.simulateExtended();
        w->setPOSAutoCardReader("1");
        ASSERT_EQ(w->POSAutoReadingCard().substr(0, 10), msg("0111|00|0001"));
        options.noFinalReply = row.name == "no final reply";
        options.secondIntermediate = row.name == "second intermediate reply";
        options.wrongSequence = row.name == "final reply out of sequence";
        w->setPOSAutoTOfctAuthorization(8000);
        Strings errors;
        int64_t abortEnabledUs = -1;
        w.events.onAbortEnabled = [&] {
            abortEnabledUs = w.nowUs();
            if (row.name == "nested operations refused") {
                EXPECT_EQ(w->POSAutoBeep("5"), "");
                EXPECT_EQ(w->POSAutoMessage("14"), "");
                EXPECT_FALSE(w->POSAutoSend("14"));
                EXPECT_EQ(w->ReceiveError(), "") << "the running wait goes on";
                errors.assign(3, "errorPOSAutoExchangeBusy");
            }
            if (row.secondWaitMs == 500)
                w.p.simLoop().after(500'000, [&] { w->setAbortReceive(true); });
        };
        w.p.wire().clear();
        const std::string final = msg("0201|00|0001|00|CB01|000000004200|978");
        EXPECT_EQ(w->POSAutoAuthorization("000000004200", "978", "4", "", 3000).substr(0, 31),
                  row.tag.empty() ? final : "");
        EXPECT_EQ(w->ReceiveError(), row.tag);
        if (!row.tag.empty()) errors.push_back(row.tag);
        EXPECT_EQ(w.events.errors, errors);
        EXPECT_EQ(w.events.abortEnabled, 1);
        EXPECT_EQ(w.events.received, row.tag.empty() ? 2 : 1);
        EXPECT_EQ(w->POSAutoSequence(), row.sequence);
        EXPECT_EQ(w->POSAutoStatus(), row.tag.empty() ? "00" : "99") << "reset by each exchange";
        EXPECT_EQ(w.trace(), row.trace);
        if (row.secondWaitMs >= 0) {
            EXPECT_EQ(w.nowUs() / 1000 - abortEnabledUs / 1000, row.secondWaitMs);
        }
        EXPECT_FALSE(w->AbortReceive());
        EXPECT_EQ(w->POSAutoNumBeep(), "1");
    }
}

// A rejected write leaves its tag by the error convention; with ErrorEvent off, only the tag.
TEST(ExtendedControl, RejectedWritesFollowTheErrorConvention) {
    Host w;
    w->setPOSAutoControl("P");
    w->setErrorEnabled(false);
    w->setPOSAutoClass("11");
    EXPECT_EQ(w->ReceiveError() + "/" + w->POSAutoControl(), "errorPOSAutoClass/0");
    EXPECT_EQ(w.events.errors, Strings{"errorPOSAutoControl"});
}

}  // namespace
}  // namespace korvel::test
