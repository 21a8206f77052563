// Registration of the extended exchange's members: the exchange, the result fields and the
// fifteen operations.
#include "control/automation_registry.h"
#include "korvelcom/KorvelComTools.h"

namespace korvel {

namespace {

using K = KorvelComTools;
using VT = ValueType;

Param optionalText(const char* name, const char* defaultValue = "") {
    return Param{name, VT::String, Value(std::string(defaultValue)), false};
}

Param timeoutParam() {
    return Param{"lngTimeout", VT::I32, Value(int32_t{0}), false};
}

const std::string& text(std::vector<Value>& a, std::size_t i) {
    return std::get<std::string>(a[i]);
}

int32_t ms(std::vector<Value>& a, std::size_t i) {
    return std::get<int32_t>(a[i]);
}

}  // namespace

void registerExtendedExchangeMembers(AutomationTable& t) {
    t.add(Member{"POSAutoMessage",
                 MemberKind::Method,
                 {Param{"Fct", VT::String, std::nullopt, false}, timeoutParam()},
                 VT::String,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.POSAutoMessage(text(a, 0), ms(a, 1));
                 }});

    t.readOnly("POSAutoApplication", VT::String, &K::POSAutoApplication);
    t.readOnly("POSAutoReceipt", VT::String, &K::POSAutoReceipt);
    t.readOnly("POSAutoPrivate", VT::String, &K::POSAutoPrivate);
    t.readOnly("POSAutoNbCharacter", VT::String, &K::POSAutoNbCharacter);
    t.readOnly("POSAutoString", VT::String, &K::POSAutoString);
    t.readOnly("POSAutoStatusEFT", VT::String, &K::POSAutoStatusEFT);
    // Indexed reads: a negative index fails the call (std::out_of_range becomes the
    // automation layer's call failure).
    t.add(Member{"POSAutoCode",
                 MemberKind::Get,
                 {Param{"index", VT::I16, std::nullopt, false}},
                 VT::String,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.POSAutoCode(std::get<int16_t>(a[0]));
                 }});
    t.add(Member{"POSAutoVersion",
                 MemberKind::Get,
                 {Param{"index", VT::I16, std::nullopt, false}},
                 VT::String,
                 [](K& c, std::vector<Value>& a) -> Value {
                     return c.POSAutoVersion(std::get<int16_t>(a[0]));
                 }});

    // Operations: optional text arguments (default "" unless noted), then `lngTimeout`.
    const auto op = [&t](const char* name, std::vector<Param> params, Member::Invoker call) {
        params.push_back(timeoutParam());
        t.add(Member{name, MemberKind::Method, std::move(params), VT::String, std::move(call)});
    };
    op("POSAutoAuthorization",
       {optionalText("strAmount"), optionalText("strCurrency"), optionalText("strControl"),
        optionalText("strClass")},
       [](K& c, std::vector<Value>& a) -> Value {
           return c.POSAutoAuthorization(text(a, 0), text(a, 1), text(a, 2), text(a, 3), ms(a, 4));
       });
    op("POSAutoRecording", {optionalText("strAmount"), optionalText("strCurrency")},
       [](K& c, std::vector<Value>& a) -> Value {
           return c.POSAutoRecording(text(a, 0), text(a, 1), ms(a, 2));
       });
    op("POSAutoReceiptMerchant", {},
       [](K& c, std::vector<Value>& a) -> Value { return c.POSAutoReceiptMerchant(ms(a, 0)); });
    op("POSAutoTicketRequested", {},
       [](K& c, std::vector<Value>& a) -> Value { return c.POSAutoTicketRequested(ms(a, 0)); });
    op("POSAutoCardReaderOperation", {},
       [](K& c, std::vector<Value>& a) -> Value { return c.POSAutoCardReaderOperation(ms(a, 0)); });
    op("POSAutoSettingExtReader",
       {optionalText("strTrackISO1"), optionalText("strTrackISO2"), optionalText("strTrackISO3")},
       [](K& c, std::vector<Value>& a) -> Value {
           return c.POSAutoSettingExtReader(text(a, 0), text(a, 1), text(a, 2), ms(a, 3));
       });
    op("POSAutoReadingCard", {optionalText("strReadingType")},
       [](K& c, std::vector<Value>& a) -> Value {
           return c.POSAutoReadingCard(text(a, 0), ms(a, 1));
       });
    op("POSAutoDisplayingPinPadRequest",
       {optionalText("strText"), optionalText("strInputType"), optionalText("strMinLength"),
        optionalText("strMaxLength"), optionalText("strInputOffset")},
       [](K& c, std::vector<Value>& a) -> Value {
           return c.POSAutoDisplayingPinPadRequest(text(a, 0), text(a, 1), text(a, 2), text(a, 3),
                                                   text(a, 4), ms(a, 5));
       });
    op("POSAutoStatusRequest", {},
       [](K& c, std::vector<Value>& a) -> Value { return c.POSAutoStatusRequest(ms(a, 0)); });
    op("POSAutoSoftwareStatus", {},
       [](K& c, std::vector<Value>& a) -> Value { return c.POSAutoSoftwareStatus(ms(a, 0)); });
    op("POSAutoClearTransactionFile", {}, [](K& c, std::vector<Value>& a) -> Value {
        return c.POSAutoClearTransactionFile(ms(a, 0));
    });
    op("POSAutoAbortOperation", {optionalText("strTreatment", "0")},
       [](K& c, std::vector<Value>& a) -> Value {
           return c.POSAutoAbortOperation(text(a, 0), ms(a, 1));
       });
    op("POSAutoSettingEFTConfiguration",
       {optionalText("strCardReader"), optionalText("strPrinter"), optionalText("strBuzzer"),
        optionalText("strRetroPinPad")},
       [](K& c, std::vector<Value>& a) -> Value {
           return c.POSAutoSettingEFTConfiguration(text(a, 0), text(a, 1), text(a, 2), text(a, 3),
                                                   ms(a, 4));
       });
    op("POSAutoSettingEFTApplication",
       {optionalText("strApplicationCode"), optionalText("strEFTNumber")},
       [](K& c, std::vector<Value>& a) -> Value {
           return c.POSAutoSettingEFTApplication(text(a, 0), text(a, 1), ms(a, 2));
       });
    op("POSAutoBeep", {optionalText("strNumBeep")},
       [](K& c, std::vector<Value>& a) -> Value { return c.POSAutoBeep(text(a, 0), ms(a, 1)); });
}

}  // namespace korvel
