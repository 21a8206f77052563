// The POS property page model against a control: loading maps the properties into the fields,
// the developer's edits obey the page's filters and limits, and applying writes the fields back
// through the control's own puts.  The developer's actions are written as a short script.
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "korvelcom/Automation.h"
#include "korvelcom/ui/PosPropertyPage.h"
#include "support/World.h"
#include "ui/PosPageValues.h"

namespace korvel::ui {
namespace {

using F = PosField;
using S = std::string;

// The properties the page writes, and what they hold after new-instance initialisation.
const char* const kDefaults =
    "EscapeKeyEnabled=true POSDev=250 POSType=? POSMode=0 POSRep=1 POSAmount=00000001 "
    "POSNumber=01 CommSettings=9600,e,7,1 RetryData=3 RetrySession=3 TOwaitRetry=1200 "
    "TOwaitReply=20 TOwaitChar=600 TOBetweenChar=50 TOWaitBetweenCommand=100 CommPort=1";

// The properties unlike their defaults, as "Name=value" words.
S changes(KorvelComTools& c) {
    std::istringstream in(kDefaults);
    S out;
    for (S w; in >> w;) {
        const S name = w.substr(0, w.find('=')), v = formatValue(getProperty(c, name));
        if (name + "=" + v != w) out += S(out.empty() ? "" : " ") + name + "=" + v;
    }
    return out;
}

// Sets properties from "Name=value" words.
void set(KorvelComTools& c, const S& words) {
    std::istringstream in(words);
    for (S w; in >> w;)
        setProperty(c, w.substr(0, w.find('=')), Value(w.substr(w.find('=') + 1)));
}

// The developer's actions, separated by spaces: "field=text" (typed), "field#n" (chosen),
// "field+" or "field-" (ticked or cleared), "field*" (double-clicked).
void act(PosPropertyPage& page, const S& script) {
    std::istringstream in(script);
    for (S a; in >> a;) {
        const auto at = a.find_first_of("=#+-*");
        const PosFieldLayout* row = nullptr;
        for (const auto& r : posPageLayout())
            if (a.substr(0, at) == r.name) row = &r;
        if (!row) throw std::invalid_argument("no field " + a);
        const S arg = a.substr(at + 1);
        if (a[at] == '=') page.setText(row->field, arg);
        if (a[at] == '#') page.select(row->field, std::stoi(arg));
        if (a[at] == '*') page.doubleClick(row->field);
        if (a[at] == '+' || a[at] == '-') page.setChecked(row->field, a[at] == '+');
    }
}

// Each row loads the first of two selected controls holding the given properties, edits the
// page, puts the control back to its defaults behind the page's back (port 2) and applies:
// every field is written again, to the first control only.
TEST(PosPage, LoadEditAndApply) {
    const struct {
        const char* control;
        const char* edits;
        const char* applied;  // properties unlike their defaults, then "!" and each refusal
    } cases[] = {
        {"", "", ""},
        {"EscapeKeyEnabled=false POSDev=756 POSType=1 POSMode=C POSRep=0 POSAmount=00012345 "
         "POSNumber=42 CommSettings=4800,n,8,1 RetryData=7 RetrySession=5 TOwaitRetry=2500 "
         "TOwaitReply=35 TOwaitChar=-123456789 TOBetweenChar=65 TOWaitBetweenCommand=250 "
         "CommPort=8",
         "", "="},  // every value comes back as it was
        {"POSDev=978 POSType=2 POSMode=1 CommPort=9", "",
         "POSDev=978 POSType=2 POSMode=1 CommPort=2"},
        {"POSType=0 POSMode=x CommPort=3", "", "POSType=0 POSMode=1 CommPort=3"},
        {"POSType=7 POSRep=2", "", "POSRep=0"},
        {"", "txtPOSDev#2 txtPOSDevSpec=840 txtPOSDev#1", "POSDev=978"},
        {"", "txtPOSType#1 TxtPosMode#1 txtCommPort#4", "POSType=1 POSMode=C CommPort=5"},
        {"", "txtPOSType#-1 TxtPosMode#2 txtCommPort#-1", "POSMode=1 CommPort=2"},
        {"", "chkEnableEscapeKey- chkPOSRep-", "EscapeKeyEnabled=false POSRep=0"},
        {"",
         "txtintgintRetryData=-7 txtintgintRetrySession=5 txtTOwaitRetry=2.5 txtTOwaitReply= "
         "txtTOwaitChar=0750 txtTOBetweenChar=65x txtTimeBetweenCommand=3.5",
         "RetryData=-7 RetrySession=5 TOwaitRetry=2 TOwaitReply=0 TOwaitChar=750 TOBetweenChar=65 "
         "TOWaitBetweenCommand=4"},
        {"", "txtPOSAmount=1500 txtPOSNumber=A1 txtCommSettings=4800,n,8,1",
         "CommSettings=4800,n,8,1 !errorPOSAmountLength !errorPOSNumberValue"},
        {"", "txtPOSAmount=000015009 txtPOSNumber=07", "POSAmount=00001500 POSNumber=07"},
        {"", "txtCommSettings=1200,n,8,2 txtTOwaitChar* txtCommSettings*", ""},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(S(k.control) + " / " + k.edits);
        test::World w, other;
        w->InitProperties();
        set(*w, k.control);
        set(*other, "TOwaitChar=800");
        PosPropertyPage page;
        page.selectionChanged({&*w, &*other});
        EXPECT_FALSE(page.changed());
        act(page, k.edits);
        EXPECT_EQ(page.changed(), *k.edits != '\0');
        w->InitProperties();
        set(*w, "CommPort=2");
        page.applyChanges();
        EXPECT_FALSE(page.changed());
        S got = changes(*w);
        for (const S& e : w.events.errors)
            got += (got.empty() ? "!" : " !") + e;
        EXPECT_EQ(got, S(k.applied) == "=" ? k.control : k.applied);
        EXPECT_EQ(formatValue(getProperty(*other, "TOwaitChar")), "800") << "the second selected";
    }
}

TEST(PosPage, KeysAndTextsTheBoxesTake) {
    PosPropertyPage page;
    int beeps = 0;
    page.setBeepHandler([&] { ++beeps; });
    // Per field, the keys 0, 9, backspace, a, /, : and e-acute: D when only the first three
    // pass, A when all pass, - when none does.
    S keys;
    for (const auto& row : posPageLayout()) {
        S passed;
        for (const char32_t key : {U'0', U'9', U'\b', U'a', U'/', U':', U'\xE9'})
            passed += page.keyPress(row.field, key) ? "+" : "-";
        keys += passed == "+++----"   ? "D"
                : passed == "+++++++" ? "A"
                : passed == "-------" ? "-"
                                      : passed;
    }
    EXPECT_EQ(keys, "DDDDDDD--AAD----D");
    EXPECT_EQ(beeps, 9 * 4);
    EXPECT_FALSE(page.changed());
    // Texts are cut to the box's length in characters; actions of the wrong kind, positions
    // outside a list and a switched-off box change nothing.
    act(page,
        "txtPOSAmount=123456789 txtPOSNumber=\xC3\xA9\xC3\xA9x txtCommSettings=" + S(40, 'x') +
            " txtPOSDev#0 txtPOSDevSpec=9 txtPOSType=Achat chkPOSRep=1 txtPOSAmount+ "
            "txtPOSAmount#0 txtPOSDev#3 txtPOSDev#-2 TxtPosMode#2");
    EXPECT_FALSE(page.keyPress(F::txtPOSDevSpec, U'a'));
    EXPECT_EQ(beeps, 9 * 4);
    S texts;
    for (const auto& row : posPageLayout())
        texts += page.text(row.field) + (page.enabled(row.field) ? "" : "~") +
                 (page.checked(row.field) ? "x" : "") + "|";
    EXPECT_EQ(texts, "600|1200|50|20|3|3|100|||" + S(40, 'x') +
                         "|\xC3\xA9\xC3\xA9|12345678||Autre (carte)||Franc|000~|");
}

TEST(PosPage, AFaultEndsTheApplyAtItsStepAndLeavesTheMarkSet) {
    test::World w;
    w->InitProperties();
    PosPropertyPage page;
    page.selectionChanged({&*w});
    // The host's error handler faults when the amount is refused, after the type was applied.
    w.events.onError = [](S&) { throw std::runtime_error("host fault"); };
    act(page, "txtPOSType#0 txtPOSAmount=15 txtPOSNumber=07 txtTOwaitChar=999");
    EXPECT_THROW(page.applyChanges(), AutomationError);
    EXPECT_TRUE(page.changed());
    EXPECT_EQ(changes(*w), "POSType=0");
}

// A number box's text as a property's value: a 16-bit one ends in "s".
TEST(PosPage, NumberBoxTextsConvertToThePropertysWidth) {
    const struct {
        const char* property;
        const char* texts;
        const char* expected;
    } cases[] = {
        {"RetryData", "|abc|12ab| 2.5|3.5|-7|32767|-32768|32768|-32769",
         "0s|0s|12s|2s|4s|-7s|32767s|-32768s|Overflow|Overflow|"},
        {"TOwaitChar", "32768|2147483647|-2147483648|2147483648|-2147483649",
         "32768|2147483647|-2147483648|Overflow|Overflow|"},
        {"POSAmount", "1", "not an integer property|"},
        {"NoSuchProperty", "1", "no such property|"},
    };
    for (const auto& k : cases) {
        std::istringstream texts(k.texts);
        S got;
        for (S text; std::getline(texts, text, '|'); got += "|") {
            try {
                const Value v = propertyInteger(k.property, text);
                got += formatValue(v) + (std::holds_alternative<int16_t>(v) ? "s" : "");
            } catch (const AutomationError& e) {
                got += e.what();
            }
        }
        EXPECT_EQ(got, k.expected) << k.property;
    }
}

}  // namespace
}  // namespace korvel::ui
