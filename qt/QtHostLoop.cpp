#include "qt/QtHostLoop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <QTimerEvent>
#include <QtGlobal>

#include <algorithm>
#include <stdexcept>

namespace korvel::qt {
namespace {

constexpr int64_t kTickBase = 1'000'000'000;
/// Longest sleep of an idle `yield()`, and of any yield while a source holds pending data.
constexpr int64_t kIdleWaitUs = 1000;
/// Longest sleep of a deadline-aware yield: the Escape key's polling interval.
constexpr int64_t kEscapePollUs = 10'000;

/// Keeps the count of yields on the stack.
class Depth {
  public:
    explicit Depth(int& depth) : depth_(depth) { ++depth_; }
    ~Depth() { --depth_; }
    Depth(const Depth&) = delete;
    Depth& operator=(const Depth&) = delete;

  private:
    int& depth_;
};

}  // namespace

QtHostLoop::QtHostLoop(QObject* parent) : QObject(parent) {
    if (!QCoreApplication::instance())
        throw std::logic_error("QtHostLoop needs a QCoreApplication on this thread");
    clock_.start();
    QCoreApplication::instance()->installEventFilter(this);
    // The wait handles are re-read whenever the event loop is about to sleep or starts a pass
    // without sleeping, so a port that opened or closed since is watched before the thread
    // next polls its descriptors.
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread())) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &QtHostLoop::syncWatches);
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, &QtHostLoop::syncWatches);
    }
}

QtHostLoop::~QtHostLoop() {
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
    // The notifiers are children of this object and go with it.
}

int64_t QtHostLoop::elapsedUs() const {
    return clock_.nsecsElapsed() / 1000;
}

int32_t QtHostLoop::tick() {
    const auto ms = static_cast<uint64_t>(kTickBase + clock_.nsecsElapsed() / 1'000'000);
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

bool QtHostLoop::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) escape_ = true;
            break;
        case QEvent::KeyRelease: {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape && !key->isAutoRepeat()) escape_ = false;
            break;
        }
        case QEvent::ApplicationDeactivate:
            // The release would go to another application: the key no longer counts as held.
            escape_ = false;
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void QtHostLoop::timerEvent(QTimerEvent* event) {
    // A sleeping yield's wake-up: its only job was to end the sleep; the yield kills it.
    event->accept();
}

void QtHostLoop::post(std::function<void()> work, int32_t delayMs) {
    QTimer::singleShot(std::max<int32_t>(delayMs, 0), Qt::PreciseTimer, this,
                       [this, work = std::move(work)] {
                           ++activity_;
                           runGuarded(work);
                       });
}

void QtHostLoop::addSource(LoopSource* source) {
    if (!source || registered(source)) return;
    sources_.push_back(source);
    auto* notifier = new QSocketNotifier(QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, source] { onReady(source); });
    watches_[source] = Watch{notifier, -1};
    syncWatches();
}

void QtHostLoop::removeSource(LoopSource* source) {
    sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
    const auto it = watches_.find(source);
    if (it == watches_.end()) return;
    // The notifier may be the one whose signal is running: switch it off now, delete it once
    // control is back in the event loop.
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    watches_.erase(it);
}

bool QtHostLoop::registered(const LoopSource* source) const {
    return std::find(sources_.begin(), sources_.end(), source) != sources_.end();
}

void QtHostLoop::syncWatches() {
    for (auto& [source, watch] : watches_) {
        const ReadyHandle fd = source->waitHandle();
        if (fd == watch.fd) continue;
        watch.fd = fd;
        if (fd >= 0) {
            watch.notifier->setSocket(static_cast<qintptr>(fd));
            watch.notifier->setEnabled(true);
        } else {
            watch.notifier->setEnabled(false);
        }
    }
}

void QtHostLoop::onReady(LoopSource* source) {
    const auto it = watches_.find(source);
    if (it == watches_.end()) return;
    QSocketNotifier* notifier = it->second.notifier;
    // Yields nested in the service service this source themselves; the notifier stays off
    // meanwhile so that it does not fire again for the same bytes.
    notifier->setEnabled(false);
    ++activity_;
    runGuarded([source] { source->service(); });
    const auto again = watches_.find(source);
    if (again != watches_.end() && again->second.notifier == notifier && again->second.fd >= 0)
        notifier->setEnabled(true);
}

bool QtHostLoop::serviceSources() {
    bool did = false;
    // A copy: a source may add or remove sources (itself included) while serviced; one
    // removed meanwhile may already be destroyed and is skipped.
    const std::vector<LoopSource*> snapshot = sources_;
    for (LoopSource* source : snapshot) {
        if (!registered(source)) continue;
        if (source->service()) did = true;
    }
    return did;
}

void QtHostLoop::runGuarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        if (depth_ > 0) {
            if (!fault_) fault_ = std::current_exception();
        } else {
            qWarning("korvelcom: host work failed outside any wait: %s", e.what());
        }
    } catch (...) {
        if (depth_ > 0) {
            if (!fault_) fault_ = std::current_exception();
        } else {
            qWarning("korvelcom: host work failed outside any wait");
        }
    }
}

void QtHostLoop::rethrowFault() {
    if (!fault_) return;
    std::exception_ptr fault = std::move(fault_);
    fault_ = nullptr;
    std::rethrow_exception(fault);
}

void QtHostLoop::yield() {
    yieldFor(kIdleWaitUs);
}

void QtHostLoop::yieldUntil(int32_t deadlineTick) {
    // Microseconds until the tick first exceeds the deadline: the start of millisecond
    // deadline + 1 of the clock.
    const int64_t now = elapsedUs();
    const int32_t ticksLeft = tickAdd(deadlineTick, 1 - tick());
    const int64_t sleepUs = ticksLeft <= 0 ? 0 : (now / 1000 + ticksLeft) * 1000 - now;
    yieldFor(std::clamp<int64_t>(sleepUs, 0, kEscapePollUs));
}

void QtHostLoop::yieldFor(int64_t maxIdleUs) {
    ++yields_;
    Depth depth(depth_);
    syncWatches();
    const uint64_t before = activity_;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    bool busy = activity_ != before;
    if (serviceSources()) busy = true;
    rethrowFault();
    if (busy || maxIdleUs <= 0) return;

    int64_t timeoutUs = maxIdleUs;
    // Data already received and not yet taken may be what the caller waits for.
    for (const LoopSource* source : sources_)
        if (source->hasPending()) timeoutUs = std::min(timeoutUs, kIdleWaitUs);
    // Qt's timers count whole milliseconds; rounding up never wakes before the deadline.
    const int timeoutMs = static_cast<int>((timeoutUs + 999) / 1000);
    syncWatches();
    const int wake = startTimer(timeoutMs, Qt::PreciseTimer);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (wake != 0) killTimer(wake);
    serviceSources();
    rethrowFault();
}

void QtHostLoop::runFor(int32_t ms) {
    const int64_t end = elapsedUs() + static_cast<int64_t>(ms) * 1000;
    do {
        yield();
    } while (elapsedUs() < end);
}

}  // namespace korvel::qt
