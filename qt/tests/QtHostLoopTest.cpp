// The Qt host loop: tick, sleeping waits that end past their deadline, posted work, sources
// serviced inside waits and from Qt's own loop, and the Escape key seen application-wide.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <stdexcept>
#include <string>
#include <vector>

#include "korvelcom/KorvelComTools.h"
#include "qt/QtHostLoop.h"
#include "qt/QtPlatform.h"

namespace korvel::qt {
namespace {

/// A source on a pipe: `service()` reads what arrived.  `open()` and `close()` switch the wait
/// handle between the pipe and none, like a port that opens and closes.
class PipeSource : public LoopSource {
  public:
    PipeSource() {
        if (::pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    }
    ~PipeSource() override {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    bool service() override {
        ++services;
        char buf[64];
        bool got = false;
        while (::read(fds_[0], buf, sizeof buf) > 0)
            got = true;
        if (got) ++deliveries;
        return got;
    }
    int waitHandle() const override { return open_ ? fds_[0] : -1; }
    void send() { ASSERT_EQ(::write(fds_[1], "x", 1), 1); }
    void setOpen(bool open) { open_ = open; }

    int services = 0;
    int deliveries = 0;

  private:
    int fds_[2] = {-1, -1};
    bool open_ = true;
};

TEST(QtHostLoop, TickStartsFarFromZeroAndFollowsTheClock) {
    QtHostLoop loop;
    const int32_t t0 = loop.tick();
    EXPECT_GE(t0, 1'000'000'000);
    EXPECT_LT(t0, 1'000'001'000);
    loop.runFor(20);
    EXPECT_GE(loop.tick() - t0, 20) << "runFor ends once 20 ms have passed on the tick";
}

TEST(QtHostLoop, YieldUntilEndsOnlyPastTheDeadlineAndSleepsMeanwhile) {
    QtHostLoop loop;
    const int32_t deadline = tickAdd(loop.tick(), 60);
    const uint64_t before = loop.yieldCount();
    int32_t now = loop.tick();
    while (!tickPassed(now, deadline)) {
        loop.yieldUntil(deadline);
        now = loop.tick();
    }
    const uint64_t yields = loop.yieldCount() - before;
    // The wait sleeps in slices of at most 10 ms (the Escape poll), so a 60 ms wait takes a
    // handful of yields where a 1 ms spin would take 60.
    EXPECT_LE(yields, 30u);
    EXPECT_GE(yields, 1u);
    ::testing::Test::RecordProperty("overshoot_ms", std::to_string(now - deadline));
    ::testing::Test::RecordProperty("yields", std::to_string(yields));
}

TEST(QtHostLoop, PostedWorkRunsInPostingOrderAndNotBeforeItsDelay) {
    QtHostLoop loop;
    std::vector<std::string> ran;
    const int32_t t0 = loop.tick();
    int32_t lateAt = 0;
    loop.post(
        [&] {
            ran.push_back("late");
            lateAt = loop.tick();
        },
        30);
    loop.post([&] { ran.push_back("a"); });
    loop.post([&] { ran.push_back("b"); });
    loop.yield();
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b"}));
    const int32_t deadline = tickAdd(t0, 1000);
    while (ran.size() < 3 && !tickPassed(loop.tick(), deadline))
        loop.yieldUntil(deadline);
    ASSERT_EQ(ran.size(), 3u);
    EXPECT_GE(lateAt - t0, 30);
}

TEST(QtHostLoop, PostedWorkIsDroppedWithTheLoop) {
    bool ran = false;
    {
        QtHostLoop loop;
        loop.post([&] { ran = true; }, 5);
    }
    QTest::qWait(30);
    EXPECT_FALSE(ran);
}

TEST(QtHostLoop, AFaultOfPostedWorkReachesTheYieldThatRanIt) {
    QtHostLoop loop;
    loop.post([] { throw std::runtime_error("posted work failed"); });
    EXPECT_THROW(loop.yield(), std::runtime_error);
    // The fault is reported once: the next yield runs normally.
    EXPECT_NO_THROW(loop.yield());
}

TEST(QtHostLoop, ArrivingDataEndsASleepingWaitAtOnce) {
    QtHostLoop loop;
    PipeSource source;
    loop.addSource(&source);
    loop.post([&] { source.send(); }, 20);
    const int32_t deadline = tickAdd(loop.tick(), 5000);
    while (source.deliveries == 0 && !tickPassed(loop.tick(), deadline))
        loop.yieldUntil(deadline);
    EXPECT_EQ(source.deliveries, 1);
    EXPECT_FALSE(tickPassed(loop.tick(), deadline)) << "the data woke the wait long before";
    loop.removeSource(&source);
}

TEST(QtHostLoop, ReadySourceIsServicedByQtsOwnEventLoop) {
    QtHostLoop loop;
    PipeSource source;
    source.setOpen(false);
    loop.addSource(&source);
    // The handle appears without any yield (a port opened by a host call): the loop must
    // pick it up before Qt's event loop sleeps.
    source.setOpen(true);
    source.send();
    // Qt's own loop, as the application's exec() runs it, without any yield of ours.
    QEventLoop idle;
    QTimer::singleShot(3000, &idle, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &idle, [&] {
        if (source.deliveries > 0) idle.quit();
    });
    poll.start(5);
    idle.exec();
    EXPECT_EQ(source.deliveries, 1);
    EXPECT_EQ(loop.yieldCount(), 0u);

    // Removed sources are neither serviced nor watched any more.
    loop.removeSource(&source);
    const int services = source.services;
    source.send();
    QTest::qWait(30);
    loop.yield();
    EXPECT_EQ(source.services, services);
}

TEST(QtHostLoop, EscapeIsSeenWhicheverWindowGetsTheKey) {
    QtHostLoop loop;
    QWidget first;
    QLineEdit second;
    first.show();
    second.show();
    EXPECT_FALSE(loop.escapeDown());
    QTest::keyPress(&first, Qt::Key_Escape);
    EXPECT_TRUE(loop.escapeDown());
    // A repeated key's release is not the key going up.
    QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(&second, &repeatRelease);
    EXPECT_TRUE(loop.escapeDown());
    QTest::keyRelease(&second, Qt::Key_Escape);
    EXPECT_FALSE(loop.escapeDown());
    // Other keys do not count.
    QTest::keyPress(&second, Qt::Key_Enter);
    EXPECT_FALSE(loop.escapeDown());
    QTest::keyRelease(&second, Qt::Key_Enter);
}

TEST(QtHostLoop, EscapeEndsAControlsWaitEarly) {
    QtPlatform platform;
    KorvelComTools control(platform);
    QWidget window;
    window.show();
    auto& loop = platform.loop();
    loop.post([&] { QTest::keyPress(&window, Qt::Key_Escape); }, 30);
    const int32_t deadline = tickAdd(loop.tick(), 5000);
    control.WaitTimeout(deadline);
    EXPECT_FALSE(tickPassed(loop.tick(), deadline)) << "Escape ended the wait";
    QTest::keyRelease(&window, Qt::Key_Escape);

    // With the switch off the key is ignored and the wait runs to its deadline.
    control.setEscapeKeyEnabled(false);
    QTest::keyPress(&window, Qt::Key_Escape);
    const int32_t shortDeadline = tickAdd(loop.tick(), 40);
    control.WaitTimeout(shortDeadline);
    EXPECT_TRUE(tickPassed(loop.tick(), shortDeadline));
    QTest::keyRelease(&window, Qt::Key_Escape);
}

}  // namespace
}  // namespace korvel::qt
