#include "platform/BufferedSerialComm.h"

#include <algorithm>

#include "korvelcom/CardData.h"
#include "korvelcom/platform/WireLog.h"

namespace korvel {

BufferedSerialComm::BufferedSerialComm(HostLoop& loop, Opener opener)
    : loop_(loop), opener_(std::move(opener)) {
    line_ = *LineSettings::parse(settingsText_);
    loop_.addSource(this);
}

BufferedSerialComm::~BufferedSerialComm() {
    loop_.removeSource(this);
    transport_.reset();  // a transport closes itself (without the hooks of a close)
    wipe(rx_, "receive buffer");
}

void BufferedSerialComm::setCommPort(int16_t port) {
    if (transport_) throw SerialError("the port number cannot change while the port is open");
    if (port < 1) throw SerialError("invalid port number " + std::to_string(port));
    port_ = port;
}

void BufferedSerialComm::setSettings(const std::string& settings) {
    const auto parsed = LineSettings::parse(settings);
    if (!parsed) throw SerialError("invalid line settings \"" + settings + "\"");
    settingsText_ = settings;
    line_ = *parsed;
}

void BufferedSerialComm::resetBuffer(bool reserve) {
    wipe(rx_, "receive buffer");
    if (reserve) rx_.reserve(kReceiveBufferReserve);
    arrivedSinceNotify_ = false;
}

void BufferedSerialComm::setPortOpen(bool open) {
    if (open == portOpen()) {
        if (open) throw SerialError("the port is already open");
        return;
    }
    resetBuffer(open);
    if (open) {
        transport_ = opener_(port_, line_);
    } else {
        const std::unique_ptr<Transport> closing = std::move(transport_);
        closing->close();
    }
}

void BufferedSerialComm::reattach() {
    if (!gone() || !transport_->reattachable()) return;
    std::unique_ptr<Transport> fresh;
    try {
        fresh = opener_(port_, line_);
    } catch (const SerialError&) {
        return;  // still gone: the calling member reports it
    }
    // Close the dead one and take the new one; what the old one left unread is dropped.
    transport_->close();
    resetBuffer(true);
    transport_ = std::move(fresh);
}

void BufferedSerialComm::checkUsable(const char* what) {
    if (!transport_) throw SerialError(std::string(what) + ": the port is not open");
    if (transport_->gone()) throw SerialError(std::string(what) + ": " + transport_->goneReason());
}

bool BufferedSerialComm::gatherInput() {
    if (!transport_ || transport_->gone()) return false;
    std::string got;
    transport_->read(got, kReceiveBufferSize - std::min(rx_.size(), kReceiveBufferSize));
    if (got.empty()) return false;
    if (log_) log_->add(transport_->clockUs(), WireLog::Dir::In, got);
    rx_ += got;
    arrivedSinceNotify_ = true;
    wipe(got);
    return true;
}

ReadyHandle BufferedSerialComm::waitHandle() const {
    // A full receive buffer reads nothing more: waking for the readable device would spin.
    if (!transport_ || transport_->gone() || rx_.size() >= kReceiveBufferSize)
        return kNoReadyHandle;
    return transport_->readyHandle();
}

int32_t BufferedSerialComm::inBufferCount() {
    reattach();
    checkUsable("InBufferCount");
    gatherInput();
    checkUsable("InBufferCount");
    return static_cast<int32_t>(rx_.size());
}

std::string BufferedSerialComm::input() {
    reattach();
    checkUsable("Input");
    gatherInput();
    // Bytes already received are still handed out when the device has just gone; the
    // failure is reported by the next member once the buffer is empty.
    if (rx_.empty()) checkUsable("Input");
    const std::size_t n =
        inputLen_ == 0 ? rx_.size() : std::min(rx_.size(), static_cast<std::size_t>(inputLen_));
    std::string out = rx_.substr(0, n);
    // The characters may be card data: the place they leave in the buffer is overwritten.
    const std::size_t had = rx_.size();
    rx_.erase(0, n);
    const std::size_t left = rx_.size();
    rx_.resize(had, '\0');
    rx_.resize(left);
    return out;
}

void BufferedSerialComm::setInputLen(int16_t len) {
    if (len < 0) throw SerialError("invalid InputLen");
    inputLen_ = len;
}

void BufferedSerialComm::setInputMode(int32_t mode) {
    if (mode != 0 && mode != 1) throw SerialError("invalid InputMode");
    inputMode_ = mode;
}

void BufferedSerialComm::output(const std::string& bytes) {
    reattach();
    checkUsable("Output");
    if (bytes.empty()) return;
    if (log_) log_->add(transport_->clockUs(), WireLog::Dir::Out, bytes);
    try {
        transport_->write(bytes);
    } catch (const SerialError& e) {
        throw SerialError(std::string("Output: ") + e.what());
    }
}

void BufferedSerialComm::setRThreshold(int16_t threshold) {
    if (threshold < 0) throw SerialError("invalid RThreshold");
    rThreshold_ = threshold;
}

void BufferedSerialComm::setSThreshold(int16_t threshold) {
    if (threshold < 0) throw SerialError("invalid SThreshold");
    sThreshold_ = threshold;
}

bool BufferedSerialComm::service() {
    if (!transport_) return false;
    const bool did = gatherInput();
    // The threshold is checked when the notification is delivered, not when the bytes arrived:
    // a waiter that switched notifications off in between reads the characters itself, and
    // characters that arrived while notifications were off never raise one later.
    if (rThreshold_ == 0) arrivedSinceNotify_ = false;
    if (arrivedSinceNotify_ && rThreshold_ > 0 && rx_.size() >= static_cast<size_t>(rThreshold_) &&
        onComm_) {
        arrivedSinceNotify_ = false;
        event_ = kCommEvReceive;
        // Copy so that a handler replacing itself does not destroy the running function.
        auto handler = onComm_;
        handler();
        event_ = kCommEvNone;
        return true;
    }
    return did;
}

}  // namespace korvel
