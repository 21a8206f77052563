// Shared by the fuzz targets: the check that stops a run on a broken invariant, a reader of
// values from the front of the input, and the terminal's script, chunks of [flags][delay ms,
// 0-63][length][bytes] (the flags' high four bits extend the length to 4095).
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"

namespace korvel::fuzz {

/// Stops the run unless `ok`, naming the broken invariant (libFuzzer keeps the input).
inline void check(bool ok, const char* what) {
    if (!ok) std::fprintf(stderr, "invariant broken: %s\n", what), __builtin_trap();
}

/// Values from the front of the input; zeros once it is used up.
struct Input {
    std::string_view in;
    uint8_t byte() {
        return in.empty() ? 0 : static_cast<uint8_t>(std::exchange(in, in.substr(1))[0]);
    }
    int16_t i16() {
        const uint8_t low = byte();
        return static_cast<int16_t>(low | byte() << 8);
    }
    std::string bytes(std::size_t n) {
        return std::string(std::exchange(in, in.substr(std::min(n, in.size()))).substr(0, n));
    }
};
inline Input input(const uint8_t* data, std::size_t size) {
    return {{reinterpret_cast<const char*>(data), size}};
}

// kAfterAck: the delay starts once the control has sent its next ACK; kFramed: the bytes go in
// the target's frame; kEarly: they go out before the control starts waiting.
enum ChunkFlag : uint8_t { kAfterAck = 1, kFramed = 2, kEarly = 4 };
struct Chunk {
    uint8_t flags;
    int32_t delayMs;
    std::string bytes;
};
inline std::vector<Chunk> readChunks(Input& in) {
    std::vector<Chunk> out;
    for (std::string h; out.size() < 24 && (h = in.bytes(3)).size() == 3;)
        out.push_back({static_cast<uint8_t>(h[0]), h[1] & 0x3F,
                       in.bytes((h[0] & 0xF0) << 4 | static_cast<uint8_t>(h[2]))});
    return out;
}
inline std::string writeChunk(uint8_t flags, int32_t delayMs, const std::string& b) {
    const auto n = static_cast<int>(std::min<std::size_t>(b.size(), 0xFFF));
    return std::string{static_cast<char>(flags | (n >> 4 & 0xF0)), static_cast<char>(delayMs),
                       static_cast<char>(n)} +
           b.substr(0, n);
}

/// Plays chunks from the terminal's end, each after its delay from the one before; an
/// after-ACK chunk waits for `ack()`.
class Player {
  public:
    Player(SimPlatform& p, std::vector<Chunk> chunks, std::string (*frame)(const std::string&))
        : p_(p), chunks_(std::move(chunks)), frame_(frame) {}
    void start() {
        waiting_ = next_ < chunks_.size() && chunks_[next_].flags & kAfterAck;
        if (next_ < chunks_.size() && !waiting_) write();
    }
    void ack() {
        if (std::exchange(waiting_, false)) write();
    }

  private:
    void write() {
        const Chunk& k = chunks_[next_++];
        p_.simLoop().after(k.delayMs * 1000,
                           [this, b = k.flags & kFramed ? frame_(k.bytes) : k.bytes] {
                               p_.terminal().write(b);
                               start();
                           });
    }
    SimPlatform& p_;
    std::vector<Chunk> chunks_;
    std::string (*frame_)(const std::string&);
    std::size_t next_ = 0;
    bool waiting_ = false;
};

/// The characters at 1-based positions `first` to `last` of `text`, spaces past its end.
inline std::string slice(const std::string& text, std::size_t first, std::size_t last) {
    std::string out = first <= text.size() ? text.substr(first - 1, last - first + 1) : "";
    return out.append(last - first + 1 - out.size(), ' ');
}

/// The payment reply fields the control shows are the reply's characters at their positions.
inline void checkPosFields(const KorvelComTools& c, const std::string& reply) {
    std::string joined, widths;
    for (const std::string& f : {c.EFTposNumber(), c.EFTposStat(), c.EFTposAmount(), c.EFTposMode(),
                                 c.EFTposRep(), c.EFTposDev()})
        joined += f, widths += std::to_string(f.size()) + ' ';
    check(joined == slice(reply, 1, 70) && widths == "2 1 8 1 55 3 ", "the payment reply fields");
}

/// The receive target's input: [scenario][operation][flags][link timing][pause][wait], chunks.
enum Scenario : uint8_t { kPosMessage, kMessage, kExtended, kIdle };
enum ReceiveFlag : uint8_t { kReceiveOn = 1, kErrorOn = 2, kCardInfo = 4, kOperationZero = 8 };
inline constexpr const char* kOperations[] = {"01", "03", "04", "10", "11", "12", "14",
                                              "15", "16", "17", "18", "19", "20", "21",
                                              "23", "40", "41", "50", "51", "60", "61"};

inline const char* cardReaderFor(const std::string& code) {  // what a card reading needs
    return code == "11" || code == "41" || code == "51" || code == "61" ? "1" : "0";
}

}  // namespace korvel::fuzz
