// A terminal that floods the line while the control waits for its reply: random bytes at the
// full speed of the pseudo-terminal, then bytes shaped like frames (STX, text, ETX, a wrong
// check) mixed with stray ENQs.  The reply wait must end with a receive tag or by its time-out,
// never take anything but the real reply, keep what it buffers bounded, and receive the clean
// reply that follows the flood.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

#include "faults/FaultRig.h"
#include "korvelcom/KorvelComTools.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

using test::Clock;
using test::MasterPeer;
using test::msSince;

constexpr int16_t kPort = 23;
const std::string kReply =
    "01"
    "0"
    "00000001"
    "1"
    "NOISE SURVIVED";

/// Flood content.  Random bytes never hold the link's control characters; frame-shaped
/// bursts carry a check character that is wrong for their own text; ENQs come alone.  No EOT is
/// ever sent, so no part of the flood can end a reception as a message.
class Noise {
  public:
    explicit Noise(uint32_t seed) : rng_(seed) {}
    std::string junk(std::size_t n) {
        std::string s;
        s.reserve(n);
        while (s.size() < n) {
            const char c = static_cast<char>(byte_(rng_));
            if (c != link::STX && c != link::ETX && c != link::EOT && c != link::ENQ)
                s.push_back(c);
        }
        return s;
    }
    std::string lookalike() {
        std::string text = junk(1 + len_(rng_));
        return std::string(1, link::STX) + text + link::ETX +
               static_cast<char>(link::lrc(text + link::ETX) ^ 0x5A);
    }

  private:
    std::mt19937 rng_;
    std::uniform_int_distribution<int> byte_{0, 255};
    std::uniform_int_distribution<int> len_{0, 60};
};

struct FloodCount {
    std::size_t bytes = 0;
    int lookalikes = 0;
    int enqs = 0;
    Clock::time_point end{};
};

/// Floods for `junkMs` with random bytes, then for `shapedMs` with frame-shaped bursts and
/// stray ENQs, as fast as the pseudo-terminal takes them.  Ends on a plain byte.
FloodCount flood(MasterPeer& t, Noise& noise, int junkMs, int shapedMs) {
    FloodCount n;
    const std::size_t before = t.bytesSent();
    const auto junkEnd = Clock::now() + std::chrono::milliseconds(junkMs);
    while (!t.stopping() && Clock::now() < junkEnd)
        t.send(noise.junk(4096));
    const auto shapedEnd = Clock::now() + std::chrono::milliseconds(shapedMs);
    while (!t.stopping() && Clock::now() < shapedEnd) {
        std::string burst;
        for (int i = 0; i < 32; ++i) {
            burst += noise.lookalike();
            ++n.lookalikes;
            if (i % 4 == 0) {
                burst.push_back(link::ENQ);
                ++n.enqs;
            }
        }
        t.send(burst);
    }
    t.send(noise.junk(2));
    n.end = Clock::now();
    n.bytes = t.bytesSent() - before;
    return n;
}

/// The clean reply after the flood, as a real terminal sends it: a session, retried after a
/// pause when an answer does not come.
bool sendReplyWithRetries(MasterPeer& t, const std::string& reply) {
    for (int attempt = 0; attempt < 4 && !t.stopping(); ++attempt) {
        if (test::sendReply(t, reply, 1000)) return true;
        t.sendByte(link::EOT);
        t.pause(800);
    }
    return false;
}

long maxRssKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

class Flood : public ::testing::Test {
  protected:
    void SetUp() override {
        PortMap::set(kPort, pty->slavePath());
        c.setEventSink(&events);
        c.setCommPort(kPort);
        c.setCommSettings("9600,n,8,1");
        c.setPOSTimeout(3000);
        events.onError = [&](std::string&) { noteCapture(); };
    }
    void TearDown() override {
        peer.join(true);
        PortMap::set(kPort, "");
    }
    void noteCapture() { maxCapture = std::max(maxCapture, c.linkState().CaptureBuffer.size()); }

    test::FaultPlatform p;
    std::unique_ptr<Pty> pty = std::make_unique<Pty>();
    MasterPeer peer{*pty};
    KorvelComTools c{p};
    test::Recorder events;
    std::size_t maxCapture = 0;
};

TEST_F(Flood, ReplyWaitSurvivesAFloodAndTakesTheCleanReplyAfterIt) {
    FloodCount n;
    bool cleanSent = false;
    Clock::time_point cleanAt{};
    const long rss0 = maxRssKb();
    peer.start([&](MasterPeer& t) {
        if (test::acceptRequest(t).empty() || !t.awaitByte(link::EOT, 5000)) return;
        Noise noise(20240611);
        n = flood(t, noise, 700, 500);
        // Quiet long enough for every wait the flood started in the control to run out.
        t.pause(1500);
        cleanAt = Clock::now();
        cleanSent = sendReplyWithRetries(t, kReply);
    });

    const test::CostMeter meter(p);
    const auto t0 = Clock::now();
    const std::string first = c.POSMessage();
    const std::string firstTag = c.ReceiveError();
    // The host waits on after each failed reception, as long as the terminal may still answer.
    std::string got = first;
    int waits = 1;
    while (got.empty() && msSince(t0) < 15000) {
        c.setReceiveError("");
        got = c.RecMessage(3000);
        ++waits;
        EXPECT_TRUE(got.empty() || got == kReply) << "a reply the terminal never sent";
    }
    const double totalMs = msSince(t0);
    const test::LoopCost cost = meter.stop();
    peer.join();

    std::map<std::string, int> tags;
    for (const auto& tag : events.errors)
        ++tags[tag];
    cost.print("flood then clean reply");
    std::printf(
        "[ figures  ] flood: %zu bytes (%d frame-shaped, %d ENQ) in %.0f ms; %d waits; "
        "largest Input read %zu bytes; capture buffer at most %zu; peak RSS +%ld KiB\n",
        n.bytes, n.lookalikes, n.enqs,
        std::chrono::duration<double, std::milli>(n.end - t0).count(), waits,
        p.serial().largestInput, maxCapture, maxRssKb() - rss0);
    for (const auto& [tag, count] : tags)
        std::printf("[ figures  ]   %s x %d\n", tag.c_str(), count);
    std::printf("[ figures  ] clean reply taken %.0f ms after the flood ended (%.0f ms in all)\n",
                std::chrono::duration<double, std::milli>(Clock::now() - n.end).count() -
                    (msSince(t0) - totalMs),
                totalMs);

    ASSERT_TRUE(cleanSent) << "the control never acknowledged the clean reply";
    EXPECT_EQ(got, kReply);
    EXPECT_EQ(c.ReceiveMessage(), kReply);
    // The first wait ended on the flood with a receive tag, or had the clean reply itself.
    EXPECT_TRUE((first.empty() && (firstTag == "errorHandlerRecPacket" ||
                                   firstTag == "errorHandlerReceivePacket")) ||
                first == kReply)
        << "first wait: \"" << first << "\" tag " << firstTag;
    for (const auto& [tag, count] : tags)
        EXPECT_TRUE(tag == "errorHandlerRecPacket" || tag == "errorHandlerReceivePacket") << tag;
    // Bounded buffering: the port never holds more than its receive buffer, whatever comes.
    EXPECT_GT(n.bytes, 8 * PosixSerialComm::kReceiveBufferSize) << "the flood was not a flood";
    EXPECT_LE(p.serial().largestInput, PosixSerialComm::kReceiveBufferSize);
    EXPECT_LE(maxCapture, PosixSerialComm::kReceiveBufferSize + 1);
}

TEST(ReceiveBuffer, FillsOnlyToItsSizeWhileTheDeviceKeepsTheRestInOrder) {
    constexpr int16_t kRawPort = 24;
    PosixHostLoop loop;
    Pty pty;
    PortMap::set(kRawPort, pty.slavePath());
    test::CountingSerial port(loop);
    port.setCommPort(kRawPort);
    port.setPortOpen(true);  // no notifications: the bytes stay until taken

    std::string pattern;
    for (int i = 0; i < (1 << 20); ++i)
        pattern.push_back(static_cast<char>((i * 7 + i / 251) & 0xff));
    MasterPeer writer(pty);
    writer.start([&](MasterPeer& t) { t.send(pattern); });

    // Nobody reads for a while: the buffer fills to its size and the loop does not spin on
    // the device that still has more.
    const uint64_t y0 = loop.yieldCount();
    const int32_t deadline = tickAdd(loop.tick(), 300);
    do {
        loop.yieldUntil(deadline);
    } while (!tickPassed(loop.tick(), deadline));
    const uint64_t yields = loop.yieldCount() - y0;
    std::printf("[ figures  ] 300 ms with a full receive buffer: %llu yields\n",
                static_cast<unsigned long long>(yields));
    EXPECT_EQ(port.inBufferCount(), static_cast<int32_t>(PosixSerialComm::kReceiveBufferSize));
    EXPECT_EQ(port.waitHandle(), -1);
    EXPECT_LT(yields, 1000u);

    // Taking the characters lets the rest in, none lost and in order.
    std::string got;
    const auto t0 = Clock::now();
    while (got.size() < pattern.size() && msSince(t0) < 10000) {
        got += port.input();
        loop.yield();
    }
    writer.join(true);
    EXPECT_EQ(got.size(), pattern.size());
    EXPECT_TRUE(got == pattern) << "bytes lost or reordered";
    EXPECT_LE(port.largestInput, PosixSerialComm::kReceiveBufferSize);
    PortMap::set(kRawPort, "");
}

}  // namespace
}  // namespace korvel
