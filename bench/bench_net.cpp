// Basic payments in real time against the simulated terminal over loopback TCP, next to the
// same payments on a pseudo-terminal in the same run.
//
// Reports:
//   1. exchange overhead over the protocol floor (the waits the protocol prescribes with the
//      default link parameters and the terminal's default timing; see bench_exchange), one
//      lane on a pseudo-terminal, then one lane over TCP: median, p99, max; and the difference
//      of the medians (goal: TCP within 1 ms of the pty).
//   2. lanes: K threads, each with its own control and its own simulator listening on its own
//      loopback port, paying at the same time over TCP: median and p99 overhead, p99 as a share
//      of the floor (goal at 256 lanes: p99 within floor + 5 %).  Every lane opens its port
//      first; once all are open, their first payments start spread evenly over one floor, as
//      the lanes of a shop start when their cashiers do, so that every lane pays while all the
//      others do.  For comparison, 256 lanes also run in step (all start at once): the tick rule
//      then aligns every lane's waits to the same millisecond, so their endpoints wake together
//      and queue for the cores.
//
// Usage: bench_net [payments] [lane payments]   (defaults 40 and 4)
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/platform/Endpoint.h"
#include "sim/PaymentResponder.h"
#include "sim/PtyPort.h"
#include "sim/TcpServer.h"

namespace {

using korvel::KorvelComTools;

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The same sum as bench_exchange's floor: pauses of both sides, the terminal's processing
// delay and the silences that end the frames.
double protocolFloorMs() {
    const KorvelComTools c;
    const korvel::sim::TerminalOptions t;
    const double cPause = c.TOwaitReply(), silence = c.TOBetweenChar(), tPause = t.replyPauseMs;
    return 4 * tPause + 5 * cPause + t.processingDelayMs + 2 * silence;
}

struct Lane {
    std::vector<double> overheadMs;
    int failures = 0;
};

// One control and its terminal on this thread's loop: over TCP, or on a pseudo-terminal.  The
// port is opened (and the terminal has taken the connection) before the measured payments;
// with `ready`, the lane then waits for all others to be open, and pays after `startUs`.
Lane runLane(int payments, bool tcp, std::latch* ready = nullptr, int64_t startUs = 0) {
    Lane lane;
    KorvelComTools c;  // this thread's own platform and loop
    korvel::HostLoop& loop = c.platform().loop();
    const auto equip = [](korvel::sim::Terminal& t) {
        t.setResponder(korvel::sim::paymentReply);
        return std::shared_ptr<void>();
    };
    std::unique_ptr<korvel::sim::TcpServer> server;
    std::unique_ptr<korvel::sim::PtyPort> pty;
    std::unique_ptr<korvel::sim::Terminal> terminal;
    std::string where;
    if (tcp) {
        server = std::make_unique<korvel::sim::TcpServer>(loop, "127.0.0.1", 0,
                                                          korvel::sim::TerminalOptions{}, equip);
        where = server->address();
    } else {
        pty = std::make_unique<korvel::sim::PtyPort>(loop);
        terminal = std::make_unique<korvel::sim::Terminal>(loop, *pty);
        equip(*terminal);
        where = pty->slavePath();
    }
    const auto port = static_cast<int16_t>(
        100 + (std::hash<std::thread::id>{}(std::this_thread::get_id()) % 30000));
    korvel::PortMap::set(port, where);
    c.setCommPort(port);
    c.setPOSAmount("00001500");
    const double floor = protocolFloorMs();
    if (!c.CommOpen()) std::abort();
    c.WaitTimeout(korvel::tickAdd(loop.tick(), 20));
    if (ready) ready->arrive_and_wait();
    std::this_thread::sleep_for(std::chrono::microseconds(startUs));
    for (int i = 0; i < payments; ++i) {
        c.WaitTimeout(c.linkState().NextCommandTick);  // the host's gap, not the payment's
        const double t0 = nowMs();
        const std::string reply = c.POSMessage();
        const double took = nowMs() - t0;
        if (reply.size() != 80) {
            ++lane.failures;
            continue;
        }
        lane.overheadMs.push_back(took - floor);
    }
    c.CommClose();
    return lane;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void report(const char* what, const Lane& l) {
    std::printf(
        "%-22s %3zu payments: overhead median %.2f ms, p99 %.2f ms, max %.2f ms (%d failed)\n",
        what, l.overheadMs.size(), percentile(l.overheadMs, 0.5), percentile(l.overheadMs, 0.99),
        percentile(l.overheadMs, 1.0), l.failures);
}

}  // namespace

int main(int argc, char** argv) {
    const int payments = argc > 1 ? std::atoi(argv[1]) : 40;
    const int lanePayments = argc > 2 ? std::atoi(argv[2]) : 4;
    rlimit fds{};
    getrlimit(RLIMIT_NOFILE, &fds);
    fds.rlim_cur = fds.rlim_max;
    setrlimit(RLIMIT_NOFILE, &fds);
    const double floor = protocolFloorMs();
    std::printf("protocol floor per basic payment: %.0f ms\n\n", floor);

    Lane pty, tcp;
    std::thread([&] { pty = runLane(payments, false); }).join();
    std::thread([&] { tcp = runLane(payments, true); }).join();
    report("pseudo-terminal", pty);
    report("loopback TCP", tcp);
    std::printf("TCP median - pty median: %+.2f ms (goal: within 1 ms)\n\n",
                percentile(tcp.overheadMs, 0.5) - percentile(pty.overheadMs, 0.5));

    const std::pair<int, bool> runs[] = {
        {1, false}, {16, false}, {64, false}, {256, false}, {256, true}};  // lanes, in step
    for (const auto& [k, inStep] : runs) {
        std::vector<Lane> lanes(static_cast<std::size_t>(k));
        std::latch ready(k);
        const double t0 = nowMs();
        std::vector<std::thread> threads;
        for (int i = 0; i < k; ++i) {
            const auto startUs = inStep ? 0 : static_cast<int64_t>(1e3 * floor * i / k);
            threads.emplace_back([&, i, startUs] {
                lanes[static_cast<std::size_t>(i)] = runLane(lanePayments, true, &ready, startUs);
            });
        }
        for (auto& t : threads)
            t.join();
        std::vector<double> all;
        int failures = 0;
        for (const Lane& l : lanes) {
            all.insert(all.end(), l.overheadMs.begin(), l.overheadMs.end());
            failures += l.failures;
        }
        const double p99 = percentile(all, 0.99);
        std::printf(
            "%3d TCP lanes x %d payments%s: overhead median %.2f ms, p99 %.2f ms (%.1f %% of "
            "the floor; goal at 256: within 5 %%), %d failed; wall %.1f s\n",
            k, lanePayments, inStep ? " in step" : "", percentile(all, 0.5), p99,
            100.0 * p99 / floor, failures, (nowMs() - t0) / 1e3);
    }
    return 0;
}
