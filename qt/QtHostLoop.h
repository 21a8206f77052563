// The host loop of a Qt application's GUI thread: the control's waits yield to Qt's own event
// loop, so windows stay live while a payment runs, and serial notifications arrive both inside
// the control's waits and while the application sits idle in its event loop.
#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <vector>

#include "korvelcom/platform/HostLoop.h"

class QSocketNotifier;

namespace korvel::qt {

/// A `HostLoop` on the Qt event loop of the thread that creates it.
///
/// Construct it after the `QCoreApplication` (or `QApplication`) and destroy it before; it
/// watches the Escape key through an event filter installed on the application, so the key is
/// seen whichever window has the focus.  Sources are watched with `QSocketNotifier`s on their
/// wait handles: a source whose descriptor becomes readable is serviced from Qt's event loop
/// whether or not a wait is running (the wait handles are re-read before the loop sleeps, so
/// a port opened or closed meanwhile is followed).  Everything runs on one thread.
class QtHostLoop final : public QObject, public HostLoop {
    Q_OBJECT

  public:
    /// Starts the tick clock (`tick()` reads 1,000,000,000 now) and installs the Escape
    /// filter.  Throws `std::logic_error` when no `QCoreApplication` exists.
    explicit QtHostLoop(QObject* parent = nullptr);
    ~QtHostLoop() override;
    QtHostLoop(const QtHostLoop&) = delete;
    QtHostLoop& operator=(const QtHostLoop&) = delete;

    /// Milliseconds on the monotonic clock since construction plus 1,000,000,000, taken modulo
    /// 2^32 and read as signed 32-bit (the same rule as the POSIX loop: negative after about
    /// 13.3 days, a full wrap every 49.7 days).  Compare ticks with `tickPassed()`.
    int32_t tick() override;

    /// One pass: processes the pending Qt events (input, paint, due timers and posted work,
    /// ready sources), then services every registered source.  When nothing ran it sleeps in
    /// Qt's event loop for at most 1 ms (an event, a ready source or posted work ends the
    /// sleep at once) and services the sources again.  An exception thrown by posted work or
    /// by a source while this pass processed events is rethrown here after the events are
    /// processed.  Re-entrant: handlers run inside it may yield again.
    void yield() override;
    /// As `yield()`, but an idle thread sleeps until the first tick past `deadlineTick`, at
    /// most 10 ms at a time (the Escape poll interval), and at most 1 ms while a source holds
    /// received data nobody has taken (`hasPending()`).
    void yieldUntil(int32_t deadlineTick) override;

    /// Whether the Escape key is held down: set by a key press of Escape seen by the
    /// application's event filter, cleared by its release (auto-repeat releases ignored) or
    /// when the application loses the focus.  Never fails.
    bool escapeDown() override { return escape_; }

    /// Runs `work` from Qt's event loop (a yield, or the application's own loop) at least
    /// `delayMs` milliseconds from now (0 or negative: at the next pass), on a precise single
    /// shot timer; equal delays run in posting order.  Work still queued when the loop is
    /// destroyed never runs.  An exception it throws reaches the yield that ran it; outside any
    /// yield it is reported with qWarning() and dropped (nothing may cross Qt's event loop).
    void post(std::function<void()> work, int32_t delayMs = 0) override;

    /// Registers `source` (registering it again does nothing) or removes it.  Both may be
    /// called from inside a yield or from the source's own `service()`.
    void addSource(LoopSource* source) override;
    void removeSource(LoopSource* source) override;

    /// Yields until `ms` milliseconds have passed on the monotonic clock (at least one yield).
    void runFor(int32_t ms);
    /// Number of `yield()` and `yieldUntil()` calls so far.
    uint64_t yieldCount() const { return yields_; }

  protected:
    /// The application-wide filter: follows the Escape key; never consumes an event.
    bool eventFilter(QObject* watched, QEvent* event) override;
    /// The wake-up timers of sleeping yields (they only end the sleep).
    void timerEvent(QTimerEvent* event) override;

  private:
    struct Watch {
        QSocketNotifier* notifier = nullptr;
        ReadyHandle fd = kNoReadyHandle;
    };

    /// Microseconds on the monotonic clock since construction.
    int64_t elapsedUs() const;
    /// Points each source's notifier at its current wait handle (switched off for none).
    void syncWatches();
    /// A source's descriptor became readable.
    void onReady(LoopSource* source);
    /// Services every source still registered; returns whether any did something.
    bool serviceSources();
    bool registered(const LoopSource* source) const;
    /// Runs handler work, keeping an exception for the running yield.
    void runGuarded(const std::function<void()>& work);
    void rethrowFault();
    void yieldFor(int64_t maxIdleUs);

    QElapsedTimer clock_;
    std::vector<LoopSource*> sources_;
    std::map<LoopSource*, Watch> watches_;
    bool escape_ = false;
    int depth_ = 0;          ///< yields running on the stack
    uint64_t activity_ = 0;  ///< counts posted work run and sources serviced by notifiers
    uint64_t yields_ = 0;
    std::exception_ptr fault_;
};

}  // namespace korvel::qt
