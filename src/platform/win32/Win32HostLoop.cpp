#include "platform/win32/Win32HostLoop.h"

#include <windows.h>

#include <algorithm>

namespace korvel {
namespace {

/// Longest sleep of a plain yield, in milliseconds.
constexpr uint32_t kIdleWaitMs = 1;
/// Longest sleep of a deadline-aware yield: the Escape key is polled this often.
constexpr uint32_t kEscapePollMs = 15;

int64_t performanceCount() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

}  // namespace

Win32HostLoop::Win32HostLoop(int32_t tickOffset) : tickOffset_(tickOffset) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    frequency_ = f.QuadPart > 0 ? f.QuadPart : 1;
    startCount_ = performanceCount();
}

int64_t Win32HostLoop::elapsedUs() const {
    const int64_t ticks = performanceCount() - startCount_;
    return ticks / frequency_ * 1'000'000 + ticks % frequency_ * 1'000'000 / frequency_;
}

int32_t Win32HostLoop::tick() {
    return tickAdd(static_cast<int32_t>(GetTickCount()), tickOffset_);
}

bool Win32HostLoop::escapeDown() {
    if (escape_) return escape_();
    return (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0;
}

void Win32HostLoop::post(std::function<void()> work, int32_t delayMs) {
    const int64_t due = elapsedUs() + static_cast<int64_t>(std::max<int32_t>(delayMs, 0)) * 1000;
    work_.emplace(std::make_pair(due, nextSeq_++), std::move(work));
}

void Win32HostLoop::addSource(LoopSource* source) {
    if (source && std::find(sources_.begin(), sources_.end(), source) == sources_.end())
        sources_.push_back(source);
}

void Win32HostLoop::removeSource(LoopSource* source) {
    sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

bool Win32HostLoop::pumpMessages() {
    if (quitSeen_) return false;
    bool did = false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The host's own loop must see it; this loop leaves the queue alone from now on.
            PostQuitMessage(static_cast<int>(msg.wParam));
            quitSeen_ = true;
            return did;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        did = true;
    }
    return did;
}

bool Win32HostLoop::runDueWork(int64_t nowUs, uint64_t limit) {
    bool ran = false;
    for (;;) {
        // Rescanned after every run: the work may have posted more or yielded itself.
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

bool Win32HostLoop::serviceSources() {
    bool did = false;
    // A copy: a source may add or remove sources while serviced; removed ones are skipped.
    const std::vector<LoopSource*> snapshot = sources_;
    for (LoopSource* source : snapshot) {
        if (std::find(sources_.begin(), sources_.end(), source) == sources_.end()) continue;
        if (source->service()) did = true;
    }
    return did;
}

bool Win32HostLoop::waitIdle(uint32_t timeoutMs) {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS - 1];
    DWORD count = 0;
    for (LoopSource* source : sources_) {
        const ReadyHandle h = source->waitHandle();
        if (h != kNoReadyHandle && count < MAXIMUM_WAIT_OBJECTS - 1)
            handles[count++] = reinterpret_cast<HANDLE>(h);
    }
    // MWMO_INPUTAVAILABLE: messages already in the queue but not yet looked at wake it too.
    const DWORD r = MsgWaitForMultipleObjectsEx(count, count ? handles : nullptr, timeoutMs,
                                                quitSeen_ ? 0 : QS_ALLINPUT,
                                                quitSeen_ ? 0 : MWMO_INPUTAVAILABLE);
    return r != WAIT_TIMEOUT;
}

void Win32HostLoop::yield() {
    yieldFor(kIdleWaitMs);
}

void Win32HostLoop::yieldUntil(int32_t deadlineTick) {
    // Milliseconds until the tick first exceeds the deadline.
    const int32_t left = tickAdd(deadlineTick, 1 - tick());
    yieldFor(left <= 0 ? 0 : std::min<uint32_t>(static_cast<uint32_t>(left), kEscapePollMs));
}

void Win32HostLoop::yieldFor(uint32_t maxIdleMs) {
    ++yields_;
    const uint64_t limit = nextSeq_;
    bool busy = pumpMessages();
    if (runDueWork(elapsedUs(), limit)) busy = true;
    if (serviceSources()) busy = true;
    if (busy || maxIdleMs == 0) return;

    uint32_t timeoutMs = maxIdleMs;
    // Data received and not yet taken may be what the caller waits for.
    for (const LoopSource* source : sources_)
        if (source->hasPending()) timeoutMs = std::min(timeoutMs, kIdleWaitMs);
    if (!work_.empty()) {
        const int64_t waitUs = work_.begin()->first.first - elapsedUs();
        if (waitUs <= 0) return;
        // Rounded up: waking before the work is due would only sleep again.
        timeoutMs = std::min<uint32_t>(timeoutMs, static_cast<uint32_t>((waitUs + 999) / 1000));
    }
    if (waitIdle(timeoutMs)) {
        pumpMessages();
        serviceSources();
    }
}

}  // namespace korvel
