// The termios port alone when its device hangs up: the loop sleeps instead of polling the dead
// device, and the next member that uses the port finds a device that came back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "faults/FaultRig.h"
#include "korvelcom/platform/WireLog.h"

namespace korvel {
namespace {

constexpr int16_t kPort = 22;

class Hangup : public ::testing::Test {
  protected:
    void SetUp() override {
        PortMap::set(kPort, pty->slavePath());
        port.setCommPort(kPort);
        port.setSettings("9600,n,8,1");
    }
    void TearDown() override { PortMap::set(kPort, ""); }

    template <class Pred>
    bool yieldUntil(Pred done) {
        const int32_t deadline = tickAdd(loop.tick(), 3000);
        while (!done() && !tickPassed(loop.tick(), deadline))
            loop.yield();
        return done();
    }
    /// Yields the way the control's waits do, until `ms` passed; returns the yields it took.
    uint64_t waitLikeTheControl(int32_t ms) {
        const uint64_t before = loop.yieldCount();
        const int32_t deadline = tickAdd(loop.tick(), ms);
        do {
            loop.yieldUntil(deadline);
        } while (!tickPassed(loop.tick(), deadline));
        return loop.yieldCount() - before;
    }
    /// Lets the port see the hang-up.
    void noticeHangup() {
        ASSERT_TRUE(yieldUntil([&] { return port.gone(); }));
    }

    PosixHostLoop loop;
    std::unique_ptr<Pty> pty = std::make_unique<Pty>();
    test::CountingSerial port{loop};
};

TEST_F(Hangup, UnreadBytesOfAVanishedDeviceDoNotKeepTheLoopPolling) {
    port.setPortOpen(true);
    ASSERT_EQ(pty->write("left"), 4u);
    ASSERT_TRUE(yieldUntil([&] { return port.inBufferCount() == 4; }));
    pty->closeMaster();
    noticeHangup();
    EXPECT_FALSE(port.hasPending()) << "what is left can never be read";
    // A wait that sleeps to its deadline wakes a few times; one polling every millisecond
    // because of the unreadable bytes would take about 300 passes.
    const uint64_t yields = waitLikeTheControl(300);
    std::printf("[ figures  ] 300 ms wait on a dead port holding unread bytes: %llu yields\n",
                static_cast<unsigned long long>(yields));
    EXPECT_LT(yields, 30u);
}

TEST_F(Hangup, NothingIsReadOrRetriedWhileNoMemberUsesTheDeadPort) {
    port.setPortOpen(true);
    pty->closeMaster();
    noticeHangup();
    const uint64_t gathers = port.gathers;
    const uint64_t yields = waitLikeTheControl(300);
    EXPECT_EQ(port.gathers, gathers) << "the dead descriptor is not read";
    EXPECT_EQ(port.waitHandle(), -1);
    EXPECT_LT(yields, 30u);
    EXPECT_TRUE(port.portOpen());
    EXPECT_THROW(port.output("x"), SerialError);
}

TEST_F(Hangup, TheNextMemberCarriesOnWithADeviceThatCameBack) {
    std::vector<int16_t> events;
    port.setOnComm([&] { events.push_back(port.commEvent()); });
    WireLog log;
    port.setWireLog(&log);
    port.setRThreshold(1);
    port.setPortOpen(true);
    ASSERT_EQ(pty->write("old"), 3u);
    ASSERT_TRUE(yieldUntil([&] { return !events.empty(); }));
    pty->closeMaster();
    noticeHangup();
    EXPECT_THROW(port.inBufferCount(), SerialError) << "nothing mapped yet but the dead path";

    Pty back;
    PortMap::set(kPort, back.slavePath());
    EXPECT_EQ(port.inBufferCount(), 0) << "the old device's leftovers are dropped";
    EXPECT_FALSE(port.gone());
    EXPECT_EQ(port.devicePath(), back.slavePath());
    EXPECT_GE(port.waitHandle(), 0);
    EXPECT_EQ(port.rThreshold(), 1) << "settings of the port survive the change of device";

    port.output("to-new");
    std::string got;
    ASSERT_TRUE(yieldUntil([&] {
        got += back.readAvailable();
        return got.size() >= 6;
    }));
    EXPECT_EQ(got, "to-new");
    ASSERT_EQ(back.write("new"), 3u);
    ASSERT_TRUE(yieldUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(port.input(), "new");
    EXPECT_EQ(log.bytes(WireLog::Dir::In), "oldnew");

    // Only one device is held: the dead one was released, and the new one is ours alone.
    test::CountingSerial other(loop);
    other.setCommPort(kPort);
    EXPECT_THROW(other.setPortOpen(true), SerialError);
}

TEST_F(Hangup, ADeviceStillThereUnderItsOldNameIsTakenAgain) {
    // A hang-up that leaves the device in place (a line hang-up rather than an unplugging):
    // the same path opens again, although the dead descriptor still held its lock.
    if (::geteuid() != 0) GTEST_SKIP() << "hanging up a terminal needs CAP_SYS_ADMIN";
    port.setPortOpen(true);
    const int fd = ::open(pty->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    if (::ioctl(fd, TIOCVHANGUP) != 0) {
        ::close(fd);
        GTEST_SKIP() << "hanging up a terminal needs CAP_SYS_ADMIN";
    }
    ::close(fd);
    noticeHangup();
    EXPECT_EQ(port.inBufferCount(), 0);
    EXPECT_FALSE(port.gone());
    ASSERT_EQ(pty->write("again"), 5u);
    ASSERT_TRUE(yieldUntil([&] { return port.inBufferCount() == 5; }));
    EXPECT_EQ(port.input(), "again");
}

TEST_F(Hangup, ClosingADeadPortIsImmediateAndLeavesItClean) {
    port.setPortOpen(true);
    std::string big(1 << 20, 'x');
    port.output(big);  // more than the pty takes: the rest stays queued
    ASSERT_GT(port.pendingOutput(), 0u);
    pty->closeMaster();
    noticeHangup();
    EXPECT_EQ(port.pendingOutput(), 0u) << "nothing queued can reach a vanished device";
    const auto t0 = test::Clock::now();
    port.setPortOpen(false);
    EXPECT_LT(test::msSince(t0), 1000.0);
    EXPECT_FALSE(port.portOpen());
    EXPECT_FALSE(port.gone());
    EXPECT_EQ(port.waitHandle(), -1);
}

}  // namespace
}  // namespace korvel
