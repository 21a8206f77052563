#include "platform/win32/Win32HostLoop.h"

#include <windows.h>

#include <algorithm>

namespace korvel {
namespace {

/// Longest sleep of a plain yield, in milliseconds.
constexpr uint32_t kIdleWaitMs = 1;
/// Longest sleep of a deadline-aware yield: the Escape key is polled this often.  A key press
/// lasts 70 ms and more, and every poll under Wine costs a round trip to its server.
constexpr uint32_t kEscapePollMs = 50;

using DelayExecution = LONG(NTAPI*)(BOOLEAN alertable, const LARGE_INTEGER* interval);

/// Wine's sleep in the calling thread, when this process runs under Wine (its ntdll exports
/// `wine_get_version`) with a 10 MHz performance counter; else null.  Under Wine a non-alertable
/// NtDelayExecution sleeps to the microsecond without asking the Wine server; on Windows it
/// would sleep to the next clock interrupt, which is why it is used under Wine only.
DelayExecution threadSleepUnderWine(int64_t frequency) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!ntdll || frequency != 10'000'000 || !GetProcAddress(ntdll, "wine_get_version"))
        return nullptr;
    return reinterpret_cast<DelayExecution>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDelayExecution")));
}

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
    threadSleep_ = reinterpret_cast<void*>(threadSleepUnderWine(frequency_));
}

int64_t Win32HostLoop::usToTickBoundary(int64_t count, int32_t deadlineTick, int32_t tickOffset) {
    const int64_t ms = count / 10'000;
    const int32_t clockTick = tickAdd(static_cast<int32_t>(static_cast<uint32_t>(ms)), tickOffset);
    const int32_t left = tickAdd(deadlineTick, 1 - clockTick);
    if (left <= 0) return 0;
    if (left > 1) return -1;
    return ((ms + 1) * 10'000 - count + 9) / 10;
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
    yieldFor(kIdleWaitMs * 1000, false);
}

void Win32HostLoop::yieldUntil(int32_t deadlineTick) {
    // Milliseconds until the tick first exceeds the deadline.
    const int32_t left = tickAdd(deadlineTick, 1 - tick());
    if (left <= 0) return yieldFor(0, false);
    if (!threadSleep_) return yieldFor(std::min<int64_t>(left, kEscapePollMs) * 1000, false);
    // Under Wine a wait in its server ends whole milliseconds after the request, that is up to a
    // millisecond past the tick's boundary, and the tick is the server's clock (the performance
    // counter's milliseconds) as of its last wake.  So the server is asked to wake the thread
    // within the last millisecond, and that millisecond is slept in the thread up to the boundary.
    if (left > 1) return yieldFor(std::min<int64_t>(left - 1, kEscapePollMs) * 1000, false);
    // Should the counter ever disagree with the tick, the server's wait of old is used.
    const int64_t us = usToTickBoundary(performanceCount(), deadlineTick, tickOffset_);
    yieldFor(us > 0 ? us : 1000, us > 0);
}

void Win32HostLoop::yieldFor(int64_t maxIdleUs, bool inThread) {
    ++yields_;
    const uint64_t limit = nextSeq_;
    bool busy = pumpMessages();
    if (runDueWork(elapsedUs(), limit)) busy = true;
    if (serviceSources()) busy = true;
    if (busy || maxIdleUs <= 0) return;

    int64_t timeoutUs = maxIdleUs;
    // Data received and not yet taken may be what the caller waits for.
    for (const LoopSource* source : sources_)
        if (source->hasPending()) timeoutUs = std::min<int64_t>(timeoutUs, kIdleWaitMs * 1000);
    if (!work_.empty()) {
        const int64_t waitUs = work_.begin()->first.first - elapsedUs();
        if (waitUs <= 0) return;
        timeoutUs = std::min(timeoutUs, waitUs);
    }
    // The wait on the events is in whole milliseconds, rounded up: waking before the work is
    // due would only sleep again.  The sleep in the thread is at most a millisecond, during
    // which messages and port events wait for the next pass.
    if (inThread) {
        LARGE_INTEGER interval;
        interval.QuadPart = -timeoutUs * 10;
        reinterpret_cast<DelayExecution>(threadSleep_)(FALSE, &interval);
    } else if (!waitIdle(static_cast<uint32_t>((timeoutUs + 999) / 1000))) {
        return;
    }
    // After a sleep in the thread this also brings Wine's tick up to date.
    pumpMessages();
    serviceSources();
}

}  // namespace korvel
