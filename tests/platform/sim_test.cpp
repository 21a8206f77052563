// The virtual-time harness itself: wire time, ordering, seeded faults, the wire log.
#include <gtest/gtest.h>

#include "korvelcom/platform/WireLog.h"
#include "platform/LineSettings.h"
#include "platform/sim/SimPlatform.h"

namespace korvel {
namespace {

struct Arrival {
    int64_t us;
    uint8_t byte;
};

class Line : public ::testing::Test {
  protected:
    SimLoop loop;
    SimLine line{loop, 42};
    std::vector<Arrival> atB;
    void SetUp() override {
        line.end(SimLine::B).setReceiver([this](uint8_t b) { atB.push_back({loop.nowUs(), b}); });
    }
};

TEST_F(Line, BytesArriveAfterTheirWireTimeInOrder) {
    line.end(SimLine::A).write("abc");
    loop.runFor(10'000);
    ASSERT_EQ(atB.size(), 3u);
    EXPECT_EQ(atB[0].us, 1042);
    EXPECT_EQ(atB[1].us, 2084);
    EXPECT_EQ(atB[2].us, 3126);
    EXPECT_EQ(atB[2].byte, 'c');
    // A write while the line is still busy queues behind it.
    line.end(SimLine::A).write("d");
    line.end(SimLine::A).write("e");
    loop.runFor(10'000);
    EXPECT_EQ(atB[4].us - atB[3].us, 1042);
}

TEST_F(Line, IdleYieldsAdvanceToTheNextEventOrMillisecond) {
    line.end(SimLine::A).write("a");
    loop.yield();
    EXPECT_EQ(loop.nowUs(), 1000);
    loop.yield();
    EXPECT_EQ(loop.nowUs(), 1042) << "the arrival comes before the next millisecond";
    EXPECT_EQ(atB.size(), 1u);
}

TEST_F(Line, SeededFaultsAreReproducibleAndCounted) {
    auto run = [](uint64_t seed) {
        SimLoop l;
        SimLine ln(l, seed);
        std::string got;
        ln.end(SimLine::B).setReceiver([&](uint8_t b) { got.push_back(static_cast<char>(b)); });
        ln.setFaults(SimLine::A, FaultProfile{0.05, 0.05, 0.05, 0.05, 0.05, 3000});
        ln.end(SimLine::A).write(std::string(2000, 'x'));
        l.runFor(5'000'000);
        return std::make_pair(got, ln.counters(SimLine::A));
    };
    const auto [got1, n1] = run(7);
    const auto [got2, n2] = run(7);
    const auto [got3, n3] = run(8);
    EXPECT_EQ(got1, got2);
    EXPECT_NE(got1, got3);
    EXPECT_EQ(n1.sent, 2000);
    for (int64_t count : {n1.dropped, n1.corrupted, n1.duplicated, n1.delayed, n1.noise}) {
        EXPECT_GT(count, 50);
        EXPECT_LT(count, 170);
    }
    EXPECT_EQ(static_cast<int64_t>(got1.size()), 2000 - n1.dropped + n1.duplicated + n1.noise);
}

TEST_F(Line, DisconnectedLineLosesEverything) {
    line.setConnected(false);
    line.end(SimLine::A).write("abc");
    loop.runFor(10'000);
    EXPECT_TRUE(atB.empty());
}

TEST(LineSettingsParse, AcceptsWhatAPortOffersAndNothingElse) {
    const auto s = LineSettings::parse("9600,e,7,1");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->charTimeUs(), 1042);
    const auto fast = LineSettings::parse(" 115200 , N , 8 , 1.5 ");
    ASSERT_TRUE(fast);
    EXPECT_EQ(fast->parity, 'n');
    EXPECT_EQ(fast->stopHalfBits, 3);
    EXPECT_EQ(fast->charTimeUs(), 91);  // start, 8 data, 1.5 stop: 10.5 bits
    for (const char* bad :
         {"", "9600", "9600,e,7", "9600,e,7,1,1", "9601,e,7,1", "9600,x,7,1", "9600,e,9,1",
          "9600,e,4,1", "9600,e,7,3", "-9600,e,7,1", "9600,ee,7,1", "abc,e,7,1"})
        EXPECT_FALSE(LineSettings::parse(bad)) << bad;
}

TEST(WireLogFormat, OneLinePerBurstWithNamedControls) {
    WireLog log;
    log.add(1'000'000, WireLog::Dir::Out, "\x05");
    log.add(1'004'000, WireLog::Dir::In, "\x06");
    log.add(1'030'000, WireLog::Dir::Out, std::string("\x02OK'\x03\x07", 6));
    log.add(1'031'000, WireLog::Dir::Out, std::string("\xC3", 1));
    EXPECT_EQ(log.format(),
              "     0.000 ms  -> ENQ\n"
              "     4.000 ms  <- ACK\n"
              "    30.000 ms  -> STX 'OK' 0x27 ETX BEL 0xC3\n");
    EXPECT_EQ(log.bytes(WireLog::Dir::In), "\x06");
}

}  // namespace
}  // namespace korvel
