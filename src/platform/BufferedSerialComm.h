// The behaviour every serial port of ours shares: the receive buffer, thresholds, input length
// and mode, receive notifications delivered from the loop, the wire log, and the rule that a
// device that went away fails the next member that touches it.  Transports supply open, close,
// write and the gathering of arrived bytes.
#pragma once

#include <functional>
#include <string>

#include "korvelcom/platform/HostLoop.h"
#include "korvelcom/platform/SerialComm.h"
#include "platform/LineSettings.h"

namespace korvel {

class BufferedSerialComm : public SerialComm, public LoopSource {
  public:
    /// Registers itself as a source of `loop`; unregisters in the destructor.
    explicit BufferedSerialComm(HostLoop& loop);
    ~BufferedSerialComm() override;
    BufferedSerialComm(const BufferedSerialComm&) = delete;
    BufferedSerialComm& operator=(const BufferedSerialComm&) = delete;

    int16_t commPort() const override { return port_; }
    void setCommPort(int16_t port) override;
    std::string settings() const override { return settingsText_; }
    void setSettings(const std::string& settings) override;
    bool portOpen() const override { return open_; }
    void setPortOpen(bool open) override;
    int32_t inBufferCount() override;
    std::string input() override;
    int16_t inputLen() const override { return inputLen_; }
    void setInputLen(int16_t len) override;
    int32_t inputMode() const override { return inputMode_; }
    void setInputMode(int32_t mode) override;
    void output(const std::string& bytes) override;
    int16_t rThreshold() const override { return rThreshold_; }
    void setRThreshold(int16_t threshold) override;
    int16_t sThreshold() const override { return sThreshold_; }
    void setSThreshold(int16_t threshold) override;
    int16_t commEvent() const override { return event_; }
    void setOnComm(std::function<void()> handler) override { onComm_ = std::move(handler); }
    void setWireLog(WireLog* log) override { log_ = log; }

    /// Gathers arrived bytes and, when characters arrived since the last notification and the
    /// receive threshold is met, delivers one receive notification.
    bool service() override;
    bool hasPending() const override { return open_ && !rx_.empty(); }

    /// The parsed form of `settings()`.
    const LineSettings& lineSettings() const { return line_; }
    /// Whether the open device has gone away (unplugged, hung up).
    bool gone() const { return !goneReason_.empty(); }

  protected:
    /// Opens the device for port `port_` with `line_`; throws `SerialError` on failure.
    virtual void doOpen() = 0;
    /// Closes the device; never throws.
    virtual void doClose() noexcept = 0;
    /// Queues bytes for transmission; throws `SerialError` on failure.
    virtual void doWrite(const std::string& bytes) = 0;
    /// Gathers whatever arrived without blocking and hands it to `deliver`; reports a vanished
    /// device with `markGone`.  Returns whether anything arrived.
    virtual bool gatherInput() { return false; }
    /// Time for the wire log, in microseconds.
    virtual int64_t nowUs() = 0;

    /// Appends arrived bytes to the receive buffer (dropped while the port is closed).
    void deliver(const std::string& bytes);
    /// Records that the device went away: members that touch it throw until it is closed.
    void markGone(const std::string& reason);
    HostLoop& loop() { return loop_; }

  private:
    void checkUsable(const char* what);
    // Room reserved when the port opens, so that the buffer holding received characters (card
    // data among them) is not moved, leaving an unwiped copy behind, as a message arrives.
    static constexpr std::size_t kReceiveBufferReserve = 32768;

    HostLoop& loop_;
    int16_t port_ = 1;
    std::string settingsText_ = "9600,e,7,1";
    LineSettings line_{};
    bool open_ = false;
    std::string rx_;
    bool arrivedSinceNotify_ = false;
    std::string goneReason_;
    int16_t inputLen_ = 0;
    int32_t inputMode_ = 0;
    int16_t rThreshold_ = 0;
    int16_t sThreshold_ = 0;
    int16_t event_ = kCommEvNone;
    std::function<void()> onComm_;
    WireLog* log_ = nullptr;
};

}  // namespace korvel
