// Inputs the property-file fuzzer caught.  A number took two signs: "+-5" was read as -5.
#include <gtest/gtest.h>

#include <stdexcept>

#include "korvelcom/PropertyBags.h"
#include "support/World.h"

namespace korvel {

TEST(PropertyFileRegression, ANumberHasOneSignAtMost) {
    TextPropertyBag bag;
    bag.parse(
        "K = +-5\nA = +5\nB = -5\nC = -+5\nTOwaitChar = \"+-5\"\nTOBetweenChar = +-7\nTOwaitReply "
        "= +9\n");
    using S = std::string;
    const std::vector<PropValue> want = {S("+-5"), 5, -5, S("-+5"), S("+-5"), S("+-7"), 9};
    ASSERT_EQ(bag.entries().size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(bag.entries()[i].value, want[i]) << bag.entries()[i].key;
    EXPECT_THROW(convertPropValue(S("+-5"), int32_t{0}), std::invalid_argument);
    EXPECT_THROW(convertPropValue(S(" +-0 "), int16_t{0}), std::invalid_argument);
    EXPECT_EQ(convertPropValue(S(" +7 "), int16_t{0}), PropValue(int16_t{7}));
    test::World w;  // a value that does not convert leaves the default
    w->ReadProperties(bag);
    EXPECT_EQ(std::vector<int32_t>({w->TOwaitChar(), w->TOBetweenChar(), w->TOwaitReply()}),
              std::vector<int32_t>({600, 50, 9}));
}

}  // namespace korvel
