// The persisted property set saved and loaded through the property bags: keys, types, defaults,
// the order of loading, each entry guarded on its own, and the text file's notation.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "korvelcom/Automation.h"
#include "korvelcom/PropertyBags.h"
#include "persistence/PersistedSet.h"
#include "support/World.h"

namespace korvel {
namespace {

using S = std::string;

// A value as the expectations write it: a 16-bit number ends in "s"; a string is quoted, with
// spaces as "_", code 0 as "\0" and a run of five or more equal bytes as "c{n}".
S render(const PropValue& v) {
    const auto* s = std::get_if<S>(&v);
    if (!s) return describePropValue(v) + (std::holds_alternative<int16_t>(v) ? "s" : "");
    S out = "\"";
    for (std::size_t i = 0, n = 0; i < s->size(); i += n) {
        n = std::min(s->find_first_not_of((*s)[i], i), s->size()) - i;
        const S c = (*s)[i] == ' ' ? "_" : (*s)[i] ? S(1, (*s)[i]) : "\\0";
        for (std::size_t k = 0; k < (n < 5 ? n : 1); ++k)
            out += c;
        if (n >= 5) out += "{" + std::to_string(n) + "}";
    }
    return out + "\"";
}

// What a control saves, as "Key=value" words with "/default" where the default differs.
S saved(KorvelComTools& c, bool defaults = true) {
    MemoryPropertyBag bag;
    c.WriteProperties(bag);
    S out;
    for (const auto& w : bag.writes())
        out += (out.empty() ? "" : " ") + w.key + "=" + render(w.value) +
               (w.value == w.defaultValue || !defaults ? "" : "/" + render(w.defaultValue));
    return out;
}

// The words of `after` that differ from those of `before` at the same place.
S changes(const S& before, const S& after) {
    std::istringstream b(before), a(after);
    S out;
    for (S x, y; a >> y;)
        if (!(b >> x) || x != y) out += (out.empty() ? "" : " ") + y;
    return out;
}

const char* const kNewlyPlaced =
    "CommPort=1s CommSettings=\"9600,e,7,1\" TOwaitChar=600 TOwaitRetry=1200 TOwaitReply=20 "
    "TOBetweenChar=50 TOWaitBetweenCommand=100 RetrySession=3s RetryData=3s ErrorEnabled=true "
    "ReceiveEnabled=true EscapeKeyEnabled=true AbortReceive=false POSNumber=\"01\" "
    "POSAmount=\"0{7}1\" POSRep=\"1\" POSMode=\"0\" POSType=\"?\" POSDev=\"250\" POSTimeout=10000 "
    "POSAutoSequence=\"01\" POSAutoOperation=\"0000\" POSAutoOperation=\"9999\" "
    "POSAutoAmount=\"0{11}1\" POSAutoCurrency=\"250\" POSAutoControl=\"0\" POSAutoClass=\"10\" "
    "POSAutoReadingType=\"0\" POSAutoCardInfo=\"_{27}\" POSAutoTimeOut=\"065\" "
    "POSAutoText=\"\\0{80}\"/\"\" POSAutoInputType=\"0\" POSAutoMinLength=\"0\" "
    "POSAutoMaxLength=\"9\" POSAutoInputOffset=\"00\" POSAutoTreatmentCard=\"0\" "
    "POSAutoCardReader=\"0\" POSAutoPrinter=\"2\" POSAutoBuzzer=\"1\" POSAutoRetroPinPad=\"1\" "
    "POSAutoApplicationCode=\"\\0\\0\\0\\0\"/\"0000\" POSAutoEFTNumber=\"\\0\\0\\0\"/\"000\" "
    "POSAutoNumBeep=\"1\" POSAutoTicketRequest=\"\\0\"/\"1\" POSAutoTOfctAuthorization=400000 "
    "POSAutoTOfctAuthorizationInter=150000 POSAutoTOfctRecording=40000 "
    "POSAutoTOfctReceiptMerchant=5000 POSAutoTOfctSettingExtReader=30000 "
    "POSAutoTOfctReadingCard=65000 POSAutoTOfctDisplayingPinPadRequest=65000 "
    "POSAutoTOfctStatusRequest=40000 POSAutoTOfctSoftwareStatus=2000 "
    "POSAutoTOfctClearTransactionFile=1800000 POSAutoTOfctAbortOperation=30000 "
    "POSAutoTOfctSettingEFTConfiguration=2000 POSAutoTOfctSettingEFTApplication=2000 "
    "POSAutoTOfctBeep=10000 POSAutoTOfctCardReader=2000 POSAutoTOfctCBInit=2000 "
    "POSAutoTOfctTicketRequest=2000 POSAutoIncSequence=true";

// A world whose control records every property-changed announcement.
struct Rig : test::World {
    Rig() {
        c->setPropertyChangedHandler([this](const S& n) { announced += n + " "; });
    }
    S announced;
};

TEST(Persistence, NewlyPlacedSaveAndWhatABagWithoutValuesLoads) {
    Rig w;
    w->setTOwaitRetry(5);
    w->InitProperties();
    EXPECT_EQ(saved(*w), kNewlyPlaced);
    // A bag that leaves out values equal to their defaults holds no "065", so loading gives
    // the other default; an empty bag also gives fitted defaults for never-written fields.
    MemoryPropertyBag leaving(false), empty;
    w->WriteProperties(leaving);
    w->ReadProperties(leaving);
    EXPECT_EQ(changes(kNewlyPlaced, saved(*w)), "POSAutoTimeOut=\"002\"/\"065\"");
    w->ReadProperties(empty);
    EXPECT_EQ(
        changes(kNewlyPlaced, saved(*w)),
        "POSAutoTimeOut=\"002\"/\"065\" POSAutoText=\"_{80}\"/\"\" "
        "POSAutoApplicationCode=\"0000\" POSAutoEFTNumber=\"000\" POSAutoTicketRequest=\"1\"");
    S reads;
    for (const S& key : empty.reads())
        reads += key + " ";
    const S keys = std::regex_replace(S(kNewlyPlaced) + " ", std::regex("=\\S*"), "");
    EXPECT_EQ(reads,
              "TOwaitChar TOBetweenChar TOWaitBetweenCommand TOwaitRetry TOwaitReply RetrySession "
              "RetryData CommSettings CommPort ErrorEnabled ReceiveEnabled EscapeKeyEnabled "
              "AbortReceive " +
                  keys.substr(keys.find("POSNumber")));
    EXPECT_EQ(w.announced, "TOwaitRetry ") << "saving and loading announce nothing";
    EXPECT_TRUE(w.events.errors.empty());
}

// Hand-written files: text is fitted to its field without the puts' checks; a value that does
// not convert, or that the port refuses, leaves its field as it was and loading goes on.
TEST(Persistence, LoadingAHandWrittenFile) {
    const struct {
        const char* file;
        const char* changes;  // values unlike those an empty bag loads
    } cases[] = {
        {"POSNumber = 123", "POSNumber=\"12\""},
        {"POSNumber = 7\nPOSDev = 7", "POSNumber=\"7_\" POSDev=\"7__\""},
        {"POSAmount = \"00000000\"\nPOSAutoClass = \"99\"\nPOSAutoTimeOut = \"0\"",
         "POSAmount=\"0{8}\" POSAutoClass=\"99\" POSAutoTimeOut=\"0__\""},
        {"POSAutoCardInfo = short", "POSAutoCardInfo=\"short_{22}\""},
        {"TOwaitChar = soon\nTOBetweenChar = \" 80 \"", "TOBetweenChar=80"},
        {"RetrySession = 40000\nRetryData = 6", "RetryData=6s"},
        {"ErrorEnabled = maybe\nReceiveEnabled = FALSE\nAbortReceive = 1",
         "ReceiveEnabled=false AbortReceive=true"},
        {"CommPort = 3\nCommSettings = \"19200,n,8,1\"",
         "CommPort=3s CommSettings=\"19200,n,8,1\""},
        {"CommSettings = fast\nCommPort = 4", "CommPort=4s"},
        {"CommPort = 0", ""},
        {"POSAutoOperation = \"1111\"\nPOSAutoOperation = \"2222\"",
         "POSAutoOperation=\"1111\" POSAutoOperation=\"2222\""},
        {"POSTimeout = -5\nPOSAutoTOfctCBInit = 3000\nPOSAutoIncSequence = false\nNoSuchKey = 1",
         "POSTimeout=-5 POSAutoTOfctCBInit=3000 POSAutoIncSequence=false"},
    };
    Rig base;
    TextPropertyBag empty;
    base->ReadProperties(empty);
    const S defaults =
        saved(*base, false);  // before the request fields shared by the thread change
    for (const auto& k : cases) {
        SCOPED_TRACE(k.file);
        Rig w;
        TextPropertyBag bag;
        bag.parse(k.file);
        w->ReadProperties(bag);
        EXPECT_EQ(changes(defaults, saved(*w, false)), k.changes);
        EXPECT_FALSE(w->CommPortOpen());
        EXPECT_EQ(w->ReceiveError() + w.announced, "");
        EXPECT_TRUE(w.events.errors.empty());
    }
}

// Each persisted property announces its own name for every put it accepts, none for a put it
// refuses.
TEST(Persistence, EveryPersistedPutIsAnnounced) {
    Rig w;
    w->InitProperties();
    S expected;
    for (const persistence::Entry& e : persistence::savingOrder()) {
        if (e.expectedOperation) continue;
        setProperty(*w, e.put->name, getProperty(*w, e.put->name));
        setProperty(*w, "POSAmount", Value(S("1")));  // refused: announces nothing
        expected += e.put->name + " ";
    }
    EXPECT_EQ(w.announced, expected);
}

// A value as written in the file, and what reading it gives as a 16-bit, a 32-bit, a boolean
// and a string property.
TEST(PropertyBags, TextFileValues) {
    const struct {
        const char* value;
        const char* read;
    } cases[] = {
        {" -12  # note", "-12s -12 true \"-12\""},
        {"+7", "7s 7 true \"7\""},
        {"-32768", "-32768s -32768 true \"-32768\""},
        {"32767", "32767s 32767 true \"32767\""},
        {"32768", "big 32768 true \"32768\""},
        {"-32769", "big -32769 true \"-32769\""},
        {"2147483648", "big big true \"2147483648\""},
        {"TRUE", "-1s -1 true \"true\""},
        {"\" True \"", "nan nan true \"_True_\""},
        {"+-5", "nan nan nan \"+-5\""},
        {"12x", "nan nan nan \"12x\""},
        {"\"#1\" # note", "nan nan nan \"#1\""},
        {"\"say \\\"hi\\\" \\\\\"", "nan nan nan \"say_\"hi\"_\\\""},
        {"\"\\x09\\xaf\\xAF\\x00\xC3\xA9\"", "nan nan nan \"\t\xAF\xAF\\0\xC3\xA9\""},
        {"\"open", "problem"},
        {"\"bad \\xG0\"", "problem"},
        {"\"x\" trailing", "problem"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.value);
        TextPropertyBag bag;
        bag.parse(S("A = ") + k.value + "\r\n");
        S got;
        for (const PropValue& like :
             {PropValue(int16_t{0}), PropValue(0), PropValue(true), PropValue(S())}) {
            try {
                got += render(bag.read("A", like));
            } catch (const std::invalid_argument&) {
                got += "nan";
            } catch (const std::out_of_range&) {
                got += "big";
            }
            got += " ";
        }
        EXPECT_EQ(bag.problems().empty() ? got : S("problem "), S(k.read) + " ");
    }
}

TEST(PropertyBags, TextFileLinesAndEveryByte) {
    TextPropertyBag bag;
    bag.parse("# a comment\n\nno equals sign\n = 5\n  Key=  \"one\" \r\nKey = 2\nOther=x\nKey=3");
    EXPECT_EQ(bag.problems(),
              (std::vector<S>{"line 3: expected Key = value", "line 4: expected Key = value"}));
    S reads;  // each value of a key in turn, then the last one again
    for (int k = 0; k < 4; ++k)
        reads += render(bag.read("Key", S()));
    EXPECT_EQ(reads, "\"one\"\"2\"\"3\"\"3\"");
    S all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    bag.clear();
    bag.write("Bytes", all, S());
    bag.write("Small", int16_t{-7}, int16_t{0});
    const S text = bag.text();
    // Printable bytes as they are, the others as \xHH.
    EXPECT_NE(text.find("\\x1F !\\\"#"), S::npos);
    EXPECT_NE(text.find("}~\\x7F\\x80"), S::npos);
    bag.parse(text);
    EXPECT_EQ(bag.text(), text);
    EXPECT_EQ(bag.read("Bytes", S()), PropValue(all));
}

}  // namespace
}  // namespace korvel
