// Card data in what the project prints, logs or keeps on its own: finding it, masking it for
// display, and wiping buffers that held it.  The wire and the host's fields are never changed;
// only their renderings are.  Rules: docs/card-data.md.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "korvelcom/Export.h"

namespace korvel {

/// One piece of card data in a text: `[pos, pos + len)` is shown as `shown`.
struct CardDataSpan {
    std::size_t pos = 0;
    std::size_t len = 0;
    std::string shown;
};

/// The card data in `text`, in order, not overlapping: a magnetic track, shown as its kind
/// and length ("[track 2: 37 characters]"); a Luhn-valid card number of 13 to 19 digits,
/// shown with its first six and last four digits ("497010******1235").
KORVELCOM_API std::vector<CardDataSpan> findCardData(std::string_view text);

/// `text` with every span of `findCardData` replaced by its shown form.
KORVELCOM_API std::string maskCardData(std::string_view text);

/// Whether displays show card data in clear: false unless the environment variable
/// KORVELCOM_SHOW_CARD_DATA is "1" or a program said so with `setCardDataShown(true)` (a lab).
KORVELCOM_API bool cardDataShown();
KORVELCOM_API void setCardDataShown(bool shown);

/// `text` as displays show it: masked unless `cardDataShown()`.
KORVELCOM_API std::string cardDataForDisplay(std::string_view text);

/// Overwrites every byte `s` holds (its whole capacity) with code 0 in a way the optimiser
/// keeps, then empties it.  `what` names the buffer for the test hook.
KORVELCOM_API void wipe(std::string& s, const char* what = "");

/// Wipes a buffer when the scope that holds it ends (card data in locals of an exchange).
class KORVELCOM_API WipeOnExit {
  public:
    WipeOnExit(std::string& s, const char* what) : s_(s), what_(what) {}
    ~WipeOnExit() { wipe(s_, what_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

  private:
    std::string& s_;
    const char* what_;
};

/// Test hook: when set, called by `wipe` after overwriting and before emptying, with the
/// buffer's bytes (its whole capacity) and its name.
using WipeObserver = void (*)(const char* data, std::size_t size, const char* what);
KORVELCOM_API void setWipeObserver(WipeObserver observer);

}  // namespace korvel
