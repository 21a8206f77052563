// The basic payment over the link: validating puts of the request fields, the request, the
// reply wait and the reply fields.  The fields live in this thread's `PosRecord`.
#pragma once

#include <cstdint>
#include <string>

#include "link/Link.h"
#include "pos/PosFields.h"

namespace korvel::pos {

class Payment {
  public:
    /// `link` must outlive the payment.
    explicit Payment(link::Link& link) : link_(link) {}

    /// The request field's value, full width.
    std::string request(RequestField field) const;
    /// The reply field's value of this thread's last exchange.
    std::string reply(ReplyField field) const;
    /// Stores `value` when its checks pass and returns true; otherwise reports the check's tag
    /// through the link's error convention, leaves the field as it was and returns false.
    bool put(RequestField field, const std::string& value);

    /// Sends the 26-character request; an unexpected fault reports "errorHandlerPOSsend".
    bool POSsend();
    /// Blanks the reply fields, sends, waits up to `timeoutMs` for the reply, decodes it and
    /// returns it, raising the received event once the fields are filled.  Empty when the send
    /// failed or no reply came; an unexpected fault reports "errorHandlerPOSMessage".
    std::string POSMessage(int32_t timeoutMs);

  private:
    link::Link& link_;
};

}  // namespace korvel::pos
