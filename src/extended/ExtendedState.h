// The control's state for the extended protocol: the request fields at their full widths, the
// function time-outs, the sequence switch, and the two status fields the encoder resets.
// Included by the files that implement the control's extended members.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "extended/ExtendedFields.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

struct KorvelComTools::ExtendedState {
    /// Indexed by `ext::Field`; every entry keeps its full width.
    std::array<std::string, ext::kFieldCount> fields;
    /// Milliseconds, indexed by `ext::Timeout`.
    std::array<int32_t, ext::kTimeoutCount> timeouts{};
    bool incSequenceEnabled = true;
    /// "99" until a reply has been decoded for the last request.
    std::string status = "99";
    std::string statusCard = "99";

    std::string& field(ext::Field f) { return fields[ext::index(f)]; }
    const std::string& field(ext::Field f) const { return fields[ext::index(f)]; }
    int32_t& timeout(ext::Timeout t) { return timeouts[ext::index(t)]; }
    int32_t timeout(ext::Timeout t) const { return timeouts[ext::index(t)]; }
    /// Stores `text` into `f` with the left-aligned fit: no check, no notification (the
    /// encoder's recomputed seconds, the sequence advance, reply decoding, property loading).
    void store(ext::Field f, const std::string& text);
};

}  // namespace korvel
