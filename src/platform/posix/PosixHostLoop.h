// The host loop of a POSIX thread: a monotonic millisecond tick, posted work and timers, and
// the serial ports and other sources serviced at every yield, with a short poll() while idle.
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "korvelcom/platform/HostLoop.h"

namespace korvel {

class PosixHostLoop : public HostLoop {
  public:
    /// Starts the tick clock: `tick()` reads 1,000,000,000 at construction.
    PosixHostLoop();
    PosixHostLoop(const PosixHostLoop&) = delete;
    PosixHostLoop& operator=(const PosixHostLoop&) = delete;

    /// Milliseconds on CLOCK_MONOTONIC since this loop was created, plus 1,000,000,000 so that
    /// the count starts far from 0 like a since-boot tick.  The sum is taken modulo 2^32 and
    /// read as signed 32-bit: it turns negative after about 13.3 days (2^31 - 10^9 ms) and
    /// wraps fully every 49.7 days.  Compare ticks with `tickPassed()`.  Never fails.
    int32_t tick() override;

    /// One pass of the loop, on the calling thread:
    /// 1. runs the posted work that is due, oldest deadline first and in posting order for equal
    ///    deadlines; work posted during this yield runs at a later one;
    /// 2. services every registered source (a source removed meanwhile is skipped);
    /// 3. when nothing ran and no work is due, blocks in poll() on the sources' wait handles for
    ///    at most 1 ms (less when posted work falls due sooner), then services the sources again
    ///    (skipped when the wait timed out: nothing arrived).  The first idle yield that finds
    ///    received data not yet taken (`LoopSource::hasPending`) returns without blocking.
    /// An idle yield therefore costs one short sleep, so waiting loops use almost no CPU, and a
    /// byte arriving at a port ends the sleep at once.
    /// Exceptions thrown by posted work or a source propagate to the caller; the work that threw
    /// has been removed.  Re-entrant: posted work and notifications may yield again.
    void yield() override;
    /// As `yield()`, but an idle thread sleeps until the first tick past `deadlineTick` (or
    /// until a source's descriptor becomes ready, posted work falls due, or — while an escape
    /// source is set — the next 10 ms Escape poll), so a long wait wakes only when something
    /// happens.
    void yieldUntil(int32_t deadlineTick) override;

    /// What the escape source reports now; false when none is set.  An exception thrown by the
    /// escape source propagates.
    bool escapeDown() override;

    /// Queues `work` to run from a yield at least `delayMs` milliseconds from now (0 or
    /// negative: from the next yield).  Timers use CLOCK_MONOTONIC at microsecond resolution.
    void post(std::function<void()> work, int32_t delayMs = 0) override;

    /// Registers `source` (once; registering it again does nothing) or removes it.  Both may be
    /// called from inside a yield, including from the source's own `service()`.
    void addSource(LoopSource* source) override;
    void removeSource(LoopSource* source) override;

    /// Sets what `escapeDown()` asks, e.g. a terminal key reader in the CLI (nullptr: never
    /// down).
    void setEscapeSource(std::function<bool()> source) override { escape_ = std::move(source); }

    /// Yields repeatedly until `ms` milliseconds have passed on the monotonic clock (at least
    /// one yield, even for 0 or less).  For simulators, tests and tools.
    void runFor(int32_t ms);

    /// Number of `yield()` calls so far (for diagnostics and tests).
    uint64_t yieldCount() const { return yields_; }

  private:
    /// Microseconds on CLOCK_MONOTONIC since construction.
    int64_t elapsedUs() const;
    /// Runs due work posted before sequence number `limit`; returns whether any ran.
    bool runDueWork(int64_t nowUs, uint64_t limit);
    /// Services every source still registered; returns whether any did something.
    bool serviceSources();
    /// Blocks in ppoll() for at most `timeoutUs` on the sources' wait handles.  Returns whether
    /// the sources may have work now: a handle became ready or the wait was interrupted.
    bool waitIdle(int64_t timeoutUs);
    // One yield that sleeps at most `maxIdleUs` when idle.
    void yieldFor(int64_t maxIdleUs);

    int64_t startNs_ = 0;
    uint64_t nextSeq_ = 0;
    uint64_t yields_ = 0;
    /// Whether a source held untaken data at the previous idle yield.
    bool pendingSeen_ = false;
    /// Posted work by (due time in microseconds since construction, posting order).
    std::map<std::pair<int64_t, uint64_t>, std::function<void()>> work_;
    std::vector<LoopSource*> sources_;
    std::vector<pollfd> pollFds_;  ///< reused by every idle wait
    std::function<bool()> escape_;
};

}  // namespace korvel
