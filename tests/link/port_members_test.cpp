// The control's port members: raw I/O, the counts it shows, failures passed on or ignored.
#include <gtest/gtest.h>

#include "korvelcom/Automation.h"
#include "support/World.h"

namespace korvel::test {
namespace {

using Tags = std::vector<std::string>;

TEST(LinkMembers, CommInitReopensWithoutNotifications) {
    World w;
    ASSERT_TRUE(w->CommInit());
    ASSERT_TRUE(w->CommInit()) << "an open port is closed and reopened";
    w.peer->arrive("123456");  // no notifications: the bytes wait for raw reading
    w->setCommInputLen(4);
    EXPECT_EQ(w->CommInputLen(), 6) << "the count waiting, not the value set";
    EXPECT_EQ(w->CommInput(), "1234");
    EXPECT_EQ(w->CommInput(), "56");
    ASSERT_TRUE(w->CommInit(2, ""));
    EXPECT_FALSE(w->CommInit(0, "9600,x,7,1"));
    EXPECT_EQ(w->CommSettings(), "9600,e,7,1") << "refused settings keep the old ones";
    EXPECT_EQ(w->CommPort(), 2);
    EXPECT_FALSE(w->CommPortOpen()) << "the close before the refused step stays done";
    EXPECT_EQ(w.events.errors, Tags{"errorHandlerCommInit"});
}

TEST(LinkMembers, MissingBusyAndVanishedPorts) {
    World w;
    w.p.missingPorts.insert(4);
    w.p.busyPorts.insert(5);
    EXPECT_FALSE(w->CommInit(4, ""));
    EXPECT_FALSE(w->CommInit(5, ""));
    w->setErrorEnabled(false);
    EXPECT_FALSE(w->CommOpen());
    EXPECT_EQ(w->ReceiveError(), "errorHandlerCommOpen");
    EXPECT_EQ(w.events.errors, (Tags{"errorHandlerCommInit", "errorHandlerCommInit"}));
    EXPECT_THROW(getProperty(*w, "CommInputLen"), AutomationError) << "getters pass failures on";
    w.peer->ackEnq = w.peer->ackFrames = false;
    ASSERT_TRUE(w->CommInit(1, ""));
    w->setCommOutput(ByteArray(1, {0x05, 0x02, 0x41, 0x03, 0x42}));
    w.p.simLoop().runFor(10'000);
    w.p.comm()->unplug();
    w->setCommOutput(std::string("lost"));  // ignored
    EXPECT_EQ(w.trace(), "E F");
    EXPECT_FALSE(w->CommClose()) << "the flush fails on a port that went away";
    EXPECT_TRUE(w->CommInit()) << "a fresh open recovers";
}

}  // namespace
}  // namespace korvel::test
