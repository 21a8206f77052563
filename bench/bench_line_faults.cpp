// CPU cost of line faults on the POSIX platform, measured on a pseudo-terminal.
//
// A scripted terminal on its own thread, at the master side of the pseudo-terminal, takes a
// payment request (ACK, frame, ACK, EOT) and then misbehaves while the control waits up to
// POSTimeout for the reply.  For each case the control's thread reports wall time, its own CPU
// time (getrusage RUSAGE_THREAD) as a share of one core, and the loop's passes:
//   1. the terminal stays silent (the reference: an ordinary long reply wait);
//   2. the terminal vanishes (the master closes, as when the cable is pulled);
//   3. the same with an Escape source set, so the loop wakes every 10 ms to poll the key;
//   4. the terminal floods the line with random bytes and frame-shaped junk at the full speed
//      of the pseudo-terminal, and the host waits again after every failed reception;
//   5. the same flood paced at 9600 baud (960 bytes a second), as a real line would carry it.
// The flooding thread's own CPU is reported apart.
//
// Usage: bench_line_faults [seconds]   (length of each wait, default 3)
#include <poll.h>
#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/platform/Endpoint.h"
#include "korvelcom/platform/Platform.h"
#include "link/Frame.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/Pty.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int16_t kPort = 1;

double threadCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

/// The terminal's side: reads and writes the master without blocking the control.
class Terminal {
  public:
    explicit Terminal(korvel::Pty& pty) : pty_(pty) {}
    bool awaitByte(char b, int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end && pty_.masterOpen()) {
            for (; pos_ < in_.size(); ++pos_)
                if (in_[pos_] == b) {
                    ++pos_;
                    return true;
                }
            pollfd p{pty_.masterFd(), POLLIN, 0};
            (void)poll(&p, 1, 5);
            in_ += pty_.readAvailable();
        }
        return false;
    }
    /// Writes everything unless `stop` is set first; returns the bytes written.
    std::size_t send(const std::string& bytes, const std::atomic<bool>& stop) {
        std::size_t done = 0;
        while (done < bytes.size() && !stop && pty_.masterOpen()) {
            done += pty_.write(bytes.substr(done));
            if (done < bytes.size()) {
                pollfd p{pty_.masterFd(), POLLOUT, 0};
                (void)poll(&p, 1, 5);
            }
        }
        return done;
    }
    /// ACK to ENQ, the frame, ACK to it, the control's EOT.
    bool acceptRequest(const std::atomic<bool>& stop) {
        if (!awaitByte(korvel::link::ENQ, 5000)) return false;
        send(std::string(1, korvel::link::ACK), stop);
        if (!awaitByte(korvel::link::ETX, 5000) || !awaitAny(5000)) return false;
        send(std::string(1, korvel::link::ACK), stop);
        return awaitByte(korvel::link::EOT, 5000);
    }

  private:
    bool awaitAny(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (pos_ >= in_.size() && Clock::now() < end) {
            pollfd p{pty_.masterFd(), POLLIN, 0};
            (void)poll(&p, 1, 5);
            in_ += pty_.readAvailable();
        }
        if (pos_ >= in_.size()) return false;
        ++pos_;
        return true;
    }
    korvel::Pty& pty_;
    std::string in_;
    std::size_t pos_ = 0;
};

/// Random bytes without the link's control characters, frame-shaped bursts with a wrong check
/// and stray ENQs.
std::string noise(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s;
    while (s.size() < n) {
        if (byte(rng) < 16) {
            std::string text = "JUNK" + std::to_string(byte(rng));
            s += korvel::link::STX + text + korvel::link::ETX +
                 static_cast<char>(korvel::link::lrc(text + korvel::link::ETX) ^ 0x5A);
            if (byte(rng) < 64) s.push_back(korvel::link::ENQ);
            continue;
        }
        const char c = static_cast<char>(byte(rng));
        if (c >= korvel::link::STX && c <= korvel::link::ACK) continue;
        s.push_back(c);
    }
    return s;
}

enum class After { Silent, Vanish, Flood, PacedFlood };

struct Figures {
    double wall = 0, cpu = 0, peerCpu = 0;
    uint64_t yields = 0;
    std::size_t flooded = 0;
    int waits = 0;
};

Figures run(After after, int seconds, bool escapePolling) {
    korvel::Pty pty;
    korvel::PortMap::set(kPort, pty.slavePath());
    korvel::Platform& platform = korvel::defaultPlatform();
    auto* loop = dynamic_cast<korvel::PosixHostLoop*>(&platform.loop());
    loop->setEscapeSource(escapePolling ? std::function<bool()>([] { return false; })
                                        : std::function<bool()>());
    korvel::KorvelComTools control(platform);
    control.setCommPort(kPort);
    control.setCommSettings("9600,n,8,1");
    control.setPOSTimeout(seconds * 1000);

    Figures f;
    std::atomic<bool> stop{false};
    std::thread terminal([&] {
        Terminal t(pty);
        if (!t.acceptRequest(stop)) return;
        const double cpu0 = threadCpuSeconds();
        std::mt19937 rng(7);
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        switch (after) {
            case After::Silent:
                break;
            case After::Vanish:
                pty.closeMaster();
                break;
            case After::Flood:
                while (!stop && Clock::now() < end)
                    f.flooded += t.send(noise(rng, 4096), stop);
                break;
            case After::PacedFlood:
                // One byte every 1.04 ms: 10 bits a character at 9600 baud, sent in 10 ms
                // batches.
                while (!stop && Clock::now() < end) {
                    f.flooded += t.send(noise(rng, 10), stop);
                    std::this_thread::sleep_for(std::chrono::microseconds(10'417));
                }
                break;
        }
        f.peerCpu = threadCpuSeconds() - cpu0;
    });

    // The send takes a few tens of milliseconds; the figures cover the whole payment.
    const uint64_t y0 = loop->yieldCount();
    const double cpu0 = threadCpuSeconds();
    const auto t0 = Clock::now();
    std::string reply = control.POSMessage();
    f.waits = 1;
    // A host that waits on after a failed reception, for as long as the payment may take.
    while (reply.empty() && !control.ReceiveError().empty() && secondsSince(t0) < seconds) {
        control.setReceiveError("");
        reply = control.RecMessage(static_cast<int32_t>((seconds - secondsSince(t0)) * 1000));
        ++f.waits;
    }
    f.wall = secondsSince(t0);
    f.cpu = threadCpuSeconds() - cpu0;
    f.yields = loop->yieldCount() - y0;
    stop = true;
    terminal.join();
    loop->setEscapeSource(nullptr);
    korvel::PortMap::set(kPort, "");
    return f;
}

void report(const char* what, const Figures& f) {
    std::printf("%-46s wall %6.3f s  cpu %7.4f s = %6.2f %% of a core  %8llu yields (%6.0f/s)",
                what, f.wall, f.cpu, 100.0 * f.cpu / f.wall,
                static_cast<unsigned long long>(f.yields), static_cast<double>(f.yields) / f.wall);
    if (f.flooded > 0)
        std::printf(
            "\n%-46s %zu bytes flooded (%.1f MB/s), %d reply waits, flooding thread "
            "%.2f %% of a core",
            "", f.flooded, static_cast<double>(f.flooded) / f.wall / 1e6, f.waits,
            100.0 * f.peerCpu / f.wall);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 3;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
        return 2;
    }
    std::printf("payment whose reply wait (POSTimeout %d ms) meets a line fault:\n",
                seconds * 1000);
    report("terminal silent (reference)", run(After::Silent, seconds, false));
    report("terminal vanished", run(After::Vanish, seconds, false));
    report("terminal vanished, Escape polled every 10 ms", run(After::Vanish, seconds, true));
    report("noise flood at full pty speed", run(After::Flood, seconds, false));
    report("noise flood paced at 9600 baud", run(After::PacedFlood, seconds, false));
    return 0;
}
