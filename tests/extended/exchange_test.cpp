// Whole extended exchanges: the checks of sequence, function and operation number, and each
// reply layout decoded.  The authorisation's intermediate reply is checked on the wire through
// the control (extended_control).
#include <gtest/gtest.h>

#include "extended/ExtendedRig.h"

namespace korvel::test {
namespace {

const std::string kNoReply = "errorHandlerPOSAutoMessage";
using Strings = std::vector<std::string>;

// A field by name; "Software" is the whole software table, code and version of each entry.
std::string read(Ext& w, const std::string& name) {
    if (name != "Software") return w.get(name);
    std::string all;
    for (int16_t i = 0; i < 32; ++i)
        all += w.x.code(i) + w.x.version(i);
    return all;
}

TEST(ExtendedExchange, EachReplyIsCheckedThenDecodedByItsLayout) {
    struct Row {
        std::string code, setup, reply;
        std::string tag;       ///< "": the exchange returns the reply
        std::string sequence;  ///< after the exchange
        std::string want;      ///< fields after it, each filled with spaces to its width
    };
    const std::string auth = msg("0101|00|9999|01|APPL|000000009900|978");
    const std::string tracks = expand("a*107") + expand("b*40") + expand("c*79");
    const std::string function = "errorHandlerPOSAutoFunction";
    const std::string operation = "errorHandlerPOSAutoOperation";
    const std::vector<Row> rows = {
        {"01", "Control=4", auth + expand("C*27") + "x", "", "02",
         "Status=00 Operation=9999 StatusCard=01 Application=APPL Amount=000000009900 "
         "Currency=978 CardInfo=C*27"},
        {"01", "Control=0 CardInfo=KEEP", auth + expand("C*27"), "", "02", "CardInfo=KEEP"},
        {"03", "", msg("0103|00|9999|02|RECORDING"), "", "02",
         "Operation=9999 StatusCard=02 Receipt=RECORDING"},
        {"04", "Operation=9999", msg("0104|00|MERCHANT"), "", "02", "Status=00 Receipt=MERCHANT"},
        {"23", "Operation=9999", msg("0123|05|TICKET"), "", "02", "Status=05 Receipt="},
        {"10", "", msg("0110|00|0042"), "", "02", "Status=00 Operation=0042"},
        {"11", "CardReader=1", msg("0111|00|0043") + tracks + "PRIVATE123x", "", "02",
         "Status=00 Operation=0043 TrackISO1=a*107 TrackISO2=b*40 TrackISO3=c*79 "
         "Private=PRIVATE123"},
        {"12", "", msg("0112|00|4|1234"), "", "02", "Status=00 NbCharacter=4 String=1234"},
        {"14", "", msg("0114|00100"), "", "02", "Status=99 StatusEFT=00100"},
        {"15", "", msg("0115|00|ABCD12|EFGH34|IJ"), "", "02", "Status=00 Software=ABCD12EFGH34IJ"},
        {"16", "", msg("0116|00"), "", "02", "Status=00"},
        // Failed checks: nothing decoded, or (a payment) decoded but refused.
        {"12", "", msg("0212|00|4|1234"), "errorHandlerPOSAutoSequence", "02", "Status=99"},
        {"14", "", msg("0115|00"), function, "02", "Status=99"},
        {"14", "", "0102", function, "02", ""},
        {"14", "", "", kNoReply, "01", ""},
        {"41", "CardReader=1", msg("0141|00|0042"), function, "02", "Operation=0000"},
        {"01", "", msg("0101|00|1234|00|APPL|000000000500|978"), operation, "02",
         "Status=00 Operation=1234 Amount=000000000500"},
        {"03", "", msg("0103|00|0042|00|R"), operation, "02", "Operation=0042"},
        {"04", "Operation=1234", msg("0104|00|R"), operation, "02", "Receipt=R"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code + " <- '" + row.reply + "'");
        Ext w;
        w.setAll(row.setup);
        w.script = {row.reply};
        EXPECT_EQ(w.x.message(row.code, 5000), row.tag.empty() ? row.reply : "");
        EXPECT_EQ(w.errors, row.tag.empty() ? Strings{} : Strings{row.tag});
        EXPECT_EQ(w.receivedEvents + w.abortEvents, row.tag.empty() ? 1 : 0);
        EXPECT_EQ(w.waits, std::vector<int32_t>{5000});
        EXPECT_EQ(w.get("Sequence"), row.sequence);
        for (const auto& [name, value] : pairs(row.want)) {
            const std::string got = read(w, name);
            EXPECT_EQ(got,
                      value + std::string(got.size() - std::min(got.size(), value.size()), ' '))
                << name;
        }
    }
}

TEST(ExtendedExchange, OnlyACardReadingAnnouncesTheOperationOfTheNextPayment) {
    const std::vector<std::pair<std::string, bool>> rows = {
        {msg("0110|00|0042"), true}, {msg("0111|00|0042"), true}, {msg("0112|00"), false},
        {msg("0114|00100"), false},  {msg("0115|00"), false},     {msg("0116|00"), false}};
    for (const auto& [reply, announces] : rows) {
        SCOPED_TRACE(reply);
        Ext w;
        w.ready = false;  // receiving off: the exchanges raise no ReceivedEvent then
        w.set("Operation", "0042");
        w.set("CardReader", reply.substr(2, 2) == "10" ? "0" : "1");
        w.script = {reply, msg("0204|00")};
        EXPECT_EQ(w.x.message(reply.substr(2, 2), 0), reply);
        EXPECT_EQ(w.x.run(ext::Operation::ReceiptMerchant, {}, 0), announces ? msg("0204|00") : "");
        EXPECT_EQ(w.receivedEvents, 0);
    }
}

}  // namespace
}  // namespace korvel::test
