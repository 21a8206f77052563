// Whole extended exchanges in virtual time: the checks of sequence, function and operation
// number, each reply layout decoded, and the authorisation's intermediate reply.
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
        all += w->POSAutoCode(i) + w->POSAutoVersion(i);
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
        EXPECT_EQ(w->POSAutoMessage(row.code, 5000), row.tag.empty() ? row.reply : "");
        EXPECT_EQ(w->ReceiveError(), row.tag);
        EXPECT_EQ(w.events.errors, row.tag.empty() ? Strings{} : Strings{row.tag});
        EXPECT_EQ(w.events.received + w.events.abortEnabled, row.tag.empty() ? 1 : 0);
        EXPECT_EQ(w->POSAutoSequence(), row.sequence);
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
        w->setReceiveEnabled(false);  // the exchanges raise no ReceivedEvent then
        w->setPOSAutoOperation("0042");
        w->setPOSAutoCardReader(reply.substr(2, 2) == "10" ? "0" : "1");
        w.script = {reply, msg("0204|00")};
        EXPECT_EQ(w->POSAutoMessage(reply.substr(2, 2)), reply);
        EXPECT_EQ(w->POSAutoReceiptMerchant(), announces ? msg("0204|00") : "");
        EXPECT_EQ(w.events.received, 0);
    }
}

// The simulator answers an authorisation first with its intermediate reply, then with the final
// one in a session of its own; the card reading before it announces the operation number.
TEST(ExtendedAuthorisation, AnIntermediateReplyRaisesAbortEnabledAndWaitsAgain) {
    struct Row {
        std::string name, tag, sequence, trace;
        int64_t secondWaitMs = -1;  ///< from AbortEnabledEvent to the end, when checked
    };
    const std::string once = "E a F a T e A f A t", twice = once + " e A f A t";
    const std::vector<Row> rows = {
        {"final reply", "", "03", twice},
        {"nested operations refused", "", "03", twice},
        {"aborted by the host after 500 ms", kNoReply, "02", once, 500},
        // The wait ends on the first tick past its deadline.
        {"no final reply", kNoReply, "02", once, 8001},
        {"second intermediate reply", "errorHandlerPOSAutoFunction", "03", twice},
        {"final reply out of sequence", "errorHandlerPOSAutoSequence", "03", twice}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Ext w;
        sim::ExtendedOptions& options = w.simulateExtended();
        w->setPOSAutoCardReader("1");
        ASSERT_EQ(w->POSAutoReadingCard().substr(0, 10), msg("0111|00|0001"));
        options.noFinalReply = row.name == "no final reply";
        options.secondIntermediate = row.name == "second intermediate reply";
        options.wrongSequence = row.name == "final reply out of sequence";
        w->setPOSAutoTOfctAuthorization(8000);
        Strings errors;
        w.onAbortEnabled = [&] {
            if (row.name == "nested operations refused") {
                EXPECT_EQ(w->POSAutoBeep("5"), "");
                EXPECT_EQ(w->POSAutoMessage("14"), "");
                EXPECT_FALSE(w->POSAutoSend("14"));
                EXPECT_EQ(w->ReceiveError(), "") << "the running wait goes on";
                errors.assign(3, "errorPOSAutoExchangeBusy");
            }
            if (row.secondWaitMs == 500)
                w.p.simLoop().after(500'000, [&] { w->setAbortReceive(true); });
        };
        w.p.wire().clear();
        const std::string final = msg("0201|00|0001|00|CB01|000000004200|978");
        EXPECT_EQ(w->POSAutoAuthorization("000000004200", "978", "4", "", 3000).substr(0, 31),
                  row.tag.empty() ? final : "");
        EXPECT_EQ(w->ReceiveError(), row.tag);
        if (!row.tag.empty()) errors.push_back(row.tag);
        EXPECT_EQ(w.events.errors, errors);
        EXPECT_EQ(w.events.abortEnabled, 1);
        EXPECT_EQ(w.events.received, row.tag.empty() ? 2 : 1);
        EXPECT_EQ(w->POSAutoSequence(), row.sequence);
        EXPECT_EQ(w->POSAutoStatus(), row.tag.empty() ? "00" : "99") << "reset by each exchange";
        EXPECT_EQ(w.trace(), row.trace);
        if (row.secondWaitMs >= 0) {
            EXPECT_EQ(w.nowUs() / 1000 - w.abortEnabledUs / 1000, row.secondWaitMs);
        }
        EXPECT_FALSE(w->AbortReceive());
        EXPECT_EQ(w->POSAutoNumBeep(), "1");
    }
}

}  // namespace
}  // namespace korvel::test
