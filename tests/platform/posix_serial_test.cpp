// The termios serial port on real pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "korvelcom/platform/WireLog.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/PosixSerialComm.h"
#include "platform/posix/Pty.h"

namespace korvel {
namespace {

constexpr int16_t kPort = 3;

std::string allByteValues() {
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(static_cast<char>(i));
    return s;
}

/// Opening `port` fails with a SerialError whose message mentions `why`.
void expectOpenFails(PosixSerialComm& port, const std::string& why) {
    try {
        port.setPortOpen(true);
        ADD_FAILURE() << "opened; expected: " << why;
    } catch (const SerialError& e) {
        EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
    EXPECT_FALSE(port.portOpen());
}

class PosixSerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PortMap::set(kPort, pty.slavePath());
        port.setCommPort(kPort);
    }
    void TearDown() override {
        PortMap::clear();
        unsetenv("KORVELCOM_COM9");
    }

    template <class Pred>
    bool yieldUntil(Pred done, int32_t ms = 1000) {
        const int32_t deadline = tickAdd(loop.tick(), ms);
        while (!done() && !tickPassed(loop.tick(), deadline))
            loop.yield();
        return done();
    }

    /// Everything the master receives until it holds `n` bytes or about a second passed.
    std::string masterReceives(std::size_t n) {
        std::string got;
        yieldUntil([&] {
            got += pty.readAvailable();
            return got.size() >= n;
        });
        return got;
    }

    PosixHostLoop loop;
    Pty pty;
    PosixSerialComm port{loop};
};

// ---- opening, settings, device mapping ------------------------------------------------------

TEST_F(PosixSerialTest, OpensAppliesRawLineSettingsAndCloses) {
    // Leave the device in a terminal's usual cooked mode, through a descriptor of our own.
    const int fd = open(pty.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    t.c_lflag |= ECHO | ICANON | ISIG;
    t.c_iflag |= ICRNL | IXON;
    t.c_oflag |= OPOST;
    t.c_cc[VMIN] = 1;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);

    port.setSettings("19200,n,8,2");
    port.setPortOpen(true);
    ASSERT_TRUE(port.portOpen());
    EXPECT_EQ(port.devicePath(), pty.slavePath());
    EXPECT_GE(port.waitHandle(), 0);

    // What the device holds now.
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE((t.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD));
    EXPECT_FALSE(t.c_lflag & (ECHO | ICANON | ISIG));
    EXPECT_FALSE(t.c_iflag & (ICRNL | IXON | ISTRIP));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(port.appliedSettings().baud, 19200);
    EXPECT_EQ(port.appliedSettings().stopHalfBits, 4);

    EXPECT_THROW(port.setPortOpen(true), SerialError);
    EXPECT_THROW(port.setCommPort(4), SerialError);
    port.setPortOpen(false);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(port.waitHandle(), -1);
    EXPECT_THROW(port.inBufferCount(), SerialError);
    // Closing released the device: it opens again; so does destroying an open port.
    {
        PosixSerialComm first(loop);
        first.setCommPort(kPort);
        first.setPortOpen(true);
    }
    port.setPortOpen(true);
    EXPECT_TRUE(port.portOpen());
}

TEST_F(PosixSerialTest, PseudoTerminalRefusingParityRunsEightBitsWithoutFailing) {
    ASSERT_EQ(port.settings(), "9600,e,7,1");
    port.setPortOpen(true);
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(port.appliedSettings().dataBits, 8);
    EXPECT_EQ(port.appliedSettings().parity, 'n');
    EXPECT_EQ(port.appliedSettings().baud, 9600);
    // The requested settings stay what the host wrote.
    EXPECT_EQ(port.settings(), "9600,e,7,1");
    EXPECT_EQ(port.lineSettings().dataBits, 7);
}

TEST_F(PosixSerialTest, RefusedSettingsAndUnsupportedBaudLeaveThePortUsable) {
    EXPECT_THROW(port.setSettings("9600,x,8,1"), SerialError);
    EXPECT_THROW(port.setSettings("9600,n,9,1"), SerialError);
    EXPECT_EQ(port.settings(), "9600,e,7,1");

    // A rate the settings accept but termios cannot express fails the open, cleanly.
    port.setSettings("14400,n,8,1");
    expectOpenFails(port, "14400");
    port.setSettings("115200,n,8,1");
    port.setPortOpen(true);  // the failed open left no lock behind
    EXPECT_TRUE(port.portOpen());
}

TEST(PortMapTest, MappingInCodeWinsOverEnvironmentOverDefault) {
    unsetenv("KORVELCOM_COM4");
    PortMap::clear();
    EXPECT_EQ(PortMap::devicePath(4), "/dev/ttyS3");
    EXPECT_EQ(PortMap::devicePath(1), "/dev/ttyS0");
    setenv("KORVELCOM_COM4", "/dev/from-env", 1);
    EXPECT_EQ(PortMap::devicePath(4), "/dev/from-env");
    EXPECT_EQ(PortMap::devicePath(5), "/dev/ttyS4");
    PortMap::set(4, "/dev/from-code");
    EXPECT_EQ(PortMap::devicePath(4), "/dev/from-code");
    PortMap::set(4, "");
    EXPECT_EQ(PortMap::devicePath(4), "/dev/from-env");
    setenv("KORVELCOM_COM4", "", 1);
    EXPECT_EQ(PortMap::devicePath(4), "/dev/ttyS3");
    unsetenv("KORVELCOM_COM4");
}

TEST_F(PosixSerialTest, PortNumberMapsToTheDeviceOrFailsTheOpen) {
    setenv("KORVELCOM_COM9", pty.slavePath().c_str(), 1);
    port.setCommPort(9);
    port.setPortOpen(true);
    EXPECT_EQ(port.devicePath(), pty.slavePath());
    port.setPortOpen(false);
    port.setCommPort(kPort);
    PortMap::set(kPort, "/dev/korvelcom-no-such-device");
    expectOpenFails(port, "does not exist");

    PortMap::set(kPort, "/dev/null");
    EXPECT_THROW(port.setPortOpen(true), SerialError);
    EXPECT_FALSE(port.portOpen());
}

TEST_F(PosixSerialTest, SecondOpenerIsBusyUntilTheFirstCloses) {
    port.setPortOpen(true);
    PosixSerialComm other(loop);
    other.setCommPort(kPort);
    expectOpenFails(other, "busy");
    // The refused opener did not disturb the owner.
    ASSERT_EQ(pty.write("ok"), 2u);
    EXPECT_TRUE(yieldUntil([&] { return port.inBufferCount() == 2; }));

    port.setPortOpen(false);
    other.setPortOpen(true);
    EXPECT_TRUE(other.portOpen());
}

TEST_F(PosixSerialTest, OpenerInAnotherProcessIsBusy) {
    port.setPortOpen(true);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int code = 1;
        try {
            PosixHostLoop childLoop;
            PosixSerialComm intruder(childLoop);
            intruder.setCommPort(kPort);
            intruder.setPortOpen(true);
            code = 2;  // opened: the lock did not hold
        } catch (const SerialError& e) {
            code = std::string(e.what()).find("busy") != std::string::npos ? 0 : 3;
        }
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// errno of an open of `path` by an unprivileged user (0 when it opened).  Root ignores the
// exclusive flag of a terminal, so as root the attempt runs in a child that gives up root.
int unprivilegedOpenError(const std::string& path) {
    auto attempt = [&] {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return errno;
        close(fd);
        return 0;
    };
    if (geteuid() != 0) return attempt();
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(255);
        _exit(attempt());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(PosixSerialTest, ExclusiveFlagKeepsOtherProgramsOutOnlyWhileOpen) {
    if (geteuid() == 0) {
        ASSERT_EQ(chmod(pty.slavePath().c_str(), 0666), 0);
    }
    ASSERT_EQ(unprivilegedOpenError(pty.slavePath()), 0);
    port.setPortOpen(true);
    EXPECT_EQ(unprivilegedOpenError(pty.slavePath()), EBUSY);
    port.setPortOpen(false);
    EXPECT_EQ(unprivilegedOpenError(pty.slavePath()), 0);
}

TEST_F(PosixSerialTest, MasterStaysQuietAfterThePortClosesAndWorksAfterReopening) {
    port.setPortOpen(true);
    port.setPortOpen(false);
    pollfd p{pty.masterFd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0) << "revents " << p.revents;
    EXPECT_EQ(pty.readAvailable(), "");
    port.setPortOpen(true);
    port.output("again");
    EXPECT_EQ(masterReceives(5), "again");
}

TEST_F(PosixSerialTest, EveryByteValuePassesUnchangedAndInOrder) {
    port.setPortOpen(true);
    const std::string bytes = allByteValues();
    port.output(bytes);
    EXPECT_EQ(masterReceives(bytes.size()), bytes);
    ASSERT_EQ(pty.write(bytes), bytes.size());
    ASSERT_TRUE(yieldUntil([&] { return port.inBufferCount() == 256; }));
    EXPECT_EQ(port.input(), bytes);
    EXPECT_EQ(port.inBufferCount(), 0);
    EXPECT_EQ(port.input(), "");
}

TEST_F(PosixSerialTest, StaleBytesAreDiscardedAtOpenAndInputLenLimitsOneInput) {
    ASSERT_EQ(pty.write("stale"), 5u);
    port.setPortOpen(true);
    ASSERT_EQ(pty.write("abcdef"), 6u);
    ASSERT_TRUE(yieldUntil([&] { return port.inBufferCount() == 6; }));
    port.setInputLen(4);
    EXPECT_EQ(port.input(), "abcd");
    EXPECT_EQ(port.inBufferCount(), 2);
    EXPECT_EQ(port.input(), "ef");
    port.setInputLen(0);
    ASSERT_EQ(pty.write("ghi"), 3u);
    ASSERT_TRUE(yieldUntil([&] { return port.inBufferCount() == 3; }));
    EXPECT_EQ(port.input(), "ghi");
}

TEST_F(PosixSerialTest, ReceiveNotificationComesFromYieldOnlyWhileThresholdIsSet) {
    std::vector<int16_t> events;
    port.setOnComm([&] { events.push_back(port.commEvent()); });
    port.setPortOpen(true);

    ASSERT_EQ(pty.write("ab"), 2u);
    ASSERT_TRUE(yieldUntil([&] { return port.inBufferCount() == 2; }));
    loop.runFor(20);
    EXPECT_TRUE(events.empty()) << "notified with RThreshold 0";

    port.setRThreshold(1);
    loop.runFor(20);
    EXPECT_TRUE(events.empty()) << "characters that arrived with notifications off notified";

    // Wait for the byte on the device without yielding, and take it in with InBufferCount:
    // that gathers it but must not notify; the next yield does.
    ASSERT_EQ(pty.write("c"), 1u);
    pollfd p{port.waitHandle(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_EQ(port.inBufferCount(), 3);
    EXPECT_TRUE(events.empty());
    loop.yield();
    EXPECT_EQ(events, std::vector<int16_t>{kCommEvReceive});
    EXPECT_EQ(port.commEvent(), kCommEvNone);  // only valid inside the handler
    EXPECT_EQ(port.input(), "abc");

    loop.runFor(20);
    EXPECT_EQ(events.size(), 1u) << "notified again without new characters";
}

TEST_F(PosixSerialTest, OutputBeyondWhatTheDeviceTakesIsQueuedAndDrainedInOrder) {
    port.setPortOpen(true);
    std::string big;
    for (int i = 0; i < (1 << 20); ++i)
        big.push_back(static_cast<char>((i * 7 + i / 256) & 0xff));
    port.output(big);  // returns at once although the pty buffer is far smaller
    EXPECT_GT(port.pendingOutput(), 0u);
    port.output("END");
    std::string got;
    yieldUntil(
        [&] {
            got += pty.readAvailable();
            return got.size() >= big.size() + 3;
        },
        5000);
    ASSERT_EQ(got.size(), big.size() + 3);
    EXPECT_TRUE(got == big + "END");
    EXPECT_EQ(port.pendingOutput(), 0u);
}

TEST_F(PosixSerialTest, WireLogRecordsBothDirectionsWithTime) {
    WireLog log;
    port.setWireLog(&log);
    port.setPortOpen(true);
    port.output("\x05");
    ASSERT_EQ(masterReceives(1), "\x05");
    ASSERT_EQ(pty.write("\x06OK"), 3u);
    ASSERT_TRUE(yieldUntil([&] { return port.inBufferCount() == 3; }));
    EXPECT_EQ(log.bytes(WireLog::Dir::Out), "\x05");
    EXPECT_EQ(log.bytes(WireLog::Dir::In), "\x06OK");
    ASSERT_EQ(log.entries().size(), 4u);
    EXPECT_EQ(log.entries().front().dir, WireLog::Dir::Out);
    for (std::size_t i = 1; i < log.entries().size(); ++i)
        EXPECT_GE(log.entries()[i].timeUs, log.entries()[i - 1].timeUs);
    port.setWireLog(nullptr);
    port.output("x");
    EXPECT_EQ(log.entries().size(), 4u);
}

// ---- the device going away ------------------------------------------------------------------

TEST_F(PosixSerialTest, UnpluggedDeviceFailsTheNextMemberWithoutSpinningTheLoop) {
    int notifications = 0;
    port.setOnComm([&] { ++notifications; });
    port.setRThreshold(1);
    port.setPortOpen(true);
    pty.closeMaster();

    const uint64_t before = loop.yieldCount();
    loop.runFor(100);
    // About 100 passes when idle yields block; an endless stream of hang-up reads would make
    // the loop spin through many thousands.
    EXPECT_LT(loop.yieldCount() - before, 1000u);
    EXPECT_TRUE(port.gone());
    EXPECT_EQ(port.waitHandle(), -1);
    EXPECT_EQ(notifications, 0);

    EXPECT_TRUE(port.portOpen());
    EXPECT_THROW(port.inBufferCount(), SerialError);
    EXPECT_THROW(port.input(), SerialError);
    EXPECT_THROW(port.output("x"), SerialError);
    // Closing is always possible and clears the state; reopening finds no device behind the
    // slave path any more.
    port.setPortOpen(false);
    EXPECT_FALSE(port.gone());
    EXPECT_THROW(port.setPortOpen(true), SerialError);
    EXPECT_FALSE(port.portOpen());
}

TEST(PtyTest, MasterReadsNothingRatherThanFailingBeforeAnyPortOpens) {
    Pty pty;
    EXPECT_EQ(pty.slavePath().rfind("/dev/pts/", 0), 0u) << pty.slavePath();
    EXPECT_TRUE(pty.masterOpen());
    EXPECT_EQ(pty.readAvailable(), "");
    pollfd p{pty.masterFd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0) << "master reports an event with no port open";
    EXPECT_EQ(pty.write("hello"), 5u);
    pty.closeMaster();
    EXPECT_FALSE(pty.masterOpen());
    EXPECT_EQ(pty.masterFd(), -1);
    EXPECT_EQ(pty.readAvailable(), "");
    EXPECT_THROW(pty.write("x"), std::system_error);
}

}  // namespace
}  // namespace korvel
