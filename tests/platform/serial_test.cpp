// The port component over the serial device transport, on pseudo-terminals: settings, exclusive
// use, bytes and notifications, the output queue, the receive buffer's bound, the device going
// away and coming back; and what port numbers resolve to.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "support/Pty.h"

namespace korvel {
namespace {

constexpr int16_t kPort = 3;

/// A megabyte of every byte value in a pattern that shows loss and reordering.
std::string megabyte() {
    std::string s;
    for (int i = 0; i < (1 << 20); ++i)
        s.push_back(static_cast<char>((i * 7 + i / 251) & 0xff));
    return s;
}

/// The message of the SerialError that opening `p` throws; "opened" when it opened.
std::string openFailure(BufferedSerialComm& p) {
    try {
        p.setPortOpen(true);
    } catch (const SerialError& e) {
        EXPECT_FALSE(p.portOpen());
        return e.what();
    }
    return "opened";
}

class Serial : public ::testing::Test {
  protected:
    Serial() {
        PortMap::set(kPort, pty->slavePath());
        port.setCommPort(kPort);
        port.setOnComm([&] { events += std::to_string(port.commEvent()); });
    }
    ~Serial() override { PortMap::clear(); }
    bool yieldUntil(const std::function<bool()>& done) { return test::yieldUntil(loop, done); }
    std::string received(Pty& at, std::size_t n) {
        std::string got;
        yieldUntil([&] { return (got += at.readAvailable()).size() >= n; });
        return got;
    }

    PosixHostLoop loop;
    std::unique_ptr<Pty> pty = std::make_unique<Pty>();
    BufferedSerialComm port{loop, systemOpener()};
    std::string events;  ///< the event of every notification
};

TEST_F(Serial, OpensInRawModeWithWhatTheDeviceAccepts) {
    // A pseudo-terminal runs 8 data bits without parity whatever was asked; 1.5 stop bits are 2.
    for (const auto& [settings, applied] :
         std::vector<std::pair<std::string, std::string>>{{"19200,n,8,2", "19200 n 8 4"},
                                                          {"9600,e,7,1", "9600 n 8 2"},
                                                          {"115200,o,6,1.5", "115200 n 8 4"}}) {
        SCOPED_TRACE(settings);
        port.setSettings(settings);
        port.setPortOpen(true);
        termios t{};
        ASSERT_EQ(tcgetattr(static_cast<int>(port.waitHandle()), &t), 0);
        const LineSettings a = port.transport()->appliedSettings();
        EXPECT_EQ(std::to_string(a.baud) + " " + a.parity + " " + std::to_string(a.dataBits) + " " +
                      std::to_string(a.stopHalfBits),
                  applied);
        EXPECT_EQ(cfgetospeed(&t), cfgetispeed(&t));
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CLOCAL | CREAD | CSTOPB),
                  CS8 | CLOCAL | CREAD | (a.stopHalfBits == 4 ? CSTOPB : 0u));
        EXPECT_FALSE((t.c_lflag & (ECHO | ICANON | ISIG)) || (t.c_iflag & (ICRNL | IXON)) ||
                     (t.c_oflag & OPOST) || t.c_cc[VMIN] || t.c_cc[VTIME]);
        EXPECT_EQ(port.settings() + port.transport()->endpoint().path, settings + pty->slavePath());
        EXPECT_THROW(port.setPortOpen(true), SerialError);
        port.setPortOpen(false);
        EXPECT_EQ(port.waitHandle(), kNoReadyHandle);
        EXPECT_THROW(port.inBufferCount(), SerialError);
    }
    port.setSettings("14400,n,8,1");  // parses, but termios has no such speed
    EXPECT_NE(openFailure(port).find("14400"), std::string::npos);
    PortMap::set(kPort, "/dev/korvelcom-no-such-device");
    EXPECT_NE(openFailure(port).find("does not exist"), std::string::npos);
    PortMap::set(kPort, "/dev/null");
    EXPECT_NE(openFailure(port).find("not a serial device"), std::string::npos);
    PortMap::set(kPort, "/");  // exists, but cannot be opened for writing: the cause is told
    EXPECT_NE(openFailure(port).find("cannot open the device: Is a directory"), std::string::npos);
    PortMap::set(kPort, "tcp://127.0.0.1:1");  // a network port: nobody listens there
    EXPECT_NE(openFailure(port).find("connection refused"), std::string::npos);
}

TEST_F(Serial, OneOpenerAtATimeInAnyProcess) {
    {
        BufferedSerialComm first(loop, systemOpener());  // destroyed open: released as closed
        first.setCommPort(kPort);
        first.setPortOpen(true);
        EXPECT_NE(openFailure(port).find("busy"), std::string::npos);
    }
    EXPECT_EQ(openFailure(port), "opened");
    BufferedSerialComm other(loop, systemOpener());
    other.setCommPort(kPort);
    EXPECT_NE(openFailure(other).find("busy"), std::string::npos);
    const pid_t child = fork();  // a program of ours in another process: its port's own loop
    if (child == 0) _exit(openFailure(other).find("busy") != std::string::npos ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    port.setPortOpen(false);
    EXPECT_EQ(openFailure(other), "opened");
}

TEST(PortMapping, CodeWinsOverTheEnvironmentOverTheDefaultAndMalformedTextsAreRefused) {
    // mapped text -> what it resolves to for port 4, or the refusal
    const std::pair<const char*, const char*> rows[] = {
        {"/dev/code", "/dev/code"},
        {"tcp://terminal.local:4001", "tcp terminal.local 4001"},
        {"rfc2217://[fe80::1]:2217", "rfc2217 fe80::1 2217"},
        {"udp://host:1", "COM4 (udp://host:1): unknown scheme"},
        {"tcp://host", "COM4 (tcp://host): no port number"},
        {"tcp://:80", "COM4 (tcp://:80): no host"},
        {"tcp://host:65536", "COM4 (tcp://host:65536): the TCP port must be"},
    };
    for (const auto& [text, expected] : rows) {
        PortMap::set(4, text);
        std::string got;
        try {
            const Endpoint e = PortMap::resolve(4);
            const char* kinds[] = {"", "tcp ", "rfc2217 "};
            got = kinds[static_cast<int>(e.kind)] + e.path;
            if (e.tcpPort) got += " " + std::to_string(e.tcpPort);
            if (e.text() != text) got += " reads back as " + e.text();
        } catch (const SerialError& err) {
            got = std::string(err.what()).substr(0, std::string(expected).size());
        }
        EXPECT_EQ(got, expected);
    }
    setenv("KORVELCOM_COM4", "/dev/env", 1);
    PortMap::set(5, "/dev/code");
    PortMap::set(4, "");
    EXPECT_EQ(PortMap::lookup(4) + PortMap::lookup(5) + PortMap::lookup(1),
              "/dev/env/dev/code/dev/ttyS0");
    PortMap::clear();
    setenv("KORVELCOM_COM4", "", 1);
    EXPECT_EQ(PortMap::lookup(4) + PortMap::lookup(5), "/dev/ttyS3/dev/ttyS4");
}

TEST_F(Serial, BytesPassUnchangedNotifyFromAYieldAndTheCloseFlushes) {
    const std::string all = megabyte().substr(0, 256);
    ASSERT_EQ(pty->write("stale"), 5u);  // arrived while closed: dropped at open
    port.setPortOpen(true);
    port.output(all);
    EXPECT_EQ(received(*pty, 256), all);
    ASSERT_EQ(pty->write(all), 256u);
    ASSERT_TRUE(yieldUntil([&] { return port.inBufferCount() == 256; }));
    loop.runFor(20);
    port.setRThreshold(1);
    loop.runFor(20);
    EXPECT_EQ(events, "") << "characters that came with notifications off notified";
    EXPECT_EQ(port.input() + port.input(), all);
    // Taken in by InBufferCount, a byte notifies only at the next yield, and only once.
    ASSERT_EQ(pty->write("a"), 1u);
    pollfd p{static_cast<int>(port.waitHandle()), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 10'000), 1);
    EXPECT_EQ(port.inBufferCount(), 1);
    EXPECT_EQ(events, "");
    loop.runFor(20);
    EXPECT_EQ(events + "/" + std::to_string(port.commEvent()),
              std::to_string(kCommEvReceive) + "/" + std::to_string(kCommEvNone));
    port.setRThreshold(3);  // two characters wait, three are needed
    ASSERT_EQ(pty->write("b"), 1u);
    ASSERT_TRUE(yieldUntil([&] { return port.inBufferCount() == 2; }));
    loop.runFor(20);
    ASSERT_EQ(pty->write("c"), 1u);
    EXPECT_TRUE(yieldUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(port.input(), "abc");
    // Closing makes one last attempt at queued output: the terminal takes what fitted while the
    // loop does not run, and the close writes on.
    const std::string big = megabyte();
    port.output(big);
    ASSERT_GT(port.transport()->pendingOutput(), 0u);
    std::string got = pty->readAvailable();
    const std::size_t before = got.size();
    port.setPortOpen(false);
    got += pty->readAvailable();
    EXPECT_GT(got.size(), before) << "the close wrote nothing of what was queued";
    EXPECT_TRUE(got == big.substr(0, got.size())) << "out of order";
}

TEST_F(Serial, AHostWithoutStandardInputGetsThePortAsDescriptorZeroAndCanPollIt) {
    // Daemons close their standard input, so the port's device opens as descriptor 0.
    const int saved = dup(0);
    ASSERT_GE(saved, 0);
    ::close(0);
    const std::string opened = openFailure(port);
    const auto handle = port.waitHandle();
    ASSERT_EQ(pty->write("pong"), 4u);
    pollfd p{static_cast<int>(handle), POLLIN, 0};
    const int ready = poll(&p, 1, 10'000);
    yieldUntil([&] { return port.inBufferCount() == 4; });
    port.output("ping");
    const std::string out = received(*pty, 4);
    const std::string in = port.input();
    port.setPortOpen(false);
    dup2(saved, 0);
    ::close(saved);
    EXPECT_EQ(
        opened + " " + std::to_string(handle) + " " + std::to_string(ready) + " " + in + " " + out,
        "opened 0 1 pong ping");
}

TEST_F(Serial, OutputIsQueuedInOrderUntilTheDeviceVanishesThenReattachedWhenNeeded) {
    port.setRThreshold(1);
    port.setPortOpen(true);
    const std::string big = megabyte();
    port.output(big);  // returns at once although the pty buffer is far smaller
    EXPECT_GT(port.transport()->pendingOutput(), 0u);
    port.output("END");
    EXPECT_TRUE(received(*pty, big.size() + 3) == big + "END");
    ASSERT_EQ(pty->write("old"), 3u);
    ASSERT_TRUE(yieldUntil([&] { return events.size() == 1; }));
    port.output(big);
    pty->closeMaster();
    ASSERT_TRUE(yieldUntil([&] { return port.gone(); }));
    EXPECT_EQ(port.transport()->pendingOutput(), 0u)
        << "nothing queued can reach a vanished device";
    EXPECT_LT(test::waitFor(loop, 300), 30u) << "the loop polls the dead device and its leftovers";
    EXPECT_EQ(std::to_string(events.size()) + "," + std::to_string(port.waitHandle()),
              "1," + std::to_string(kNoReadyHandle));
    EXPECT_THROW(port.inBufferCount(), SerialError) << "nothing mapped yet but the dead path";
    EXPECT_THROW(port.output("x"), SerialError);

    Pty back;  // a device under the port number again: the next member carries on with it
    PortMap::set(kPort, back.slavePath());
    port.output("to-new");
    EXPECT_EQ(received(back, 6), "to-new");
    EXPECT_EQ(port.inBufferCount(), 0) << "the old device's leftovers are dropped";
    EXPECT_EQ(port.transport()->endpoint().path + (port.gone() ? " gone" : ""), back.slavePath());
    ASSERT_EQ(back.write("new"), 3u);
    ASSERT_TRUE(yieldUntil([&] { return events.size() == 2; })) << "the threshold survives";
    EXPECT_EQ(port.input(), "new");
    BufferedSerialComm other(loop, systemOpener());  // the new device is ours alone
    other.setCommPort(kPort);
    EXPECT_NE(openFailure(other).find("busy"), std::string::npos);
}

TEST_F(Serial, TheReceiveBufferFillsToItsBoundAndTheDeviceKeepsTheRestInOrder) {
    port.setPortOpen(true);  // no notifications: the bytes stay until taken
    const std::string pattern = megabyte();
    test::PtyPeer<> writer(*pty);
    writer.start([&](test::PtyPeer<>& t) { t.send(pattern); });
    ASSERT_TRUE(yieldUntil([&] { return port.waitHandle() == kNoReadyHandle; }));
    // Characters wait, so the loop wakes every millisecond; one spinning makes thousands.
    EXPECT_LT(test::waitFor(loop, 300), 1000u) << "the loop spins on the device that has more";
    std::string got = port.input();
    EXPECT_EQ(got.size(), BufferedSerialComm::kReceiveBufferSize);
    yieldUntil([&] { return (got += port.input()).size() >= pattern.size(); });
    writer.join();
    EXPECT_TRUE(got == pattern) << "bytes lost or reordered: " << got.size();
}

}  // namespace
}  // namespace korvel
