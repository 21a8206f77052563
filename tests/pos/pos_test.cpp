// The basic payment: request fields and their checks, the exchange, the reply fields.
#include <gtest/gtest.h>

#include <thread>

#include "korvelcom/Automation.h"
#include "support/World.h"

namespace korvel::test {
namespace {

using Tags = std::vector<std::string>;
const std::string kReply70 = "010000015001" + std::string(55, 'R') + "978";
const std::string kBlank = "  | |        | |" + std::string(55, ' ') + "|   ";

class Pos : public ::testing::Test {
  protected:
    World w;
    std::string reply;  // the terminal answers every request with it, unless empty
    void SetUp() override {
        w.peer->onEot = [this] {
            if (!reply.empty()) w.peer->replyAfter(150'000, Peer::frame(reply));
        };
    }
    std::string replyFields() {
        return w->EFTposNumber() + "|" + w->EFTposStat() + "|" + w->EFTposAmount() + "|" +
               w->EFTposMode() + "|" + w->EFTposRep() + "|" + w->EFTposDev();
    }
};

TEST_F(Pos, RequestFieldPuts) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        // tag "": stored{"POSAmount", "00001500", ""},
        {"POSAmount", "1500", "errorPOSAmountLength"},
        {"POSAmount", "0000150A", "errorPOSAmountValue"},
        {"POSAmount", "00000000", "errorPOSAmountNullValue"},
        {"POSNumber", "7", "errorPOSNumberLength"},
        {"POSNumber", "A1", "errorPOSNumberValue"},
        {"POSNumber", "07", ""},
        {"POSDev", "978", ""},
        {"POSDev", "EUR", "errorPOSDevValue"},
        {"POSDev", "97", "errorPOSDevLength"},
        {"POSType", "10", "errorPOSType"},
        {"POSMode", "", "errorPOSMode"},
        {"POSRep", "00", "errorPOSRep"},
        {"POSTimeout", "0", "errorPOSTimeoutNullValue"},
        {"POSTimeout", "-1", ""}};
    Tags changed;
    w->setPropertyChangedHandler([&](const std::string& n) { changed.push_back(n); });
    for (const auto& [name, value, tag] : rows) {
        SCOPED_TRACE(std::string(name) + " := \"" + value + "\"");
        const std::string before = formatValue(getProperty(*w, name));
        w.events.errors.clear();
        changed.clear();
        setProperty(*w, name, std::string(value));
        const bool stored = !*tag;
        EXPECT_EQ(formatValue(getProperty(*w, name)), stored ? value : before);
        EXPECT_EQ(w.events.errors, stored ? Tags{} : Tags{tag});
        EXPECT_EQ(changed, stored ? Tags{name} : Tags{});
    }
}

TEST_F(Pos, FieldsSharedByTheControlsOfOneThread) {
    KorvelComTools second(w.p);
    w->setPOSAmount("00004200");
    EXPECT_EQ(second.POSAmount(), "00004200");
    std::string other;  // another thread: its own record, its reply fields never written
    std::thread([&] { other = World()->EFTposNumber(); }).join();
    EXPECT_EQ(other, std::string(2, '\0'));
    KorvelComTools third(w.p);
    EXPECT_EQ(second.POSAmount(), "00000001") << "a new control resets the record for all";
}

TEST_F(Pos, ReplyFields) {
    std::string inHandler;
    w.events.onReceived = [&] { inHandler = replyFields(); };
    const std::pair<std::string, std::string> rows[] = {
        {kReply70 + "0123456789", "01|0|00001500|1|" + std::string(55, 'R') + "|978"},
        {"01000001500C", "01|0|00001500|C|" + kBlank.substr(16)},
        {"0", "0 " + kBlank.substr(2)},
    };
    for (const auto& [text, fields] : rows) {
        SCOPED_TRACE(text);
        reply = text;
        EXPECT_EQ(w->POSMessage(), text);
        EXPECT_EQ(inHandler, fields) << "raised by the exchange once the fields are filled";
    }
    EXPECT_EQ(w.events.received, 3) << "once an exchange";
    w.p.missingPorts.insert(1);
    w->CommClose();
    w.p.simLoop().runFor(200'000);
    const int64_t t0 = w.nowUs();
    EXPECT_EQ(w->POSMessage(), "");
    EXPECT_EQ(w.nowUs() - t0, 1'000) << "a failed send: one yield, no reply wait";
    EXPECT_EQ(replyFields(), kBlank) << "the previous reply was cleared before the send";
    EXPECT_EQ(w->ReceiveError(), "errorHandlerOpenSession");
}

TEST_F(Pos, NoReply) {
    w->setPOSTimeout(2000);
    EXPECT_EQ(w->POSMessage(), "");
    EXPECT_EQ(w.nowUs(), 2'098'000) << "armed at 97, then the whole POSTimeout";
    EXPECT_EQ(replyFields(), kBlank);
    EXPECT_EQ(w.events.received, 0);
}

TEST_F(Pos, ReceivedEventDeferral) {
    reply = kReply70;
    w->setReceiveEnabled(false);
    EXPECT_EQ(w->POSMessage(), reply);
    EXPECT_FALSE(w->linkState().ReceivedEventDeferred) << "deferred only when enabled";
    w->setReceiveEnabled(true);
    w->POSMessage();
    EXPECT_EQ(w.events.received, 1);
    // The deferral outlasts the exchange: an unsolicited message is stored without the event.
    w.peer->replyAfter(300'000, Peer::frame("UNSOLICITED"));
    w.p.simLoop().runFor(2'000'000);
    EXPECT_EQ(w->ReceiveMessage(), "UNSOLICITED");
    EXPECT_EQ(w.events.received, 1);
    std::string test = "T";
    w->SendMessageTestK7200(test);
    EXPECT_FALSE(w->linkState().ReceivedEventDeferred) << "a test send ends the deferral too";
    // A bare POSsend opens a session, which also ends it: its reply comes by the event.
    reply = "X";
    EXPECT_TRUE(w->POSsend());
    w.p.simLoop().runFor(2'000'000);
    EXPECT_EQ(w->ReceiveMessage() + w->EFTposDev(), "X978") << "the reply fields stay";
    EXPECT_EQ(w.events.received, 2);
}

TEST_F(Pos, RequestChangedDuringTheWaitGoesIntoTheNextOne) {
    reply = "X";
    w.p.simLoop().after(100'000, [&] { w->setPOSAmount("00000999"); });
    w->POSMessage();
    w->POSMessage();
    EXPECT_EQ(w.trace(false, true),
              "E a F(0100000001"
              "10?250          ) a T e A f(X) A t "
              "E a F(0100000999"
              "10?250          ) a T e A f(X) A t");
}

}  // namespace
}  // namespace korvel::test
