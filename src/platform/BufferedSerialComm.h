// The serial port component every line of ours shares: the receive buffer and its bound,
// thresholds, input length and mode, receive notifications delivered from the loop, the wire
// log, and the rule that a device that went away fails the next member that touches it.  The
// bytes travel over a `Transport`, opened afresh at every open of the port.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "korvelcom/platform/HostLoop.h"
#include "korvelcom/platform/LineSettings.h"
#include "korvelcom/platform/SerialComm.h"
#include "korvelcom/platform/Transport.h"

namespace korvel {

/// A `SerialComm` over a `Transport`.
///
/// Opening asks the opener for an open transport for the port number and line settings; its
/// `SerialError` fails the open.  Bytes that arrive are gathered at every loop service and by
/// the members that read; the receive buffer holds at most `kReceiveBufferSize` characters:
/// while it is full nothing more is read, and the transport's own buffer keeps what follows (a
/// pseudo-terminal then holds its writer back; a serial adapter drops what overflows, as a UART
/// does).
///
/// A transport that is gone raises no notification, leaves the loop's wait set, and what it
/// left unread no longer keeps a waiting loop polling; the port still reads as open.  Members
/// that use the line (`inBufferCount`, `input`, `output`) throw `SerialError` until the port is
/// closed, except that a reattachable transport (see `Transport::reattachable`) is first
/// replaced: the opener is asked again for the port, and when that works the port carries on
/// with the new transport (what the old one left unread or unsent is dropped).  The old one
/// stays open until then, so that its name (a pseudo-terminal's number) cannot pass to another
/// device meanwhile.
class BufferedSerialComm : public SerialComm, public LoopSource {
  public:
    /// Opens the transport that port `port` leads to now, with `line`; throws `SerialError`.
    using Opener = std::function<std::unique_ptr<Transport>(int16_t port, const LineSettings&)>;

    /// Registers itself as a source of `loop` (which must outlive it); unregisters in the
    /// destructor, which also destroys an open transport (closing it).
    BufferedSerialComm(HostLoop& loop, Opener opener);
    ~BufferedSerialComm() override;
    BufferedSerialComm(const BufferedSerialComm&) = delete;
    BufferedSerialComm& operator=(const BufferedSerialComm&) = delete;

    /// Most characters the receive buffer holds (the most a 16-bit count reports).
    static constexpr std::size_t kReceiveBufferSize = 32767;

    int16_t commPort() const override { return port_; }
    void setCommPort(int16_t port) override;
    std::string settings() const override { return settingsText_; }
    void setSettings(const std::string& settings) override;
    bool portOpen() const override { return transport_ != nullptr; }
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
    /// The transport's handle while open, not gone and with room in the receive buffer.
    ReadyHandle waitHandle() const override;
    /// Whether received characters wait (never while gone: they can no longer be read).
    bool hasPending() const override { return transport_ && !gone() && !rx_.empty(); }

    /// The parsed form of `settings()`.
    const LineSettings& lineSettings() const { return line_; }
    /// Whether the open transport has gone away (unplugged, hung up).
    bool gone() const { return transport_ && transport_->gone(); }
    /// The open transport; nullptr while closed.
    Transport* transport() { return transport_.get(); }
    const Transport* transport() const { return transport_.get(); }

  private:
    void checkUsable(const char* what);
    /// Reads what arrived, within the buffer's bound, into the buffer; returns whether any did.
    bool gatherInput();
    /// When gone and reattachable: opens the port's transport again and carries on with it.
    void reattach();
    /// Forgets the receive buffer (overwriting it: it may hold card data).
    void resetBuffer(bool reserve);
    // Room reserved when the port opens, so that the buffer holding received characters (card
    // data among them) is not moved, leaving an unwiped copy behind, as a message arrives.
    static constexpr std::size_t kReceiveBufferReserve = 32768;

    HostLoop& loop_;
    Opener opener_;
    std::unique_ptr<Transport> transport_;
    int16_t port_ = 1;
    std::string settingsText_ = "9600,e,7,1";
    LineSettings line_{};
    std::string rx_;
    bool arrivedSinceNotify_ = false;
    int16_t inputLen_ = 0;
    int32_t inputMode_ = 0;
    int16_t rThreshold_ = 0;
    int16_t sThreshold_ = 0;
    int16_t event_ = kCommEvNone;
    std::function<void()> onComm_;
    WireLog* log_ = nullptr;
};

/// Opens the endpoint `PortMap` resolves the port number to, with this system's transport
/// (`makeSystemTransport`): what a tool or benchmark with a loop of its own gives a port.
BufferedSerialComm::Opener systemOpener();

}  // namespace korvel
