// What the line-fault tests share: a POSIX platform whose serial port counts how often the loop
// services it, a scripted terminal running on its own thread at the master side of a
// pseudo-terminal (so it can vanish, flood or dawdle while the control waits), and CPU-time
// and wall-clock helpers for the figures the tests print.
#pragma once

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "korvelcom/platform/Platform.h"
#include "link/Frame.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/PosixSerialComm.h"
#include "platform/posix/PosixServices.h"
#include "platform/posix/PosixSystemServices.h"
#include "platform/posix/Pty.h"

namespace korvel::test {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

/// CPU time (user + system) of the calling thread, in seconds.
inline double threadCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

/// A termios port that counts the loop's services and its own reads of the device.
class CountingSerial : public PosixSerialComm {
  public:
    using PosixSerialComm::PosixSerialComm;
    bool service() override {
        ++services;
        return PosixSerialComm::service();
    }
    std::string input() override {
        std::string got = PosixSerialComm::input();
        if (got.size() > largestInput) largestInput = got.size();
        return got;
    }
    uint64_t services = 0;         ///< calls of service() by the loop
    uint64_t gathers = 0;          ///< attempts to read the device
    std::size_t largestInput = 0;  ///< most characters one Input read handed out

  protected:
    bool gatherInput() override {
        ++gathers;
        return PosixSerialComm::gatherInput();
    }
};

/// The POSIX platform with a counting serial port and a loop of its own.
class FaultPlatform : public Platform {
  public:
    HostLoop& loop() override { return loop_; }
    std::unique_ptr<SerialComm> createSerial() override {
        auto port = std::make_unique<CountingSerial>(loop_);
        serial_ = port.get();
        return port;
    }
    SettingsStore& settings() override { return settings_; }
    SystemServices& system() override { return system_; }

    PosixHostLoop& posixLoop() { return loop_; }
    /// The port the control created (the platform serves one control).
    CountingSerial& serial() { return *serial_; }

  private:
    PosixHostLoop loop_;
    IniSettingsStore settings_;
    PosixSystemServices system_;
    CountingSerial* serial_ = nullptr;
};

/// What the loop and the port did over one stretch of a test, and what it cost.
struct LoopCost {
    uint64_t yields = 0;
    uint64_t services = 0;
    uint64_t gathers = 0;
    double wallMs = 0;
    double cpuMs = 0;  ///< CPU time of the control's thread

    double cpuPercent() const { return wallMs > 0 ? 100.0 * cpuMs / wallMs : 0; }
    void print(const char* what) const {
        std::printf(
            "[ figures  ] %s: %.0f ms, %llu yields, %llu services, %llu device reads, "
            "cpu %.1f ms = %.2f %% of a core\n",
            what, wallMs, static_cast<unsigned long long>(yields),
            static_cast<unsigned long long>(services), static_cast<unsigned long long>(gathers),
            cpuMs, cpuPercent());
    }
};

/// Measures the loop and port between construction and `stop()`.
class CostMeter {
  public:
    explicit CostMeter(FaultPlatform& p)
        : p_(p),
          yields0_(p.posixLoop().yieldCount()),
          services0_(p.serial().services),
          gathers0_(p.serial().gathers),
          cpu0_(threadCpuSeconds()),
          t0_(Clock::now()) {}
    LoopCost stop() const {
        LoopCost c;
        c.wallMs = msSince(t0_);
        c.cpuMs = 1000.0 * (threadCpuSeconds() - cpu0_);
        c.yields = p_.posixLoop().yieldCount() - yields0_;
        c.services = p_.serial().services - services0_;
        c.gathers = p_.serial().gathers - gathers0_;
        return c;
    }

  private:
    FaultPlatform& p_;
    uint64_t yields0_, services0_, gathers0_;
    double cpu0_;
    Clock::time_point t0_;
};

/// A scripted terminal on the master side of `pty`, running on a thread of its own.  Only the
/// script touches the pty while it runs; the test reads the results after `join()`.
class MasterPeer {
  public:
    explicit MasterPeer(Pty& pty) : pty_(pty) {}
    ~MasterPeer() { join(true); }
    MasterPeer(const MasterPeer&) = delete;
    MasterPeer& operator=(const MasterPeer&) = delete;

    void start(std::function<void(MasterPeer&)> script) {
        thread_ = std::thread([this, script = std::move(script)] {
            script(*this);
            finished_ = true;
        });
    }
    /// Waits for the script to end; `abandon` tells its waits to give up first.
    void join(bool abandon = false) {
        if (abandon) stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool finished() const { return finished_; }

    // ---- for the script ----

    /// Reads until a byte that `match` accepts has arrived (consuming it and everything
    /// before it) or `ms` passed.  Returns whether it came.
    bool await(const std::function<bool(char)>& match, int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            while (pos_ < in_.size())
                if (match(in_[pos_++])) return true;
            if (stop_ || !pty_.masterOpen() || Clock::now() >= end) return false;
            pollfd p{pty_.masterFd(), POLLIN, 0};
            (void)::poll(&p, 1, 5);
            in_ += pty_.readAvailable();
        }
    }
    bool awaitByte(char b, int ms) {
        return await([b](char c) { return c == b; }, ms);
    }
    /// Reads a whole frame (STX, text, ETX, one check byte) and returns its text; empty when
    /// none completed within `ms`.
    std::string awaitFrame(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        auto left = [&] {
            return static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
        };
        if (!awaitByte(link::STX, ms)) return {};
        std::string text;
        bool etx = false;
        const bool done = await(
            [&](char c) {
                if (etx) return true;
                if (c == link::ETX) {
                    etx = true;
                } else {
                    text.push_back(c);
                }
                return false;
            },
            left());
        return done ? text : std::string();
    }
    /// Writes every byte, waiting for room in the pty as needed (gives up when stopped or when
    /// the master was closed).
    void send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size() && !stop_ && pty_.masterOpen()) {
            done += pty_.write(bytes.substr(done));
            if (done < bytes.size()) {
                pollfd p{pty_.masterFd(), POLLOUT, 0};
                (void)::poll(&p, 1, 5);
            }
        }
        sent_ += done;
    }
    void sendByte(char b) { send(std::string(1, b)); }
    /// Sleeps `ms`, ending early when stopped.
    void pause(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!stop_ && Clock::now() < end)
            std::this_thread::sleep_for(
                std::min<Clock::duration>(end - Clock::now(), std::chrono::milliseconds(5)));
    }
    /// Drops everything received so far.
    void forget() {
        in_ += pty_.readAvailable();
        pos_ = in_.size();
    }
    /// Closes the master: the line drops, as when the terminal is unplugged.
    void vanish() {
        vanishedAt_ = Clock::now();
        pty_.closeMaster();
        vanished_ = true;
    }
    bool stopping() const { return stop_; }

    // ---- for the test, after join() ----

    /// Every byte the control sent, as far as the script read it.
    const std::string& received() const { return in_; }
    std::size_t bytesSent() const { return sent_; }
    bool vanished() const { return vanished_; }
    Clock::time_point vanishedAt() const { return vanishedAt_; }

  private:
    Pty& pty_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> vanished_{false};
    Clock::time_point vanishedAt_{};
    std::string in_;
    std::size_t pos_ = 0;
    std::size_t sent_ = 0;
};

/// The terminal's side of a control session up to the frame: ACK to ENQ, the frame, ACK to it.
/// Returns the frame's text; empty when the control's session did not come within `ms`.
inline std::string acceptRequest(MasterPeer& t, int ms = 5000) {
    if (!t.awaitByte(link::ENQ, ms)) return {};
    t.sendByte(link::ACK);
    std::string text = t.awaitFrame(ms);
    if (!text.empty()) t.sendByte(link::ACK);
    return text;
}

/// The terminal's own session carrying `reply`: ENQ, the frame after the control's ACK, EOT
/// after its second ACK.  Returns whether the control acknowledged both.
inline bool sendReply(MasterPeer& t, const std::string& reply, int ackWaitMs = 2000) {
    t.forget();
    t.sendByte(link::ENQ);
    if (!t.awaitByte(link::ACK, ackWaitMs)) return false;
    t.send(*link::buildFrame(reply));
    if (!t.awaitByte(link::ACK, ackWaitMs)) return false;
    t.sendByte(link::EOT);
    return true;
}

}  // namespace korvel::test
