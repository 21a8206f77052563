#include "platform/sim/SimLoop.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>

namespace korvel {
namespace {
// Events run per yield before the loop declares a runaway (something rescheduling itself at
// the same instant forever).
constexpr int kMaxEventsPerYield = 1'000'000;
}  // namespace

SimLoop::SimLoop(int32_t startTick) : startTick_(startTick) {}

int32_t SimLoop::tick() {
    return tickAdd(startTick_, static_cast<int32_t>(nowUs_ / 1000));
}

void SimLoop::at(int64_t timeUs, std::function<void()> work) {
    events_.emplace(std::make_pair(std::max(timeUs, nowUs_), seq_++), std::move(work));
}

void SimLoop::post(std::function<void()> work, int32_t delayMs) {
    after(static_cast<int64_t>(std::max<int32_t>(delayMs, 0)) * 1000, std::move(work));
}

void SimLoop::addSource(LoopSource* source) {
    sources_.push_back(source);
}

void SimLoop::removeSource(LoopSource* source) {
    sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

bool SimLoop::runDue() {
    bool did = false;
    for (int n = 0; !events_.empty() && events_.begin()->first.first <= nowUs_; ++n) {
        if (n == kMaxEventsPerYield) throw std::logic_error("SimLoop: runaway events");
        auto node = events_.extract(events_.begin());
        node.mapped()();
        did = true;
    }
    return did;
}

bool SimLoop::serviceSources() {
    // Sources may come and go inside service(), and service() may yield again: walk a copy
    // taken on the stack (a loop has a handful of sources; more than that go to the heap).
    constexpr std::size_t kInline = 8;
    std::array<LoopSource*, kInline> onStack{};
    std::vector<LoopSource*> spill;
    LoopSource* const* sources = onStack.data();
    const std::size_t count = sources_.size();
    if (count <= kInline) {
        std::copy(sources_.begin(), sources_.end(), onStack.begin());
    } else {
        spill = sources_;
        sources = spill.data();
    }
    bool did = false;
    for (std::size_t i = 0; i < count; ++i)
        if (std::find(sources_.begin(), sources_.end(), sources[i]) != sources_.end())
            did |= sources[i]->service();
    return did;
}

void SimLoop::yield() {
    ++yields_;
    if (yieldHook_) yieldHook_();
    bool did = runDue();
    did |= serviceSources();
    if (did) return;
    // Idle: time moves on to the next event or the next millisecond, whichever is first.
    int64_t next = (nowUs_ / 1000 + 1) * 1000;
    if (!events_.empty()) next = std::min(next, events_.begin()->first.first);
    nowUs_ = next;
    runDue();
    serviceSources();
}

void SimLoop::runFor(int64_t durationUs) {
    const int64_t end = nowUs_ + durationUs;
    while (nowUs_ < end)
        yield();
}

bool SimLoop::runUntil(const std::function<bool()>& done, int64_t limitUs) {
    const int64_t end = nowUs_ + limitUs;
    while (!done() && nowUs_ < end)
        yield();
    return done();
}

}  // namespace korvel
