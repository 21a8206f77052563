// CPU cost of waiting on the POSIX host loop.
//
// Measures user + system CPU time (getrusage) spent by
//   1. the control's WaitTimeout(tick + 5000) on the default platform, and
//   2. the bare waiting pattern on a PosixHostLoop (yield, read the tick, repeat until 5 s passed),
// each with one open serial port on a pseudo-terminal registered with the loop, as during a
// real wait for a terminal's reply, and
//   3. for reference, a loop doing nothing but poll() on that device for 1 ms at a time: the
// cost of the wake-up cadence itself on this machine.
// Reports the share of one core; the goal is under 2 %.
//
// Usage: bench_wait_cpu [seconds]   (default 5)
#include <poll.h>
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/platform/Endpoint.h"
#include "korvelcom/platform/Platform.h"
#include "platform/BufferedSerialComm.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/Pty.h"

namespace {

double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double wallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void report(const char* what, korvel::PosixHostLoop* loop, const std::function<void()>& wait) {
    const uint64_t yields0 = loop ? loop->yieldCount() : 0;
    const double cpu0 = cpuSeconds();
    const double wall0 = wallSeconds();
    wait();
    const double wall = wallSeconds() - wall0;
    const double cpu = cpuSeconds() - cpu0;
    std::printf("%-44s wall %6.3f s  cpu %7.4f s  = %5.2f %% of a core", what, wall, cpu,
                100.0 * cpu / wall);
    if (loop)
        std::printf("  (%llu yields, %.0f/s)",
                    static_cast<unsigned long long>(loop->yieldCount() - yields0),
                    static_cast<double>(loop->yieldCount() - yields0) / wall);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
        return 2;
    }
    const int32_t ms = seconds * 1000;
    korvel::Pty pty;
    korvel::PortMap::set(1, pty.slavePath());

    // 1. The control's own wait, on the platform a host gets by default.
    {
        korvel::Platform& platform = korvel::defaultPlatform();
        auto* loop = dynamic_cast<korvel::PosixHostLoop*>(&platform.loop());
        auto serial = platform.createSerial();
        serial->setSettings("9600,n,8,1");
        serial->setPortOpen(true);
        korvel::KorvelComTools control(platform);
        report("KorvelComTools::WaitTimeout(tick + 5000)", loop,
               [&] { control.WaitTimeout(korvel::tickAdd(platform.loop().tick(), ms)); });
    }

    // 2. The bare waiting pattern on a loop of its own.
    {
        korvel::PosixHostLoop loop;
        korvel::BufferedSerialComm serial(loop, korvel::systemOpener());
        serial.setSettings("9600,n,8,1");
        serial.setPortOpen(true);
        report("yield/tick loop on PosixHostLoop", &loop, [&] {
            const int32_t deadline = korvel::tickAdd(loop.tick(), ms);
            do {
                loop.yield();
            } while (!korvel::tickPassed(loop.tick(), deadline));
        });
    }
    // 3. The floor on this machine: nothing but poll() for 1 ms on the open device, the wake-up
    //    cadence an idle yield has.  What the loops above cost beyond it is their own work.
    {
        korvel::PosixHostLoop loop;
        korvel::BufferedSerialComm serial(loop, korvel::systemOpener());
        serial.setSettings("9600,n,8,1");
        serial.setPortOpen(true);
        report("floor: bare poll(device, 1 ms) loop", nullptr, [&] {
            const double end = wallSeconds() + seconds;
            while (wallSeconds() < end) {
                pollfd p{static_cast<int>(serial.waitHandle()), POLLIN, 0};
                (void)poll(&p, 1, 1);
            }
        });
    }
    std::printf("goal: under 2 %% of a core\n");
    return 0;
}
