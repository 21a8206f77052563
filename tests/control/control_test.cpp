// The control object: creation defaults, version rule, life cycle, error convention.
#include <gtest/gtest.h>

#include "korvelcom/KorvelComTools.h"
#include "platform/sim/SimPlatform.h"
#include "support/Recorder.h"

namespace korvel {
namespace {

TEST(Control, CreationDefaults) {
    SimPlatform p;
    KorvelComTools c(p);
    const LinkState& s = c.linkState();
    EXPECT_EQ(c.TOwaitChar(), 600);
    EXPECT_EQ(c.TOwaitRetry(), 1200);
    EXPECT_EQ(c.TOwaitReply(), 20);
    EXPECT_EQ(c.TOBetweenChar(), 50);
    EXPECT_EQ(c.TOWaitBetweenCommand(), 100);
    EXPECT_EQ(c.RetrySession(), 3);
    EXPECT_EQ(c.RetryData(), 3);
    EXPECT_TRUE(c.EscapeKeyEnabled());
    EXPECT_TRUE(c.ErrorEnabled());
    EXPECT_TRUE(c.ReceiveEnabled());
    EXPECT_FALSE(c.AbortReceive());
    EXPECT_EQ(c.ReceiveMessage(), "");
    EXPECT_EQ(c.ReceiveError(), "");
    EXPECT_EQ(s.CaptureBuffer, "");
    EXPECT_EQ(s.SessionTriesLeft, 0);
    EXPECT_FALSE(s.ReceiveArmed);
    EXPECT_EQ(s.NextCommandTick, 0);
    EXPECT_FALSE(s.MessageReady);
    EXPECT_FALSE(s.ReceivedEventDeferred);
    // Comm starts closed on port 1 with the terminal's usual line settings.
    EXPECT_EQ(c.CommPort(), 1);
    EXPECT_EQ(c.CommSettings(), "9600,e,7,1");
    EXPECT_FALSE(c.CommPortOpen());
    EXPECT_EQ(c.Size(), KorvelComTools::LogoSize());
}

TEST(Control, VersionRule) {
    SimPlatform p;
    KorvelComTools c(p);
    EXPECT_EQ(c.Version(), "3.00");
    EXPECT_EQ(KorvelComTools::formatVersion(1, 2, 15), "1.215");
    EXPECT_EQ(KorvelComTools::formatVersion(10, 0, 7), "10.07");
    EXPECT_EQ(KorvelComTools::formatVersion(2, 11, 0), "2.110");
}

TEST(Control, NewInstanceInitialisationRestoresDefaults) {
    SimPlatform p;
    KorvelComTools c(p);
    c.setTOwaitChar(5);
    c.setRetryData(9);
    c.setErrorEnabled(false);
    c.setReceiveError("errorX");
    c.InitNewInstance();
    EXPECT_EQ(c.TOwaitChar(), 600);
    EXPECT_EQ(c.RetryData(), 3);
    EXPECT_TRUE(c.ErrorEnabled());
    EXPECT_EQ(c.ReceiveError(), "");
}

TEST(Control, ResizeKeepsTheLogoSize) {
    SimPlatform p;
    KorvelComTools c(p);
    c.Resize();
    EXPECT_EQ(c.Size(), KorvelComTools::LogoSize());
    EXPECT_GT(c.Size().width, 0);
    EXPECT_GT(c.Size().height, 0);
}

TEST(Control, TerminationClosesAnOpenPort) {
    SimPlatform p;
    {
        KorvelComTools c(p);
        ASSERT_TRUE(c.CommOpen());
        EXPECT_EQ(p.closes, 0);
    }
    EXPECT_EQ(p.closes, 1);
    { KorvelComTools closed(p); }
    EXPECT_EQ(p.closes, 1) << "a closed port is not closed again";
}

// The error convention, seen through an operation that fails (opening a missing port).
class ErrorConvention : public ::testing::Test {
  protected:
    SimPlatform p;
    KorvelComTools c{p};
    test::Recorder events;
    void SetUp() override {
        p.missingPorts.insert(1);
        c.setEventSink(&events);
    }
};

TEST_F(ErrorConvention, StoresTheTagAndRaisesTheEventWhenEnabled) {
    EXPECT_FALSE(c.CommOpen());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommOpen");
    EXPECT_EQ(events.errors, std::vector<std::string>{"errorHandlerCommOpen"});
}

TEST_F(ErrorConvention, StoresTheTagWithoutTheEventWhenDisabled) {
    c.setErrorEnabled(false);
    EXPECT_FALSE(c.CommInit());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommInit");
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(ErrorConvention, HandlerRewritingErrTypeChangesReceiveError) {
    events.onError = [](std::string& errType) { errType = "seen by host"; };
    EXPECT_FALSE(c.CommOpen());
    EXPECT_EQ(c.ReceiveError(), "seen by host");
}

TEST_F(ErrorConvention, SuccessDoesNotClearAnOldTag) {
    EXPECT_FALSE(c.CommOpen());
    p.missingPorts.clear();
    EXPECT_TRUE(c.CommOpen());
    EXPECT_EQ(c.ReceiveError(), "errorHandlerCommOpen");
    c.setReceiveError("");
    EXPECT_EQ(c.ReceiveError(), "");
}

TEST(Control, PersistedPropertiesAnnounceTheirChange) {
    SimPlatform p;
    KorvelComTools c(p);
    std::vector<std::string> changed;
    c.setPropertyChangedHandler([&](const std::string& name) { changed.push_back(name); });
    c.setTOwaitChar(700);
    c.setTOBetweenChar(60);
    c.setTOwaitReply(30);
    c.setTOwaitRetry(1000);
    c.setTOWaitBetweenCommand(50);
    c.setRetrySession(2);
    c.setRetryData(4);
    c.setReceiveEnabled(false);
    c.setErrorEnabled(false);
    c.setEscapeKeyEnabled(false);
    c.setAbortReceive(true);
    c.setCommSettings("19200,n,8,1");
    c.setCommPort(2);
    c.setCommPortOpen(true);
    // Not persisted: no announcement.
    c.setReceiveError("x");
    c.setReceiveMessage("y");
    c.setCommInputLen(0);
    c.setCommInputMode(0);
    c.setCommOutput(std::string("z"));
    const std::vector<std::string> expected = {
        "TOwaitChar",   "TOBetweenChar", "TOwaitReply",    "TOwaitRetry",  "TOWaitBetweenCommand",
        "RetrySession", "RetryData",     "ReceiveEnabled", "ErrorEnabled", "EscapeKeyEnabled",
        "AbortReceive", "CommSettings",  "CommPort",       "CommPortOpen"};
    EXPECT_EQ(changed, expected);
}

}  // namespace
}  // namespace korvel
