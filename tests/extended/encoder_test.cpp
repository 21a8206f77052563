// The extended request encoder: the checks that stop a request before anything is sent, in
// their order, with the recomputed seconds.  Each operation's request is checked on the wire
// through the control (extended_control).
#include <gtest/gtest.h>

#include "extended/ExtendedRig.h"

namespace korvel::test {
namespace {

TEST(ExtendedEncoder, ChecksRunInOrderAndARefusedRequestSendsNothing) {
    struct Refusal {
        std::string code;
        int32_t ms;          ///< both function time-outs that give the seconds sent
        std::string stored;  ///< "Field=value ..." stored unchecked, as a loaded control may hold
        std::string tag;     ///< after "errorHandlerPOSAuto"; "": sent
        std::string seconds;
    };
    const std::vector<Refusal> rows = {
        {"01", 65000, "Control=P Class=11", "Control", "065"},
        {"01", 65000, "Class=11", "Class", "065"},
        {"10", 65000, "CardReader=1", "CardReaderType", "065"},
        {"11", 999, "ReadingType=3", "CardReaderType", "065"},
        {"41", 999, "CardReader=1 ReadingType=3", "ReadingType", "065"},
        {"61", 999, "CardReader=1", "Timeout", "000"},
        {"11", 66000, "CardReader=1", "Timeout", "066"},
        {"11", -5000, "CardReader=1", "Timeout", "0-5"},
        {"11", 1000, "CardReader=1", "", "001"},
        {"51", 65999, "CardReader=1", "", "065"},
        {"12", 66000, "InputType=2 MinLength=@", "InputType", "065"},
        {"12", 66000, "MinLength=@", "InputLength", "065"},
        {"12", 66000, "MaxLength=/", "InputLength", "065"},
        {"12", 66000, "InputOffset=-1", "Timeout", "066"},
        {"12", 65000, "InputOffset=-1", "InputOffset", "065"},
        {"12", 65000, "InputOffset=80", "InputOffset", "065"},
        {"12", 1000, "InputOffset=00", "", "001"},
        {"18", 65000, "CardReader=3 Printer=x", "CardReader", "065"},
        {"18", 65000, "Printer=x", "Printer", "065"}};
    for (const Refusal& row : rows) {
        SCOPED_TRACE(row.code + " " + row.stored + " " + std::to_string(row.ms));
        Ext w;
        w.setAll(row.stored, false);
        w.x.putTimeout(ext::Timeout::ReadingCard, row.ms);
        w.x.putTimeout(ext::Timeout::DisplayingPinPadRequest, row.ms);
        EXPECT_EQ(w.x.send(row.code), row.tag.empty());
        const std::string tag = row.tag.empty() ? "" : "errorHandlerPOSAuto" + row.tag;
        EXPECT_EQ(w.errors, tag.empty() ? std::vector<std::string>{} : std::vector{tag});
        EXPECT_EQ(w.sent.size(), row.tag.empty() ? 1u : 0u);
        EXPECT_EQ(w.get("TimeOut"), row.seconds) << "recomputed seconds stay";
    }
}

}  // namespace
}  // namespace korvel::test
