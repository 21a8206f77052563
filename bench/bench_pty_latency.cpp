// Receive latency of the POSIX serial port on a pseudo-terminal.
//
// A writer thread sends one byte at a time to the pty master, at irregular intervals of 1 to 3
// ms, and notes the time just before each write.  The main thread waits the way the control
// does (yield, read the tick, repeat) with a serial port on the slave side, RThreshold 1;
// its receive notification notes the time and takes the byte.  Reports the delay from write to
// notification: median, p90, p99 and max in microseconds; the goal is a median under 1 ms.
//
// Usage: bench_pty_latency [samples]   (default 1000)
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "korvelcom/platform/Endpoint.h"
#include "platform/BufferedSerialComm.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/Pty.h"

namespace {

int64_t nowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

}  // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (samples <= 0) {
        std::fprintf(stderr, "usage: %s [samples]\n", argv[0]);
        return 2;
    }

    korvel::Pty pty;
    korvel::PortMap::set(1, pty.slavePath());
    korvel::PosixHostLoop loop;
    korvel::BufferedSerialComm port(loop, korvel::systemOpener());
    port.setSettings("9600,n,8,1");
    port.setRThreshold(1);

    std::vector<std::atomic<int64_t>> sentAt(static_cast<std::size_t>(samples));
    std::vector<int64_t> latency;
    latency.reserve(static_cast<std::size_t>(samples));
    std::atomic<int> received{0};
    int wrongBytes = 0;
    port.setOnComm([&] {
        if (port.commEvent() != korvel::kCommEvReceive) return;
        const int64_t t = nowUs();
        for (const char c : port.input()) {
            const int i = received.load();
            if (i >= samples) break;
            if (static_cast<unsigned char>(c) != static_cast<unsigned char>(i & 0xff)) ++wrongBytes;
            latency.push_back(t - sentAt[static_cast<std::size_t>(i)].load());
            received.store(i + 1);
        }
    });
    port.setPortOpen(true);

    std::thread writer([&] {
        std::mt19937 rng(12345);
        std::uniform_int_distribution<int> pauseUs(1000, 3000);
        for (int i = 0; i < samples; ++i) {
            // One byte in flight at a time: wait until the previous one was taken.
            while (received.load() < i)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(rng)));
            sentAt[static_cast<std::size_t>(i)].store(nowUs());
            const std::string byte(1, static_cast<char>(i & 0xff));
            if (pty.write(byte) != 1) std::fprintf(stderr, "pty write refused\n");
        }
    });

    const int32_t deadline = korvel::tickAdd(loop.tick(), 10 * 1000 + samples * 20);
    while (received.load() < samples && !korvel::tickPassed(loop.tick(), deadline))
        loop.yield();
    writer.join();

    if (latency.empty()) {
        std::printf("no notification received\n");
        return 1;
    }
    std::sort(latency.begin(), latency.end());
    auto pct = [&](double p) {
        const auto idx = static_cast<std::size_t>(p * static_cast<double>(latency.size() - 1));
        return latency[idx];
    };
    std::printf("pty write -> receive notification, %zu samples (RThreshold 1, loop yielding)\n",
                latency.size());
    std::printf("  median %lld us   p90 %lld us   p99 %lld us   max %lld us\n",
                static_cast<long long>(pct(0.5)), static_cast<long long>(pct(0.9)),
                static_cast<long long>(pct(0.99)), static_cast<long long>(latency.back()));
    if (wrongBytes) std::printf("  %d bytes arrived out of order or changed\n", wrongBytes);
    std::printf("goal: median under 1000 us\n");
    return static_cast<int>(latency.size()) == samples && wrongBytes == 0 ? 0 : 1;
}
