// The virtual-time line, the line settings every port parses, and how the wire log shows bytes.
#include <gtest/gtest.h>

#include <tuple>

#include "korvelcom/platform/LineSettings.h"
#include "korvelcom/platform/WireLog.h"
#include "platform/sim/SimPlatform.h"

namespace korvel {
namespace {

/// Arrivals at end B as "time:byte " tokens, their count and the line's counters.
std::tuple<std::string, int64_t, SimLine::Counters> carry(const std::string& bytes, uint64_t seed,
                                                          const FaultProfile& faults = {}) {
    SimLoop loop;
    SimLine line(loop, seed);
    std::string got;
    int64_t arrived = 0;
    line.end(SimLine::B).setReceiver([&](uint8_t b) {
        got += std::to_string(loop.nowUs()) + ":" + static_cast<char>(b) + " ";
        ++arrived;
    });
    line.setFaults(SimLine::A, faults);
    line.end(SimLine::A).write(bytes.substr(0, 2));
    loop.runFor(500);
    line.end(SimLine::A).write(bytes.substr(2));  // queues behind what is still on the wire
    loop.runFor(10'000'000);
    line.setFaults(SimLine::A, {});
    line.setConnected(false);
    line.end(SimLine::A).write("lost");
    loop.runFor(10'000);
    return {got, arrived, line.counters(SimLine::A)};
}

TEST(SimulatedLine, BytesTakeTheirWireTimeInOrderAndSeededFaultsAreReproducible) {
    EXPECT_EQ(std::get<0>(carry("abc", 1)), "1042:a 2084:b 3126:c ");
    const FaultProfile faults{0.05, 0.05, 0.05, 0.05, 0.05, 3000};
    const auto [got, arrived, n] = carry(std::string(2000, 'x'), 7, faults);
    EXPECT_EQ(got, std::get<0>(carry(std::string(2000, 'x'), 7, faults)));
    EXPECT_NE(got, std::get<0>(carry(std::string(2000, 'x'), 8, faults)));
    EXPECT_EQ(n.sent, 2004);
    for (int64_t count : {n.dropped, n.corrupted, n.duplicated, n.delayed, n.noise})
        EXPECT_TRUE(count > 50 && count < 170) << count;
    EXPECT_EQ(arrived, 2000 - n.dropped + n.duplicated + n.noise);
}

TEST(TextForms, LineSettingsAcceptWhatAPortOffersAndTheWireLogNamesControls) {
    // text -> baud parity data stop-half-bits char-time-us
    for (const auto& [text, parsed] : std::vector<std::pair<std::string, std::string>>{
             {"9600,e,7,1", "9600 e 7 2 1042"},
             {" 115200 , N , 8 , 1.5 ", "115200 n 8 3 91"},
             {"110,o,5,2", "110 o 5 4 81818"},
             {"256000,s,6,1", "256000 s 6 2 35"}}) {
        const auto s = LineSettings::parse(text);
        ASSERT_TRUE(s) << text;
        EXPECT_EQ(std::to_string(s->baud) + " " + s->parity + " " + std::to_string(s->dataBits) +
                      " " + std::to_string(s->stopHalfBits) + " " + std::to_string(s->charTimeUs()),
                  parsed);
    }
    for (const char* bad :
         {"", "9600,e,7", "9600,e,7,1,1", "9601,e,7,1", "9600,x,7,1", "9600,e,9,1", "9600,e,4,1",
          "9600,e,7,3", "-9600,e,7,1", "9600,ee,7,1", "1152000,n,8,1"})
        EXPECT_FALSE(LineSettings::parse(bad)) << bad;
    EXPECT_EQ(WireLog::describe({"\x02OK'\x03\x1F\x7F\xC3", 8}), "STX 'OK' 0x27 ETX US 0x7F 0xC3");
}

}  // namespace
}  // namespace korvel
