// A transport on one endpoint of a simulated line, in virtual time.
#pragma once

#include <functional>
#include <string>

#include "korvelcom/platform/Transport.h"
#include "platform/sim/SimLine.h"
#include "platform/sim/SimLoop.h"

namespace korvel {

/// Bytes arriving at the endpoint while the transport is open wait until read; those that
/// arrive while it is closed are lost.  Line settings set the endpoint's character time.  It
/// needs no handle to wake the loop: arrivals are the loop's own scheduled events.
class SimLineTransport : public Transport {
  public:
    /// `loop` and `end` must outlive it.  `written`, when given, collects every byte written.
    SimLineTransport(SimLoop& loop, SimLine::Endpoint& end, std::string* written = nullptr);
    /// Lets go of the endpoint (arrivals are lost from then on).
    ~SimLineTransport() override;
    SimLineTransport(const SimLineTransport&) = delete;
    SimLineTransport& operator=(const SimLineTransport&) = delete;

    /// Decides whether an open succeeds: throw `SerialError` to refuse it (a missing or busy
    /// device).  Default: every open succeeds.
    void setOpenCheck(std::function<void(const Endpoint&)> check) { openCheck_ = std::move(check); }
    /// Called at every close of an open transport.
    void setCloseHook(std::function<void()> hook) { closeHook_ = std::move(hook); }

    /// Opens on the endpoint and sets its character time from `line`.
    void open(const Endpoint& where, const LineSettings& line) override;
    /// Opens on the endpoint as it is, its character time untouched (a test's far end).
    void connect();
    void close() noexcept override;
    bool isOpen() const override { return open_; }
    void applySettings(const LineSettings& line) override;
    LineSettings appliedSettings() const override { return line_; }
    std::size_t read(std::string& into, std::size_t max) override;
    void write(const std::string& bytes) override;
    const std::string& goneReason() const override { return gone_; }
    ReadyHandle readyHandle() const override { return kNoReadyHandle; }
    const Endpoint& endpoint() const override { return where_; }
    /// Virtual time.
    int64_t clockUs() const override { return loop_.nowUs(); }

    /// The device goes away: reads find nothing and writes fail until closed.
    void unplug() {
        if (open_ && gone_.empty()) gone_ = "the device went away";
    }

  private:
    SimLoop& loop_;
    SimLine::Endpoint& end_;
    std::string* written_;
    std::function<void(const Endpoint&)> openCheck_;
    std::function<void()> closeHook_;
    bool open_ = false;
    Endpoint where_;
    LineSettings line_{};
    std::string arrived_;
    std::string gone_;
};

}  // namespace korvel
