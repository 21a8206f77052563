// The host loop of a Windows thread: the since-boot tick, the thread's message queue, posted
// work and timers, and the serial ports serviced at every yield, sleeping in
// MsgWaitForMultipleObjectsEx on the ports' events while idle.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "korvelcom/platform/HostLoop.h"

namespace korvel {

class Win32HostLoop : public HostLoop {
  public:
    /// `tickOffset` is added to every tick (0 for hosts; tests move the tick near its wrap).
    explicit Win32HostLoop(int32_t tickOffset = 0);
    Win32HostLoop(const Win32HostLoop&) = delete;
    Win32HostLoop& operator=(const Win32HostLoop&) = delete;

    /// `GetTickCount()` (milliseconds since boot, plus the offset) read as signed 32-bit: it
    /// turns negative after 24.8 days of uptime and wraps every 49.7 days.  Compare ticks with
    /// `tickPassed()`.  Its resolution is the system timer's (10 to 16 ms on Windows, 1 ms
    /// under Wine).  Never fails.
    int32_t tick() override;

    /// One pass of the loop, on the calling thread:
    /// 1. dispatches every message waiting in the thread's queue (the host's window stays
    ///    alive during a wait); a WM_QUIT is put back for the host's own loop and ends the
    ///    pumping from then on;
    /// 2. runs the posted work that is due, in deadline and posting order; work posted during
    ///    this yield runs at a later one;
    /// 3. services every registered source;
    /// 4. when nothing ran, sleeps in MsgWaitForMultipleObjectsEx on the sources' events and
    ///    the message queue for at most 1 ms (less when posted work falls due sooner), then
    ///    services the sources again when an event woke it.
    /// Exceptions thrown by posted work or a source propagate; re-entrant.
    void yield() override;
    /// As `yield()`, but an idle thread sleeps until the first tick past `deadlineTick`, a
    /// source's event, a message, posted work falling due or the next Escape poll (every
    /// 50 ms), whichever comes first.  Under Wine the last millisecond before the tick passes
    /// the deadline is slept in the thread, to the microsecond (see `usToTickBoundary`).
    void yieldUntil(int32_t deadlineTick) override;

    /// The escape source's answer when one is set, else whether the Escape key is down now
    /// (`GetAsyncKeyState(VK_ESCAPE)`).
    bool escapeDown() override;
    void setEscapeSource(std::function<bool()> source) override { escape_ = std::move(source); }

    /// Queues `work` to run from a yield at least `delayMs` milliseconds from now (0 or
    /// negative: from the next yield).
    void post(std::function<void()> work, int32_t delayMs = 0) override;

    /// Registers `source` (once) or removes it; both may be called from inside a yield.  At
    /// most 63 sources with events are waited on (the system's limit, less the queue).
    void addSource(LoopSource* source) override;
    void removeSource(LoopSource* source) override;

    /// Number of `yield()` and `yieldUntil()` calls so far (diagnostics, tests).
    uint64_t yieldCount() const { return yields_; }

    /// Under Wine, where the tick is the 10 MHz performance counter's milliseconds: the
    /// microseconds from performance count `count` until the tick (with `tickOffset` added) first
    /// exceeds `deadlineTick`; 0 when it already has, -1 when that is more than 1 ms away.
    static int64_t usToTickBoundary(int64_t count, int32_t deadlineTick, int32_t tickOffset);
    /// Whether the last millisecond of a deadline is slept in the thread (running under Wine).
    bool sleepsToTheTick() const { return threadSleep_ != nullptr; }

  private:
    /// Microseconds on the performance counter since construction (timers of posted work).
    int64_t elapsedUs() const;
    bool pumpMessages();
    bool runDueWork(int64_t nowUs, uint64_t limit);
    bool serviceSources();
    /// Sleeps at most `timeoutMs` on the sources' events and the queue; true when woken.
    bool waitIdle(uint32_t timeoutMs);
    /// One pass; when idle, sleeps at most `maxIdleUs` microseconds in `waitIdle`, or with
    /// `inThread` (under Wine only) in the thread without looking at the events or the queue.
    void yieldFor(int64_t maxIdleUs, bool inThread);

    int32_t tickOffset_;
    int64_t startCount_ = 0;
    int64_t frequency_ = 1;
    uint64_t nextSeq_ = 0;
    uint64_t yields_ = 0;
    bool quitSeen_ = false;
    std::map<std::pair<int64_t, uint64_t>, std::function<void()>> work_;
    std::vector<LoopSource*> sources_;
    std::function<bool()> escape_;
    void* threadSleep_ = nullptr;  ///< Wine's NtDelayExecution, null elsewhere
};

}  // namespace korvel
