// Inputs the property-file fuzzer's checks caught, fed through the same entry points: the file
// parser, the value conversion a bag applies when a control reads, and a control's loading.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/PropertyBags.h"
#include "platform/sim/SimPlatform.h"

namespace korvel {
namespace {

using S = std::string;

// A number has one sign at most: "+-5" was read as -5.
constexpr unsigned char kTwoSigns[] = {'K', ' ', '=', ' ', '+', '-', '5', '\n'};

TEST(PropertyFileRegression, TwoSignsAreTextNotANumber) {
    TextPropertyBag bag;
    bag.parse(S(reinterpret_cast<const char*>(kTwoSigns), sizeof kTwoSigns));
    ASSERT_EQ(bag.entries().size(), 1u);
    EXPECT_TRUE(bag.problems().empty());
    EXPECT_EQ(bag.entries()[0].value, PropValue(S("+-5"))) << "bare text stays a string";

    // One sign still makes a number, either way.
    bag.parse("A = +5\nB = -5\nC = -+5\n");
    ASSERT_EQ(bag.entries().size(), 3u);
    EXPECT_EQ(bag.entries()[0].value, PropValue(int32_t{5}));
    EXPECT_EQ(bag.entries()[1].value, PropValue(int32_t{-5}));
    EXPECT_EQ(bag.entries()[2].value, PropValue(S("-+5")));
}

TEST(PropertyFileRegression, TwoSignsDoNotConvertToAnInteger) {
    EXPECT_THROW(convertPropValue(S("+-5"), int32_t{0}), std::invalid_argument);
    EXPECT_THROW(convertPropValue(S(" +-0 "), int16_t{0}), std::invalid_argument);
    EXPECT_EQ(convertPropValue(S(" +7 "), int16_t{0}), PropValue(int16_t{7}));
}

TEST(PropertyFileRegression, ALoadedTwoSignValueLeavesTheDefault) {
    SimPlatform platform;
    KorvelComTools control(platform);
    TextPropertyBag bag;
    bag.parse("TOwaitChar = \"+-5\"\nTOBetweenChar = +-7\nTOwaitReply = +9\n");
    control.ReadProperties(bag);
    EXPECT_EQ(control.TOwaitChar(), 600) << "a value that does not convert is skipped";
    EXPECT_EQ(control.TOBetweenChar(), 50);
    EXPECT_EQ(control.TOwaitReply(), 9);
}

}  // namespace
}  // namespace korvel
