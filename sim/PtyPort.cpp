#include "sim/PtyPort.h"

#include <chrono>

namespace korvel::sim {

PtyPort::PtyPort(HostLoop& loop) : loop_(loop) {
    loop_.addSource(this);
}

PtyPort::~PtyPort() {
    loop_.removeSource(this);
}

int64_t PtyPort::nowUs() const {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void PtyPort::write(const std::string& bytes) {
    pending_ += bytes;
    flush();
}

bool PtyPort::flush() {
    if (pending_.empty()) return false;
    const std::size_t taken = pty_.write(pending_);
    pending_.erase(0, taken);
    return taken > 0;
}

bool PtyPort::service() {
    bool moved = flush();
    const std::string in = pty_.readAvailable();
    if (!in.empty()) {
        moved = true;
        deliver(in);
    }
    return moved;
}

}  // namespace korvel::sim
