// The control's basic payment members: puts by name and their checks, the record shared by
// a thread's controls.
#include <gtest/gtest.h>

#include <thread>

#include "korvelcom/Automation.h"
#include "support/World.h"

namespace korvel::test {
namespace {

using Tags = std::vector<std::string>;

TEST(PosMembers, RequestFieldPuts) {
    World w;
    const std::tuple<const char*, const char*, const char*> rows[] = {
        // tag "": stored
        {"POSAmount", "00001500", ""},
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

TEST(PosMembers, FieldsSharedByTheControlsOfOneThread) {
    World w;
    KorvelComTools second(w.p);
    w->setPOSAmount("00004200");
    EXPECT_EQ(second.POSAmount(), "00004200");
    std::string other;  // another thread: its own record, its reply fields never written
    std::thread([&] { other = World()->EFTposNumber(); }).join();
    EXPECT_EQ(other, std::string(2, '\0'));
    KorvelComTools third(w.p);
    EXPECT_EQ(second.POSAmount(), "00000001") << "a new control resets the record for all";
}

}  // namespace
}  // namespace korvel::test
