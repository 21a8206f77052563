// The long mixed fault soak: basic payments and extended operations against the simulated
// terminal in virtual time, over a line that damages bytes in both directions.  Prints the
// outcomes, the tags and the problems, the heap after a tenth of the run and at its end, and the
// wall time; exits with 1 when the ledger found a problem.
//
// Usage: soak_mixed [exchanges] [seed] [fault scale] [settle ms]
//        (defaults 100000, 20261205, 1, 30000)
// The fault scale multiplies every per-byte fault probability; the settle time is how long the
// host lets the line settle after an exchange that went wrong (0: the next request at once).
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "tests/support/MixedSoak.h"

int main(int argc, char** argv) {
    using namespace korvel::soak;
    MixedSoakConfig cfg;
    cfg.exchanges = argc > 1 ? std::atoi(argv[1]) : 100'000;
    cfg.seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261205;
    cfg.scaleFaults(argc > 3 ? std::atof(argv[3]) : 1.0);
    if (argc > 4) cfg.settleAfterTroubleMs = std::atoi(argv[4]);
    // The heap once the ledger and the buffers have reached their working size, and at the end.
    size_t heapAtWarmup = 0, heapAtEnd = 0;
    cfg.afterExchange = [&](int done) {
        if (done == std::max(1, cfg.exchanges / 10)) heapAtWarmup = mallinfo2().uordblks;
        if (done == cfg.exchanges) heapAtEnd = mallinfo2().uordblks;
    };
    std::printf("mixed soak: %d exchanges, seed %llu, settle %d ms\n", cfg.exchanges,
                static_cast<unsigned long long>(cfg.seed), cfg.settleAfterTroubleMs);
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    const MixedSoakResult r = runMixedSoak(cfg);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::fputs(report(r).c_str(), stdout);
    std::printf("heap %zu bytes after the warm-up, %zu at the end\n", heapAtWarmup, heapAtEnd);
    std::printf("wall time %.1f s (%.0f exchanges a second, %.0f times faster than real time)\n",
                wall, cfg.exchanges / wall, static_cast<double>(r.virtualUs) / 1e6 / wall);
    return r.violations() == 0 ? 0 : 1;
}
