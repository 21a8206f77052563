// A control on the POSIX platform, its port a pseudo-terminal, and on the master side a scripted
// terminal on a thread of its own that can vanish, flood or dawdle.  Time limits: hang guards.
#pragma once

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "korvelcom/platform/Endpoint.h"
#include "platform/BufferedSerialComm.h"
#include "platform/posix/PosixHostLoop.h"
#include "platform/posix/Pty.h"
#include "support/World.h"

namespace korvel::test {

/// Yields `loop` until `done`; the bound is a hang guard only.
inline bool yieldUntil(PosixHostLoop& loop, const std::function<bool()>& done) {
    const int32_t guard = tickAdd(loop.tick(), 10'000);
    while (!done() && !tickPassed(loop.tick(), guard))
        loop.yield();
    return done();
}

/// Waits `ms` the way the control's waits do; returns the yields that took.
inline uint64_t waitFor(PosixHostLoop& loop, int32_t ms) {
    const uint64_t before = loop.yieldCount();
    for (const int32_t deadline = tickAdd(loop.tick(), ms); !tickPassed(loop.tick(), deadline);)
        loop.yieldUntil(deadline);
    return loop.yieldCount() - before;
}

inline void closeWithReset(Pty& pty) {
    pty.closeMaster();
}

/// A scripted terminal on the master side of `pty`, on a thread of its own (the only user of the
/// master while it runs; read `in` after `join()`).  `End`: the pseudo-terminal or a TcpEnd.
template <class End = Pty>
class PtyPeer {
  public:
    explicit PtyPeer(End& pty) : pty_(pty) {}
    ~PtyPeer() { join(); }

    void start(std::function<void(PtyPeer&)> script) {
        thread_ = std::thread([this, s = std::move(script)] { s(*this); });
    }
    void start(const std::string& steps, const std::string& text = "") {
        start([steps, text](PtyPeer& t) { t.play(steps, text); });
    }
    void join() {  // tells the script's waits to give up, then waits for its end
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        stop_ = false;
    }

    /// Plays `steps`, tokens separated by spaces, until one does not come off:
    ///   E F T A  wait for the control's ENQ, a whole frame, EOT, ACK
    ///   e a t    send ENQ (dropping what was read before), ACK, EOT
    ///   s        send EOT and the next session's ENQ in one write (one TCP segment)
    ///   p<ms>    pause;  v  vanish: the line drops, as when the terminal is unplugged
    ///   r        vanish with a reset (on TCP; as v on a pseudo-terminal)
    ///   f<ms>    send the frame of `text` in two halves <ms> apart;  b  one byte at a time
    ///   n        flood: frame-shaped noise with wrong checks, far more than a port buffers
    bool play(const std::string& steps, const std::string& text = "") {
        std::istringstream tokens(steps);
        for (std::string s; tokens >> s;) {
            const int ms = s.size() > 1 ? std::stoi(s.substr(1)) : 0;
            const char c = s[0];
            const std::string f = c == 'f' || c == 'b' ? *link::buildFrame(text) : "";
            if (c == 'e' || c == 's') pos_ = (in += pty_.readAvailable()).size();
            if (c == 'v') pty_.closeMaster();
            if (c == 'r') closeWithReset(pty_);
            const bool ok =
                c == 'E'   ? await(link::ENQ)
                : c == 'T' ? await(link::EOT)
                : c == 'A' ? await(link::ACK)
                : c == 'F' ? await(link::STX) && await(link::ETX) && await(0, true)
                : c == 'p' ? pause(ms)
                : c == 'n' ? send(noise())
                : c == 's' ? send({link::EOT, link::ENQ})
                : c == 'f'
                    ? send(f.substr(0, f.size() / 2)) && pause(ms) && send(f.substr(f.size() / 2))
                : c == 'b'
                    ? std::all_of(f.begin(), f.end(), [&](char b) { return send({b}) && pause(1); })
                    : c == 'v' || c == 'r' || send({"\x05\x06\x04"[std::string("eat").find(c)]});
            if (!ok) return false;
        }
        return true;
    }
    /// Writes every byte, waiting for room; false when told to stop or after a hang-up.
    bool send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size() && !stop_ && pty_.masterOpen()) {
            done += pty_.write(bytes.substr(done));
            pollfd p{pty_.masterFd(), POLLOUT, 0};
            if (done < bytes.size()) (void)::poll(&p, 1, 5);
        }
        return done == bytes.size();
    }
    bool pause(int ms) {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
             !stop_ && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return !stop_;
    }

    std::string in;  ///< every byte the control sent, as far as the script read

  private:
    static std::string noise() {
        std::string s;
        for (int i = 0; s.size() < 4 * BufferedSerialComm::kReceiveBufferSize; ++i) {
            const std::string text(i % 60 + 1, static_cast<char>('A' + i % 26));
            s += link::STX + text + link::ETX + static_cast<char>(link::lrc(text + link::ETX) ^ 1);
        }
        return s;
    }
    /// Reads up to byte `b` (with `any`: any byte); false when stopped, hung up or too late.
    bool await(char b, bool any = false) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            while (pos_ < in.size())
                if (in[pos_++] == b || any) return true;
            if (stop_ || !pty_.masterOpen() || std::chrono::steady_clock::now() > end) return false;
            pollfd p{pty_.masterFd(), POLLIN, 0};
            (void)::poll(&p, 1, 5);
            in += pty_.readAvailable();
        }
    }

    End& pty_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::size_t pos_ = 0;
};

/// A control on the thread's POSIX platform, its port `kPort` a fresh pseudo-terminal (or TCP).
template <class End = Pty>
struct PtyWorld {
    static constexpr int16_t kPort = 7;
    PtyWorld() {
        PortMap::set(kPort, pty.slavePath());
        c.setEventSink(&events);
        c.setCommPort(kPort);
        c.setCommSettings("9600,n,8,1");
    }
    ~PtyWorld() {
        peer.join();
        c.setEventSink(nullptr);
        loop().setEscapeSource(nullptr);
        PortMap::clear();
    }
    /// Runs `member` while the peer plays `steps`; returns the ticks it took.
    int32_t during(const std::string& steps, const std::string& text,
                   const std::function<void()>& member) {
        peer.start(steps, text);
        const int32_t t0 = loop().tick();
        member();
        peer.join();
        return tickAdd(loop().tick(), -t0);
    }
    PosixHostLoop& loop() { return static_cast<PosixHostLoop&>(c.platform().loop()); }

    End pty;
    PtyPeer<End> peer{pty};
    KorvelComTools c;
    Recorder events;
};

}  // namespace korvel::test
