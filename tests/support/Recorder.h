// Test helpers: an event sink that records what the control raised.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "korvelcom/KorvelComTools.h"

namespace korvel::test {

struct Recorder : KorvelComToolsEvents {
    std::vector<std::string> errors;  ///< the tag of every ErrorEvent, in order
    int received = 0;
    int abortEnabled = 0;
    std::function<void(std::string&)> onError;  ///< runs inside ErrorEvent when set
    std::function<void()> onReceived;

    void ReceivedEvent() override {
        ++received;
        if (onReceived) onReceived();
    }
    void ErrorEvent(std::string& errType) override {
        errors.push_back(errType);
        if (onError) onError(errType);
    }
    void AbortEnabledEvent() override { ++abortEnabled; }
};

}  // namespace korvel::test
