// The Qt host loop: posted work and its faults, a line's data taken in while the application
// idles in Qt's own loop, and the Escape key seen application-wide, ending a control's wait.
#include <fcntl.h>
#include <unistd.h>

#include "Rig.h"
#include "qt/QtPlatform.h"

namespace korvel::qt {
namespace {

TEST(QtHostLoop, PostedWorkRunsInOrderAndItsFaultReachesOnlyAWait) {
    QtHostLoop loop;
    std::string ran;
    loop.post([&] { ran += "a"; });
    loop.post([] { throw std::runtime_error("posted work failed"); });
    loop.post([&] { ran += "b"; });
    EXPECT_THROW(loop.yield(), std::runtime_error);
    EXPECT_EQ(ran, "ab");
    loop.post([] { throw std::runtime_error("posted work failed"); });
    EXPECT_NO_THROW(QTest::qWait(20)) << "run by Qt's own loop, outside a wait: dropped";
    EXPECT_NO_THROW(loop.yield()) << "nor is it kept for the next wait";
}

/// A pipe standing for a terminal's line: its read end is the wait handle once `open`.
struct Pipe : LoopSource {
    int fds[2] = {-1, -1};
    bool open = false;
    std::string got;
    Pipe() { EXPECT_EQ(::pipe2(fds, O_NONBLOCK), 0); }
    ~Pipe() override { ::close(fds[0]), ::close(fds[1]); }
    bool service() override {
        const std::size_t before = got.size();
        for (char c; ::read(fds[0], &c, 1) == 1;)
            got += c;
        return got.size() > before;
    }
    ReadyHandle waitHandle() const override { return open ? fds[0] : -1; }
};

TEST(QtHostLoop, ALinesDataIsTakenInWhileTheApplicationIdles) {
    Pipe line;  // outlives the loop, which keeps it registered to the end
    QtHostLoop loop;
    loop.addSource(&line);
    line.open = true;  // a port opened by a host call, with no yield since
    EXPECT_EQ(::write(line.fds[1], "HELLO", 5), 5);
    EXPECT_TRUE(QTest::qWaitFor([&] { return line.got == "HELLO"; }, 3000)) << line.got;
    EXPECT_EQ(loop.yieldCount(), 0u) << "no wait of ours ran";
}

TEST(QtHostLoop, EscapeSeenInAnyWindowEndsAControlsWaitUnlessSwitchedOff) {
    QtPlatform platform;
    KorvelComTools control(platform);
    QtHostLoop& loop = platform.loop();
    QWidget first, second;
    std::string seen;
    const auto note = [&] { seen += loop.escapeDown() ? "1" : "0"; };
    const auto escape = [&](QWidget* to, QEvent::Type type, bool repeat = false) {
        QKeyEvent key(type, Qt::Key_Escape, Qt::NoModifier, QString(), repeat);
        QApplication::sendEvent(to, &key);
        note();
    };
    escape(&first, QEvent::KeyPress);
    QTest::keyClick(&second, Qt::Key_Enter), note();  // other keys do not count
    escape(&second, QEvent::KeyRelease, true);        // a repeated key's release: still held
    escape(&second, QEvent::KeyRelease);
    QTest::keyClick(&second, Qt::Key_Enter), note();
    escape(&first, QEvent::KeyPress);
    QEvent deactivate(QEvent::ApplicationDeactivate);  // its release goes to another application
    QApplication::sendEvent(qApp, &deactivate), note();
    EXPECT_EQ(seen, "1110010");

    // The key pressed while the control waits: Qt's loop runs inside the wait.
    loop.post([&] { escape(&first, QEvent::KeyPress); }, 30);
    const int32_t deadline = tickAdd(loop.tick(), 5000);
    control.WaitTimeout(deadline);
    EXPECT_FALSE(tickPassed(loop.tick(), deadline)) << "Escape ended the wait";
    control.setEscapeKeyEnabled(false);
    const int32_t shortDeadline = tickAdd(loop.tick(), 40);
    control.WaitTimeout(shortDeadline);
    EXPECT_TRUE(tickPassed(loop.tick(), shortDeadline)) << "the key is held but switched off";
    escape(&first, QEvent::KeyRelease);
}

}  // namespace
}  // namespace korvel::qt
