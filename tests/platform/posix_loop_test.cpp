// The POSIX host: the loop (the tick, posted work and timers, sources, idle sleeps and Escape),
// the settings store and the system's processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

#include "platform/posix/IniSettingsStore.h"
#include "platform/posix/PosixSystemServices.h"
#include "support/Pty.h"
#include "support/TempDir.h"

namespace korvel {
namespace {

struct Source : LoopSource {
    std::function<void()> onService;
    int services = 0, fd = -1;
    bool service() override {
        ++services;
        if (onService) onService();
        return false;
    }
    ReadyHandle waitHandle() const override { return fd; }
};

TEST(PosixLoop, WorkRunsInOrderNeverEarlyOncePerYieldAndMayYield) {
    PosixHostLoop loop;
    const int32_t start = loop.tick();
    EXPECT_LT(tickAdd(start, -1'000'000'000), 5'000) << "the tick starts at its base";
    std::string ran;
    const auto at = [&](const char* name) { return [&, name] { ran += name; }; };
    loop.post([&] {
        ran += "a";
        loop.post(at("c"));  // posted meanwhile: the next yield
    });
    loop.post(at("b"), -5);
    loop.yield();
    ran += "|";
    loop.yield();
    loop.post([&] {
        ran += "<";
        loop.yield();  // a nested yield runs the rest once
        ran += ">";
    });
    loop.post(at("d"));
    loop.yield();
    loop.yield();
    const int32_t posted = loop.tick();
    loop.post([&] { ran += loop.tick() - posted >= 40 ? "late " : "EARLY "; }, 40);
    loop.post([&] { ran += loop.tick() - posted >= 10 ? "soon " : "EARLY "; }, 10);
    test::yieldUntil(loop, [&] { return ran.find("late") != std::string::npos; });
    EXPECT_EQ(ran, "ab|c<d>soon late ");
}

TEST(PosixLoop, IdleWaitsSleepUntilTheDeadlineAnEventOrTheEscapePoll) {
    PosixHostLoop loop;
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    Source src;
    src.fd = fds[0];
    loop.addSource(&src);
    // A plain yield sleeps at most a millisecond; one spinning makes many thousands in 100 ms.
    const uint64_t y0 = loop.yieldCount();
    loop.runFor(100);
    EXPECT_LT(loop.yieldCount() - y0, 1000u);
    EXPECT_GE(static_cast<uint64_t>(src.services), loop.yieldCount() - y0);
    // A deadline-aware wait wakes a few times; with Escape to watch, every 10 ms or so.
    EXPECT_LT(test::waitFor(loop, 300), 10u);
    bool held = false;
    loop.setEscapeSource([&] { return held; });
    const uint64_t polled = test::waitFor(loop, 300);
    EXPECT_TRUE(polled >= 5 && polled < 100) << polled;
    held = true;
    EXPECT_TRUE(loop.escapeDown());
    loop.setEscapeSource(nullptr);
    EXPECT_FALSE(loop.escapeDown());

    // A byte arriving ends a long sleep and is serviced in the same yield.
    bool readable = false;
    src.onService = [&] {
        char buf[4];
        readable = readable || read(fds[0], buf, sizeof buf) > 0;
    };
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(write(fds[1], "x", 1), 1);
    });
    loop.yieldUntil(tickAdd(loop.tick(), 20'000));
    writer.join();
    EXPECT_TRUE(readable) << "slept to the deadline, or left the byte for a later yield";
    loop.removeSource(&src);
    close(fds[0]);
    close(fds[1]);
}

TEST(PosixSettings, ReadsTheApplicationsIniFileWithNamesInAnyCase) {
    const std::string dir = test::ownTempDir("settings").string();
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    const std::string file = IniSettingsStore::pathFor("KorvelTest");
    ASSERT_EQ(file, dir + "/korvelcom/KorvelTest.ini");
    std::filesystem::create_directories(dir + "/korvelcom");
    std::ofstream(file) << "; DataCode=1\n[Other]\nDataCode=2\n [ keys ]\n# DataCode=3\n"
                           " datacode = 4711 \nEmpty=\n";
    IniSettingsStore store;
    std::string got;
    for (const char* at : {"Keys DataCode", "KEYS Empty", "Keys Missing", "Other DATACODE",
                           "None DataCode", "keys DataCod"}) {
        const std::string text = at;
        const auto blank = text.find(' ');
        got += store.get("KorvelTest", text.substr(0, blank), text.substr(blank + 1), "-") + "|";
    }
    EXPECT_EQ(got + store.get("NoSuchApp", "Keys", "DataCode", "-"), "4711||-|2|-|-|-");
    unsetenv("XDG_CONFIG_HOME");
}

// Children are reaped once ended; any other process is asked of the system, where a zombie has
// ended.  0 and -1 name process groups.
TEST(PosixSystem, ProcessesStartEndAndAreReaped) {
    PosixSystemServices sys;
    const auto reaped = [](int32_t pid) {
        return waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
    };
    EXPECT_FALSE(sys.startProcess({}) || sys.startProcess({""}));
    // Under valgrind a spawn cannot tell that the program failed to run (it ends with 127).
    EXPECT_FALSE(sys.startProcess({"no-such-program"}) && !RUNNING_ON_VALGRIND);
    EXPECT_TRUE(!sys.processRunning(0) && !sys.processRunning(-1) && sys.processRunning(getpid()));
    siginfo_t info{};  // waitid: waits for an end, leaving the child to be reaped
    const auto sleeper = sys.startProcess({"sleep", "30"});  // found on PATH
    const auto a = sys.startProcess({"true"});
    ASSERT_TRUE(sleeper && a && !waitid(P_PID, *a, &info, WEXITED | WNOWAIT));
    EXPECT_TRUE(!sys.processRunning(*a) && reaped(*a));
    const auto b = sys.startProcess({"true"});
    ASSERT_TRUE(b && !waitid(P_PID, *b, &info, WEXITED | WNOWAIT));
    EXPECT_FALSE(sys.startProcess({""}));
    EXPECT_TRUE(reaped(*b)) << "by the next start, even one that fails";
    EXPECT_TRUE(sys.processRunning(*sleeper));
    kill(*sleeper, SIGKILL);
    sys.waitForProcessEnd(*sleeper);
    EXPECT_TRUE(reaped(*sleeper) && !sys.processRunning(*sleeper));

    // A program of another's that never waits for its ended child: the child is a zombie.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t parent = fork();
    if (parent == 0) {
        const pid_t child = fork();
        if (child == 0) _exit(0);
        if (write(fds[1], &child, sizeof child) == sizeof child)
            execlp("sleep", "sleep", "30", nullptr);
        _exit(1);
    }
    pid_t zombie = 0;
    ASSERT_TRUE(parent > 0 && read(fds[0], &zombie, sizeof zombie) == sizeof zombie && zombie > 0);
    sys.waitForProcessEnd(zombie);  // polls: it is not ours to wait for
    EXPECT_EQ(kill(zombie, 0), 0) << "it is still there, as a zombie";
    EXPECT_TRUE(!sys.processRunning(zombie) && sys.processRunning(parent));
    kill(parent, SIGKILL);
    EXPECT_EQ(waitpid(parent, nullptr, 0), parent);
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
}  // namespace korvel
