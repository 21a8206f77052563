// The extended reply layouts as data: for each function code, the fields its reply carries
// after the sequence number and the code, in order, each with its width and where it goes (an
// extended request field, a result field, or one entry of the software table).  Start positions
// follow from the widths.  `extractReply` cuts a reply by its layout; the exchange applies the
// pieces to its state.  Pure data and pure functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "extended/ExtendedFields.h"

namespace korvel::ext {

/// The result fields of an extended reply (read-only properties of the control).
enum class Result : std::size_t {
    Status,       ///< `POSAutoStatus`, 2
    StatusCard,   ///< `POSAutoStatusCard`, 2
    Application,  ///< `POSAutoApplication`, 4
    Receipt,      ///< `POSAutoReceipt`, 500
    Private,      ///< `POSAutoPrivate`, 10
    NbCharacter,  ///< `POSAutoNbCharacter`, 1
    String,       ///< `POSAutoString`, 15
    StatusEFT,    ///< `POSAutoStatusEFT`, 5
};
inline constexpr std::size_t kResultCount = 8;

/// Entries of the software table (`POSAutoCode`, `POSAutoVersion`): indices 0 to 31.
inline constexpr std::size_t kSoftwareEntries = 32;
inline constexpr std::size_t kCodeWidth = 4;
inline constexpr std::size_t kVersionWidth = 2;

/// Width of a result field.
std::size_t resultWidth(Result r);

/// Where a piece of a reply goes.
struct ReplyField {
    enum class Into { Request, Result, Code, Version };
    /// When the piece is taken.
    enum class When {
        Always,
        /// Only while `POSAutoControl` is "5" or "4" (the card information of an authorisation).
        CardInfoRequested,
        /// Only when the status decoded just before is "00"; otherwise the field becomes
        /// spaces at its full width.
        StatusOk,
    };
    Into into;
    std::size_t which;  ///< `Field`, `Result` or the software table index
    std::size_t width;
    When when = When::Always;
};

struct ReplyLayout {
    std::vector<std::string_view> codes;  ///< the function codes answered this way
    std::vector<ReplyField> fields;       ///< in reply order, contiguous from position 5
    /// The reply's operation number becomes the one a following payment must carry.
    bool setsExpectedOperation = false;
    /// After decoding, `POSAutoOperation` must equal the expected operation number.
    bool checksOperation = false;
};

/// Every reply layout.
const std::vector<ReplyLayout>& replyLayouts();
/// The reply layout of function code `fct` (exact, case-sensitive), or nullptr when the code
/// has none (22, 40, 50, 60, 41, 51, 61, anything unlisted).
const ReplyLayout* replyLayoutFor(std::string_view fct);

/// One piece cut from a reply: the field it goes to and its text at the field's full width.
struct Extracted {
    ReplyField target;
    std::string text;
};

/// Cuts `reply` by `layout`, the first field starting at the 0-based offset `start` (the
/// lengths of the sequence number and the function code).  A field the reply ends inside is
/// shorter or empty and filled with spaces to its width; characters after the last field are
/// ignored.  `control` is the current `POSAutoControl`.  Fields skipped by their condition are
/// not returned, except a `StatusOk` field, which is returned as spaces.
std::vector<Extracted> extractReply(const ReplyLayout& layout, const std::string& reply,
                                    std::size_t start, std::string_view control);

}  // namespace korvel::ext
