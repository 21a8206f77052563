// The extended request encoder: the text each function code puts on the line, and the checks
// that stop a request before anything is sent, in their order, with the recomputed seconds.
#include <gtest/gtest.h>

#include "extended/ExtendedRig.h"

namespace korvel::test {
namespace {

// A distinct value in every field that some request carries; the card reader on; the two
// function time-outs that give the seconds sent.
const std::string kFilled =
    "Sequence=42 Operation=4321 Amount=000000012345 Currency=978 Control=q Class=22 "
    "CardInfo=unsent ReadingType=2 InputType=9 MinLength=4 MaxLength=? InputOffset=12 "
    "TreatmentCard=1 Printer=1 Buzzer=0 RetroPinPad=7 ApplicationCode=AP01 EFTNumber=123 "
    "Data=0123456789ABCDEF NumBeep=3 TicketRequest=5 TrackISO1=1*107 TrackISO2=2*40 "
    "TrackISO3=3*79 Text=T*80 CardReader=1 TOfctReadingCard=30000 "
    "TOfctDisplayingPinPadRequest=5000";

// Each operation (arguments: "-" for "", "c*N" for N times c) against a silent terminal: the
// arguments' validating writes, the request as the fields lay it out, and the reply wait.
TEST(ExtendedEncoder, EachOperationLaysOutItsRequestAndWaitsItsFunctionTimeOut) {
    struct Row {
        std::string call, request;  ///< "": refused before sending
        int64_t waitMs;
        std::string setup = "", rejected = "";  ///< the tag of a rejected argument or of a refusal
    };
    const std::string tracks = expand("1*107") + expand("2*40") + expand("3*79");
    const std::vector<Row> rows = {
        {"Authorization 000000004200 250 4 21", msg("4201|4321|000000004200|250|4|21"), 150000},
        {"Authorization 12", msg("4201|4321|000000012345|978|q|22"), 150000, "",
         "errorPOSAutoAmountValue"},
        {"Recording 000000000500 840", msg("4203|4321|000000000500|840"), 40000},
        {"ReceiptMerchant", msg("4204|4321"), 5000},
        {"TicketRequested", msg("4223|AP01|5"), 2000},
        {"CardReaderOperation", msg("4221|1"), 2000},
        {"SettingExtReader a*107 b*40 c*79",
         "4210" + expand("a*107") + expand("b*40") + expand("c*79"), 30000, "CardReader=0"},
        {"Message 40", "4240" + tracks, 0, "CardReader=0"},
        {"Message 50", "4250" + tracks, 0, "CardReader=0"},
        {"Message 60", "4260" + tracks, 0, "CardReader=0"},
        {"ReadingCard 1", msg("4211|1|030"), 30000},
        {"ReadingCard 1", "", 0, "CardReader=0", "errorHandlerPOSAutoCardReaderType"},
        {"Message 41", msg("4241|2|030"), 0},
        {"Message 51", msg("4251|2|030"), 0},
        {"Message 61", msg("4261|2|030"), 0},
        {"DisplayingPinPadRequest t*80 1 5 6 10", "4212" + expand("t*80") + msg("1|5|6|005|10"),
         5000},
        {"StatusRequest", "4214", 40000},
        {"SoftwareStatus", "4215", 2000},
        {"ClearTransactionFile", msg("4216|AP01"), 1800000},
        {"ClearTransactionFile 5000", msg("4216|AP01"), 5000},
        {"AbortOperation", msg("4217|4321|0"), 30000},
        {"AbortOperation -", msg("4217|4321|1"), 30000, "", "errorPOSAutoTreatmentCard"},
        {"SettingEFTConfiguration 2 0 1 0", msg("4218|2010") + expand("~*4"), 2000},
        {"SettingEFTApplication AP02 456", msg("4219|AP02|456|0123456789ABCDEF"), 2000},
        {"Beep 7", msg("4220|7"), 10000},
        {"Message 22", "", 0, "", "errorHandlerPOSAutosend"}};
    // Waits count from the end of a wait of 0, a reply pause after the request's EOT.
    Ext zero;
    zero->POSAutoMessage("40");
    const int64_t base = zero.sinceLastSentMs();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call + " with " + row.setup);
        Ext w;
        w.setAll(kFilled + " " + row.setup);
        std::istringstream in(row.call);
        std::string name, arg;
        std::vector<Value> args;
        for (in >> name; in >> arg;)
            args.push_back(expand(arg));
        EXPECT_EQ(std::get<std::string>(invoke(*w, "POSAuto" + name, MemberKind::Method, args)),
                  "");
        EXPECT_EQ(w.request(), row.request);
        std::vector<std::string> errors;
        if (!row.rejected.empty()) errors.push_back(row.rejected);
        if (!row.request.empty()) {
            errors.push_back("errorHandlerPOSAutoMessage");
            EXPECT_EQ(w.sinceLastSentMs(), base + row.waitMs);
        }
        EXPECT_EQ(w.events.errors, errors);
        EXPECT_EQ(w->POSAutoSequence() + w->POSAutoStatus(), "4299") << "no advance, no status";
    }
}

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
        w->setPOSAutoTOfctReadingCard(row.ms);
        w->setPOSAutoTOfctDisplayingPinPadRequest(row.ms);
        EXPECT_EQ(w->POSAutoSend(row.code), row.tag.empty());
        const std::string tag = row.tag.empty() ? "" : "errorHandlerPOSAuto" + row.tag;
        EXPECT_EQ(w->ReceiveError(), tag);
        EXPECT_EQ(w.events.errors, tag.empty() ? std::vector<std::string>{} : std::vector{tag});
        EXPECT_EQ(w.request().empty(), !row.tag.empty());
        EXPECT_EQ(w->POSAutoTimeOut(), row.seconds) << "recomputed seconds stay";
    }
}

}  // namespace
}  // namespace korvel::test
