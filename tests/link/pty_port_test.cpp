// Port management of the control on real pseudo-terminals through the POSIX platform: what
// hosts get on a real device.
#include <gtest/gtest.h>

#include <chrono>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/platform/WireLog.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/PosixSerialComm.h"
#include "platform/posix/Pty.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

class PtyPort : public ::testing::Test {
  protected:
    Pty pty;
    Pty other;
    KorvelComTools c;  // the default POSIX platform of this thread
    test::Recorder events;
    void SetUp() override {
        PortMap::set(7, pty.slavePath());
        PortMap::set(8, other.slavePath());
        PortMap::set(9, "/dev/korvelcom-no-such-device");
        c.setEventSink(&events);
        c.setCommPort(7);
    }
    void TearDown() override { PortMap::clear(); }
    PosixHostLoop& loop() { return static_cast<PosixHostLoop&>(c.platform().loop()); }
    // Yields until `done` or a generous bound (a hang shows as a failure, not a stuck test).
    bool yieldUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < end)
            loop().yield();
        return done();
    }
};

TEST_F(PtyPort, CommInitOpensWithAndWithoutArguments) {
    ASSERT_TRUE(c.CommInit()) << c.ReceiveError();
    EXPECT_TRUE(c.CommPortOpen());
    pty.write("raw");
    ASSERT_TRUE(yieldUntil([&] { return c.CommInputLen() == 3; }));
    EXPECT_EQ(c.linkState().CaptureBuffer, "") << "no notifications after CommInit";
    EXPECT_EQ(c.CommInput(), "raw");

    ASSERT_TRUE(c.CommInit(8, "19200,n,8,1"));
    EXPECT_EQ(c.CommPort(), 8);
    EXPECT_EQ(c.CommSettings(), "19200,n,8,1");
    c.setCommOutput(std::string("to-other"));
    std::string atOther;
    ASSERT_TRUE(yieldUntil([&] {
        atOther += other.readAvailable();
        return atOther == "to-other";
    }));
    const std::string leaked = pty.readAvailable();
    EXPECT_TRUE(leaked.empty()) << "the first device was closed: " << WireLog::describe(leaked);
}

TEST_F(PtyPort, CommOpenOnAnOpenPortDiscardsWaitingInput) {
    ASSERT_TRUE(c.CommInit());
    pty.write("stale");
    ASSERT_TRUE(yieldUntil([&] { return c.CommInputLen() == 5; }));
    ASSERT_TRUE(c.CommOpen());
    EXPECT_EQ(c.CommInputLen(), 0);
    EXPECT_EQ(c.linkState().CaptureBuffer, "");
    pty.write("new");
    ASSERT_TRUE(yieldUntil([&] { return c.linkState().CaptureBuffer == "new"; }))
        << "the receive handler takes arriving characters after CommOpen";
}

TEST_F(PtyPort, CommCloseOnAClosedPortReportsTheRefusedRead) {
    ASSERT_TRUE(c.CommOpen());
    EXPECT_TRUE(c.CommClose());
    EXPECT_FALSE(c.CommClose());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommClose");
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerCommClose"});
}

TEST_F(PtyPort, RefusedSettingsKeepTheOldOnes) {
    c.setCommSettings("9600,q,7,1");
    EXPECT_EQ(c.CommSettings(), "9600,e,7,1");
    EXPECT_FALSE(c.CommInit(0, "9600,e,7"));
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommInit");
    EXPECT_EQ(c.CommSettings(), "9600,e,7,1");
}

TEST_F(PtyPort, BusyAndMissingDevices) {
    PosixHostLoop otherLoop;
    PosixSerialComm holder(otherLoop);
    holder.setCommPort(7);
    holder.setPortOpen(true);
    EXPECT_FALSE(c.CommOpen());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommOpen");
    holder.setPortOpen(false);
    EXPECT_TRUE(c.CommOpen()) << "free again once the other holder closed it";
    EXPECT_TRUE(c.CommClose());

    c.setCommPort(9);
    EXPECT_FALSE(c.CommInit());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommInit");
}

TEST_F(PtyPort, UnpluggedDeviceIsReportedWithoutSpinning) {
    ASSERT_TRUE(c.CommOpen());
    pty.closeMaster();
    const uint64_t y0 = loop().yieldCount();
    const auto t0 = std::chrono::steady_clock::now();
    c.WaitTimeout(c.platform().loop().tick() + 200);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // An idle yield sleeps up to 1 ms: a loop spinning on hang-ups would make many more.
    EXPECT_LT(static_cast<double>(loop().yieldCount() - y0), 1.5 * 1000 * seconds + 50);
    EXPECT_THROW(c.CommInputLen(), SerialError);
    EXPECT_FALSE(c.SendMessage("x")) << "a send on a vanished device fails cleanly";
    EXPECT_FALSE(c.ReceiveError().empty());
}

TEST_F(PtyPort, TerminationReleasesTheDevice) {
    {
        KorvelComTools holder;
        holder.setCommPort(7);
        ASSERT_TRUE(holder.CommOpen());
        EXPECT_FALSE(c.CommOpen()) << "busy while the other control holds it";
    }
    EXPECT_TRUE(c.CommOpen());
}

}  // namespace
}  // namespace korvel
