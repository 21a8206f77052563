// Port management and raw I/O on the simulated port: the order of the steps, what each leaves
// behind, and how failures report.
#include <gtest/gtest.h>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

class Port : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Recorder events;
    void SetUp() override { c.setEventSink(&events); }
    SimLoop& loop() { return p.simLoop(); }
    // The terminal sends bytes; they arrive after their wire time.
    void terminalSends(const std::string& bytes) {
        p.terminal().write(bytes);
        loop().runFor(static_cast<int64_t>(bytes.size() + 1) * 1100);
    }
};

TEST_F(Port, CommInitWithoutArgumentsReopensTheCurrentPortQuietly) {
    ASSERT_TRUE(c.CommInit());
    EXPECT_EQ(p.opens, 1);
    ASSERT_TRUE(c.CommInit());
    EXPECT_EQ(p.opens, 2);
    EXPECT_EQ(p.closes, 1) << "an open port is closed before it is reopened";
    EXPECT_EQ(c.CommPort(), 1);
    EXPECT_EQ(c.CommSettings(), "9600,e,7,1");
    EXPECT_EQ(c.comm().rThreshold(), 0);
    EXPECT_EQ(c.comm().sThreshold(), 0);
    // No notifications: arriving bytes wait in the component for raw reading.
    terminalSends("abc");
    EXPECT_EQ(c.linkState().CaptureBuffer, "");
    EXPECT_EQ(c.CommInputLen(), 3);
    EXPECT_EQ(c.CommInput(), "abc");
    EXPECT_EQ(c.CommInputLen(), 0);
}

TEST_F(Port, CommInitChangesOnlyWhatItIsGiven) {
    ASSERT_TRUE(c.CommInit(2, ""));
    EXPECT_EQ(c.CommPort(), 2);
    EXPECT_EQ(c.CommSettings(), "9600,e,7,1");
    ASSERT_TRUE(c.CommInit(0, "19200,n,8,1"));
    EXPECT_EQ(c.CommPort(), 2);
    EXPECT_EQ(c.CommSettings(), "19200,n,8,1");
    EXPECT_EQ(p.terminal().charTimeUs(), 1042) << "the terminal end keeps its own settings";
}

TEST_F(Port, RefusedSettingsKeepTheOldOnesAndFailInit) {
    ASSERT_TRUE(c.CommInit());
    EXPECT_FALSE(c.CommInit(0, "9600,x,7,1"));
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommInit");
    EXPECT_EQ(c.CommSettings(), "9600,e,7,1");
    EXPECT_FALSE(c.CommPortOpen()) << "the close before the refused step stays done";

    c.setCommSettings("fast please");
    EXPECT_EQ(c.CommSettings(), "9600,e,7,1");
    c.setCommSettings("4800,O,8,2");
    EXPECT_EQ(c.CommSettings(), "4800,O,8,2");
}

TEST_F(Port, PortNumberCannotChangeWhileOpen) {
    ASSERT_TRUE(c.CommOpen());
    c.setCommPort(3);  // refused by the component, ignored by the setter
    EXPECT_EQ(c.CommPort(), 1);
    EXPECT_TRUE(events.errors.empty());
    EXPECT_EQ(c.ReceiveError(), "");
}

TEST_F(Port, MissingAndBusyPortsFailTheOpen) {
    p.missingPorts.insert(4);
    p.busyPorts.insert(5);
    EXPECT_FALSE(c.CommInit(4, ""));
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommInit");
    EXPECT_FALSE(c.CommInit(5, ""));
    c.setCommPort(5);
    EXPECT_FALSE(c.CommOpen());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommOpen");
    c.setCommPortOpen(true);  // ignored failure
    EXPECT_FALSE(c.CommPortOpen());
    EXPECT_EQ(events.errors,
              (std::vector<std::string>{"errorHandlerCommInit", "errorHandlerCommInit",
                                        "errorHandlerCommOpen"}));
}

TEST_F(Port, CommOpenOnAnOpenPortFlushesWithoutReopening) {
    ASSERT_TRUE(c.CommInit());
    terminalSends("stale");
    ASSERT_EQ(c.CommInputLen(), 5);
    ASSERT_TRUE(c.CommOpen());
    EXPECT_EQ(p.opens, 1) << "left open, not reopened";
    EXPECT_EQ(c.CommInputLen(), 0);
    EXPECT_EQ(c.linkState().CaptureBuffer, "");
    EXPECT_EQ(c.comm().rThreshold(), 1);
}

TEST_F(Port, AfterCommOpenTheHandlerTakesArrivingCharacters) {
    ASSERT_TRUE(c.CommOpen());
    terminalSends("xy");
    EXPECT_EQ(c.linkState().CaptureBuffer, "xy");
    EXPECT_EQ(c.CommInputLen(), 0);
    // A second open discards what the handler collected.
    ASSERT_TRUE(c.CommOpen());
    EXPECT_EQ(c.linkState().CaptureBuffer, "");
}

TEST_F(Port, CommCloseReportsAFailingStep) {
    ASSERT_TRUE(c.CommOpen());
    terminalSends("q");
    EXPECT_TRUE(c.CommClose());
    EXPECT_FALSE(c.CommPortOpen());
    EXPECT_EQ(c.linkState().CaptureBuffer, "");
    // On a closed port the component refuses the read of Input.
    EXPECT_FALSE(c.CommClose());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommClose");
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerCommClose"});
}

TEST_F(Port, InputLenReportsTheWaitingCountAndLimitsInput) {
    ASSERT_TRUE(c.CommInit());
    terminalSends("123456");
    c.setCommInputLen(4);
    EXPECT_EQ(c.CommInputLen(), 6) << "the count waiting, not the value set";
    EXPECT_EQ(c.CommInput(), "1234");
    EXPECT_EQ(c.CommInput(), "56");
    c.setCommInputLen(-1);  // refused, ignored
    EXPECT_EQ(c.comm().inputLen(), 4);
}

TEST_F(Port, OutputReachesTheLine) {
    std::string atTerminal;
    p.terminal().setReceiver([&](uint8_t b) { atTerminal.push_back(static_cast<char>(b)); });
    ASSERT_TRUE(c.CommInit());
    c.setCommOutput(std::string("\x05", 1));
    c.setCommOutput(ByteArray(1, {0x02, 0x41, 0x03}));
    loop().runFor(10'000);
    EXPECT_EQ(atTerminal, std::string("\x05\x02\x41\x03", 4));
    c.CommClose();
    c.setCommOutput(std::string("lost"));  // closed port: ignored
    EXPECT_EQ(p.comm()->written(), std::string("\x05\x02\x41\x03", 4));
}

TEST_F(Port, GettersPassComponentFailuresToTheCaller) {
    EXPECT_THROW(c.CommInputLen(), SerialError);
    EXPECT_THROW(c.CommInput(), SerialError);
    ASSERT_TRUE(c.CommOpen());
    p.comm()->unplug();
    EXPECT_THROW(c.CommInputLen(), SerialError);
    EXPECT_THROW(getProperty(c, "CommInputLen"), AutomationError);
    EXPECT_FALSE(c.CommClose()) << "the flush fails on a device that went away";
    EXPECT_TRUE(c.CommInit()) << "a fresh open recovers";
}

}  // namespace
}  // namespace korvel
