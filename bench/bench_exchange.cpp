// Basic payments in real time against the simulated terminal on pseudo-terminals.
//
// Reports:
//   1. exchange overhead: wall time of each POSMessage minus the protocol floor, the sum of the
//      waits the protocol itself prescribes with the default link parameters and the terminal's
//      default timing (see `protocolFloorMs`).  A pseudo-terminal delivers bytes at once, so
//      the floor has no wire time.  Each of the control's timed waits ends at the first
//      millisecond tick past its deadline, so the tick rule alone adds 0 to 1 ms per wait
//      (seven waits per payment: 3.5 ms on average); that is reported inside the overhead.
//   2. CPU: thread CPU seconds per payment, and the share of a core during a 10 s reply wait.
//   3. lanes: K threads, each with its own control, its own simulator and its own pty, paying
//      at the same time; p99 overhead and total process CPU.
//
// Usage: bench_exchange [payments] [lane payments]   (defaults 40 and 4)
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/platform/Endpoint.h"
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

struct Lane {
    std::vector<double> overheadMs;
    double cpuS = 0;
    int failures = 0;
};

// One control and its terminal on this thread's loop: `payments` payments, gap waits excluded.
Lane runLane(int payments) {
    Lane lane;
    KorvelComTools c;  // this thread's own platform, loop and POS fields
    korvel::sim::PtyPort port(c.platform().loop());
    korvel::sim::TerminalOptions options;
    korvel::sim::Terminal terminal(c.platform().loop(), port, options);
    terminal.setResponder(korvel::sim::paymentReply);
    const auto portNumber = static_cast<int16_t>(
        100 + (std::hash<std::thread::id>{}(std::this_thread::get_id()) % 30000));
    korvel::PortMap::set(portNumber, port.slavePath());
    c.setCommPort(portNumber);
    c.setPOSAmount("00001500");
    const double floor = protocolFloorMs(c, options);
    const double cpu0 = threadCpuS();
    for (int i = 0; i < payments; ++i) {
        // The gap after the previous exchange is the host's time, not the payment's.
        c.WaitTimeout(c.linkState().NextCommandTick);
        const double t0 = nowMs();
        const std::string reply = c.POSMessage();
        const double took = nowMs() - t0;
        if (reply.size() != 80) {
            ++lane.failures;
            continue;
        }
        lane.overheadMs.push_back(took - floor);
    }
    lane.cpuS = threadCpuS() - cpu0;
    c.CommClose();
    return lane;
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
