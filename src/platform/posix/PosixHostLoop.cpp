#include "platform/posix/PosixHostLoop.h"

#include <poll.h>
#include <time.h>

#include <algorithm>

namespace korvel {
namespace {

constexpr int64_t kTickBase = 1'000'000'000;
/// Longest time an idle yield blocks, in milliseconds.
constexpr int kIdleWaitMs = 1;

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

bool PosixHostLoop::waitIdle(int timeoutMs) {
    pollFds_.clear();
    bool allHaveHandles = true;
    for (LoopSource* source : sources_) {
        const int fd = source->waitHandle();
        if (fd >= 0) {
            pollFds_.push_back(pollfd{fd, POLLIN, 0});
        } else {
            allHaveHandles = false;
        }
    }
    // EINTR or any other failure just ends the wait early; the caller polls again.
    const int ready = poll(pollFds_.data(), static_cast<nfds_t>(pollFds_.size()), timeoutMs);
    // Nothing to service when the wait timed out and every source would have woken it.
    return ready != 0 || !allHaveHandles;
}

void PosixHostLoop::yield() {
    ++yields_;
    const uint64_t limit = nextSeq_;
    bool busy = runDueWork(elapsedUs(), limit);
    if (serviceSources()) busy = true;
    if (busy) return;

    int timeoutMs = kIdleWaitMs;
    if (!work_.empty()) {
        // The earliest deadline; work posted during this yield counts as due at once.
        const int64_t waitUs = work_.begin()->first.first - elapsedUs();
        if (waitUs <= 0) return;
        timeoutMs = static_cast<int>(std::min<int64_t>(kIdleWaitMs, (waitUs + 999) / 1000));
    }
    if (waitIdle(timeoutMs)) serviceSources();
}

void PosixHostLoop::runFor(int32_t ms) {
    const int64_t end = elapsedUs() + static_cast<int64_t>(ms) * 1000;
    do {
        yield();
    } while (elapsedUs() < end);
}

}  // namespace korvel
