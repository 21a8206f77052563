// The extended protocol as one object: its request fields with their validating writes, the
// sequence number and function time-outs, the encoder, the exchange with the terminal, the
// decoder into the result fields, and the fifteen operations.  It reaches the terminal through
// a `Channel` and reports through a `Reporter`; it knows nothing of the control.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "extended/Channel.h"
#include "extended/State.h"

namespace korvel::ext {

/// The extended operations, each one exchange with its own function code.
enum class Operation {
    Authorization,
    Recording,
    ReceiptMerchant,
    TicketRequested,
    CardReaderOperation,
    SettingExtReader,
    ReadingCard,
    DisplayingPinPadRequest,
    StatusRequest,
    SoftwareStatus,
    ClearTransactionFile,
    AbortOperation,
    SettingEFTConfiguration,
    SettingEFTApplication,
    Beep,
};

struct OperationInfo {
    Operation operation;
    const char* name;         ///< member name; its failure tag is "errorHandler" + name
    const char* code;         ///< function code
    std::vector<Field> args;  ///< the fields its arguments are written to, in argument order
    /// An empty argument is written too (else it leaves its field as it is).
    bool writeEmpty = false;
};

/// Every operation, indexed by `Operation`.
const std::vector<OperationInfo>& operations();

class Exchange {
  public:
    /// Both must outlive the exchange.  The state is that of a created control
    /// (`reset(false)`).
    Exchange(Channel& channel, Reporter& reporter);
    /// Wipes the request and result fields (card tracks and data may be in them).
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    /// Creation (`newInstance` false) or new-instance initialisation: the initial values
    /// again; a new instance keeps the fields that have none.
    void reset(bool newInstance);
    /// The state, for the container's property saving and loading.
    State& state() { return s_; }
    const State& state() const { return s_; }

    // ---- Request fields and function time-outs -------------------------------------------

    /// A request field at its full width.
    const std::string& field(Field f) const { return s_.field(f); }
    /// The validating write: a rejected value reports its tag by the error convention and
    /// leaves the field as it was; an accepted one is mapped, fitted, stored and announced.
    void putField(Field f, const std::string& value);
    /// Stores `text` into the request field of property name `name` as loading does (fit, no
    /// check, no notification); false for a name that is not a request field.
    bool storeUnchecked(std::string_view name, const std::string& text);
    /// A function time-out, milliseconds.
    int32_t timeout(Timeout t) const { return s_.timeout(t); }
    /// Stores any value and announces it.
    void putTimeout(Timeout t, int32_t ms);
    bool incSequenceEnabled() const { return s_.incSequenceEnabled; }
    /// Stores any value and announces "POSAutoIncSequenceEnabled".
    void setIncSequenceEnabled(bool on);
    /// Advances the sequence number when enabled (no check, no notification); any fault
    /// resets it to "01".
    void incSequence();

    // ---- Results of the last reply -------------------------------------------------------

    /// A result field (status fields "99" until a reply is decoded).
    const std::string& result(Result r) const { return s_.result(r); }
    /// Entry `index` of the software table (code, 4 characters, or version, 2).  Throws
    /// std::out_of_range for a negative index; reports "errorPOSAutoCode" (or Version) and
    /// returns "" for an index above 31.
    std::string code(int16_t index) { return softwareEntry(index, true); }
    std::string version(int16_t index) { return softwareEntry(index, false); }

    // ---- Exchanges -----------------------------------------------------------------------

    /// Builds the request of function code `fct` from the fields and sends it.  False when a
    /// check refused it (its tag reported), the send failed, or an exchange is running
    /// ("errorPOSAutoExchangeBusy", refused).  Tag of other failures "errorHandlerPOSAutosend".
    bool send(const std::string& fct);
    /// One exchange: the request of `fct`, the reply wait (`ms`, or the code's function
    /// time-out when 0), the checks of the echoed sequence and code, decoding, the operation
    /// check.  Returns the reply, or "" on failure (tags "errorHandlerPOSAutoMessage",
    /// "...Sequence", "...Function", "...Operation").
    std::string message(const std::string& fct, int32_t ms);
    /// Operation `op`: each argument written through the validating write (an empty one only
    /// when the operation writes empty arguments), then its exchange.  `args` has one entry
    /// per field of the operation.  "" on failure.
    std::string run(Operation op, std::initializer_list<const std::string*> args, int32_t ms);

  private:
    bool refuseNested();
    bool sendRequest(const std::string& fct);
    std::string exchange(const std::string& fct, int32_t wait, std::string& reply);
    bool decode(const std::string& fct, const std::string& reply);
    bool sequenceEchoed(const std::string& reply) const;
    int32_t replyWait(const std::string& fct, int32_t ms) const;
    std::string softwareEntry(int16_t index, bool codes);
    // The one failure path of an operation: runs `body`; when it throws, reports `tag` and
    // returns `failureValue`.
    template <class R, class F>
    R guarded(const char* tag, R failureValue, F&& body) {
        try {
            return body();
        } catch (...) {
            // Anything the steps throw (the channel, an allocation) takes this path.
        }
        reporter_.fail(tag);
        return failureValue;
    }

    Channel& channel_;
    Reporter& reporter_;
    State s_;
    /// An exchange is running (nested exchanges from the host's handlers are refused).
    bool running_ = false;
};

}  // namespace korvel::ext
