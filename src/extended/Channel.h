// What the extended protocol needs from below and above it: a channel to the terminal (the
// link's framed send and reply wait) and a reporter (the host's error convention and events).
// The control implements both by forwarding to its link and its event sink; tests give fakes.
#pragma once

#include <cstdint>
#include <string>

namespace korvel::ext {

/// The link to the terminal, as the extended exchange uses it.  Any member may throw (a
/// serial port that fails); the exchange takes its failure path then.
class Channel {
  public:
    virtual ~Channel() = default;
    /// Sends `message` as one acknowledged framed message.  False when the send failed; the
    /// send has reported its own failure then.
    virtual bool send(const std::string& message) = 0;
    /// Waits up to `ms` milliseconds for the terminal's message and returns it; "" when none
    /// arrived (deadline, host abort, Escape, or a failure the wait reported).
    virtual std::string receive(int32_t ms) = 0;
    /// The next received message is announced by the exchange itself, not by the link.
    virtual void holdReceivedEvent() = 0;
    /// Whether a received message may be announced now: receiving is enabled and a message
    /// was stored.
    virtual bool messageReady() = 0;
};

/// How the extended protocol reports to the host.
class Reporter {
  public:
    virtual ~Reporter() = default;
    /// Reports `tag` by the error convention: stores it as the error text and raises the
    /// error event when errors are enabled.
    virtual void fail(const char* tag) = 0;
    /// Shows `tag` like `fail`, then puts the previous error text back, so that a refusal
    /// does not end a reply wait that is running.
    virtual void refuse(const char* tag) = 0;
    /// An authorisation answered with its intermediate reply: the host may abort the wait.
    virtual void abortEnabled() = 0;
    /// A reply has been decoded and may be read.
    virtual void received() = 0;
    /// The property `name` changed (the container's notification; its faults are ignored).
    virtual void changed(const char* name) = 0;
};

}  // namespace korvel::ext
