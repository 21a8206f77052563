// The control's link members: each forwards to the link; the property puts also tell the
// container.
#include "control/Guarded.h"
#include "korvelcom/KorvelComTools.h"
#include "link/Link.h"

namespace korvel {

// ---- Port management and raw I/O -------------------------------------------------------

bool KorvelComTools::CommInit(int16_t intPort, const std::string& strSettings) {
    return link_->CommInit(intPort, strSettings);
}
bool KorvelComTools::CommOpen() {
    return link_->CommOpen();
}
bool KorvelComTools::CommClose() {
    return link_->CommClose();
}

int16_t KorvelComTools::CommPort() const {
    return comm_->commPort();
}
void KorvelComTools::setCommPort(int16_t value) {
    ignoreFailure([&] { comm_->setCommPort(value); });
    markChanged("CommPort");
}
std::string KorvelComTools::CommSettings() const {
    return comm_->settings();
}
void KorvelComTools::setCommSettings(const std::string& value) {
    ignoreFailure([&] { comm_->setSettings(value); });
    markChanged("CommSettings");
}
bool KorvelComTools::CommPortOpen() const {
    return comm_->portOpen();
}
void KorvelComTools::setCommPortOpen(bool value) {
    ignoreFailure([&] { comm_->setPortOpen(value); });
    markChanged("CommPortOpen");
}

std::string KorvelComTools::CommInput() {
    return comm_->input();
}
void KorvelComTools::setCommOutput(const std::string& value) {
    ignoreFailure([&] { comm_->output(value); });
}
void KorvelComTools::setCommOutput(const ByteArray& value) {
    setCommOutput(std::string(value.bytes.begin(), value.bytes.end()));
}
int16_t KorvelComTools::CommInputLen() {
    // The count of waiting characters, not the value last written: the component's buffer
    // holds at most a 16-bit count's worth for the host's purposes.
    const int32_t count = comm_->inBufferCount();
    return static_cast<int16_t>(count > INT16_MAX ? INT16_MAX : count);
}
void KorvelComTools::setCommInputLen(int16_t value) {
    ignoreFailure([&] { comm_->setInputLen(value); });
}
void KorvelComTools::setCommInputMode(int16_t value) {
    ignoreFailure([&] { comm_->setInputMode(static_cast<int32_t>(value)); });
}

// ---- Link parameters and switches: stored without checks, announced to the container ----

#define KORVEL_LINK_PUT(Name, Type)              \
    void KorvelComTools::set##Name(Type value) { \
        st_.Name = value;                        \
        markChanged(#Name);                      \
    }
KORVEL_LINK_PUT(ReceiveEnabled, bool)
KORVEL_LINK_PUT(ErrorEnabled, bool)
KORVEL_LINK_PUT(EscapeKeyEnabled, bool)
KORVEL_LINK_PUT(AbortReceive, bool)
KORVEL_LINK_PUT(TOwaitChar, int32_t)
KORVEL_LINK_PUT(TOBetweenChar, int32_t)
KORVEL_LINK_PUT(TOwaitReply, int32_t)
KORVEL_LINK_PUT(TOwaitRetry, int32_t)
KORVEL_LINK_PUT(TOWaitBetweenCommand, int32_t)
KORVEL_LINK_PUT(RetrySession, int16_t)
KORVEL_LINK_PUT(RetryData, int16_t)
#undef KORVEL_LINK_PUT

// ---- Waits, framed send, receive path, test exchange ------------------------------------

void KorvelComTools::WaitTimeout(int32_t longTimeOut) {
    link_->WaitTimeout(longTimeOut);
}
void KorvelComTools::WaitTORetry() {
    link_->WaitTORetry();
}
bool KorvelComTools::SendMessage(const std::string& strMessage) {
    return link_->SendMessage(strMessage);
}
bool KorvelComTools::OpenSession() {
    return link_->OpenSession();
}
bool KorvelComTools::SendEnq() {
    return link_->SendEnq();
}
bool KorvelComTools::WaitAck() {
    return link_->WaitAck();
}
void KorvelComTools::ReceivePacket() {
    link_->ReceivePacket();
}
std::string KorvelComTools::RecMessage(int32_t longTimeOut) {
    return link_->RecMessage(longTimeOut);
}
std::string KorvelComTools::Message(const std::string& strMessage, int32_t longTimeOut) {
    return link_->Message(strMessage, longTimeOut);
}

bool KorvelComTools::SendMessageTestK7200(std::string& strSend) {
    return link_->SendMessageTestK7200(strSend);
}
void KorvelComTools::RecMessageTestK7200(std::string& strRec, int16_t& intStatus,
                                         int32_t& longTimeOut) {
    link_->RecMessageTestK7200(strRec, intStatus, longTimeOut);
}
void KorvelComTools::RecMessageTestK7200(std::string& strRec, int16_t& intStatus) {
    int32_t timeout = link::kDefaultTestTimeout;
    link_->RecMessageTestK7200(strRec, intStatus, timeout);
}
void KorvelComTools::MessageTestK7200(std::string& strSend, std::string& strRec, int16_t& intStatus,
                                      int32_t& longTimeOut) {
    link_->MessageTestK7200(strSend, strRec, intStatus, longTimeOut);
}
void KorvelComTools::MessageTestK7200(std::string& strSend, std::string& strRec,
                                      int16_t& intStatus) {
    int32_t timeout = link::kDefaultTestTimeout;
    link_->MessageTestK7200(strSend, strRec, intStatus, timeout);
}

}  // namespace korvel
