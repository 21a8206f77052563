// The host thread's message loop and tick clock, as the control sees them.
#pragma once

#include <cstdint>
#include <functional>

#include "korvelcom/Export.h"

namespace korvel {

/// What a host loop waits on until a source has work: a file descriptor on POSIX, a HANDLE on
/// Windows.  Opaque to everything but the loop of the same system.
using ReadyHandle = std::intptr_t;
/// No handle: nothing can arrive that an idle loop must wake for.
inline constexpr ReadyHandle kNoReadyHandle = -1;

/// Something the loop services at every yield: a serial port delivering its notifications, a
/// simulator reading its line.
class KORVELCOM_API LoopSource {
  public:
    virtual ~LoopSource() = default;
    /// Runs pending work (reads arrived bytes, delivers notifications).  Returns true when it
    /// did anything, so the loop knows the thread was not idle.
    virtual bool service() = 0;
    /// What an idle loop waits on for this source (see `ReadyHandle`: a descriptor on POSIX),
    /// or `kNoReadyHandle` when nothing can arrive that needs waking for (a closed or vanished
    /// port).
    virtual ReadyHandle waitHandle() const { return kNoReadyHandle; }
    /// True while the source holds received data nobody has taken yet: a waiting loop polls
    /// it every millisecond instead of sleeping to its deadline, since its condition may
    /// already hold.
    virtual bool hasPending() const { return false; }
};

/// The host thread's message loop.  Everything runs on one thread: no member is thread-safe.
class KORVELCOM_API HostLoop {
  public:
    virtual ~HostLoop() = default;

    /// Milliseconds on a monotonic clock, as a signed 32-bit value that wraps like a since-boot
    /// tick count.  Compare ticks with `tickPassed()`, never with `>` directly.
    virtual int32_t tick() = 0;

    /// Runs every pending serial notification, due timer and posted host work, then returns.
    /// When nothing is pending it may block for a short while (at most 1 ms on the POSIX loop;
    /// on the simulated loop, virtual time moves on), so waiting loops cost almost no CPU.
    virtual void yield() = 0;

    /// A yield from a waiting loop whose deadline is `deadlineTick`: the same as `yield()`,
    /// except that an idle thread may sleep until the tick passes that deadline (or a serial
    /// notification, posted work or the Escape key's polling interval comes first) instead of
    /// waking every millisecond.  The wait still ends at the first tick past its deadline.
    virtual void yieldUntil(int32_t deadlineTick) {
        (void)deadlineTick;
        yield();
    }

    /// Whether the Escape key is held down at this poll.
    virtual bool escapeDown() = 0;

    /// Sets what `escapeDown()` asks on a loop without a keyboard of its own (a command line
    /// reading its terminal); nullptr removes it.  While one is set a deadline-aware yield
    /// wakes often enough to poll it.  Default: ignored (the loop watches its own keyboard).
    virtual void setEscapeSource(std::function<bool()> source) { (void)source; }

    /// Queues host work to run on this thread from a later `yield()`, after `delayMs`
    /// milliseconds (0: at the next yield).
    virtual void post(std::function<void()> work, int32_t delayMs = 0) = 0;

    /// Registers or removes a source serviced at every yield.  The loop does not own it.
    virtual void addSource(LoopSource* source) = 0;
    virtual void removeSource(LoopSource* source) = 0;
};

/// Wrap-safe deadline test: true when `now` is later than `deadline`, that is when `deadline`
/// lies in the 2^31 - 1 milliseconds (about 24.8 days) before `now`.  Deadlines computed as
/// `tick + duration` with modular 32-bit arithmetic therefore work across the tick's wrap.
inline bool tickPassed(int32_t now, int32_t deadline) {
    return static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(deadline)) > 0;
}

/// `tick + duration` in modular 32-bit arithmetic (never overflows; see `tickPassed`).
inline int32_t tickAdd(int32_t tick, int32_t duration) {
    return static_cast<int32_t>(static_cast<uint32_t>(tick) + static_cast<uint32_t>(duration));
}

}  // namespace korvel
