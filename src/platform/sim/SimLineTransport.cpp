#include "platform/sim/SimLineTransport.h"

#include <algorithm>

namespace korvel {

SimLineTransport::SimLineTransport(SimLoop& loop, SimLine::Endpoint& end, std::string* written)
    : loop_(loop), end_(end), written_(written) {}

SimLineTransport::~SimLineTransport() {
    if (open_) end_.setReceiver(nullptr);
}

void SimLineTransport::open(const Endpoint& where, const LineSettings& line) {
    if (openCheck_) openCheck_(where);
    connect();
    where_ = where;
    applySettings(line);
}

void SimLineTransport::connect() {
    open_ = true;
    gone_.clear();
    arrived_.clear();
    end_.setReceiver([this](uint8_t b) { arrived_.push_back(static_cast<char>(b)); });
}

void SimLineTransport::close() noexcept {
    if (!open_) return;
    open_ = false;
    end_.setReceiver(nullptr);
    arrived_.clear();
    gone_.clear();
    where_ = {};
    if (closeHook_) closeHook_();
}

void SimLineTransport::applySettings(const LineSettings& line) {
    line_ = line;
    end_.setCharTimeUs(line.charTimeUs());
}

std::size_t SimLineTransport::read(std::string& into, std::size_t max) {
    if (!open_ || !gone_.empty()) return 0;
    const std::size_t n = std::min(max, arrived_.size());
    into.append(arrived_, 0, n);
    arrived_.erase(0, n);
    return n;
}

void SimLineTransport::write(const std::string& bytes) {
    if (!open_) throw SerialError("the device is not open");
    if (!gone_.empty()) throw SerialError(gone_);
    if (written_) *written_ += bytes;
    end_.write(bytes);
}

}  // namespace korvel
