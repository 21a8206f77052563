// The simulator in real time on pseudo-terminals: the control on the POSIX platform against a
// terminal in the same thread, and the `korvelcom sim --pty` command run in the background and
// stopped with SIGTERM.  Results only; no wall-clock assertions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "korvelcom/KorvelComTools.h"
#include "platform/posix/PosixSerialComm.h"
#include "sim/Frames.h"
#include "sim/PtyPort.h"
#include "sim/Terminal.h"

extern char** environ;

namespace korvel::sim::test {
namespace {

TEST(RealTime, ControlExchangesWithTheTerminalOnAPseudoTerminal) {
    Platform& platform = defaultPlatform();
    PtyPort port(platform.loop());
    Terminal term(platform.loop(), port);
    term.setResponder(
        [](const std::string& rq) -> std::optional<std::string> { return "APPROVED " + rq; });
    constexpr int16_t kPort = 11;
    PortMap::set(kPort, port.slavePath());
    {
        KorvelComTools c(platform);
        c.setCommPort(kPort);
        EXPECT_EQ(c.Message("PAY 42", 5000), "APPROVED PAY 42");
        EXPECT_EQ(c.ReceiveError(), "");

        std::string send = "PING", rec;
        int16_t status = -1;
        c.MessageTestK7200(send, rec, status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(rec, "OKPING" + std::string(1, ETX));
    }
    PortMap::set(kPort, "");
    EXPECT_EQ(term.received(), std::vector<std::string>{"PAY 42"});
    EXPECT_EQ(term.sent(), std::vector<std::string>{"APPROVED PAY 42"});
}

/// A child process killed, if it still runs, when the test leaves early.
struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
};

/// Reads from `fd` until `want` bytes came or `ms` passed.
std::string readFor(int fd, std::size_t want, int ms) {
    std::string got;
    for (int waited = 0; got.size() < want && waited < ms; waited += 10) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) > 0) {
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
    }
    return got;
}

TEST(RealTime, SimCommandRunsInTheBackgroundAndStopsOnSigterm) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);  // stdin closed
    std::string cli = KORVEL_CLI_PATH;
    std::string a1 = "sim", a2 = "--pty", a3 = "--quiet";
    char* argv[] = {cli.data(), a1.data(), a2.data(), a3.data(), nullptr};
    Child child;
    ASSERT_EQ(posix_spawn(&child.pid, cli.c_str(), &fa, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);

    std::string line;
    for (std::string chunk; line.find('\n') == std::string::npos;) {
        chunk = readFor(out[0], 1, 5000);
        if (chunk.empty()) break;
        line += chunk;
    }
    ASSERT_NE(line.find('\n'), std::string::npos) << "no device path printed";
    const std::string path = line.substr(0, line.find('\n'));
    EXPECT_EQ(path.rfind("/dev/", 0), 0u) << path;

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfmakeraw(&t);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);

    auto put = [&](const std::string& s) {
        ASSERT_EQ(::write(fd, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    };
    put(std::string(1, ENQ));
    EXPECT_EQ(readFor(fd, 1, 3000), std::string(1, ACK));
    put(lrcFrame("HELLO"));
    EXPECT_EQ(readFor(fd, 1, 3000), std::string(1, ACK));
    put(std::string(1, EOT));
    EXPECT_EQ(readFor(fd, 1, 3000), std::string(1, ENQ)) << "the reply session opens";
    put(std::string(1, ACK));
    EXPECT_EQ(readFor(fd, 8, 3000), lrcFrame("HELLO"));
    ::close(fd);

    ASSERT_EQ(::kill(child.pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
    child.pid = -1;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::close(out[0]);
}

}  // namespace
}  // namespace korvel::sim::test
