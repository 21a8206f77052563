// The basic payment reply parser: any reply is cut into the six fields the control shows, each
// the characters at its fixed positions, spaces where the reply is short; the request stays.
#include "Driver.h"
#include "pos/PosFields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static korvel::SimPlatform platform;
    static const korvel::KorvelComTools control(platform);
    const std::string reply(reinterpret_cast<const char*>(data), size);
    korvel::pos::PosRecord& record = korvel::pos::threadRecord();
    const std::string request = record.requestMessage();
    record.parseReply(reply);
    korvel::fuzz::checkPosFields(control, reply);
    korvel::fuzz::check(record.requestMessage() == request, "parsing a reply leaves the request");
    return 0;
}
