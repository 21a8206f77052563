// The control's basic payment members: puts by name and their checks, the record shared by a
// thread's controls, and how the exchange's event combines with the link's.
#include <gtest/gtest.h>

#include <thread>

#include "korvelcom/Automation.h"
#include "support/World.h"

namespace korvel::test {
namespace {

using Tags = std::vector<std::string>;
const std::string kReply70 = "010000015001" + std::string(55, 'R') + "978";

class Pos : public ::testing::Test {
  protected:
    World w;
    std::string reply;  // the terminal answers every request with it, unless empty
    void SetUp() override {
        w.peer->onEot = [this] {
            if (!reply.empty()) w.peer->replyAfter(150'000, Peer::frame(reply));
        };
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

}  // namespace
}  // namespace korvel::test
