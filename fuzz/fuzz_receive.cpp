// The receive path: bytes arriving on the line while a control waits.  A control on the
// simulated platform sends a request (a basic payment, a bare message, an extended operation
// of any function code, or a message after which the host just idles with the link armed); a
// scripted terminal acknowledges the send, and from the control's EOT on puts the input's
// chunks on the line (after delays, some only once the control has sent its next ACK, some
// wrapped in a correct frame).  Every run checks:
// - a message the control accepts is the text of a well-formed frame with a matching LRC that
//   arrived on the line, and what the exchange returns is that message;
// - the reply fields (basic and extended) are the accepted reply cut at their positions;
// - every error tag stored or raised is one this exchange can produce, and the events match;
// - after a send the control writes nothing but ACKs (no NAK, no EOT), and is armed again at
//   the end;
// - the call ends by its deadline in virtual time: at most the waits' own durations plus the
//   time to finish a reception already under way (a hang trips a fixed bound as well).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Script.h"
#include "extended/Decoder.h"
#include "korvelcom/KorvelComTools.h"
#include "korvelcom/PropertyBags.h"
#include "link/Frame.h"
#include "platform/sim/SimPlatform.h"
#include "util/FixedWidth.h"

using korvel::fuzz::check;
using korvel::fuzz::Chunk;
namespace lnk = korvel::link;
namespace rx = korvel::fuzz::receive;

namespace {

// Wire time of one character, both directions: a line ten times faster than the fastest
// setting, so that the requests and the chunks cost little virtual time.
constexpr int64_t kCharUs = 4;
constexpr int64_t kBoundUs = 30'000'000;  // far beyond anything this input can cause
constexpr std::size_t kMaxChunks = 24;

struct Events : korvel::KorvelComToolsEvents {
    std::vector<std::string> errors;
    std::vector<std::string> received;  // `ReceiveMessage` at each ReceivedEvent
    int abortEnabled = 0;
    korvel::KorvelComTools* control = nullptr;
    void ErrorEvent(std::string& errType) override { errors.push_back(errType); }
    void ReceivedEvent() override { received.push_back(control->ReceiveMessage()); }
    void AbortEnabledEvent() override { ++abortEnabled; }
};

// The terminal: acknowledges the control's send (every ENQ, every frame), then from the
// control's EOT on plays the chunks.
class Terminal {
  public:
    Terminal(korvel::SimPlatform& p, std::vector<Chunk> chunks)
        : p_(p), chunks_(std::move(chunks)) {
        p_.terminal().setReceiver([this](uint8_t b) { onByte(static_cast<char>(b)); });
    }
    ~Terminal() { p_.terminal().setReceiver(nullptr); }

    bool playing() const { return playing_; }
    int64_t eotUs() const { return eotUs_; }
    /// Bytes the control sent after its EOT.
    const std::string& afterSend() const { return afterSend_; }

  private:
    void write(const std::string& bytes) { p_.terminal().write(bytes); }

    void onByte(char b) {
        if (playing_) {
            afterSend_ += b;
            if (b == lnk::ACK && waitingForAck_) {
                waitingForAck_ = false;
                schedule();
            }
            return;
        }
        // A frame ends one byte after its ETX, whatever that check byte is (EOT and ENQ
        // included); outside a frame ENQ is acknowledged and EOT ends the send.
        if (!frame_.empty()) {
            frame_ += b;
            if (frame_.size() >= 3 && frame_[frame_.size() - 2] == lnk::ETX) {
                frame_.clear();
                frameAcked_ = true;
                write(std::string(1, lnk::ACK));
            }
        } else if (b == lnk::STX) {
            frame_ = std::string(1, b);
        } else if (b == lnk::ENQ) {
            write(std::string(1, lnk::ACK));
        } else if (b == lnk::EOT && frameAcked_) {  // the send's end, not a failed wait's
            playing_ = true;
            eotUs_ = p_.simLoop().nowUs();
            next();
        }
    }

    // Starts the next chunk: at once, or on the control's next ACK.
    void next() {
        if (next_ >= chunks_.size()) return;
        if (chunks_[next_].afterAck())
            waitingForAck_ = true;
        else
            schedule();
    }
    void schedule() {
        const Chunk& k = chunks_[next_++];
        const std::string bytes = k.framed() ? *lnk::buildFrame(k.bytes) : k.bytes;
        p_.simLoop().after(k.delayMs * 1000, [this, bytes] {
            write(bytes);
            next();
        });
    }

    korvel::SimPlatform& p_;
    std::vector<Chunk> chunks_;
    std::size_t next_ = 0;
    bool playing_ = false;
    bool waitingForAck_ = false;
    bool frameAcked_ = false;
    int64_t eotUs_ = -1;
    std::string frame_;
    std::string afterSend_;
};

// Whether `message` went over the line as a whole frame with its correct LRC.
bool framedOnLine(const std::string& message, const std::string& line) {
    const auto frame = lnk::buildFrame(message);
    return !message.empty() && frame && line.find(*frame) != std::string::npos;
}

std::string expectedPosField(const std::string& reply, std::size_t first, std::size_t width) {
    return korvel::util::cutField(reply, first - 1, width);
}

// The extended fields the control shows must be the reply cut by its layout.
void checkExtendedFields(korvel::KorvelComTools& c, const std::string& code,
                         const std::string& reply, const std::string& control) {
    const korvel::ext::ReplyLayout* layout = korvel::ext::replyLayoutFor(code);
    check(layout != nullptr, "a decoded reply has a layout");
    using Into = korvel::ext::ReplyField::Into;
    using R = korvel::ext::Result;
    using F = korvel::ext::Field;
    for (const auto& piece : korvel::ext::extractReply(*layout, reply, 4, control)) {
        const std::size_t w = piece.target.which;
        std::string shown;
        switch (piece.target.into) {
            case Into::Code:
                shown = c.POSAutoCode(static_cast<int16_t>(w));
                break;
            case Into::Version:
                shown = c.POSAutoVersion(static_cast<int16_t>(w));
                break;
            case Into::Result:
                switch (static_cast<R>(w)) {
                    case R::Status:
                        shown = c.POSAutoStatus();
                        break;
                    case R::StatusCard:
                        shown = c.POSAutoStatusCard();
                        break;
                    case R::Application:
                        shown = c.POSAutoApplication();
                        break;
                    case R::Receipt:
                        shown = c.POSAutoReceipt();
                        break;
                    case R::Private:
                        shown = c.POSAutoPrivate();
                        break;
                    case R::NbCharacter:
                        shown = c.POSAutoNbCharacter();
                        break;
                    case R::String:
                        shown = c.POSAutoString();
                        break;
                    case R::StatusEFT:
                        shown = c.POSAutoStatusEFT();
                        break;
                }
                break;
            case Into::Request:
                switch (static_cast<F>(w)) {
                    case F::Operation:
                        shown = c.POSAutoOperation();
                        break;
                    case F::Amount:
                        shown = c.POSAutoAmount();
                        break;
                    case F::Currency:
                        shown = c.POSAutoCurrency();
                        break;
                    case F::CardInfo:
                        shown = c.POSAutoCardInfo();
                        break;
                    case F::TrackISO1:
                        shown = c.POSAutoTrackISO1();
                        break;
                    case F::TrackISO2:
                        shown = c.POSAutoTrackISO2();
                        break;
                    case F::TrackISO3:
                        shown = c.POSAutoTrackISO3();
                        break;
                    default:
                        korvel::fuzz::fail("a reply field the check does not know");
                }
                break;
        }
        check(shown == piece.text, "an extended field is the reply cut at its positions");
    }
    if (code == "14") check(c.POSAutoStatus() == "99", "a status reply leaves POSAutoStatus");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvel::fuzz::Input in(data, size);
    const uint8_t scenario = in.byte() % rx::kScenarioCount;
    const rx::Operation& op = rx::kOperations[in.byte() % rx::kOperationCount];
    const uint8_t flags = in.byte();
    const uint8_t timing = in.byte();
    // Link times in milliseconds, short so that one input costs little virtual time.  The
    // character wait is at least the wire time of the longest request (about 1 ms), so that
    // the terminal's ACK to it comes in time.
    const int32_t waitChar = 2 + (timing & 0x0F);
    const int32_t between = 1 + (timing >> 4) / 2;
    const int32_t pause = in.byte() & 0x03;
    const int32_t wait = 5 + (in.byte() & 0x3F);
    const bool receiveEnabled = flags & rx::kReceiveEnabled;
    const bool errorEnabled = flags & rx::kErrorEnabled;
    const std::string control = flags & rx::kCardInfo ? "5" : "0";

    korvel::SimPlatform p;
    korvel::SimLoop& loop = p.simLoop();
    p.terminal().setCharTimeUs(kCharUs);
    Terminal terminal(p, korvel::fuzz::readChunks(in, kMaxChunks));
    korvel::KorvelComTools c(p);
    Events events;
    events.control = &c;
    c.setEventSink(&events);
    if (flags & rx::kOperationZero) {
        // A card reading announced operation "0000" before (kept with the saved properties).
        korvel::MemoryPropertyBag bag;
        bag.put("POSAutoOperation", std::string("0000"));
        bag.put("POSAutoOperation", std::string("0000"));
        c.ReadProperties(bag);
    }
    c.setCommSettings("256000,n,8,1");
    check(c.CommOpen(), "the port opens");  // stays open: the sends do not reopen it
    p.line().end(korvel::SimLine::A).setCharTimeUs(kCharUs);
    c.setTOwaitChar(waitChar);
    c.setTOBetweenChar(between);
    c.setTOwaitReply(pause);
    c.setReceiveEnabled(receiveEnabled);
    c.setErrorEnabled(errorEnabled);
    c.setPOSTimeout(wait);
    c.setPOSAutoTOfctAuthorization(wait);
    c.setPOSAutoCardReader(op.cardReader);
    c.setPOSAutoControl(control);
    check(c.ReceiveError().empty(), "the set-up is accepted");
    loop.setYieldHook([&] { check(loop.nowUs() < kBoundUs, "virtual time stays bounded"); });

    const std::string sequence = c.POSAutoSequence();
    std::string result;
    std::set<std::string> allowed = {"errorHandlerRecPacket", "errorHandlerReceivePacket"};
    int waits = 1;
    switch (scenario) {
        case rx::kPosMessage:
            result = c.POSMessage();
            break;
        case rx::kMessage:
            result = c.Message("REQUEST", wait);
            break;
        case rx::kExtended:
            allowed.insert({"errorHandlerPOSAutoMessage", "errorHandlerPOSAutoSequence",
                            "errorHandlerPOSAutoFunction", "errorHandlerPOSAutoOperation"});
            if (std::string(op.code) == "01") waits = 2;
            result = c.POSAutoMessage(op.code, wait);
            break;
        case rx::kIdle: {
            check(c.SendMessage("REQUEST"), "the send succeeds");
            // Idle until the script has run out and any reception has ended.
            const int64_t settleUs = 2 * (waitChar + between + pause + 3) * 1000;
            int64_t quietSince = loop.nowUs();
            std::size_t seen = p.wire().entries().size();
            loop.runUntil(
                [&] {
                    if (p.wire().entries().size() != seen) {
                        seen = p.wire().entries().size();
                        quietSince = loop.nowUs();
                    }
                    return loop.nowUs() - quietSince > settleUs + 64'000;
                },
                kBoundUs);
            break;
        }
    }
    loop.setYieldHook(nullptr);
    // KORVEL_FUZZ_TRACE=1 prints the wire log of a run (replaying one input).
    if (std::getenv("KORVEL_FUZZ_TRACE"))
        std::fprintf(stderr, "result \"%s\" tag \"%s\"\n%s", result.c_str(),
                     c.ReceiveError().c_str(), p.wire().format(500).c_str());
    check(terminal.playing(), "the send went through");

    // What arrived on the line, and when the last byte came.
    std::string line;
    int64_t lastArrivalUs = terminal.eotUs();
    for (const auto& e : p.wire().entries()) {
        if (e.dir != korvel::WireLog::Dir::In) continue;
        line += static_cast<char>(e.byte);
        lastArrivalUs = std::max(lastArrivalUs, e.timeUs);
    }

    // After the send the control only acknowledges.
    for (char b : terminal.afterSend())
        check(b == lnk::ACK, "the control answers with ACK only");
    check(c.linkState().ReceiveArmed, "the link is armed again");

    // Tags and events.
    for (const std::string& e : events.errors)
        check(allowed.count(e) == 1, "an error event of this exchange");
    check(c.ReceiveError().empty() || allowed.count(c.ReceiveError()) == 1,
          "a stored tag of this exchange");
    if (!errorEnabled) check(events.errors.empty(), "no error event while disabled");
    if (!receiveEnabled) check(events.received.empty(), "no received event while disabled");
    for (const std::string& m : events.received)
        check(framedOnLine(m, line), "an announced message came as a frame");
    check(events.abortEnabled <= (scenario == rx::kExtended && waits == 2 ? 1 : 0),
          "the intermediate reply is announced once, for an authorisation only");

    // The deadline: each wait ends at its first poll past its end, or once the reception
    // running at that moment has ended (two waits for replies, two gatherings, three pauses).
    if (scenario != rx::kIdle) {
        const int64_t receptionUs =
            (2 * (waitChar + 1) + 3 * (pause + 1) + 2 * (between + 1) + 2) * 1000;
        int64_t endUs = terminal.eotUs() + (pause + 1) * 1000;
        for (int i = 0; i < waits; ++i)
            endUs = std::max(endUs + (wait + 1) * 1000, lastArrivalUs) + receptionUs;
        check(loop.nowUs() <= endUs, "the wait ends by its deadline");
    }

    // The accepted reply.
    if (!result.empty()) {
        check(result == c.ReceiveMessage(), "the result is the stored message");
        check(framedOnLine(result, line), "the result came as a frame with a matching LRC");
        check(c.linkState().MessageReady, "a result is a message ready");
    }
    switch (scenario) {
        case rx::kPosMessage: {
            static const std::size_t slots[][2] = {{1, 2},  {3, 1},   {4, 8},
                                                   {12, 1}, {13, 55}, {68, 3}};
            const std::string shown[] = {c.EFTposNumber(), c.EFTposStat(), c.EFTposAmount(),
                                         c.EFTposMode(),   c.EFTposRep(),  c.EFTposDev()};
            for (std::size_t i = 0; i < 6; ++i)
                check(shown[i] == expectedPosField(result, slots[i][0], slots[i][1]),
                      "a payment reply field");
            check(events.received.size() == (!result.empty() && receiveEnabled ? 1u : 0u),
                  "one received event for a payment reply");
            break;
        }
        case rx::kMessage:
            check(events.received.size() == (!result.empty() && receiveEnabled ? 1u : 0u),
                  "one received event for a message");
            break;
        case rx::kExtended: {
            const std::string code = op.code;
            const std::string after = c.POSAutoSequence();
            check(after == sequence || after == "02", "the sequence advances at most once");
            if (!result.empty()) {
                check(c.ReceiveError().empty(), "an accepted reply leaves no tag");
                check(result.compare(0, 2, sequence) == 0, "the reply echoes the sequence");
                check(result.compare(2, 2, code) == 0, "the reply carries the function code");
                check(after == "02", "an accepted reply advances the sequence");
                checkExtendedFields(c, code, result, control);
                check(events.received.size() == (receiveEnabled ? 1u : 0u),
                      "one received event for an extended reply");
            } else {
                check(!c.ReceiveError().empty(), "a failed exchange leaves its tag");
                check(events.received.empty(), "no received event for a failed exchange");
                if (c.ReceiveError() == "errorHandlerPOSAutoOperation")
                    checkExtendedFields(c, code, c.ReceiveMessage(), control);
            }
            if (!korvel::ext::replyLayoutFor(code)) check(result.empty(), "no layout, no reply");
            break;
        }
        case rx::kIdle:
            if (receiveEnabled && c.linkState().MessageReady)
                check(!events.received.empty() && events.received.back() == c.ReceiveMessage(),
                      "a stored message is announced");
            break;
    }
    return 0;
}
