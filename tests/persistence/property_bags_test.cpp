// The in-memory and text-file property bags: recorded writes, the twice-written key, value
// conversion, every byte through the text form, and a file edited by hand.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "korvelcom/KorvelComTools.h"
#include "korvelcom/PropertyBags.h"
#include "platform/sim/SimPlatform.h"
#include "support/TempDir.h"

namespace korvel {
namespace {

using S = std::string;

TEST(MemoryBag, RecordsWritesAndReadsEachValueOfAKeyInTurn) {
    MemoryPropertyBag bag;
    bag.write("A", S("first"), S("x"));
    bag.write("N", int16_t{5}, int16_t{1});
    bag.write("A", S("second"), S("y"));
    ASSERT_EQ(bag.writes().size(), 3u);
    EXPECT_EQ(bag.writes()[2].key, "A");
    EXPECT_EQ(bag.writes()[2].defaultValue, PropValue(S("y")));
    EXPECT_EQ(bag.read("A", S("")), PropValue(S("first")));
    EXPECT_EQ(bag.read("A", S("")), PropValue(S("second")));
    EXPECT_EQ(bag.read("A", S("")), PropValue(S("second"))) << "the last value stays";
    EXPECT_EQ(bag.read("Missing", int32_t{9}), PropValue(int32_t{9}));
    bag.rewind();
    EXPECT_EQ(bag.read("A", S("")), PropValue(S("first")));
    EXPECT_EQ(bag.read("N", int32_t{0}), PropValue(int32_t{5}))
        << "converted to the default's type";
}

TEST(MemoryBag, ConvertsOrRefuses) {
    EXPECT_EQ(convertPropValue(S(" -12 "), int16_t{0}), PropValue(int16_t{-12}));
    EXPECT_EQ(convertPropValue(true, int32_t{0}), PropValue(int32_t{-1}));
    EXPECT_EQ(convertPropValue(int32_t{0}, true), PropValue(false));
    EXPECT_EQ(convertPropValue(S("True"), false), PropValue(true));
    EXPECT_EQ(convertPropValue(int16_t{42}, S()), PropValue(S("42")));
    EXPECT_THROW(convertPropValue(S("12x"), int32_t{0}), std::invalid_argument);
    EXPECT_THROW(convertPropValue(S("yes"), true), std::invalid_argument);
    EXPECT_THROW(convertPropValue(int32_t{32768}, int16_t{0}), std::out_of_range);
    EXPECT_THROW(convertPropValue(S("99999999999"), int32_t{0}), std::out_of_range);
}

TEST(TextBag, EveryByteRoundTripsThroughPrintableText) {
    S all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    TextPropertyBag bag;
    bag.write("Bytes", all, S(""));
    bag.write("Quoted", S("say \"hi\" \\ now  "), S(""));
    bag.write("Number", int32_t{-2147483647 - 1}, int32_t{0});
    bag.write("Small", int16_t{-7}, int16_t{0});
    bag.write("Flag", false, true);
    const S text = bag.text();
    for (char c : text)
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << "byte " << int(c) << " in the file";
    EXPECT_NE(text.find("Bytes = \"\\x00\\x01"), S::npos) << text;
    EXPECT_NE(text.find("Flag = false\n"), S::npos);

    TextPropertyBag back;
    back.parse(text);
    EXPECT_TRUE(back.problems().empty());
    EXPECT_EQ(back.read("Bytes", S()), PropValue(all));
    EXPECT_EQ(back.read("Quoted", S()), PropValue(S("say \"hi\" \\ now  ")));
    EXPECT_EQ(back.read("Number", int32_t{0}), PropValue(int32_t{-2147483647 - 1}));
    EXPECT_EQ(back.read("Small", int16_t{0}), PropValue(int16_t{-7}));
    EXPECT_EQ(back.read("Flag", true), PropValue(false));
    EXPECT_EQ(back.text(), text);
}

TEST(TextBag, ReportsLinesItCannotUnderstand) {
    TextPropertyBag bag;
    bag.parse(
        "# a comment\n\nno equals sign\nA = \"open\nB = \"bad \\q\"\nC=  bare words \r\n"
        "D = \"x\" trailing\n = 5\nE = \"#1\" # note\n");
    EXPECT_EQ(bag.problems().size(), 5u);
    ASSERT_EQ(bag.entries().size(), 2u);
    EXPECT_EQ(bag.read("C", S()), PropValue(S("bare words")));
    EXPECT_EQ(bag.read("E", S()), PropValue(S("#1")));
    EXPECT_EQ(bag.problems().front(), "line 3: expected Key = value");
    EXPECT_FALSE(bag.load(test::ownTempDir("persistence") / "missing.props"));
}

// A control saved to a file, the file edited as text, and the edited file loaded.
TEST(TextBag, AFileEditedByHandLoadsIntoAControl) {
    const auto file = (test::ownTempDir("persistence") / "control.props").string();
    {
        SimPlatform p;
        KorvelComTools c(p);
        c.InitProperties();
        c.setPOSAutoApplicationCode(S("\x01\x02\xFE\xFF", 4));
        TextPropertyBag bag;
        c.WriteProperties(bag);
        ASSERT_TRUE(bag.save(file));
    }
    std::stringstream edited;
    {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            if (line == "TOwaitChar = 600") line = "TOwaitChar = 750   # slower terminal";
            if (line == "TOBetweenChar = 50") line = "TOBetweenChar = soon";
            if (line == "POSNumber = \"01\"") line = "POSNumber = 7";
            if (line == "CommSettings = \"9600,e,7,1\"") line = "CommSettings = 19200,n,8,1";
            if (line == "ErrorEnabled = true") line = "ErrorEnabled = FALSE";
            edited << line << '\n';
        }
    }
    EXPECT_NE(edited.str().find("POSAutoApplicationCode = \"\\x01\\x02\\xFE\\xFF\""), S::npos);
    EXPECT_NE(edited.str().find("POSAutoTicketRequest = \"\\x00\""), S::npos)
        << "the code-0 filler of a field never written";
    {
        std::ofstream out(file, std::ios::trunc);
        out << "# edited by the technician\n" << edited.str();
    }
    TextPropertyBag bag;
    ASSERT_TRUE(bag.load(file));
    EXPECT_TRUE(bag.problems().empty());

    SimPlatform p;
    KorvelComTools c(p);
    c.ReadProperties(bag);
    EXPECT_EQ(c.TOwaitChar(), 750);
    EXPECT_EQ(c.TOBetweenChar(), 50) << "a value that is not a number keeps the old one";
    EXPECT_EQ(c.POSNumber(), "7 ");
    EXPECT_EQ(c.CommSettings(), "19200,n,8,1");
    EXPECT_FALSE(c.ErrorEnabled());
    EXPECT_EQ(c.POSAutoApplicationCode(), S("\x01\x02\xFE\xFF", 4));
    EXPECT_EQ(c.POSAutoTicketRequest(), S(1, '\0'));
    EXPECT_EQ(c.POSAutoTimeOut(), "065");
}

}  // namespace
}  // namespace korvel
