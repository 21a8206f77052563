// The CRC16 test-frame receiver in virtual time.  The script puts bytes on the line, early ones
// before the call (the receive handler takes them first); `RecMessageTestK7200` receives.  A
// model worked from the bytes' arrival times gives the status, the text, the tag and event, the
// tick the call returns at and the deadline written back.
#include "Driver.h"
#include "World.h"
#include "sim/Frames.h"

using namespace korvel;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    auto in = fuzz::input(data, size);
    const bool errorOn = in.byte() & 1;
    const int32_t between = 1 + (in.byte() & 0x0F), timeout = 5 + in.byte();
    std::vector<fuzz::Chunk> early, late;
    std::string s;  // the early bytes
    int64_t earlyUs = 1000;
    for (fuzz::Chunk& k : fuzz::readChunks(in)) {
        k.flags &= ~fuzz::kAfterAck;  // the receiver sends no ACK to wait for
        if (k.flags & fuzz::kEarly)
            s += k.flags & fuzz::kFramed ? sim::testFrame(k.bytes) : k.bytes,
                earlyUs += k.delayMs * 1000;
        (k.flags & fuzz::kEarly ? early : late).push_back(std::move(k));
    }
    test::World w;
    w.peer.reset();
    SimLoop& loop = w.p.simLoop();
    w.p.terminal().setCharTimeUs(87);  // a character at 115200 baud
    w->setCommSettings("115200,n,8,1");
    w->setTOBetweenChar(between);
    w->setErrorEnabled(errorOn);
    check(w->CommOpen(), "the port opens");
    fuzz::Player before(w.p, early, sim::testFrame), after(w.p, late, sim::testFrame);
    before.start();
    loop.runFor(earlyUs + static_cast<int64_t>(s.size()) * 87);
    check(w->linkState().CaptureBuffer == s, "the receive handler took the early bytes");
    after.start();
    const std::size_t atCall = w.p.wire().entries().size();
    const int32_t startTick = loop.tick();
    const int64_t startUs = loop.nowUs() / 1000 * 1000;  // where that tick began
    loop.setYieldHook([&] { check(loop.nowUs() < 10'000'000, "the call ends in bounded time"); });
    std::string rec = "stale";
    int16_t status = -1;
    int32_t longTimeOut = timeout;
    w->RecMessageTestK7200(rec, status, longTimeOut);
    loop.setYieldHook(nullptr);

    // The model: a wait ends at the first tick past its deadline, and a character arriving by
    // then moves the deadline to its own tick plus the silence; the first wait's is the timeout.
    const auto tickAt = [&](int64_t us) {
        return tickAdd(startTick, static_cast<int32_t>((us - startUs) / 1000));
    };
    const auto usOf = [&](int32_t tick) {
        return startUs + int64_t{tickAdd(tick, -startTick)} * 1000;
    };
    s.erase(0, s.find(link::STX));
    int32_t deadline = tickAdd(startTick, s.empty() ? timeout : between);
    for (std::size_t i = atCall; i < w.p.wire().entries().size(); ++i) {
        const auto& e = w.p.wire().entries()[i];
        if (e.dir == WireLog::Dir::Out) continue;
        if (e.timeUs > usOf(tickAdd(deadline, 1))) break;
        s += static_cast<char>(e.byte), deadline = tickAdd(tickAt(e.timeUs), between);
    }
    check(loop.tick() == tickAdd(deadline, 1) && longTimeOut == deadline,
          "the call returns past the last deadline, written back");
    const bool none = s.empty();
    s.erase(0, std::min(s.find(link::STX), s.size() - 1) + 1);  // up to STX (all when none)
    const std::string text = s.size() < 3 ? s : s.substr(0, s.size() - 2);
    const bool crcOk =
        s.size() >= 3 && link::testCrc(text) == (static_cast<uint8_t>(s.back()) << 8 |
                                                 static_cast<uint8_t>(s[s.size() - 2]));
    const bool ok = crcOk && text.compare(0, 2, "OK") == 0, tagged = s.size() < 3 || (crcOk && !ok);
    check(rec == text && status == (none     ? 72
                                    : !crcOk ? 69
                                    : ok     ? 0
                                             : 1),
          "the status and the text");
    const char* tag = tagged ? "errorHandlerRecMessageTestK7200" : "";
    check(w->ReceiveError() == tag && w.events.received == 0,
          "the error tag, and no received event");
    check(w.events.errors == std::vector<std::string>(tagged && errorOn, tag), "the error events");
    return 0;
}
