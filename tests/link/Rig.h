// The link's test rig: the link's own world in virtual time, its record restarted at will.
#pragma once

#include <gtest/gtest.h>

#include "support/LinkWorld.h"

namespace korvel::test {

using Tags = std::vector<std::string>;

class Link : public ::testing::Test {
  protected:
    LinkWorld w;
    SimLoop& loop() { return w.p.simLoop(); }
    void restart() {
        w.p.wire().clear();
        w.events = {};
        w.st().ReceiveError.clear();
    }
    void arm() {  // a successful send arms the receive path
        ASSERT_TRUE(w->SendMessage("REQ"));
        restart();
    }
};

}  // namespace korvel::test
