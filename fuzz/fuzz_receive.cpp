// The receive path: bytes arriving while a control waits.  The control sends a request (a basic
// payment, a bare message, an extended operation, or a message after which the host idles with
// the link armed); the terminal acknowledges it, and from the control's EOT on plays the script.
// Checked: what is accepted or announced came whole as a frame with its LRC, the reply fields
// are that reply cut at their positions, only this exchange's tags appear and events only
// while enabled, after its send the control writes ACKs only and ends armed, and each call ends
// by its deadline in virtual time.
#include <set>

#include "Driver.h"
#include "World.h"
#include "extended/Decoder.h"
#include "korvelcom/Automation.h"
#include "korvelcom/PropertyBags.h"
#include "sim/Frames.h"

using namespace korvel;
using fuzz::check;
using S = std::string;

namespace {

bool framedOn(const S& message, const S& line) {
    const auto frame = link::buildFrame(message);
    return !message.empty() && frame && line.find(*frame) != S::npos;
}

// The extended fields the control shows are the reply cut by its layout.
void checkExtended(KorvelComTools& c, const S& code, const S& reply) {
    static const char* const results[] = {
        "POSAutoStatus",  "POSAutoStatusCard",  "POSAutoApplication", "POSAutoReceipt",
        "POSAutoPrivate", "POSAutoNbCharacter", "POSAutoString",      "POSAutoStatusEFT"};
    using Into = ext::ReplyField::Into;
    for (const auto& [to, text] :
         ext::extractReply(*ext::replyLayoutFor(code), reply, 4, c.POSAutoControl())) {
        const auto i = static_cast<int16_t>(to.which);
        const bool software = to.into == Into::Code || to.into == Into::Version;
        const char* name = software                  ? ""
                           : to.into == Into::Result ? results[i]
                                                     : ext::info(ext::Field(i)).name;
        check(text == (to.into == Into::Code      ? c.POSAutoCode(i)
                       : to.into == Into::Version ? c.POSAutoVersion(i)
                                                  : std::get<S>(getProperty(c, name))),
              "an extended field is the reply cut at its positions");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    auto in = fuzz::input(data, size);
    const int scenario = in.byte() % 4;
    const S code = fuzz::kOperations[in.byte() % std::size(fuzz::kOperations)];
    const uint8_t flags = in.byte(), timing = in.byte();
    // Short link times (ms); the character wait covers the longest request's wire time.
    const int32_t waitChar = 2 + (timing & 0x0F), between = 1 + (timing >> 5);
    const int32_t pause = in.byte() & 0x03, wait = 5 + (in.byte() & 0x3F);
    const bool receiveOn = flags & fuzz::kReceiveOn, errorOn = flags & fuzz::kErrorOn;

    test::World w;
    SimLoop& loop = w.p.simLoop();
    fuzz::Player player(w.p, fuzz::readChunks(in), sim::lrcFrame);
    std::size_t sendEnd = 0;  // the script starts at the control's EOT after its frame
    int64_t eotUs = 0;
    w.peer->onEot = [&] {
        const S& r = w.peer->received;
        if (sendEnd || r.size() < 3 || r[r.size() - 3] != link::ETX) return;
        sendEnd = r.size(), eotUs = loop.nowUs(), w.peer->ackEnq = w.peer->ackFrames = false;
        player.start();
    };
    w.peer->onAck = [&] { player.ack(); };
    std::vector<S> announced;
    w.events.onReceived = [&] { announced.push_back(w->ReceiveMessage()); };
    if (flags & fuzz::kOperationZero) {  // a card reading announced operation "0000" before
        MemoryPropertyBag bag;
        bag.put("POSAutoOperation", S("0000"));
        bag.put("POSAutoOperation", S("0000"));
        w->ReadProperties(bag);
    }
    w->setCommSettings("256000,n,8,1");
    w->setTOwaitChar(waitChar);
    w->setTOBetweenChar(between);
    w->setTOwaitReply(pause);
    w->setReceiveEnabled(receiveOn);
    w->setErrorEnabled(errorOn);
    w->setPOSTimeout(wait);
    w->setPOSAutoTOfctAuthorization(wait);
    w->setPOSAutoCardReader(fuzz::cardReaderFor(code));
    w->setPOSAutoControl(flags & fuzz::kCardInfo ? "5" : "0");
    check(w->CommOpen() && w->ReceiveError().empty(), "the set-up is accepted");
    for (auto end : {SimLine::A, SimLine::B})
        w.p.line().end(end).setCharTimeUs(4);  // a fast line
    loop.setYieldHook([&] { check(loop.nowUs() < 30'000'000, "virtual time stays bounded"); });

    const S sequence = w->POSAutoSequence();
    std::set<S> allowed = {"errorHandlerRecPacket", "errorHandlerReceivePacket"};
    const int waits = scenario == fuzz::kExtended && code == "01" ? 2 : 1;
    S result;
    if (scenario == fuzz::kPosMessage) result = w->POSMessage();
    if (scenario == fuzz::kMessage) result = w->Message("REQUEST", wait);
    if (scenario == fuzz::kExtended) {
        allowed.insert({"errorHandlerPOSAutoMessage", "errorHandlerPOSAutoSequence",
                        "errorHandlerPOSAutoFunction", "errorHandlerPOSAutoOperation"});
        result = w->POSAutoMessage(code, wait);
    }
    std::size_t seen = 0;  // idling ends once the line is quiet longer than a reception lasts
    int64_t quietSince = 0;
    if (scenario == fuzz::kIdle && w->SendMessage("REQUEST"))
        loop.runUntil(
            [&] {
                if (w.p.wire().entries().size() != seen)
                    seen = w.p.wire().entries().size(), quietSince = loop.nowUs();
                return loop.nowUs() - quietSince > 2000 * (waitChar + between + pause + 35);
            },
            30'000'000);
    loop.setYieldHook(nullptr);
    check(sendEnd > 0, "the send went through");

    S line;
    int64_t lastInUs = eotUs;
    for (const auto& e : w.p.wire().entries())
        if (e.dir == WireLog::Dir::In) line += static_cast<char>(e.byte), lastInUs = e.timeUs;
    check(w.peer->received.find_first_not_of(link::ACK, sendEnd) == S::npos,
          "after its send, ACKs only");
    check(w->linkState().ReceiveArmed, "the link is armed again");
    const S tag = w->ReceiveError();
    for (const S& e : w.events.errors)
        check(allowed.count(e) && errorOn, "an enabled event of this exchange");
    check(tag.empty() || allowed.count(tag), "a stored tag of this exchange");
    for (const S& m : announced)
        check(receiveOn && framedOn(m, line), "an enabled event for a message that came framed");
    check(w.events.abortEnabled < waits,
          "an intermediate reply is announced, for an authorisation");

    // Each wait ends at its first poll past its end, or once the reception running then has
    // ended (two waits for replies, two gatherings, three pauses).
    int64_t endUs = eotUs + (pause + 1) * 1000;
    for (int i = 0; i < waits; ++i)
        endUs = std::max(endUs + (wait + 1) * 1000, lastInUs) +
                (2 * (waitChar + between + 2) + 3 * (pause + 1) + 2) * 1000;
    check(scenario == fuzz::kIdle || loop.nowUs() <= endUs, "the wait ends by its deadline");

    check(result.empty() || (result == w->ReceiveMessage() && w->linkState().MessageReady),
          "the result is the message stored");
    check(result.empty() || framedOn(result, line),
          "the result came as a frame with a matching LRC");
    if (scenario == fuzz::kPosMessage) fuzz::checkPosFields(*w, result);
    if (scenario != fuzz::kIdle)
        check(announced.size() == (!result.empty() && receiveOn), "one received event for a reply");
    if (scenario == fuzz::kIdle && receiveOn && w->linkState().MessageReady)
        check(!announced.empty() && announced.back() == w->ReceiveMessage(),
              "a stored message is announced");
    if (scenario != fuzz::kExtended) return 0;
    const S after = w->POSAutoSequence();
    check(after == "02" || (result.empty() && after == sequence),
          "the sequence advances once, for a reply");
    check(result.empty() != tag.empty(), "a failed exchange leaves a tag, an accepted one none");
    check(result.empty() || (ext::replyLayoutFor(code) && result.substr(0, 4) == sequence + code),
          "a reply echoes its request");
    if (!result.empty() || tag == "errorHandlerPOSAutoOperation")
        checkExtended(*w, code, w->ReceiveMessage());
    return 0;
}
