// A simulated terminal on end B of a virtual line, and a scripted control on end A that writes
// bytes at chosen virtual times and records what arrives, with times.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "korvelcom/platform/WireLog.h"
#include "platform/sim/SimLine.h"
#include "platform/sim/SimLoop.h"
#include "sim/Frames.h"
#include "sim/Terminal.h"

namespace korvel::sim::test {

/// Wire time of one character at 9600 baud, 10 bits, in microseconds.
inline constexpr int64_t kChar = 1042;
inline constexpr int64_t kMs = 1000;

struct Arrival {
    int64_t us;
    char byte;
    bool operator==(const Arrival&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Arrival& a) {
    return os << a.us << "us " << WireLog::describe(std::string(1, a.byte));
}

inline std::string one(char c) {
    return std::string(1, c);
}

class TerminalTest : public ::testing::Test {
  protected:
    SimLoop loop;
    SimLine line{loop, 1};
    std::vector<Arrival> atA;       ///< what reached the control's end
    std::function<void(char)> onA;  ///< the scripted control's reaction to a byte
    std::unique_ptr<SimLinePort> port;
    std::unique_ptr<Terminal> term;

    void SetUp() override {
        line.end(SimLine::A).setReceiver([this](uint8_t b) {
            atA.push_back({loop.nowUs(), static_cast<char>(b)});
            if (onA) onA(static_cast<char>(b));
        });
    }

    void start(TerminalOptions options = {}) {
        port = std::make_unique<SimLinePort>(loop, line.end(SimLine::B));
        term = std::make_unique<Terminal>(loop, *port, std::move(options));
    }

    /// The control writes `bytes` now, or at virtual time `us`.
    void ctl(const std::string& bytes) { line.end(SimLine::A).write(bytes); }
    void ctlAt(int64_t us, const std::string& bytes) {
        loop.at(us, [this, bytes] { ctl(bytes); });
    }
    /// The control writes `bytes` `delayUs` after each arrival of `trigger`.
    void answer(char trigger, int64_t delayUs, const std::string& bytes) {
        onA = [this, trigger, delayUs, bytes](char b) {
            if (b == trigger) loop.after(delayUs, [this, bytes] { ctl(bytes); });
        };
    }

    /// The control accepts the terminal's sessions, as its receive path does: ACK 20 ms after
    /// an ENQ (when `ackEnq`), and ACK 70 ms (50 ms of silence, 20 ms reply pause) after the
    /// byte that completes a frame with a correct LRC (when `ackFrame`).  Bytes before STX are
    /// skipped.  `frames` collects the frames' texts.
    void controlAccepts(bool ackEnq = true, bool ackFrame = true) {
        onA = [this, ackEnq, ackFrame](char b) {
            if (!inFrame_) {
                if (b == ENQ && ackEnq) loop.after(20'000, [this] { ctl(one(ACK)); });
                if (b == STX) {
                    inFrame_ = true;
                    body_.clear();
                }
                return;
            }
            body_.push_back(b);
            if (endsWithLrcCheck(body_)) {
                inFrame_ = false;
                frames.push_back(body_.substr(0, body_.size() - 2));
                if (ackFrame) loop.after(70'000, [this] { ctl(one(ACK)); });
            }
        };
    }
    std::vector<std::string> frames;

    /// Everything that reached the control, concatenated.
    std::string bytesAtA() const {
        std::string s;
        for (const auto& a : atA)
            s.push_back(a.byte);
        return s;
    }
    /// Arrivals of one byte value at the control.
    std::vector<int64_t> timesOf(char byte) const {
        std::vector<int64_t> t;
        for (const auto& a : atA)
            if (a.byte == byte) t.push_back(a.us);
        return t;
    }
    /// Virtual time at which the last byte of a `n`-byte write started at `us` arrives.
    static int64_t arrivalOfLast(int64_t us, std::size_t n) {
        return us + static_cast<int64_t>(n) * kChar;
    }

    void runMs(int64_t ms) { loop.runFor(ms * kMs); }

  private:
    bool inFrame_ = false;
    std::string body_;
};

}  // namespace korvel::sim::test
