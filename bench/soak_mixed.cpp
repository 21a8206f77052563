// The long mixed fault soak: basic payments and the fifteen extended operations against the
// simulated terminal in virtual time, over a line that damages bytes in both directions.
// Prints the outcomes by operation and error tag, the faults injected, the memory figures and
// the wall time; exits with 1 when an invariant was violated (a wrong reply accepted that the
// frame check could have caught, a silent failure, a sequence drift, a hang).
//
// Usage: soak_mixed [exchanges] [seed] [fault scale] [settle ms]
//        (defaults 100000, 20261205, 1, 30000)
// The fault scale multiplies every per-byte fault probability and the burst rate.  The settle
// time is how long the host lets the line settle after an exchange that went wrong; 0 sends
// every request at once.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tests/support/MixedSoak.h"

int main(int argc, char** argv) {
    using namespace korvel::soak;
    MixedSoakConfig cfg;
    cfg.exchanges = argc > 1 ? std::atoi(argv[1]) : 100'000;
    cfg.seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261205;
    const double scale = argc > 3 ? std::atof(argv[3]) : 1.0;
    for (korvel::FaultProfile* f : {&cfg.toTerminal, &cfg.toControl}) {
        f->drop *= scale;
        f->corrupt *= scale;
        f->duplicate *= scale;
        f->delay *= scale;
        f->noise *= scale;
    }
    cfg.burstsPerMinute *= scale;
    if (argc > 4) cfg.settleAfterTroubleMs = std::atoi(argv[4]);
    cfg.warmup = std::max(1, cfg.exchanges / 10);
    std::printf(
        "mixed soak: %d exchanges, seed %llu, %.0f%% basic payments; per-byte faults each way: "
        "drop %.4f corrupt %.4f duplicate %.4f delay %.4f (up to %lld ms) noise %.4f; %.2f "
        "bursts a minute each way; host settles up to %d ms after trouble\n",
        cfg.exchanges, static_cast<unsigned long long>(cfg.seed), 100 * cfg.basicShare,
        cfg.toControl.drop, cfg.toControl.corrupt, cfg.toControl.duplicate, cfg.toControl.delay,
        static_cast<long long>(cfg.toControl.maxDelayUs / 1000), cfg.toControl.noise,
        cfg.burstsPerMinute, cfg.settleAfterTroubleMs);
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    const MixedSoakResult r = runMixedSoak(cfg);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::fputs(report(r).c_str(), stdout);
    std::printf("wall time %.1f s (%.0f exchanges a second, %.0f times faster than real time)\n",
                wall, cfg.exchanges / wall, static_cast<double>(r.virtualUs) / 1e6 / wall);
    std::printf("violations: %lld\n", static_cast<long long>(r.violations()));
    return r.violations() == 0 ? 0 : 1;
}
