// Virtual time: a host loop whose clock only moves when the thread is idle.
//
// `yield()` first runs whatever is due now (scheduled events, posted work, sources).  When
// nothing was, the clock moves to the next scheduled event or to the next millisecond
// boundary, whichever comes first, and what is then due runs.  A waiting loop therefore sees
// every tick, and every deadline is met exactly to the millisecond, while minutes of protocol
// time pass in microseconds of real time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "korvelcom/platform/HostLoop.h"

namespace korvel {

class SimLoop : public HostLoop {
  public:
    /// `startTick` is the tick at virtual time 0 (far from 0 like a since-boot count by
    /// default; tests of the wrap start near INT32_MAX).
    explicit SimLoop(int32_t startTick = 1'000'000);

    int32_t tick() override;
    void yield() override;
    bool escapeDown() override { return escape_; }
    void post(std::function<void()> work, int32_t delayMs = 0) override;
    void addSource(LoopSource* source) override;
    void removeSource(LoopSource* source) override;

    /// Virtual microseconds since the loop was created.
    int64_t nowUs() const { return nowUs_; }
    /// Runs `work` at virtual time `timeUs` (now, when already passed), after everything
    /// already scheduled for that time.
    void at(int64_t timeUs, std::function<void()> work);
    void after(int64_t delayUs, std::function<void()> work) {
        at(nowUs_ + delayUs, std::move(work));
    }

    /// Presses or releases the Escape key.
    void setEscape(bool down) { escape_ = down; }
    /// Called at the start of every yield (a host handler doing work during waits).
    void setYieldHook(std::function<void()> hook) { yieldHook_ = std::move(hook); }

    /// Number of yields so far.
    int64_t yields() const { return yields_; }
    /// Yields until `durationUs` of virtual time has passed.
    void runFor(int64_t durationUs);
    /// Yields until `done()` is true or `limitUs` of virtual time passed; returns `done()`.
    bool runUntil(const std::function<bool()>& done, int64_t limitUs);

  private:
    bool runDue();
    bool serviceSources();

    int32_t startTick_;
    int64_t nowUs_ = 0;
    uint64_t seq_ = 0;
    std::multimap<std::pair<int64_t, uint64_t>, std::function<void()>> events_;
    std::vector<LoopSource*> sources_;
    bool escape_ = false;
    int64_t yields_ = 0;
    std::function<void()> yieldHook_;
};

}  // namespace korvel
