// The control's state for the extended protocol: the request fields at their full widths, the
// function time-outs, the sequence switch, and the two status fields the encoder resets.
// Included by the files that implement the control's extended members.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "extended/Decoder.h"
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

    /// The other result fields of the last decoded replies, indexed by `ext::Result` (status
    /// and card status are the two fields above); code-0 characters until a reply fills them.
    std::array<std::string, ext::kResultCount> results = initialResults();
    /// The software table of the last software-status reply.
    std::array<std::string, ext::kSoftwareEntries> codes = filled(ext::kCodeWidth);
    std::array<std::string, ext::kSoftwareEntries> versions = filled(ext::kVersionWidth);
    /// The operation number announced by the last card reading (10, 11); a payment reply (01,
    /// 03, 04, 23) must carry it.  Kept with the persisted properties.
    std::string expectedOperation = "9999";
    /// An extended exchange is running (nested operations from handlers are refused).
    bool exchangeRunning = false;

    std::string& result(ext::Result r) { return results[static_cast<std::size_t>(r)]; }
    const std::string& result(ext::Result r) const { return results[static_cast<std::size_t>(r)]; }

    std::string& field(ext::Field f) { return fields[ext::index(f)]; }
    const std::string& field(ext::Field f) const { return fields[ext::index(f)]; }
    int32_t& timeout(ext::Timeout t) { return timeouts[ext::index(t)]; }
    int32_t timeout(ext::Timeout t) const { return timeouts[ext::index(t)]; }
    /// Stores `text` into `f` with the left-aligned fit: no check, no notification (the
    /// encoder's recomputed seconds, the sequence advance, reply decoding, property loading).
    void store(ext::Field f, const std::string& text);

  private:
    static std::array<std::string, ext::kResultCount> initialResults() {
        std::array<std::string, ext::kResultCount> r;
        for (std::size_t i = 0; i < ext::kResultCount; ++i)
            r[i] = std::string(ext::resultWidth(static_cast<ext::Result>(i)), '\0');
        return r;
    }
    static std::array<std::string, ext::kSoftwareEntries> filled(std::size_t width) {
        std::array<std::string, ext::kSoftwareEntries> a;
        a.fill(std::string(width, '\0'));
        return a;
    }
};

}  // namespace korvel
