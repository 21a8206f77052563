// The POSIX host loop: tick, posted work and timers, sources, escape.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/posix/PosixHostLoop.h"

namespace korvel {
namespace {

// Runs the loop until `done` holds or about `ms` milliseconds passed; returns `done()`.
template <class Pred>
bool yieldUntil(PosixHostLoop& loop, Pred done, int32_t ms = 1000) {
    const int32_t deadline = tickAdd(loop.tick(), ms);
    while (!done() && !tickPassed(loop.tick(), deadline))
        loop.yield();
    return done();
}

struct CountingSource : LoopSource {
    std::function<void()> onService;
    int services = 0;
    int fd = -1;
    bool service() override {
        ++services;
        if (onService) onService();
        return false;
    }
    int waitHandle() const override { return fd; }
};

TEST(PosixHostLoopTest, TickStartsAtTheBaseAndFollowsTheMonotonicClock) {
    PosixHostLoop loop;
    const int32_t first = loop.tick();
    EXPECT_GE(first, 1'000'000'000);
    EXPECT_LT(first, 1'000'000'000 + 5'000);
    loop.runFor(25);
    const int32_t later = loop.tick();
    EXPECT_TRUE(tickPassed(later, first));
    EXPECT_GE(later - first, 25);
}

TEST(PosixHostLoopTest, PostedWorkRunsInOrderAndWorkPostedMeanwhileWaitsForTheNextYield) {
    PosixHostLoop loop;
    std::vector<std::string> ran;
    loop.post([&] {
        ran.push_back("a");
        loop.post([&] { ran.push_back("c"); });
    });
    loop.post([&] { ran.push_back("b"); });
    loop.yield();
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b"}));
    loop.yield();
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
    loop.yield();
    EXPECT_EQ(ran.size(), 3u);

    // A yield nested inside posted work runs the rest once.
    ran.clear();
    loop.post([&] {
        ran.push_back("outer-start");
        loop.yield();
        ran.push_back("outer-end");
    });
    loop.post([&] { ran.push_back("second"); });
    loop.yield();
    loop.yield();
    EXPECT_EQ(ran, (std::vector<std::string>{"outer-start", "second", "outer-end"}));

    // Throwing work propagates and is not run again.
    int runs = 0;
    loop.post([&] {
        ++runs;
        throw std::runtime_error("host handler failed");
    });
    EXPECT_THROW(loop.yield(), std::runtime_error);
    EXPECT_NO_THROW(loop.yield());
    EXPECT_EQ(runs, 1);
}

TEST(PosixHostLoopTest, DelayedWorkRunsByDeadlineAndNeverEarly) {
    PosixHostLoop loop;
    std::vector<std::pair<std::string, int32_t>> ran;  // name, ticks after posting
    const int32_t posted = loop.tick();
    loop.post([&] { ran.emplace_back("late", loop.tick() - posted); }, 40);
    loop.post([&] { ran.emplace_back("soon", loop.tick() - posted); }, 10);
    loop.post([&] { ran.emplace_back("now", loop.tick() - posted); }, -5);
    ASSERT_TRUE(yieldUntil(loop, [&] { return ran.size() == 3; }));
    EXPECT_EQ(ran[0].first, "now");
    EXPECT_EQ(ran[1].first, "soon");
    EXPECT_GE(ran[1].second, 10);
    EXPECT_EQ(ran[2].first, "late");
    EXPECT_GE(ran[2].second, 40);
}

TEST(PosixHostLoopTest, SourcesMayBeAddedAndRemovedWhileServiced) {
    PosixHostLoop loop;
    CountingSource a;
    auto b = std::make_unique<CountingSource>();
    CountingSource c;
    // a removes and destroys b, then adds c, during the same pass.
    a.onService = [&] {
        if (b) {
            loop.removeSource(b.get());
            b.reset();
            loop.addSource(&c);
        }
    };
    loop.addSource(&a);
    loop.addSource(b.get());
    loop.addSource(&a);  // registering twice does not service twice
    loop.post([] {});    // keeps the pass busy: one service round, no idle wait
    loop.yield();
    EXPECT_EQ(a.services, 1);
    EXPECT_EQ(c.services, 0);  // added during the pass: serviced from the next one
    loop.post([] {});
    loop.yield();
    EXPECT_EQ(a.services, 2);
    EXPECT_EQ(c.services, 1);
    loop.removeSource(&a);
    loop.removeSource(&c);
    loop.post([] {});
    loop.yield();
    EXPECT_EQ(a.services, 2);
}

TEST(PosixHostLoopTest, IdleYieldsBlockInsteadOfSpinning) {
    PosixHostLoop loop;
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    CountingSource src;
    src.fd = fds[0];
    loop.addSource(&src);
    const uint64_t before = loop.yieldCount();
    loop.runFor(100);
    const uint64_t yields = loop.yieldCount() - before;
    // About 100 when every idle yield blocks for 1 ms; a spinning loop makes many thousands.
    EXPECT_LT(yields, 1000u);
    EXPECT_GE(src.services, static_cast<int>(yields));  // serviced at least once per yield
    loop.removeSource(&src);
    close(fds[0]);
    close(fds[1]);
}

TEST(PosixHostLoopTest, EscapeFollowsTheEscapeSource) {
    PosixHostLoop loop;
    EXPECT_FALSE(loop.escapeDown());
    bool held = true;
    loop.setEscapeSource([&] { return held; });
    EXPECT_TRUE(loop.escapeDown());
    held = false;
    EXPECT_FALSE(loop.escapeDown());
    held = true;
    loop.setEscapeSource(nullptr);
    EXPECT_FALSE(loop.escapeDown());
}

TEST(PosixHostLoopTest, DeadlineAwareYieldSleepsUntilTheDeadlineOrAnEvent) {
    PosixHostLoop loop;
    // A 300 ms wait with nothing happening: a handful of yields, ending past the deadline.
    const int32_t deadline = tickAdd(loop.tick(), 300);
    uint64_t yields = 0;
    while (!tickPassed(loop.tick(), deadline)) {
        loop.yieldUntil(deadline);
        ++yields;
    }
    EXPECT_LT(yields, 10u) << "an idle wait does not wake every millisecond";

    // With an escape source the key is polled every 10 ms or so.
    loop.setEscapeSource([] { return false; });
    const int32_t second = tickAdd(loop.tick(), 300);
    yields = 0;
    while (!tickPassed(loop.tick(), second)) {
        loop.yieldUntil(second);
        ++yields;
    }
    EXPECT_GE(yields, 5u) << "Escape is still polled during the wait";
    EXPECT_LT(yields, 100u);
    loop.setEscapeSource(nullptr);

    // Posted work and a readable descriptor end the sleep long before the deadline.
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    CountingSource src;
    src.fd = fds[0];
    bool readable = false;
    src.onService = [&] {
        char buf[4];
        readable = readable || read(fds[0], buf, sizeof buf) > 0;
    };
    loop.addSource(&src);
    loop.post([&] { ASSERT_EQ(write(fds[1], "x", 1), 1); }, 20);
    const int32_t far = tickAdd(loop.tick(), 5000);
    const int32_t start = loop.tick();
    while (!readable && !tickPassed(loop.tick(), far))
        loop.yieldUntil(far);
    EXPECT_TRUE(readable);
    EXPECT_LT(tickAdd(loop.tick(), -start), 1000) << "woken by the byte, not the deadline";
    loop.removeSource(&src);
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
}  // namespace korvel
