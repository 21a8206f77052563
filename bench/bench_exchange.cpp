// Basic payments in real time against the simulated terminal on pseudo-terminals.
//
// Reports:
//   1. exchange overhead: wall time of each POSMessage minus the protocol floor, the sum of the
//      waits the protocol itself prescribes with the default link parameters and the terminal's
//      default timing (see `protocolFloorMs`).  A pseudo-terminal delivers bytes at once, so
//      the floor has no wire time.  The overhead of each payment is split into:
//      - the tick rule: each of the control's timed waits ends at the first millisecond tick
//        past its deadline, so it lasts up to 1 ms longer than its duration, by how far into
//        its millisecond the deadline was computed (measured per wait on a watched loop);
//      - the simulator: how much later than its own prescribed pauses the terminal answered
//        (from its wire log: its rounding of the processing delay to whole milliseconds and
//        its timers' wake-ups);
//      - the rest: the control's wake-ups after a deadline had passed (shown on its own),
//        reads, writes and the pseudo-terminal's transit.
//      Everything beyond the tick rule is shown as one figure too, next to how late this
//      machine's timer wakes a bare sleep.  Waking earlier does not shorten a payment: the
//      control then reads the tick earlier in its millisecond, and the tick rule takes back
//      what the wake-up saved (a build that woke exactly on time measured the same total).
//   2. CPU: thread CPU seconds per payment, and the share of a core during a 10 s reply wait.
//   3. lanes: K threads, each with its own control, its own simulator and its own pty, paying
//      at the same time; p99 overhead and total process CPU.
//
// Usage: bench_exchange [payments] [lane payments]   (defaults 40 and 4)
#include <poll.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/platform/Endpoint.h"
#include "korvelcom/platform/Platform.h"
#include "platform/posix/PosixHostLoop.h"
#include "sim/PaymentResponder.h"
#include "sim/PtyPort.h"
#include "sim/Terminal.h"

namespace {

using korvel::KorvelComTools;

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double threadCpuS() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double processCpuS() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The waits a basic payment cannot avoid, in milliseconds.  Control (c) and terminal (t):
//   t ACK to ENQ after its reply pause; c pause, frame; t pause, ACK; c pause, EOT;
//   t processing delay after the EOT (the control's pause after EOT runs inside it), ENQ;
//   c pause, ACK; t pause, frame; c silence that ends the frame, pause, ACK; t pause, EOT;
//   c silence that ends the tail, pause, message stored.
double protocolFloorMs(const KorvelComTools& c, const korvel::sim::TerminalOptions& t) {
    const double cPause = c.TOwaitReply(), silence = c.TOBetweenChar(), tPause = t.replyPauseMs;
    return tPause + cPause + tPause + cPause + t.processingDelayMs + cPause + tPause +
           (silence + cPause) + tPause + (silence + cPause);
}

// The POSIX loop, watched: the control's tick reads and deadline waits.  A wait starts when
// the loop is first asked to wait for a new deadline X; the tick read T that computed it is the
// latest one with X - T a duration the control uses.  When the loop returns with the tick past
// X, the wait ran to its deadline: the tick rule added the time from that read to the end of
// its millisecond, and the loop woke (now - the first microsecond of tick X + 1) late.
class WatchedLoop : public korvel::PosixHostLoop {
  public:
    struct Wait {
        double endUs;  ///< steady clock, as the wire logs
        double tickRuleUs, lateUs;
    };

    explicit WatchedLoop(std::vector<int32_t> durations)
        : startUs_(nowMs() * 1e3), durations_(std::move(durations)) {}

    int32_t tick() override {
        const int32_t t = PosixHostLoop::tick();
        reads_.push_back({t, usSinceStart()});
        return t;
    }

    void yieldUntil(int32_t deadline) override {
        if (deadline != deadline_) startWait(deadline);
        PosixHostLoop::yieldUntil(deadline);
        if (counting_ && usSinceStart() >= endUs_) {
            counting_ = false;
            waits.push_back({startUs_ + endUs_, tickRule_, usSinceStart() - endUs_});
        }
    }

    std::vector<Wait> waits;  ///< the waits that ran to their deadline

  private:
    struct Read {
        int32_t tick;
        double us;
    };
    double usSinceStart() const { return nowMs() * 1e3 - startUs_; }
    // Microseconds since the loop started at which tick `t` begins.
    static double tickStartUs(int32_t t) { return (static_cast<double>(t) - 1e9) * 1e3; }

    void startWait(int32_t deadline) {
        deadline_ = deadline;
        counting_ = false;
        for (auto r = reads_.rbegin(); r != reads_.rend() && !counting_; ++r) {
            if (std::find(durations_.begin(), durations_.end(), deadline - r->tick) ==
                durations_.end())
                continue;
            counting_ = true;
            tickRule_ = tickStartUs(r->tick + 1) - r->us;
            endUs_ = tickStartUs(deadline + 1);
        }
        reads_.clear();
    }

    double startUs_;
    std::vector<int32_t> durations_;
    std::vector<Read> reads_;
    int32_t deadline_ = 0;
    bool counting_ = false;
    double tickRule_ = 0, endUs_ = 0;
};

// The POSIX platform around a watched loop.
class WatchedPlatform : public korvel::Platform {
  public:
    explicit WatchedPlatform(std::vector<int32_t> durations) : loop_(std::move(durations)) {}
    WatchedLoop& loop() override { return loop_; }
    std::unique_ptr<korvel::Transport> createTransport(const korvel::Endpoint& where) override {
        return korvel::makeSystemTransport(where);
    }
    korvel::SettingsStore& settings() override { return *settings_; }
    korvel::SystemServices& system() override { return *system_; }

  private:
    WatchedLoop loop_;
    std::unique_ptr<korvel::SettingsStore> settings_ = korvel::makeSystemSettingsStore();
    std::unique_ptr<korvel::SystemServices> system_ = korvel::makeSystemServices();
};

// One payment's overhead, in milliseconds, by cause.
struct Parts {
    double tickRule = 0;   ///< the control's waits, to the end of the millisecond they began in
    double late = 0;       ///< the control woken after the tick had passed a deadline
    double simulator = 0;  ///< the terminal answering later than its prescribed pauses
    double transit = 0;    ///< bytes between one side's write and the other side's read
};

// The parts of one payment from the control's waits and both wire logs (entries from the
// payment's start on; both stamped on the steady clock).  A wait counts when the control acted
// on its end: the next byte on the line after it is not the terminal's (the control's pause
// after its EOT, for one, runs inside the terminal's processing delay).
Parts partsOf(const std::vector<WatchedLoop::Wait>& waits, const korvel::WireLog& control,
              std::size_t controlFrom, const korvel::WireLog& terminal, std::size_t terminalFrom,
              const korvel::sim::TerminalOptions& t) {
    using Dir = korvel::WireLog::Dir;
    struct Event {
        double us;
        bool terminal;
        Dir dir;
    };
    std::vector<Event> line;
    for (std::size_t i = controlFrom; i < control.entries().size(); ++i)
        line.push_back({double(control.entries()[i].timeUs), false, control.entries()[i].dir});
    for (std::size_t i = terminalFrom; i < terminal.entries().size(); ++i)
        line.push_back({double(terminal.entries()[i].timeUs), true, terminal.entries()[i].dir});
    std::stable_sort(line.begin(), line.end(), [](auto& a, auto& b) { return a.us < b.us; });

    Parts p;
    double terminalGaps = 0;
    for (std::size_t i = 1; i < line.size(); ++i) {
        const Event &a = line[i - 1], &b = line[i];
        if (b.dir == Dir::In && a.dir == Dir::Out && a.terminal != b.terminal)
            p.transit += b.us - a.us;
        // The terminal's transmissions follow the last byte it received by its reply pause,
        // or by its processing delay for the session that carries the reply.
        if (b.terminal && b.dir == Dir::Out && a.terminal && a.dir == Dir::In)
            terminalGaps += b.us - a.us;
    }
    p.simulator = terminalGaps - 1e3 * (4.0 * t.replyPauseMs + t.processingDelayMs);
    for (const auto& w : waits) {
        const auto next =
            std::find_if(line.begin(), line.end(), [&](auto& e) { return e.us >= w.endUs; });
        if (next != line.end() && next->terminal && next->dir == Dir::Out) continue;
        p.tickRule += w.tickRuleUs;
        p.late += w.lateUs;
    }
    for (double* v : {&p.tickRule, &p.late, &p.simulator, &p.transit})
        *v /= 1e3;
    return p;
}

struct Lane {
    std::vector<double> overheadMs;
    std::vector<Parts> parts;
    double cpuS = 0;
    int failures = 0;
};

// One control and its terminal on this thread's loop: `payments` payments, gap waits excluded.
Lane runLane(int payments) {
    Lane lane;
    // The control's timed waits: the yield before a send, the reply pause, the silence that
    // ends a reception, the wait for a character (defaults, checked below).
    WatchedPlatform platform({0, 20, 50, 600});
    KorvelComTools c(platform);  // this thread's own platform, loop and POS fields
    if (c.TOwaitReply() != 20 || c.TOBetweenChar() != 50 || c.TOwaitChar() != 600) std::abort();
    WatchedLoop& loop = platform.loop();
    korvel::sim::PtyPort port(loop);
    korvel::sim::TerminalOptions options;
    korvel::sim::Terminal terminal(loop, port, options);
    terminal.setResponder(korvel::sim::paymentReply);
    const auto portNumber = static_cast<int16_t>(
        100 + (std::hash<std::thread::id>{}(std::this_thread::get_id()) % 30000));
    korvel::PortMap::set(portNumber, port.slavePath());
    c.setCommPort(portNumber);
    c.setPOSAmount("00001500");
    korvel::WireLog wire;
    c.comm().setWireLog(&wire);
    const double floor = protocolFloorMs(c, options);
    const double cpu0 = threadCpuS();
    for (int i = 0; i < payments; ++i) {
        // The gap after the previous exchange is the host's time, not the payment's.
        c.WaitTimeout(c.linkState().NextCommandTick);
        const std::size_t controlFrom = wire.entries().size();
        const std::size_t terminalFrom = terminal.wire().entries().size();
        loop.waits.clear();
        const double t0 = nowMs();
        const std::string reply = c.POSMessage();
        const double took = nowMs() - t0;
        if (reply.size() != 80) {
            ++lane.failures;
            continue;
        }
        lane.overheadMs.push_back(took - floor);
        lane.parts.push_back(
            partsOf(loop.waits, wire, controlFrom, terminal.wire(), terminalFrom, options));
    }
    lane.cpuS = threadCpuS() - cpu0;
    c.CommClose();
    c.comm().setWireLog(nullptr);
    return lane;
}

// How late this machine's timer wakes a thread: sleeps in ppoll() to the next millisecond
// boundary but one, as the loop sleeps to a deadline; the median lateness in microseconds.
double bareWakeLateUs() {
    std::vector<double> late;
    for (int i = 0; i < 200; ++i) {
        const double now = nowMs() * 1e3;
        const double target = (std::floor(now / 1e3) + 2) * 1e3;
        const auto us = static_cast<long>(target - now);
        const timespec t{0, us * 1000};
        ppoll(nullptr, 0, &t, nullptr);
        late.push_back(nowMs() * 1e3 - target);
    }
    std::sort(late.begin(), late.end());
    return late[late.size() / 2];
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    const int payments = argc > 1 ? std::atoi(argv[1]) : 40;
    const int lanePayments = argc > 2 ? std::atoi(argv[2]) : 4;
    rlimit fds{};
    getrlimit(RLIMIT_NOFILE, &fds);
    fds.rlim_cur = fds.rlim_max;
    setrlimit(RLIMIT_NOFILE, &fds);

    {
        KorvelComTools probe;
        std::printf(
            "protocol floor per basic payment: %.0f ms (default link parameters, "
            "terminal processing delay %d ms, no wire time on a pty)\n\n",
            protocolFloorMs(probe, korvel::sim::TerminalOptions{}),
            korvel::sim::TerminalOptions{}.processingDelayMs);
    }

    // 1 and 2: one lane, measured on its own thread.
    Lane one;
    std::thread([&] { one = runLane(payments); }).join();
    std::printf(
        "exchange overhead over %zu payments: median %.2f ms, p99 %.2f ms, max %.2f ms"
        " (%d failed)\n",
        one.overheadMs.size(), percentile(one.overheadMs, 0.5), percentile(one.overheadMs, 0.99),
        percentile(one.overheadMs, 1.0), one.failures);
    const auto median = [&](double Parts::*part) {
        std::vector<double> v;
        for (const Parts& p : one.parts)
            v.push_back(p.*part);
        return percentile(v, 0.5);
    };
    std::vector<double> rest;
    for (std::size_t i = 0; i < one.parts.size(); ++i) {
        const Parts& p = one.parts[i];
        rest.push_back(one.overheadMs[i] - p.tickRule - p.late - p.simulator - p.transit);
    }
    std::printf(
        "  by cause (medians): tick rule %.2f ms; simulator %.2f ms; everything else: control "
        "woken after a passed deadline %.2f ms, bytes between a write and the other side's read "
        "%.2f ms, the rest (reads, writes, handling) %.2f ms\n",
        median(&Parts::tickRule), median(&Parts::simulator), median(&Parts::late),
        median(&Parts::transit), percentile(rest, 0.5));
    std::vector<double> beyond;
    for (std::size_t i = 0; i < one.parts.size(); ++i)
        beyond.push_back(one.overheadMs[i] - one.parts[i].tickRule);
    std::printf("  beyond the tick rule: median %.2f ms (goal: at most 1 ms)\n",
                percentile(beyond, 0.5));
    std::printf(
        "  this machine's timer: a bare ppoll() sleep to a millisecond boundary wakes %.0f us "
        "late (median of 200)\n",
        bareWakeLateUs());
    std::printf("CPU per payment (control and its simulator, one thread): %.2f ms\n",
                1e3 * one.cpuS / std::max(1, payments));

    double waitCpu = 0, waitWall = 0;
    std::thread([&] {
        KorvelComTools c;
        korvel::sim::PtyPort port(c.platform().loop());
        korvel::sim::Terminal terminal(c.platform().loop(), port);
        terminal.setResponder(korvel::sim::paymentReply);
        korvel::PortMap::set(99, port.slavePath());
        c.setCommPort(99);
        c.setPOSAmount(korvel::sim::kSilentAmount);  // never answered
        c.setPOSTimeout(10000);
        const double cpu0 = threadCpuS(), t0 = nowMs();
        c.POSMessage();
        waitCpu = threadCpuS() - cpu0;
        waitWall = (nowMs() - t0) / 1e3;
    }).join();
    std::printf("CPU during a %.1f s reply wait: %.4f s = %.3f %% of a core\n\n", waitWall, waitCpu,
                100.0 * waitCpu / waitWall);

    // 3: lanes.
    for (int k : {1, 16, 64, 256}) {
        std::vector<Lane> lanes(static_cast<std::size_t>(k));
        std::atomic<int> ready{0};
        const double cpu0 = processCpuS(), t0 = nowMs();
        std::vector<std::thread> threads;
        for (int i = 0; i < k; ++i)
            threads.emplace_back([&, i] {
                ++ready;
                lanes[static_cast<std::size_t>(i)] = runLane(lanePayments);
            });
        for (auto& t : threads)
            t.join();
        const double wall = (nowMs() - t0) / 1e3, cpu = processCpuS() - cpu0;
        std::vector<double> all;
        int failures = 0;
        for (const Lane& l : lanes) {
            all.insert(all.end(), l.overheadMs.begin(), l.overheadMs.end());
            failures += l.failures;
        }
        const double floor = protocolFloorMs(KorvelComTools(), korvel::sim::TerminalOptions{});
        const double p99 = percentile(all, 0.99);
        std::printf(
            "%3d lanes x %d payments: overhead median %.2f ms, p99 %.2f ms (%.1f %% of "
            "the floor), %d failed; wall %.1f s, process CPU %.2f s (%.1f %% of one "
            "core)\n",
            k, lanePayments, percentile(all, 0.5), p99, 100.0 * p99 / floor, failures, wall, cpu,
            100.0 * cpu / wall);
    }
    return 0;
}
