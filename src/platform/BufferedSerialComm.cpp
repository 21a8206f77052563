#include "platform/BufferedSerialComm.h"

#include "korvelcom/CardData.h"
#include "korvelcom/platform/WireLog.h"

namespace korvel {

BufferedSerialComm::BufferedSerialComm(HostLoop& loop) : loop_(loop) {
    line_ = *LineSettings::parse(settingsText_);
    loop_.addSource(this);
}

BufferedSerialComm::~BufferedSerialComm() {
    loop_.removeSource(this);
    wipe(rx_, "receive buffer");
}

void BufferedSerialComm::setCommPort(int16_t port) {
    if (open_) throw SerialError("the port number cannot change while the port is open");
    if (port < 1) throw SerialError("invalid port number " + std::to_string(port));
    port_ = port;
}

void BufferedSerialComm::setSettings(const std::string& settings) {
    const auto parsed = LineSettings::parse(settings);
    if (!parsed) throw SerialError("invalid line settings \"" + settings + "\"");
    settingsText_ = settings;
    line_ = *parsed;
}

void BufferedSerialComm::setPortOpen(bool open) {
    if (open == open_) {
        if (open) throw SerialError("the port is already open");
        return;
    }
    wipe(rx_, "receive buffer");
    if (open) rx_.reserve(kReceiveBufferReserve);
    arrivedSinceNotify_ = false;
    goneReason_.clear();
    if (open) {
        doOpen();
        open_ = true;
    } else {
        open_ = false;
        doClose();
    }
}

void BufferedSerialComm::checkUsable(const char* what) {
    if (!open_) throw SerialError(std::string(what) + ": the port is not open");
    if (!goneReason_.empty()) throw SerialError(std::string(what) + ": " + goneReason_);
}

int32_t BufferedSerialComm::inBufferCount() {
    checkUsable("InBufferCount");
    gatherInput();
    checkUsable("InBufferCount");
    return static_cast<int32_t>(rx_.size());
}

std::string BufferedSerialComm::input() {
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
    checkUsable("Output");
    if (bytes.empty()) return;
    if (log_) log_->add(nowUs(), WireLog::Dir::Out, bytes);
    doWrite(bytes);
}

void BufferedSerialComm::setRThreshold(int16_t threshold) {
    if (threshold < 0) throw SerialError("invalid RThreshold");
    rThreshold_ = threshold;
}

void BufferedSerialComm::setSThreshold(int16_t threshold) {
    if (threshold < 0) throw SerialError("invalid SThreshold");
    sThreshold_ = threshold;
}

void BufferedSerialComm::deliver(const std::string& bytes) {
    if (!open_ || bytes.empty()) return;
    if (log_) log_->add(nowUs(), WireLog::Dir::In, bytes);
    rx_ += bytes;
    arrivedSinceNotify_ = true;
}

void BufferedSerialComm::markGone(const std::string& reason) {
    if (goneReason_.empty()) goneReason_ = reason.empty() ? "the device went away" : reason;
}

bool BufferedSerialComm::service() {
    if (!open_) return false;
    bool did = false;
    if (goneReason_.empty()) did = gatherInput();
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
