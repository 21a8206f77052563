// The extended protocol's state: the request fields at their full widths, the function
// time-outs, the sequence switch, the result fields of the last replies, and the operation
// number a payment must carry.  The container persists part of it; `Exchange` works on it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "extended/Decoder.h"
#include "extended/ExtendedFields.h"

namespace korvel::ext {

struct State {
    /// Indexed by `Field`; every entry keeps its full width.
    std::array<std::string, kFieldCount> fields;
    /// Milliseconds, indexed by `Timeout`.
    std::array<int32_t, kTimeoutCount> timeouts{};
    bool incSequenceEnabled = true;
    /// "99" until a reply has been decoded for the last request.
    std::string status = "99";
    std::string statusCard = "99";

    /// The other result fields of the last decoded replies, indexed by `Result` (status and
    /// card status are the two fields above); code-0 characters until a reply fills them.
    std::array<std::string, kResultCount> results = initialResults();
    /// The software table of the last software-status reply.
    std::array<std::string, kSoftwareEntries> codes = filled(kCodeWidth);
    std::array<std::string, kSoftwareEntries> versions = filled(kVersionWidth);
    /// The operation number announced by the last card reading (10, 11); a payment reply (01,
    /// 03, 04, 23) must carry it.  Kept with the persisted properties.
    std::string expectedOperation = "9999";

    /// A result field, the two status fields included.
    std::string& result(Result r) {
        return r == Result::Status       ? status
               : r == Result::StatusCard ? statusCard
                                         : results[static_cast<std::size_t>(r)];
    }
    const std::string& result(Result r) const { return const_cast<State*>(this)->result(r); }

    std::string& field(Field f) { return fields[index(f)]; }
    const std::string& field(Field f) const { return fields[index(f)]; }
    int32_t& timeout(Timeout t) { return timeouts[index(t)]; }
    int32_t timeout(Timeout t) const { return timeouts[index(t)]; }
    /// Stores `text` into `f` with the left-aligned fit: no check, no notification (the
    /// encoder's recomputed seconds, the sequence advance, reply decoding, property loading).
    void store(Field f, const std::string& text);

  private:
    static std::array<std::string, kResultCount> initialResults() {
        std::array<std::string, kResultCount> r;
        for (std::size_t i = 0; i < kResultCount; ++i)
            r[i] = std::string(resultWidth(static_cast<Result>(i)), '\0');
        return r;
    }
    static std::array<std::string, kSoftwareEntries> filled(std::size_t width) {
        std::array<std::string, kSoftwareEntries> a;
        a.fill(std::string(width, '\0'));
        return a;
    }
};

}  // namespace korvel::ext
