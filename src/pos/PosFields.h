// The basic payment request and reply fields.  One record exists per thread, shared by every
// control created on that thread; each field keeps its full fixed width.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace korvel::pos {

/// The request fields, in the order the request message carries them.
enum class RequestField { Number, Amount, Rep, Mode, Type, Dev };

struct RequestFieldInfo {
    RequestField field;
    const char* name;  ///< property name, also the name announced to the container
    std::size_t width;
    const char* initial;
    bool digits;            ///< every character must be a decimal digit
    bool nonZero;           ///< the numeric value must not be 0
    const char* lengthTag;  ///< tag of a value of the wrong length
    const char* digitsTag;  ///< tag of a value with a non-digit (when `digits`)
    const char* zeroTag;    ///< tag of an all-zero value (when `nonZero`)
};

/// The six request fields with their widths, initial values and checks.
const std::array<RequestFieldInfo, 6>& requestFields();
const RequestFieldInfo& info(RequestField field);

/// Width of the request private area (always spaces).
inline constexpr std::size_t kPrivateAreaWidth = 10;
/// Length of the request message.
inline constexpr std::size_t kRequestLength = 26;

/// The reply fields, in the order the reply carries them, with their widths: number 2, status
/// 1, amount 8, mode 1, reply data 55, currency 3 (70 characters read).
enum class ReplyField { Number, Stat, Amount, Mode, Rep, Dev };
inline constexpr std::array<std::size_t, 6> kReplyWidths = {2, 1, 8, 1, 55, 3};
inline constexpr std::size_t kReplyLength = 70;

struct PosRecord {
    std::array<std::string, 6> request;  ///< indexed by RequestField
    std::string privateArea;
    std::array<std::string, 6> reply;  ///< indexed by ReplyField

    /// Request fields and private area at their initial values; reply fields never written.
    PosRecord();
    /// Request fields and private area back to their initial values (the reply stays).
    void resetRequest();
    /// The 26-character request message.
    std::string requestMessage() const;
    /// Cuts a reply into the reply fields (all spaces for an empty reply); never fails.
    void parseReply(const std::string& reply);
};

/// The record of the calling thread.
PosRecord& threadRecord();

/// The tag of the first check `value` fails for `field`, or nothing when it is accepted.
std::optional<const char*> check(RequestField field, const std::string& value);

}  // namespace korvel::pos
