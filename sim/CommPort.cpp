#include "sim/CommPort.h"

#include <chrono>

namespace korvel::sim {

CommPort::CommPort(SerialComm& comm) : comm_(comm) {
    comm_.setInputLen(0);
    comm_.setRThreshold(1);
    comm_.setOnComm([this] {
        if (comm_.commEvent() == kCommEvReceive) deliver(comm_.input());
    });
}

CommPort::~CommPort() {
    comm_.setOnComm(nullptr);
    try {
        comm_.setRThreshold(0);
    } catch (...) {
        // A port that has gone away keeps its threshold; nothing more to stop.
    }
}

int64_t CommPort::nowUs() const {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace korvel::sim
