// Saving and loading with random values of every persisted property, and a hand-written file
// full of mistakes loading what it can.
#include <gtest/gtest.h>

#include <random>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/PropertyBags.h"
#include "platform/sim/SimPlatform.h"
#include "ui/PersistedProperties.h"

namespace korvel {
namespace {

// A random value of the row's type: fixed-width text of any bytes, numbers over their whole
// range (a time-out other than 0), port settings the port accepts.
PropValue randomValue(const ui::PersistedRow& row, std::mt19937& rng) {
    const auto pick = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    if (row.target == ui::Target::CommSettings) {
        const char* valid[] = {"9600,e,7,1", "19200,n,8,1", "4800,o,7,2", "115200,n,8,1"};
        return std::string(valid[pick(0, 3)]);
    }
    if (row.target == ui::Target::CommPort) return static_cast<int16_t>(pick(1, 64));
    return std::visit(
        [&](const auto& d) -> PropValue {
            using T = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<T, std::string>) {
                std::string text(row.width, '\0');
                for (char& c : text)
                    c = static_cast<char>(pick(0, 255));
                return text;
            } else if constexpr (std::is_same_v<T, bool>) {
                return pick(0, 1) == 1;
            } else if constexpr (std::is_same_v<T, int16_t>) {
                return static_cast<int16_t>(pick(INT16_MIN, INT16_MAX));
            } else {
                int32_t v = 0;
                while (v == 0)
                    v = static_cast<int32_t>(rng());
                return v;
            }
        },
        row.saveDefault);
}

TEST(PersistenceRoundTrip, RandomValuesOfEveryPropertyComeBack) {
    std::mt19937 rng(20261205);
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        MemoryPropertyBag saved;
        std::vector<PropValue> values;
        for (const auto& row : ui::persistedRows()) {
            values.push_back(randomValue(row, rng));
            saved.write(row.key, values.back(), row.saveDefault);
        }
        SimPlatform p;
        KorvelComTools c(p);
        c.ReadProperties(saved);
        MemoryPropertyBag again;
        c.WriteProperties(again);
        ASSERT_EQ(again.writes().size(), values.size());
        for (std::size_t i = 0; i < values.size(); ++i)
            EXPECT_EQ(again.writes()[i].value, values[i]) << ui::persistedRows()[i].key;
    }
}

TEST(PersistenceRoundTrip, HandWrittenMistakesLoadWhatTheyCan) {
    TextPropertyBag bag;
    bag.parse(
        "TOwaitChar = 750\n"
        "NoSuchKey = 5\n"        // unknown key: never read
        "TOwaitRetry = soon\n"   // a bad number: skipped, the default stays
        "POSAmount = \"00004\n"  // truncated string
        "RetryData = 2\n"
        "CommSettings = \"fast\"\n"  // refused by the port
        "CommPort = 3\n"
        "POSNumber = \"123\"\n");
    SimPlatform p;
    KorvelComTools c(p);
    EXPECT_NO_THROW(c.ReadProperties(bag));
    EXPECT_EQ(c.TOwaitChar(), 750);
    EXPECT_EQ(c.TOwaitRetry(), 1200);
    EXPECT_EQ(c.RetryData(), 2);
    EXPECT_EQ(c.POSAmount(), "00000001");
    EXPECT_EQ(c.CommSettings(), "9600,e,7,1");
    EXPECT_EQ(c.CommPort(), 3);
    EXPECT_EQ(c.POSNumber(), "12") << "fitted to its width, not checked";
    EXPECT_FALSE(bag.problems().empty());
}

}  // namespace
}  // namespace korvel
