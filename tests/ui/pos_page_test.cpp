// The POS property page model against a control in virtual time: the list mappings both ways,
// number boxes, the refusals of the control's puts, the key filter, the changed mark, the
// field observer, several selected controls and a fault in the middle of an apply.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <set>
#include <stdexcept>

#include "korvelcom/Automation.h"
#include "korvelcom/KorvelComTools.h"
#include "korvelcom/ui/PosPropertyPage.h"
#include "platform/sim/SimPlatform.h"
#include "support/Recorder.h"
#include "ui/PosPageValues.h"

namespace korvel::ui {
namespace {

using F = PosField;
using S = std::string;

std::string str(KorvelComTools& c, const char* name) {
    return std::get<S>(getProperty(c, name));
}

class PosPage : public ::testing::Test {
  protected:
    PosPage() { control.setEventSink(&events); }

    void load() { page.selectionChanged({&control}); }

    SimPlatform sim;
    KorvelComTools control{sim};
    test::Recorder events;
    PosPropertyPage page;
};

// ---- Layout and a fresh page ----------------------------------------------------------------

TEST(PosPageLayout, RowsFollowTheFieldOrderWithTheirFiltersAndLimits) {
    const auto& rows = posPageLayout();
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kPosFieldCount));
    const std::set<F> filtered = {
        F::txtPOSAmount,           F::txtPOSDevSpec,    F::txtintgintRetryData,
        F::txtintgintRetrySession, F::txtTOwaitChar,    F::txtTOwaitReply,
        F::txtTOwaitRetry,         F::txtTOBetweenChar, F::txtTimeBetweenCommand};
    for (int i = 0; i < kPosFieldCount; ++i) {
        const auto& row = rows[static_cast<std::size_t>(i)];
        EXPECT_EQ(static_cast<int>(row.field), i) << row.name;
        EXPECT_EQ(&layoutOf(row.field), &row);
        EXPECT_EQ(row.digitsOnly, filtered.count(row.field) == 1) << row.name;
        EXPECT_EQ(row.items.empty(), row.kind != FieldKind::FixedList) << row.name;
    }
    // The form's texts as they stand, odd spellings, double spaces and accents included.
    EXPECT_STREQ(layoutOf(F::txtTOwaitReply).tooltip,
                 "Delayi (in ms) between receive and send  message default value 20ms");
    EXPECT_STREQ(layoutOf(F::txtTimeBetweenCommand).label, "Delai bewteen commands");
    EXPECT_STREQ(layoutOf(F::txtTOwaitRetry).labelTooltip,
                 "D\xC3\xA9lais (en ms) avant r\xC3\xA9\xC3\xA9mission messages");
    EXPECT_STREQ(layoutOf(F::txtCommSettings).tooltip, "Default com settings =  9600,e,7,1");
    EXPECT_STREQ(layoutOf(F::txtCommPort).labelTooltip, "Caisse Com port ");
    EXPECT_STREQ(layoutOf(F::TxtPosMode).items[0], "Carte ou ch\xC3\xA8que");
    EXPECT_EQ(S(kPosPageHeader).rfind("POS to EFT and readers communication protocol", 0), 0u);
    EXPECT_GT(S(kPosPageHeader).size(), S("POS to EFT and readers communication protocol").size());
}

TEST(PosPageLayout, AFreshPageShowsTheInitialTextsWithoutSelectionOrMark) {
    PosPropertyPage page;
    EXPECT_EQ(page.text(F::txtTOwaitChar), "600");
    EXPECT_EQ(page.text(F::txtPOSDevSpec), "000");
    EXPECT_EQ(page.selectedIndex(F::txtPOSDev), -1);
    EXPECT_FALSE(page.checked(F::chkEnableEscapeKey));
    EXPECT_TRUE(page.enabled(F::txtPOSDevSpec));
    EXPECT_FALSE(page.changed());
    // Nothing selected: neither request touches anything, and both leave the mark cleared.
    page.setText(F::txtTOwaitChar, "1");
    page.applyChanges();
    EXPECT_FALSE(page.changed());
}

// ---- List mappings, both ways ---------------------------------------------------------------

struct ListCase {
    const char* property;
    F field;
    const char* value;  // the property's value
    int position;       // the list position it maps to
    const char* back;   // what applying that position writes
    const char* decoy;  // another value, put into the control between loading and applying
};

void PrintTo(const ListCase& k, std::ostream* os) {
    *os << k.property << " \"" << k.value << "\" <-> " << layoutOf(k.field).name << " "
        << k.position;
}

class ListMapping : public PosPage, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ListMapping, LoadSelectsThePositionAndApplyWritesItsValue) {
    const ListCase& k = GetParam();
    setProperty(control, k.property, S(k.value));
    load();
    EXPECT_EQ(page.selectedIndex(k.field), k.position);
    EXPECT_EQ(page.text(k.field), layoutOf(k.field).items[static_cast<std::size_t>(k.position)]);

    setProperty(control, k.property, S(k.decoy));
    ASSERT_EQ(str(control, k.property), k.decoy);
    page.applyChanges();
    EXPECT_EQ(str(control, k.property), k.back);
}

INSTANTIATE_TEST_SUITE_P(PosPage, ListMapping,
                         ::testing::Values(ListCase{"POSType", F::txtPOSType, "0", 0, "0", "1"},
                                           ListCase{"POSType", F::txtPOSType, "1", 1, "1", "0"},
                                           ListCase{"POSType", F::txtPOSType, "2", 2, "2", "0"},
                                           ListCase{"POSType", F::txtPOSType, "?", 3, "?", "0"},
                                           ListCase{"POSType", F::txtPOSType, "7", 3, "?", "0"},
                                           ListCase{"POSMode", F::TxtPosMode, "0", 0, "0", "C"},
                                           ListCase{"POSMode", F::TxtPosMode, "C", 1, "C", "0"},
                                           ListCase{"POSMode", F::TxtPosMode, "1", 2, "1", "0"},
                                           ListCase{"POSMode", F::TxtPosMode, "x", 2, "1", "0"},
                                           ListCase{"POSDev", F::txtPOSDev, "250", 0, "250", "978"},
                                           ListCase{"POSDev", F::txtPOSDev, "978", 1, "978", "250"},
                                           ListCase{"POSDev", F::txtPOSDev, "756", 2, "756",
                                                    "250"}));

TEST_F(PosPage, CurrencyCodeOfTheDevelopersChoiceSwitchesTheCodeBoxOn) {
    setProperty(control, "POSDev", S("756"));
    load();
    EXPECT_EQ(page.text(F::txtPOSDev), "Autre");
    EXPECT_EQ(page.text(F::txtPOSDevSpec), "756");
    EXPECT_TRUE(page.enabled(F::txtPOSDevSpec));

    // The known currencies switch it off, and "Euro" writes 978 whatever the box holds.
    page.select(F::txtPOSDev, 1);
    EXPECT_FALSE(page.enabled(F::txtPOSDevSpec));
    page.applyChanges();
    EXPECT_EQ(str(control, "POSDev"), "978");

    page.select(F::txtPOSDev, 2);
    EXPECT_TRUE(page.enabled(F::txtPOSDevSpec));
    page.setText(F::txtPOSDevSpec, "840");
    page.applyChanges();
    EXPECT_EQ(str(control, "POSDev"), "840");

    setProperty(control, "POSDev", S("250"));
    load();
    EXPECT_FALSE(page.enabled(F::txtPOSDevSpec));
    // A switched-off box takes no edits.
    page.setText(F::txtPOSDevSpec, "123");
    EXPECT_EQ(page.text(F::txtPOSDevSpec), "840");
    EXPECT_FALSE(page.keyPress(F::txtPOSDevSpec, U'1'));
}

TEST_F(PosPage, CommPortItemsMapToPortsOneToEight) {
    for (int16_t port = 1; port <= 8; ++port) {
        setProperty(control, "CommPort", port);
        load();
        EXPECT_EQ(page.selectedIndex(F::txtCommPort), port - 1);
        EXPECT_EQ(page.text(F::txtCommPort), "Com" + std::to_string(port));
    }
    for (int index = 0; index < 8; ++index) {
        page.select(F::txtCommPort, index);
        page.applyChanges();
        EXPECT_EQ(std::get<int16_t>(getProperty(control, "CommPort")), index + 1);
    }
    // A port without an item: no selection, and applying that (port 0) is refused.
    setProperty(control, "CommPort", int16_t{9});
    load();
    EXPECT_EQ(page.selectedIndex(F::txtCommPort), -1);
    EXPECT_EQ(page.text(F::txtCommPort), "");
    page.applyChanges();
    EXPECT_EQ(std::get<int16_t>(getProperty(control, "CommPort")), 9);
}

TEST_F(PosPage, CheckBoxesFollowTheSwitchAndTheResponseIndicator) {
    for (const bool on : {true, false}) {
        setProperty(control, "EscapeKeyEnabled", on);
        setProperty(control, "POSRep", S(on ? "1" : "0"));
        load();
        EXPECT_EQ(page.checked(F::chkEnableEscapeKey), on);
        EXPECT_EQ(page.checked(F::chkPOSRep), on);
        page.setChecked(F::chkEnableEscapeKey, !on);
        page.setChecked(F::chkPOSRep, !on);
        page.applyChanges();
        EXPECT_EQ(std::get<bool>(getProperty(control, "EscapeKeyEnabled")), !on);
        EXPECT_EQ(str(control, "POSRep"), on ? "0" : "1");
    }
    setProperty(control, "POSRep", S("2"));
    load();
    EXPECT_FALSE(page.checked(F::chkPOSRep));
}

// ---- Texts and numbers ----------------------------------------------------------------------

TEST_F(PosPage, NumberBoxesLoadInDecimalAndApplyTheirNumericValue) {
    const std::map<F, std::pair<const char*, int32_t>> boxes = {
        {F::txtintgintRetryData, {"RetryData", 7}},
        {F::txtintgintRetrySession, {"RetrySession", 5}},
        {F::txtTOwaitRetry, {"TOwaitRetry", 2500}},
        {F::txtTOwaitChar, {"TOwaitChar", 750}},
        {F::txtTOwaitReply, {"TOwaitReply", 35}},
        {F::txtTOBetweenChar, {"TOBetweenChar", 65}},
        {F::txtTimeBetweenCommand, {"TOWaitBetweenCommand", 250}},
    };
    for (const auto& [field, prop] : boxes)
        setProperty(control, prop.first, prop.second);
    load();
    for (const auto& [field, prop] : boxes) {
        EXPECT_EQ(page.text(field), std::to_string(prop.second)) << prop.first;
        page.setText(field, "0" + std::to_string(prop.second + 1));
    }
    page.applyChanges();
    for (const auto& [field, prop] : boxes) {
        EXPECT_EQ(formatValue(getProperty(control, prop.first)), std::to_string(prop.second + 1))
            << prop.first;
    }
    // A cleared box applies 0.
    page.setText(F::txtTOwaitReply, "");
    page.applyChanges();
    EXPECT_EQ(std::get<int32_t>(getProperty(control, "TOwaitReply")), 0);
}

TEST(PosPageNumbers, TextsConvertToThePropertysWidthOrOverflow) {
    struct Case {
        const char* property;
        const char* text;
        Value expected;  // monostate: overflow
    };
    const Case cases[] = {
        {"RetryData", "", int16_t{0}},
        {"RetryData", "abc", int16_t{0}},
        {"RetryData", "12ab", int16_t{12}},
        {"RetryData", " 2.5", int16_t{2}},
        {"RetryData", "3.5", int16_t{4}},
        {"RetryData", "-7", int16_t{-7}},
        {"RetryData", "32767", int16_t{32767}},
        {"RetryData", "32768", std::monostate{}},
        {"RetrySession", "-32769", std::monostate{}},
        {"TOwaitChar", "32768", int32_t{32768}},
        {"TOWaitBetweenCommand", "2147483647", int32_t{2147483647}},
        {"TOwaitChar", "2147483648", std::monostate{}},
        {"TOwaitChar", "99999999999999999999999", std::monostate{}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.property) + " <- \"" + k.text + "\"");
        if (std::holds_alternative<std::monostate>(k.expected)) {
            try {
                propertyInteger(k.property, k.text);
                ADD_FAILURE() << "no overflow";
            } catch (const AutomationError& e) {
                EXPECT_STREQ(e.what(), "Overflow");
            }
        } else {
            EXPECT_EQ(propertyInteger(k.property, k.text), k.expected);
        }
    }
    EXPECT_THROW(propertyInteger("POSAmount", "1"), AutomationError);
    EXPECT_THROW(propertyInteger("NoSuchProperty", "1"), AutomationError);
}

TEST_F(PosPage, TextBoxesAreCutToTheirLengthAndLoadAsTheControlGivesThem) {
    page.setText(F::txtPOSAmount, "123456789");
    EXPECT_EQ(page.text(F::txtPOSAmount), "12345678");
    page.setText(F::txtPOSNumber, "\xC3\xA9\xC3\xA9x");  // two accented letters, then one more
    EXPECT_EQ(page.text(F::txtPOSNumber), "\xC3\xA9\xC3\xA9");
    const S settings = "19200,n,8,1 and a long tail beyond any limit";
    page.setText(F::txtCommSettings, settings);
    EXPECT_EQ(page.text(F::txtCommSettings), settings);

    setProperty(control, "POSAmount", S("00012345"));
    setProperty(control, "POSNumber", S("42"));
    setProperty(control, "CommSettings", S("4800,n,8,1"));
    setProperty(control, "TOwaitChar", int32_t{-123456789});  // longer than the box's 8
    load();
    EXPECT_EQ(page.text(F::txtPOSAmount), "00012345");
    EXPECT_EQ(page.text(F::txtPOSNumber), "42");
    EXPECT_EQ(page.text(F::txtCommSettings), "4800,n,8,1");
    EXPECT_EQ(page.text(F::txtTOwaitChar), "-123456789");
    page.applyChanges();
    EXPECT_EQ(std::get<int32_t>(getProperty(control, "TOwaitChar")), -123456789);
}

TEST_F(PosPage, ValuesTheControlRefusesKeepTheirPropertyAndTheApplyGoesOn) {
    load();
    page.setText(F::txtPOSAmount, "1500");
    page.setText(F::txtCommSettings, "4800,n,8,1");  // a later step
    page.applyChanges();
    EXPECT_EQ(str(control, "POSAmount"), "00000001");
    EXPECT_EQ(str(control, "ReceiveError"), "errorPOSAmountLength");
    EXPECT_EQ(events.errors, std::vector<S>{"errorPOSAmountLength"});
    EXPECT_EQ(str(control, "CommSettings"), "4800,n,8,1");
    EXPECT_FALSE(page.changed());

    page.setText(F::txtPOSAmount, "00001500");
    page.applyChanges();
    EXPECT_EQ(str(control, "POSAmount"), "00001500");

    // Letters pass the cash-register number's keys, and the control refuses them.
    for (char32_t key : {U'A', U'z', U'-'})
        EXPECT_TRUE(page.keyPress(F::txtPOSNumber, key));
    page.setText(F::txtPOSNumber, "A1");
    control.setReceiveError("");
    page.applyChanges();
    EXPECT_EQ(str(control, "POSNumber"), "01");
    EXPECT_EQ(str(control, "ReceiveError"), "errorPOSNumberValue");
}

// ---- Handlers and the changed mark -----------------------------------------------------------

TEST_F(PosPage, KeyFilterPassesDigitsAndBackspaceOnlyWhereItGuards) {
    int beeps = 0;
    page.setBeepHandler([&] { ++beeps; });
    for (const auto& row : posPageLayout()) {
        if (row.kind != FieldKind::TextBox) continue;
        SCOPED_TRACE(row.name);
        for (char32_t key : {U'0', U'5', U'9', U'\b'})
            EXPECT_TRUE(page.keyPress(row.field, key));
        const int before = beeps;
        for (char32_t key : {U'a', U'/', U':', U' ', U'\xE9'})
            EXPECT_EQ(page.keyPress(row.field, key), !row.digitsOnly);
        EXPECT_EQ(beeps - before, row.digitsOnly ? 5 : 0);
    }
    // A refused key changes nothing.
    EXPECT_EQ(page.text(F::txtTOwaitChar), "600");
    EXPECT_FALSE(page.changed());
}

TEST_F(PosPage, EditsSetTheMarkAndBothRequestsClearIt) {
    std::vector<bool> told;
    page.setChangedHandler([&](bool v) { told.push_back(v); });
    load();
    EXPECT_FALSE(page.changed());

    const std::function<void()> edits[] = {
        [&] { page.setText(F::txtTOwaitChar, "601"); },
        [&] { page.setText(F::txtPOSNumber, "01"); },  // the same text still counts
        [&] { page.setChecked(F::chkEnableEscapeKey, false); },
        [&] { page.setChecked(F::chkPOSRep, true); },
        [&] { page.select(F::txtCommPort, 2); },
        [&] { page.select(F::TxtPosMode, 1); },
        [&] { page.select(F::txtPOSType, 0); },
        [&] { page.select(F::txtPOSDev, 2); },
        [&] { page.doubleClick(F::txtCommSettings); },
    };
    for (std::size_t i = 0; i < std::size(edits); ++i) {
        SCOPED_TRACE(i);
        edits[i]();
        EXPECT_TRUE(page.changed());
        if (i % 2 == 0) {
            load();
        } else {
            page.applyChanges();
        }
        EXPECT_FALSE(page.changed());
    }
    ASSERT_FALSE(told.empty());
    for (std::size_t i = 0; i < told.size(); ++i)
        EXPECT_EQ(told[i], i % 2 == 0) << i;  // strictly alternating set / cleared

    // Double-clicking anything else does nothing.
    page.doubleClick(F::txtTOwaitChar);
    page.doubleClick(F::txtPOSDev);
    EXPECT_FALSE(page.changed());
}

TEST_F(PosPage, DoubleClickRestoresTheDefaultLineSettings) {
    setProperty(control, "CommSettings", S("1200,n,8,2"));
    load();
    page.doubleClick(F::txtCommSettings);
    EXPECT_EQ(page.text(F::txtCommSettings), "9600,e,7,1");
    EXPECT_TRUE(page.changed());
    page.applyChanges();
    EXPECT_EQ(str(control, "CommSettings"), "9600,e,7,1");
}

TEST_F(PosPage, TheObserverHearsOfEveryFieldTheLoadOrAnEditChanged) {
    std::vector<F> told;
    page.setFieldObserver([&](F f) { told.push_back(f); });
    setProperty(control, "POSDev", S("978"));
    setProperty(control, "TOwaitChar", int32_t{601});
    load();
    const std::set<F> changedByLoad(told.begin(), told.end());
    // Each field whose state differs from the fresh page's was told; txtTOwaitRetry ("1200")
    // and the other unchanged boxes were not.
    for (F f : {F::chkEnableEscapeKey, F::txtPOSDev, F::txtPOSDevSpec, F::txtPOSType, F::TxtPosMode,
                F::chkPOSRep, F::txtTOwaitChar, F::txtCommPort})
        EXPECT_EQ(changedByLoad.count(f), 1u) << layoutOf(f).name;
    EXPECT_EQ(changedByLoad.count(F::txtTOwaitRetry), 0u);

    told.clear();
    page.select(F::txtPOSDev, 2);  // the list and the box it switches on
    EXPECT_EQ(told, (std::vector<F>{F::txtPOSDev, F::txtPOSDevSpec}));
    told.clear();
    page.setText(F::txtPOSAmount, "00000099");
    page.setChecked(F::chkPOSRep, false);
    EXPECT_EQ(told, (std::vector<F>{F::txtPOSAmount, F::chkPOSRep}));
}

TEST_F(PosPage, ActionsOfTheWrongKindOrOutOfRangeAreIgnored) {
    load();
    page.setText(F::txtPOSType, "Achat");
    page.setChecked(F::txtPOSAmount, true);
    page.select(F::txtPOSAmount, 0);
    page.select(F::txtPOSDev, 3);
    page.select(F::txtPOSDev, -2);
    EXPECT_FALSE(page.keyPress(F::chkPOSRep, U'1'));
    EXPECT_FALSE(page.changed());
    EXPECT_EQ(page.selectedIndex(F::txtPOSDev), 0);
}

// ---- Several controls and faults -----------------------------------------------------------

TEST_F(PosPage, OnlyTheFirstSelectedControlIsReadAndWritten) {
    KorvelComTools second{sim};
    setProperty(control, "TOwaitChar", int32_t{700});
    setProperty(second, "TOwaitChar", int32_t{800});
    setProperty(second, "CommSettings", S("2400,n,8,1"));
    page.selectionChanged({&control, &second});
    EXPECT_EQ(page.text(F::txtTOwaitChar), "700");
    EXPECT_EQ(page.text(F::txtCommSettings), "9600,e,7,1");

    page.setText(F::txtTOwaitChar, "701");
    page.setText(F::txtCommSettings, "4800,n,8,1");
    page.applyChanges();
    EXPECT_EQ(std::get<int32_t>(getProperty(control, "TOwaitChar")), 701);
    EXPECT_EQ(str(control, "CommSettings"), "4800,n,8,1");
    EXPECT_EQ(std::get<int32_t>(getProperty(second, "TOwaitChar")), 800);
    EXPECT_EQ(str(second, "CommSettings"), "2400,n,8,1");
}

TEST_F(PosPage, AFaultEndsTheApplyAtItsStepAndLeavesTheMarkSet) {
    load();
    // The host's error handler faults when the amount is refused (step 6 of the apply).
    events.onError = [](std::string&) { throw std::runtime_error("host fault"); };
    page.select(F::txtPOSType, 0);        // an earlier step
    page.setText(F::txtPOSAmount, "15");  // refused, and the handler faults
    page.setText(F::txtPOSNumber, "07");  // the steps after it
    page.setText(F::txtCommSettings, "4800,n,8,1");
    page.setText(F::txtTOwaitChar, "999");
    EXPECT_THROW(page.applyChanges(), AutomationError);
    EXPECT_TRUE(page.changed());
    EXPECT_EQ(str(control, "POSType"), "0");
    EXPECT_EQ(str(control, "POSNumber"), "01");
    EXPECT_EQ(str(control, "CommSettings"), "9600,e,7,1");
    EXPECT_EQ(std::get<int32_t>(getProperty(control, "TOwaitChar")), 600);
}

}  // namespace
}  // namespace korvel::ui
