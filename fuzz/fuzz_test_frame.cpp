// The CRC16 test-frame receiver on a control in virtual time.  The input describes what the
// terminal puts on the line (chunks after delays, some wrapped in a test frame, some arriving
// before the receive starts and so taken by the receive handler first); the control receives
// with `RecMessageTestK7200`, or sends first with `MessageTestK7200`.  The outcome is compared
// with a model of the receiver worked out from the bytes' arrival times in the wire log: the
// status, the text, the error tag and event, the tick at which the call returns, and the
// deadline written back.  A call that does not end within a bound of virtual time fails.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Script.h"
#include "korvelcom/KorvelComTools.h"
#include "link/Frame.h"
#include "platform/sim/SimPlatform.h"
#include "sim/Frames.h"

using korvel::fuzz::check;
using korvel::fuzz::Chunk;
using korvel::link::STX;

namespace {

constexpr int64_t kCharUs = 87;           // a character at 115200 baud
constexpr int64_t kBoundUs = 10'000'000;  // far beyond any wait this input can cause
constexpr std::size_t kMaxChunks = 24;
const char* const kTag = "errorHandlerRecMessageTestK7200";

struct Events : korvel::KorvelComToolsEvents {
    std::vector<std::string> errors;
    int received = 0;
    void ErrorEvent(std::string& errType) override { errors.push_back(errType); }
    void ReceivedEvent() override { ++received; }
};

struct Arrival {
    int64_t us;
    char byte;
};

// What the receiver must do, worked out from what it had taken before its waits (`captured`)
// and the bytes that arrived while it waited.
struct Model {
    std::string text;
    int16_t status = 72;
    bool tagged = true;
    int32_t endTick = 0;
    int32_t deadline = 0;
};

Model model(const std::string& captured, const std::vector<Arrival>& arrivals, int32_t startTick,
            int32_t recTick, int32_t timeout, int32_t between) {
    // Virtual microseconds at which the tick `t` begins.
    const auto boundaryUs = [&](int32_t t) {
        return static_cast<int64_t>(korvel::tickAdd(t, -startTick)) * 1000;
    };
    const auto tickAt = [&](int64_t us) {
        return korvel::tickAdd(startTick, static_cast<int32_t>(us / 1000));
    };
    Model m;
    std::string s;
    if (!captured.empty()) {
        const auto stx = captured.find(STX);
        if (stx != std::string::npos) s = captured.substr(stx);
    }
    std::size_t next = 0;
    int32_t gatherFrom = recTick;
    if (s.empty()) {
        // The wait for a first character ends at the first tick past its deadline.
        m.deadline = korvel::tickAdd(recTick, timeout);
        if (arrivals.empty() || arrivals[0].us > boundaryUs(korvel::tickAdd(m.deadline, 1))) {
            m.endTick = korvel::tickAdd(m.deadline, 1);
            return m;  // 72, tagged
        }
        gatherFrom = tickAt(arrivals[0].us);
    }
    // Gathering: every character arriving by the first tick past the deadline moves the
    // deadline to its own tick plus the silence.
    int32_t deadline = korvel::tickAdd(gatherFrom, between);
    for (; next < arrivals.size(); ++next) {
        if (arrivals[next].us > boundaryUs(korvel::tickAdd(deadline, 1))) break;
        s += arrivals[next].byte;
        deadline = korvel::tickAdd(tickAt(arrivals[next].us), between);
    }
    m.deadline = deadline;
    m.endTick = korvel::tickAdd(deadline, 1);

    const auto stx = s.find(STX);
    s = stx == std::string::npos ? std::string() : s.substr(stx + 1);
    if (s.size() < 3) {
        m.text = s;
        m.status = 69;
        return m;  // tagged
    }
    const unsigned received =
        256u * static_cast<uint8_t>(s[s.size() - 1]) + static_cast<uint8_t>(s[s.size() - 2]);
    s.resize(s.size() - 2);
    m.text = s;
    if (korvel::link::testCrc(s) != received) {
        m.status = 69;
        m.tagged = false;
    } else if (s.compare(0, 2, "OK") == 0) {
        m.status = 0;
        m.tagged = false;
    } else {
        m.status = 1;
    }
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvel::fuzz::Input in(data, size);
    const uint8_t flags = in.byte();
    const int32_t between = 1 + (in.byte() & 0x0F);
    const int32_t timeout = 5 + in.byte();
    const bool sendFirst = flags & korvel::fuzz::testframe::kSendFirst;
    const bool errorEnabled = !(flags & 0x02);
    std::vector<Chunk> chunks = korvel::fuzz::readChunks(in, kMaxChunks);

    korvel::SimPlatform p;
    korvel::SimLoop& loop = p.simLoop();
    p.terminal().setCharTimeUs(kCharUs);
    korvel::KorvelComTools c(p);
    Events events;
    c.setEventSink(&events);
    c.setCommSettings("115200,n,8,1");
    c.setTOBetweenChar(between);
    c.setErrorEnabled(errorEnabled);
    check(c.CommOpen(), "the port opens");
    const korvel::WireLog& wire = p.wire();
    loop.setYieldHook([&] { check(loop.nowUs() < kBoundUs, "the call ends in bounded time"); });

    // The terminal's bytes: early chunks before the call, the others from its start on.
    std::string early;
    int64_t atUs = 0;
    for (Chunk& k : chunks) {
        if (k.framed()) k.bytes = korvel::sim::testFrame(k.bytes);
        if (!k.early()) continue;
        atUs += k.delayMs * 1000;
        early += k.bytes;
        loop.at(atUs, [&p, bytes = k.bytes] { p.terminal().write(bytes); });
    }
    // Counts the bytes that have arrived, reading only the wire log's new entries each time.
    std::size_t scanned = 0;
    std::size_t arrived = 0;
    const auto inCount = [&] {
        for (; scanned < wire.entries().size(); ++scanned)
            arrived += wire.entries()[scanned].dir == korvel::WireLog::Dir::In;
        return arrived;
    };
    loop.runUntil([&] { return inCount() == early.size(); }, kBoundUs);
    check(c.linkState().CaptureBuffer == early, "the receive handler took the early bytes");

    const int64_t callUs = loop.nowUs();
    const int32_t startTick = loop.tick() - static_cast<int32_t>(callUs / 1000);
    atUs = 0;
    for (const Chunk& k : chunks) {
        if (k.early()) continue;
        atUs += k.delayMs * 1000;
        loop.after(atUs, [&p, bytes = k.bytes] { p.terminal().write(bytes); });
    }

    // The receive's own start: the call's, or after the send and its one yield.
    const std::size_t entriesAtCall = wire.entries().size();
    std::size_t entriesAtRec = entriesAtCall;
    int32_t recTick = loop.tick();
    int yields = 0;
    loop.setYieldHook([&] {
        check(loop.nowUs() < kBoundUs, "the call ends in bounded time");
        if (sendFirst && ++yields == 2) {
            entriesAtRec = wire.entries().size();
            recTick = loop.tick();
        }
    });

    std::string rec = "stale";
    int16_t status = -1;
    int32_t longTimeOut = timeout;
    std::string sent = "T";
    if (sendFirst) {
        c.MessageTestK7200(sent, rec, status, longTimeOut);
        check(sent == korvel::sim::testFrame("T").substr(1), "the sent text with ETX and CRC");
        check(yields >= 2, "the receive waited");
    } else {
        c.RecMessageTestK7200(rec, status, longTimeOut);
    }
    loop.setYieldHook(nullptr);
    const int32_t endTick = loop.tick();

    // What the receive took first, and what arrived while it waited.
    std::string captured = early;
    std::vector<Arrival> arrivals;
    const auto& entries = wire.entries();
    if (sendFirst) {
        captured.clear();  // the send's port opening discards what came before
        for (std::size_t i = entriesAtCall; i < entriesAtRec; ++i)
            if (entries[i].dir == korvel::WireLog::Dir::In)
                captured += static_cast<char>(entries[i].byte);
    }
    for (std::size_t i = entriesAtRec; i < entries.size(); ++i)
        if (entries[i].dir == korvel::WireLog::Dir::In)
            arrivals.push_back({entries[i].timeUs, static_cast<char>(entries[i].byte)});

    const Model m = model(captured, arrivals, startTick, recTick, timeout, between);
    check(status == m.status, "status");
    check(rec == m.text, "received text");
    check(endTick == m.endTick, "the call returns at the first tick past its last deadline");
    check(longTimeOut == m.deadline, "the last deadline is written back");
    check(c.ReceiveError() == (m.tagged ? kTag : ""), "error tag");
    const std::vector<std::string> expectedEvents =
        m.tagged && errorEnabled ? std::vector<std::string>{kTag} : std::vector<std::string>{};
    check(events.errors == expectedEvents, "error events");
    check(events.received == 0, "no received event");
    return 0;
}
