#include "platform/posix/PosixHostLoop.h"

#include <poll.h>
#include <time.h>

#include <algorithm>

namespace korvel {
namespace {

constexpr int64_t kTickBase = 1'000'000'000;
/// Longest time an idle yield blocks, in microseconds.
constexpr int64_t kIdleWaitUs = 1000;
/// Longest sleep of a deadline-aware yield while an escape source must be polled.
constexpr int64_t kEscapePollUs = 10'000;

int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

PosixHostLoop::PosixHostLoop() : startNs_(monotonicNs()) {}

int64_t PosixHostLoop::elapsedUs() const {
    return (monotonicNs() - startNs_) / 1000;
}

int32_t PosixHostLoop::tick() {
    const auto ms = static_cast<uint64_t>(kTickBase + elapsedUs() / 1000);
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

bool PosixHostLoop::escapeDown() {
    return escape_ ? escape_() : false;
}

void PosixHostLoop::post(std::function<void()> work, int32_t delayMs) {
    const int64_t due = elapsedUs() + static_cast<int64_t>(std::max<int32_t>(delayMs, 0)) * 1000;
    work_.emplace(std::make_pair(due, nextSeq_++), std::move(work));
}

void PosixHostLoop::addSource(LoopSource* source) {
    if (source && std::find(sources_.begin(), sources_.end(), source) == sources_.end())
        sources_.push_back(source);
}

void PosixHostLoop::removeSource(LoopSource* source) {
    sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

bool PosixHostLoop::runDueWork(int64_t nowUs, uint64_t limit) {
    bool ran = false;
    for (;;) {
        // Rescanned after every run: the work may have posted more or yielded (and so run
        // some of the others) itself.
        auto it = work_.begin();
        while (it != work_.end() && it->first.first <= nowUs && it->first.second >= limit)
            ++it;
        if (it == work_.end() || it->first.first > nowUs) return ran;
        auto work = std::move(it->second);
        work_.erase(it);
        ran = true;
        work();
    }
}

bool PosixHostLoop::serviceSources() {
    bool did = false;
    // A copy, because a source may add or remove sources (itself included) while serviced;
    // one removed meanwhile may already be destroyed and is skipped.
    const std::vector<LoopSource*> snapshot = sources_;
    for (LoopSource* source : snapshot) {
        if (std::find(sources_.begin(), sources_.end(), source) == sources_.end()) continue;
        if (source->service()) did = true;
    }
    return did;
}

bool PosixHostLoop::waitIdle(int64_t timeoutUs) {
    pollFds_.clear();
    for (LoopSource* source : sources_) {
        const ReadyHandle fd = source->waitHandle();
        if (fd >= 0) pollFds_.push_back(pollfd{static_cast<int>(fd), POLLIN, 0});
    }
    const timespec timeout{static_cast<time_t>(timeoutUs / 1'000'000),
                           static_cast<long>(timeoutUs % 1'000'000) * 1000};
    // EINTR or any other failure just ends the wait early; the caller polls again.
    const int ready =
        ppoll(pollFds_.data(), static_cast<nfds_t>(pollFds_.size()), &timeout, nullptr);
    // Nothing to service when the wait timed out: every source that can receive has a handle.
    return ready != 0;
}

void PosixHostLoop::yield() {
    yieldFor(kIdleWaitUs);
}

void PosixHostLoop::yieldUntil(int32_t deadlineTick) {
    // Microseconds until the tick first exceeds the deadline (a tick is a whole millisecond
    // of elapsed time, so that is the start of millisecond deadline + 1).
    const int64_t now = elapsedUs();
    const int32_t ticksLeft = tickAdd(deadlineTick, 1 - tick());
    int64_t sleepUs = ticksLeft <= 0 ? 0 : (now / 1000 + ticksLeft) * 1000 - now;
    if (escape_) sleepUs = std::min(sleepUs, kEscapePollUs);
    yieldFor(std::max<int64_t>(sleepUs, 0));
}

void PosixHostLoop::yieldFor(int64_t maxIdleUs) {
    ++yields_;
    const uint64_t limit = nextSeq_;
    bool busy = runDueWork(elapsedUs(), limit);
    if (serviceSources()) busy = true;
    if (busy || maxIdleUs <= 0) return;

    int64_t timeoutUs = maxIdleUs;
    // Data already received and not yet taken may be what the caller waits for: the first idle
    // yield that finds it returns at once, so that a caller about to take it (a reception
    // gathering its frame) does not sleep first; while it stays untaken, the loop looks again
    // every millisecond instead of sleeping to the deadline, and never spins.
    bool pending = false;
    for (const LoopSource* source : sources_)
        if (source->hasPending()) pending = true;
    const bool freshlyPending = pending && !pendingSeen_;
    pendingSeen_ = pending;
    if (freshlyPending) return;
    if (pending) timeoutUs = std::min(timeoutUs, kIdleWaitUs);
    if (!work_.empty()) {
        // The earliest deadline; work posted during this yield counts as due at once.
        const int64_t waitUs = work_.begin()->first.first - elapsedUs();
        if (waitUs <= 0) return;
        timeoutUs = std::min(timeoutUs, waitUs);
    }
    if (waitIdle(timeoutUs)) serviceSources();
}

void PosixHostLoop::runFor(int32_t ms) {
    const int64_t end = elapsedUs() + static_cast<int64_t>(ms) * 1000;
    do {
        yield();
    } while (elapsedUs() < end);
}

}  // namespace korvel
