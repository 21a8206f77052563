// Opening, configuring and closing the serial port, raw access to it, and the four switches.
#include "control/Guarded.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

void KorvelComTools::flush() {
    // Reading Input takes every waiting character out of the component; the capture buffer is
    // then emptied, so neither the component nor the control holds received characters.
    st_.CaptureBuffer += comm_->input();
    st_.CaptureBuffer.clear();
}

void KorvelComTools::setLineDefaults(int16_t rThreshold) {
    comm_->setSThreshold(0);
    comm_->setRThreshold(rThreshold);
    comm_->setInputLen(0);
    comm_->setInputMode(0);
}

bool KorvelComTools::CommInit(int16_t intPort, const std::string& strSettings) {
    return guarded("errorHandlerCommInit", false, [&] {
        st_.ReceiveArmed = false;
        if (comm_->portOpen()) comm_->setPortOpen(false);
        if (!strSettings.empty()) comm_->setSettings(strSettings);
        if (intPort != 0) comm_->setCommPort(intPort);
        comm_->setPortOpen(true);
        setLineDefaults(0);  // no receive notifications until CommOpen
        flush();
        return comm_->portOpen();
    });
}

bool KorvelComTools::CommOpen() {
    return guarded("errorHandlerCommOpen", false, [&] {
        st_.ReceiveArmed = false;
        if (!comm_->portOpen()) comm_->setPortOpen(true);
        setLineDefaults(1);
        flush();
        return comm_->portOpen();
    });
}

bool KorvelComTools::CommClose() {
    return guarded("errorHandlerCommClose", false, [&] {
        setLineDefaults(0);
        flush();
        comm_->setPortOpen(false);
        return true;
    });
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

void KorvelComTools::setReceiveEnabled(bool value) {
    st_.ReceiveEnabled = value;
    markChanged("ReceiveEnabled");
}

void KorvelComTools::setErrorEnabled(bool value) {
    st_.ErrorEnabled = value;
    markChanged("ErrorEnabled");
}

void KorvelComTools::setEscapeKeyEnabled(bool value) {
    st_.EscapeKeyEnabled = value;
    markChanged("EscapeKeyEnabled");
}

void KorvelComTools::setAbortReceive(bool value) {
    st_.AbortReceive = value;
    markChanged("AbortReceive");
}

}  // namespace korvel
