// The link's life cycle, its error convention, and opening, configuring and closing the port.
#include "korvelcom/CardData.h"
#include "link/Link.h"

namespace korvel::link {

Link::Link(SerialComm& comm, HostLoop& loop, Events& events)
    : comm_(comm), loop_(loop), events_(events) {
    comm_.setOnComm([this] { onComm(); });
}

Link::~Link() {
    ignoreFailure([this] { comm_.setOnComm(nullptr); });
    // What the terminal said may include card data: gone with the link.
    wipe(st_.ReceiveMessage, "ReceiveMessage");
    wipe(st_.CaptureBuffer, "CaptureBuffer");
}

void Link::reportError(const char* tag) {
    st_.ReceiveError = tag;
    if (st_.ErrorEnabled) events_.errorEvent(st_.ReceiveError);
}

void Link::flush() {
    // Reading Input takes every waiting character out of the component; the capture buffer is
    // then emptied, so neither the component nor the link holds received characters.
    st_.CaptureBuffer += comm_.input();
    st_.CaptureBuffer.clear();
}

void Link::setLineDefaults(int16_t rThreshold) {
    comm_.setSThreshold(0);
    comm_.setRThreshold(rThreshold);
    comm_.setInputLen(0);
    comm_.setInputMode(0);
}

bool Link::CommInit(int16_t intPort, const std::string& strSettings) {
    return guarded("errorHandlerCommInit", false, [&] {
        st_.ReceiveArmed = false;
        if (comm_.portOpen()) comm_.setPortOpen(false);
        if (!strSettings.empty()) comm_.setSettings(strSettings);
        if (intPort != 0) comm_.setCommPort(intPort);
        comm_.setPortOpen(true);
        setLineDefaults(0);  // no receive notifications until CommOpen
        flush();
        return comm_.portOpen();
    });
}

bool Link::CommOpen() {
    return guarded("errorHandlerCommOpen", false, [&] {
        st_.ReceiveArmed = false;
        if (!comm_.portOpen()) comm_.setPortOpen(true);
        setLineDefaults(1);
        flush();
        return comm_.portOpen();
    });
}

bool Link::CommClose() {
    return guarded("errorHandlerCommClose", false, [&] {
        setLineDefaults(0);
        flush();
        comm_.setPortOpen(false);
        return true;
    });
}

}  // namespace korvel::link
